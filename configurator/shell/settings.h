// The settings of MERIDEX, kept in the file MERIDEX.INI: section "MERIDEX"
// with one key per setting, section "MERIDEX PhoneList" with the phone list
// and section "Folders" with the folder the file dialogs start in (a section
// of its own, which the Windows program neither reads nor writes). The file
// is read once at start and written once at close.
//
// A missing file is a first start: the settings are those of a new user
// (NewUserSettings), and the program asks for the language.
//
// Loading:
// - Every key takes its default when it is missing.
// - Files of the old format (VersionsInfo 10 or less, or no VersionsInfo at
//   all) counted their ports from 6: a COMPort above 5 is reduced by 6 and
//   the FIFO is then switched off; each of COMPort0..COMPort3 above 5 is
//   reduced by 6 as well. Saving always writes VersionsInfo 12.
// - Texts: the program works in UTF-8, while files of the Windows program
//   are in Windows-1252. A file that is valid UTF-8 as a whole (one of pure
//   ASCII too) is UTF-8; any other is Windows-1252, and all its texts are
//   decoded as such. A text ends at its first NUL or CR (the values of the
//   Windows program were C strings on one line, and the texts go into
//   one-line script commands).
// - The phone-list fields hold at most kPhoneFieldCharacters characters and
//   the modem init string kModemInitCharacters (the field sizes of the
//   Windows program without their terminating zero, where a byte was a
//   character). Characters are those of the file: bytes in Windows-1252,
//   code points in UTF-8. A longer value is cut after its last character
//   that fits and a warning names the key and its line.
// - A PhoneListEntries below 0 reads as 0, one above kMaxPhoneListEntries
//   as that (with a warning); entries whose keys are missing are empty.
//   When PhoneListEntries is missing or not a number, the entries present
//   are the list: up to the highest index of a PhoneListNumber or
//   PhoneListDescription key (with a warning), so that the next save
//   writes all of them back.
//
// Saving writes the keys in a fixed order: a new file lists them in that
// order, and so does a file of the old format once converted (the keys of
// both sections move into that order, lines of other keys after them); in
// a file of this format each key keeps its line. Every other key and
// section of the file is kept, byte for byte. Phone-list keys of entries
// beyond the new count are removed.
//
// Saving writes the texts in the file's encoding: a new file is UTF-8, a
// Windows-1252 file stays Windows-1252, so that the Windows program reads
// it back, and every line the save does not change keeps its bytes. When a
// Windows-1252 file cannot hold a text (Cyrillic typed into it, say), the
// whole file is converted to UTF-8 and written so: nothing is lost and no
// '?' stands in for a character, while the Windows program then shows its
// umlauts wrongly. The same happens when the Windows-1252 texts written
// would read as UTF-8 (the save having removed what was not UTF-8 in the
// file). The save says so in a notice.

#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace mbus::profile {
class IniFile;
}

namespace mbus::meridex {

inline constexpr const char* kSettingsSection = "MERIDEX";
inline constexpr const char* kPhoneListSection = "MERIDEX PhoneList";
inline constexpr const char* kFoldersSection = "Folders";
// VersionsInfo as this program writes it.
inline constexpr int kSettingsVersion = 12;

inline constexpr std::size_t kPhoneFieldCharacters = 59;
inline constexpr std::size_t kModemInitCharacters = 100;
inline constexpr int kMaxPhoneListEntries = 1000;

struct PhoneListEntry {
    std::string description;  // UTF-8, at most kPhoneFieldCharacters characters
    std::string number;       // UTF-8, at most kPhoneFieldCharacters characters
    bool operator==(const PhoneListEntry&) const = default;
};

// Every key with its default.
struct Settings {
    int versionsInfo = 10;           // as read; saving writes kSettingsVersion
    int language = 49;               // language id, an international dialling code
    int communicationType = 0;       // 0..3
    int baudrate = 1;                // baud index 0..4 (300, 2400, 9600, 19200, 38400)
    int comPort = 0;                 // port number - 1
    int manufacturerCode = 0;        // 0 VND, 1 KTR
    int fifoBuffer = 1;              // 0: every port line carries FF=0
    int btOpto = 0;                  // 1: the optical head is the radio-linked one
    std::string phonenumber;         // the number last dialled or chosen
    std::array<int, 4> baudrates{1, 3, 1, 1};  // Baudrate0..3: baud index per communication type
    std::array<int, 4> comPorts{0, 0, 0, 0};   // COMPort0..3: port index per communication type
    int addressType = 1;             // 0..4
    int phoneConnectionTimeout = 60; // seconds, for the control's TELConnectTimeout
    std::string modemInitString;     // at most kModemInitCharacters characters
    std::string secAddress = "FFFFFFFF";
    std::string primAddress = "0";
    int medium = 0;                  // 0 all media, n medium n - 1
    std::vector<PhoneListEntry> phoneList;
    std::string lastFolder;          // [Folders] LastFolder: where a file was last chosen; empty: none yet

    bool operator==(const Settings&) const = default;
};

// The settings of a user who starts the program for the first time (no
// MERIDEX.INI): the defaults, but addressed by primary address (address
// type 3) rather than by broadcast, which only suits a single module on its
// own bus.
Settings NewUserSettings();

// The folder a file dialog starts in: `lastFolder` when it is still a
// folder, else the home folder ($HOME; empty when that is not set either).
std::string StartFolder(const std::string& lastFolder);

// Where MERIDEX.INI is: $MERIDEX_INI when set, else the user's configuration
// directory (~/.config/mbus/MERIDEX.INI). Empty when there is no home directory.
std::string SettingsPath();

// Reads the settings of a profile. Values that had to be cut or corrected
// are described in *warnings (when given), one text each, e.g.
// "line 14: PhoneListNumber3 is 72 characters long; only the first 59 are used".
Settings LoadSettings(const profile::IniFile& ini, std::vector<std::string>* warnings = nullptr);

// Writes the settings into a profile. `phoneConnectionTimeout` is the
// control's current TELConnectTimeout; without a value (no control) the key
// PhoneConnectionTimeout is left as the file has it. Returns a notice when
// a Windows-1252 profile had to become UTF-8 (naming the key and the
// character that did not fit), else an empty text.
std::string SaveSettings(const Settings& settings, std::optional<int> phoneConnectionTimeout, profile::IniFile* ini);

// Reads the settings file. A missing file gives NewUserSettings() and sets
// *firstStart (when given; it is cleared otherwise). Temporary
// files that a killed save left beside it ("MERIDEX.INI.XXXXXX", this
// user's, not changed for a while) are removed, here and by
// SaveSettingsFile. False when the
// file exists but cannot be read (or no path is known): *settings then holds
// the defaults and *warnings the reason. Warnings carry the path.
bool LoadSettingsFile(const std::string& path, Settings* settings, std::vector<std::string>* warnings,
                      bool* firstStart = nullptr);

// Writes the settings file: the file is read again first, so that keys that
// other programs wrote meanwhile are kept. False with *error when it cannot
// be read (it is then left alone) or written. After a save, *notice (when
// given) holds SaveSettings' notice with the path, or is empty.
bool SaveSettingsFile(const std::string& path, const Settings& settings, std::optional<int> phoneConnectionTimeout,
                      std::string* error, std::string* notice = nullptr);

// Saves the settings file at close and returns what to tell the user when
// that failed: the text of a message box, "The settings could not be
// saved:" and the reason naming the file; empty when they were saved
// (*notice, when given, then as SaveSettingsFile gives it).
std::string SaveSettingsAtClose(const std::string& path, const Settings& settings,
                                std::optional<int> phoneConnectionTimeout, std::string* notice = nullptr);

}  // namespace mbus::meridex
