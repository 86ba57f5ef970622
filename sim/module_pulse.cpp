// The Pulse module: two pulse inputs, each presented as a meter of its own.

#include <cstdio>

#include "sim/modules.h"

#include "control/decode/telegram.h"

namespace mbus::sim {
namespace {

constexpr uint64_t kMask48 = (uint64_t{1} << 48) - 1;

uint16_t FactorWord(const PulseInput& in) {
    return static_cast<uint16_t>(in.numerator | in.denominator << 8);
}

// "N D" of a factor record: 00 00 leaves the factor as it is; otherwise
// both parts are clamped to the module's ranges.
void ApplyFactor(const DataRecord& r, PulseInput& in) {
    const uint8_t n = r.value[0], d = r.value[1];
    if (n == 0 && d == 0) return;
    in.numerator = n == 0 ? 1 : n;
    in.denominator = d == 0 ? 1 : d > 127 ? 127 : d;
}

// "06 U" (input 1) or "86 40 U" (input 2): a 48-bit record whose VIF is a
// single unit byte.
bool IsCounterRecord(const DataRecord& r, uint32_t subunit) {
    return r.dataField == 0x06 && r.function == 0 && r.tariff == 0 && r.storage == 0 && r.subunit == subunit &&
           r.vib.size() == 1 && (r.vib[0] & 0x80) == 0;
}

}  // namespace

bool PulseModule::TrySelect(MBSlaveValues& values, const ModuleFrame& f, ModuleVerdict* verdict) {
    // The module has one line: a mask that matches both inputs is answered
    // once, for the first. A disabled input 2 is no meter to select.
    selected_ = 0;
    for (int n = 1; n <= 2 && selected_ == 0; ++n) {
        if (n == 2 && Input2Disabled()) break;
        values.identNumber = Input(n).id;
        values.medium = Input(n).medium;
        if (values.CheckAddress(kFrameLong, f.shape.C, f.shape.A, f.shape.CI, f.data, f.length) == 1) selected_ = n;
    }
    SyncTo(values);
    *verdict = selected_ != 0 ? ModuleVerdict::kAcknowledge : ModuleVerdict::kIgnore;
    return true;
}

void PulseModule::Write(const std::vector<DataRecord>& records, MBSlaveValues& values) {
    // Every write text of the program carries the unit-and-counter records of
    // both inputs, the input it is not meant for with six FF bytes. What
    // tells the inputs apart is the secondary address: an input's unit and
    // counter are taken only when the same telegram names that input's
    // secondary address (an identification number that is not all FF). So
    // "write serial number, input 1" sets input 1's id, medium and unit and
    // leaves input 2 alone, and the optical-head request (all FF) changes
    // nothing. The counter stays when its six bytes are all FF.
    const DataRecord* counter[2] = {nullptr, nullptr};
    bool named[2] = {false, false};
    for (const DataRecord& r : records) {
        if (ApplyPrimaryAddress(r, values)) continue;
        for (uint32_t i = 0; i < 2; ++i) {
            PulseInput& in = inputs_[i];
            if (r.Is(0x07, i, 0, {0x79})) {
                const AddressWrite w = ReadAddressWrite(r);
                named[i] = named[i] || w.named;
                if (w.id) in.id = *w.id;
                if (w.medium) in.medium = *w.medium;
            } else if (r.Is(0x02, i, 0, {0x86, 0x28})) {
                ApplyFactor(r, in);
            } else if (IsCounterRecord(r, i)) {
                counter[i] = &r;
            }
        }
    }
    for (int i = 0; i < 2; ++i) {
        if (!named[i] || counter[i] == nullptr) continue;
        const DataRecord& r = *counter[i];
        if (UsableUnit(r.vib[0])) inputs_[i].unit = r.vib[0];
        if (!r.AllFF()) inputs_[i].raw = r.Unsigned() & kMask48;
    }
    SyncTo(values);
}

void PulseModule::LinkReset(bool deselected) {
    if (deselected) selected_ = 0;
}

void PulseModule::ExpectRead(uint8_t A) {
    if (A == 253) carries_ = selected_ == 2 ? Carries::kSecond : Carries::kFirst;
    else carries_ = Input2Disabled() ? Carries::kFirst : Carries::kBoth;
}

void PulseModule::BuildAnswer(MBSlaveValues& values, uint8_t* frame, int* length) {
    const PulseInput& first = Input(carries_ == Carries::kSecond ? 2 : 1);
    Bytes records;
    AppendRecord(records, {0x06, first.unit}, first.Counter() & kMask48, 6);
    AppendRecord(records, {0x02, 0x86, 0x28}, FactorWord(first), 2);
    if (carries_ == Carries::kBoth) {
        const PulseInput& second = inputs_[1];
        AppendRecord(records, {0x86, 0x40, second.unit}, second.Counter() & kMask48, 6);
        AppendRecord(records, {0x82, 0x40, 0x86, 0x28}, FactorWord(second), 2);
        const uint64_t address = uint64_t{second.id} | uint64_t{values.manufacturer} << 32 |
                                 uint64_t{static_cast<uint8_t>(values.version)} << 48 | uint64_t{second.medium} << 56;
        AppendRecord(records, {0x87, 0x40, 0x79}, address, 8);
    }
    values.identNumber = first.id;
    values.medium = first.medium;
    values.status = carries_ == Carries::kSecond ? 0x01 : 0x00;
    values.SetUserData(records.data(), static_cast<int>(records.size()));
    values.PrepareRSPUD(0, 0, frame, length);
    SyncTo(values);
}

void PulseModule::SyncFrom(const MBSlaveValues& values) {
    inputs_[0].id = values.identNumber;
    inputs_[0].medium = static_cast<uint8_t>(values.medium);
}

void PulseModule::SyncTo(MBSlaveValues& values) const {
    values.identNumber = inputs_[0].id;
    if (values.medium != inputs_[0].medium) SetMedium(values, inputs_[0].medium);
}

std::string PulseModule::Describe() const {
    char text[160];
    std::snprintf(text, sizeof text, "input 2 %08X medium %02X%s", static_cast<unsigned>(inputs_[1].id),
                  static_cast<unsigned>(inputs_[1].medium), Input2Disabled() ? " (disabled)" : "");
    return text;
}

}  // namespace mbus::sim
