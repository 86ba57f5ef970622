// A private directory for the temporary files of a run (the port map of a
// simulated session, say). The directory is made by mkdtemp under $TMPDIR
// (else /tmp) with a name nobody can guess, readable by its owner alone, so
// that nobody else can plant a file or a link where a temporary file will
// go; the files are created anew inside it, never through a link and never
// over a file that is there. The destructor removes the files and the
// directory.

#pragma once

#include <signal.h>

#include <string>
#include <string_view>
#include <vector>

namespace mbus::files {

class TemporaryDirectory {
public:
    // Makes "<tmp>/<prefix>XXXXXX"; Ok() tells whether it could.
    explicit TemporaryDirectory(const std::string& prefix);
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    bool Ok() const { return !path_.empty(); }
    // Why the directory could not be made: "cannot create a directory in
    // /tmp (Permission denied)".
    const std::string& Problem() const { return problem_; }
    const std::string& Path() const { return path_; }

    // Creates the file `name` (one path component) in the directory, mode
    // 0600, holding `content`; returns its path, or an empty string with
    // *problem naming the file and the reason.
    std::string WriteFile(const std::string& name, std::string_view content, std::string* problem);

    // What the destructor removes, in that order: the files, then the
    // directory (for a signal handler that must do it without allocating).
    std::vector<std::string> Paths() const;

private:
    std::string path_;
    std::string problem_;
    std::vector<std::string> files_;
};

// While it lives, SIGINT and SIGTERM remove `paths` (files, then the
// directory that held them: TemporaryDirectory::Paths()) before they end
// the program as they would have otherwise; the program may be anywhere
// then (reading standard input, in a call of the control, in a dialog). A
// signal the program was started to ignore stays ignored. One at a time in
// a process; at most four paths.
class RemovedOnSignal {
public:
    explicit RemovedOnSignal(const std::vector<std::string>& paths);
    ~RemovedOnSignal();
    RemovedOnSignal(const RemovedOnSignal&) = delete;
    RemovedOnSignal& operator=(const RemovedOnSignal&) = delete;

private:
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
};

}  // namespace mbus::files
