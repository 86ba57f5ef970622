#include "platform/text/language_table.h"

#include <algorithm>

namespace mbus::text {

LanguageTable::LanguageTable(std::vector<std::size_t> widths)
    : widths_(std::move(widths)), cells_(widths_.size()) {}

void LanguageTable::Set(int row, int language, std::string_view utf8) {
    if (row < 0 || row >= Rows() || language < 0 || language >= kUserLanguage) return;
    const std::size_t max = widths_[static_cast<std::size_t>(row)] - 1;
    std::string bytes = FromUtf8(utf8, CodePageOfLanguage(language));
    if (bytes.size() > max) bytes.resize(max);
    cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(language)] = std::move(bytes);
    if (language == 0) cells_[static_cast<std::size_t>(row)][kUserLanguage] = std::string(CutUtf8Characters(utf8, max));
}

std::string_view LanguageTable::Cell(int row, int language) const {
    if (row < 0 || row >= Rows() || language < 0 || language >= kLanguages) return {};
    return cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(language)];
}

std::string LanguageTable::Utf8(int row, int language) const {
    return ToUtf8(Cell(row, language), CodePageOfLanguage(language));
}

bool LanguageTable::WriteUser(int row, int language, std::string_view utf8, std::size_t maxCharacters) {
    if (language != kUserLanguage || row < 0 || row >= Rows()) return false;
    std::string clean = FromUtf8(utf8, CodePage::Utf8);
    clean.erase(std::find(clean.begin(), clean.end(), '\0'), clean.end());
    // The user column holds UTF-8: its cells count characters, so that a
    // text in any script keeps as many characters as a code-page cell.
    const std::size_t max = std::min(widths_[static_cast<std::size_t>(row)] - 1, maxCharacters);
    cells_[static_cast<std::size_t>(row)][kUserLanguage] = std::string(CutUtf8Characters(clean, max));
    return true;
}

}  // namespace mbus::text
