// The component registry: a small tree of keys with string values, kept in a
// readable text file, where component libraries record their classes and
// clients look them up.
//
// Keys are paths of names joined by '\', e.g.
// "HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32". Key and value names are
// compared without regard to ASCII case and keep the case they were first
// written with. The abbreviations HKCR, HKCU, HKLM, HKU and HKCC stand for
// the full names of the root keys. A key name is not empty, has no control
// characters, does not start or end with a blank and has at most 1024 bytes;
// a path has at most 64 names. Each key holds any number of named values and
// one default value (the empty name). Values are UTF-8 strings of any bytes.
//
// The file (see RegistryPath for where it is):
//
//   # comment (also ';'); programs that rewrite the file do not keep comments
//   [HKEY_CLASSES_ROOT\CLSID\{12345678-9ABC-DEF0-1234-56789ABCDEF0}]
//   @=The class description            the default value
//   [HKEY_CLASSES_ROOT\CLSID\{12345678-9ABC-DEF0-1234-56789ABCDEF0}\InprocServer32]
//   @=/usr/lib/libexample.so
//   ThreadingModel=Free
//   [HKEY_CLASSES_ROOT\CLSID\{12345678-9ABC-DEF0-1234-56789ABCDEF0}\Control]
//
// - "[path]" starts a key; the path ends at the last ']' of the line. A key
//   given with no values is an existing, empty key; the keys above a written
//   key exist without being written.
// - "name=value" lines below it are its values; the name ends at the first
//   '=' that is not escaped, and blanks around name and value are not part of
//   them. "@" alone is the default value.
// - In names and values a backslash escapes: \\ backslash, \n newline,
//   \r carriage return, \t tab, \xHH any byte, and \= \[ \# \; \@ the
//   character itself. A backslash before anything else is an ordinary
//   character, so hand-written paths such as C:\dir survive (but \n, \t, \r
//   and \x are escapes).
// - Writers escape every backslash and control character, '=' in names, a
//   name starting with '[', '#', ';' or '@', and blanks at either end.
//
// Malformed lines are skipped and reported ("line K: ..."); the rest of the
// file is used for reading. A file with such lines is never rewritten: a
// change that would write it is refused (REGDB_E_READREGDB) and the report
// names the file and the lines to mend.
//
// Writers take an exclusive lock (flock) of "<file>.lock", read the file,
// apply the change and replace the file by renaming a completed temporary
// file over it, so two processes (or two threads) registering at once do not
// lose each other's changes, and readers, which take no lock, always see
// either the old or the new file. A new file is its owner's alone (mode
// 0600 less the umask); a file that is there keeps its mode. A directory,
// FIFO or device in the file's place, or a file over 1 MiB, is not read.

#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com/types.h"

namespace mbus::com {

// The names of a key path with the root abbreviations expanded and empty
// names (doubled or trailing backslashes) dropped; empty when the path is not
// valid (no names, a name too long or with forbidden characters, too deep).
std::vector<std::string> SplitKeyPath(std::string_view key);

// The registry tree in memory.
class RegistryTree {
public:
    RegistryTree();
    ~RegistryTree();
    RegistryTree(RegistryTree&&) noexcept;
    RegistryTree& operator=(RegistryTree&&) noexcept;
    RegistryTree(const RegistryTree&) = delete;
    RegistryTree& operator=(const RegistryTree&) = delete;

    // Reads the text of a registry file. Lines that cannot be read are
    // skipped and described in *problems, one "line K: ..." a line.
    static RegistryTree Parse(std::string_view text, std::string* problems = nullptr);
    // The text of the file for this tree.
    std::string Serialize() const;

    // Sets a value (the empty name is the default value), creating the key
    // and the keys above it. False for an invalid key path.
    bool SetValue(std::string_view key, std::string_view name, std::string_view value);
    // Creates a key (and the keys above it) if missing. False for an invalid path.
    bool CreateKey(std::string_view key);
    // Removes a key with all its subkeys and values. False when there was no such key.
    bool DeleteKey(std::string_view key);
    // False when there was no such value.
    bool DeleteValue(std::string_view key, std::string_view name);

    std::optional<std::string> GetValue(std::string_view key, std::string_view name = {}) const;
    bool KeyExists(std::string_view key) const;
    // Names of the direct subkeys, ordered without regard to case; empty for a missing key.
    std::vector<std::string> EnumSubKeys(std::string_view key) const;
    // (name, value) pairs in the order they were first set; "" is the default value.
    std::vector<std::pair<std::string, std::string>> EnumValues(std::string_view key) const;
    bool Empty() const;

private:
    struct Node;
    Node* Find(const std::vector<std::string>& names) const;
    Node* FindOrCreate(const std::vector<std::string>& names);
    std::unique_ptr<Node> root_;
};

// Where the registry file is: $MBUS_REGISTRY when set, else
// $XDG_CONFIG_HOME/mbus/registry (an absolute $XDG_CONFIG_HOME only), else
// ~/.config/mbus/registry. Empty when there is no home directory either.
std::string RegistryPath();

// The registry file. Every operation reads the file afresh, and every change
// is written before the call returns, so separate objects (in any threads or
// processes) may work on the same file at once. One object is used by one
// thread at a time.
//
// Results: S_OK; S_FALSE when a deletion found nothing to delete;
// E_INVALIDARG for an invalid key path; REGDB_E_READREGDB when the file
// exists but cannot be read, or when a change would have to rewrite a file
// with unreadable lines; REGDB_E_WRITEREGDB when it cannot be written
// (Problems() tells why).
class Registry {
public:
    // The file at RegistryPath(), determined now.
    Registry();
    explicit Registry(std::string path);

    const std::string& Path() const { return path_; }

    HRESULT SetValue(std::string_view key, std::string_view name, std::string_view value);
    HRESULT CreateKey(std::string_view key);
    HRESULT DeleteKey(std::string_view key);
    HRESULT DeleteValue(std::string_view key, std::string_view name);
    // Several changes at once, under one lock: `change` edits the tree read
    // from the file; the tree is written when it returns a success code
    // (which Update then returns). `change` must not use the registry file
    // itself (that would wait for its own lock).
    HRESULT Update(const std::function<HRESULT(RegistryTree&)>& change);

    std::optional<std::string> GetValue(std::string_view key, std::string_view name = {});
    bool KeyExists(std::string_view key);
    std::vector<std::string> EnumSubKeys(std::string_view key);
    // The whole tree as it is in the file now (an empty tree when there is no file).
    HRESULT Load(RegistryTree* tree);

    // What the last operation found wrong: unreadable lines of the file
    // ("<path>: line K: ..."), a file it could not read or write. Empty when
    // all was well.
    const std::string& Problems() const { return problems_; }

private:
    HRESULT Read(RegistryTree* tree, std::string* text);
    std::string path_;
    std::string problems_;
};

}  // namespace mbus::com
