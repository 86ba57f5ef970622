// The Analog module's page without its widgets: the fields of the two
// analog inputs A1 and A2, of the platinum-sensor temperature input and of
// the current output; the record texts a write sends; the readout of the
// module's two telegrams into the fields; and the calibration values V1
// and V2 in which the module keeps the temperature parameters of each
// sensor.
//
// Writes are the data part of a user-data line ("7|" + address + "||51 "
// + text): the bus address and secondary address as FF (unchanged), the
// mode byte (sensor code plus the min/max choice), the parameters of A1
// (03 U 28 a b c) and A2 (83 40 U 28 a b c), the current output (82 C0 40
// FD 56, microamperes) and the calibration values (86 80 40 E6 28 and
// C6 80 40 E6 28, six bytes each). FE 28 00 00 00 and FF FF leave a block
// as it is.
//
// V1 and V2 are 48-bit values with one 16-bit slot per sensor: bytes 0-1
// for PT100 and raw PT100, 2-3 for PT500 and raw PT500 / PT1000, 4-5 for
// PT1000. A slot of V1 holds the low byte of t (ten times c), then the low
// nibbles of a and b; the same slot of V2 the next byte of t and the next
// nibbles. Modules with firmware number 0 know only V1, so their a and b
// are 4-bit and t 8-bit signed values.

#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "configurator/devices/analog_parameters.h"
#include "configurator/devices/result_parser.h"

namespace mbus::meridex {

// The sensor box, entry by entry (see SensorEntry).
inline constexpr std::array<std::string_view, kSensorCount> kSensorTexts = {
    "  PT100", "  PT500", "  PT1000", "  Rohwerte PT100", "  Rohwerte PT500 / PT1000",
};

// The sensor's code in the mode byte: PT100 2, PT500 0, PT1000 1, raw
// PT100 3, raw PT500 / PT1000 4. An entry out of range counts as entry 0.
int SensorCode(int sensorEntry);
// The entry of a sensor code; nothing for codes other than 0..4.
std::optional<int> SensorEntryOfCode(int code);
// The sensor's 16-bit slot in V1 and V2: 0 (bytes 0-1), 1 (2-3) or 2 (4-5).
// An entry out of range counts as entry 0.
int CalibrationSlot(int sensorEntry);

// The input whose minimum, maximum and average the module keeps: the
// "Min / Max" boxes of A1, A2 and the temperature input act as one choice.
enum class MinMaxChoice { kNone, kA1, kA2, kTemperature };
// The choice after one box was checked (it becomes the choice, the other
// two boxes clear) or cleared (no box is checked).
MinMaxChoice ToggleMinMax(MinMaxChoice current, AnalogInputKind box, bool checked);
// The box an input's choice checks.
inline bool MinMaxChecked(MinMaxChoice choice, AnalogInputKind box) {
    return choice == (box == AnalogInputKind::kA1   ? MinMaxChoice::kA1
                      : box == AnalogInputKind::kA2 ? MinMaxChoice::kA2
                                                    : MinMaxChoice::kTemperature);
}

inline constexpr uint8_t kModeMinMaxA2 = 0x40;
inline constexpr uint8_t kModeMinMaxTemperature = 0x80;
// The mode byte: the sensor code, plus 40h for the min/max choice A2 or
// 80h for the temperature input (nothing for A1 or no choice).
uint8_t ModeByte(int sensorEntry, MinMaxChoice choice);
// The min/max input a mode byte names (80h before 40h, else A1).
MinMaxChoice MinMaxOfMode(uint8_t mode);

// The unit box lists VIF 00..7F, entry = VIF. The byte written is the VIF
// with 80h added; entries 123, 124, 125 and 127 and every entry above 127
// are written as FEh (the module keeps its unit), no selection (a negative
// entry) as 80h.
uint8_t UnitByte(int unitEntry);
int UnitEntryOfVif(uint8_t vif);

// ---- Page fields -------------------------------------------------------------

struct AnalogInputFields {
    std::string value, min, max, average;  // two decimals in the language's notation
    int unitEntry = 2;                     // the unit box; -1 for no selection
    std::string a, b, c;                   // decimal texts
    bool operator==(const AnalogInputFields&) const = default;
};

struct TemperatureFields {
    std::string value, min, max, average;  // °C, one decimal in the language's notation
    int sensorEntry = kSensorPt100;
    std::string a, b, c;  // c with one decimal in the language's notation
    bool operator==(const TemperatureFields&) const = default;
};

struct AnalogPageFields {
    std::array<AnalogInputFields, 2> inputs;  // A1, A2
    TemperatureFields temperature;
    MinMaxChoice minMax = MinMaxChoice::kNone;
    std::string current;  // the current output in mA, three decimals in the language's notation
    // Kept with the page: the calibration values of the last parameter
    // telegram (48 bits each) and the module's firmware number (-1 unknown).
    uint64_t v1 = 0;
    uint64_t v2 = 0;
    int firmwareNumber = -1;
    bool operator==(const AnalogPageFields&) const = default;
};

// ---- Writes ----------------------------------------------------------------------

// Record texts for PendingRecords1. a, b and c of A1 and A2 are read as
// integers and sent as one byte each (negative values as their two's
// complement); a text without a number sends 00.
std::string WriteA1Text(const AnalogPageFields& page);
std::string WriteA2Text(const AnalogPageFields& page);
// The current (mA, with a comma or a point before its decimals) as
// microamperes, truncated and held at 0..65535, low byte first.
std::string WriteCurrentText(const AnalogPageFields& page);
uint16_t CurrentMicroamperes(std::string_view milliamperes);

// The temperature write queues two texts: the calibration records first,
// the parameter set with the new sensor code after them.
struct TemperatureWrite {
    std::string pendingRecords2;  // V1, and V2 for firmware above 0
    std::string pendingRecords1;  // the mode byte, all other blocks unchanged
};
TemperatureWrite WriteTemperature(const AnalogPageFields& page);

// ---- Calibration values ---------------------------------------------------------

inline constexpr uint64_t kCalibrationMask = (uint64_t{1} << 48) - 1;

// The temperature parameters of one sensor: c = t / 10.
struct TemperatureParameters {
    int a = 0;
    int b = 0;
    int t = 0;
    bool operator==(const TemperatureParameters&) const = default;
};

// Slot of V1: (t mod 256) x 256 + (a mod 16) x 16 + (b mod 16).
uint16_t CalibrationSlotValue1(const TemperatureParameters& p);
// Slot of V2: (t / 256 mod 256) x 256 + (a / 16 mod 16) x 16 + (b / 16 mod 16).
// Divisions go toward minus infinity, mod gives 0..m-1.
uint16_t CalibrationSlotValue2(const TemperatureParameters& p);
uint16_t SlotOf(uint64_t value, int slot);
uint64_t WithSlot(uint64_t value, int slot, uint16_t slotValue);
// "86 80 40 E6 28 " (V1) or "C6 80 40 E6 28 " (V2) and the six bytes,
// least significant first, each followed by a blank.
std::string CalibrationRecord(bool second, uint64_t value);

// A sensor's parameters from V1 and V2 (the inverse of the slot values):
// with firmware above 0 a is 0..255, b a signed byte and t 16-bit signed;
// with firmware 0 (or unknown) only V1 counts, a and b are signed nibbles
// and t a signed byte.
TemperatureParameters UnpackTemperature(uint64_t v1, uint64_t v2, int sensorEntry, int firmwareNumber);

// Selects a sensor and shows its a, b, c unpacked from the stored values.
void SelectSensor(AnalogPageFields& page, int sensorEntry, int languageId);

// ---- Readout ----------------------------------------------------------------------

enum class AnalogTelegram { kMeasurement, kParameters };

struct AnalogReadoutResult {
    AnalogTelegram telegram = AnalogTelegram::kMeasurement;
    // The parameter telegram is still to be read (as Readout::followUp:
    // set for a measurement telegram unless it answered the follow-up).
    bool followUp = false;
};

// Fills the page from an Analog answer (Readout of ParseAnswerLine).
//
// Measurement telegram (its first record is not the parameter set):
// records 1 to 3 are the values of A1, A2 and the temperature input, the
// first VIF of records 1 and 2 selects the unit boxes of A1 and A2;
// records 4 to 6 are minimum, maximum and average of the input named by the
// subunit of record 4 ("00000001" A2, "00000002" temperature, else A1),
// whose "Min / Max" box becomes the choice; every parameter field and the
// current are cleared. Fewer than six records: nothing. The values are
// shown with two decimals (A1, A2) or one (°C) in the notation of
// `languageId`; a value that is no number as delivered.
//
// Parameter telegram (first record the parameter set, whose value is the
// mode byte): sensor and min/max choice from the mode byte; the other
// records are recognised by their descriptors wherever they stand: A1 and
// A2 parameters (data field 03, subunit 0 / 1, VIFE 28) as a 24-bit w with
// a = w mod 256, b the middle and c the top byte signed; the current
// (subunit 3, FD 56) / 1000 in mA with three decimals; V1 and V2 (subunit 2, E6 28,
// storage 0 / 1) stored, and the selected sensor's a, b, c unpacked from
// them. The measured values stay as they are.
//
// The header's firmware number is kept with the page in both cases.
std::optional<AnalogReadoutResult> ReadAnalogAnswer(const Readout& readout, int languageId, AnalogPageFields& page);

}  // namespace mbus::meridex
