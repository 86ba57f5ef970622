#include "tools/mbusctl/decode_command.h"

#include <cstdio>
#include <istream>
#include <ostream>
#include <span>

#include "control/decode/answer_json.h"
#include "control/decode/answer_text.h"
#include "control/decode/options.h"
#include "control/decode/telegram.h"
#include "control/link/frame_shape.h"
#include "tools/mbusctl/hex_input.h"
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
    "\n"
    "exit code: 0 all decoded, 1 a telegram was malformed, 2 bad usage\n";

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

int DecodeOne(const std::string& text, int number, const Options& o, std::ostream& out, std::ostream& err) {
    const HexParse parsed = ParseHexBytes(text);
    std::string shown = text.size() > 40 ? text.substr(0, 37) + "..." : text;
    if (!parsed.error.empty()) {
        err << "mbusctl: decode: \"" << shown << "\": " << parsed.error << "\n";
        return 1;
    }
    const FrameShape shape = ClassifyFrame(parsed.bytes);
    int frameType = shape.result;
    uint8_t C = shape.C, A = shape.A, CI = shape.CI;
    int rc = 0;
    if (shape.result == kFrameFault) {
        err << "mbusctl: decode: telegram " << number << " (" << HexOf(parsed.bytes, 8)
            << "): " << ErrorNames(shape.errors);
        const bool longish = parsed.bytes.size() >= 9 && (parsed.bytes[0] == 0x68 || parsed.bytes[0] == 0xD8);
        if (o.force && longish) {
            const std::size_t at = parsed.bytes[0] == 0x68 ? 4 : 6;
            frameType = kFrameLong;
            C = parsed.bytes[at];
            A = parsed.bytes[at + 1];
            CI = parsed.bytes[at + 2];
            err << "; decoded anyway (--force)\n";
        } else {
            err << (longish ? "; --force decodes it anyway\n" : "\n");
        }
        rc = 1;
    }
    MBTelegram t;
    t.InterpretAnswer(frameType, C, A, CI, parsed.bytes.data(), static_cast<int>(parsed.bytes.size()));
    PrintAnswer(out, t, o, number);
    // What the decoder got past (a truncated record, bytes left over, ...).
    for (const std::string& warning : t.warnings) err << "warning: " << warning << "\n";
    return rc;
}

// Parses the options; returns 2 after a usage message, -1 to go on.
int ParseOptions(const std::vector<std::string>& args, Options& o, std::vector<std::string>& telegrams,
                 std::ostream& out, std::ostream& err) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            out << kUsage << kOutputUsage << kUsageTail;
            return 0;
        } else if (const int used = ParseOutputOption(args, i, o, err, "decode"); used != 0) {
            if (used < 0) return 2;
        } else if (a == "--force") {
            o.force = true;
        } else if (a.size() > 1 && a[0] == '-' && a.find_first_not_of("0123456789abcdefABCDEF -", 1) != std::string::npos) {
            err << "mbusctl: decode: unknown option \"" << a << "\"; see mbusctl decode --help\n";
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
    if (!telegrams.empty()) {
        for (const std::string& t : telegrams) rc |= DecodeOne(t, ++number, o, out, err);
        return rc;
    }
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') continue;
        rc |= DecodeOne(line, ++number, o, out, err);
    }
    if (number == 0) {
        err << "mbusctl: decode: no telegram given; pass hex digit pairs as arguments or one telegram per line on "
               "standard input, e.g. mbusctl decode \"E5\"\n";
        return 2;
    }
    return rc;
}

int RunSamples(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Options o;
    std::vector<std::string> ignored;
    if (const int rc = ParseOptions(args, o, ignored, out, err); rc >= 0) return rc;
    ApplyOutputOptions(o);
    int rc = 0;
    int number = 0;
    for (const SampleTelegram& s : kSampleTelegrams) {
        if (o.format == OutputOptions::Format::Table) out << "# " << s.title << "\n";
        rc |= DecodeOne(s.hex, ++number, o, out, err);
    }
    return rc;
}

}  // namespace mbus::cli
