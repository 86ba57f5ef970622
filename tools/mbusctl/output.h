// How mbusctl prints decoded answers: a readable table, JSON, or one of the
// cooked texts; and the options that choose it.

#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "control/decode/answer_text.h"
#include "control/decode/telegram.h"

namespace mbus::cli {

struct OutputOptions {
    enum class Format { Table, Json, Cooked } format = Format::Table;
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
// A name for a reception result ("long frame", "single character E5h").
const char* FrameKind(int result);

}  // namespace mbus::cli
