// An INI file in memory, read and written with the semantics of the Windows
// profile functions (GetPrivateProfileString, GetPrivateProfileInt,
// WritePrivateProfileString), so that settings files of programs written
// against those functions are read and kept the same way.
//
//   ; a comment
//   [Section]
//   Key=value
//   Other = "  a value with blanks  "
//
// Reading:
// - A line is a section header when, after leading blanks, it starts with
//   '[' and holds a ']': the name is what lies between the '[' and the last
//   ']' of the line.
// - A key line holds an '=': the key is the text before the first '=', the
//   value the text after it. Lines starting with ';' (comments), lines
//   starting with '[' without a ']', lines without '=' and lines with an
//   empty key are neither: they are only kept.
// - Section and key names are compared without regard to ASCII case. Blanks
//   (space, tab, carriage return) around names and values are not part of
//   them. A value enclosed in a matching pair of double quotes is read
//   without them.
// - Only the first section of a name is consulted, and in it the first line
//   of a key, as the Windows functions do; later duplicates are kept.
// - Lines before the first section header belong to no section: no read
//   finds them and no write touches them (Windows ignores them too).
// - Lines end with LF or CR LF; the last line may have no line end. Every
//   other byte (NUL and the upper half included) is kept as it is: no
//   character-set conversion happens here.
//
// Writing keeps every line it does not change byte for byte:
// - An existing key has its line changed in place: the text up to the value
//   (indentation, the key as spelt there, the '=' and the blanks after it)
//   stays, the value is replaced.
// - A new key goes after the last key line of its section (after the header
//   when the section has none); a new section goes at the end of the file.
// - New lines end the way the file's first line ends; a file without any
//   line end (a new one, say) gets CR LF, as the Windows functions write.
// - A value that would not read back as written (blanks at either end, or a
//   matching pair of quotes around it) is written inside double quotes.
// - Names and values that cannot be kept on one line (CR or LF in them),
//   empty key names and key names that would read as something else ('='
//   in them, a leading '[' or ';') are refused.
//
// Files: a missing file loads as an empty profile; a directory, FIFO or
// device in its place, or a file over 1 MiB, is refused. Saving replaces the
// file atomically (a temporary file in the same directory is written and
// renamed over it) and creates the directory when it is missing; a new file
// is readable by its owner alone.

#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mbus::profile {

// A key line of a section, as read.
struct IniEntry {
    std::string key;    // as spelt in the file, without the blanks around it
    std::string value;  // as read (blanks and a pair of quotes removed)
    int line = 0;       // line number in the file, from 1
};

class IniFile {
public:
    // An empty profile; new lines end with CR LF.
    IniFile() = default;
    // The profile of a file's text.
    static IniFile Parse(std::string_view text);
    // The text of the file: the parsed text itself when nothing changed.
    std::string Text() const;
    // The line end new lines get: "\r\n" or "\n".
    const std::string& LineEnd() const { return lineEnd_; }

    // The value of a key; `fallback` when the section or the key is missing.
    std::string GetString(std::string_view section, std::string_view key, std::string_view fallback = {}) const;
    // The value of a key as an integer: an optional sign and the decimal
    // digits that follow it ("12abc" gives 12; a value that does not start
    // with a number gives 0; beyond the int range it saturates). `fallback`
    // when the key is missing or its value is empty (as GetPrivateProfileInt).
    int GetInt(std::string_view section, std::string_view key, int fallback) const;
    // The key with its value and line, when present.
    std::optional<IniEntry> Find(std::string_view section, std::string_view key) const;

    bool HasSection(std::string_view section) const;
    // Names of the sections in file order, each once (as first spelt).
    std::vector<std::string> Sections() const;
    // Every key line of the (first) section in file order, duplicates included.
    std::vector<IniEntry> Entries(std::string_view section) const;

    // Sets a key, creating it and its section as needed. False (and no
    // change) for a name or value that cannot be written (see above).
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);
    bool WriteInt(std::string_view section, std::string_view key, int value);
    // Sets several keys of one section in one pass, with the result of
    // writing them one after another (new keys in the order given). False
    // (and no change) when any of them cannot be written.
    bool WriteStrings(std::string_view section, const std::vector<std::pair<std::string, std::string>>& values);
    // Removes every line of the key in the (first) section. False when there was none.
    bool DeleteKey(std::string_view section, std::string_view key);
    // Removes every key line of the (first) section whose key `which` picks;
    // the number of lines removed.
    int DeleteKeys(std::string_view section, const std::function<bool(std::string_view key)>& which);
    // Removes every section of that name with all its lines. False when there was none.
    bool DeleteSection(std::string_view section);
    // Puts the first line of each key of `order` found in the (first)
    // section, in that order, where the section's first key line is; the
    // other lines of the section keep their order after them (the lines
    // before its first key line stay before them). Every line keeps its
    // text; nothing happens when the section is missing.
    void OrderKeys(std::string_view section, const std::vector<std::string>& order);

private:
    enum class Kind { Other, Section, Key };
    struct Line {
        std::string text;  // without the line end
        std::string end;   // "\r\n", "\n", or "" for a last line without one
        Kind kind = Kind::Other;
        std::string name;            // section or key name, trimmed
        std::size_t valueStart = 0;  // key lines: offset of the value in `text`
    };
    static Line MakeLine(std::string text, std::string end);
    // [header, end) of the first section of the name; npos header when missing.
    std::pair<std::size_t, std::size_t> FindSection(std::string_view section) const;
    std::size_t FindKey(std::size_t from, std::size_t to, std::string_view key) const;
    IniEntry EntryOf(std::size_t index) const;
    void Insert(std::size_t at, std::vector<Line> lines);

    std::vector<Line> lines_;
    std::string lineEnd_ = "\r\n";
};

// Reads a file. A missing file gives an empty profile and true; a file that
// exists but cannot be read gives false and *error "<path>: cannot be read
// (reason)", "<path>: is a directory" and the like.
bool LoadIniFile(const std::string& path, IniFile* ini, std::string* error);

// Writes the profile to `path`, creating the directory when missing, through
// a temporary file renamed over the old one (a symbolic link is followed and
// kept; the old file's permissions are kept, a new file gets mode 0600 less
// the umask). False with *error naming the file and the reason.
bool SaveIniFile(const std::string& path, const IniFile& ini, std::string* error);

}  // namespace mbus::profile
