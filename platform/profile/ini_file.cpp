#include "platform/profile/ini_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <iterator>
#include <unordered_map>

#include "platform/files/read_file.h"
#include "platform/profile/config_file.h"
#include "platform/text/ascii.h"

namespace mbus::profile {
namespace {

constexpr std::size_t kNone = std::string::npos;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

using text::AsciiLowered;
constexpr auto& EqualsNoCase = text::EqualsIgnoringAsciiCase;
std::string Lowered(std::string_view s) { return AsciiLowered(s); }

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// The value of a key line as read: blanks and a matching pair of quotes removed.
std::string_view ReadValue(std::string_view raw) {
    std::string_view v = Trim(raw);
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    return v;
}

// The form in which `value` reads back as itself.
std::string StoredValue(std::string_view value) {
    const bool needsQuotes = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) ||
                                                (value.size() >= 2 && value.front() == '"' && value.back() == '"'));
    if (!needsQuotes) return std::string(value);
    std::string out;
    out.reserve(value.size() + 2);
    out += '"';
    out += value;
    out += '"';
    return out;
}

bool ValidSectionName(std::string_view section) { return !HasLineBreak(section); }

bool ValidKeyName(std::string_view key) {
    key = Trim(key);
    return !key.empty() && !HasLineBreak(key) && key.find('=') == std::string_view::npos && key.front() != '[' &&
           key.front() != ';';
}

// An optional sign and the decimal digits after it, saturated to the int range.
int LeadingInteger(std::string_view s) {
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    long long magnitude = 0;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (s[i] - '0');
        if (magnitude >= limit) {
            magnitude = limit;
            break;
        }
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

}  // namespace

// ---- Lines ---------------------------------------------------------------

IniFile::Line IniFile::MakeLine(std::string text, std::string end) {
    Line line;
    line.text = std::move(text);
    line.end = std::move(end);
    const std::string_view t = line.text;
    std::size_t p = 0;
    while (p < t.size() && IsBlank(t[p])) ++p;
    if (p == t.size() || t[p] == ';') return line;
    if (t[p] == '[') {
        const std::size_t close = t.rfind(']');
        if (close != kNone && close > p) {
            line.kind = Kind::Section;
            line.name = std::string(Trim(t.substr(p + 1, close - p - 1)));
        }
        return line;
    }
    const std::size_t eq = t.find('=', p);
    if (eq == kNone) return line;
    const std::string_view name = Trim(t.substr(p, eq - p));
    if (name.empty()) return line;
    line.kind = Kind::Key;
    line.name = std::string(name);
    std::size_t v = eq + 1;
    while (v < t.size() && IsBlank(t[v])) ++v;
    line.valueStart = v;
    return line;
}

IniFile IniFile::Parse(std::string_view text) {
    IniFile ini;
    bool styleKnown = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t lf = text.find('\n', pos);
        if (lf == kNone) {
            ini.lines_.push_back(MakeLine(std::string(text.substr(pos)), ""));
            break;
        }
        const bool crlf = lf > pos && text[lf - 1] == '\r';
        const std::size_t textEnd = crlf ? lf - 1 : lf;
        ini.lines_.push_back(MakeLine(std::string(text.substr(pos, textEnd - pos)), crlf ? "\r\n" : "\n"));
        if (!styleKnown) {
            ini.lineEnd_ = crlf ? "\r\n" : "\n";
            styleKnown = true;
        }
        pos = lf + 1;
    }
    return ini;
}

std::string IniFile::Text() const {
    std::size_t size = 0;
    for (const Line& line : lines_) size += line.text.size() + line.end.size();
    std::string out;
    out.reserve(size);
    for (const Line& line : lines_) {
        out += line.text;
        out += line.end;
    }
    return out;
}

// ---- Lookup --------------------------------------------------------------

std::pair<std::size_t, std::size_t> IniFile::FindSection(std::string_view section) const {
    section = Trim(section);
    for (std::size_t h = 0; h < lines_.size(); ++h) {
        if (lines_[h].kind != Kind::Section || !EqualsNoCase(lines_[h].name, section)) continue;
        std::size_t end = h + 1;
        while (end < lines_.size() && lines_[end].kind != Kind::Section) ++end;
        return {h, end};
    }
    return {kNone, kNone};
}

std::size_t IniFile::FindKey(std::size_t from, std::size_t to, std::string_view key) const {
    key = Trim(key);
    for (std::size_t i = from; i < to; ++i)
        if (lines_[i].kind == Kind::Key && EqualsNoCase(lines_[i].name, key)) return i;
    return kNone;
}

IniEntry IniFile::EntryOf(std::size_t index) const {
    const Line& line = lines_[index];
    return {line.name, std::string(ReadValue(std::string_view(line.text).substr(line.valueStart))),
            static_cast<int>(index + 1)};
}

std::optional<IniEntry> IniFile::Find(std::string_view section, std::string_view key) const {
    const auto [header, end] = FindSection(section);
    if (header == kNone) return std::nullopt;
    const std::size_t i = FindKey(header + 1, end, key);
    if (i == kNone) return std::nullopt;
    return EntryOf(i);
}

std::string IniFile::GetString(std::string_view section, std::string_view key, std::string_view fallback) const {
    std::optional<IniEntry> entry = Find(section, key);
    return entry ? std::move(entry->value) : std::string(fallback);
}

int IniFile::GetInt(std::string_view section, std::string_view key, int fallback) const {
    const std::optional<IniEntry> entry = Find(section, key);
    if (!entry || entry->value.empty()) return fallback;
    return LeadingInteger(entry->value);
}

bool IniFile::HasSection(std::string_view section) const { return FindSection(section).first != kNone; }

std::vector<std::string> IniFile::Sections() const {
    std::vector<std::string> names;
    for (const Line& line : lines_) {
        if (line.kind != Kind::Section) continue;
        bool seen = false;
        for (const std::string& name : names) seen = seen || EqualsNoCase(name, line.name);
        if (!seen) names.push_back(line.name);
    }
    return names;
}

std::vector<IniEntry> IniFile::Entries(std::string_view section) const {
    std::vector<IniEntry> entries;
    const auto [header, end] = FindSection(section);
    if (header == kNone) return entries;
    for (std::size_t i = header + 1; i < end; ++i)
        if (lines_[i].kind == Kind::Key) entries.push_back(EntryOf(i));
    return entries;
}

// ---- Changes -------------------------------------------------------------

// Inserts lines before index `at`; the line before them gets a line end if
// it was the last line of a file without a final one.
void IniFile::Insert(std::size_t at, std::vector<Line> lines) {
    if (lines.empty()) return;
    if (at > 0 && lines_[at - 1].end.empty()) lines_[at - 1].end = lineEnd_;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::make_move_iterator(lines.begin()),
                  std::make_move_iterator(lines.end()));
}

bool IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    return WriteStrings(section, {{std::string(key), std::string(value)}});
}

bool IniFile::WriteInt(std::string_view section, std::string_view key, int value) {
    return WriteString(section, key, std::to_string(value));
}

bool IniFile::WriteStrings(std::string_view section, const std::vector<std::pair<std::string, std::string>>& values) {
    if (!ValidSectionName(section)) return false;
    for (const auto& [key, value] : values)
        if (!ValidKeyName(key) || HasLineBreak(value)) return false;
    section = Trim(section);

    auto [header, end] = FindSection(section);
    std::vector<Line> added;
    if (header == kNone) {
        header = end = lines_.size();
        added.push_back(MakeLine("[" + std::string(section) + "]", lineEnd_));
    }
    // The first line of each key in the section, and the last key line.
    std::unordered_map<std::string, std::size_t> existing;
    std::size_t last = header;
    for (std::size_t i = header + 1; i < end; ++i) {
        if (lines_[i].kind != Kind::Key) continue;
        existing.emplace(Lowered(lines_[i].name), i);
        last = i;
    }
    std::unordered_map<std::string, std::size_t> fresh;  // keys of `added`
    for (const auto& [rawKey, value] : values) {
        const std::string_view key = Trim(rawKey);
        const std::string name = Lowered(key);
        const std::string stored = StoredValue(value);
        Line* line = nullptr;
        if (const auto it = existing.find(name); it != existing.end()) line = &lines_[it->second];
        if (const auto it = fresh.find(name); it != fresh.end()) line = &added[it->second];
        if (line != nullptr) {
            *line = MakeLine(line->text.substr(0, line->valueStart) + stored, std::move(line->end));
            continue;
        }
        fresh.emplace(name, added.size());
        added.push_back(MakeLine(std::string(key) + "=" + stored, lineEnd_));
    }
    Insert(header == lines_.size() ? header : last + 1, std::move(added));
    return true;
}

bool IniFile::DeleteKey(std::string_view section, std::string_view key) {
    const auto [header, end] = FindSection(section);
    if (header == kNone) return false;
    key = Trim(key);
    bool removed = false;
    for (std::size_t i = end; i-- > header + 1;) {
        if (lines_[i].kind == Kind::Key && EqualsNoCase(lines_[i].name, key)) {
            lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
            removed = true;
        }
    }
    return removed;
}

int IniFile::DeleteKeys(std::string_view section, const std::function<bool(std::string_view key)>& which) {
    const auto [header, end] = FindSection(section);
    if (header == kNone) return 0;
    const auto first = lines_.begin() + static_cast<std::ptrdiff_t>(header + 1);
    const auto stop = lines_.begin() + static_cast<std::ptrdiff_t>(end);
    const auto kept = std::stable_partition(first, stop, [&](const Line& line) {
        return line.kind != Kind::Key || !which(line.name);
    });
    const int removed = static_cast<int>(stop - kept);
    lines_.erase(kept, stop);
    return removed;
}

bool IniFile::DeleteSection(std::string_view section) {
    bool removed = false;
    for (;;) {
        const auto [header, end] = FindSection(section);
        if (header == kNone) return removed;
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(header),
                     lines_.begin() + static_cast<std::ptrdiff_t>(end));
        removed = true;
    }
}

void IniFile::OrderKeys(std::string_view section, const std::vector<std::string>& order) {
    const auto [header, end] = FindSection(section);
    if (header == kNone) return;
    std::size_t firstKey = header + 1;
    while (firstKey < end && lines_[firstKey].kind != Kind::Key) ++firstKey;
    std::vector<bool> moved(end - firstKey, false);
    std::vector<Line> ordered;
    for (const std::string& key : order) {
        const std::size_t i = FindKey(firstKey, end, Trim(key));
        if (i == kNone || moved[i - firstKey]) continue;
        moved[i - firstKey] = true;
        ordered.push_back(lines_[i]);
    }
    for (std::size_t i = firstKey; i < end; ++i)
        if (!moved[i - firstKey]) ordered.push_back(std::move(lines_[i]));
    // The file's last line may have no line end; moved up, it needs one.
    for (std::size_t k = 0; k + 1 < ordered.size(); ++k)
        if (ordered[k].end.empty()) ordered[k].end = lineEnd_;
    std::move(ordered.begin(), ordered.end(), lines_.begin() + static_cast<std::ptrdiff_t>(firstKey));
}

// ---- Files ---------------------------------------------------------------

namespace {

std::string Reason(int err) { return std::strerror(err); }

}  // namespace

bool LoadIniFile(const std::string& path, IniFile* ini, std::string* error) {
    *ini = IniFile();
    if (path.empty()) {
        *error = "no file name given";
        return false;
    }
    std::string text;
    std::string problem;
    switch (files::ReadTextFile(path, &text, &problem)) {
        case files::ReadStatus::kMissing: return true;  // no file yet: every key takes its default
        case files::ReadStatus::kFailed: *error = path + ": " + problem; return false;
        case files::ReadStatus::kOk: break;
    }
    *ini = IniFile::Parse(text);
    return true;
}

bool SaveIniFile(const std::string& path, const IniFile& ini, std::string* error) {
    if (path.empty()) {
        *error = "no file name given";
        return false;
    }
    const std::string target = ResolvedPath(path);
    std::string dir;
    int err = 0;
    if (!MakeParentDirectories(target, &dir, &err)) {
        *error = path + ": cannot create the directory " + dir + " (" + Reason(err) + ")";
        return false;
    }
    ReplaceFailure failure;
    if (!ReplaceFile(target, ini.Text(), kPrivateFileMode, &failure)) {
        *error = DescribeReplaceFailure(path, failure);
        return false;
    }
    return true;
}

}  // namespace mbus::profile
