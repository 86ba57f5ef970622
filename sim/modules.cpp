// What the module models share: the record walk of writes, the records of
// answers, the frame handling of the maker's modules, and the two interface
// devices (level converter, optical transceiver).

#include "sim/modules.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "control/decode/layer7.h"
#include "control/decode/telegram.h"

namespace mbus::sim {
namespace {

constexpr int kMaxExtensions = 10;  // DIFEs or VIFEs per record
constexpr int kSwitchRates[8] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400};

bool HasExtension(uint8_t b) { return (b & 0x80) != 0; }

// Addressed for an answer: its primary address, 254, or 253 while selected.
bool Addressed(const MBSlaveValues& v, uint8_t A) {
    return A == v.primaryAddress || A == 254 || (A == 253 && v.selectionState != 0);
}

// What the maker's three modules do with a frame; the variant's own part
// comes from M (TrySelect, Write, ApplicationReset, LinkReset, ExpectRead).
template <class M>
ModuleVerdict HandleMakerModule(M& m, MBSlaveValues& v, const ModuleFrame& f) {
    const FrameShape& s = f.shape;
    const uint8_t function = f.Function();
    switch (s.result) {
        case kFrameShort:
            if (function == 0x4B) {
                if (v.CheckAddress(kFrameShort, s.C, s.A, s.CI, f.data, f.length) != 1) return ModuleVerdict::kIgnore;
                m.ExpectRead(s.A);
                return ModuleVerdict::kAnswer;
            }
            if (s.C == 0x40 && (Addressed(v, s.A) || s.A == 255)) m.LinkReset(s.A == 253);
            return ModuleVerdict::kAsSlave;
        case kFrameControl:
            if (function == 0x43 && s.CI == 0x50 && (Addressed(v, s.A) || s.A == 255)) m.ApplicationReset({});
            return ModuleVerdict::kAsSlave;
        case kFrameLong: {
            if (function != 0x43) return ModuleVerdict::kAsSlave;
            if (f.IsSelection(v)) {
                ModuleVerdict verdict = ModuleVerdict::kAsSlave;
                return m.TrySelect(v, f, &verdict) ? verdict : ModuleVerdict::kAsSlave;
            }
            const bool actedOn = Addressed(v, s.A) || s.A == 255;
            if (actedOn && s.CI == 0x50) m.ApplicationReset(f.UserData());
            if (actedOn && s.CI == 0x51) {
                m.Write(ParseDataRecords(f.UserData()), v);
                return s.A == 255 ? ModuleVerdict::kIgnore : ModuleVerdict::kAcknowledge;
            }
            return ModuleVerdict::kAsSlave;
        }
        default: return ModuleVerdict::kIgnore;
    }
}

}  // namespace

uint16_t ManufacturerOf(Maker maker) { return maker == Maker::kKtr ? kKtrManufacturer : kVndManufacturer; }

const char* MakerText(Maker maker) { return maker == Maker::kKtr ? "KTR" : "VND"; }

std::optional<Maker> MakerOf(uint16_t manufacturer) {
    if (manufacturer == kVndManufacturer) return Maker::kVnd;
    if (manufacturer == kKtrManufacturer) return Maker::kKtr;
    return std::nullopt;
}

uint8_t ModuleVersion(ModuleKind kind, Maker maker) {
    const bool ktr = maker == Maker::kKtr;
    switch (kind) {
        case ModuleKind::kPulse: return ktr ? 0x05 : 0x95;
        case ModuleKind::kAnalog: return ktr ? 0x15 : 0x96;
        case ModuleKind::kControl: return ktr ? 0x35 : 0x97;
        case ModuleKind::kConverter: return LevelConverter::kVersion;
        case ModuleKind::kTransceiver: return 0;
    }
    return 0;
}

const char* ModuleKindText(ModuleKind kind) {
    switch (kind) {
        case ModuleKind::kPulse: return "Pulse";
        case ModuleKind::kAnalog: return "Analog";
        case ModuleKind::kControl: return "Control";
        case ModuleKind::kConverter: return "level converter";
        case ModuleKind::kTransceiver: return "optical transceiver";
    }
    return "";
}

// ---------------------------------------------------------------------------
// Records

bool DataRecord::Is(int field, uint32_t unit, uint64_t store, std::initializer_list<uint8_t> v) const {
    return dataField == field && function == 0 && tariff == 0 && subunit == unit && storage == store &&
           vib.size() == v.size() && std::equal(vib.begin(), vib.end(), v.begin());
}

bool DataRecord::AllFF() const {
    return std::all_of(value.begin(), value.end(), [](uint8_t b) { return b == 0xFF; });
}

uint64_t DataRecord::Unsigned() const {
    uint64_t v = 0;
    const std::size_t n = std::min<std::size_t>(value.size(), 8);
    for (std::size_t i = n; i-- > 0;) v = v << 8 | value[i];
    return v;
}

std::vector<DataRecord> ParseDataRecords(std::span<const uint8_t> data) {
    std::vector<DataRecord> records;
    const std::size_t n = data.size();
    std::size_t p = 0;
    while (p < n) {
        const uint8_t dif = data[p];
        if (dif == 0x2F) {  // idle filler
            ++p;
            continue;
        }
        if ((dif & 0x0F) == 0x0F) break;  // manufacturer data, or a special function without records behind it
        DataRecord r;
        r.dif = dif;
        r.dataField = dif & 0x0F;
        r.function = (dif >> 4) & 0x03;
        r.storage = (dif >> 6) & 0x01;
        ++p;
        bool extended = HasExtension(dif);
        for (int k = 0; extended; ++k) {
            if (k == kMaxExtensions || p >= n) return records;
            const uint8_t dife = data[p++];
            r.storage |= static_cast<uint64_t>(dife & 0x0F) << (1 + 4 * k);
            r.tariff |= static_cast<uint32_t>((dife >> 4) & 0x03) << (2 * k);
            r.subunit |= static_cast<uint32_t>((dife >> 6) & 0x01) << k;
            extended = HasExtension(dife);
        }
        if (p >= n) return records;
        const uint8_t vif = data[p++];
        r.vib.push_back(vif);
        if ((vif & 0x7F) == 0x7C) {  // plain-text unit: its length and its characters
            if (p >= n || p + 1 + data[p] > n) return records;
            const std::size_t text = data[p];
            r.vib.insert(r.vib.end(), data.begin() + static_cast<std::ptrdiff_t>(p),
                         data.begin() + static_cast<std::ptrdiff_t>(p + 1 + text));
            p += 1 + text;
        }
        extended = HasExtension(vif);
        for (int k = 0; extended; ++k) {
            if (k == kMaxExtensions || p >= n) return records;
            const uint8_t vife = data[p++];
            r.vib.push_back(vife);
            extended = HasExtension(vife);
        }
        int size = 0;
        if (r.dataField == 0x0D) {
            if (p >= n) return records;
            size = MBTelegram::ReturnNumberOfValueBytes(dif, data[p]);
            if (size < 0) return records;  // reserved LVAR
        } else {
            size = MBTelegram::ReturnNumberOfValueBytes(dif, 0);
        }
        if (p + static_cast<std::size_t>(size) > n) return records;
        r.value.assign(data.begin() + static_cast<std::ptrdiff_t>(p),
                       data.begin() + static_cast<std::ptrdiff_t>(p + static_cast<std::size_t>(size)));
        p += static_cast<std::size_t>(size);
        records.push_back(std::move(r));
    }
    return records;
}

void AppendRecord(Bytes& out, const Bytes& head, uint64_t value, int bytes) {
    out.insert(out.end(), head.begin(), head.end());
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void AppendReal(Bytes& out, const Bytes& head, float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    AppendRecord(out, head, bits, 4);
}

AddressWrite ReadAddressWrite(const DataRecord& r) {
    AddressWrite w;
    if (r.value.size() != 8) return w;
    const uint32_t id = static_cast<uint32_t>(r.Unsigned() & 0xFFFFFFFFu);
    w.named = id != 0xFFFFFFFFu;
    bool bcd = true;
    for (int i = 0; i < 8; ++i) bcd = bcd && ((id >> (4 * i)) & 0x0F) <= 9;
    if (w.named && bcd) w.id = id;
    if (r.value[7] != 0xFF) w.medium = r.value[7];
    return w;
}

bool ApplyPrimaryAddress(const DataRecord& r, MBSlaveValues& values) {
    if (!r.Is(0x01, 0, 0, {0x7A})) return false;
    // 253 (selected), 254 (all) and 255 (unchanged) cannot be a module's own address.
    if (r.value[0] <= 252) values.primaryAddress = r.value[0];
    return true;
}

bool ApplyCommonRecord(const DataRecord& r, MBSlaveValues& values) {
    if (ApplyPrimaryAddress(r, values)) return true;
    if (!r.Is(0x07, 0, 0, {0x79})) return false;
    const AddressWrite w = ReadAddressWrite(r);
    if (w.id) values.identNumber = *w.id;
    if (w.medium) SetMedium(values, *w.medium);
    return true;
}

void SetMedium(MBSlaveValues& values, uint8_t medium) {
    values.medium = medium;
    mbus::ExtractMedium(1, medium, values.mediumText);
}

// ---------------------------------------------------------------------------
// Frames

std::span<const uint8_t> ModuleFrame::UserData() const {
    if (shape.result != kFrameLong || data == nullptr || length < 9) return {};
    return {data + 7, static_cast<std::size_t>(length - 9)};
}

bool ModuleFrame::IsSelection(const MBSlaveValues& values) const {
    return shape.result == kFrameLong && shape.CI == values.selectionCI && shape.A == 253 && length > 16;
}

// ---------------------------------------------------------------------------
// Level converter

ModuleVerdict LevelConverter::Handle(MBSlaveValues& values, const ModuleFrame& f, std::string* note) {
    const FrameShape& s = f.shape;
    const uint8_t function = f.Function();
    if (s.result == kFrameLong && function == 0x43 && f.IsSelection(values)) {
        // Only a selection that names the converter's version and medium
        // itself; identification number and manufacturer may be wildcards.
        values.version = kVersion;
        values.medium = kMedium;
        const bool named = f.data[13] == kVersion && f.data[14] == kMedium;
        const bool match = values.CheckAddress(kFrameLong, s.C, s.A, s.CI, f.data, f.length) == 1;
        selected_ = named && match;
        if (!selected_) values.selectionState = 0;
        return selected_ ? ModuleVerdict::kAcknowledge : ModuleVerdict::kIgnore;
    }
    if (!selected_ || s.A != 253) return ModuleVerdict::kIgnore;
    if (s.result == kFrameShort && s.C == 0x40) {  // deselected
        selected_ = false;
        values.selectionState = 0;
        return ModuleVerdict::kAcknowledge;
    }
    if ((s.result == kFrameControl || s.result == kFrameLong) && function == 0x43 && s.CI >= 0xB8 && s.CI <= 0xBF) {
        requestedBaud_ = kSwitchRates[s.CI - 0xB8];
        ++baudSwitches_;
        *note = "level converter: baud switch to " + std::to_string(requestedBaud_) + " baud (the line stays as it is)";
        return ModuleVerdict::kAcknowledge;
    }
    return ModuleVerdict::kIgnore;
}

std::string LevelConverter::Describe() const {
    std::string text = "level converter";
    if (requestedBaud_ > 0) text += ", last baud switch to " + std::to_string(requestedBaud_);
    return text;
}

// ---------------------------------------------------------------------------
// Optical transceiver

ModuleVerdict OpticalTransceiver::Handle(MBSlaveValues&, const ModuleFrame& f, std::string* note) {
    const FrameShape& s = f.shape;
    if (s.A != kAddress || f.Function() != 0x43 || (s.result != kFrameLong && s.result != kFrameControl) ||
        s.CI != 0x51)
        return ModuleVerdict::kIgnore;
    const std::span<const uint8_t> data = f.UserData();
    lastCommand_.assign(1, s.CI);
    lastCommand_.insert(lastCommand_.end(), data.begin(), data.end());
    ++commands_;
    const bool toOptical = data.size() == 3 && data[0] == 0x0F && (data[1] == 0x48 || data[1] == 0x58) && data[2] == 0x08;
    if (toOptical && !engaged_) {
        engaged_ = true;
        *note = "optical transceiver: relays frames at " + std::to_string(kRelayBaud) + " baud to the modules";
    }
    return ModuleVerdict::kAcknowledge;
}

std::string OpticalTransceiver::Describe() const {
    return std::string("optical transceiver at 251") + (engaged_ ? ", relaying at 38400 baud" : "");
}

// ---------------------------------------------------------------------------
// Module

std::optional<ModuleKind> Module::Kind() const {
    switch (state_.index()) {
        case 1: return ModuleKind::kPulse;
        case 2: return ModuleKind::kAnalog;
        case 3: return ModuleKind::kControl;
        case 4: return ModuleKind::kConverter;
        case 5: return ModuleKind::kTransceiver;
        default: return std::nullopt;
    }
}

bool Module::IsMakerModule() const { return As<PulseModule>() || As<AnalogModule>() || As<ControlModule>(); }

bool Module::HearsAnyRate() const { return As<LevelConverter>() || As<OpticalTransceiver>(); }

bool Module::RelaysToModules() const {
    const OpticalTransceiver* t = As<OpticalTransceiver>();
    return t != nullptr && t->Engaged();
}

ModuleVerdict Module::Handle(MBSlaveValues& values, const ModuleFrame& frame, std::string* note) {
    if (auto* m = As<PulseModule>()) return HandleMakerModule(*m, values, frame);
    if (auto* m = As<AnalogModule>()) return HandleMakerModule(*m, values, frame);
    if (auto* m = As<ControlModule>()) return HandleMakerModule(*m, values, frame);
    if (auto* m = As<LevelConverter>()) return m->Handle(values, frame, note);
    if (auto* m = As<OpticalTransceiver>()) return m->Handle(values, frame, note);
    return ModuleVerdict::kAsSlave;
}

void Module::BuildAnswer(MBSlaveValues& values, uint8_t* frame, int* length) {
    if (auto* m = As<PulseModule>()) return m->BuildAnswer(values, frame, length);
    if (auto* m = As<AnalogModule>()) return m->BuildAnswer(values, frame, length);
    if (auto* m = As<ControlModule>()) return m->BuildAnswer(values, frame, length);
    values.PrepareRSPUD(0, 0, frame, length);
}

void Module::SyncFrom(const MBSlaveValues& values) {
    if (auto* m = As<PulseModule>()) m->SyncFrom(values);
}

std::string Module::Describe(const MBSlaveValues& values) const {
    char firmware[16];
    std::snprintf(firmware, sizeof firmware, "%X.%X", static_cast<unsigned>(values.signature >> 4) & 0x0F,
                  static_cast<unsigned>(values.signature) & 0x0F);
    const std::string maker = std::string(" module, firmware ") + firmware;
    if (auto* m = As<PulseModule>()) return "Pulse" + maker + ", " + m->Describe();
    if (auto* m = As<AnalogModule>()) return "Analog" + maker + ", " + m->Describe();
    if (auto* m = As<ControlModule>()) return "Control" + maker + ", " + m->Describe();
    if (auto* m = As<LevelConverter>()) return m->Describe();
    if (auto* m = As<OpticalTransceiver>()) return m->Describe();
    return {};
}

void SetUpModule(ModuleKind kind, Maker maker, uint8_t primary, MBSlaveValues* values, Module* module) {
    *values = MBSlaveValues();
    values->manufacturer = ManufacturerOf(maker);
    std::memcpy(values->manufacturerText, MakerText(maker), 4);
    values->version = ModuleVersion(kind, maker);
    values->primaryAddress = primary;
    values->signature = 0x10;  // firmware 1.0
    switch (kind) {
        case ModuleKind::kPulse:
            SetMedium(*values, 0x07);
            *module = PulseModule();
            break;
        case ModuleKind::kAnalog:
            SetMedium(*values, 0x19);
            *module = AnalogModule();
            break;
        case ModuleKind::kControl:
            SetMedium(*values, 0x0E);
            *module = ControlModule();
            break;
        case ModuleKind::kConverter:
            SetMedium(*values, LevelConverter::kMedium);
            values->signature = 0;
            *module = LevelConverter();
            break;
        case ModuleKind::kTransceiver:
            SetMedium(*values, 0x0E);
            values->signature = 0;
            values->primaryAddress = OpticalTransceiver::kAddress;
            *module = OpticalTransceiver();
            break;
    }
    module->SyncFrom(*values);
}

}  // namespace mbus::sim
