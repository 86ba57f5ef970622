// Arbitrary bytes as the text of an INI file: parsed, read, changed
// (existing keys, new keys, new sections, deletions), rendered and parsed
// again, checking what must hold; then read and written as MERIDEX settings.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "configurator/shell/settings.h"
#include "platform/profile/ini_file.h"

namespace {

using mbus::profile::IniFile;

void Check(bool condition) {
    if (!condition) std::abort();
}

// A write that is accepted reads back, also after the text is parsed again;
// a refused one changes nothing.
void WriteAndCheck(IniFile& ini, const std::string& section, const std::string& key, std::string_view value) {
    const std::string before = ini.Text();
    if (!ini.WriteString(section, key, value)) {
        Check(ini.Text() == before);
        return;
    }
    Check(ini.GetString(section, key, "<none>") == value);
    const IniFile again = IniFile::Parse(ini.Text());
    Check(again.Text() == ini.Text());
    Check(again.GetString(section, key, "<none>") == value);
}

void ExerciseIni(std::string_view text) {
    IniFile ini = IniFile::Parse(text);
    Check(ini.Text() == text);

    const std::vector<std::string> sections = ini.Sections();
    for (const std::string& section : sections) {
        Check(ini.HasSection(section));
        for (const auto& entry : ini.Entries(section)) Check(ini.Find(section, entry.key).has_value());
    }
    (void)ini.GetInt("MERIDEX", "VersionsInfo", 10);

    // A slice of the input as a value: it may hold anything, line breaks included.
    const std::string_view value = text.substr(text.size() / 3, 40);
    if (!sections.empty()) {
        const std::string& first = sections.front();
        const auto entries = ini.Entries(first);
        if (!entries.empty()) WriteAndCheck(ini, first, entries.front().key, value);
        WriteAndCheck(ini, first, "FuzzNewKey", "new value");
        WriteAndCheck(ini, sections.back(), "FuzzOther", value);
    }
    WriteAndCheck(ini, "Fuzz Section", "Key", value);
    WriteAndCheck(ini, std::string(value.substr(0, 8)), "k", "v");
    WriteAndCheck(ini, "Fuzz Section", std::string(value.substr(0, 8)), "v");
    Check(ini.WriteInt("Fuzz Section", "Number", -12345));
    Check(IniFile::Parse(ini.Text()).GetInt("Fuzz Section", "Number", 0) == -12345);

    if (!sections.empty()) {
        const auto entries = ini.Entries(sections.front());
        if (!entries.empty()) {
            Check(ini.DeleteKey(sections.front(), entries.back().key));
            Check(!IniFile::Parse(ini.Text()).Find(sections.front(), entries.back().key));
        }
        Check(ini.DeleteSection(sections.back()));
        Check(!IniFile::Parse(ini.Text()).HasSection(sections.back()));
    }
    const std::string rendered = ini.Text();
    Check(IniFile::Parse(rendered).Text() == rendered);
}

// The settings of any file survive being saved and loaded again unchanged.
void ExerciseSettings(std::string_view text) {
    IniFile ini = IniFile::Parse(text);
    std::vector<std::string> warnings;
    mbus::meridex::Settings settings = mbus::meridex::LoadSettings(ini, &warnings);
    mbus::meridex::SaveSettings(settings, 60, &ini);
    const IniFile saved = IniFile::Parse(ini.Text());
    std::vector<std::string> again;
    const mbus::meridex::Settings reloaded = mbus::meridex::LoadSettings(saved, &again);
    Check(again.empty());
    settings.versionsInfo = mbus::meridex::kSettingsVersion;
    settings.phoneConnectionTimeout = 60;
    Check(reloaded == settings);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ExerciseIni(text);
    ExerciseSettings(text);
    return 0;
}
