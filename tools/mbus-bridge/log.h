// The bridge's log: one line a message on standard error. Under systemd
// (stderr is the journal: $JOURNAL_STREAM names it) each line starts with
// the syslog level in angle brackets, which the journal takes as the
// message's priority; otherwise with the local time and the level's word,
// coloured only on a terminal. Lines are written whole from any thread.

#pragma once

#include <string>

namespace mbus::bridge {

enum class Level { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };

class Log {
public:
    // Debug lines (frames, every request) only when verbose.
    static void SetVerbose(bool verbose);
    static bool Verbose();
    static void Write(Level level, const std::string& text);

    static void Error(const std::string& text) { Write(Level::Error, text); }
    static void Warning(const std::string& text) { Write(Level::Warning, text); }
    static void Info(const std::string& text) { Write(Level::Info, text); }
    static void Debug(const std::string& text) {
        if (Verbose()) Write(Level::Debug, text);
    }
};

}  // namespace mbus::bridge
