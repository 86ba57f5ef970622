// Arbitrary bytes as a ".MDX" device file (opened, its entries listed under
// both maker codes, saved and opened again) and as a slave list text (its
// records made under both maker codes), and as the typed text of the
// address fields, checking what must hold.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "configurator/devices/address_setting.h"
#include "configurator/devices/device_list.h"
#include "configurator/shell/read_script.h"

namespace {

using namespace mbus::meridex;

void Check(bool condition) {
    if (!condition) std::abort();
}

bool UpperHex(std::string_view text) {
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}

// Every entry shows a well-formed record of its maker: prefix, eight hex
// digits, ", ", two hex digits; the selection line made of it names the
// record's identification number.
void CheckEntries(const DeviceList& list, int maker) {
    const std::size_t prefix = maker == 1 ? 4 : 3;
    std::size_t last = 0;
    bool first = true;
    for (const DeviceEntry& e : list.Entries(maker)) {
        Check(e.record < list.Records().size());
        Check(first || e.record > last);
        first = false;
        last = e.record;
        Check(e.text.size() == prefix + 12);
        Check(e.text.compare(prefix - 2, 2, ": ") == 0);
        Check(UpperHex(e.text.substr(prefix, 8)) && e.text.compare(prefix + 8, 2, ", ") == 0 &&
              UpperHex(e.text.substr(prefix + 10)));
        const std::string& record = list.Records()[e.record];
        Check(record.size() == kDeviceRecordLength);
        Check(record.compare(12, 4, RecordManufacturer(maker)) == 0);
        const std::string id = e.text.substr(prefix, 8);
        Check(record.substr(4, 8) == id.substr(6, 2) + id.substr(4, 2) + id.substr(2, 2) + id.substr(0, 2));
        Check(DeviceListSelectionLine(e.text, maker) ==
              "8||Standard: " + id + "," + ManufacturerNumber(maker) + ",FF,FF|");
    }
}

void CheckDeviceFile(std::string_view bytes) {
    DeviceList list;
    list.SetFileBytes(bytes);
    const std::vector<std::string>& records = list.Records();
    Check(records.size() == bytes.size() / kDeviceFileBlock);
    for (std::size_t i = 0; i < records.size(); ++i)
        Check(records[i] == bytes.substr(i * kDeviceFileBlock, kDeviceRecordLength));
    CheckEntries(list, 0);
    CheckEntries(list, 1);

    const std::string saved = list.FileBytes();
    Check(saved.size() == records.size() * kDeviceFileBlock);
    DeviceList again;
    again.SetFileBytes(saved);
    Check(again.Records() == records);
    Check(again.FileBytes() == saved);

    // A module entered after a readout is shown and selected.
    const std::string record = MakeDeviceRecord(std::string(bytes.substr(0, 8)), 1, "07", 0x15, "1F");
    const int selected = list.AddOrUpdate(record, 1);
    Check(selected >= 0);
    const std::vector<DeviceEntry> entries = list.Entries(1);
    Check(static_cast<std::size_t>(selected) < entries.size());
    Check(list.Records()[entries[static_cast<std::size_t>(selected)].record] == record);
}

void CheckSlaveList(std::string_view text, int baud) {
    for (int maker : {0, 1}) {
        const std::vector<std::string> records = RecordsFromSlaveList(text, maker, baud);
        Check(records.size() <= text.size() / kSlaveListEntryLength);
        DeviceList list;
        Check(list.AppendSlaveList(text, maker, baud) == records.size());
        for (const std::string& r : records) {
            Check(r.size() == kDeviceRecordLength);
            Check(UpperHex(r));
            Check(DeviceEntryText(r, maker).has_value());
            Check(!DeviceEntryText(r, 1 - maker).has_value());
        }
        Check(list.Entries(maker).size() == records.size());
    }
}

void CheckAddressFields(std::string_view text) {
    const std::string secondary = NormalisedSecondaryAddress(text);
    Check(secondary.size() == 8 && UpperHex(secondary));
    Check(NormalisedSecondaryAddress(secondary) == secondary);
    const std::string primary = NormalisedPrimaryAddress(text);
    Check(!primary.empty() && primary.size() <= 3 && std::stoi(primary) <= 255);
    Check(NormalisedPrimaryAddress(primary) == primary);
    for (int kind : {-1, 0, 1, 2}) {
        const AddressWrite w = SetAddressWrite(kind, text, text);
        Check(std::stoi(w.newPrimaryAddress) >= 0 && std::stoi(w.newPrimaryAddress) <= 252);
        Check(kind < 0 ? w.records.empty() : w.records.rfind("01 7A " + NewPrimaryHex(text) + " 07 79 ", 0) == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CheckDeviceFile(bytes);
    const int baud = size > 0 ? static_cast<int>(data[0] % 7) - 1 : 1;  // -1..5: outside 0..4 too
    CheckSlaveList(bytes, baud);
    CheckAddressFields(bytes.substr(0, 64));
    return 0;
}
