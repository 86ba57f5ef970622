#include "tools/mbus-bridge/log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace mbus::bridge {
namespace {

std::atomic<bool> verbose{false};

enum class Style { Journal, Terminal, Plain };

// stderr is the journal when $JOURNAL_STREAM holds its device and inode.
bool StderrIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (stream == nullptr) return false;
    unsigned long long dev = 0, ino = 0;
    if (std::sscanf(stream, "%llu:%llu", &dev, &ino) != 2) return false;
    struct stat st {};
    return ::fstat(STDERR_FILENO, &st) == 0 && st.st_dev == dev && st.st_ino == ino;
}

Style TheStyle() {
    static const Style style = StderrIsJournal()                 ? Style::Journal
                               : ::isatty(STDERR_FILENO) != 0 ? Style::Terminal
                                                                : Style::Plain;
    return style;
}

const char* Word(Level level) {
    switch (level) {
        case Level::Error: return "error";
        case Level::Warning: return "warning";
        case Level::Notice: return "notice";
        case Level::Info: return "info";
        case Level::Debug: return "debug";
    }
    return "info";
}

const char* Colour(Level level) {
    switch (level) {
        case Level::Error: return "\033[31m";
        case Level::Warning: return "\033[33m";
        case Level::Debug: return "\033[2m";
        default: return "";
    }
}

}  // namespace

void Log::SetVerbose(bool v) { verbose.store(v); }
bool Log::Verbose() { return verbose.load(); }

void Log::Write(Level level, const std::string& text) {
    std::string line;
    // A message never spans lines: the journal and log readers take a line
    // for a message.
    std::string body = text;
    for (char& c : body)
        if (c == '\n' || c == '\r') c = ' ';
    if (TheStyle() == Style::Journal) {
        line = "<" + std::to_string(static_cast<int>(level)) + ">" + body + "\n";
    } else {
        const std::time_t now = std::time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &tm);
        const bool colour = TheStyle() == Style::Terminal && *Colour(level) != '\0';
        line = std::string(stamp) + " " + (colour ? Colour(level) : "") + Word(level) + ": " + body +
               (colour ? "\033[0m" : "") + "\n";
    }
    // One write: lines of several threads never interleave.
    for (std::size_t done = 0; done < line.size();) {
        const ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace mbus::bridge
