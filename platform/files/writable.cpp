#include "platform/files/writable.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace mbus::files {
namespace {

std::string Reason(int err) { return std::strerror(err); }

}  // namespace

std::string AppendProblem(const std::string& path) {
    if (path.empty()) return "no file name given";
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return "is a directory";
        // The effective ids decide, as they will when the file is opened.
        if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
            return "cannot be written (" + Reason(errno) + ")";
        return {};
    }
    if (errno != ENOENT) return "cannot be opened (" + Reason(errno) + ")";
    // A new file: its directory must be there and take it.
    const std::size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (::stat(directory.c_str(), &st) != 0) return "cannot be created (" + Reason(errno) + ")";
    if (!S_ISDIR(st.st_mode)) return "cannot be created (" + Reason(ENOTDIR) + ")";
    if (::faccessat(AT_FDCWD, directory.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return "cannot be created (" + Reason(errno) + ")";
    return {};
}

}  // namespace mbus::files
