#include "platform/files/read_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace mbus::files {
namespace {

std::string Reason(int err) { return std::strerror(err); }

// What a file that is not a regular file is, for a message.
std::string KindProblem(mode_t mode) {
    if (S_ISDIR(mode)) return "is a directory";
    const char* kind = "a special file";
    if (S_ISFIFO(mode)) kind = "a FIFO";
    else if (S_ISCHR(mode)) kind = "a character device";
    else if (S_ISBLK(mode)) kind = "a block device";
    else if (S_ISSOCK(mode)) kind = "a socket";
    return std::string("is not a regular file (") + kind + ")";
}

std::string SizeText(std::size_t bytes) {
    if (bytes >= (std::size_t{1} << 20) && bytes % (std::size_t{1} << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB";
    if (bytes >= 1024 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

std::string TooLarge(std::size_t limit, const std::string& size) {
    return "is larger than " + SizeText(limit) + " (" + size + ")";
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

ReadStatus ReadTextFile(const std::string& path, std::string* content, std::string* problem, std::size_t limit) {
    content->clear();
    problem->clear();
    const Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.Get() < 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR) {
            *problem = "does not exist";
            return ReadStatus::kMissing;
        }
        // A socket, say, cannot be opened at all: say what it is.
        struct stat st;
        if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            *problem = KindProblem(st.st_mode);
        else
            *problem = "cannot be read (" + Reason(err) + ")";
        return ReadStatus::kFailed;
    }
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0) {
        *problem = "cannot be read (" + Reason(errno) + ")";
        return ReadStatus::kFailed;
    }
    if (!S_ISREG(st.st_mode)) {
        *problem = KindProblem(st.st_mode);
        return ReadStatus::kFailed;
    }
    if (st.st_size < 0 || static_cast<unsigned long long>(st.st_size) > limit) {
        *problem = TooLarge(limit, std::to_string(static_cast<long long>(st.st_size)) + " bytes");
        return ReadStatus::kFailed;
    }
    content->reserve(static_cast<std::size_t>(st.st_size));
    // The file may grow while it is read: no more than the limit is taken.
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n > 0) {
            if (content->size() + static_cast<std::size_t>(n) > limit) {
                content->clear();
                *problem = TooLarge(limit, "it grew while it was read");
                return ReadStatus::kFailed;
            }
            content->append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            return ReadStatus::kOk;
        } else if (errno != EINTR) {
            const int err = errno;
            content->clear();
            *problem = "cannot be read (" + Reason(err) + ")";
            return ReadStatus::kFailed;
        }
    }
}

}  // namespace mbus::files
