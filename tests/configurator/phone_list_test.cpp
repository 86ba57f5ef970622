// The phone list's rules: New, Edit, Delete, how the dialog ends, the field
// limits and the description lookup.

#include "configurator/shell/phone_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "configurator/shell/languages.h"
#include "platform/profile/ini_file.h"

namespace mbus::meridex {
namespace {

using namespace std::string_literals;

const std::vector<PhoneListEntry> kThree = {
    {"Z\xC3\xA4hler S\xC3\xBC" "d", "0891"},
    {"Office", "+49 30 5"},
    {"", "112"},
};

TEST(PhoneListRows, NewAppendsOnlyARecordWithANumber) {
    PhoneList list(kThree);
    EXPECT_FALSE(list.New({"no number", ""}));
    EXPECT_EQ(list.Rows(), kThree);

    EXPECT_TRUE(list.New({"", "0"}));
    EXPECT_TRUE(list.New({"Depot", "0171"}));
    ASSERT_EQ(list.Size(), 5u);
    EXPECT_EQ(list.Rows()[3], (PhoneListEntry{"", "0"}));
    EXPECT_EQ(list.Rows()[4], (PhoneListEntry{"Depot", "0171"}));
    // The rows before stay as they were, in their order.
    EXPECT_EQ(std::vector<PhoneListEntry>(list.Rows().begin(), list.Rows().begin() + 3), kThree);
}

TEST(PhoneListRows, EditReplacesTheSelectedRowOrWorksAsNew) {
    PhoneList list(kThree);
    EXPECT_EQ(list.EditStart(1), kThree[1]);
    EXPECT_EQ(list.EditStart(std::nullopt), PhoneListEntry{});
    EXPECT_EQ(list.EditStart(3), PhoneListEntry{});  // past the end: nothing selected

    EXPECT_TRUE(list.Edit(1, {"Office B", "+49 30 6"}));
    EXPECT_EQ(list.Rows(), (std::vector<PhoneListEntry>{kThree[0], {"Office B", "+49 30 6"}, kThree[2]}));

    // An empty number leaves the row as it was.
    EXPECT_FALSE(list.Edit(0, {"gone?", ""}));
    EXPECT_EQ(list.Rows()[0], kThree[0]);

    // No row selected: appended, as New would.
    EXPECT_TRUE(list.Edit(std::nullopt, {"Depot", "0171"}));
    ASSERT_EQ(list.Size(), 4u);
    EXPECT_EQ(list.Rows()[3], (PhoneListEntry{"Depot", "0171"}));
    EXPECT_FALSE(list.Edit(std::nullopt, {"Depot", ""}));
    EXPECT_EQ(list.Size(), 4u);
}

TEST(PhoneListRows, DeleteRemovesOnlyTheSelectedRow) {
    PhoneList list(kThree);
    EXPECT_FALSE(list.Delete(std::nullopt));
    EXPECT_FALSE(list.Delete(3));
    EXPECT_EQ(list.Rows(), kThree);

    EXPECT_TRUE(list.Delete(1));
    EXPECT_EQ(list.Rows(), (std::vector<PhoneListEntry>{kThree[0], kThree[2]}));
    EXPECT_TRUE(list.Delete(1));
    EXPECT_TRUE(list.Delete(0));
    EXPECT_TRUE(list.Rows().empty());
    EXPECT_FALSE(list.Delete(0));
}

TEST(PhoneListClose, OkChoosesTheSelectedRowsNumberAndDescription) {
    PhoneList list(kThree);
    const PhoneListOutcome outcome = list.Close(true, 0);
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.chosenNumber, "0891");
    EXPECT_EQ(outcome.chosenDescription, "Z\xC3\xA4hler S\xC3\xBC" "d");
    EXPECT_EQ(outcome.list, kThree);
    EXPECT_TRUE(outcome.SetsNumberField());

    // A row without description still gives its number.
    const PhoneListOutcome bare = list.Close(true, 2);
    EXPECT_EQ(bare.chosenNumber, "112");
    EXPECT_EQ(bare.chosenDescription, "");
    EXPECT_TRUE(bare.SetsNumberField());
}

TEST(PhoneListClose, CancelKeepsTheEditsButHandsNothingToTheMainDialog) {
    PhoneList list(kThree);
    ASSERT_TRUE(list.Edit(0, {"Meter north", "0892"}));
    ASSERT_TRUE(list.Delete(1));
    ASSERT_TRUE(list.New({"Depot", "0171"}));
    const std::vector<PhoneListEntry> edited = {{"Meter north", "0892"}, kThree[2], {"Depot", "0171"}};

    const PhoneListOutcome outcome = list.Close(false, 2);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.list, edited);
    // The number is taken all the same, the description is not.
    EXPECT_EQ(outcome.chosenNumber, "0171");
    EXPECT_EQ(outcome.chosenDescription, "");
    EXPECT_FALSE(outcome.SetsNumberField());
}

TEST(PhoneListClose, OkWithoutASelectedRowLeavesTheNumberField) {
    PhoneList list(kThree);
    const PhoneListOutcome outcome = list.Close(true, std::nullopt);
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.chosenNumber, "");
    EXPECT_EQ(outcome.chosenDescription, "");
    EXPECT_EQ(outcome.list, kThree);
    EXPECT_FALSE(outcome.SetsNumberField());
}

TEST(PhoneListClose, DeletingEveryRowSavesAnEmptyList) {
    // The file had three entries before.
    Settings settings;
    settings.phoneList = kThree;
    profile::IniFile ini;
    SaveSettings(settings, std::nullopt, &ini);
    ASSERT_EQ(ini.GetString(kPhoneListSection, "PhoneListNumber2"), "112");

    PhoneList list(settings.phoneList);
    while (list.Delete(0)) {
    }
    const PhoneListOutcome outcome = list.Close(true, std::nullopt);
    EXPECT_TRUE(outcome.list.empty());
    EXPECT_FALSE(outcome.SetsNumberField());

    settings.phoneList = outcome.list;
    SaveSettings(settings, std::nullopt, &ini);
    EXPECT_EQ(ini.GetString(kPhoneListSection, "PhoneListEntries"), "0");
    EXPECT_FALSE(ini.Find(kPhoneListSection, "PhoneListNumber0").has_value());
    EXPECT_FALSE(ini.Find(kPhoneListSection, "PhoneListDescription0").has_value());
    EXPECT_EQ(ini.Text().find("PhoneListNumber"), std::string::npos) << ini.Text();
    EXPECT_TRUE(LoadSettings(ini).phoneList.empty());
}

TEST(PhoneListFields, EditFieldsTakeTheirCharactersWithinTheRecord) {
    const std::string cyrillic = "\xD0\x96";  // one character, two bytes
    const struct {
        std::string text;
        std::size_t maxCharacters;
        bool accepted;
    } cases[] = {
        {"", kNumberMaxCharacters, true},
        {std::string(40, '1'), kNumberMaxCharacters, true},
        {std::string(41, '1'), kNumberMaxCharacters, false},
        {std::string(50, 'd'), kDescriptionMaxCharacters, true},
        {std::string(51, 'd'), kDescriptionMaxCharacters, false},
        // Characters count, whatever their bytes; the record holds 59 of them.
        {[&] { std::string s; for (int i = 0; i < 50; ++i) s += cyrillic; return s; }(), kDescriptionMaxCharacters, true},
        {[&] { std::string s; for (int i = 0; i < 51; ++i) s += cyrillic; return s; }(), kDescriptionMaxCharacters, false},
        {std::string(58, 'x') + cyrillic, 70, true},
        {std::string(59, 'x') + cyrillic, 70, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PhoneFieldAccepts(c.text, c.maxCharacters), c.accepted)
            << c.text.size() << " bytes, at most " << c.maxCharacters << " characters";
}

TEST(PhoneListFields, CharactersAreCountedAsCodePoints) {
    EXPECT_EQ(Utf8CharacterCount(""), 0u);
    EXPECT_EQ(Utf8CharacterCount("0891"), 4u);
    EXPECT_EQ(Utf8CharacterCount("Z\xC3\xA4hler"), 6u);                 // ä: two bytes
    EXPECT_EQ(Utf8CharacterCount("\xE2\x82\xAC" "5"), 2u);              // €: three bytes
    EXPECT_EQ(Utf8CharacterCount("\xF0\x9F\x93\x9E"), 1u);              // a four-byte character
    EXPECT_EQ(Utf8CharacterCount("a\xC3"), 2u);                         // cut sequence: the lead byte alone
    EXPECT_EQ(Utf8CharacterCount("\xC3(\xFF\x80"), 4u);                 // each malformed byte on its own
}

TEST(PhoneListFields, RecordsAreFittedToTheFieldSize) {
    const std::string longNumber(70, '7');
    // 58 ASCII characters, a two-byte one and one more: the 59th is kept whole.
    const std::string longDescription = std::string(58, 'a') + "\xC3\xA4" "b";
    const PhoneListEntry fitted = FittedEntry({longDescription, longNumber});
    EXPECT_EQ(fitted.number, std::string(kPhoneFieldCharacters, '7'));
    EXPECT_EQ(fitted.description, std::string(58, 'a') + "\xC3\xA4");

    PhoneList list;
    ASSERT_TRUE(list.New({longDescription, longNumber}));
    EXPECT_EQ(list.Rows()[0], fitted);
    ASSERT_TRUE(list.Edit(0, {"short", longNumber + "8"}));
    EXPECT_EQ(list.Rows()[0], (PhoneListEntry{"short", std::string(kPhoneFieldCharacters, '7')}));
    // Records handed in as they are (loaded ones are fitted by the loader) are kept.
    EXPECT_EQ(PhoneList(kThree).Close(true, 0).list, kThree);
}

TEST(PhoneListLookup, DescriptionOfTheFirstRecordWithExactlyThatNumber) {
    const std::vector<PhoneListEntry> list = {
        {"Meter north", "0891"},
        {"Office", "+49 30 5"},
        {"Meter south", "0891"},  // same number: the first record wins
        {"", "112"},
    };
    bool found = false;
    EXPECT_EQ(DescriptionOf(list, "0891", &found), "Meter north");
    EXPECT_TRUE(found);
    EXPECT_EQ(DescriptionOf(list, "+49 30 5", &found), "Office");
    EXPECT_TRUE(found);
    // A record without description gives its empty description.
    found = false;
    EXPECT_EQ(DescriptionOf(list, "112", &found), "");
    EXPECT_TRUE(found);
    // Only exact matches count; otherwise the number stands for itself.
    for (const std::string& number : {"0891 "s, " 0891"s, "089"s, "49 30 5"s, ""s}) {
        found = true;
        EXPECT_EQ(DescriptionOf(list, number, &found), number);
        EXPECT_FALSE(found) << '"' << number << '"';
    }
    EXPECT_EQ(DescriptionOf({}, "0891", nullptr), "0891");
}

TEST(PhoneListLookup, TitleWhileConnectedNamesTheDescriptionOrTheNumber) {
    const TextTable texts;
    const std::string connectedTo = Text(texts, 72, 1);
    ASSERT_EQ(connectedTo, "Connected to   ");
    const std::vector<PhoneListEntry> list = {{"Meter north", "0891"}, {"Meter south", "0891"}, {"", "112"}};
    EXPECT_EQ(ConnectedTitle(connectedTo, list, "0891"), "MERIDEX    Connected to   Meter north");
    EXPECT_EQ(ConnectedTitle(connectedTo, list, "0171 55"), "MERIDEX    Connected to   0171 55");
    EXPECT_EQ(ConnectedTitle(connectedTo, list, "112"), "MERIDEX    Connected to   ");
    EXPECT_EQ(ConnectedTitle(Text(texts, 72, 7), list, "0891"),
              "MERIDEX    \xD0\x9F\xD0\xBE\xD0\xB4\xD0\xBA\xD0\xBB\xD1\x8E\xD1\x87\xD0\xB5\xD0\xBD\xD0\xBE "
              "\xD0\xBA   Meter north");
}

}  // namespace
}  // namespace mbus::meridex
