#include "configurator/devices/analog_page.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <vector>

namespace mbus::meridex {
namespace {

// Sensor codes of the mode byte and the calibration slots, by sensor entry.
constexpr int kSensorCodes[kSensorCount] = {2, 0, 1, 3, 4};
constexpr int kCalibrationSlots[kSensorCount] = {0, 1, 2, 0, 1};

constexpr int kUnitNoSelection = 0x80;
constexpr uint8_t kUnitUnchanged = 0xFE;
constexpr int kUnitEntries = 128;

// The literal parts of the write texts.
constexpr std::string_view kAddressesUnchanged = "01 7A FF 07 79 FF FF FF FF FF FF FF FF ";
constexpr std::string_view kModeRecord = "01 FD 0B ";
constexpr std::string_view kA2Unchanged = "83 40 FE 28 00 00 00 ";
constexpr std::string_view kCurrentRecord = "82 C0 40 FD 56 ";
constexpr std::string_view kCurrentUnchanged = "FF FF ";
constexpr std::string_view kV1Record = "86 80 40 E6 28 ";
constexpr std::string_view kV2Record = "C6 80 40 E6 28 ";

// The measurement telegram's records, and the subunits of the inputs.
constexpr std::size_t kMeasurementRecords = 6;
constexpr std::string_view kSubunitA2 = "00000001";
constexpr std::string_view kSubunitTemperature = "00000002";
constexpr uint32_t kSubunitOutput = 3;

// Decimals of the values shown: the inputs' measured values in their unit
// to the hundredth, temperatures and the temperature parameter c in tenths
// of a degree (the module keeps c in tenths), the output current in mA to
// the microampere the module takes.
constexpr int kInputDecimals = 2;
constexpr int kTemperatureDecimals = 1;
constexpr int kCurrentDecimals = 3;

int ValidSensor(int entry) { return entry >= 0 && entry < kSensorCount ? entry : 0; }

std::string Hex2(int byte) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", byte & 0xFF);
    return text;
}

// Floor division and a modulus in 0..m-1.
int FloorDiv(int value, int m) { return value >= 0 ? value / m : -((-value + m - 1) / m); }
int FloorMod(int value, int m) { return value - FloorDiv(value, m) * m; }

int Signed(int value, int bits) {
    const int range = 1 << bits;
    value &= range - 1;
    return value >= range / 2 ? value - range : value;
}

// A parameter byte of A1 or A2: the text's integer (decimals are cut) as
// its low byte, so negative values go as their two's complement.
int IntegerOf(const std::string& text) { return static_cast<int>(ParseInteger(text).value_or(0) & 0xFF); }

// The fields of a record descriptor in the Hex2 text: subunit h8, tariff
// h8, storage h16, data field h2, function field h2, then the VIB bytes.
struct Descriptor {
    uint32_t subunit = 0;
    uint64_t storage = 0;
    int dataField = -1;
    std::vector<uint8_t> vib;
};

std::optional<uint64_t> HexNumber(std::string_view text) {
    if (text.empty()) return std::nullopt;
    uint64_t v = 0;
    for (char c : text) {
        int d = -1;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        if (d < 0) return std::nullopt;
        v = v << 4 | static_cast<uint64_t>(d);
    }
    return v;
}

std::optional<Descriptor> ReadDescriptor(std::string_view text) {
    constexpr std::size_t kVibStart = 36;
    if (text.size() < kVibStart || (text.size() - kVibStart) % 2 != 0) return std::nullopt;
    const auto subunit = HexNumber(text.substr(0, 8));
    const auto storage = HexNumber(text.substr(16, 16));
    const auto dataField = HexNumber(text.substr(32, 2));
    if (!subunit || !storage || !dataField || !HexNumber(text.substr(8, 8)) || !HexNumber(text.substr(34, 2)))
        return std::nullopt;
    Descriptor d;
    d.subunit = static_cast<uint32_t>(*subunit);
    d.storage = *storage;
    d.dataField = static_cast<int>(*dataField);
    for (std::size_t i = kVibStart; i < text.size(); i += 2) {
        const auto byte = HexNumber(text.substr(i, 2));
        if (!byte) return std::nullopt;
        d.vib.push_back(static_cast<uint8_t>(*byte));
    }
    return d;
}

// The value of an integer record as the log prints it (signed decimal).
std::optional<int64_t> RecordInteger(const std::string& value) {
    if (value.empty()) return std::nullopt;
    char* end = nullptr;
    const long long v = std::strtoll(value.c_str(), &end, 10);
    if (end == value.c_str() || *end != '\0') return std::nullopt;
    return v;
}

// A measured value as the page shows it. The control renders a real
// record in exponent form ("5.040000e+02"); the page shows it with the
// quantity's decimals in the language's notation. The control's text is
// read without the C library's locale, with a point or a comma before the
// decimals; a text that is no number is shown as delivered.
std::string ShownValue(const std::string& delivered, int decimals, int languageId) {
    std::string text = delivered;
    std::replace(text.begin(), text.end(), ',', '.');
    const char* begin = text.data();
    const char* const end = text.data() + text.size();
    if (begin != end && *begin == '+') ++begin;
    double value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || stop != end || begin == end) return delivered;
    return FixedText(value, decimals, languageId);
}

// The first VIF of a descriptor as a unit-box entry.
std::optional<int> UnitOfDescriptor(const std::string& descriptor) {
    const std::optional<Descriptor> d = ReadDescriptor(descriptor);
    if (!d || d->vib.empty()) return std::nullopt;
    return UnitEntryOfVif(d->vib[0]);
}

void ShowTemperatureParameters(AnalogPageFields& page, int languageId) {
    const TemperatureParameters p =
        UnpackTemperature(page.v1, page.v2, page.temperature.sensorEntry, page.firmwareNumber);
    page.temperature.a = std::to_string(p.a);
    page.temperature.b = std::to_string(p.b);
    page.temperature.c = ScaledText(p.t, kTemperatureDecimals, languageId);
}

void ReadMeasurement(const Readout& r, int languageId, AnalogPageFields& page) {
    const std::vector<RecordText>& rec = r.records;
    page.inputs[0].value = ShownValue(rec[0].value, kInputDecimals, languageId);
    page.inputs[1].value = ShownValue(rec[1].value, kInputDecimals, languageId);
    page.temperature.value = ShownValue(rec[2].value, kTemperatureDecimals, languageId);
    for (int i = 0; i < 2; ++i)
        if (const std::optional<int> unit = UnitOfDescriptor(rec[static_cast<std::size_t>(i)].descriptor))
            page.inputs[static_cast<std::size_t>(i)].unitEntry = *unit;

    const std::string_view subunit = std::string_view(rec[3].descriptor).substr(0, 8);
    std::string *min, *max, *average;
    int decimals = kInputDecimals;
    if (subunit == kSubunitA2) {
        page.minMax = MinMaxChoice::kA2;
        min = &page.inputs[1].min, max = &page.inputs[1].max, average = &page.inputs[1].average;
    } else if (subunit == kSubunitTemperature) {
        page.minMax = MinMaxChoice::kTemperature;
        decimals = kTemperatureDecimals;
        min = &page.temperature.min, max = &page.temperature.max, average = &page.temperature.average;
    } else {
        page.minMax = MinMaxChoice::kA1;
        min = &page.inputs[0].min, max = &page.inputs[0].max, average = &page.inputs[0].average;
    }
    *min = ShownValue(rec[3].value, decimals, languageId);
    *max = ShownValue(rec[4].value, decimals, languageId);
    *average = ShownValue(rec[5].value, decimals, languageId);

    // The parameters come with the parameter telegram of the follow-up read.
    for (std::string* f : {&page.inputs[0].a, &page.inputs[0].b, &page.inputs[0].c, &page.inputs[1].a,
                           &page.inputs[1].b, &page.inputs[1].c, &page.temperature.a, &page.temperature.b,
                           &page.temperature.c, &page.current})
        f->clear();
}

void ReadParameters(const Readout& r, int languageId, AnalogPageFields& page) {
    if (const std::optional<int64_t> mode = RecordInteger(r.records.front().value)) {
        const auto m = static_cast<uint8_t>(*mode & 0xFF);
        if (const std::optional<int> entry = SensorEntryOfCode(m & 0x3F)) page.temperature.sensorEntry = *entry;
        page.minMax = MinMaxOfMode(m);
    }
    for (std::size_t i = 1; i < r.records.size(); ++i) {
        const std::optional<Descriptor> d = ReadDescriptor(r.records[i].descriptor);
        const std::optional<int64_t> value = RecordInteger(r.records[i].value);
        if (!d || !value) continue;
        const bool extendedVif = d->vib.size() == 2 && (d->vib[0] & 0x80) != 0;
        if (d->dataField == 0x03 && d->storage == 0 && d->subunit < 2 && extendedVif && d->vib[1] == 0x28) {
            // a b c as a 24-bit number, least significant byte first.
            const int w = static_cast<int>(*value & 0xFFFFFF);
            AnalogInputFields& in = page.inputs[d->subunit];
            in.a = std::to_string(w & 0xFF);
            in.b = std::to_string(Signed(w >> 8, 8));
            in.c = std::to_string(Signed(w >> 16, 8));
        } else if (d->dataField == 0x02 && d->subunit == kSubunitOutput && d->vib == std::vector<uint8_t>{0xFD, 0x56}) {
            page.current = ScaledText(*value, kCurrentDecimals, languageId);
        } else if (d->dataField == 0x06 && d->subunit == 2 && d->storage <= 1 &&
                   d->vib == std::vector<uint8_t>{0xE6, 0x28}) {
            (d->storage == 0 ? page.v1 : page.v2) = static_cast<uint64_t>(*value) & kCalibrationMask;
        }
    }
    ShowTemperatureParameters(page, languageId);
}

}  // namespace

int SensorCode(int sensorEntry) { return kSensorCodes[ValidSensor(sensorEntry)]; }

std::optional<int> SensorEntryOfCode(int code) {
    for (int e = 0; e < kSensorCount; ++e)
        if (kSensorCodes[e] == code) return e;
    return std::nullopt;
}

int CalibrationSlot(int sensorEntry) { return kCalibrationSlots[ValidSensor(sensorEntry)]; }

MinMaxChoice ToggleMinMax(MinMaxChoice current, AnalogInputKind box, bool checked) {
    const MinMaxChoice mine = box == AnalogInputKind::kA1   ? MinMaxChoice::kA1
                              : box == AnalogInputKind::kA2 ? MinMaxChoice::kA2
                                                            : MinMaxChoice::kTemperature;
    if (checked) return mine;
    return current == mine ? MinMaxChoice::kNone : current;
}

uint8_t ModeByte(int sensorEntry, MinMaxChoice choice) {
    int mode = SensorCode(sensorEntry);
    if (choice == MinMaxChoice::kA2) mode += kModeMinMaxA2;
    if (choice == MinMaxChoice::kTemperature) mode += kModeMinMaxTemperature;
    return static_cast<uint8_t>(mode);
}

MinMaxChoice MinMaxOfMode(uint8_t mode) {
    if (mode & kModeMinMaxTemperature) return MinMaxChoice::kTemperature;
    if (mode & kModeMinMaxA2) return MinMaxChoice::kA2;
    return MinMaxChoice::kA1;
}

uint8_t UnitByte(int unitEntry) {
    if (unitEntry < 0) return kUnitNoSelection;
    // 7Bh..7Dh and 7Fh are no units of their own (VIF extensions and the
    // plain-text VIF); the module keeps its unit for them.
    if (unitEntry >= kUnitEntries - 1 || (unitEntry >= 123 && unitEntry <= 125)) return kUnitUnchanged;
    return static_cast<uint8_t>(unitEntry + 0x80);
}

int UnitEntryOfVif(uint8_t vif) { return vif & 0x7F; }

std::string WriteA1Text(const AnalogPageFields& page) {
    const AnalogInputFields& in = page.inputs[0];
    std::string t(kAddressesUnchanged);
    t += std::string(kModeRecord) + Hex2(ModeByte(page.temperature.sensorEntry, page.minMax));
    t += " 03 " + Hex2(UnitByte(in.unitEntry)) + " 28 " + Hex2(IntegerOf(in.a)) + " " + Hex2(IntegerOf(in.b)) + " " +
         Hex2(IntegerOf(in.c)) + " ";
    t += std::string(kA2Unchanged) + std::string(kCurrentRecord) + std::string(kCurrentUnchanged);
    return t;
}

std::string WriteA2Text(const AnalogPageFields& page) {
    const AnalogInputFields& in = page.inputs[1];
    std::string t(kAddressesUnchanged);
    t += std::string(kModeRecord) + Hex2(ModeByte(page.temperature.sensorEntry, page.minMax));
    t += " 03 FE 28 00 00 00 83 40 " + Hex2(UnitByte(in.unitEntry)) + " 28 " + Hex2(IntegerOf(in.a)) + " " +
         Hex2(IntegerOf(in.b)) + " " + Hex2(IntegerOf(in.c)) + " ";
    // Two blanks before the current record: the text has always been sent so.
    t += " " + std::string(kCurrentRecord) + std::string(kCurrentUnchanged);
    return t;
}

uint16_t CurrentMicroamperes(std::string_view milliamperes) {
    const std::optional<DecimalNumber> n = ParseNumber(milliamperes);
    const int64_t ua = n ? n->Truncated(3) : 0;
    return static_cast<uint16_t>(std::clamp<int64_t>(ua, 0, 0xFFFF));
}

std::string WriteCurrentText(const AnalogPageFields& page) {
    const uint16_t ua = CurrentMicroamperes(page.current);
    std::string t(kAddressesUnchanged);
    t += std::string(kModeRecord) + Hex2(ModeByte(page.temperature.sensorEntry, page.minMax));
    t += " 03 FE 28 00 00 00 " + std::string(kA2Unchanged) + std::string(kCurrentRecord);
    t += Hex2(ua & 0xFF) + " " + Hex2(ua >> 8) + " ";
    return t;
}

uint16_t CalibrationSlotValue1(const TemperatureParameters& p) {
    return static_cast<uint16_t>(FloorMod(p.t, 256) * 256 + FloorMod(p.a, 16) * 16 + FloorMod(p.b, 16));
}

uint16_t CalibrationSlotValue2(const TemperatureParameters& p) {
    return static_cast<uint16_t>(FloorMod(FloorDiv(p.t, 256), 256) * 256 + FloorMod(FloorDiv(p.a, 16), 16) * 16 +
                                 FloorMod(FloorDiv(p.b, 16), 16));
}

uint16_t SlotOf(uint64_t value, int slot) { return static_cast<uint16_t>(value >> (16 * slot)); }

uint64_t WithSlot(uint64_t value, int slot, uint16_t slotValue) {
    const int shift = 16 * slot;
    return ((value & ~(uint64_t{0xFFFF} << shift)) | uint64_t{slotValue} << shift) & kCalibrationMask;
}

std::string CalibrationRecord(bool second, uint64_t value) {
    std::string t(second ? kV2Record : kV1Record);
    for (int i = 0; i < 6; ++i) t += Hex2(static_cast<int>(value >> (8 * i) & 0xFF)) + " ";
    return t;
}

TemperatureWrite WriteTemperature(const AnalogPageFields& page) {
    const TemperatureFields& f = page.temperature;
    TemperatureParameters p;
    p.a = static_cast<int>(std::clamp<int64_t>(ParseInteger(f.a).value_or(0), -32768, 32767));
    p.b = static_cast<int>(std::clamp<int64_t>(ParseInteger(f.b).value_or(0), -32768, 32767));
    const std::optional<DecimalNumber> c = ParseNumber(f.c);
    p.t = static_cast<int>(std::clamp<int64_t>(c ? c->Truncated(1) : 0, -(1 << 24), 1 << 24));

    const int slot = CalibrationSlot(f.sensorEntry);
    TemperatureWrite w;
    w.pendingRecords2 = CalibrationRecord(false, WithSlot(page.v1, slot, CalibrationSlotValue1(p)));
    if (page.firmwareNumber > 0)
        w.pendingRecords2 += CalibrationRecord(true, WithSlot(page.v2, slot, CalibrationSlotValue2(p)));
    w.pendingRecords1 = std::string(kAddressesUnchanged) + std::string(kModeRecord) +
                        Hex2(ModeByte(f.sensorEntry, page.minMax)) + " 03 FE 28 00 00 00 " + std::string(kA2Unchanged) +
                        std::string(kCurrentRecord) + std::string(kCurrentUnchanged);
    return w;
}

TemperatureParameters UnpackTemperature(uint64_t v1, uint64_t v2, int sensorEntry, int firmwareNumber) {
    const int slot = CalibrationSlot(sensorEntry);
    const int s1 = SlotOf(v1, slot);
    TemperatureParameters p;
    if (firmwareNumber <= 0) {
        p.t = Signed(s1 >> 8, 8);
        p.a = Signed(s1 >> 4, 4);
        p.b = Signed(s1, 4);
        return p;
    }
    const int s2 = SlotOf(v2, slot);
    p.t = Signed((s2 >> 8 & 0xFF) << 8 | (s1 >> 8 & 0xFF), 16);
    p.a = (s2 >> 4 & 0xF) << 4 | (s1 >> 4 & 0xF);
    p.b = Signed((s2 & 0xF) << 4 | (s1 & 0xF), 8);
    return p;
}

void SelectSensor(AnalogPageFields& page, int sensorEntry, int languageId) {
    page.temperature.sensorEntry = sensorEntry;
    ShowTemperatureParameters(page, languageId);
}

std::optional<AnalogReadoutResult> ReadAnalogAnswer(const Readout& readout, int languageId, AnalogPageFields& page) {
    if (readout.kind != kModuleAnalog || readout.records.empty()) return std::nullopt;
    AnalogReadoutResult result;
    if (readout.records.front().descriptor == kParameterSetDescriptor) {
        result.telegram = AnalogTelegram::kParameters;
        page.firmwareNumber = readout.header.firmwareNumber;
        ReadParameters(readout, languageId, page);
        return result;
    }
    if (readout.records.size() < kMeasurementRecords) return std::nullopt;
    result.telegram = AnalogTelegram::kMeasurement;
    result.followUp = readout.followUp;
    page.firmwareNumber = readout.header.firmwareNumber;
    ReadMeasurement(readout, languageId, page);
    return result;
}

}  // namespace mbus::meridex
