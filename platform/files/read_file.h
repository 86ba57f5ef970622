// Reading the small text files a user keeps (the port map, the component
// registry, MERIDEX.INI, bus descriptions, language files, device lists):
// one reader for all of them, so that each refuses in the same words what is
// not a file of text. A name may point at a directory, a FIFO (which would
// block a reader until something writes to it) or a device such as
// /dev/zero (which never ends): those are refused before anything is read,
// and so is a file larger than the limit.

#pragma once

#include <cstddef>
#include <string>

namespace mbus::files {

// The most a text file of the user's may hold.
inline constexpr std::size_t kTextFileLimit = std::size_t{1} << 20;

enum class ReadStatus {
    kOk,       // *content holds the file
    kMissing,  // no such file (or a directory on the way is missing)
    kFailed,   // *problem says why
};

// Reads the regular file at `path` whole. The file is opened without
// blocking and without becoming a controlling terminal, and looked at before
// it is read. On kMissing and kFailed, *problem says what is wrong without
// the path, ready to follow "PATH: ": "is a directory", "is not a regular
// file (a FIFO)", "is larger than 1 MiB (1048577 bytes)", "cannot be read
// (Permission denied)", "does not exist".
ReadStatus ReadTextFile(const std::string& path, std::string* content, std::string* problem,
                        std::size_t limit = kTextFileLimit);

}  // namespace mbus::files
