// Test helpers for what touches the environment: environment variables and
// the umask set for one scope, and a scratch directory removed at the end of
// the scope.

#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace mbus::testsupport {

// Sets (or, with null, removes) an environment variable until the end of the scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = ::getenv(name)) old_ = std::string(old);
        if (value != nullptr)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_.c_str(), old_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// Sets the umask until the end of the scope (for the whole process: use it
// in single-threaded parts of a test).
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(old_); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t old_;
};

// A fresh directory, removed with everything in it at the end of the scope.
class ScratchDirectory {
public:
    ScratchDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "mbus-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~ScratchDirectory() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    bool Ok() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

    std::string WriteFile(const std::string& name, const std::string& text) const {
        const std::string file = File(name);
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }

private:
    std::string path_;
};

}  // namespace mbus::testsupport
