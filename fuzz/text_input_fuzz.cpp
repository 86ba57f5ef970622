// Feeds arbitrary text through the parsers of text that hosts and users
// hand in: hex telegrams of the command line, number and date conversions,
// code-page conversion and writes to the user text column.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "control/decode/conversions.h"
#include "control/decode/layer7.h"
#include "control/decode/text_tables.h"
#include "platform/text/codepage.h"
#include "tools/mbusctl/hex_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string sink;
    const auto parsed = mbus::cli::ParseHexBytes(text);
    sink += parsed.error;
    sink += mbus::LongToHexAsc(mbus::HexAscToLong(text));
    sink += mbus::FloatToHexAsc(text);
    sink += mbus::DateToHexAsc(text);
    for (auto page : {mbus::text::CodePage::Windows1252, mbus::text::CodePage::Windows1251,
                      mbus::text::CodePage::Windows1250, mbus::text::CodePage::Utf8}) {
        sink += mbus::text::ToUtf8(text, page);
        sink += mbus::text::FromUtf8(text, page);
        sink += mbus::text::Utf16ToUtf8(mbus::text::ToUtf16(text, page));
    }
    sink += mbus::text::CutUtf8(text, size / 2);
    const std::size_t row = size > 0 ? data[0] : 0;
    mbus::WriteUserCell(mbus::TextTable::MediumVar, static_cast<int>(row % 40), 9, text);
    mbus::WriteUserCell(mbus::TextTable::VIFEVar, static_cast<int>(row), 9, text);
    char medium[32] = {};
    std::string cut(text.substr(0, 31));
    std::copy(cut.begin(), cut.end(), medium);
    mbus::ChangeMediumLanguage(9, static_cast<int>(row % 11), medium);
    uint8_t code = 0;
    mbus::CalculateMedium(1, medium, &code);
    return sink.size() == 0x7FFFFFFF ? 1 : 0;
}
