// Reading and replacing the user's configuration files (the component
// registry, MERIDEX.INI): a file is read whole, and replaced whole by
// writing a temporary file beside it, flushing it to disk and renaming it
// over the old one, so that a reader never sees half a file and a crash
// never leaves one.

#pragma once

#include <string>
#include <string_view>

namespace mbus::profile {

enum class ReadResult { kOk, kMissing, kFailed };

// Reads the file at `path` into *text. kMissing when there is no such file
// (or a directory on the way is missing), kFailed with *err otherwise.
ReadResult ReadWholeFile(const std::string& path, std::string* text, int* err);

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

// Replaces the file at `path` by `text` as described above, keeping the
// permissions of the file it replaces (a new file is readable by all).
bool ReplaceFile(const std::string& path, std::string_view text, ReplaceFailure* failure);

// "<path>: cannot be written (<reason>)" and the like, for messages.
std::string DescribeReplaceFailure(const std::string& path, const ReplaceFailure& failure);

}  // namespace mbus::profile
