#include "tools/mbusctl/output.h"

#include "tools/mbusctl/session_line.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <ostream>
#include <sstream>

#include "control/decode/answer_json.h"
#include "control/decode/options.h"
#include "control/decode/vib.h"
#include "tools/mbusctl/session_line.h"

namespace mbus::cli {

const char* const kOutputUsage =
    "  --format F         table (default), json, or a cooked text: hex, dec,\n"
    "                     hex2, dec2, hex3, dec3, hex4, dec4 (read: also csv)\n"
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

// Characters of a UTF-8 text (continuation bytes do not count).
std::size_t Chars(const std::string& s) {
    std::size_t chars = 0;
    for (unsigned char c : s) chars += (c & 0xC0) != 0x80;
    return chars;
}

void Pad(std::string& s, std::size_t width) {
    const std::size_t chars = Chars(s);
    if (chars < width) s.append(width - chars, ' ');
}

// Cuts a text to `width` characters, the last one an ellipsis, so that a
// long description leaves the value column where it is.
void Fit(std::string& s, std::size_t width) {
    if (Chars(s) <= width) {
        Pad(s, width);
        return;
    }
    std::size_t chars = 0, at = 0;
    for (; at < s.size(); ++at) {
        if ((static_cast<unsigned char>(s[at]) & 0xC0) == 0x80) continue;
        if (chars == width - 1) break;
        ++chars;
    }
    s.resize(at);
    s += "\u2026";
}

void PutLeft(std::string& s, std::size_t width) {
    const std::size_t chars = Chars(s);
    if (chars < width) s.insert(0, width - chars, ' ');
}

bool IsIntegerCoding(int df) { return (df >= 1 && df <= 4) || df == 6 || df == 7 || (df >= 9 && df <= 12) || df == 14; }

// A factor as m x 10^e with a small integer m (1e-3: 1, -3; 3.6e-2, the
// per-second flows: 36, -3), so that scaling stays exact decimal arithmetic.
bool SplitFactor(double factor, int* mantissa, int* exponent) {
    if (!(factor > 0)) return false;
    for (int e = 18; e >= -18; --e) {
        const double m = factor / std::pow(10.0, e);
        const double r = std::round(m);
        if (r >= 1 && r <= 1000000 && std::fabs(m - r) <= 1e-9 * r) {
            *mantissa = static_cast<int>(r);
            *exponent = e;
            return true;
        }
    }
    return false;
}

// A decimal number "[-]digits[.digits]" times m x 10^e, written without
// exponent and without trailing zeros; empty when `number` is no such text.
std::string ScaleDecimal(const std::string& number, int mantissa, int exponent) {
    std::size_t at = 0;
    bool negative = false;
    if (at < number.size() && (number[at] == '-' || number[at] == '+')) negative = number[at++] == '-';
    std::string digits;
    int scale = exponent;
    bool point = false;
    for (; at < number.size(); ++at) {
        const char c = number[at];
        if (c == '.' && !point) {
            point = true;
        } else if (c >= '0' && c <= '9') {
            digits += c;
            if (point) --scale;
        } else {
            return {};
        }
    }
    if (digits.empty()) return {};
    // digits x mantissa, by hand: the digits may be more than 64 bits hold.
    std::string product;
    long long carry = 0;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        const long long d = (*it - '0') * static_cast<long long>(mantissa) + carry;
        product.insert(product.begin(), static_cast<char>('0' + d % 10));
        carry = d / 10;
    }
    for (; carry > 0; carry /= 10) product.insert(product.begin(), static_cast<char>('0' + carry % 10));
    if (scale > 0) {
        product.append(static_cast<std::size_t>(scale), '0');
    } else if (scale < 0) {
        const std::size_t places = static_cast<std::size_t>(-scale);
        if (product.size() <= places) product.insert(0, places - product.size() + 1, '0');
        product.insert(product.size() - places, 1, '.');
        while (product.back() == '0') product.pop_back();
        if (product.back() == '.') product.pop_back();
    }
    const std::size_t first = product.find_first_not_of('0');
    if (first == std::string::npos) return "0";
    product.erase(0, product[first] == '.' ? first - 1 : first);
    return negative ? "-" + product : product;
}

// Day-first dates of the record texts ("24.12.2008", "24.12.2008 18:30")
// and ISO texts ("2008-12-24T18:30") as "2008-12-24 18:30"; other texts as
// they are.
std::string ReadableDate(const std::string& v) {
    auto digitsAt = [&](std::size_t at, std::size_t n) {
        if (at + n > v.size()) return false;
        for (std::size_t i = at; i < at + n; ++i)
            if (v[i] < '0' || v[i] > '9') return false;
        return true;
    };
    if (v.size() >= 10 && digitsAt(0, 2) && v[2] == '.' && digitsAt(3, 2) && v[5] == '.' && digitsAt(6, 4)) {
        std::string out = v.substr(6, 4) + "-" + v.substr(3, 2) + "-" + v.substr(0, 2);
        if (v.size() > 10 && v[10] == ' ') out += v.substr(10);
        else if (v.size() != 10) return v;
        return out;
    }
    if (v.size() >= 16 && digitsAt(0, 4) && v[4] == '-' && digitsAt(5, 2) && v[7] == '-' && v[10] == 'T') {
        std::string out = v;
        out[10] = ' ';
        return out;
    }
    return v;
}

// Unit texts of the tables as they are printed ("m3" as "m³").
std::string ReadableUnit(std::string unit) {
    static const std::pair<const char*, const char*> kSuperscripts[] = {{"m3", "m\u00B3"}, {"feet3", "ft\u00B3"}};
    for (const auto& [from, to] : kSuperscripts) {
        const std::size_t at = unit.find(from);
        if (at != std::string::npos && (at == 0 || unit[at - 1] == '/' || unit[at - 1] == ' ' || unit[at - 1] == 'k'))
            unit.replace(at, std::strlen(from), to);
    }
    return unit;
}

// The description without its "[unit]" (the unit has its own column).
std::string WithoutUnit(const std::string& description) {
    const std::size_t open = description.find(" [");
    if (open == std::string::npos) return description;
    const std::size_t close = description.find(']', open);
    if (close == std::string::npos) return description;
    return description.substr(0, open) + description.substr(close + 1);
}

std::string SpecialDescription(const MBDataRecord& rec) {
    switch (rec.specialDIF) {
        case 0x0F: return "Manufacturer specific data";
        case 0x1F: return "Manufacturer specific data, more follows";
        case 0x2F: return "(idle filler)";
        case 0x7F: return "(global readout request)";
        default: return {};
    }
}

// The record line: number, function, storage, tariff and subunit take 30
// characters, then the description, the value right-aligned and the unit.
constexpr std::size_t kKeyWidth = 30;
constexpr std::size_t kDescriptionWidth = 32;
constexpr std::size_t kValueWidth = 12;

void PrintHeader(std::ostream& out, const MBTelegram& t, const AnswerView& v) {
    char line[160];
    std::snprintf(line, sizeof line, "  Identification  %08X\n", static_cast<uint32_t>(t.identNumber));
    out << line;
    std::snprintf(line, sizeof line, "  Manufacturer    %s (%04Xh)\n", t.manufacturerText, t.manufacturer & 0xFFFF);
    out << line;
    std::snprintf(line, sizeof line, "  Version         %d\n", t.version);
    out << line;
    std::snprintf(line, sizeof line, "  Medium          %02Xh ", t.medium);
    out << line << ReadableMedium(answer::MediumAsc(v)) << "\n";
    std::snprintf(line, sizeof line, "  Access number   %d   Status %02Xh   Signature %04Xh\n", t.accessNumber,
                  t.status, t.signature & 0xFFFF);
    out << line;
}

void PrintRecordHead(std::ostream& out) {
    std::string head = "   #  Function  Stor Tar Sub  Description";
    Pad(head, kKeyWidth + kDescriptionWidth + 2 + kValueWidth - 5);
    out << head << "Value  Unit\n";
}

void PrintRecord(std::ostream& out, const MBTelegram& t, const MBDataRecord& rec, int number) {
    char line[160];
    std::snprintf(line, sizeof line, "  %2d  ", number);
    std::string row = line;
    std::string function(FunctionFieldName(rec.functionField));
    if (rec.specialDIF != 0) function = "special";
    Pad(function, 8);
    row += function;
    std::snprintf(line, sizeof line, "  %4lld %3d %3d  ", static_cast<long long>(rec.storageNumber), rec.tariff,
                  rec.subunit);
    row += line;
    const ReadableValue r = Readable(t, rec);
    std::string desc = r.description;
    Fit(desc, kDescriptionWidth);
    row += desc;
    row += "  ";
    std::string value = rec.hasValueText ? r.value : std::string("(no value)");
    PutLeft(value, kValueWidth);
    row += value;
    if (!r.unit.empty()) row += "  " + r.unit;
    out << row << "\n";
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
    PrintHeader(out, t, v);
    if (t.moreRecordsFollow) out << "  More records follow in the next telegram\n";
    if (t.records.empty()) return;
    PrintRecordHead(out);
    int i = 0;
    for (const MBDataRecord& rec : t.records) PrintRecord(out, t, rec, ++i);
}

bool HasMeterHeader(const MBTelegram& t) {
    return t.frameType == kFrameLong && t.structureKind <= kVariableMsbFirst;
}

// RFC 4180: a field with a comma, quote or line break is quoted, its
// quotes doubled.
std::string CsvField(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + "\"";
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
        else if (*f == "csv" && std::strcmp(command, "read") == 0) o.format = OutputOptions::Format::Csv;
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
        case OutputOptions::Format::Csv: out << CsvRows({&t}, "", 0) << "\n"; break;
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
        case OutputOptions::Format::Csv: out += CsvRows({&t}, "", 0) + "\n"; break;
    }
}

std::string ReadableMedium(std::string medium) {
    for (char& c : medium)
        if (c == '_') c = ' ';
    return medium;
}

ReadableValue Readable(const MBTelegram& t, const MBDataRecord& rec, int language) {
    ReadableValue r;
    const std::string raw = rec.hasValueText ? RecordValue(t, rec, true) : std::string();
    r.value = raw;
    if (rec.specialDIF != 0) {
        r.description = SpecialDescription(rec);
        return r;
    }
    const std::string own = RecordDescription(t, rec, language);
    r.description = own;
    if (!rec.hasValueText || rec.dataField == 0x0F) return r;
    const std::string date = ReadableDate(raw);
    if (date != raw) {
        r.description = WithoutUnit(own);
        r.value = date;
        return r;
    }
    int quantityClass = kNoQuantityClass;
    double factor = 1.0;
    const std::string normalised = RecordDescriptionNormalised(t, rec, &quantityClass, &factor, language);
    std::string description = own, unit;
    if (quantityClass != kNoQuantityClass) {
        description = normalised;
        if (normalised.find('[') != std::string::npos) unit = std::string(UnitOf(normalised));
    } else {
        if (own.find('[') != std::string::npos) unit = std::string(UnitOf(own));
        factor *= UnitTextScale(rec.VIB(), rec.vibLength, static_cast<int>(t.structureKind));
    }
    // The number the value text stands for: the decoded integer, or the
    // shortest text of a real that reads back as the same float.
    std::string number;
    if (IsIntegerCoding(rec.dataField) && raw.find_first_not_of("-0123456789 ") == std::string::npos) {
        number = std::to_string(rec.value);
    } else if (rec.dataField == 5) {
        char buf[64];
        const auto end = std::to_chars(buf, buf + sizeof buf, rec.realValue, std::chars_format::fixed).ptr;
        number.assign(buf, end);
    }
    int mantissa = 1, exponent = 0;
    std::string scaled;
    if (!number.empty() && SplitFactor(factor, &mantissa, &exponent)) scaled = ScaleDecimal(number, mantissa, exponent);
    if (scaled.empty()) {
        // No exact decimal form: the value as the meter sent it, in the
        // code's own unit.
        if (own.find('[') != std::string::npos) {
            r.unit = ReadableUnit(std::string(UnitOf(own)));
            r.description = WithoutUnit(own);
        }
        return r;
    }
    r.value = scaled;
    r.unit = ReadableUnit(unit);
    r.description = unit.empty() ? description : WithoutUnit(description);
    return r;
}

std::string LocalTime(std::time_t when, bool iso) {
    std::tm tm{};
    localtime_r(&when, &tm);
    char buf[40];
    std::strftime(buf, sizeof buf, iso ? "%Y-%m-%dT%H:%M:%S" : "%Y-%m-%d %H:%M:%S", &tm);
    std::string s = buf;
    if (iso) {
        // The offset as ISO 8601 writes it: +01:00.
        std::strftime(buf, sizeof buf, "%z", &tm);
        if (std::strlen(buf) == 5) s += std::string(buf, 3) + ":" + std::string(buf + 3, 2);
    }
    return s;
}

void PrintReadout(std::ostream& out, const std::vector<const MBTelegram*>& telegrams, const OutputOptions& o,
                  int number, const std::string& address, std::time_t readAt) {
    if (telegrams.empty()) return;
    switch (o.format) {
        case OutputOptions::Format::Table: {
            const MBTelegram& first = *telegrams.front();
            out << "Meter " << number << ": address " << address << ", read at " << LocalTime(readAt, false);
            if (telegrams.size() > 1) out << " (" << telegrams.size() << " telegrams)";
            out << "\n";
            if (!HasMeterHeader(first)) {
                for (const MBTelegram* t : telegrams) PrintTable(out, *t, AnswerView::Of(*t), number);
                out << "\n";
                return;
            }
            PrintHeader(out, first, AnswerView::Of(first));
            PrintRecordHead(out);
            int i = 0;
            for (const MBTelegram* t : telegrams) {
                for (const MBDataRecord& rec : t->records) {
                    // The mark between telegrams carries nothing of the meter's.
                    if (rec.specialDIF == 0x1F && rec.RawValue().empty()) continue;
                    PrintRecord(out, *t, rec, ++i);
                }
            }
            out << "\n";
            break;
        }
        case OutputOptions::Format::Json: out << ReadoutJson(telegrams, address, readAt) << "\n"; break;
        case OutputOptions::Format::Csv: out << CsvRows(telegrams, address, readAt) << "\n"; break;
        case OutputOptions::Format::Cooked:
            for (const MBTelegram* t : telegrams) PrintAnswer(out, *t, o, number);
            break;
    }
}

std::string ReadoutJson(const std::vector<const MBTelegram*>& telegrams, const std::string& address,
                        std::time_t readAt, bool complete) {
    // The header of the last telegram (whose "moreRecordsFollow" tells
    // whether the meter still had more), the records of all of them. A
    // quote inside a string is escaped, so the key is found only where it
    // is one.
    static const std::string kRecords = "],\"records\":[";
    std::string head, records;
    for (const MBTelegram* t : telegrams) {
        std::string one;
        AppendAnswerJson(one, AnswerView::Of(*t));
        const std::size_t at = one.find(kRecords);
        if (at == std::string::npos || one.size() < at + kRecords.size() + 2) continue;
        head = one.substr(1, at + kRecords.size() - 1);
        const std::string these = one.substr(at + kRecords.size(), one.size() - at - kRecords.size() - 2);
        if (!these.empty() && !records.empty()) records += ',';
        records += these;
    }
    return "{\"address\":" + JsonString(address) + ",\"readAt\":" + JsonString(LocalTime(readAt, true)) +
           ",\"complete\":" + (complete ? "true" : "false") + "," + head + records + "]}";
}

const char* const kCsvHeader =
    "time,address,secondary address,identification,manufacturer,medium,storage,tariff,subunit,function,description,"
    "value,unit";

std::string CsvRows(const std::vector<const MBTelegram*>& telegrams, const std::string& address, std::time_t readAt) {
    // The meter's columns, the same in each of its rows.
    std::string meter = readAt != 0 ? LocalTime(readAt, true) : std::string();
    meter += "," + CsvField(address);
    const MBTelegram* first = telegrams.empty() ? nullptr : telegrams.front();
    if (first != nullptr && HasMeterHeader(*first)) {
        char ids[40];
        std::snprintf(ids, sizeof ids, ",%08X%04X%02X%02X,%08X", static_cast<uint32_t>(first->identNumber),
                      first->manufacturer & 0xFFFF, first->version & 0xFF, first->medium & 0xFF,
                      static_cast<uint32_t>(first->identNumber));
        meter += std::string(ids) + "," + CsvField(first->manufacturerText) + "," +
                 CsvField(ReadableMedium(answer::MediumAsc(AnswerView::Of(*first))));
    } else {
        meter += ",,,,";
    }
    std::string rows;
    for (const MBTelegram* t : telegrams) {
        for (const MBDataRecord& rec : t->records) {
            // The mark between telegrams carries nothing of the meter's.
            if (rec.specialDIF == 0x1F && rec.RawValue().empty()) continue;
            std::string function = rec.specialDIF != 0 ? std::string("special")
                                                       : std::string(FunctionFieldName(rec.functionField));
            while (!function.empty() && function.back() == ' ') function.pop_back();
            const ReadableValue r = Readable(*t, rec);
            if (!rows.empty()) rows += '\n';
            rows += meter + "," + std::to_string(rec.storageNumber) + "," + std::to_string(rec.tariff) + "," +
                    std::to_string(rec.subunit) + "," + function + "," + CsvField(r.description) + "," +
                    CsvField(r.value) + "," + CsvField(r.unit);
        }
    }
    // A reading without records still shows, its record columns empty.
    return rows.empty() ? meter + ",,,,,,," : rows;
}

}  // namespace mbus::cli
