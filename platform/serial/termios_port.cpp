// The termios backend (see termios_port.h for what it does).
//
// Any baud rate needs the kernel's termios2 structure, which comes from
// <asm/termbits.h>; that header defines its own `struct termios` and the same
// flag names as the C library's <termios.h>, so the two cannot meet in one
// translation unit. This file uses the kernel's definitions throughout and
// talks to the terminal with ioctl() only (TCGETS2/TCSETS2 for the settings,
// TCFLSH for purging, TCSBRK for draining).

#include "platform/serial/termios_port.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#if defined(_TERMIOS_H)
#error "termios_port.cpp must not see <termios.h>: it uses the kernel's termios2 definitions"
#endif

namespace mbus::serial {
namespace {

// How far the rate the driver reports back may be from the asked one (percent).
constexpr long kRateTolerancePercent = 3;

// Bytes moved out of the driver in one go at most, so that a flooded line
// cannot keep a caller in the read loop.
constexpr std::size_t kFillLimit = 64 * 1024;

int RetryIoctl(int fd, unsigned long request, void* arg) {
    int r;
    do {
        r = ::ioctl(fd, request, arg);
    } while (r < 0 && errno == EINTR);
    return r;
}

int RetryIoctlValue(int fd, unsigned long request, long value) {
    int r;
    do {
        r = ::ioctl(fd, request, value);
    } while (r < 0 && errno == EINTR);
    return r;
}

bool ValidConfig(const SerialConfig& c) {
    return c.baud > 0 && c.dataBits >= 5 && c.dataBits <= 8 &&
           (c.stopBits == 1 || c.stopBits == 2 || c.stopBits == -1) && c.parity >= 0 && c.parity <= 2 &&
           c.rts >= 0 && c.rts <= 3 && c.dtr >= 0 && c.dtr <= 2;
}

// Errors of a read or write that mean the device itself has gone (a hung-up
// terminal, an unplugged adapter), not a passing fault.
bool DeviceGone(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

tcflag_t CharacterSize(int dataBits) {
    switch (dataBits) {
        case 5: return CS5;
        case 6: return CS6;
        case 7: return CS7;
        default: return CS8;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// MarkedByteDecoder

MarkedByteDecoder::Marks MarkedByteDecoder::Feed(const uint8_t* raw, std::size_t n, std::deque<uint8_t>& out) {
    Marks marks;
    for (std::size_t i = 0; i < n; ++i) {
        const uint8_t c = raw[i];
        switch (state_) {
            case State::Plain:
                if (c == 0xFF)
                    state_ = State::AfterFF;
                else
                    out.push_back(c);
                break;
            case State::AfterFF:
                if (c == 0xFF) {
                    out.push_back(0xFF);
                    state_ = State::Plain;
                } else if (c == 0x00) {
                    state_ = State::AfterFF00;
                } else {
                    // Not a mark: an FF that reached us undoubled, and the byte after it.
                    out.push_back(0xFF);
                    out.push_back(c);
                    state_ = State::Plain;
                }
                break;
            case State::AfterFF00:
                out.push_back(c);
                if (c == 0x00)
                    ++marks.nulls;
                else
                    ++marks.faulty;
                state_ = State::Plain;
                break;
        }
    }
    return marks;
}

// ---------------------------------------------------------------------------
// TermiosPort

TermiosPort::TermiosPort(int fd, std::string path) : fd_(fd), path_(std::move(path)) {
    countersWork_ = ReadFaultCounts(&counts_);
}

TermiosPort::~TermiosPort() {
    std::lock_guard lock(mutex_);
    LowerToggledRts();
    RestoreHalfDuplex();
    ::ioctl(fd_, TIOCNXCL);
    // Unlocked explicitly: a child forked meanwhile shares the descriptor
    // and would otherwise keep the port locked after this close.
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
}

bool TermiosPort::ApplyLineSettings(const SerialConfig& config) {
    termios2 t{};
    if (RetryIoctl(fd_, TCGETS2, &t) != 0) {
        lastError_ = errno;
        return false;
    }
    const termios2 before = t;

    // Raw input, except that bytes received with a fault are marked in the
    // stream (INPCK|PARMRK): no stripping, no ignoring, no signals on break.
    t.c_iflag &= ~(IGNBRK | BRKINT | IGNPAR | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | IMAXBEL |
                   IUCLC | IUTF8);
    t.c_iflag |= INPCK | PARMRK;
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ISIG | ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOPRT | ECHOKE | IEXTEN | EXTPROC |
                   XCASE);

    t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | CBAUD | CIBAUD);
    t.c_cflag |= CREAD | CLOCAL | CharacterSize(config.dataBits);
    // Two stop bits, or one and a half with 5 data bits (see the header).
    if (config.stopBits != 1) t.c_cflag |= CSTOPB;
    if (config.parity == 1) t.c_cflag |= PARENB;
    if (config.parity == 2) t.c_cflag |= PARENB | PARODD;
    if (config.rts == 2) t.c_cflag |= CRTSCTS;

    // The rate as a number, for input and output alike.
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = static_cast<speed_t>(config.baud);
    t.c_ospeed = static_cast<speed_t>(config.baud);

    // The descriptor is non-blocking; a read returns what is there.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;

    if (RetryIoctl(fd_, TCSETS2, &t) != 0) {
        lastError_ = errno;
        return false;
    }

    // The driver writes back the rate it could program; a rate it cannot
    // come close to would garble every byte, so refuse it.
    termios2 actual{};
    if (RetryIoctl(fd_, TCGETS2, &actual) == 0 && actual.c_ospeed != 0) {
        const long got = static_cast<long>(actual.c_ospeed);
        const long want = config.baud;
        if (std::labs(got - want) * 100 > want * kRateTolerancePercent) {
            termios2 restore = before;
            RetryIoctl(fd_, TCSETS2, &restore);
            lastError_ = EINVAL;
            return false;
        }
    }
    return true;
}

bool TermiosPort::SetModemLine(int line, bool on) {
    int bits = line;
    return RetryIoctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

bool TermiosPort::EnableHalfDuplex() {
    serial_rs485 rs{};
    if (RetryIoctl(fd_, TIOCGRS485, &rs) != 0) return false;
    const uint32_t original = rs.flags;
    rs.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    rs.flags &= ~static_cast<uint32_t>(SER_RS485_RTS_AFTER_SEND);
    if (RetryIoctl(fd_, TIOCSRS485, &rs) != 0) return false;
    // The driver hands back what it made of the request; it may have
    // switched the mode off or kept the other RTS polarity.
    const uint32_t wanted = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    if ((rs.flags & wanted) != wanted) {
        serial_rs485 restore{};
        if (RetryIoctl(fd_, TIOCGRS485, &restore) == 0) {
            restore.flags = original;
            RetryIoctl(fd_, TIOCSRS485, &restore);
        }
        return false;
    }
    savedHalfDuplexFlags_ = original;
    halfDuplexOn_ = true;
    return true;
}

void TermiosPort::RestoreHalfDuplex() {
    if (!halfDuplexOn_) return;
    halfDuplexOn_ = false;
    serial_rs485 rs{};
    if (RetryIoctl(fd_, TIOCGRS485, &rs) != 0) return;
    rs.flags = savedHalfDuplexFlags_;
    RetryIoctl(fd_, TIOCSRS485, &rs);
}

void TermiosPort::LowerToggledRts() {
    if (!rtsRaisedForSend_) return;
    rtsRaisedForSend_ = false;
    SetModemLine(TIOCM_RTS, false);
}

// Modem line failures are ignored here: a pseudo-terminal has no modem lines,
// and a configuration is still good without them.
void TermiosPort::ApplyRtsMode(int mode) {
    if (mode != 3) {
        LowerToggledRts();
        rtsToggleEmulated_ = false;
        RestoreHalfDuplex();
    }
    switch (mode) {
        case 0: SetModemLine(TIOCM_RTS, false); break;
        case 1: SetModemLine(TIOCM_RTS, true); break;
        case 2: break;  // CRTSCTS: the driver moves RTS
        case 3:
            if (halfDuplexOn_ || EnableHalfDuplex()) {
                rtsToggleEmulated_ = false;
            } else {
                rtsToggleEmulated_ = true;
                rtsRaisedForSend_ = false;
                SetModemLine(TIOCM_RTS, false);
            }
            break;
    }
}

bool TermiosPort::Configure(const SerialConfig& config) {
    std::lock_guard lock(mutex_);
    if (!ValidConfig(config)) {
        lastError_ = EINVAL;
        return false;
    }
    if (!ApplyLineSettings(config)) return false;
    ApplyRtsMode(config.rts);
    // DTR mode 2 (handshake) holds DTR high: Linux has no DTR/DSR flow control.
    SetModemLine(TIOCM_DTR, config.dtr != 0);
    config_ = config;
    return true;
}

SerialConfig TermiosPort::Config() const {
    std::lock_guard lock(mutex_);
    return config_;
}

int TermiosPort::Write(const uint8_t* data, int n) {
    if (data == nullptr || n <= 0) return 0;
    std::lock_guard lock(mutex_);
    if (rtsToggleEmulated_ && !rtsRaisedForSend_) {
        SetModemLine(TIOCM_RTS, true);
        rtsRaisedForSend_ = true;
    }
    ssize_t written;
    do {
        written = ::write(fd_, data, static_cast<std::size_t>(n));
    } while (written < 0 && errno == EINTR);
    if (written < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;  // output queue full for now
        lastError_ = errno;
        lost_ |= DeviceGone(errno);
        return -1;
    }
    return static_cast<int>(written);
}

std::chrono::nanoseconds TermiosPort::LineTime(int count) const {
    std::lock_guard lock(mutex_);
    return CharacterTime(config_) * count;
}

bool TermiosPort::OutputEmpty() {
    std::lock_guard lock(mutex_);
    bool empty;
    int queued = 0;
    if (RetryIoctl(fd_, TIOCOUTQ, &queued) == 0) {
        empty = queued == 0;
    } else {
        // No queue count: wait for the output to drain instead.
        lastError_ = errno;
        RetryIoctlValue(fd_, TCSBRK, 1);
        empty = true;
    }
    // The driver's queue may be empty while the UART still shifts out the
    // last character; where the line status register can be read, wait for
    // the transmitter itself to be empty.
    if (empty && lineStatusWorks_) {
        unsigned int lsr = 0;
        if (RetryIoctl(fd_, TIOCSERGETLSR, &lsr) == 0)
            empty = (lsr & TIOCSER_TEMT) != 0;
        else
            lineStatusWorks_ = false;
    }
    if (empty) LowerToggledRts();
    return empty;
}

void TermiosPort::Account(const MarkedByteDecoder::Marks& marks) {
    if (marks.Total() == 0) return;
    if (countersWork_) {
        // TakeErrors asks the counters which fault it was.
        unexplained_.faulty += marks.faulty;
        unexplained_.nulls += marks.nulls;
    } else if (config_.parity != 0) {
        errors_.parity = true;
    } else {
        errors_.framing = true;
    }
}

bool TermiosPort::Fill() {
    uint8_t raw[4096];
    std::size_t total = 0;
    while (total < kFillLimit) {
        const ssize_t got = ::read(fd_, raw, sizeof raw);
        if (got > 0) {
            Account(decoder_.Feed(raw, static_cast<std::size_t>(got), held_));
            total += static_cast<std::size_t>(got);
            if (static_cast<std::size_t>(got) < sizeof raw) break;
            continue;
        }
        if (got == 0) break;  // nothing there
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) break;
        lastError_ = errno;
        lost_ |= DeviceGone(errno);
        errors_.other = true;
        return false;
    }
    return true;
}

int TermiosPort::BytesWaiting() {
    std::lock_guard lock(mutex_);
    Fill();
    return static_cast<int>(std::min<std::size_t>(held_.size(), INT_MAX));
}

int TermiosPort::Read(uint8_t* data, int max) {
    std::lock_guard lock(mutex_);
    const bool ok = Fill();
    if (!ok && held_.empty()) return -1;
    if (data == nullptr || max <= 0) return 0;
    const int n = static_cast<int>(std::min<std::size_t>(held_.size(), static_cast<std::size_t>(max)));
    std::copy_n(held_.begin(), n, data);
    held_.erase(held_.begin(), held_.begin() + n);
    return n;
}

void TermiosPort::PurgeInput() {
    std::lock_guard lock(mutex_);
    if (RetryIoctlValue(fd_, TCFLSH, TCIFLUSH) != 0) lastError_ = errno;
    held_.clear();
    decoder_.Reset();
}

void TermiosPort::PurgeOutput() {
    std::lock_guard lock(mutex_);
    if (RetryIoctlValue(fd_, TCFLSH, TCOFLUSH) != 0) lastError_ = errno;
    LowerToggledRts();
}

bool TermiosPort::ReadFaultCounts(FaultCounts* counts) {
    serial_icounter_struct ic{};
    if (RetryIoctl(fd_, TIOCGICOUNT, &ic) != 0) return false;
    counts->parity = ic.parity;
    counts->frame = ic.frame;
    counts->brk = ic.brk;
    counts->overrun = ic.overrun;
    counts->bufferOverrun = ic.buf_overrun;
    return true;
}

UartErrors TermiosPort::TakeErrors() {
    std::lock_guard lock(mutex_);
    Fill();
    UartErrors e = errors_;
    errors_ = {};
    if (countersWork_) {
        bool explained = false;
        FaultCounts now;
        if (ReadFaultCounts(&now)) {
            // Counters only grow (and may wrap): any change is a new fault.
            if (now.parity != counts_.parity) e.parity = explained = true;
            if (now.frame != counts_.frame) e.framing = explained = true;
            if (now.brk != counts_.brk) e.other = explained = true;
            if (now.overrun != counts_.overrun || now.bufferOverrun != counts_.bufferOverrun) e.other = true;
            counts_ = now;
        }
        // Marked bytes the counters do not account for (a driver that keeps
        // the counters but does not count these faults).
        if (unexplained_.Total() > 0 && !explained) {
            if (config_.parity != 0)
                e.parity = true;
            else
                e.framing = true;
        }
        unexplained_ = {};
    }
    return e;
}

void TermiosPort::SetRTS(bool on) {
    std::lock_guard lock(mutex_);
    rtsRaisedForSend_ = false;
    if (!SetModemLine(TIOCM_RTS, on)) lastError_ = errno;
}

void TermiosPort::SetDTR(bool on) {
    std::lock_guard lock(mutex_);
    if (!SetModemLine(TIOCM_DTR, on)) lastError_ = errno;
}

void TermiosPort::SetBreak(bool on) {
    std::lock_guard lock(mutex_);
    if (RetryIoctlValue(fd_, on ? TIOCSBRK : TIOCCBRK, 0) != 0) lastError_ = errno;
}

ModemStatus TermiosPort::GetModemStatus() {
    std::lock_guard lock(mutex_);
    int bits = 0;
    if (RetryIoctl(fd_, TIOCMGET, &bits) != 0) {
        lastError_ = errno;
        return {};
    }
    ModemStatus s;
    s.cts = (bits & TIOCM_CTS) != 0;
    s.dsr = (bits & TIOCM_DSR) != 0;
    s.ri = (bits & TIOCM_RNG) != 0;
    s.dcd = (bits & TIOCM_CAR) != 0;
    return s;
}

bool TermiosPort::Lost() {
    std::lock_guard lock(mutex_);
    if (lost_) return true;
    // A terminal whose device went away is hung up: reads find nothing,
    // writes and settings fail, and poll reports the hang-up.
    pollfd p{fd_, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, 0);
    } while (ready < 0 && errno == EINTR);
    if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        lastError_ = EIO;
        lost_ = true;
        return true;
    }
    // The name the port was opened by must still lead to this device: a
    // node removed (an unplugged adapter) or a link now pointing elsewhere
    // (a restarted simulator) means the device of this descriptor is not
    // the one that is there now.
    struct stat opened {}, named {};
    if (::fstat(fd_, &opened) != 0) return false;
    if (::stat(path_.c_str(), &named) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) return false;  // cannot tell (permissions): not lost
        lastError_ = ENODEV;
        lost_ = true;
        return true;
    }
    if (named.st_dev != opened.st_dev || named.st_ino != opened.st_ino || named.st_rdev != opened.st_rdev) {
        lastError_ = ENODEV;
        lost_ = true;
    }
    return lost_;
}

int TermiosPort::LastError() const {
    std::lock_guard lock(mutex_);
    return lastError_;
}

std::unique_ptr<SerialPort> OpenTermiosPort(const std::string& path, int* error) {
    int ignored = 0;
    int& err = error != nullptr ? *error : ignored;
    err = 0;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        err = errno;
        return nullptr;
    }
    // One master on a line. The advisory lock binds every program that
    // opens the port through this layer, privileged or not; exclusive use
    // keeps other non-privileged programs out as well. The lock comes first
    // so that a refused open leaves the holder's settings alone.
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        err = EBUSY;
        return nullptr;
    }
    ::ioctl(fd, TIOCEXCL);
    std::unique_ptr<TermiosPort> port(new TermiosPort(fd, path));
    {
        std::lock_guard lock(port->mutex_);
        if (!port->ApplyLineSettings(port->config_)) {
            err = port->lastError_ != 0 ? port->lastError_ : EIO;
            return nullptr;
        }
    }
    return port;
}

int PortLockHolder(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return -1;
    // The kernel's lock table, one lock a line:
    //   "1: FLOCK  ADVISORY  WRITE 1234 00:19:7 0 EOF"
    // with the device as hexadecimal major:minor and the inode in decimal;
    // "1: -> FLOCK ..." lines are waiters, not holders.
    char device[64];
    std::snprintf(device, sizeof device, "%02x:%02x:%llu", ::major(st.st_dev), ::minor(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, where;
        if (!(fields >> number >> kind >> mode >> access >> pid >> where)) continue;
        if (kind != "FLOCK" || where != device) continue;
        // 0: a holder this process cannot see (another process namespace).
        const long holder = std::strtol(pid.c_str(), nullptr, 10);
        return holder > 0 && holder <= INT_MAX ? static_cast<int>(holder) : 0;
    }
    return -1;
}

std::string PortInUseText(const std::string& path) {
    const int holder = PortLockHolder(path);
    return holder > 0 ? "port in use by process " + std::to_string(holder) : "port in use by another process";
}

}  // namespace mbus::serial
