#include "configurator/shell/settings.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <string_view>
#include <unordered_map>

#include "platform/profile/config_file.h"
#include "platform/profile/config_path.h"
#include "platform/profile/ini_file.h"
#include "platform/text/ascii.h"
#include "platform/text/codepage.h"

namespace mbus::meridex {
namespace {

using profile::IniEntry;
using profile::IniFile;

constexpr const char* kBaudrateKeys[4] = {"Baudrate0", "Baudrate1", "Baudrate2", "Baudrate3"};
constexpr const char* kComPortKeys[4] = {"COMPort0", "COMPort1", "COMPort2", "COMPort3"};
constexpr std::string_view kNumberKey = "PhoneListNumber";
constexpr std::string_view kDescriptionKey = "PhoneListDescription";
constexpr const char* kTimeoutKey = "PhoneConnectionTimeout";
constexpr const char* kLastFolderKey = "LastFolder";

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        if (b0 < 0x80) {
            ++i;
            continue;
        }
        int extra = 0;
        char32_t c = 0;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            extra = 1;
            c = b0 & 0x1F;
        } else if ((b0 & 0xF0) == 0xE0) {
            extra = 2;
            c = b0 & 0x0F;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            extra = 3;
            c = b0 & 0x07;
        } else {
            return false;
        }
        if (s.size() - i <= static_cast<std::size_t>(extra)) return false;
        for (int k = 1; k <= extra; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) return false;
            c = (c << 6) | (b & 0x3F);
        }
        if ((extra == 2 && c < 0x800) || (extra == 3 && c < 0x10000) || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

// Code points of valid UTF-8.
std::size_t CharacterCount(std::string_view utf8) {
    std::size_t n = 0;
    for (char ch : utf8)
        if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) ++n;
    return n;
}

// The encoding of a file's texts: UTF-8 when the whole file is valid UTF-8
// (a new, empty one too), else Windows-1252, as the Windows program wrote it.
text::CodePage EncodingOf(const IniFile& ini) {
    return IsValidUtf8(ini.Text()) ? text::CodePage::Utf8 : text::CodePage::Windows1252;
}

// A text ends at its first NUL, CR or LF: it is one line of a C string.
std::string_view OneLine(std::string_view s) { return s.substr(0, s.find_first_of(std::string_view("\0\r\n", 3))); }

// A text value as the program keeps it (UTF-8) from the file's encoding.
std::string TextOf(std::string_view raw, text::CodePage encoding) {
    return text::ToUtf8(OneLine(raw), encoding);
}

std::string Warning(int line, const std::string& message) { return "line " + std::to_string(line) + ": " + message; }

// Cuts `value` to `maxCharacters` code points, with a warning when it was longer.
std::string Limited(std::string value, std::size_t maxCharacters, const std::string& key, int line,
                    std::vector<std::string>* warnings) {
    const std::size_t length = CharacterCount(value);
    if (length <= maxCharacters) return value;
    if (warnings != nullptr)
        warnings->push_back(Warning(line, key + " is " + std::to_string(length) + " characters long; only the first " +
                                              std::to_string(maxCharacters) + " are used"));
    return std::string(text::CutUtf8Characters(value, maxCharacters));
}

std::string Lowered(std::string_view s) { return text::AsciiLowered(s); }

// The index of a phone-list key "<prefix><i>" with i written as the program
// writes it (decimal, no leading zeros); -1 for any other key. Indexes too
// large for an int count as INT_MAX (beyond every list).
long long PhoneKeyIndex(std::string_view key, std::string_view prefix) {
    if (key.size() <= prefix.size() || Lowered(key.substr(0, prefix.size())) != Lowered(prefix)) return -1;
    const std::string_view digits = key.substr(prefix.size());
    if (digits.size() > 1 && digits.front() == '0') return -1;
    long long value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return -1;
        if (value < INT32_MAX) value = value * 10 + (c - '0');
    }
    return value;
}

// An optional sign and decimal digits, nothing else.
bool IsDecimalNumber(std::string_view s) {
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) s.remove_prefix(1);
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// The first character of UTF-8 `value` that `page` cannot hold; empty when it holds them all.
std::string FirstUnwritable(std::string_view value, text::CodePage page) {
    for (std::size_t i = 0; i < value.size();) {
        std::size_t n = 1;
        while (i + n < value.size() && (static_cast<unsigned char>(value[i + n]) & 0xC0) == 0x80) ++n;
        bool lossless = true;
        text::FromUtf8(value.substr(i, n), page, &lossless);
        if (!lossless) return std::string(value.substr(i, n));
        i += n;
    }
    return {};
}

}  // namespace

Settings NewUserSettings() {
    Settings s;
    s.addressType = 3;  // M-Bus primary address
    return s;
}

std::string StartFolder(const std::string& lastFolder) {
    std::error_code ec;
    if (!lastFolder.empty() && std::filesystem::is_directory(lastFolder, ec)) return lastFolder;
    const char* home = std::getenv("HOME");
    return home != nullptr ? std::string(home) : std::string();
}

std::string SettingsPath() { return profile::UserConfigFile("MERIDEX_INI", "MERIDEX.INI"); }

Settings LoadSettings(const IniFile& ini, std::vector<std::string>* warnings) {
    Settings s;
    const char* sec = kSettingsSection;
    auto integer = [&](const char* key, int fallback) { return ini.GetInt(sec, key, fallback); };
    const text::CodePage encoding = EncodingOf(ini);
    auto textOf = [&](const char* key, const std::string& fallback, std::size_t maxCharacters) {
        const std::optional<IniEntry> entry = ini.Find(sec, key);
        if (!entry) return fallback;
        return Limited(TextOf(entry->value, encoding), maxCharacters, key, entry->line, warnings);
    };
    constexpr std::size_t kUnlimited = std::string::npos;

    s.versionsInfo = integer("VersionsInfo", s.versionsInfo);
    s.language = integer("Language", s.language);
    s.communicationType = integer("CommunicationType", s.communicationType);
    s.baudrate = integer("Baudrate", s.baudrate);
    s.comPort = integer("COMPort", s.comPort);
    s.manufacturerCode = integer("ManufacturerCode", s.manufacturerCode);
    s.fifoBuffer = integer("FiFoBuffer", s.fifoBuffer);
    s.btOpto = integer("BTOpto", s.btOpto);
    s.phonenumber = textOf("Phonenumber", s.phonenumber, kUnlimited);
    for (int i = 0; i < 4; ++i) {
        s.baudrates[i] = integer(kBaudrateKeys[i], s.baudrates[i]);
        s.comPorts[i] = integer(kComPortKeys[i], s.comPorts[i]);
    }
    s.addressType = integer("AddressType", s.addressType);
    s.phoneConnectionTimeout = integer(kTimeoutKey, s.phoneConnectionTimeout);
    s.modemInitString = textOf("ModemInitString", s.modemInitString, kModemInitCharacters);
    s.secAddress = textOf("SecAddress", s.secAddress, kUnlimited);
    s.primAddress = textOf("PrimAddress", s.primAddress, kUnlimited);
    s.medium = integer("Medium", s.medium);
    if (const std::optional<IniEntry> folder = ini.Find(kFoldersSection, kLastFolderKey))
        s.lastFolder = TextOf(folder->value, encoding);

    // Files of the old format numbered the ports from 6.
    if (s.versionsInfo <= 10) {
        if (s.comPort > 5) {
            s.comPort -= 6;
            s.fifoBuffer = 0;
        }
        for (int& port : s.comPorts)
            if (port > 5) port -= 6;
    }

    // The phone list: its keys are looked up by index in one pass over the section.
    const std::vector<IniEntry> entries = ini.Entries(kPhoneListSection);
    std::unordered_map<std::string, const IniEntry*> byName;
    for (const IniEntry& entry : entries) byName.emplace(Lowered(entry.key), &entry);
    int count = ini.GetInt(kPhoneListSection, "PhoneListEntries", 0);
    const std::optional<IniEntry> countEntry = ini.Find(kPhoneListSection, "PhoneListEntries");
    if (!countEntry || !IsDecimalNumber(countEntry->value)) {
        // No count to go by: the entries the section holds are the list, so
        // that a save does not lose them.
        long long present = 0;
        for (const IniEntry& entry : entries) {
            const long long index = std::max(PhoneKeyIndex(entry.key, kNumberKey), PhoneKeyIndex(entry.key, kDescriptionKey));
            if (index >= 0 && index < kMaxPhoneListEntries) present = std::max(present, index + 1);
        }
        count = static_cast<int>(present);
        if (warnings != nullptr && (countEntry || present > 0)) {
            const std::string used = "the " + std::to_string(present) + " entries present are used";
            warnings->push_back(countEntry ? Warning(countEntry->line, "PhoneListEntries \"" + countEntry->value +
                                                                           "\" is not a number; " + used)
                                           : "PhoneListEntries is missing; " + used);
        }
    } else if (count < 0 || count > kMaxPhoneListEntries) {
        const int used = count < 0 ? 0 : kMaxPhoneListEntries;
        if (warnings != nullptr)
            warnings->push_back(Warning(countEntry ? countEntry->line : 0,
                                        "PhoneListEntries is " + std::to_string(count) + "; " +
                                            std::to_string(used) + " entries are used"));
        count = used;
    }
    s.phoneList.resize(static_cast<std::size_t>(count));
    auto field = [&](std::string_view prefix, int i) {
        const std::string key = std::string(prefix) + std::to_string(i);
        const auto it = byName.find(Lowered(key));
        if (it == byName.end()) return std::string();
        return Limited(TextOf(it->second->value, encoding), kPhoneFieldCharacters, key, it->second->line, warnings);
    };
    for (int i = 0; i < count; ++i) {
        s.phoneList[static_cast<std::size_t>(i)].description = field(kDescriptionKey, i);
        s.phoneList[static_cast<std::size_t>(i)].number = field(kNumberKey, i);
    }
    return s;
}

std::string SaveSettings(const Settings& s, std::optional<int> phoneConnectionTimeout, IniFile* ini) {
    // The keys of both sections, in the order a new file lists them.
    std::vector<std::pair<std::string, std::string>> settingsKeys;
    std::vector<std::pair<std::string, std::string>> phoneKeys;
    std::vector<std::pair<std::string, std::string>> folderKeys;
    std::vector<std::pair<std::string, std::string>>* keys = &settingsKeys;
    auto integer = [&](const char* key, int value) { keys->emplace_back(key, std::to_string(value)); };
    // A text is one line, so that it cannot break the file's structure.
    auto textOf = [&](std::string key, const std::string& value) {
        keys->emplace_back(std::move(key), std::string(OneLine(value)));
    };

    integer("VersionsInfo", kSettingsVersion);
    integer("FiFoBuffer", s.fifoBuffer);
    integer("BTOpto", s.btOpto);
    integer("ManufacturerCode", s.manufacturerCode);
    integer("Language", s.language);
    integer("CommunicationType", s.communicationType);
    integer("Baudrate", s.baudrate);
    integer("COMPort", s.comPort);
    textOf("Phonenumber", s.phonenumber);
    for (int i = 0; i < 4; ++i) integer(kBaudrateKeys[i], s.baudrates[i]);
    for (int i = 0; i < 4; ++i) integer(kComPortKeys[i], s.comPorts[i]);
    integer("AddressType", s.addressType);
    textOf("ModemInitString", s.modemInitString);
    textOf("SecAddress", s.secAddress);
    textOf("PrimAddress", s.primAddress);
    integer("Medium", s.medium);
    if (phoneConnectionTimeout) integer(kTimeoutKey, *phoneConnectionTimeout);

    keys = &phoneKeys;
    const int count = static_cast<int>(s.phoneList.size());
    integer("PhoneListEntries", count);
    for (int i = 0; i < count; ++i) {
        const PhoneListEntry& entry = s.phoneList[static_cast<std::size_t>(i)];
        textOf(std::string(kNumberKey) + std::to_string(i), entry.number);
        textOf(std::string(kDescriptionKey) + std::to_string(i), entry.description);
    }

    // No folder chosen yet: no section for it.
    keys = &folderKeys;
    if (!s.lastFolder.empty()) textOf(kLastFolderKey, s.lastFolder);

    // A file of the old format gets its keys in the order of a new file;
    // a file of this format keeps each key on its line.
    const bool oldFormat = ini->GetInt(kSettingsSection, "VersionsInfo", Settings().versionsInfo) <= 10;
    auto write = [&](IniFile* file, text::CodePage encoding) {
        auto encoded = [encoding](std::vector<std::pair<std::string, std::string>> section) {
            for (auto& entry : section) entry.second = text::FromUtf8(entry.second, encoding);
            return section;
        };
        // The keys are fixed names and the texts single lines: nothing can be refused.
        file->WriteStrings(kSettingsSection, encoded(settingsKeys));
        file->WriteStrings(kPhoneListSection, encoded(phoneKeys));
        if (!folderKeys.empty()) file->WriteStrings(kFoldersSection, encoded(folderKeys));
        // Entries a longer list left behind would still be read by programs
        // that look beyond the count.
        file->DeleteKeys(kPhoneListSection, [count](std::string_view key) {
            return std::max(PhoneKeyIndex(key, kNumberKey), PhoneKeyIndex(key, kDescriptionKey)) >= count;
        });
        if (!oldFormat) return;
        auto namesOf = [](const std::vector<std::pair<std::string, std::string>>& section) {
            std::vector<std::string> names;
            for (const auto& entry : section) names.push_back(entry.first);
            return names;
        };
        std::vector<std::string> order = namesOf(settingsKeys);
        if (!phoneConnectionTimeout) order.push_back(kTimeoutKey);  // kept from the file, in its place
        file->OrderKeys(kSettingsSection, order);
        file->OrderKeys(kPhoneListSection, namesOf(phoneKeys));
    };

    // The texts go into the file in its own encoding. A file in
    // Windows-1252 that cannot hold one of them becomes UTF-8 as a whole:
    // nothing is lost, and no '?' stands in for a character. So does one
    // whose Windows-1252 texts would read as UTF-8 once written (when what
    // was not UTF-8 in it has gone with the save).
    if (EncodingOf(*ini) == text::CodePage::Utf8) {
        write(ini, text::CodePage::Utf8);
        return {};
    }
    std::string notice;
    for (const auto* section : {&settingsKeys, &phoneKeys, &folderKeys})
        for (const auto& [key, value] : *section) {
            const std::string unwritable = FirstUnwritable(value, text::CodePage::Windows1252);
            if (notice.empty() && !unwritable.empty())
                notice = key + " holds \"" + unwritable +
                         "\", which Windows-1252 cannot hold; the file is now written in UTF-8 as a whole";
        }
    if (notice.empty()) {
        IniFile candidate = *ini;
        write(&candidate, text::CodePage::Windows1252);
        const std::string written = candidate.Text();
        const bool ascii = std::all_of(written.begin(), written.end(), [](char c) { return (c & 0x80) == 0; });
        if (ascii || EncodingOf(candidate) == text::CodePage::Windows1252) {
            *ini = std::move(candidate);
            return {};
        }
        notice = "its Windows-1252 texts would read as UTF-8; the file is now written in UTF-8 as a whole";
    }
    *ini = IniFile::Parse(text::ToUtf8(ini->Text(), text::CodePage::Windows1252));
    write(ini, text::CodePage::Utf8);
    return notice;
}

bool LoadSettingsFile(const std::string& path, Settings* settings, std::vector<std::string>* warnings,
                      bool* firstStart) {
    *settings = Settings();
    if (firstStart != nullptr) *firstStart = false;
    if (path.empty()) {
        warnings->push_back("the place of MERIDEX.INI is not known (set MERIDEX_INI or HOME); the defaults are used");
        return false;
    }
    // What a save that was killed left behind goes, at start and at each save.
    profile::RemoveStaleTemporaries(profile::ResolvedPath(path));
    // Only a file that is certainly not there makes a first start; one that
    // cannot be looked at is reported by the load below.
    std::error_code ec;
    const bool missing = !std::filesystem::exists(path, ec) && !ec;
    IniFile ini;
    std::string error;
    if (!profile::LoadIniFile(path, &ini, &error)) {
        warnings->push_back(error + "; the defaults are used");
        return false;
    }
    if (missing) {
        *settings = NewUserSettings();
        if (firstStart != nullptr) *firstStart = true;
        return true;
    }
    std::vector<std::string> found;
    *settings = LoadSettings(ini, &found);
    for (const std::string& warning : found) warnings->push_back(path + ": " + warning);
    return true;
}

bool SaveSettingsFile(const std::string& path, const Settings& settings, std::optional<int> phoneConnectionTimeout,
                      std::string* error, std::string* notice) {
    if (path.empty()) {
        *error = "the place of MERIDEX.INI is not known (set MERIDEX_INI or HOME); the settings were not saved";
        return false;
    }
    profile::RemoveStaleTemporaries(profile::ResolvedPath(path));
    IniFile ini;
    if (!profile::LoadIniFile(path, &ini, error)) {
        *error += "; the settings were not saved";
        return false;
    }
    const std::string changed = SaveSettings(settings, phoneConnectionTimeout, &ini);
    if (!profile::SaveIniFile(path, ini, error)) return false;
    if (notice != nullptr) *notice = changed.empty() ? std::string() : path + ": " + changed;
    return true;
}

std::string SaveSettingsAtClose(const std::string& path, const Settings& settings,
                                std::optional<int> phoneConnectionTimeout, std::string* notice) {
    std::string error;
    if (SaveSettingsFile(path, settings, phoneConnectionTimeout, &error, notice)) return {};
    return "The settings could not be saved:\n" + error;
}

}  // namespace mbus::meridex
