#include "platform/com/registry.h"

#include "platform/files/read_file.h"
#include "platform/profile/config_file.h"
#include "platform/profile/config_path.h"
#include "platform/text/ascii.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

namespace mbus::com {

namespace {

constexpr std::size_t kMaxNameBytes = 1024;
constexpr std::size_t kMaxDepth = 64;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

std::string Folded(std::string_view text) { return text::AsciiLowered(text); }
constexpr auto& EqualsIgnoringCase = text::EqualsIgnoringAsciiCase;

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

bool IsValidKeyName(std::string_view name) {
    if (name.empty() || name.size() > kMaxNameBytes) return false;
    if (IsBlank(name.front()) || IsBlank(name.back())) return false;
    return std::none_of(name.begin(), name.end(), IsControl);
}

struct RootAlias {
    const char* shortName;
    const char* fullName;
};
constexpr RootAlias kRootAliases[] = {
    {"HKCR", "HKEY_CLASSES_ROOT"}, {"HKCU", "HKEY_CURRENT_USER"},   {"HKLM", "HKEY_LOCAL_MACHINE"},
    {"HKU", "HKEY_USERS"},         {"HKCC", "HKEY_CURRENT_CONFIG"},
};

// ---- Escapes -------------------------------------------------------------

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void AppendHexEscape(std::string& out, unsigned char c) {
    static const char kDigits[] = "0123456789ABCDEF";
    out += "\\x";
    out += kDigits[c >> 4];
    out += kDigits[c & 0xF];
}

// The file form of a value name (isName) or a value.
std::string Escape(std::string_view text, bool isName) {
    std::string out;
    out.reserve(text.size() + 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool atEdge = i == 0 || i + 1 == text.size();
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (IsControl(c) || (c == ' ' && atEdge))
            AppendHexEscape(out, static_cast<unsigned char>(c));
        else if (isName && (c == '=' || (i == 0 && (c == '[' || c == '#' || c == ';' || c == '@'))))
            (out += '\\') += c;
        else
            out += c;
    }
    return out;
}

std::string Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\' || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const char next = text[i + 1];
        switch (next) {
            case '\\': case '=': case '[': case '#': case ';': case '@':
                out += next;
                ++i;
                break;
            case 'n': out += '\n'; ++i; break;
            case 'r': out += '\r'; ++i; break;
            case 't': out += '\t'; ++i; break;
            case 'x': {
                const int high = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
                const int low = i + 3 < text.size() ? HexDigit(text[i + 3]) : -1;
                if (high < 0 || low < 0) {
                    out += c;  // not an escape after all
                } else {
                    out += static_cast<char>(high << 4 | low);
                    i += 3;
                }
                break;
            }
            default: out += c; break;  // an ordinary backslash
        }
    }
    return out;
}

// Position of the first '=' that is not escaped, or npos.
std::size_t FindSeparator(std::string_view line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\')
            ++i;
        else if (line[i] == '=')
            return i;
    }
    return std::string_view::npos;
}

void AddProblem(std::string* problems, int line, const std::string& text) {
    if (problems == nullptr) return;
    *problems += "line " + std::to_string(line) + ": " + text + "\n";
}

// A line quoted in a message: at most 60 bytes, control characters shown as '?'.
std::string Quote(std::string_view line) {
    std::string out = "\"";
    for (const char c : line.substr(0, 60)) out += IsControl(c) ? '?' : c;
    if (line.size() > 60) out += "...";
    return out + "\"";
}

}  // namespace

std::vector<std::string> SplitKeyPath(std::string_view key) {
    std::vector<std::string> names;
    while (!key.empty()) {
        const std::size_t slash = key.find('\\');
        const std::string_view name = key.substr(0, slash);
        key = slash == std::string_view::npos ? std::string_view() : key.substr(slash + 1);
        if (name.empty()) continue;
        if (!IsValidKeyName(name) || names.size() == kMaxDepth) return {};
        names.emplace_back(name);
    }
    if (!names.empty())
        for (const RootAlias& alias : kRootAliases)
            if (EqualsIgnoringCase(names.front(), alias.shortName)) names.front() = alias.fullName;
    return names;
}

// ---- RegistryTree --------------------------------------------------------

struct RegistryTree::Node {
    std::string name;  // as first written
    std::vector<std::pair<std::string, std::string>> values;
    std::map<std::string, std::unique_ptr<Node>> children;  // by folded name

    std::pair<std::string, std::string>* FindValue(std::string_view valueName) {
        for (auto& value : values)
            if (EqualsIgnoringCase(value.first, valueName)) return &value;
        return nullptr;
    }
};

RegistryTree::RegistryTree() : root_(std::make_unique<Node>()) {}
RegistryTree::~RegistryTree() = default;
RegistryTree::RegistryTree(RegistryTree&&) noexcept = default;
RegistryTree& RegistryTree::operator=(RegistryTree&&) noexcept = default;

RegistryTree::Node* RegistryTree::Find(const std::vector<std::string>& names) const {
    if (names.empty()) return nullptr;
    Node* node = root_.get();
    for (const std::string& name : names) {
        const auto it = node->children.find(Folded(name));
        if (it == node->children.end()) return nullptr;
        node = it->second.get();
    }
    return node;
}

RegistryTree::Node* RegistryTree::FindOrCreate(const std::vector<std::string>& names) {
    if (names.empty()) return nullptr;
    Node* node = root_.get();
    for (const std::string& name : names) {
        std::unique_ptr<Node>& child = node->children[Folded(name)];
        if (!child) {
            child = std::make_unique<Node>();
            child->name = name;
        }
        node = child.get();
    }
    return node;
}

bool RegistryTree::SetValue(std::string_view key, std::string_view name, std::string_view value) {
    Node* node = FindOrCreate(SplitKeyPath(key));
    if (node == nullptr) return false;
    if (auto* existing = node->FindValue(name))
        existing->second = std::string(value);
    else
        node->values.emplace_back(std::string(name), std::string(value));
    return true;
}

bool RegistryTree::CreateKey(std::string_view key) { return FindOrCreate(SplitKeyPath(key)) != nullptr; }

bool RegistryTree::DeleteKey(std::string_view key) {
    std::vector<std::string> names = SplitKeyPath(key);
    if (names.empty()) return false;
    const std::string last = Folded(names.back());
    names.pop_back();
    Node* parent = names.empty() ? root_.get() : Find(names);
    return parent != nullptr && parent->children.erase(last) > 0;
}

bool RegistryTree::DeleteValue(std::string_view key, std::string_view name) {
    Node* node = Find(SplitKeyPath(key));
    if (node == nullptr) return false;
    const auto it = std::find_if(node->values.begin(), node->values.end(),
                                 [&](const auto& value) { return EqualsIgnoringCase(value.first, name); });
    if (it == node->values.end()) return false;
    node->values.erase(it);
    return true;
}

std::optional<std::string> RegistryTree::GetValue(std::string_view key, std::string_view name) const {
    Node* node = Find(SplitKeyPath(key));
    if (node == nullptr) return std::nullopt;
    if (const auto* value = node->FindValue(name)) return value->second;
    return std::nullopt;
}

bool RegistryTree::KeyExists(std::string_view key) const { return Find(SplitKeyPath(key)) != nullptr; }

std::vector<std::string> RegistryTree::EnumSubKeys(std::string_view key) const {
    std::vector<std::string> names;
    if (const Node* node = Find(SplitKeyPath(key)))
        for (const auto& [folded, child] : node->children) names.push_back(child->name);
    return names;
}

std::vector<std::pair<std::string, std::string>> RegistryTree::EnumValues(std::string_view key) const {
    if (const Node* node = Find(SplitKeyPath(key))) return node->values;
    return {};
}

bool RegistryTree::Empty() const { return root_->children.empty(); }

// Grammar in registry.h. Every line is looked at on its own; after a key line
// that cannot be read, the values up to the next key line are skipped
// quietly (the key line is reported).
RegistryTree RegistryTree::Parse(std::string_view text, std::string* problems) {
    RegistryTree tree;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a byte-order mark
    Node* current = nullptr;
    bool skipping = false;
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line = Trim(line);
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;

        if (line.front() == '[') {
            current = nullptr;
            skipping = true;
            const std::size_t close = line.rfind(']');
            if (close == std::string_view::npos) {
                AddProblem(problems, lineNumber, "key line " + Quote(line) + " has no closing ']'; write [key path]");
                continue;
            }
            if (!Trim(line.substr(close + 1)).empty()) {
                AddProblem(problems, lineNumber, "text after the ']' of the key line " + Quote(line));
                continue;
            }
            const std::vector<std::string> names = SplitKeyPath(Trim(line.substr(1, close - 1)));
            if (names.empty()) {
                AddProblem(problems, lineNumber,
                           "invalid key path " + Quote(line) +
                               "; names joined by '\\', not empty, without control characters or blanks at "
                               "either end, at most 64 levels");
                continue;
            }
            current = tree.FindOrCreate(names);
            skipping = false;
            continue;
        }

        if (skipping) continue;
        const std::size_t separator = FindSeparator(line);
        if (separator == std::string_view::npos) {
            AddProblem(problems, lineNumber, Quote(line) + " is neither [key path] nor name=value");
            continue;
        }
        if (current == nullptr) {
            AddProblem(problems, lineNumber, "value " + Quote(line) + " before the first [key path]");
            continue;
        }
        const std::string_view rawName = Trim(line.substr(0, separator));
        const std::string_view rawValue = Trim(line.substr(separator + 1));
        std::string name;
        if (rawName != "@") {
            name = Unescape(rawName);
            if (name.empty()) {
                AddProblem(problems, lineNumber,
                           "value " + Quote(line) + " has no name; the default value is written @=value");
                continue;
            }
        }
        std::string value = Unescape(rawValue);
        if (auto* existing = current->FindValue(name))
            existing->second = std::move(value);  // a later line wins
        else
            current->values.emplace_back(std::move(name), std::move(value));
    }
    return tree;
}

std::string RegistryTree::Serialize() const {
    std::string out =
        "# Component registry: the classes of component libraries and where they are.\n"
        "# Written by regsvr and by the libraries; programs that rewrite it keep no comments.\n";
    // Depth first, subkeys in order. A key is written when it has values or
    // no subkeys; the keys above it exist implicitly.
    struct Frame {
        const Node* node;
        std::string path;
    };
    std::vector<Frame> stack;
    for (auto it = root_->children.rbegin(); it != root_->children.rend(); ++it)
        stack.push_back({it->second.get(), it->second->name});
    while (!stack.empty()) {
        Frame frame = std::move(stack.back());
        stack.pop_back();
        const Node& node = *frame.node;
        if (!node.values.empty() || node.children.empty()) {
            out += "[" + frame.path + "]\n";
            for (const auto& [name, value] : node.values)
                out += (name.empty() ? std::string("@") : Escape(name, true)) + "=" + Escape(value, false) + "\n";
        }
        for (auto it = node.children.rbegin(); it != node.children.rend(); ++it)
            stack.push_back({it->second.get(), frame.path + "\\" + it->second->name});
    }
    return out;
}

// ---- The file ------------------------------------------------------------

namespace {

std::string ErrnoText(int err) { return std::strerror(err); }

// Replaces the file, saying what failed in words.
bool ReplaceFile(const std::string& path, std::string_view text, std::string* problem) {
    profile::ReplaceFailure failure;
    if (profile::ReplaceFile(path, text, profile::kPrivateFileMode, &failure)) return true;
    switch (failure.step) {
        case profile::ReplaceFailure::kCreateTemporary:
            *problem = "cannot create a file beside " + path + " (" + ErrnoText(failure.err) + ")";
            break;
        case profile::ReplaceFailure::kWrite:
            *problem = "cannot write " + failure.temporary + " (" + ErrnoText(failure.err) + ")";
            break;
        case profile::ReplaceFailure::kRename:
            *problem = "cannot rename " + failure.temporary + " to " + path + " (" + ErrnoText(failure.err) + ")";
            break;
    }
    return false;
}

// An exclusive lock of "<file>.lock", released at the end of the scope.
class FileLock {
public:
    explicit FileLock(const std::string& path) {
        fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0) {
            err_ = errno;
            return;
        }
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            err_ = errno;
            ::close(fd_);
            fd_ = -1;
            return;
        }
    }
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool Held() const { return fd_ >= 0; }
    int Error() const { return err_; }

private:
    int fd_ = -1;
    int err_ = 0;
};

// Prefixes each "line K: ..." of a parse report with the file name.
std::string WithPath(const std::string& path, const std::string& report) {
    std::string out;
    std::size_t start = 0;
    while (start < report.size()) {
        const std::size_t end = report.find('\n', start);
        out += path + ": " + report.substr(start, end - start + 1);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return out;
}

}  // namespace

std::string RegistryPath() { return profile::UserConfigFile("MBUS_REGISTRY", "registry"); }

Registry::Registry() : path_(RegistryPath()) {}
Registry::Registry(std::string path) : path_(std::move(path)) {}

HRESULT Registry::Read(RegistryTree* tree, std::string* text) {
    if (path_.empty()) {
        problems_ = "no registry file: neither MBUS_REGISTRY nor a home directory is known";
        return REGDB_E_READREGDB;
    }
    std::string problem;
    switch (files::ReadTextFile(path_, text, &problem)) {
        case files::ReadStatus::kMissing:
            *tree = RegistryTree();
            return S_OK;
        case files::ReadStatus::kFailed:
            problems_ = path_ + ": " + problem;
            return REGDB_E_READREGDB;
        case files::ReadStatus::kOk:
            break;
    }
    std::string report;
    *tree = RegistryTree::Parse(*text, &report);
    problems_ = WithPath(path_, report);
    return S_OK;
}

HRESULT Registry::Load(RegistryTree* tree) {
    problems_.clear();
    if (tree == nullptr) return E_POINTER;
    std::string text;
    return Read(tree, &text);
}

HRESULT Registry::Update(const std::function<HRESULT(RegistryTree&)>& change) {
    problems_.clear();
    if (path_.empty()) {
        problems_ = "no registry file: neither MBUS_REGISTRY nor a home directory is known";
        return REGDB_E_WRITEREGDB;
    }
    const std::string target = profile::ResolvedPath(path_);
    int err = 0;
    std::string failedDirectory;
    if (!profile::MakeParentDirectories(target, &failedDirectory, &err)) {
        problems_ = "cannot create the directory of " + target + " (" + ErrnoText(err) + ")";
        return REGDB_E_WRITEREGDB;
    }
    const FileLock lock(target);
    if (!lock.Held()) {
        problems_ = "cannot lock " + target + ".lock (" + ErrnoText(lock.Error()) + ")";
        return REGDB_E_WRITEREGDB;
    }

    RegistryTree tree;
    std::string before;
    HRESULT hr = Read(&tree, &before);
    if (FAILED(hr)) return hr;
    const bool hadBadLines = !problems_.empty();
    const std::string unchanged = tree.Serialize();
    hr = change(tree);
    if (FAILED(hr)) return hr;

    // Nothing changed: the file stays as it is, comments and all.
    const std::string after = tree.Serialize();
    if (after == unchanged) return hr;
    // Writing would drop the unreadable lines, and with them whatever the
    // user or another program meant by them: the file is not touched.
    if (hadBadLines) {
        problems_ += target + ": left as it is; mend or remove the lines above, then try again\n";
        return REGDB_E_READREGDB;
    }
    std::string problem;
    if (!ReplaceFile(target, after, &problem)) {
        problems_ += problem + "\n";
        return REGDB_E_WRITEREGDB;
    }
    return hr;
}

HRESULT Registry::SetValue(std::string_view key, std::string_view name, std::string_view value) {
    if (SplitKeyPath(key).empty()) return E_INVALIDARG;
    return Update([&](RegistryTree& tree) { return tree.SetValue(key, name, value) ? S_OK : E_INVALIDARG; });
}

HRESULT Registry::CreateKey(std::string_view key) {
    if (SplitKeyPath(key).empty()) return E_INVALIDARG;
    return Update([&](RegistryTree& tree) { return tree.CreateKey(key) ? S_OK : E_INVALIDARG; });
}

HRESULT Registry::DeleteKey(std::string_view key) {
    if (SplitKeyPath(key).empty()) return E_INVALIDARG;
    return Update([&](RegistryTree& tree) { return tree.DeleteKey(key) ? S_OK : S_FALSE; });
}

HRESULT Registry::DeleteValue(std::string_view key, std::string_view name) {
    if (SplitKeyPath(key).empty()) return E_INVALIDARG;
    return Update([&](RegistryTree& tree) { return tree.DeleteValue(key, name) ? S_OK : S_FALSE; });
}

std::optional<std::string> Registry::GetValue(std::string_view key, std::string_view name) {
    RegistryTree tree;
    if (FAILED(Load(&tree))) return std::nullopt;
    return tree.GetValue(key, name);
}

bool Registry::KeyExists(std::string_view key) {
    RegistryTree tree;
    return SUCCEEDED(Load(&tree)) && tree.KeyExists(key);
}

std::vector<std::string> Registry::EnumSubKeys(std::string_view key) {
    RegistryTree tree;
    if (FAILED(Load(&tree))) return {};
    return tree.EnumSubKeys(key);
}

}  // namespace mbus::com
