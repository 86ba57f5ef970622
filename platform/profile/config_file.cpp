#include "platform/profile/config_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace mbus::profile {
namespace {

constexpr std::string_view kNameCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kSuffixLength = 6;

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

// "<path>." and six random letters or digits, as mkstemp names its files.
std::string TemporaryName(const std::string& path) {
    unsigned char random[kSuffixLength];
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        // No entropy to be had: the clock and the process, which O_EXCL makes good enough.
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        unsigned long long mix = static_cast<unsigned long long>(now.tv_nsec) * 2654435761ull ^
                                 static_cast<unsigned long long>(::getpid()) << 20;
        for (unsigned char& r : random) {
            r = static_cast<unsigned char>(mix);
            mix = mix * 6364136223846793005ull + 1442695040888963407ull;
        }
    }
    std::string name = path + ".";
    for (unsigned char r : random) name += kNameCharacters[r % kNameCharacters.size()];
    return name;
}

// Creates the temporary file for `path`; -1 with errno when it cannot.
int CreateTemporary(const std::string& path, mode_t mode, std::string* name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = TemporaryName(path);
        const int fd = ::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

bool IsTemporaryOf(std::string_view entry, std::string_view base) {
    if (entry.size() != base.size() + 1 + kSuffixLength || entry.substr(0, base.size()) != base ||
        entry[base.size()] != '.')
        return false;
    for (char c : entry.substr(base.size() + 1))
        if (kNameCharacters.find(c) == std::string_view::npos) return false;
    return true;
}

}  // namespace

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

bool ReplaceFile(const std::string& path, std::string_view text, mode_t newFileMode, ReplaceFailure* failure) {
    std::string temp;
    const int fd = CreateTemporary(path, newFileMode, &temp);
    if (fd < 0) {
        *failure = {ReplaceFailure::kCreateTemporary, {}, errno};
        return false;
    }
    // Held until the file is renamed: a live replacement is not stale.
    ::flock(fd, LOCK_EX | LOCK_NB);
    // A file that is there keeps its permissions; a new one has them from
    // its creation, the umask applied.
    struct stat st;
    const bool replacing = ::stat(path.c_str(), &st) == 0;
    bool ok = WriteAll(fd, text) && (!replacing || ::fchmod(fd, st.st_mode & 07777) == 0) && ::fsync(fd) == 0;
    if (!ok) {
        *failure = {ReplaceFailure::kWrite, temp, errno};
        ::unlink(temp.c_str());
        ::close(fd);
        return false;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        *failure = {ReplaceFailure::kRename, temp, errno};
        ::unlink(temp.c_str());
        ::close(fd);
        return false;
    }
    ::close(fd);
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

int RemoveStaleTemporaries(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty()) return 0;
    const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return 0;
    DIR* dir = ::fdopendir(dirFd);
    if (dir == nullptr) {
        ::close(dirFd);
        return 0;
    }
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsTemporaryOf(entry->d_name, base)) continue;
        const int fd = ::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) continue;  // a link, or not ours to read
        struct stat st;
        const bool candidate = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
                               now.tv_sec - st.st_mtim.tv_sec >= kStaleSeconds;
        // A replacement under way holds the lock of its file.
        if (candidate && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // Still the file looked at (not one renamed into its place meanwhile).
            struct stat again;
            if (::fstatat(dirFd, entry->d_name, &again, AT_SYMLINK_NOFOLLOW) == 0 && again.st_ino == st.st_ino &&
                again.st_dev == st.st_dev && ::unlinkat(dirFd, entry->d_name, 0) == 0)
                ++removed;
        }
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

}  // namespace mbus::profile
