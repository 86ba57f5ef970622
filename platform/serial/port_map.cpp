#include "platform/serial/port_map.h"

#include "platform/files/read_file.h"
#include "platform/profile/config_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <vector>

namespace mbus::serial {
namespace {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 999;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Text of the file for a message: bytes that a terminal would not show, or
// that would end the message early (a NUL), as \xHH.
std::string Shown(std::string_view s) {
    std::string out;
    for (char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

bool HasControlByte(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    return false;
}

void AddError(std::string& errors, int line, const std::string& what) {
    if (!errors.empty()) errors += '\n';
    errors += "line " + std::to_string(line) + ": " + what;
}

// Reads one non-comment line; returns an empty string when it is good,
// else what is wrong with it.
std::string ParseEntry(std::string_view line, int* number, std::string* device) {
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return "expected \"N = DEVICE\"";
    const std::string_view left = Trim(line.substr(0, eq));
    const std::string_view right = Trim(line.substr(eq + 1));
    if (left.empty()) return "no port number before '='";
    for (char c : left)
        if (c < '0' || c > '9') return "\"" + Shown(left) + "\" is not a port number";
    // More than four digits (after leading zeros) is out of range anyway; this also keeps
    // the conversion below from overflowing.
    std::string_view digits = left;
    while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
    int value = 0;
    if (digits.size() <= 4)
        for (char c : digits) value = value * 10 + (c - '0');
    else
        value = kLastPort + 1;
    if (value < kFirstPort || value > kLastPort)
        return "port number " + Shown(left) + " is outside " + std::to_string(kFirstPort) + ".." +
               std::to_string(kLastPort);
    if (right.empty()) return "no device after '='";
    for (char c : right)
        if (IsBlank(c)) return "unexpected text after the device in \"" + Shown(right) + "\"";
    if (HasControlByte(right))
        return "the device \"" + Shown(right) + "\" holds a control character; a device is a path, sim:NAME or tcp:HOST:PORT";
    if (right == "sim:") return "no bus name after \"sim:\"";
    if (IsTcpDevice(right)) {
        TcpEndpoint endpoint;
        const std::string problem = ParseTcpDevice(right, &endpoint);
        if (!problem.empty()) return problem;
    }
    *number = value;
    *device = std::string(right);
    return {};
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

bool IsTcpDevice(std::string_view device) { return device.substr(0, 4) == "tcp:"; }

// The port is the text after the last ':' (after the ']' of a bracketed
// literal), so that a bare IPv6 literal is caught rather than cut at one of
// its own colons.
std::string ParseTcpDevice(std::string_view device, TcpEndpoint* endpoint) {
    if (!IsTcpDevice(device)) return "\"" + std::string(device) + "\" does not start with \"tcp:\"";
    const std::string_view rest = device.substr(4);
    std::string_view host;
    std::string_view port;
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string_view::npos) return "no ']' after the address in \"" + std::string(device) + "\"";
        host = rest.substr(1, close - 1);
        if (host.empty()) return "no address between '[' and ']' in \"" + std::string(device) + "\"";
        if (host.find('[') != std::string_view::npos) return "a '[' inside the address in \"" + std::string(device) + "\"";
        if (close + 1 >= rest.size() || rest[close + 1] != ':')
            return "expected \":PORT\" after ']' in \"" + std::string(device) + "\"";
        port = rest.substr(close + 2);
    } else {
        const size_t colon = rest.rfind(':');
        if (colon == std::string_view::npos) return "expected \"tcp:HOST:PORT\", got \"" + std::string(device) + "\"";
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
        if (host.empty()) return "no host before the port in \"" + std::string(device) + "\"";
        if (host.find(':') != std::string_view::npos)
            return "an IPv6 address goes in brackets, e.g. tcp:[::1]:10001 (got \"" + std::string(device) + "\")";
        if (host.find_first_of("[]") != std::string_view::npos)
            return "unexpected bracket in the host of \"" + std::string(device) + "\"";
    }
    if (port.empty()) return "no TCP port after the host in \"" + std::string(device) + "\"";
    int value = 0;
    for (char c : port) {
        if (c < '0' || c > '9') return "\"" + std::string(port) + "\" is not a TCP port number";
        value = value * 10 + (c - '0');
        if (value > 65535) break;
    }
    if (value < 1 || value > 65535) return "TCP port " + std::string(port) + " is outside 1..65535";
    endpoint->host = std::string(host);
    endpoint->port = value;
    return {};
}

// Grammar of a line: optional blanks, a port number, '=', a device word, and
// an optional comment; '#' starts a comment anywhere on a line. Lines that
// cannot be read are skipped and reported in `errors`, one "line K: ..."
// message a line. A later entry for the same port replaces an earlier one, so
// a user can append an override without editing what is above.
PortMap ParsePortMap(std::string_view text) {
    PortMap map;
    // A byte-order mark some editors put at the start.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);

        const size_t hash = line.find('#');
        if (hash != std::string_view::npos) line = line.substr(0, hash);
        line = Trim(line);
        if (line.empty()) continue;

        int number = 0;
        std::string device;
        const std::string problem = ParseEntry(line, &number, &device);
        if (!problem.empty()) {
            AddError(map.errors, lineNumber, problem);
            continue;
        }
        map.entries[number] = std::move(device);
    }
    return map;
}

std::string PortMapPath() { return profile::UserConfigFile("MBUS_PORT_MAP", "ports"); }

// A missing file is the normal case (every port takes its default) and is
// not an error; a file that exists but cannot be read, or is no file of
// text, is reported in `errors`.
PortMap ReadPortMap(const std::string& path) {
    if (path.empty()) return {};
    std::string text;
    std::string problem;
    switch (files::ReadTextFile(path, &text, &problem)) {
        case files::ReadStatus::kMissing: return {};
        case files::ReadStatus::kFailed: {
            PortMap map;
            map.errors = problem;
            return map;
        }
        case files::ReadStatus::kOk: break;
    }
    return ParsePortMap(text);
}

// Each problem line becomes "mbus: PATH: line K: ..." on the error stream.
PortMap LoadPortMap() {
    const std::string path = PortMapPath();
    PortMap map = ReadPortMap(path);
    if (map.errors.empty()) return map;
    static std::mutex mutex;
    static std::set<std::string> warned;
    std::lock_guard lock(mutex);
    if (!warned.insert(path).second) return map;
    std::string message;
    std::size_t start = 0;
    while (start <= map.errors.size()) {
        const std::size_t end = std::min(map.errors.find('\n', start), map.errors.size());
        message += "mbus: " + path + ": " + map.errors.substr(start, end - start) + "\n";
        start = end + 1;
    }
    message += "mbus: " + path + ": ports without a good entry open their default device\n";
    std::fwrite(message.data(), 1, message.size(), stderr);
    return map;
}

std::string DeviceOfPort(int number, const PortMap& map) {
    const auto it = map.entries.find(number);
    if (it != map.entries.end()) return it->second;
    const std::string usb = "/dev/ttyUSB" + std::to_string(number - 1);
    if (Exists(usb)) return usb;
    return "/dev/ttyS" + std::to_string(number - 1);
}

}  // namespace mbus::serial
