// The phone list as the phone-number dialogs edit it, and the lookup of a
// number's description.
//
// The dialog CPhoneNumbers shows one row per record. "New" appends a record
// when the edit dialog ends with OK and a number; "Edit" replaces the
// selected record the same way (with no row selected it is "New"); "Delete"
// removes the selected record without asking. The dialog ends either way
// with the list rebuilt from its rows, so edits survive Cancel; only OK
// hands a chosen number to the main dialog.
//
// Texts are UTF-8. A record's fields hold at most kPhoneFieldCharacters characters;
// the edit dialog takes at most kDescriptionMaxCharacters and
// kNumberMaxCharacters characters as well.

#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "configurator/shell/settings.h"

namespace mbus::meridex {

// What the edit dialog lets the user type into its two fields.
inline constexpr std::size_t kDescriptionMaxCharacters = 50;
inline constexpr std::size_t kNumberMaxCharacters = 40;

// Number of characters (code points) of UTF-8 text; each malformed byte
// counts as one.
std::size_t Utf8CharacterCount(std::string_view utf8);

// Whether an edit field may hold `text`: at most `maxCharacters` characters
// and at most kPhoneFieldCharacters.
bool PhoneFieldAccepts(std::string_view text, std::size_t maxCharacters);

// The record with each field cut to kPhoneFieldCharacters characters.
PhoneListEntry FittedEntry(PhoneListEntry entry);

// How the phone-number dialog ended.
struct PhoneListOutcome {
    std::vector<PhoneListEntry> list;  // the rows, in their order
    std::string chosenNumber;          // number of the selected row; empty without one
    std::string chosenDescription;     // its description after OK; empty after Cancel
    bool ok = false;                   // ended with OK (or a double-click on a row)

    // Whether the main dialog takes the chosen number into its number field:
    // only after OK, and only when a row was selected.
    bool SetsNumberField() const { return ok && !chosenNumber.empty(); }
};

// The rows of the phone-number dialog. Rows are addressed by index; a row
// "not selected" is std::nullopt (as is an index past the end).
class PhoneList {
public:
    explicit PhoneList(std::vector<PhoneListEntry> rows = {});

    const std::vector<PhoneListEntry>& Rows() const { return rows_; }
    std::size_t Size() const { return rows_.size(); }

    // What the edit dialog starts with for "Edit": the selected row, or empty
    // fields when no row is selected (the dialog then works as "New").
    PhoneListEntry EditStart(std::optional<std::size_t> selected) const;

    // Appends `entry` (fields fitted) when its number is not empty. True
    // when a row was added.
    bool New(const PhoneListEntry& entry);

    // Replaces the selected row by `entry` (fields fitted) when its number is
    // not empty; with no row selected the same as New. True when the list
    // changed.
    bool Edit(std::optional<std::size_t> selected, const PhoneListEntry& entry);

    // Removes the selected row. False when no row is selected.
    bool Delete(std::optional<std::size_t> selected);

    // The end of the dialog with OK (`ok`) or Cancel: the list is the rows
    // either way; the selected row's number is the chosen number, and after
    // OK its description the chosen description.
    PhoneListOutcome Close(bool ok, std::optional<std::size_t> selected) const;

private:
    bool Valid(std::optional<std::size_t> row) const { return row && *row < rows_.size(); }

    std::vector<PhoneListEntry> rows_;
};

// The description of `number`: that of the first record whose number equals
// `number` exactly (an empty description included), or `number` itself when
// no record has it. *found (when given) tells whether a record matched; the
// main dialog's description field shows the description only then and is
// cleared otherwise.
std::string DescriptionOf(const std::vector<PhoneListEntry>& list, const std::string& number, bool* found);

// The main window's title while a modem connection stands: "MERIDEX", four
// blanks, `connectedTo` (text 72, "Connected to   ") and the description of
// the dialled number (DescriptionOf: the number itself when no record has it).
std::string ConnectedTitle(std::string_view connectedTo, const std::vector<PhoneListEntry>& list,
                           const std::string& number);

}  // namespace mbus::meridex
