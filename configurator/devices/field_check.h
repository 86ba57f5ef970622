// The check of the fields a write sends to a module: meter counts and
// factors of the Pulse page, the parameters of the Analog page's inputs and
// its output current. One table holds each kind of field's name and limits;
// a write whose fields are not all numbers within their limits is refused
// with a message, and nothing is sent.
//
// A field's whole text must be the number: blanks around it, a sign,
// digits and, for fields with decimals, one separator (a comma or a point,
// in every language) and at most the field's number of decimals.
// "12ab-3.5e", "" and "1e3" are no numbers; neither is "1.234,5": a
// thousands separator is not taken, and the message says so.

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "configurator/devices/analog_page.h"
#include "configurator/devices/analog_parameters.h"
#include "configurator/devices/pulse_page.h"

namespace mbus::meridex {

enum class FieldKind {
    kMeterCount,         // Pulse counter value
    kFactorNumerator,    // Pulse factor
    kFactorDenominator,
    kParameterA,         // A1 and A2: value = a / b * x + c
    kParameterB,
    kParameterC,
    kTemperatureA,       // the temperature input's parameters
    kTemperatureB,
    kTemperatureC,
    kOutputCurrent,      // mA
};

// A field's limits: lo..hi in units of 10^-places; `places` is also the
// most decimals the field takes (0: whole numbers only).
struct FieldLimits {
    int64_t lo = 0;
    int64_t hi = 0;
    int places = 0;
    bool operator==(const FieldLimits&) const = default;
};

// The limits of a kind of field. The temperature parameters of a module
// with firmware number 0 (or none known, below 0) are narrower: a and b
// are 4-bit values and c one byte of tenths.
FieldLimits LimitsOf(FieldKind kind, int firmwareNumber = 1);

// A number as a field holds it, when its whole text is one: see above.
// More than 18 significant digits are no number a field can hold.
std::optional<DecimalNumber> FieldNumber(std::string_view text, int places);

// One field of a write.
struct FieldEntry {
    FieldKind kind = FieldKind::kMeterCount;
    std::string input;    // "P1 / Z2", "A1", ...; empty for a field of its own
    std::string text;     // as typed
    FieldLimits limits;   // LimitsOf(kind) unless the write narrows them
    std::string because;  // why they were narrowed, for the message
};

// The message for the first field that is not a number within its limits;
// nothing when every field passes. It names the field, quotes its text,
// says what is wrong and what would be taken (its limits in the notation
// of `languageId`), and that nothing was written.
std::optional<std::string> RefusedField(const std::vector<FieldEntry>& fields, int languageId);

// The fields of each write. Pulse "Write All" of input 1 or 2: counter and
// factor, where the counter's upper limit is also what the module's 48-bit
// raw count can hold under the factor. Analog: a, b and c of A1, A2 or the
// temperature input (by the module's firmware); the output current.
std::vector<FieldEntry> PulseWriteAllFields(int input, const PulseInputFields& fields);
std::vector<FieldEntry> AnalogParameterFields(AnalogInputKind input, const AnalogPageFields& page);
std::vector<FieldEntry> OutputCurrentFields(const AnalogPageFields& page);

}  // namespace mbus::meridex
