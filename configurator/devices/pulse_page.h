// The Pulse page without its widgets: the rules of its fields, the record
// texts its write buttons send, and the readout of a Pulse answer.
//
// The Pulse module counts pulses on two inputs, P1 (Z2) and P2 (Z1), and
// presents each as a meter of its own: a secondary address (serial number,
// manufacturer, version, medium), a counter with a unit VIF, and a factor
// numerator / denominator. The module keeps the raw pulse count; the
// counter shown is raw x numerator / denominator.
//
// The dialog hands in the fields of one input as texts and box entries and
// gets back texts to show or to queue as the data part of
// "7|" + address + "||51 " + text.

#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "configurator/devices/result_parser.h"

namespace mbus::meridex {

// Longest texts of the input fields (the dialog sets them as the fields'
// maximum length).
inline constexpr std::size_t kPulseSerialLength = 8;
inline constexpr std::size_t kPulseCounterLength = 18;
inline constexpr std::size_t kPulseFactorLength = 3;

// Limits of the factor fields.
inline constexpr int kNumeratorMin = 1, kNumeratorMax = 255;
inline constexpr int kDenominatorMin = 1, kDenominatorMax = 127;

// Entries of the medium box: 0..31, each the medium byte itself (entry 31
// of input 2 disables that input).
inline constexpr int kPulseMediumEntries = 32;
// The unit box: entries 0..3 are the four named units ("< Energy [Wh] >",
// "< Energy [kWh] >", "< Volume [l] >", "< Volume [m3] >"), entry 4 + v is
// VIF v for v = 00..7F.
inline constexpr int kPulseNamedUnits = 4;
inline constexpr int kPulseUnitEntries = kPulseNamedUnits + 128;

// The fields of one input as the dialog holds them.
struct PulseInputFields {
    std::string serial;       // decimal digits
    int mediumEntry = 0;      // medium box entry
    int unitEntry = 0;        // unit box entry
    std::string counter;      // decimal counter value
    std::string numerator;    // factor numerator, decimal
    std::string denominator;  // factor denominator, decimal
    std::string factorResult; // numerator / denominator, FactorResultText (read-only field)
};

// ---------------------------------------------------------------------------
// Field exit

// The serial field on leaving it: every character that is not a decimal
// digit goes, at most 8 digits stay, and the text is filled up on the
// right with "0" to 8 digits ("1234" gives "12340000", "" gives "00000000").
std::string NormalisedSerial(std::string_view text);

// The counter field's text cut to its 18 characters.
std::string LimitedCounter(std::string_view text);

// A factor field read as a number: leading blanks, an optional sign and
// the decimal digits that follow (as atoi reads it). An empty field or one
// that does not begin with a number reads 0, and so clamps to the lower
// limit 1.
int FactorFieldValue(std::string_view text);

// numerator / denominator with three decimals in the language's notation
// ("10.000", "0.333" in English, "10,000" in German); empty when the
// denominator is 0 (a readout of a factor the module should not have).
std::string FactorResultText(int numerator, int denominator, int languageId);

// Leaving a factor field of an input: its numerator is clamped to 1..255
// and its denominator to 1..127 (both fields, whichever was left), both
// are written back as decimal texts and the factor result is recomputed.
// A field whose text is no whole number (FieldNumber) stays as typed, so
// that a write refuses it instead of sending a number nobody gave; the
// factor result is then empty.
void ClampFactor(PulseInputFields& fields, int languageId);

// ---------------------------------------------------------------------------
// Boxes

// Unit box entry to the VIF byte written: 0 -> 03, 1 -> 06, 2 -> 13,
// 3 -> 16; 127, 128, 129 and 131 (VIFs 7B, 7C, 7D, 7F) -> 7E; any other
// entry e -> e - 4 limited to 00..7F.
int UnitEntryToVif(int entry);
// VIF byte read to unit box entry: 03 -> 0, 06 -> 1, 13 -> 2, 16 -> 3,
// any other v -> v + 4.
int VifToUnitEntry(int vif);
// The medium byte of a medium box entry, limited to 00..1F (no selection,
// -1, gives 00).
int MediumByte(int mediumEntry);

// ---------------------------------------------------------------------------
// Writing

// The raw pulse count sent for a counter value: counter x denominator /
// numerator, truncated, of which the low 48 bits are sent.
//
// The counter text is read as its leading decimal number (blanks, sign,
// digits; nothing readable is 0), saturating at the limits of a signed
// 64-bit integer. The product is formed in 128 bits: an 18-digit counter
// times a denominator up to 127 does not fit 64 bits, and a 64-bit product
// would wrap before the division and send a count that has nothing to do
// with the counter. The exact quotient is then cut to 48 bits (a negative
// one as its two's complement). A numerator below 1 is taken as 1 and a
// denominator below 1 as 1, as leaving the fields would clamp them.
uint64_t RawCounter(std::string_view counter, int numerator, int denominator);

// The largest counter whose raw count under the factor numerator /
// denominator (each taken as at least 1) still fits the module's 48 bits.
int64_t LargestCounter(int numerator, int denominator);

// The record texts of the two write buttons of input 1 or 2 (any other
// number is taken as input 1). The serial is normalised and the factor
// clamped as on leaving the fields, so that a text is always whole. The
// manufacturer bytes are always C4 59 and the version 95, whichever maker
// code the module has.
std::string PulseWriteSerialText(int input, const PulseInputFields& fields);
std::string PulseWriteAllText(int input, const PulseInputFields& fields);

// ---------------------------------------------------------------------------
// Readout

// One input's fields as a readout fills them.
struct PulseInputReadout {
    bool filled = false;       // the answer carries this input (its fields are shown)
    std::string serial;        // 8 digits
    int mediumEntry = -1;      // the medium byte; -1 when not readable
    int unitEntry = -1;        // unit box entry; -1 when the answer has no counter record
    std::string counter;       // the counter record's value text
    std::string numerator;     // decimal texts; empty when the answer has no factor record
    std::string denominator;
    std::string factorResult;  // FactorResultText; empty without a factor or with denominator 0
};

struct PulseReadout {
    PageType page = kPageEmpty;  // kPagePulseInput1, kPagePulseInput2 or kPagePulseBoth
    PulseInputReadout input[2];
};

// Reads a parsed Pulse answer. The first two records are the counter and
// factor of the first input in the answer. When 61 characters or more
// follow them, the answer carries both inputs: records 3 and 4 are input
// 2's counter and factor and record 5 its secondary address (read as a
// decimal 64-bit number: the low 32 bits are the serial, the top byte the
// medium); the header's identification and medium belong to input 1.
// Otherwise the answer carries one input, input 2 when the header's status
// is "01" and input 1 else, and the header's fields belong to it.
// Empty (the job fails) when the answer is no Pulse answer or its records
// make fewer than 40 characters. The factor result is in the notation of
// `languageId`.
std::optional<PulseReadout> ReadPulse(const Readout& r, int languageId);

}  // namespace mbus::meridex
