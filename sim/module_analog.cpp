// The Analog module: inputs A1 and A2, a platinum sensor input, a 4..20 mA
// current output; a measurement telegram and a parameter telegram.

#include <algorithm>
#include <cstdio>

#include "sim/modules.h"

namespace mbus::sim {
namespace {

constexpr uint64_t kMask48 = (uint64_t{1} << 48) - 1;
constexpr uint8_t kTemperatureVIF = 0x67;        // external temperature, °C
constexpr uint8_t kCalibrationVIF = 0xE6;        // external temperature, 0.1 °C, with an extension
constexpr uint16_t kCurrentMin = 4000, kCurrentMax = 20000;  // µA

// The DIFEs that carry a subunit (0 A1, 1 A2, 2 temperature, 3 output)
// behind a DIF, the DIF's extension bit set when there are any.
Bytes Head(uint8_t dif, uint32_t subunit, std::initializer_list<uint8_t> vib) {
    Bytes head;
    switch (subunit) {
        case 0: head = {dif}; break;
        case 1: head = {static_cast<uint8_t>(dif | 0x80), 0x40}; break;
        case 2: head = {static_cast<uint8_t>(dif | 0x80), 0x80, 0x40}; break;
        default: head = {static_cast<uint8_t>(dif | 0x80), 0xC0, 0x40}; break;
    }
    head.insert(head.end(), vib.begin(), vib.end());
    return head;
}

// "03 U 28 a b c" (subunit 0 for A1, 1 for A2): the unit VIF with its
// extension bit, VIFE 28h and three bytes.
bool IsParameterRecord(const DataRecord& r, uint32_t subunit) {
    return r.dataField == 0x03 && r.function == 0 && r.tariff == 0 && r.storage == 0 && r.subunit == subunit &&
           r.vib.size() == 2 && (r.vib[0] & 0x80) != 0 && r.vib[1] == 0x28;
}

}  // namespace

double AnalogModule::Value(int n) const {
    const Input& in = AnalogInput(n);
    if (in.b == 0) return 0.0;
    return static_cast<double>(in.a) / in.b * in.raw + in.c;
}

AnalogModule::MinMax AnalogModule::MinMaxInput() const {
    if (mode_ & kMinMaxTemperature) return MinMax::kTemperature;
    if (mode_ & kMinMaxA2) return MinMax::kA2;
    return MinMax::kA1;
}

void AnalogModule::SetMode(uint8_t mode) {
    const MinMax before = MinMaxInput();
    mode_ = mode;
    if (MinMaxInput() != before) ResetStatistics();
}

void AnalogModule::SetCurrent(uint16_t microamperes) { current_ = std::clamp(microamperes, kCurrentMin, kCurrentMax); }

void AnalogModule::SetCalibration(uint64_t v1, uint64_t v2) {
    v1_ = v1 & kMask48;
    v2_ = v2 & kMask48;
}

double AnalogModule::MinMaxValue() const {
    switch (MinMaxInput()) {
        case MinMax::kA2: return Value(2);
        case MinMax::kTemperature: return temperature_;
        default: return Value(1);
    }
}

void AnalogModule::ApplicationReset(std::span<const uint8_t> subcode) {
    // The subcode 08h asks for the parameter telegram; any other subcode, or
    // none, for the normal answer.
    parameters_ = subcode.size() == 1 && subcode[0] == 0x08;
}

void AnalogModule::Write(const std::vector<DataRecord>& records, MBSlaveValues& values) {
    for (const DataRecord& r : records) {
        if (ApplyCommonRecord(r, values)) continue;
        if (r.Is(0x01, 0, 0, {0xFD, 0x0B})) {
            if (r.value[0] != 0xFF) SetMode(r.value[0]);
        } else if (r.Is(0x02, 3, 0, {0xFD, 0x56})) {
            if (!r.AllFF()) SetCurrent(static_cast<uint16_t>(r.Unsigned()));
        } else if (r.Is(0x06, 2, 0, {kCalibrationVIF, 0x28})) {
            if (!r.AllFF()) v1_ = r.Unsigned() & kMask48;
        } else if (r.Is(0x06, 2, 1, {kCalibrationVIF, 0x28})) {
            if (!r.AllFF()) v2_ = r.Unsigned() & kMask48;
        } else {
            for (uint32_t i = 0; i < 2; ++i) {
                if (!IsParameterRecord(r, i)) continue;
                Input& in = inputs_[i];
                const Input before = in;
                // FEh: the unit stays (the program's code for units it cannot
                // write); 00 00 00: the parameters stay (b = 0 divides nothing).
                const uint8_t unit = static_cast<uint8_t>(r.vib[0] & 0x7F);
                if (r.vib[0] != 0xFE && UsableUnit(unit)) in.unit = unit;
                if (r.value[0] != 0 || r.value[1] != 0 || r.value[2] != 0) {
                    in.a = r.value[0];
                    in.b = static_cast<int8_t>(r.value[1]);
                    in.c = static_cast<int8_t>(r.value[2]);
                }
                const bool changed = in.unit != before.unit || in.a != before.a || in.b != before.b || in.c != before.c;
                if (changed && MinMaxInput() == (i == 0 ? MinMax::kA1 : MinMax::kA2)) ResetStatistics();
            }
        }
    }
}

Bytes AnalogModule::Measurement() {
    // Every measurement telegram is a sample of the min/max input.
    const double sample = MinMaxValue();
    if (stats_.count == 0) {
        stats_.minimum = stats_.maximum = sample;
    } else {
        stats_.minimum = std::min(stats_.minimum, sample);
        stats_.maximum = std::max(stats_.maximum, sample);
    }
    stats_.sum += sample;
    ++stats_.count;

    const MinMax which = MinMaxInput();
    const uint32_t subunit = which == MinMax::kA1 ? 0 : which == MinMax::kA2 ? 1 : 2;
    const uint8_t vif = which == MinMax::kA1   ? inputs_[0].unit
                        : which == MinMax::kA2 ? inputs_[1].unit
                                               : kTemperatureVIF;
    Bytes records;
    AppendReal(records, Head(0x05, 0, {inputs_[0].unit}), static_cast<float>(Value(1)));
    AppendReal(records, Head(0x05, 1, {inputs_[1].unit}), static_cast<float>(Value(2)));
    AppendReal(records, Head(0x05, 2, {kTemperatureVIF}), static_cast<float>(temperature_));
    AppendReal(records, Head(0x25, subunit, {vif}), static_cast<float>(stats_.minimum));  // function: minimum
    AppendReal(records, Head(0x15, subunit, {vif}), static_cast<float>(stats_.maximum));  // function: maximum
    AppendReal(records, Head(0x45, subunit, {vif}), static_cast<float>(stats_.Average()));  // storage 1
    return records;
}

Bytes AnalogModule::Parameters() const {
    auto abc = [](const Input& in) {
        return uint64_t{in.a} | uint64_t{static_cast<uint8_t>(in.b)} << 8 | uint64_t{static_cast<uint8_t>(in.c)} << 16;
    };
    Bytes records;
    AppendRecord(records, {0x01, 0xFD, 0x0B}, mode_, 1);
    AppendRecord(records, Head(0x03, 0, {static_cast<uint8_t>(inputs_[0].unit | 0x80), 0x28}), abc(inputs_[0]), 3);
    AppendRecord(records, Head(0x03, 1, {static_cast<uint8_t>(inputs_[1].unit | 0x80), 0x28}), abc(inputs_[1]), 3);
    AppendRecord(records, Head(0x02, 3, {0xFD, 0x56}), current_, 2);
    AppendRecord(records, Head(0x06, 2, {kCalibrationVIF, 0x28}), v1_, 6);
    AppendRecord(records, Head(0x46, 2, {kCalibrationVIF, 0x28}), v2_, 6);  // storage 1
    return records;
}

void AnalogModule::BuildAnswer(MBSlaveValues& values, uint8_t* frame, int* length) {
    const Bytes records = parameters_ ? Parameters() : Measurement();
    values.SetUserData(records.data(), static_cast<int>(records.size()));
    values.PrepareRSPUD(0, 0, frame, length);
}

std::string AnalogModule::Describe() const {
    char text[200];
    std::snprintf(text, sizeof text, "A1 %g, A2 %g, temperature %g °C, mode %02X, output %u µA%s", Value(1), Value(2),
                  temperature_, static_cast<unsigned>(mode_), static_cast<unsigned>(current_),
                  parameters_ ? ", parameter telegram" : "");
    return text;
}

}  // namespace mbus::sim
