#include "control/line/trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <mutex>

namespace mbus::line {
namespace {

std::mutex nameMutex;
std::string& Name() {
    static std::string name;
    return name;
}

}  // namespace

void SetTraceFileName(const std::string& name) {
    std::lock_guard lock(nameMutex);
    Name() = name;
}

std::string TraceFileName() {
    std::lock_guard lock(nameMutex);
    return Name();
}

std::string FormatTraceLine(int64_t unixMs, TraceKind kind, int slot, const uint8_t* bytes, int n) {
    const std::time_t seconds = static_cast<std::time_t>(unixMs / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[40];
    const std::size_t len = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S:", &local);
    std::string line(stamp, len);
    line += std::to_string(unixMs % 1000);
    line += kind == TraceKind::Send ? "\tSND\tChannel: " : "\tREC\tChannel: ";
    line += std::to_string(slot);
    line += '\t';
    static const char* kHex = "0123456789ABCDEF";
    for (int i = 0; i < n; ++i) {
        line += kHex[bytes[i] >> 4];
        line += kHex[bytes[i] & 0x0F];
        line += ' ';
    }
    line += "\r\n";
    return line;
}

void AppendTraceLine(TraceKind kind, int slot, const uint8_t* bytes, int n) {
    const std::string name = TraceFileName();
    if (name.empty()) return;
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    const std::string line = FormatTraceLine(now, kind, slot, bytes, n);
    const int fd = ::open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t w = ::write(fd, line.data() + done, line.size() - done);
        if (w <= 0) break;
        done += static_cast<std::size_t>(w);
    }
    ::close(fd);
}

}  // namespace mbus::line
