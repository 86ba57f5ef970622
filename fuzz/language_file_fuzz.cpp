// Language files from anywhere: arbitrary bytes are loaded into a fresh text
// table, which must keep its limits and its other columns, and whose German
// column must survive an export and a second load.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "configurator/shell/language_file.h"

using namespace mbus::meridex;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const TextTable reference;
    static TextTable table;
    static TextTable again;
    table = reference;
    again = reference;

    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const int rows = LoadLanguageFile(table, bytes);

    std::size_t lines = 0;
    for (char c : bytes) lines += c == '\r';
    Check(rows >= 0 && rows <= kTextCount);
    Check(static_cast<std::size_t>(rows) == std::min<std::size_t>(lines, kTextCount));
    Check(table.LanguageFileLoaded());
    for (int row = 0; row < kTextCount; ++row) {
        for (int column = 0; column < kColumnCount; ++column) {
            const std::string_view cell = table.Cell(row, column);
            Check(cell.size() <= kMaxTextBytes);
            Check(cell.find('\0') == std::string_view::npos);
            if (column != kGerman || row >= rows) Check(cell == reference.Cell(row, column));
        }
        const std::string_view german = table.Cell(row, kGerman);
        if (row < rows) Check(german.size() <= kLanguageLineTextMax && german.find('\r') == std::string_view::npos);
        Check(!table.Utf8(row, kGerman).empty() || german.empty());
    }

    Check(LoadLanguageFile(again, RenderLanguageFile(table, kGerman)) == kTextCount);
    for (int row = 0; row < kTextCount; ++row)
        Check(again.Cell(row, kGerman) == table.Cell(row, kGerman).substr(0, kLanguageLineTextMax));
    return 0;
}
