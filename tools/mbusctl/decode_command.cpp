#include "tools/mbusctl/decode_command.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <span>
#include <string_view>

#include "control/decode/answer_json.h"
#include "control/decode/answer_text.h"
#include "control/decode/options.h"
#include "control/decode/telegram.h"
#include "control/line/frame_shape.h"
#include "tools/mbusctl/hex_input.h"
#include "tools/mbusctl/line_options.h"
#include "tools/mbusctl/output.h"
#include "tools/mbusctl/samples.h"

namespace mbus::cli {
namespace {

constexpr const char* kUsage =
    "usage: mbusctl decode [options] [TELEGRAM...]\n"
    "\n"
    "Decodes M-Bus answers given as hex digit pairs (blanks allowed), one per\n"
    "argument, or one per line on standard input when no telegram is given\n"
    "(empty lines and lines starting with # are skipped).\n"
    "\n"
    "options:\n";

constexpr const char* kUsageTail =
    "  --force            decode a malformed long frame anyway\n"
    "  -h, --help         this text\n"
    "      --version      the program's version\n"
    "\n"
    "exit code: 0 all decoded, 1 a telegram was malformed, 2 bad usage\n";

constexpr const char* kSamplesUsage =
    "usage: mbusctl samples [options]\n"
    "\n"
    "Decodes and prints the built-in sample answers of a few meters (water,\n"
    "heat, electricity, gas, short and fixed headers, an acknowledge, a\n"
    "monthly history), each titled in the table format.\n"
    "\n"
    "options:\n";

constexpr const char* kSamplesTail =
    "  -h, --help         this text\n"
    "      --version      the program's version\n"
    "\n"
    "exit code: 0 all decoded, 1 a sample was malformed, 2 bad usage\n";

struct Options : OutputOptions {
    bool force = false;
};

std::string ErrorNames(uint16_t bits) {
    static const char* kNames[] = {"no bytes",        "parity error",   "checksum wrong",  "wrong start byte",
                                   "wrong length",    "wrong stop byte", "collision",      "framing error",
                                   "UART error"};
    std::string s;
    for (int i = 0; i < 9; ++i) {
        if (bits & (1u << i)) {
            if (!s.empty()) s += ", ";
            s += kNames[i];
        }
    }
    return s.empty() ? "malformed frame" : s;
}

std::string HexOf(std::span<const uint8_t> bytes, std::size_t max) {
    static const char* kHex = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < bytes.size() && i < max; ++i) {
        if (i) s += ' ';
        s += kHex[bytes[i] >> 4];
        s += kHex[bytes[i] & 0x0F];
    }
    if (bytes.size() > max) s += " ...";
    return s;
}

// Decodes telegrams one after another into one output buffer, which goes to
// `out` in large writes. Messages go to `err` after the output before them,
// so that both keep their order on a terminal or in one file.
class Decoder {
public:
    Decoder(const Options& o, std::ostream& out, std::ostream& err, const char* command)
        : o_(o), out_(out), err_(err), prefix_(std::string("mbusctl ") + command + ": ") {
        pending_.reserve(2 * kWriteAt);
    }

    // Decodes one telegram given as hex text; returns 1 when it was
    // malformed, else 0.
    int Decode(std::string_view text, int number);
    // Appends text before the next answer.
    void Append(std::string_view text) { pending_ += text; }
    // Writes the output collected so far; flushes `out` too when asked.
    void Write(bool flush);

private:
    // Output collected up to this size goes out, so that the buffer never
    // grows (and copies itself) while a large input block is decoded.
    static constexpr std::size_t kWriteAt = 32 * 1024;

    void Error(const std::string& message);

    const Options& o_;
    std::ostream& out_;
    std::ostream& err_;
    const std::string prefix_;  // "mbusctl COMMAND: " of messages
    std::string pending_;
    std::vector<uint8_t> bytes_;
    MBTelegram t_;
};

void Decoder::Write(bool flush) {
    if (!pending_.empty()) out_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
    pending_.clear();
    if (flush) out_.flush();
}

void Decoder::Error(const std::string& message) {
    // The answers before the message go out first, so that it follows them
    // wherever the two streams end up together.
    Write(true);
    err_.write(message.data(), static_cast<std::streamsize>(message.size()));
}

int Decoder::Decode(std::string_view text, int number) {
    const long size = ParseHexInto(text, bytes_);
    if (size < 0) {
        const HexParse parsed = ParseHexBytes(text);
        const std::string shown = text.size() > 40 ? std::string(text.substr(0, 37)) + "..." : std::string(text);
        Error(prefix_ + "\"" + shown + "\": " + parsed.error + "\n");
        return 1;
    }
    const std::span<const uint8_t> frame(bytes_.data(), static_cast<std::size_t>(size));
    const FrameShape shape = ClassifyFrame(frame);
    int frameType = shape.result;
    uint8_t C = shape.C, A = shape.A, CI = shape.CI;
    int rc = 0;
    if (shape.result == kFrameFault) {
        std::string message = prefix_ + "telegram " + std::to_string(number) + " (" + HexOf(frame, 8) +
                              "): " + ErrorNames(shape.errors);
        const bool longish = frame.size() >= 9 && (frame[0] == 0x68 || frame[0] == 0xD8);
        if (o_.force && longish) {
            const std::size_t at = frame[0] == 0x68 ? 4 : 6;
            frameType = kFrameLong;
            C = frame[at];
            A = frame[at + 1];
            CI = frame[at + 2];
            message += "; decoded anyway (--force)\n";
        } else {
            message += longish ? "; --force decodes it anyway\n" : "\n";
        }
        Error(message);
        rc = 1;
    }
    // One telegram serves all answers, keeping its memory. Decoding leaves
    // the fabrication number and customer texts of the previous answer in
    // place; the answers here are unrelated, so each starts with a new
    // telegram's values, as when decoded alone.
    static const MBTelegram kFresh;
    std::memcpy(t_.customerLocation, kFresh.customerLocation, sizeof t_.customerLocation);
    std::memcpy(t_.customer, kFresh.customer, sizeof t_.customer);
    std::memcpy(t_.fabricationNumber, kFresh.fabricationNumber, sizeof t_.fabricationNumber);
    t_.InterpretAnswer(frameType, C, A, CI, frame.data(), static_cast<int>(frame.size()));
    AppendAnswer(pending_, t_, o_, number);
    // What the decoder got past (a truncated record, bytes left over, ...).
    if (!t_.warnings.empty()) {
        std::string message;
        for (const std::string& warning : t_.warnings) message += "warning: " + warning + "\n";
        Error(message);
    }
    if (pending_.size() >= kWriteAt) Write(false);
    return rc;
}

// Reads standard input (or another stream) in large blocks, as they come.
class BlockReader {
public:
    explicit BlockReader(std::istream& in) : in_(in), fd_(in.rdbuf() == std::cin.rdbuf() ? STDIN_FILENO : -1) {}

    // Reads up to `size` bytes; returns how many, 0 at the end of the input.
    // From a pipe or terminal this returns what has arrived so far.
    std::size_t Read(char* to, std::size_t size) {
        if (fd_ < 0) {
            const std::streamsize got = in_.rdbuf()->sgetn(to, static_cast<std::streamsize>(size));
            return got > 0 ? static_cast<std::size_t>(got) : 0;
        }
        for (;;) {
            const ssize_t got = ::read(fd_, to, size);
            if (got >= 0) return static_cast<std::size_t>(got);
            if (errno != EINTR) return 0;
        }
    }

private:
    std::istream& in_;
    int fd_;  // standard input read directly, or -1 for another stream
};

// Decodes the lines of `in`, each a telegram unless blank or a comment;
// counts them in `number`.
int DecodeLines(std::istream& in, Decoder& decoder, int& number) {
    constexpr std::size_t kBlock = 64 * 1024;
    BlockReader reader(in);
    std::vector<char> buffer(kBlock);
    std::size_t have = 0;  // bytes in buffer, a part of a line
    int rc = 0;
    auto line = [&](std::string_view text) {
        std::size_t i = 0;
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r')) ++i;
        if (i == text.size() || text[i] == '#') return;
        rc |= decoder.Decode(text, ++number);
    };
    for (;;) {
        // A line longer than the buffer doubles it.
        if (have == buffer.size()) buffer.resize(buffer.size() * 2);
        const std::size_t wanted = buffer.size() - have;
        const std::size_t got = reader.Read(buffer.data() + have, wanted);
        if (got == 0) break;
        have += got;
        const char* const data = buffer.data();
        std::size_t start = 0;
        while (const void* found = std::memchr(data + start, '\n', have - start)) {
            const std::size_t newline = static_cast<std::size_t>(static_cast<const char*>(found) - data);
            line(std::string_view(data + start, newline - start));
            start = newline + 1;
        }
        if (start > 0) {
            std::memmove(buffer.data(), data + start, have - start);
            have -= start;
        }
        // A short read drained the input for now: whoever feeds it line by
        // line gets the answers at once.
        decoder.Write(got < wanted);
    }
    if (have > 0) line(std::string_view(buffer.data(), have));
    return rc;
}

// Parses the options; returns 2 after a usage message, -1 to go on.
// `samples` takes the output options and no telegrams.
int ParseOptions(const std::vector<std::string>& arguments, Options& o, std::vector<std::string>& telegrams,
                 std::ostream& out, std::ostream& err, bool samples = false) {
    const char* command = samples ? "samples" : "decode";
    const std::vector<std::string> args = SplitOptionValues(arguments, {"--format", "--language"});
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            if (samples) out << kSamplesUsage << kOutputUsage << kSamplesTail;
            else out << kUsage << kOutputUsage << kUsageTail;
            return 0;
        } else if (const int used = ParseOutputOption(args, i, o, err, command); used != 0) {
            if (used < 0) return 2;
        } else if (!samples && a == "--force") {
            o.force = true;
        } else if (samples || (a.size() > 1 && a[0] == '-' &&
                               a.find_first_not_of("0123456789abcdefABCDEF -", 1) != std::string::npos)) {
            err << "mbusctl " << command << ": " << (a[0] == '-' ? "unknown option" : "unexpected argument") << " \""
                << a << "\"; see mbusctl " << command << " --help\n";
            return 2;
        } else {
            telegrams.push_back(a);
        }
    }
    return -1;
}

}  // namespace

int RunDecode(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
    Options o;
    std::vector<std::string> telegrams;
    if (const int rc = ParseOptions(args, o, telegrams, out, err); rc >= 0) return rc;
    ApplyOutputOptions(o);
    int rc = 0;
    int number = 0;
    Decoder decoder(o, out, err, "decode");
    if (!telegrams.empty()) {
        for (const std::string& t : telegrams) rc |= decoder.Decode(t, ++number);
        decoder.Write(true);
        return rc;
    }
    rc = DecodeLines(in, decoder, number);
    decoder.Write(true);
    if (number == 0) {
        err << "mbusctl decode: no telegram given; pass hex digit pairs as arguments or one telegram per line on "
               "standard input, e.g. mbusctl decode \"E5\"\n";
        return 2;
    }
    return rc;
}

int RunSamples(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Options o;
    std::vector<std::string> ignored;
    if (const int rc = ParseOptions(args, o, ignored, out, err, true); rc >= 0) return rc;
    ApplyOutputOptions(o);
    int rc = 0;
    int number = 0;
    Decoder decoder(o, out, err, "samples");
    for (const SampleTelegram& s : kSampleTelegrams) {
        if (o.format == OutputOptions::Format::Table) {
            decoder.Append("# ");
            decoder.Append(s.title);
            decoder.Append("\n");
        }
        rc |= decoder.Decode(s.hex, ++number);
    }
    decoder.Write(true);
    return rc;
}

}  // namespace mbus::cli
