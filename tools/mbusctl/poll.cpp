#include "tools/mbusctl/poll.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <ostream>
#include <thread>

#include "tools/common/line_keeper.h"

namespace mbus::cli {

std::string LogTime() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    return buf;
}

namespace {

using Clock = std::chrono::steady_clock;

// Where the lines go: a file opened for appending, written with one write
// per line so that a stopped program leaves whole lines; or a stream.
class LineSink {
public:
    LineSink(const std::string& file, std::ostream& out) : out_(out) {
        if (file.empty()) return;
        fd_ = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);  // the umask decides
        if (fd_ < 0) {
            error_ = std::strerror(errno);
            return;
        }
        struct stat st {};
        empty_ = ::fstat(fd_, &st) != 0 || st.st_size == 0;
    }
    ~LineSink() {
        if (fd_ >= 0) ::close(fd_);
    }
    LineSink(const LineSink&) = delete;
    LineSink& operator=(const LineSink&) = delete;

    const std::string& Error() const { return error_; }
    // True when nothing was written to the destination before.
    bool Empty() const { return empty_; }

    bool Write(std::string line) {
        line += '\n';
        if (fd_ < 0) {
            out_ << line << std::flush;
            return static_cast<bool>(out_);
        }
        for (std::size_t done = 0; done < line.size();) {
            const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error_ = std::strerror(errno);
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    std::ostream& out_;
    int fd_ = -1;
    bool empty_ = true;
    std::string error_;
};

// Sleeps until `until` or until `stop` is set, in short steps.
void SleepUntil(Clock::time_point until, const std::atomic<bool>& stop) {
    while (!stop.load() && Clock::now() < until) {
        const auto left = until - Clock::now();
        std::this_thread::sleep_for(std::min<Clock::duration>(left, std::chrono::milliseconds(100)));
    }
}

}  // namespace

int Poll(const std::vector<std::string>& addresses, const MeterReader& read, const OutputOptions& o,
         const PollOptions& p, const std::atomic<bool>& stop, std::ostream& out, std::ostream& err) {
    if (addresses.empty()) {
        err << "mbusctl read: no meter to read\n";
        return 1;
    }
    const bool csv = o.format == OutputOptions::Format::Csv;
    LineSink sink(p.outputFile, out);
    if (!sink.Error().empty()) {
        err << "mbusctl read: " << p.outputFile << ": " << sink.Error() << "\n";
        return 1;
    }
    if (csv && sink.Empty() && !sink.Write(kCsvHeader)) {
        err << "mbusctl read: " << p.outputFile << ": " << sink.Error() << "\n";
        return 1;
    }
    const auto every = std::chrono::seconds(p.everySeconds);
    Clock::time_point start = Clock::now();
    while (!stop.load()) {
        for (const std::string& a : addresses) {
            if (stop.load()) break;
            // A line whose device is lost takes no request until it is back.
            if (p.line != nullptr && !p.line->Ready()) break;
            const Readout got = read(a);
            // A read broken off by the stop may lack telegrams: not written.
            if (stop.load()) break;
            if (!got.problem.empty()) {
                if (p.line != nullptr && p.line->CheckLost()) break;
                err << LogTime() << " mbusctl read: " << got.problem << "\n" << std::flush;
                continue;
            }
            std::vector<const MBTelegram*> readout;
            for (const auto& t : got.telegrams) readout.push_back(t.get());
            const std::time_t now = std::time(nullptr);
            if (!sink.Write(csv ? CsvRows(readout, a, now) : ReadoutJson(readout, a, now))) {
                err << "mbusctl read: " << (p.outputFile.empty() ? "output" : p.outputFile) << ": "
                    << (sink.Error().empty() ? "write failed" : sink.Error()) << "\n";
                return 1;
            }
        }
        // Rounds keep their pace: the next starts `every` after this one
        // started, or at once when this one took longer.
        const Clock::time_point next = start + every;
        const Clock::time_point now = Clock::now();
        if (now > next && !stop.load()) {
            const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count();
            err << LogTime() << " mbusctl read: the round took " << took / 1000 << "." << (took % 1000) / 100
                << " s, longer than --every " << p.everySeconds << "; the next starts at once\n" << std::flush;
            start = now;
        } else {
            SleepUntil(next, stop);
            start = next;
        }
    }
    return 0;
}

}  // namespace mbus::cli
