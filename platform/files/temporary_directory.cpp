#include "platform/files/temporary_directory.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace mbus::files {
namespace {

// $TMPDIR when it is set to an absolute path, else /tmp.
std::string TemporaryRoot() {
    const char* tmp = std::getenv("TMPDIR");
    if (tmp != nullptr && tmp[0] == '/') {
        std::string root = tmp;
        while (root.size() > 1 && root.back() == '/') root.pop_back();
        return root;
    }
    return "/tmp";
}

// The paths for the signal handler: fixed storage, as a handler may not
// allocate or take locks.
constexpr int kMaxRemovedOnSignal = 4;
char removedOnSignal[kMaxRemovedOnSignal][PATH_MAX];
volatile sig_atomic_t removedOnSignalCount = 0;

extern "C" void RemoveAndEnd(int signal) {
    // unlink and rmdir set errno; the code the signal interrupted must
    // find it as it was.
    const int savedErrno = errno;
    for (int i = 0; i < removedOnSignalCount; ++i)
        if (::unlink(removedOnSignal[i]) != 0) ::rmdir(removedOnSignal[i]);
    errno = savedErrno;
    // The handler was reset to the default on entry: the signal, pending
    // until this returns, ends the program as it would have without us.
    ::raise(signal);
}

void Catch(int signal, struct sigaction* previous) {
    ::sigaction(signal, nullptr, previous);
    if (previous->sa_handler == SIG_IGN) return;
    struct sigaction action {};
    action.sa_handler = RemoveAndEnd;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    ::sigaction(signal, &action, nullptr);
}

}  // namespace

RemovedOnSignal::RemovedOnSignal(const std::vector<std::string>& paths) {
    int count = 0;
    for (const std::string& p : paths) {
        if (count == kMaxRemovedOnSignal || p.size() >= PATH_MAX) continue;
        std::memcpy(removedOnSignal[count], p.c_str(), p.size() + 1);
        ++count;
    }
    removedOnSignalCount = count;
    Catch(SIGINT, &previousInt_);
    Catch(SIGTERM, &previousTerm_);
}

RemovedOnSignal::~RemovedOnSignal() {
    ::sigaction(SIGINT, &previousInt_, nullptr);
    ::sigaction(SIGTERM, &previousTerm_, nullptr);
    removedOnSignalCount = 0;
}

TemporaryDirectory::TemporaryDirectory(const std::string& prefix) {
    const std::string root = TemporaryRoot();
    std::string pattern = root + "/" + prefix + "XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        problem_ = "cannot create a directory in " + root + " (" + std::strerror(errno) + ")";
        return;
    }
    path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
    for (const std::string& file : files_) ::unlink(file.c_str());
    if (!path_.empty()) ::rmdir(path_.c_str());
}

std::string TemporaryDirectory::WriteFile(const std::string& name, std::string_view content, std::string* problem) {
    if (path_.empty()) {
        *problem = problem_;
        return {};
    }
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        *problem = "\"" + name + "\" is not a file name";
        return {};
    }
    const std::string file = path_ + "/" + name;
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        *problem = file + ": cannot be created (" + std::strerror(errno) + ")";
        return {};
    }
    files_.push_back(file);
    bool ok = true;
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        content.remove_prefix(static_cast<std::size_t>(n));
    }
    int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        *problem = file + ": cannot be written (" + std::strerror(err) + ")";
        return {};
    }
    return file;
}

std::vector<std::string> TemporaryDirectory::Paths() const {
    std::vector<std::string> paths = files_;
    if (!path_.empty()) paths.push_back(path_);
    return paths;
}

}  // namespace mbus::files
