// Models of the maker's M-Bus modules and of the two interface devices in
// front of them, as participants of the simulated bus. The configuration
// program reads every answer as cooked Hex2 text and cuts its fields by
// position, so the telegrams below are laid out record for record as it
// reads them.
//
// The maker's modules, under two maker codes (VND = 59C4h, KTR = 2E92h):
//
//   variant   version VND / KTR   medium   what it is
//   Pulse     95h / 05h           07h      two pulse inputs, each a meter with its own secondary address
//   Analog    96h / 15h           19h      two analog inputs, a platinum sensor input, a 4..20 mA output
//   Control   97h / 35h           0Eh      two digital inputs P1, P2 and two relays R1, R2
//
// Every module answers REQ_UD2 with a variable-structure RSP_UD (CI 72h,
// least significant byte first). The signature field carries the firmware
// version in its low byte (13h: version 1.3); its high byte is free. A
// module takes SND_UD long frames with CI 51h whose data records set its
// parameters (the writes) and acknowledges them with E5h; everything else
// (SND_NKE, REQ_UD1, baud switches, other CIs) it handles as any simulated
// slave does.
//
// Writes. The records (DIF, DIFEs, VIF, VIFEs, data) are walked robustly: a
// record the module does not know is skipped by its length, a rest that
// cannot be a record (it runs past the end, or a special DIF other than the
// filler 2Fh) is ignored, and no value a write carries can take the model
// out of its ranges. FF bytes in a value mean "unchanged". Every module
// takes the common records:
//   01 7A P                    primary address (0..252; 253 and above are refused, FF unchanged); it
//                              takes effect at once, so a read that follows is answered at the new address
//   07 79 S S S S M M V Md     secondary address (of input 1 for Pulse): identification number S (BCD,
//                              least significant byte first; FF FF FF FF unchanged, a nibble that is no
//                              decimal digit refuses it) and medium Md (FF unchanged). Manufacturer M M and
//                              version V are ignored: maker and variant are fixed by the firmware (the
//                              program writes C4 59 even to KTR modules).
// After a write the next REQ_UD2 builds a fresh answer whatever its FCB (the
// module's state has changed since the answer sent last).
//
// Pulse answer (header: id and medium of the input the answer is for, input
// 1 when it carries both; status 00h, or 01h when it carries input 2 alone):
//   1  06 U  counter      raw x N / D of the first input in the answer (low 48 bits), U its unit VIF
//   2  02 86 28  factor   N + 256 x D
//   when it carries both inputs:
//   3  86 40 U  counter of input 2       4  82 40 86 28  factor of input 2
//   5  87 40 79  secondary address of input 2 (id BCD, manufacturer, version, medium)
// A selection by input 1's secondary address gives input 1 alone, by input
// 2's input 2 alone; a read at the primary address or at 254 gives both,
// unless input 2 is disabled (medium 1Fh), then input 1 alone. A wildcard
// selection that matches both inputs is answered once, for input 1; a
// disabled input 2 answers no selection.
// Pulse writes: 02 86 28 N D (input 1 factor; 00 00 unchanged, N clamped to
// 1..255, D to 1..127), 82 40 86 28 N D (input 2), 87 40 79 (input 2's
// secondary address, as 07 79), 06 U C and 86 40 U C (unit VIF and raw
// count, six bytes least significant first). The program's texts carry the
// unit-and-counter records of both inputs whichever input they are meant
// for, so those records are applied only when the same telegram names that
// input's secondary address with an identification number that is not all
// FF; then the unit is taken, and the count unless its six bytes are all FF.
//
// Control answer (medium 0Eh), eight records:
//   1  01 FD 1B     P1 state            5  81 40 FD 1B     P2 state
//   2  01 FD 1A     R1 output state     6  81 40 FD 1A     R2 output state
//   3  41 FD 1A     R1 commanded state  7  C1 40 FD 1A     R2 commanded state
//   4  82 01 FD 1A  R1 configuration    8  82 41 FD 1A     R2 configuration
// The configuration byte is 100 x power-fail code + logic code (0 keep, 1
// switch to 1, 2 switch to 0; logic 0 M-Bus, else operator 1 AND, 2 OR,
// 3 XOR, plus 4 when P1 is inverted, plus 8 when P2 is). It is sent as a
// 16-bit integer: an 8-bit integer record is signed, so 204 would read -52.
// Control writes: 41 FD 1A v and C1 40 FD 1A v (command 0/1 of R1, R2; a
// relay driven by logic ignores it), 81 01 FD 1A B and 81 41 FD 1A B
// (configuration of R1, R2, stored as written); configurations are applied
// before the commands of the same telegram.
//
// Analog, two telegrams (medium 19h). The measurement telegram, the normal
// answer (REAL32 values; subunit 0 A1, 1 A2, 2 temperature):
//   1  05 U1  A1 value          2  85 40 U2  A2 value       3  85 80 40 67  temperature, °C
//   4  minimum (DIF 25h)        5  maximum (DIF 15h)        6  average (DIF 45h, storage 1)
// of the min/max input, each with that input's subunit and VIF. The
// parameter telegram, after an application reset with the subcode 08h
// (CI 50h, data 08h), until an application reset with another subcode or
// none, or an SND_NKE:
//   1  01 FD 0B M              mode byte       2  03 U1+80 28 a b c      A1 parameters
//   3  83 40 U2+80 28 a b c    A2 parameters   4  82 C0 40 FD 56 lo hi   current output, µA
//   5  86 80 40 E6 28 + 6      V1              6  C6 80 40 E6 28 + 6     V2
// Analog writes: the same records. Mode FF, parameters 00 00 00, unit byte
// FEh, current FF FF and six FF bytes of a calibration value are unchanged;
// a written current is clamped to the output's 4000..20000 µA.
//
// Level converter: the maker's converter between the master and the bus.
// It hears frames at any rate, acknowledges only a selection that names
// version 90h and medium 0Eh explicitly (a wildcard search never finds it),
// then a baud switch to 253 (it records the rate; the line stays as it is)
// and the deselection. It never answers REQ_UD2.
//
// Optical transceiver: an optical head in front of a module, at primary
// address 251, that hears frames at any rate. It acknowledges SND_UD (CI
// 51h) to 251; the commands 0F 48 08 and 0F 58 08 switch its optical side to
// 38400 baud. From then on the bus delivers frames sent at 38400 baud to the
// maker's modules whatever rate they listen at, as the transceiver relays
// them (it has no command that switches it back; Reset does, for tests).

#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "control/decode/slave_values.h"
#include "control/line/frame_shape.h"
#include "sim/wire.h"

namespace mbus::sim {

enum class Maker { kVnd, kKtr };
enum class ModuleKind { kPulse, kAnalog, kControl, kConverter, kTransceiver };

inline constexpr uint16_t kVndManufacturer = 0x59C4;
inline constexpr uint16_t kKtrManufacturer = 0x2E92;

uint16_t ManufacturerOf(Maker maker);
const char* MakerText(Maker maker);  // "VND", "KTR"
// The maker of a manufacturer number; nothing for other numbers.
std::optional<Maker> MakerOf(uint16_t manufacturer);
// Version byte of a variant (95h ... 35h), 90h for the converter, 0 for the transceiver.
uint8_t ModuleVersion(ModuleKind kind, Maker maker);
// "Pulse", "Analog", "Control", "level converter", "optical transceiver".
const char* ModuleKindText(ModuleKind kind);

// One data record of written user data.
struct DataRecord {
    uint8_t dif = 0;
    int dataField = 0;     // DIF bits 0..3
    int function = 0;      // DIF bits 4..5
    uint64_t storage = 0;  // DIF bit 6, then four bits per DIFE
    uint32_t tariff = 0;
    uint32_t subunit = 0;
    Bytes vib;    // VIF and VIFEs as sent (a plain-text VIF with its length and text)
    Bytes value;  // the data bytes (with the LVAR byte of a variable-length value)

    // A record with function field 0 and tariff 0 of this data field,
    // subunit, storage and VIB.
    bool Is(int dataField, uint32_t subunit, uint64_t storage, std::initializer_list<uint8_t> vib) const;
    // Every value byte is FFh.
    bool AllFF() const;
    // The value bytes as an unsigned number, least significant byte first.
    uint64_t Unsigned() const;
};

// The records of user data sent least significant byte first. Idle fillers
// (2Fh) are skipped; the walk stops at manufacturer data (0Fh, 1Fh), at
// another special DIF, and at a record that is cut off or has more than ten
// DIFEs or VIFEs; what it read until then is returned.
std::vector<DataRecord> ParseDataRecords(std::span<const uint8_t> data);

// Appends an answer record: DIF, DIFEs and VIB bytes, then the value in
// `bytes` bytes, least significant first (a REAL32 as its IEEE bits).
void AppendRecord(Bytes& out, const Bytes& head, uint64_t value, int bytes);
void AppendReal(Bytes& out, const Bytes& head, float value);

// A written secondary address (07 79 and its kin): whether it names an
// identification number (not all FF), the number when it is valid BCD, and
// the medium unless it is FF.
struct AddressWrite {
    bool named = false;
    std::optional<uint32_t> id;
    std::optional<uint8_t> medium;
};
AddressWrite ReadAddressWrite(const DataRecord& record);
// "01 7A P": sets the primary address (0..252; FF and the other addresses
// change nothing). True when the record was this one.
bool ApplyPrimaryAddress(const DataRecord& record, MBSlaveValues& values);
// The primary address and, for a module whose secondary address is the
// slave's own, "07 79". True when the record was one of them.
bool ApplyCommonRecord(const DataRecord& record, MBSlaveValues& values);
// Sets the medium byte and its text.
void SetMedium(MBSlaveValues& values, uint8_t medium);
// A VIF a module can carry as its unit: 00..7F without the plain-text VIF 7C.
inline bool UsableUnit(uint8_t vif) { return vif <= 0x7F && vif != 0x7C; }

// What the bus does with a frame once a module has looked at it.
enum class ModuleVerdict {
    kAsSlave,      // handle it as for an ordinary slave (the module may have noted side effects)
    kIgnore,       // no reaction
    kAcknowledge,  // E5h; the conversation starts over (first block, no FCB)
    kAnswer,       // RSP_UD, built by Module::BuildAnswer
};

// The frame a module looks at: classified, and its bytes from the start
// byte (an extended frame from two bytes on, so that its fields lie where
// those of a long frame do).
struct ModuleFrame {
    FrameShape shape;
    const uint8_t* data = nullptr;
    int length = 0;

    uint8_t Function() const { return static_cast<uint8_t>(shape.C & ~0x30); }
    // The user data of a long frame behind the CI (without checksum and stop byte).
    std::span<const uint8_t> UserData() const;
    // A selection for this slave's selection CI (to 253, with the header of one).
    bool IsSelection(const MBSlaveValues& values) const;
};

struct PulseInput {
    uint32_t id = 0x12345678;  // BCD digits as hexadecimal digits
    uint8_t medium = 0x07;
    uint8_t unit = 0x13;       // VIF 00..7F, not 7C (a plain-text VIF would break the answer)
    uint64_t raw = 0;          // pulse count, 48 bits
    uint8_t numerator = 1;     // 1..255
    uint8_t denominator = 1;   // 1..127

    // The counter value: raw x numerator / denominator, truncated.
    uint64_t Counter() const { return raw * numerator / denominator; }
};

class PulseModule {
public:
    static constexpr uint8_t kDisabled = 0x1F;  // medium of input 2 that switches it off

    // Input 1 or 2 (anything else gives input 1).
    PulseInput& Input(int n) { return inputs_[n == 2 ? 1 : 0]; }
    const PulseInput& Input(int n) const { return inputs_[n == 2 ? 1 : 0]; }
    bool Input2Disabled() const { return inputs_[1].medium == kDisabled; }
    // The input the last selection chose: 0 none, 1 or 2.
    int SelectedInput() const { return selected_; }

    // Bus side (called through Module).
    bool TrySelect(MBSlaveValues& values, const ModuleFrame& frame, ModuleVerdict* verdict);
    void Write(const std::vector<DataRecord>& records, MBSlaveValues& values);
    void ApplicationReset(std::span<const uint8_t>) {}
    void LinkReset(bool deselected);
    void ExpectRead(uint8_t A);
    void BuildAnswer(MBSlaveValues& values, uint8_t* frame, int* length);
    // Input 1's identification number and medium are the slave's own.
    void SyncFrom(const MBSlaveValues& values);
    std::string Describe() const;

private:
    enum class Carries { kBoth, kFirst, kSecond };
    void SyncTo(MBSlaveValues& values) const;

    std::array<PulseInput, 2> inputs_{PulseInput{}, PulseInput{0x87654321}};
    int selected_ = 0;
    Carries carries_ = Carries::kBoth;
};

class ControlModule {
public:
    struct Relay {
        uint8_t configuration = 0;  // 100 x power-fail code + logic code, as written
        bool commanded = false;
        bool output = false;
        std::optional<bool> stuck;  // a fault: the output stays here whatever it is told
    };

    // Valid logic codes: 1..3 plus 4 and/or 8. Any other code (0, 4, 8, 12,
    // 16 and above) leaves the relay driven over the M-Bus.
    static bool LogicDriven(int code);
    static int LogicCode(uint8_t configuration) { return configuration % 100; }
    static int PowerFailCode(uint8_t configuration) { return configuration / 100; }

    bool InputState(int n) const { return inputs_[n == 2 ? 1 : 0]; }
    void SetInput(int n, bool on);
    const Relay& RelayState(int r) const { return relays_[r == 2 ? 1 : 0]; }
    void SetConfiguration(int r, uint8_t configuration);
    // A command over the M-Bus (ignored by a relay driven by logic).
    void Command(int r, bool on);
    // The power fails and returns: each relay switches as its power-fail code
    // says (0 keeps it). A relay driven by logic follows its inputs again at once.
    void PowerFail();
    // Makes the relay's output stick at `state` (nothing: works again).
    void SetStuck(int r, std::optional<bool> state);

    // Bus side.
    bool TrySelect(MBSlaveValues&, const ModuleFrame&, ModuleVerdict*) { return false; }
    void Write(const std::vector<DataRecord>& records, MBSlaveValues& values);
    void ApplicationReset(std::span<const uint8_t>) {}
    void LinkReset(bool) {}
    void ExpectRead(uint8_t) {}
    void BuildAnswer(MBSlaveValues& values, uint8_t* frame, int* length);
    void SyncFrom(const MBSlaveValues&) {}
    std::string Describe() const;

private:
    Relay& RelayAt(int r) { return relays_[r == 2 ? 1 : 0]; }
    // Output of every relay from its logic, its command and its fault.
    void Evaluate();

    std::array<bool, 2> inputs_{};
    std::array<Relay, 2> relays_{};
};

class AnalogModule {
public:
    enum Sensor : uint8_t { kPt500 = 0, kPt1000 = 1, kPt100 = 2, kRawPt100 = 3, kRawPt500 = 4 };
    // Which input the minimum, maximum and average are kept for.
    enum class MinMax { kA1, kA2, kTemperature };
    static constexpr uint8_t kMinMaxA2 = 0x40, kMinMaxTemperature = 0x80;

    struct Input {
        int32_t raw = 0;     // the A/D value x
        uint8_t unit = 0x13; // VIF 00..7F, not 7C
        uint8_t a = 1;       // value = a / b * x + c
        int8_t b = 1;
        int8_t c = 0;
    };
    struct Statistics {
        double minimum = 0, maximum = 0, sum = 0;
        uint64_t count = 0;
        double Average() const { return count == 0 ? 0.0 : sum / static_cast<double>(count); }
    };

    Input& AnalogInput(int n) { return inputs_[n == 2 ? 1 : 0]; }
    const Input& AnalogInput(int n) const { return inputs_[n == 2 ? 1 : 0]; }
    // Measured value of A1 or A2 (0 when b is 0).
    double Value(int n) const;
    double Temperature() const { return temperature_; }
    void SetTemperature(double celsius) { temperature_ = celsius; }
    uint8_t Mode() const { return mode_; }
    void SetMode(uint8_t mode);  // restarts the statistics when the min/max input changes
    uint8_t SensorCode() const { return mode_ & 0x3F; }
    MinMax MinMaxInput() const;
    const Statistics& Stats() const { return stats_; }
    void ResetStatistics() { stats_ = {}; }
    uint16_t Current() const { return current_; }  // µA
    void SetCurrent(uint16_t microamperes);
    uint64_t V1() const { return v1_; }
    uint64_t V2() const { return v2_; }
    void SetCalibration(uint64_t v1, uint64_t v2);
    bool ParameterTelegram() const { return parameters_; }

    // Bus side.
    bool TrySelect(MBSlaveValues&, const ModuleFrame&, ModuleVerdict*) { return false; }
    void Write(const std::vector<DataRecord>& records, MBSlaveValues& values);
    void ApplicationReset(std::span<const uint8_t> subcode);
    void LinkReset(bool) { parameters_ = false; }
    void ExpectRead(uint8_t) {}
    void BuildAnswer(MBSlaveValues& values, uint8_t* frame, int* length);
    void SyncFrom(const MBSlaveValues&) {}
    std::string Describe() const;

private:
    double MinMaxValue() const;
    Bytes Measurement();
    Bytes Parameters() const;

    std::array<Input, 2> inputs_{};
    double temperature_ = 20.0;
    uint8_t mode_ = 0;
    Statistics stats_;
    uint16_t current_ = 4000;
    uint64_t v1_ = 0, v2_ = 0;  // 48 bits each
    bool parameters_ = false;
};

class LevelConverter {
public:
    static constexpr uint8_t kVersion = 0x90;
    static constexpr uint8_t kMedium = 0x0E;

    bool Selected() const { return selected_; }
    // The rate of the last baud switch it was sent (0: none yet), and how many came.
    int RequestedBaud() const { return requestedBaud_; }
    int BaudSwitches() const { return baudSwitches_; }

    ModuleVerdict Handle(MBSlaveValues& values, const ModuleFrame& frame, std::string* note);
    std::string Describe() const;

private:
    bool selected_ = false;
    int requestedBaud_ = 0;
    int baudSwitches_ = 0;
};

class OpticalTransceiver {
public:
    static constexpr uint8_t kAddress = 251;
    static constexpr int kRelayBaud = 38400;

    // Its optical side runs at 38400 baud and relays to the modules.
    bool Engaged() const { return engaged_; }
    // CI and user data of the last SND_UD it took, and how many came.
    const Bytes& LastCommand() const { return lastCommand_; }
    int Commands() const { return commands_; }
    void Reset() { engaged_ = false; }

    ModuleVerdict Handle(MBSlaveValues& values, const ModuleFrame& frame, std::string* note);
    std::string Describe() const;

private:
    bool engaged_ = false;
    Bytes lastCommand_;
    int commands_ = 0;
};

// The model a simulated slave plays: one of the above, or none (an ordinary meter).
class Module {
public:
    Module() = default;
    Module(PulseModule m) : state_(std::move(m)) {}
    Module(AnalogModule m) : state_(std::move(m)) {}
    Module(ControlModule m) : state_(std::move(m)) {}
    Module(LevelConverter m) : state_(std::move(m)) {}
    Module(OpticalTransceiver m) : state_(std::move(m)) {}

    bool Empty() const { return std::holds_alternative<std::monostate>(state_); }
    std::optional<ModuleKind> Kind() const;
    template <class M>
    M* As() {
        return std::get_if<M>(&state_);
    }
    template <class M>
    const M* As() const {
        return std::get_if<M>(&state_);
    }

    // Pulse, Analog or Control.
    bool IsMakerModule() const;
    // Hears frames at whatever rate they come (converter, transceiver).
    bool HearsAnyRate() const;
    // An engaged transceiver: frames at its relay rate reach the modules.
    bool RelaysToModules() const;

    // Looks at a frame addressed to anyone; `note` receives a line for the
    // bus's log when the module has something to tell.
    ModuleVerdict Handle(MBSlaveValues& values, const ModuleFrame& frame, std::string* note);
    // The RSP_UD of a read that Handle answered with kAnswer (room for
    // MBSlaveValues::kMaxFrame bytes).
    void BuildAnswer(MBSlaveValues& values, uint8_t* frame, int* length);
    // Takes over what the bus description set in `values` (Pulse: input 1).
    void SyncFrom(const MBSlaveValues& values);
    // "Pulse module, firmware 1.3, input 2 87654321 medium 07"; empty for none.
    std::string Describe(const MBSlaveValues& values) const;

private:
    std::variant<std::monostate, PulseModule, AnalogModule, ControlModule, LevelConverter, OpticalTransceiver> state_;
};

// Sets up `values` and `module` for a participant of this kind and maker:
// manufacturer, version and medium of the variant, firmware 1.0, primary
// address (251 for the transceiver).
void SetUpModule(ModuleKind kind, Maker maker, uint8_t primary, MBSlaveValues* values, Module* module);

}  // namespace mbus::sim
