// Replacing the user's configuration files (the component registry,
// MERIDEX.INI, device lists): a file is replaced whole by writing a
// temporary file beside it, flushing it to disk and renaming it over the old
// one, so that a reader never sees half a file and a crash never leaves one.
// Files are read with files::ReadTextFile.

#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace mbus::profile {

// The mode a new file gets before the umask takes its part: files that hold
// a user's settings (MERIDEX.INI, the registry) are his alone; other files
// (device lists) are whatever the umask lets them be.
inline constexpr mode_t kPrivateFileMode = 0600;
inline constexpr mode_t kOrdinaryFileMode = 0666;

// Creates the missing directories above the file `path` (mode 0700). On
// failure *failed names the directory and *err says why (ENOTDIR when
// something else is in its place).
bool MakeParentDirectories(const std::string& path, std::string* failed, int* err);

// The file a path names: a symbolic link is followed, so that replacing the
// file keeps the link.
std::string ResolvedPath(const std::string& path);

// Why a replacement failed: the step, the temporary file and errno.
struct ReplaceFailure {
    enum Step { kCreateTemporary, kWrite, kRename } step = kCreateTemporary;
    std::string temporary;
    int err = 0;
};

// Replaces the file at `path` by `text` as described above. The file keeps
// the permissions of the file it replaces; a new file gets `newFileMode`
// less the umask. The temporary file is "<path>.XXXXXX" (six letters or
// digits), created anew (never through a link), and locked (flock) while it
// exists, so that RemoveStaleTemporaries can tell it from one left behind.
bool ReplaceFile(const std::string& path, std::string_view text, mode_t newFileMode, ReplaceFailure* failure);

// "<path>: cannot be written (<reason>)" and the like, for messages.
std::string DescribeReplaceFailure(const std::string& path, const ReplaceFailure& failure);

// Removes the temporary files that replacements of `path` left behind when
// the program was killed during a save: files beside it named exactly
// "<name of path>.XXXXXX" (six letters or digits), regular files (not
// links), owned by this user, not locked by a replacement under way and not
// changed in the last kStaleSeconds. Returns how many it removed.
inline constexpr int kStaleSeconds = 10;
int RemoveStaleTemporaries(const std::string& path);

}  // namespace mbus::profile
