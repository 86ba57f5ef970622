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
    "options:\n"
    "  --format F         table (default), json, or a cooked text: hex, dec,\n"
    "                     hex2, dec2, hex3, dec3, hex4, dec4\n"
    "  --language N       text language 0..9: 0 English, 1 German, 2 French,\n"
    "                     3 Portuguese, 4 Russian, 5 Italian, 6 Slovenian,\n"
    "                     7 Swedish, 8 Croatian, 9 user column (default 0)\n"
    "  --keep-multiplier  keep units with a decimal multiplier (e.g. \"10 [kWh]\")\n"
    "                     instead of scaling values to the plain unit\n"
    "  --force            decode a malformed long frame anyway\n"
    "  -h, --help         this text\n"
    "\n"
    "exit code: 0 all decoded, 1 a telegram was malformed, 2 bad usage\n";

struct Options {
    enum class Format { Table, Json, Cooked } format = Format::Table;
    CookedVariant variant = CookedVariant::Hex2;
    int language = 0;
    bool keepMultiplier = false;
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

const char* FrameKind(int result) {
    switch (result) {
        case 0: return "single character E5h";
        case 1: return "short frame";
        case 2: return "control frame";
        case 3: return "long frame";
        case 5: return "single byte A2h";
        default: return "fault";
    }
}

const char* StructureName(uint32_t kind) {
    switch (kind) {
        case kFixedLsbFirst: return "fixed structure";
        case kVariableLsbFirst: return "variable structure";
        case kFixedMsbFirst: return "fixed structure, most significant byte first";
        case kVariableMsbFirst: return "variable structure, most significant byte first";
        case kApplicationError: return "application error";
        case kAlarm: return "alarm";
        case kSingleCharacter: return "acknowledge";
        default: return "not decoded";
    }
}

void Pad(std::string& s, std::size_t width) {
    // Pads by characters, not bytes (texts are UTF-8).
    std::size_t chars = 0;
    for (unsigned char c : s) chars += (c & 0xC0) != 0x80;
    if (chars < width) s.append(width - chars, ' ');
}

void PrintTable(std::ostream& out, const MBTelegram& t, const AnswerView& v, int number) {
    char line[160];
    out << "Telegram " << number << ": " << FrameKind(t.frameType);
    if (t.frameType >= 1 && t.frameType <= 3) {
        std::snprintf(line, sizeof line, ", C=%02X A=%02X", t.cField, t.aField);
        out << line;
        if (t.frameType >= 2) {
            std::snprintf(line, sizeof line, " CI=%02X", t.ciField);
            out << line;
        }
    }
    out << " (" << StructureName(t.structureKind) << ")\n";
    if (t.frameType != kFrameLong || t.structureKind > kVariableMsbFirst) return;

    std::snprintf(line, sizeof line, "  Identification  %08X\n", static_cast<uint32_t>(t.identNumber));
    out << line;
    std::snprintf(line, sizeof line, "  Manufacturer    %s (%04Xh)\n", t.manufacturerText, t.manufacturer & 0xFFFF);
    out << line;
    std::snprintf(line, sizeof line, "  Version         %d\n", t.version);
    out << line;
    std::snprintf(line, sizeof line, "  Medium          %02Xh ", t.medium);
    out << line << answer::MediumAsc(v) << "\n";
    std::snprintf(line, sizeof line, "  Access number   %d   Status %02Xh   Signature %04Xh\n", t.accessNumber,
                  t.status, t.signature & 0xFFFF);
    out << line;
    if (t.moreRecordsFollow) out << "  More records follow in the next telegram\n";
    if (t.records.empty()) return;
    out << "   #  Function  Stor Tar Sub  Description                               Value\n";
    int i = 0;
    for (const MBDataRecord& rec : t.records) {
        ++i;
        std::snprintf(line, sizeof line, "  %2d  ", i);
        std::string row = line;
        std::string function(FunctionFieldName(rec.functionField));
        if (rec.specialDIF != 0) function = "special";
        Pad(function, 8);
        row += function;
        std::snprintf(line, sizeof line, "  %4lld %3d %3d  ", static_cast<long long>(rec.storageNumber), rec.tariff,
                      rec.subunit);
        row += line;
        std::string desc = rec.specialDIF == 0x0F   ? "Manufacturer specific data"
                           : rec.specialDIF == 0x1F ? "Manufacturer specific data, more follows"
                           : rec.specialDIF == 0x2F ? "(idle filler)"
                           : rec.specialDIF == 0x7F ? "(global readout request)"
                                                    : RecordDescription(t, rec);
        Pad(desc, 40);
        row += desc;
        row += "  ";
        row += rec.hasValueText ? RecordValue(t, rec, true) : std::string("(no value)");
        out << row << "\n";
    }
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
    const AnswerView v = AnswerView::Of(t);
    switch (o.format) {
        case Options::Format::Table: PrintTable(out, t, v, number); out << "\n"; break;
        case Options::Format::Json: {
            std::string s;
            AppendAnswerJson(s, v);
            out << s << "\n";
            break;
        }
        case Options::Format::Cooked: out << CookedData(v, o.variant) << "\n"; break;
    }
    return rc;
}

// Parses the options; returns 2 after a usage message, -1 to go on.
int ParseOptions(const std::vector<std::string>& args, Options& o, std::vector<std::string>& telegrams,
                 std::ostream& out, std::ostream& err) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char* name) -> const std::string* {
            if (i + 1 >= args.size()) {
                err << "mbusctl: decode: " << name << " needs a value; see mbusctl decode --help\n";
                return nullptr;
            }
            return &args[++i];
        };
        if (a == "-h" || a == "--help") {
            out << kUsage;
            return 0;
        } else if (a == "--format") {
            const std::string* f = value("--format");
            if (!f) return 2;
            if (*f == "table") o.format = Options::Format::Table;
            else if (*f == "json") o.format = Options::Format::Json;
            else if (ParseCookedVariant(*f, &o.variant)) o.format = Options::Format::Cooked;
            else {
                err << "mbusctl: decode: unknown format \"" << *f
                    << "\"; use table, json, hex, dec, hex2, dec2, hex3, dec3, hex4 or dec4\n";
                return 2;
            }
        } else if (a == "--language") {
            const std::string* l = value("--language");
            if (!l) return 2;
            if (l->size() != 1 || (*l)[0] < '0' || (*l)[0] > '9') {
                err << "mbusctl: decode: language \"" << *l << "\" is not a number 0..9\n";
                return 2;
            }
            o.language = (*l)[0] - '0';
        } else if (a == "--keep-multiplier") {
            o.keepMultiplier = true;
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

void Apply(const Options& o) {
    MBusLanguage.store(o.language);
    MBusOption.OPTOnlyVIFUnitsWithoutMultiplier.store(o.keepMultiplier ? 0 : 1);
}

}  // namespace

int RunDecode(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
    Options o;
    std::vector<std::string> telegrams;
    if (const int rc = ParseOptions(args, o, telegrams, out, err); rc >= 0) return rc;
    Apply(o);
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
    Apply(o);
    int rc = 0;
    int number = 0;
    for (const SampleTelegram& s : kSampleTelegrams) {
        if (o.format == Options::Format::Table) out << "# " << s.title << "\n";
        rc |= DecodeOne(s.hex, ++number, o, out, err);
    }
    return rc;
}

}  // namespace mbus::cli
