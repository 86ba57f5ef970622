// How mbusctl prints decoded answers: a readable table, JSON, or one of the
// cooked texts; and the options that choose it.

#pragma once

#include <ctime>
#include <iosfwd>
#include <string>
#include <vector>

#include "control/decode/answer_text.h"
#include "control/decode/telegram.h"

namespace mbus::cli {

struct OutputOptions {
    enum class Format { Table, Json, Cooked, Csv } format = Format::Table;
    CookedVariant variant = CookedVariant::Hex2;
    int language = 0;
    bool keepMultiplier = false;
};

// The usage lines of the output options.
extern const char* const kOutputUsage;

// Reads an output option at args[i] (--format, --language, --keep-multiplier),
// moving i past its value: 1 when it was one, 0 when it was not, -1 after
// writing a message about a bad value to `err`.
int ParseOutputOption(const std::vector<std::string>& args, std::size_t& i, OutputOptions& o, std::ostream& err,
                      const char* command);
// Sets the library's language and multiplier option from the options.
void ApplyOutputOptions(const OutputOptions& o);
// Prints one decoded answer in the chosen format (`number` titles the table).
void PrintAnswer(std::ostream& out, const MBTelegram& t, const OutputOptions& o, int number);
// The same text appended to `out` (for writers that collect many answers).
void AppendAnswer(std::string& out, const MBTelegram& t, const OutputOptions& o, int number);
// One meter's readout: the telegrams of one read (several when the meter
// announced more data) under one header, its records numbered on; `number`
// titles the table, `readAt` is the time of the read.
void PrintReadout(std::ostream& out, const std::vector<const MBTelegram*>& telegrams, const OutputOptions& o,
                  int number, const std::string& address, std::time_t readAt);
// The readout as one JSON object: "address", "readAt" (ISO 8601 local
// time with offset) and "complete" (false only for what an incomplete read
// got), the answer of the last telegram, and the records of all telegrams
// in "records".
std::string ReadoutJson(const std::vector<const MBTelegram*>& telegrams, const std::string& address,
                        std::time_t readAt, bool complete = true);
// The CSV header line and a readout as CSV rows (RFC 4180 quoting), one a
// record, lines joined by "\n" without the last one's: time, address as
// given, secondary address (16 hex digits), identification, manufacturer,
// medium, storage, tariff, subunit, function, then description, value and
// unit as in the table (numbers with a decimal point, e.g. 12345.678 and
// m³). A readout without records gives one row with empty record columns.
// A time of 0 leaves the time column empty.
extern const char* const kCsvHeader;
std::string CsvRows(const std::vector<const MBTelegram*>& telegrams, const std::string& address, std::time_t readAt);

// A record as a person reads it: the description without the unit, the
// value scaled exactly into the natural unit of its quantity (4711 kWh,
// 55.5 °C, 12345.678 m³), dates as 2026-12-08 or 2026-12-08 14:30. The
// description is in `language` (0..9), or the current one when negative.
struct ReadableValue {
    std::string description, value, unit;
};
ReadableValue Readable(const MBTelegram& t, const MBDataRecord& rec, int language = -1);
// A medium text with blanks for underscores ("Heat (outlet)").
std::string ReadableMedium(std::string medium);
// A time as "2026-12-08 14:30:05", or (iso) "2026-12-08T14:30:05+01:00".
std::string LocalTime(std::time_t when, bool iso);

// A name for a reception result ("long frame", "single character E5h").
const char* FrameKind(int result);

}  // namespace mbus::cli
