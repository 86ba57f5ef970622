#include "platform/profile/config_file.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace mbus::profile {
namespace {

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

ReadResult ReadWholeFile(const std::string& path, std::string* text, int* err) {
    text->clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *err = errno;
        return *err == ENOENT || *err == ENOTDIR ? ReadResult::kMissing : ReadResult::kFailed;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            text->append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            *err = errno;
            ::close(fd);
            return ReadResult::kFailed;
        }
    }
    ::close(fd);
    return ReadResult::kOk;
}

bool MakeParentDirectories(const std::string& path, std::string* failed, int* err) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string dir = path.substr(0, slash);
        if (::mkdir(dir.c_str(), 0700) == 0) continue;
        // Refused (it exists, or no write permission above an existing directory): fine if it is a directory.
        const int mkdirError = errno;
        struct stat st;
        const bool exists = ::stat(dir.c_str(), &st) == 0;
        if (exists && S_ISDIR(st.st_mode)) continue;
        *failed = dir;
        *err = exists ? ENOTDIR : mkdirError;
        return false;
    }
    return true;
}

std::string ResolvedPath(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
    return path;
}

bool ReplaceFile(const std::string& path, std::string_view text, ReplaceFailure* failure) {
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        *failure = {ReplaceFailure::kCreateTemporary, {}, errno};
        return false;
    }
    struct stat st;
    const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    bool ok = WriteAll(fd, text) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        *failure = {ReplaceFailure::kWrite, temp, err};
        ::unlink(temp.c_str());
        return false;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        *failure = {ReplaceFailure::kRename, temp, errno};
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

std::string DescribeReplaceFailure(const std::string& path, const ReplaceFailure& failure) {
    const std::string reason = std::strerror(failure.err);
    switch (failure.step) {
        case ReplaceFailure::kCreateTemporary: return path + ": cannot create a temporary file beside it (" + reason + ")";
        case ReplaceFailure::kWrite: return path + ": cannot be written (" + reason + ")";
        case ReplaceFailure::kRename: return path + ": cannot be replaced (" + reason + ")";
    }
    return path + ": cannot be written (" + reason + ")";
}

}  // namespace mbus::profile
