#include "configurator/shell/settings.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/profile/ini_file.h"
#include "platform/text/codepage.h"
#include "tests/support/scratch.h"

namespace mbus::meridex {
namespace {

using profile::IniFile;
using testsupport::ScopedEnv;
using testsupport::ScratchDirectory;
using namespace std::string_literals;

Settings Load(const std::string& text, std::vector<std::string>* warnings = nullptr) {
    return LoadSettings(IniFile::Parse(text), warnings);
}

std::string Saved(const Settings& settings, std::optional<int> timeout, const std::string& before = {}) {
    IniFile ini = IniFile::Parse(before);
    SaveSettings(settings, timeout, &ini);
    return ini.Text();
}

// Every setting different from its default and from the others.
Settings Sample() {
    Settings s;
    s.versionsInfo = 12;
    s.language = 33;
    s.communicationType = 1;
    s.baudrate = 2;
    s.comPort = 16;
    s.manufacturerCode = 1;
    s.fifoBuffer = 0;
    s.btOpto = 1;
    s.phonenumber = "0049 89 1234";
    s.baudrates = {0, 4, 3, 2};
    s.comPorts = {1, 2, 3, 31};
    s.addressType = 3;
    s.phoneConnectionTimeout = 90;
    s.modemInitString = "ATZ&F";
    s.secAddress = "12345678";
    s.primAddress = "17";
    s.medium = 8;
    s.phoneList = {{"Z\xC3\xA4hler S\xC3\xBC" "d", "0891"}, {" B\xC3\xBCro ", "+49 30 5"}};
    s.lastFolder = "/home/m/Z\xC3\xA4hler";
    return s;
}

TEST(SettingsLoad, EmptyFileGivesTheDefaults) {
    std::vector<std::string> warnings;
    const Settings s = Load("", &warnings);
    EXPECT_EQ(s.versionsInfo, 10);
    EXPECT_EQ(s.language, 49);
    EXPECT_EQ(s.communicationType, 0);
    EXPECT_EQ(s.baudrate, 1);
    EXPECT_EQ(s.comPort, 0);
    EXPECT_EQ(s.manufacturerCode, 0);
    EXPECT_EQ(s.fifoBuffer, 1);
    EXPECT_EQ(s.btOpto, 0);
    EXPECT_EQ(s.phonenumber, "");
    EXPECT_EQ(s.baudrates, (std::array<int, 4>{1, 3, 1, 1}));
    EXPECT_EQ(s.comPorts, (std::array<int, 4>{0, 0, 0, 0}));
    EXPECT_EQ(s.addressType, 1);
    EXPECT_EQ(s.phoneConnectionTimeout, 60);
    EXPECT_EQ(s.modemInitString, "");
    EXPECT_EQ(s.secAddress, "FFFFFFFF");
    EXPECT_EQ(s.primAddress, "0");
    EXPECT_EQ(s.medium, 0);
    EXPECT_TRUE(s.phoneList.empty());
    EXPECT_EQ(s.lastFolder, "");
    EXPECT_TRUE(warnings.empty());
}

TEST(SettingsLoad, OldFormatFileConvertsItsPorts) {
    const struct {
        const char* keys;
        int comPort;
        int fifo;
        std::array<int, 4> comPorts;
    } cases[] = {
        {"COMPort=7", 1, 0, {0, 0, 0, 0}},
        {"VersionsInfo=10\nCOMPort=6", 0, 0, {0, 0, 0, 0}},
        {"VersionsInfo=10\nCOMPort=5", 5, 1, {0, 0, 0, 0}},
        {"VersionsInfo=9\nCOMPort=2\nCOMPort0=6\nCOMPort1=5\nCOMPort3=37", 2, 1, {0, 5, 0, 31}},
        {"VersionsInfo=11\nCOMPort=7\nCOMPort2=9", 7, 1, {0, 0, 9, 0}},
        {"VersionsInfo=12\nCOMPort=7\nFiFoBuffer=0\nCOMPort2=9", 7, 0, {0, 0, 9, 0}},
    };
    for (const auto& c : cases) {
        const Settings s = Load("[MERIDEX]\n"s + c.keys + "\n");
        EXPECT_EQ(s.comPort, c.comPort) << c.keys;
        EXPECT_EQ(s.fifoBuffer, c.fifo) << c.keys;
        EXPECT_EQ(s.comPorts, c.comPorts) << c.keys;
    }
}

TEST(SettingsLoad, OldFormatFileIsSavedInTheNewFormatOnce) {
    const std::string saved = Saved(Load("[MERIDEX]\r\nCOMPort=7\r\n"), std::nullopt, "[MERIDEX]\r\nCOMPort=7\r\n");
    const IniFile ini = IniFile::Parse(saved);
    EXPECT_EQ(ini.GetString("MERIDEX", "VersionsInfo"), "12");
    EXPECT_EQ(ini.GetString("MERIDEX", "COMPort"), "1");
    EXPECT_EQ(ini.GetString("MERIDEX", "FiFoBuffer"), "0");
    const Settings again = LoadSettings(ini);
    EXPECT_EQ(again.comPort, 1);  // not converted a second time
    EXPECT_EQ(again.fifoBuffer, 0);
}

const char* const kFreshSample =
              "[MERIDEX]\r\n"
              "VersionsInfo=12\r\n"
              "FiFoBuffer=0\r\n"
              "BTOpto=1\r\n"
              "ManufacturerCode=1\r\n"
              "Language=33\r\n"
              "CommunicationType=1\r\n"
              "Baudrate=2\r\n"
              "COMPort=16\r\n"
              "Phonenumber=0049 89 1234\r\n"
              "Baudrate0=0\r\n"
              "Baudrate1=4\r\n"
              "Baudrate2=3\r\n"
              "Baudrate3=2\r\n"
              "COMPort0=1\r\n"
              "COMPort1=2\r\n"
              "COMPort2=3\r\n"
              "COMPort3=31\r\n"
              "AddressType=3\r\n"
              "ModemInitString=ATZ&F\r\n"
              "SecAddress=12345678\r\n"
              "PrimAddress=17\r\n"
              "Medium=8\r\n"
              "PhoneConnectionTimeout=45\r\n"
              "[MERIDEX PhoneList]\r\n"
              "PhoneListEntries=2\r\n"
              "PhoneListNumber0=0891\r\n"
              "PhoneListDescription0=Z\xC3\xA4hler S\xC3\xBC" "d\r\n"
              "PhoneListNumber1=+49 30 5\r\n"
              "PhoneListDescription1=\" B\xC3\xBCro \"\r\n"
              "[Folders]\r\n"
              "LastFolder=/home/m/Z\xC3\xA4hler\r\n";

TEST(SettingsSave, FreshFileListsEveryKeyInItsOrder) { EXPECT_EQ(Saved(Sample(), 45), kFreshSample); }

// Once converted, a file of the old format lists the keys as a fresh one
// does; what else its sections hold follows them, and other sections stay.
TEST(SettingsSave, OldFormatFileIsWrittenInTheOrderOfAFreshOne) {
    const std::string fresh = kFreshSample;
    const std::size_t phoneListAt = fresh.find("[MERIDEX PhoneList]");
    const std::size_t foldersAt = fresh.find("[Folders]");
    const std::string phoneList = fresh.substr(phoneListAt, foldersAt - phoneListAt);
    const std::string before =
        "[Other]\r\nX=1\r\n[MERIDEX]\r\n; kept above the keys\r\nMedium=3\r\nUnknown=keep me\r\nCOMPort=22\r\n"
        "Language=49\r\nPhoneConnectionTimeout=30\r\n[MERIDEX PhoneList]\r\nPhoneListDescription1=x\r\n"
        "Note=n\r\nPhoneListEntries=2\r\nPhoneListNumber0=9\r\n";
    const std::string expected = "[Other]\r\nX=1\r\n[MERIDEX]\r\n; kept above the keys\r\n" +
                                 fresh.substr(11, fresh.find("[MERIDEX PhoneList]") - 11) + "Unknown=keep me\r\n" +
                                 phoneList + "Note=n\r\n" + fresh.substr(foldersAt);
    EXPECT_EQ(Saved(Sample(), 45, before), expected);
}

TEST(SettingsSave, EverySettingSurvivesARoundTrip) {
    const Settings sample = Sample();
    EXPECT_EQ(Load(Saved(sample, sample.phoneConnectionTimeout)), sample);
}

TEST(SettingsSave, OtherSectionsAndUnknownKeysAreKeptByteForByte) {
    const std::string before =
        "; MERIDEX settings\n[Other]\nX = 1\n\n[MERIDEX]\nLanguage = 49\nVersionsInfo = 11\nUnknownKey=keep me\n\n"
        "[MERIDEX PhoneList]\nPhoneListEntries=0\nNote=\"quoted\"\n";
    Settings s;
    s.language = 1;
    EXPECT_EQ(Saved(s, std::nullopt, before),
              "; MERIDEX settings\n[Other]\nX = 1\n\n[MERIDEX]\nLanguage = 1\nVersionsInfo = 12\nUnknownKey=keep me\n"
              "FiFoBuffer=1\nBTOpto=0\nManufacturerCode=0\nCommunicationType=0\nBaudrate=1\n"
              "COMPort=0\nPhonenumber=\nBaudrate0=1\nBaudrate1=3\nBaudrate2=1\nBaudrate3=1\nCOMPort0=0\nCOMPort1=0\n"
              "COMPort2=0\nCOMPort3=0\nAddressType=1\nModemInitString=\nSecAddress=FFFFFFFF\nPrimAddress=0\n"
              "Medium=0\n\n[MERIDEX PhoneList]\nPhoneListEntries=0\nNote=\"quoted\"\n");
}

TEST(SettingsSave, PhoneListOfNEntriesIsWrittenAsNPairsFromZero) {
    for (int n : {0, 1, 3}) {
        Settings s;
        for (int i = 0; i < n; ++i) s.phoneList.push_back({"d" + std::to_string(i), "n" + std::to_string(i)});
        std::vector<std::string> keys;
        std::vector<std::string> expected = {"PhoneListEntries=" + std::to_string(n)};
        for (int i = 0; i < n; ++i) {
            expected.push_back("PhoneListNumber" + std::to_string(i) + "=n" + std::to_string(i));
            expected.push_back("PhoneListDescription" + std::to_string(i) + "=d" + std::to_string(i));
        }
        for (const auto& e : IniFile::Parse(Saved(s, 60)).Entries("MERIDEX PhoneList"))
            keys.push_back(e.key + "=" + e.value);
        EXPECT_EQ(keys, expected) << n;
    }
}

const char* const kThreeEntries =
    "[MERIDEX PhoneList]\n"
    "PhoneListEntries=3\n"
    "PhoneListNumber0=10\nPhoneListDescription0=a\n"
    "PhoneListNumber1=11\nPhoneListDescription1=b\n"
    "Comment=x\n"
    "phonelistnumber2=12\nPhoneListDescription2=c\n"
    "PhoneListNumber03=not ours\n"
    "PhoneListDescription7=left by another program\n";

TEST(SettingsSave, DeletingEveryEntryLeavesNoStaleEntries) {
    Settings s = Load(kThreeEntries);
    ASSERT_EQ(s.phoneList.size(), 3u);
    s.phoneList.clear();
    const std::string text = Saved(s, 60, kThreeEntries);
    EXPECT_EQ(text.substr(0, text.find("[MERIDEX]")),
              "[MERIDEX PhoneList]\nPhoneListEntries=0\nComment=x\nPhoneListNumber03=not ours\n");
}

TEST(SettingsSave, ShorterListRemovesTheEntriesBeyondIt) {
    Settings s = Load(kThreeEntries);
    s.phoneList.resize(1);
    s.phoneList[0].number = "99";
    const std::string text = Saved(s, 60, kThreeEntries);
    EXPECT_EQ(text.substr(0, text.find("[MERIDEX]")),
              "[MERIDEX PhoneList]\nPhoneListEntries=1\nPhoneListNumber0=99\nPhoneListDescription0=a\n"
              "Comment=x\nPhoneListNumber03=not ours\n");
}

TEST(SettingsSave, PhoneConnectionTimeoutIsSkippedWithoutTheControl) {
    const std::string before = "[MERIDEX]\nPhoneConnectionTimeout=120\n";
    EXPECT_EQ(IniFile::Parse(Saved(Settings(), std::nullopt, before)).GetString("MERIDEX", "PhoneConnectionTimeout"),
              "120");
    EXPECT_EQ(IniFile::Parse(Saved(Settings(), 45, before)).GetString("MERIDEX", "PhoneConnectionTimeout"), "45");
    EXPECT_FALSE(IniFile::Parse(Saved(Settings(), std::nullopt)).Find("MERIDEX", "PhoneConnectionTimeout"));
}

TEST(SettingsSave, TextsAreWrittenAsOneLine) {
    Settings s;
    s.phonenumber = "0815\r\n5|1||";
    s.phoneList = {{"a\nb", "1\0002"s}};
    const IniFile ini = IniFile::Parse(Saved(s, 60));
    EXPECT_EQ(ini.GetString("MERIDEX", "Phonenumber"), "0815");
    EXPECT_EQ(ini.GetString("MERIDEX PhoneList", "PhoneListDescription0"), "a");
    EXPECT_EQ(ini.GetString("MERIDEX PhoneList", "PhoneListNumber0"), "1");
}

TEST(SettingsLoad, OverlongValuesAreCutWithAWarning) {
    // A UTF-8 file: its characters are code points.
    const std::string umlauts70 = [] {
        std::string s;
        for (int i = 0; i < 70; ++i) s += "\xC3\xA4";
        return s;
    }();
    std::vector<std::string> warnings;
    const Settings s = Load("[MERIDEX]\nModemInitString=" + std::string(120, 'A') +
                                "\n[MERIDEX PhoneList]\nPhoneListEntries=5\nPhoneListDescription0=" + umlauts70 +
                                "\nPhoneListNumber3=" + std::string(72, '1') + "\nPhoneListNumber1=" +
                                std::string(59, '2') + "\nPhoneListNumber2=" + std::string(60, '3') + "\n",
                            &warnings);
    EXPECT_EQ(s.modemInitString, std::string(100, 'A'));
    ASSERT_EQ(s.phoneList.size(), 5u);
    EXPECT_EQ(s.phoneList[0].description, umlauts70.substr(0, 2 * 59));
    EXPECT_EQ(s.phoneList[1].number, std::string(59, '2'));
    EXPECT_EQ(s.phoneList[2].number, std::string(59, '3'));
    EXPECT_EQ(s.phoneList[3].number, std::string(59, '1'));
    EXPECT_EQ(warnings, (std::vector<std::string>{
                            "line 2: ModemInitString is 120 characters long; only the first 100 are used",
                            "line 5: PhoneListDescription0 is 70 characters long; only the first 59 are used",
                            "line 8: PhoneListNumber2 is 60 characters long; only the first 59 are used",
                            "line 6: PhoneListNumber3 is 72 characters long; only the first 59 are used",
                        }));
}

// A file as the Windows program writes it: Windows-1252, CR LF, the keys in
// the order of a save. "Phonenumber" holds every upper-half byte.
std::string Windows1252File() {
    std::string upperHalf;
    for (int b = 0x80; b <= 0xFF; ++b) upperHalf += static_cast<char>(b);
    return "[MERIDEX]\r\nVersionsInfo=12\r\nFiFoBuffer=1\r\nBTOpto=0\r\nManufacturerCode=0\r\nLanguage=49\r\n"
           "CommunicationType=1\r\nBaudrate=1\r\nCOMPort=0\r\nPhonenumber=" + upperHalf + "\r\n"
           "Baudrate0=1\r\nBaudrate1=3\r\nBaudrate2=1\r\nBaudrate3=1\r\nCOMPort0=0\r\nCOMPort1=0\r\nCOMPort2=0\r\n"
           "COMPort3=0\r\nAddressType=1\r\nModemInitString=AT\xA7" "1\r\nSecAddress=FFFFFFFF\r\nPrimAddress=0\r\n"
           "Medium=0\r\nPhoneConnectionTimeout=60\r\n"
           "[MERIDEX PhoneList]\r\nPhoneListEntries=2\r\n"
           "PhoneListNumber0=0891\r\nPhoneListDescription0=Z\xE4hler S\xFC" "d\r\n"
           "PhoneListNumber1=030 5\r\nPhoneListDescription1=Hauptstra\xDF" "e\r\n"
           "[Other]\r\nNote=Gr\xFC\xDF" "e\r\n";
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(SettingsEncoding, Windows1252FileKeepsEveryByteButTheChangedLine) {
    const std::string before = Windows1252File();
    Settings s = Load(before);
    EXPECT_EQ(s.modemInitString, "AT\xC2\xA7" "1");
    EXPECT_EQ(s.phoneList, (std::vector<PhoneListEntry>{{"Z\xC3\xA4hler S\xC3\xBC" "d", "0891"},
                                                        {"Hauptstra\xC3\x9F" "e", "030 5"}}));
    s.language = 33;
    IniFile ini = IniFile::Parse(before);
    EXPECT_EQ(SaveSettings(s, 60, &ini), "");
    std::vector<std::string> expected = Lines(before);
    ASSERT_EQ(expected[5], "Language=49\r");
    expected[5] = "Language=33\r";
    EXPECT_EQ(Lines(ini.Text()), expected);
    EXPECT_EQ(ini.Text().size(), before.size());
}

// In Windows-1252 a byte is a character: a field takes 59 of them, umlauts too.
TEST(SettingsEncoding, Windows1252FieldsHoldFiftyNineCharacters) {
    std::string description;
    for (int i = 0; i < 7; ++i) description += "S\xFC" "d-Stra\xDF" "e";  // 70 characters, 70 bytes
    const std::string before = "[MERIDEX PhoneList]\r\nPhoneListEntries=1\r\nPhoneListNumber0=1\r\n"
                               "PhoneListDescription0=" + description + "\r\n";
    std::vector<std::string> warnings;
    const Settings s = Load(before, &warnings);
    ASSERT_EQ(s.phoneList.size(), 1u);
    EXPECT_EQ(s.phoneList[0].description, text::ToUtf8(description.substr(0, 59), text::CodePage::Windows1252));
    EXPECT_EQ(warnings, std::vector<std::string>{
                            "line 4: PhoneListDescription0 is 70 characters long; only the first 59 are used"});
    const IniFile saved = IniFile::Parse(Saved(s, 60, before));
    EXPECT_EQ(saved.GetString("MERIDEX PhoneList", "PhoneListDescription0"), description.substr(0, 59));
}

TEST(SettingsEncoding, Utf8FileStaysUtf8) {
    const std::string before = "[MERIDEX]\r\nVersionsInfo=12\r\nPhonenumber=S\xC3\xBC" "d\r\n[Other]\r\nNote=\xC3\x9F\r\n";
    Settings s = Load(before);
    EXPECT_EQ(s.phonenumber, "S\xC3\xBC" "d");
    s.modemInitString = "Stra\xC3\x9F" "e";
    const std::string after = Saved(s, 60, before);
    EXPECT_EQ(after.rfind(before.substr(0, before.find("[Other]")), 0), 0u) << after;
    EXPECT_NE(after.find("\r\nModemInitString=Stra\xC3\x9F" "e\r\n"), std::string::npos) << after;
    EXPECT_NE(after.find("[Other]\r\nNote=\xC3\x9F\r\n"), std::string::npos) << after;
}

// What Windows-1252 cannot hold turns the whole file into UTF-8: every text
// of it keeps its characters, none becomes '?', and the notice says why.
TEST(SettingsEncoding, Windows1252FileThatCannotHoldATextBecomesUtf8) {
    const std::string before = Windows1252File();
    Settings s = Load(before);
    s.phoneList.push_back({"\xD0\x9C\xD0\xB8\xD1\x80", "7"});  // Cyrillic
    IniFile ini = IniFile::Parse(before);
    EXPECT_EQ(SaveSettings(s, 60, &ini),
              "PhoneListDescription2 holds \"\xD0\x9C\", which Windows-1252 cannot hold; "
              "the file is now written in UTF-8 as a whole");
    const std::string after = ini.Text();
    EXPECT_EQ(after.find('?'), std::string::npos);
    EXPECT_NE(after.find("[Other]\r\nNote=Gr\xC3\xBC\xC3\x9F" "e\r\n"), std::string::npos) << after;
    EXPECT_EQ(Load(after), s);

    // A file whose only text that is not UTF-8 goes with the save: the
    // Windows-1252 texts written would read as UTF-8 ("\xC3\xBC" as one character).
    const std::string mixed = "[MERIDEX PhoneList]\r\nPhoneListEntries=1\r\nPhoneListNumber0=1\r\n"
                              "PhoneListDescription0=\xC3\xBC\r\nPhoneListDescription1=\xFC\r\n";
    const Settings two = Load(mixed);
    ASSERT_EQ(two.phoneList.size(), 1u);
    ini = IniFile::Parse(mixed);
    EXPECT_NE(SaveSettings(two, 60, &ini), "");
    EXPECT_EQ(Load(ini.Text()).phoneList, two.phoneList);
}

TEST(SettingsLoad, TextsEndAtTheirFirstNulOrCarriageReturn) {
    EXPECT_EQ(Load("[MERIDEX]\nPhonenumber=123\0 456\n"s).phonenumber, "123");
    EXPECT_EQ(Load("[MERIDEX]\nPhonenumber=12\r5|1||\n").phonenumber, "12");
}

TEST(SettingsLoad, PhoneListCountOutsideItsRangeIsCorrectedWithAWarning) {
    const struct {
        const char* count;
        std::size_t entries;
        const char* warning;  // "" for none
    } cases[] = {
        {"-3", 0, "line 2: PhoneListEntries is -3; 0 entries are used"},
        {"5000", 1000, "line 2: PhoneListEntries is 5000; 1000 entries are used"},
        {"99999999999", 1000, "line 2: PhoneListEntries is 2147483647; 1000 entries are used"},
        {"2", 2, ""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> warnings;
        const Settings s =
            Load("[MERIDEX PhoneList]\nPhoneListEntries="s + c.count + "\nPhoneListNumber0=7\n", &warnings);
        EXPECT_EQ(s.phoneList.size(), c.entries) << c.count;
        if (c.entries > 0) {
            EXPECT_EQ(s.phoneList[0], (PhoneListEntry{"", "7"}));
        }
        if (c.entries > 1) {
            EXPECT_EQ(s.phoneList[1], PhoneListEntry{});
        }
        EXPECT_EQ(warnings, std::string(c.warning).empty() ? std::vector<std::string>{}
                                                           : std::vector<std::string>{c.warning});
    }
}

// A count that is missing or no number says nothing about the list: the
// entries the section holds are counted (up to the highest index, a gap
// giving an empty entry), and a save writes every one of them back.
TEST(SettingsLoad, PhoneListWithoutAUsableCountKeepsEveryEntryThroughASave) {
    const struct {
        const char* countLine;  // "" for none
        const char* warning;    // "" for none
    } cases[] = {
        {"", "PhoneListEntries is missing; the 5 entries present are used"},
        {"PhoneListEntries=\n", "line 2: PhoneListEntries \"\" is not a number; the 5 entries present are used"},
        {"PhoneListEntries=many\n", "line 2: PhoneListEntries \"many\" is not a number; the 5 entries present are used"},
        {"PhoneListEntries=2x\n", "line 2: PhoneListEntries \"2x\" is not a number; the 5 entries present are used"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.countLine);
        const std::string file = "[MERIDEX PhoneList]\n"s + c.countLine +
                                 "PhoneListNumber0=0891\nPhoneListDescription0=south\n"
                                 "PhoneListDescription2=east\nPhoneListNumber4=030 5\n";
        std::vector<std::string> warnings;
        const Settings s = Load(file, &warnings);
        EXPECT_EQ(s.phoneList, (std::vector<PhoneListEntry>{{"south", "0891"}, {}, {"east", ""}, {}, {"", "030 5"}}));
        EXPECT_EQ(warnings, std::vector<std::string>{c.warning});

        const Settings again = Load(Saved(s, 60, file));
        EXPECT_EQ(again.phoneList, s.phoneList);
    }
    // A section without any entry and without a count is an empty list, and says nothing.
    std::vector<std::string> warnings;
    EXPECT_TRUE(Load("[MERIDEX PhoneList]\nComment=x\n", &warnings).phoneList.empty());
    EXPECT_TRUE(Load("[MERIDEX]\nLanguage=1\n", &warnings).phoneList.empty());
    EXPECT_EQ(warnings, std::vector<std::string>{});
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(SettingsFile, PathFollowsMeridexIni) {
    ScopedEnv env("MERIDEX_INI", "/tmp/somewhere/M.INI");
    EXPECT_EQ(SettingsPath(), "/tmp/somewhere/M.INI");
    ScopedEnv noOverride("MERIDEX_INI", nullptr);
    ScopedEnv config("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(SettingsPath(), "/cfg/mbus/MERIDEX.INI");
}

TEST(SettingsFile, MissingFileIsAFirstStartAndUnreadableOneIsReported) {
    ScratchDirectory dir;
    Settings s = Sample();
    std::vector<std::string> warnings;
    bool firstStart = false;
    EXPECT_TRUE(LoadSettingsFile(dir.File("MERIDEX.INI"), &s, &warnings, &firstStart));
    EXPECT_TRUE(firstStart);
    Settings newUser;
    newUser.addressType = 3;  // primary address rather than broadcast
    EXPECT_EQ(s, newUser);
    EXPECT_EQ(NewUserSettings(), newUser);
    EXPECT_TRUE(warnings.empty());
    // An empty file is no first start: the user's program wrote it.
    EXPECT_TRUE(LoadSettingsFile(dir.WriteFile("empty.ini", ""), &s, &warnings, &firstStart));
    EXPECT_FALSE(firstStart);
    EXPECT_EQ(s, Settings());

    const std::string path = dir.File("dir.ini");
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    s = Sample();
    EXPECT_FALSE(LoadSettingsFile(path, &s, &warnings, &firstStart));
    EXPECT_FALSE(firstStart);
    EXPECT_EQ(s, Settings());
    EXPECT_EQ(warnings, std::vector<std::string>{path + ": is a directory; the defaults are used"});
    std::string error;
    EXPECT_FALSE(SaveSettingsFile(path, Settings(), 60, &error));
    EXPECT_EQ(error, path + ": is a directory; the settings were not saved");
}

// The last folder: its own section, no section before a file was chosen,
// and a start folder that exists.
TEST(SettingsFile, LastFolderRoundTripsAndAFolderThatIsGoneFallsBackToHome) {
    ScratchDirectory dir;
    const std::string path = dir.File("MERIDEX.INI");
    std::string error;
    ASSERT_TRUE(SaveSettingsFile(path, Settings(), 60, &error)) << error;
    Settings s;
    std::vector<std::string> warnings;
    ASSERT_TRUE(LoadSettingsFile(path, &s, &warnings));
    EXPECT_EQ(s.lastFolder, "");
    std::ifstream fresh(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(fresh), {}).find("[Folders]"), std::string::npos);

    const std::string folder = dir.File("devices");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    s.lastFolder = folder;
    ASSERT_TRUE(SaveSettingsFile(path, s, 60, &error)) << error;
    Settings again;
    ASSERT_TRUE(LoadSettingsFile(path, &again, &warnings));
    EXPECT_EQ(again.lastFolder, folder);
    EXPECT_EQ(Load("[folders]\r\nlastfolder=/x y\r\n").lastFolder, "/x y");

    ScopedEnv home("HOME", "/home/m");
    EXPECT_EQ(StartFolder(folder), folder);
    ASSERT_EQ(::rmdir(folder.c_str()), 0);
    EXPECT_EQ(StartFolder(folder), "/home/m");
    EXPECT_EQ(StartFolder(path), "/home/m") << "a file is no folder";
    EXPECT_EQ(StartFolder(""), "/home/m");
    ScopedEnv noHome("HOME", nullptr);
    EXPECT_EQ(StartFolder(""), "");
}

TEST(SettingsFile, WarningsOfTheFileCarryItsPath) {
    ScratchDirectory dir;
    const std::string path =
        dir.WriteFile("MERIDEX.INI", "[MERIDEX PhoneList]\r\nPhoneListEntries=1\r\nPhoneListNumber0=" +
                                         std::string(61, '5') + "\r\n");
    Settings s;
    std::vector<std::string> warnings;
    EXPECT_TRUE(LoadSettingsFile(path, &s, &warnings));
    EXPECT_EQ(warnings, std::vector<std::string>{path + ": line 3: PhoneListNumber0 is 61 characters long; "
                                                        "only the first 59 are used"});
}

TEST(SettingsFile, SaveKeepsWhatOthersWroteSinceLoading) {
    ScratchDirectory dir;
    const std::string path = dir.File("cfg/MERIDEX.INI");
    std::string error;
    ASSERT_TRUE(SaveSettingsFile(path, Settings(), 60, &error)) << error;
    Settings s;
    std::vector<std::string> warnings;
    ASSERT_TRUE(LoadSettingsFile(path, &s, &warnings));
    std::ofstream(path, std::ios::binary | std::ios::app) << "[Other]\r\nk=v\r\n";
    s.language = 7;
    ASSERT_TRUE(SaveSettingsFile(path, s, 60, &error)) << error;
    const IniFile ini = IniFile::Parse(ReadFile(path));
    EXPECT_EQ(ini.GetString("Other", "k"), "v");
    EXPECT_EQ(ini.GetInt("MERIDEX", "Language", 0), 7);
}

// At close a failed save is told in a message box: its text names the file
// and the reason. A save that worked has nothing to tell.
TEST(SettingsFile, AFailedSaveAtCloseGivesTheTextOfAMessageBox) {
    ScratchDirectory dir;
    ASSERT_TRUE(dir.Ok());
    const std::string good = dir.File("cfg/MERIDEX.INI");
    EXPECT_EQ(SaveSettingsAtClose(good, Sample(), 60), "");
    Settings s;
    std::vector<std::string> warnings;
    ASSERT_TRUE(LoadSettingsFile(good, &s, &warnings));
    EXPECT_EQ(s.language, Sample().language);

    const std::string directory = dir.File("dir.ini");
    ASSERT_EQ(::mkdir(directory.c_str(), 0700), 0);
    const std::string blocker = dir.WriteFile("plain", "");
    for (const std::string& bad : {directory, blocker + "/MERIDEX.INI"}) {
        SCOPED_TRACE(bad);
        const std::string text = SaveSettingsAtClose(bad, Sample(), 60);
        EXPECT_EQ(text.rfind("The settings could not be saved", 0), 0u) << text;
        EXPECT_NE(text.find(bad + ": "), std::string::npos) << text;
    }
    EXPECT_NE(SaveSettingsAtClose(directory, Sample(), 60).find("is a directory"), std::string::npos);
    EXPECT_NE(SaveSettingsAtClose("", Sample(), 60).find("MERIDEX_INI"), std::string::npos);
}

// Sets a file's (or a link's own) modification time an hour back.
void MakeOld(const std::string& path) {
    timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= 3600;
    times[1] = times[0];
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// A program killed while it saved leaves "MERIDEX.INI.XXXXXX" beside the
// file. MERIDEX removes such files of its own at start and at the next
// save, and nothing else: not a file of another name or pattern, not a
// link, not a directory, not another user's file, not a save under way in
// another process (a fresh one).
TEST(SettingsFile, TemporaryFilesLeftByAKilledSaveAreRemovedAndNothingElse) {
    ScratchDirectory dir;
    ASSERT_TRUE(dir.Ok());
    const std::string path = dir.File("MERIDEX.INI");
    std::vector<std::string> kept;
    for (const char* name : {"MERIDEX.INI.abc12", "MERIDEX.INI.abc1234", "MERIDEX.INI.ab-123", "MERIDEX.INI_abc123",
                             "OTHER.INI.abc123", "MERIDEX.INI.abc123.bak"}) {
        kept.push_back(dir.WriteFile(name, "x"));
        MakeOld(kept.back());
    }
    const std::string target = dir.WriteFile("target", "kept");
    kept.push_back(dir.File("MERIDEX.INI.Lnk123"));
    ASSERT_EQ(::symlink(target.c_str(), kept.back().c_str()), 0);
    MakeOld(kept.back());
    kept.push_back(dir.File("MERIDEX.INI.Dir123"));
    ASSERT_EQ(::mkdir(kept.back().c_str(), 0700), 0);
    MakeOld(kept.back());
    kept.push_back(dir.WriteFile("MERIDEX.INI.Now123", "a save under way"));
    // Root can make a file another user's (as nobody, where that id exists).
    if (::geteuid() == 0) {
        const std::string others = dir.WriteFile("MERIDEX.INI.Usr123", "another user's");
        if (::chown(others.c_str(), 65534, 65534) == 0) {
            kept.push_back(others);
            MakeOld(others);
        } else {
            ::unlink(others.c_str());
        }
    }

    const std::string atStart = dir.WriteFile("MERIDEX.INI.abc123", "[MERIDEX]\r\nLangu");
    MakeOld(atStart);
    Settings s;
    std::vector<std::string> warnings;
    EXPECT_TRUE(LoadSettingsFile(path, &s, &warnings));
    EXPECT_FALSE(Exists(atStart));

    const std::string atSave = dir.WriteFile("MERIDEX.INI.XYZ789", "[MERIDEX]\r\n");
    MakeOld(atSave);
    std::string error;
    ASSERT_TRUE(SaveSettingsFile(path, s, 60, &error)) << error;
    EXPECT_FALSE(Exists(atSave));

    for (const std::string& k : kept) EXPECT_TRUE(Exists(k)) << k;
    EXPECT_EQ(ReadFile(target), "kept");
    EXPECT_TRUE(Exists(path));
}

}  // namespace
}  // namespace mbus::meridex
