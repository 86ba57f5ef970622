#include "tools/mbusctl/output.h"

#include <cstdio>
#include <ostream>
#include <sstream>

#include "control/decode/answer_json.h"
#include "control/decode/options.h"

namespace mbus::cli {

const char* const kOutputUsage =
    "  --format F         table (default), json, or a cooked text: hex, dec,\n"
    "                     hex2, dec2, hex3, dec3, hex4, dec4\n"
    "  --language N       text language 0..9: 0 English, 1 German, 2 French,\n"
    "                     3 Portuguese, 4 Russian, 5 Italian, 6 Slovenian,\n"
    "                     7 Swedish, 8 Croatian, 9 user column (default 0)\n"
    "  --keep-multiplier  keep units with a decimal multiplier (e.g. \"10 [kWh]\")\n"
    "                     instead of scaling values to the plain unit\n";

namespace {

const char* FrameKindName(int result) {
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
    out << "Telegram " << number << ": " << FrameKindName(t.frameType);
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


}  // namespace

const char* FrameKind(int result) { return FrameKindName(result); }

int ParseOutputOption(const std::vector<std::string>& args, std::size_t& i, OutputOptions& o, std::ostream& err,
                      const char* command) {
    const std::string& a = args[i];
    auto value = [&](const char* name) -> const std::string* {
        if (i + 1 >= args.size()) {
            err << "mbusctl " << command << ": " << name << " needs a value; see mbusctl " << command << " --help\n";
            return nullptr;
        }
        return &args[++i];
    };
    if (a == "--format") {
        const std::string* f = value("--format");
        if (!f) return -1;
        if (*f == "table") o.format = OutputOptions::Format::Table;
        else if (*f == "json") o.format = OutputOptions::Format::Json;
        else if (ParseCookedVariant(*f, &o.variant)) o.format = OutputOptions::Format::Cooked;
        else {
            err << "mbusctl " << command << ": unknown format \"" << *f
                << "\"; use table, json, hex, dec, hex2, dec2, hex3, dec3, hex4 or dec4\n";
            return -1;
        }
        return 1;
    }
    if (a == "--language") {
        const std::string* l = value("--language");
        if (!l) return -1;
        if (l->size() != 1 || (*l)[0] < '0' || (*l)[0] > '9') {
            err << "mbusctl " << command << ": language \"" << *l << "\" is not a number 0..9\n";
            return -1;
        }
        o.language = (*l)[0] - '0';
        return 1;
    }
    if (a == "--keep-multiplier") {
        o.keepMultiplier = true;
        return 1;
    }
    return 0;
}

void ApplyOutputOptions(const OutputOptions& o) {
    MBusLanguage.store(o.language);
    MBusOption.OPTOnlyVIFUnitsWithoutMultiplier.store(o.keepMultiplier ? 0 : 1);
}

void PrintAnswer(std::ostream& out, const MBTelegram& t, const OutputOptions& o, int number) {
    const AnswerView v = AnswerView::Of(t);
    switch (o.format) {
        case OutputOptions::Format::Table:
            PrintTable(out, t, v, number);
            out << "\n";
            break;
        case OutputOptions::Format::Json: {
            std::string s;
            AppendAnswerJson(s, v);
            out << s << "\n";
            break;
        }
        case OutputOptions::Format::Cooked: out << CookedData(v, o.variant) << "\n"; break;
    }
}

void AppendAnswer(std::string& out, const MBTelegram& t, const OutputOptions& o, int number) {
    const AnswerView v = AnswerView::Of(t);
    switch (o.format) {
        case OutputOptions::Format::Table: {
            std::ostringstream table;
            PrintTable(table, t, v, number);
            out += table.str();
            out += '\n';
            break;
        }
        case OutputOptions::Format::Json: AppendAnswerJson(out, v); out += '\n'; break;
        case OutputOptions::Format::Cooked:
            // As CookedData, without its string per answer.
            if (v.frameType != 255) AppendCooked(out, v, o.variant);
            out += '\n';
            break;
    }
}

}  // namespace mbus::cli
