#include "configurator/devices/device_list.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "platform/files/read_file.h"
#include "platform/profile/config_file.h"

namespace mbus::meridex {
namespace {

// The variants' codes as FindVariant knows them, by maker code.
constexpr const char* kVariantCodes[2][3] = {{"VND95", "VND96", "VND97"}, {"KTR05", "KTR15", "KTR35"}};

// Prefixes of the box entries by maker code and ModuleKind (0 Pulse, 1
// Analog, 2 Control). DeviceListSelectionLine skips 3 or 4 characters.
constexpr const char* kPrefixes[2][3] = {{"P: ", "A: ", "C: "}, {"ST: ", "AN: ", "RS: "}};

int Maker(int manufacturerCode) { return manufacturerCode == 1 ? 1 : 0; }

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

bool AllUpperHex(std::string_view text) {
    for (char c : text)
        if (!IsUpperHex(c)) return false;
    return true;
}

// A fixed-width hex field: digits in upper case, other characters "F",
// filled up with "F".
std::string HexField(std::string_view text, std::size_t width) {
    std::string out(width, 'F');
    for (std::size_t i = 0; i < width && i < text.size(); ++i) {
        const char c = text[i];
        if (c >= 'a' && c <= 'f')
            out[i] = static_cast<char>(c - 'a' + 'A');
        else if (IsUpperHex(c))
            out[i] = c;
    }
    return out;
}

// Identification digits in normal order to the record's order (least
// significant byte first) and back: both reverse the digit pairs.
std::string ReversedPairs(std::string_view digits) {
    std::string out;
    for (std::size_t i = digits.size(); i >= 2; i -= 2) out += digits.substr(i - 2, 2);
    return out;
}

// The variant of a well-formed record, under the maker code; null when the
// record is of the other maker or not well formed.
const ModuleVariant* RecordVariant(std::string_view record, int manufacturerCode) {
    if (record.size() != kDeviceRecordLength) return nullptr;
    if (record.substr(12, 4) != RecordManufacturer(manufacturerCode)) return nullptr;
    if (!AllUpperHex(record.substr(4, 8)) || !AllUpperHex(record.substr(16, 2))) return nullptr;
    const std::string letters(kVariantCodes[Maker(manufacturerCode)][0], 3);
    return FindVariant(letters + std::string(record.substr(18, 2)));
}

std::string Reason(int err) { return std::generic_category().message(err); }

}  // namespace

std::string_view RecordManufacturer(int manufacturerCode) { return Maker(manufacturerCode) == 1 ? "922E" : "C459"; }

std::string_view SearchBaudCode(int baudIndex) {
    static constexpr std::string_view kCodes[] = {"FF", "1F", "07", "03", "01"};
    if (baudIndex < 0 || baudIndex >= static_cast<int>(std::size(kCodes))) return {};
    return kCodes[baudIndex];
}

std::string MakeDeviceRecord(std::string_view identification, int manufacturerCode, std::string_view medium,
                             int version, std::string_view baudCode) {
    char versionHex[3];
    std::snprintf(versionHex, sizeof versionHex, "%02X", static_cast<unsigned>(version) & 0xFFu);
    std::string record = "0000";
    record += ReversedPairs(HexField(identification, 8));
    record += RecordManufacturer(manufacturerCode);
    record += HexField(medium, 2);
    record += versionHex;
    record += kDeviceRecordMiddle;
    record += HexField(baudCode, 2);
    record += kDeviceRecordTail;
    return record;
}

std::optional<std::string> RecordOfReadout(const Readout& readout, int baudIndex) {
    const ModuleVariant* v = readout.variant;
    if (v == nullptr) return std::nullopt;
    return MakeDeviceRecord(readout.header.identification, v->manufacturerCode, readout.header.medium, v->version,
                            SearchBaudCode(baudIndex));
}

std::optional<std::string> DeviceEntryText(std::string_view record, int manufacturerCode) {
    const ModuleVariant* v = RecordVariant(record, manufacturerCode);
    if (v == nullptr || v->kind < 0 || v->kind > 2) return std::nullopt;
    return kPrefixes[Maker(manufacturerCode)][v->kind] + ReversedPairs(record.substr(4, 8)) + ", " +
           std::string(record.substr(16, 2));
}

std::vector<std::string> RecordsFromSlaveList(std::string_view hexList, int manufacturerCode, int searchBaudIndex) {
    const int maker = Maker(manufacturerCode);
    std::vector<std::string> records;
    for (std::size_t at = 0; at + kSlaveListEntryLength <= hexList.size(); at += kSlaveListEntryLength) {
        const std::string_view entry = hexList.substr(at, kSlaveListEntryLength);
        for (const char* code : kVariantCodes[maker]) {
            const ModuleVariant* v = FindVariant(code);
            if (v == nullptr || entry.substr(11, 6) != FirmwareName(*v)) continue;
            records.push_back(MakeDeviceRecord(entry.substr(3, 8), maker, entry.substr(17, 2), v->version,
                                               SearchBaudCode(searchBaudIndex)));
            break;
        }
    }
    return records;
}

std::string DeviceFileBytes(const std::vector<std::string>& records) {
    std::string bytes;
    bytes.reserve(records.size() * kDeviceFileBlock);
    for (const std::string& r : records) {
        bytes += r;
        bytes += "\r\n";
    }
    return bytes;
}

std::vector<std::string> RecordsOfDeviceFile(std::string_view bytes) {
    std::vector<std::string> records;
    for (std::size_t at = 0; at + kDeviceFileBlock <= bytes.size(); at += kDeviceFileBlock)
        records.emplace_back(bytes.substr(at, kDeviceRecordLength));
    return records;
}

bool SaveDeviceFile(const std::string& path, const std::vector<std::string>& records, std::string* error) {
    if (path.empty()) {
        *error = "no file name given";
        return false;
    }
    profile::ReplaceFailure failure;
    if (profile::ReplaceFile(profile::ResolvedPath(path), DeviceFileBytes(records), profile::kOrdinaryFileMode, &failure))
        return true;
    *error = profile::DescribeReplaceFailure(path, failure);
    return false;
}

bool OpenDeviceFile(const std::string& path, std::vector<std::string>* records, std::string* error) {
    if (path.empty()) {
        *error = "no file name given";
        return false;
    }
    std::string bytes;
    std::string problem;
    switch (files::ReadTextFile(path, &bytes, &problem)) {
        case files::ReadStatus::kMissing: *error = path + ": no such file (" + Reason(ENOENT) + ")"; return false;
        case files::ReadStatus::kFailed: *error = path + ": " + problem; return false;
        case files::ReadStatus::kOk: break;
    }
    *records = RecordsOfDeviceFile(bytes);
    return true;
}

std::vector<DeviceEntry> DeviceList::Entries(int manufacturerCode) const {
    std::vector<DeviceEntry> entries;
    for (std::size_t i = 0; i < records_.size(); ++i)
        if (std::optional<std::string> text = DeviceEntryText(records_[i], manufacturerCode))
            entries.push_back({std::move(*text), i});
    return entries;
}

int DeviceList::AddOrUpdate(const std::string& record, int manufacturerCode) {
    std::size_t index = records_.size();
    for (std::size_t i = 0; i < records_.size(); ++i) {
        if (records_[i].size() >= 16 && record.size() >= 16 && records_[i].compare(4, 12, record, 4, 12) == 0) {
            index = i;
            break;
        }
    }
    if (index == records_.size())
        records_.push_back(record);
    else
        records_[index] = record;
    const std::vector<DeviceEntry> entries = Entries(manufacturerCode);
    for (std::size_t e = 0; e < entries.size(); ++e)
        if (entries[e].record == index) return static_cast<int>(e);
    return -1;
}

std::size_t DeviceList::AppendSlaveList(std::string_view hexList, int manufacturerCode, int searchBaudIndex) {
    std::vector<std::string> found = RecordsFromSlaveList(hexList, manufacturerCode, searchBaudIndex);
    records_.insert(records_.end(), found.begin(), found.end());
    return found.size();
}

}  // namespace mbus::meridex
