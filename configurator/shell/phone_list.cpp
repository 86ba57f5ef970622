#include "configurator/shell/phone_list.h"

#include <algorithm>
#include <utility>

#include "platform/text/codepage.h"

namespace mbus::meridex {

std::size_t Utf8CharacterCount(std::string_view utf8) {
    std::size_t count = 0;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        std::size_t length = 1;
        if (lead >= 0xF0 && lead <= 0xF4)
            length = 4;
        else if (lead >= 0xE0)
            length = lead <= 0xEF ? 3 : 1;
        else if (lead >= 0xC2)
            length = 2;
        // A sequence counts as one character only when all its continuation
        // bytes are there; otherwise the lead byte counts alone.
        bool whole = i + length <= utf8.size();
        for (std::size_t k = 1; whole && k < length; ++k)
            whole = (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80;
        i += whole ? length : 1;
        ++count;
    }
    return count;
}

bool PhoneFieldAccepts(std::string_view text, std::size_t maxCharacters) {
    return Utf8CharacterCount(text) <= std::min(maxCharacters, kPhoneFieldCharacters);
}

PhoneListEntry FittedEntry(PhoneListEntry entry) {
    entry.description = std::string(text::CutUtf8Characters(entry.description, kPhoneFieldCharacters));
    entry.number = std::string(text::CutUtf8Characters(entry.number, kPhoneFieldCharacters));
    return entry;
}

PhoneList::PhoneList(std::vector<PhoneListEntry> rows) : rows_(std::move(rows)) {}

PhoneListEntry PhoneList::EditStart(std::optional<std::size_t> selected) const {
    return Valid(selected) ? rows_[*selected] : PhoneListEntry{};
}

bool PhoneList::New(const PhoneListEntry& entry) {
    if (entry.number.empty()) return false;
    rows_.push_back(FittedEntry(entry));
    return true;
}

bool PhoneList::Edit(std::optional<std::size_t> selected, const PhoneListEntry& entry) {
    if (!Valid(selected)) return New(entry);
    if (entry.number.empty()) return false;
    rows_[*selected] = FittedEntry(entry);
    return true;
}

bool PhoneList::Delete(std::optional<std::size_t> selected) {
    if (!Valid(selected)) return false;
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(*selected));
    return true;
}

PhoneListOutcome PhoneList::Close(bool ok, std::optional<std::size_t> selected) const {
    PhoneListOutcome outcome;
    outcome.list = rows_;
    outcome.ok = ok;
    if (Valid(selected)) {
        outcome.chosenNumber = rows_[*selected].number;
        if (ok) outcome.chosenDescription = rows_[*selected].description;
    }
    return outcome;
}

std::string DescriptionOf(const std::vector<PhoneListEntry>& list, const std::string& number, bool* found) {
    for (const PhoneListEntry& entry : list) {
        if (entry.number == number) {
            if (found != nullptr) *found = true;
            return entry.description;
        }
    }
    if (found != nullptr) *found = false;
    return number;
}

std::string ConnectedTitle(std::string_view connectedTo, const std::vector<PhoneListEntry>& list,
                           const std::string& number) {
    std::string title = "MERIDEX    ";
    title += connectedTo;
    title += DescriptionOf(list, number, nullptr);
    return title;
}

}  // namespace mbus::meridex
