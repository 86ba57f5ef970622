#include "control/decode/vib.h"

#include <array>
#include <cstring>
#include <mutex>

#include "control/decode/options.h"
#include "control/decode/telegram.h"
#include "control/decode/text_tables.h"
#include "control/decode/texts/columns.h"

namespace mbus {

void TextBuilder::Append(std::string_view s) {
    const std::size_t room = cap_ - 1 - len_;
    const std::size_t n = s.size() < room ? s.size() : room;
    std::memcpy(buf_ + len_, s.data(), n);
    len_ += n;
    buf_[len_] = '\0';
}

void TextBuilder::Resync() {
    len_ = strnlen(buf_, cap_ - 1);
    buf_[len_] = '\0';
}

namespace {

bool IsFixed(int structureKind) { return structureKind == kFixedLsbFirst || structureKind == kFixedMsbFirst; }

// Multiplier carried by an English unit text: "10 [" gives 10, "100 [" and
// "1000 [" give 100, anything else 1.
int MultiplierOfText(const char* text) {
    if (text == nullptr) return 1;
    const char* bracket = std::strchr(text, '[');
    if (bracket == nullptr) return 1;
    for (const char* p = bracket; p > text;) {
        --p;
        if (*p == '0') return (p - text >= 2 && p[-1] == '0') ? 100 : 10;
    }
    return 1;
}

// Multipliers of every code, computed once from the English column.
struct MultiplierTables {
    std::array<uint8_t, 128> var{}, fb{}, fd{};
    std::array<uint8_t, 64> fix{};
    MultiplierTables() {
        for (int i = 0; i < 128; ++i) {
            var[i] = static_cast<uint8_t>((i > 0x7A || i == 0x40) ? 1 : MultiplierOfText(texts::kEnglish.vifVar[i]));
            const bool fbLowered = i == 0x03 || i == 0x0E || i == 0x0F || i >= 0x32;
            fb[i] = static_cast<uint8_t>(fbLowered ? MultiplierOfText(texts::kEnglish.vifVarFB[i]) : 1);
            fd[i] = static_cast<uint8_t>(MultiplierOfText(texts::kEnglish.vifVarFD[i]));
        }
        for (int i = 0; i < 64; ++i) fix[i] = static_cast<uint8_t>(MultiplierOfText(texts::kEnglish.fixUnits[i]));
    }
};
// Built at load time; the English column it reads is constant-initialised.
const MultiplierTables kMultipliers;

// The VIFE rule: "Non-metric unit" rewrites the units so far; any other
// VIFE appends "->" and its text.
void AppendVIFEs(const uint8_t* vib, int from, int to, int language, TextBuilder& out) {
    for (int i = from; i <= to; ++i) {
        const int code = vib[i] & 0x7F;
        if (code == 0x3D) {
            MetricToNonMetric(out, language);
        } else {
            out.Append("->");
            out.Append(Cell(TextTable::VIFEVar, code, language));
        }
    }
}

// Index of the last VIB byte, bounded by the VIB array.
int LastIndex(int vibLength, int capacity) { return vibLength - 1 < capacity - 1 ? vibLength - 1 : capacity - 1; }

// Plain-text VIF: the text, then the VIFEs stored behind its zero.
void DescribePlainText(const uint8_t* vib, int vibLength, int language, TextBuilder& out) {
    const int n = vib[1];
    out.Append(std::string_view(reinterpret_cast<const char*>(vib + 2), static_cast<std::size_t>(n)));
    // The length counts VIF, length byte, text and VIFEs, not the zero.
    const int last = vibLength < kVIBPlainText - 1 ? vibLength : kVIBPlainText - 1;
    AppendVIFEs(vib, n + 3, last, language, out);
}

bool IsPlainText(const uint8_t* vib, int vibLength) { return (vib[0] == 0x7C || vib[0] == 0xFC) && vibLength >= 2; }

// Base unit of a code, with the factor into it.
struct BaseUnit {
    int quantityClass;
    TextTable table;
    int row;
    double factor;
};

double Pow10(int e) {
    static constexpr double kUp[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    static constexpr double kDown[] = {1e0, 1e-1, 1e-2, 1e-3, 1e-4, 1e-5, 1e-6, 1e-7, 1e-8, 1e-9, 1e-10, 1e-11, 1e-12, 1e-13, 1e-14, 1e-15};
    if (e >= 0) return e < 16 ? kUp[e] : 1e16;
    return -e < 16 ? kDown[-e] : 1e-16;
}

// One row of the normalisation: codes lo..hi of a code space map to a
// quantity class whose base text is `row` of `table`; the factor is
// scale x 10^(code - offset).
struct NormRule {
    enum Space { Primary, FB, FD, Fixed } space;
    int lo, hi;
    int quantityClass;
    TextTable table;
    int row;
    double scale;
    int offset;
};

constexpr TextTable V = TextTable::VIFVar;
constexpr NormRule kNormRules[] = {
    // Energy [kWh]
    {NormRule::Primary, 0x00, 0x07, 1, V, 0x06, 1, 6},
    {NormRule::FB, 0x00, 0x01, 1, V, 0x06, 1, -2},
    {NormRule::Fixed, 0x02, 0x0A, 1, V, 0x06, 1, 5},
    // Energy [MJ]
    {NormRule::Primary, 0x08, 0x0F, 2, V, 0x0E, 1, 14},
    {NormRule::FB, 0x08, 0x09, 2, V, 0x0E, 1, 6},
    {NormRule::Fixed, 0x0B, 0x13, 2, V, 0x0E, 1, 14},
    // Volume [m3]
    {NormRule::Primary, 0x10, 0x17, 3, V, 0x16, 1, 22},
    {NormRule::FB, 0x10, 0x11, 3, V, 0x16, 1, 14},
    {NormRule::Fixed, 0x26, 0x2E, 3, V, 0x16, 1, 44},
    // Mass [kg]: FB 18h is 100 t, 19h is 1 kt
    {NormRule::Primary, 0x18, 0x1F, 4, V, 0x1B, 1, 27},
    {NormRule::FB, 0x18, 0x19, 4, V, 0x1B, 1, 19},
    // Power [kW]
    {NormRule::Primary, 0x28, 0x2F, 5, V, 0x2E, 1, 46},
    {NormRule::FB, 0x28, 0x29, 5, V, 0x2E, 1, 38},
    {NormRule::Fixed, 0x14, 0x1C, 5, V, 0x2E, 1, 23},
    // Power [MJ/h]
    {NormRule::Primary, 0x30, 0x37, 6, V, 0x36, 1, 54},
    {NormRule::FB, 0x30, 0x31, 6, V, 0x36, 1, 46},
    {NormRule::Fixed, 0x1D, 0x25, 6, V, 0x36, 1, 32},
    // Volume Flow [m3/h]: per hour, per minute (x 60), per second (x 3600)
    {NormRule::Primary, 0x38, 0x3F, 7, V, 0x3E, 1, 62},
    {NormRule::Primary, 0x40, 0x47, 7, V, 0x3E, 6, 70},
    {NormRule::Primary, 0x48, 0x4F, 7, V, 0x3E, 3.6, 78},
    {NormRule::Fixed, 0x2F, 0x37, 7, V, 0x3E, 1, 53},
    // Mass Flow [kg/h]
    {NormRule::Primary, 0x50, 0x57, 8, V, 0x53, 1, 83},
    // Temperatures and pressure
    {NormRule::Primary, 0x58, 0x5B, 9, V, 0x5B, 1, 91},
    {NormRule::Fixed, 0x38, 0x38, 9, V, 0x5B, 1, 0x38 + 3},
    {NormRule::Primary, 0x5C, 0x5F, 10, V, 0x5F, 1, 95},
    {NormRule::Primary, 0x60, 0x63, 11, V, 0x63, 1, 99},
    {NormRule::Primary, 0x64, 0x67, 12, V, 0x67, 1, 103},
    {NormRule::Primary, 0x68, 0x6B, 13, V, 0x6B, 1, 107},
    // Heat cost allocator
    {NormRule::Primary, 0x6E, 0x6E, 14, V, 0x6E, 1, 0x6E},
    {NormRule::Fixed, 0x39, 0x39, 14, V, 0x6E, 1, 0x39},
    // Voltage [V], Current [A]
    {NormRule::FD, 0x40, 0x4F, 15, TextTable::VIFVarFD, 0x49, 1, 73},
    {NormRule::FD, 0x50, 0x5F, 16, TextTable::VIFVarFD, 0x5C, 1, 92},
};

bool FindBase(NormRule::Space space, int code, BaseUnit& base) {
    for (const NormRule& r : kNormRules) {
        if (r.space == space && code >= r.lo && code <= r.hi) {
            base = {r.quantityClass, r.table, r.row, r.scale * Pow10(code - r.offset)};
            return true;
        }
    }
    return false;
}

// Metric unit names and their replacements, applied in this order.
constexpr std::pair<const char*, const char*> kNonMetric[] = {
    {"[mWh]", "[BTU]"},        {"[Wh]", "[kBTU]"},          {"[kWh]", "[MBTU]"},
    {"[ml]", "[mUSgal]"},      {"[l]", "[USgal]"},          {"[m3]", "[kUSgal]"},
    {"[µl/min]", "[µUSgal/min]"}, {"[ml/min]", "[mUSgal/min]"}, {"[l/min]", "[USgal/min]"},
    {"[m3/min]", "[kUSgal/min]"}, {"[mW]", "[µBTU/s]"},     {"[W]", "[mBTU/s]"},
    {"[kW]", "[BTU/s]"},       {"[m°C]", "[m°F]"},          {"[°C]", "[°F]"},
    {"[mK]", "[m°F]"},         {"[K]", "[°F]"},
};
constexpr std::size_t kNonMetricCount = sizeof kNonMetric / sizeof kNonMetric[0];

// The replacement pairs in each code page (UTF-8 for the user column).
struct NonMetricPairs {
    std::array<std::pair<std::string, std::string>, kNonMetricCount> pairs[4];
    NonMetricPairs() {
        const text::CodePage pages[4] = {text::CodePage::Windows1252, text::CodePage::Windows1251,
                                         text::CodePage::Windows1250, text::CodePage::Utf8};
        for (int p = 0; p < 4; ++p)
            for (std::size_t i = 0; i < kNonMetricCount; ++i)
                pairs[p][i] = {text::FromUtf8(kNonMetric[i].first, pages[p]),
                               text::FromUtf8(kNonMetric[i].second, pages[p])};
    }
};

// The decimal number written right before the "[" of an English unit text
// ("Volume 0.1 [feet3]": 0.1); 1 when there is none.
double ScaleOfText(const char* text) {
    if (text == nullptr) return 1.0;
    const char* bracket = std::strchr(text, '[');
    if (bracket == nullptr) return 1.0;
    const char* end = bracket;
    while (end > text && end[-1] == ' ') --end;
    const char* begin = end;
    while (begin > text && ((begin[-1] >= '0' && begin[-1] <= '9') || begin[-1] == '.')) --begin;
    if (begin == end || (begin > text && begin[-1] != ' ')) return 1.0;
    // Digits and the places behind the point, so that 0.001 is exactly 1e-3.
    long long digits = 0;
    int decimals = -1;
    for (const char* p = begin; p < end; ++p) {
        if (*p == '.') {
            if (decimals >= 0) return 1.0;
            decimals = 0;
        } else {
            digits = digits * 10 + (*p - '0');
            if (decimals >= 0) ++decimals;
        }
    }
    if (digits <= 0 || digits > 1000000) return 1.0;
    return static_cast<double>(digits) * Pow10(decimals > 0 ? -decimals : 0);
}

// First and last index of the VIFEs of a VIB (first > last: none).
void VIFERange(const uint8_t* vib, int vibLength, int structureKind, int* first, int* last) {
    *first = 1;
    *last = 0;
    if (vibLength < 2 || IsFixed(structureKind) || vib[0] == 0xFF) return;
    if (IsPlainText(vib, vibLength)) {
        // The length counts VIF, length byte, text and VIFEs, not the zero.
        *first = vib[1] + 3;
        *last = vibLength < kVIBPlainText - 1 ? vibLength : kVIBPlainText - 1;
        return;
    }
    *first = (vib[0] == 0xFB || vib[0] == 0xFD) ? 2 : 1;
    *last = LastIndex(vibLength, kVIBInline);
}

}  // namespace

double UnitTextScale(const uint8_t* vib, int vibLength, int structureKind) {
    if (vibLength < 1 || vibLength > 270) return 1.0;
    const uint8_t vif = vib[0];
    if (IsFixed(structureKind)) return ScaleOfText(texts::kEnglish.fixUnits[vif & 0x3F]);
    if (IsPlainText(vib, vibLength) || vif == 0xFF) return 1.0;
    if ((vif == 0xFB || vif == 0xFD) && vibLength >= 2)
        return ScaleOfText((vif == 0xFB ? texts::kEnglish.vifVarFB : texts::kEnglish.vifVarFD)[vib[1] & 0x7F]);
    return ScaleOfText(texts::kEnglish.vifVar[vif == 0xFE ? 0x7E : vif & 0x7F]);
}

double CorrectionScale(const uint8_t* vib, int vibLength, int structureKind) {
    if (vibLength < 1 || vibLength > 270) return 1.0;
    int first, last;
    VIFERange(vib, vibLength, structureKind, &first, &last);
    double scale = 1.0;
    for (int i = first; i <= last; ++i) {
        const int code = vib[i] & 0x7F;
        if (code == 0x7F) break;  // what follows is the manufacturer's
        if (code >= 0x70 && code <= 0x77) scale *= Pow10(code - 0x76);
        else if (code == 0x7D) scale *= 1000.0;
    }
    return scale;
}

std::string_view UnitOfVIB(const uint8_t* vib, int vibLength, std::string_view description) {
    if (vibLength >= 2 && vibLength <= 270 && IsPlainText(vib, vibLength))
        return std::string_view(reinterpret_cast<const char*>(vib + 2), vib[1]);
    return UnitOf(description);
}

int MultiplierOf(uint8_t vif, uint8_t extension, int structureKind) {
    const MultiplierTables& m = kMultipliers;
    if (IsFixed(structureKind)) return m.fix[vif & 0x3F];
    if (vif == 0xFB) return m.fb[extension & 0x7F];
    if (vif == 0xFD) return m.fd[extension & 0x7F];
    return m.var[vif & 0x7F];
}

void MetricToNonMetric(TextBuilder& out, int language) {
    static const NonMetricPairs all;
    const text::CodePage page = CodePageOfLanguage(language);
    const auto& pairs = all.pairs[static_cast<int>(page)];
    std::string s(out.View());
    for (const auto& [from, to] : pairs) {
        for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
            s.replace(at, from.size(), to);
    }
    out.Clear();
    out.Append(s);
}

void DescribeVIB(const uint8_t* vib, int vibLength, int structureKind, int language, TextBuilder& out) {
    if (vibLength < 1 || vibLength > 270) return;
    const uint8_t vif = vib[0];
    const int capacity = IsPlainText(vib, vibLength) ? kVIBPlainText : kVIBInline;
    if (IsFixed(structureKind)) {
        out.Append(Cell(TextTable::FixUnits, vif & 0x3F, language));
    } else if (IsPlainText(vib, vibLength)) {
        DescribePlainText(vib, vibLength, language, out);
    } else if ((vif == 0xFB || vif == 0xFD) && vibLength >= 2) {
        out.Append(Cell(vif == 0xFB ? TextTable::VIFVarFB : TextTable::VIFVarFD, vib[1] & 0x7F, language));
        AppendVIFEs(vib, 2, LastIndex(vibLength, capacity), language, out);
    } else if (vif == 0xFF) {
        out.Append(Cell(TextTable::VIFVar, 0x7F, language));
        out.Append("->");
        for (int i = 1; i <= LastIndex(vibLength, capacity); ++i) {
            out.Append(HTATab[vib[i] >> 4]);
            out.Append(HTATab[vib[i] & 0x0F]);
        }
    } else {
        out.Append(Cell(TextTable::VIFVar, vif == 0xFE ? 0x7E : vif & 0x7F, language));
        AppendVIFEs(vib, 1, LastIndex(vibLength, capacity), language, out);
    }
}

Normalised DescribeVIBNormalised(const uint8_t* vib, int vibLength, int structureKind, int language,
                                 TextBuilder& out) {
    Normalised result;
    if (vibLength < 1 || vibLength > 270) return result;
    const uint8_t vif = vib[0];
    BaseUnit base{};
    bool found = false;
    int firstVIFE = 1;
    // Correction-factor VIFEs scale the value whatever its unit.
    result.factor = CorrectionScale(vib, vibLength, structureKind);
    if (IsFixed(structureKind)) {
        found = FindBase(NormRule::Fixed, vif & 0x3F, base);
        if (!found) {
            DescribeVIB(vib, vibLength, structureKind, language, out);
            return result;
        }
        firstVIFE = vibLength;  // a fixed-structure VIB has no VIFEs
    } else if (IsPlainText(vib, vibLength) || vif == 0xFF) {
        DescribeVIB(vib, vibLength, structureKind, language, out);
        return result;
    } else if ((vif == 0xFB || vif == 0xFD) && vibLength >= 2) {
        found = FindBase(vif == 0xFB ? NormRule::FB : NormRule::FD, vib[1] & 0x7F, base);
        firstVIFE = 2;
    } else {
        found = FindBase(NormRule::Primary, vif & 0x7F, base);
    }
    if (!found) {
        DescribeVIB(vib, vibLength, structureKind, language, out);
        return result;
    }
    out.Append(Cell(base.table, base.row, language));
    AppendVIFEs(vib, firstVIFE, LastIndex(vibLength, kVIBInline), language, out);
    result.quantityClass = base.quantityClass;
    result.factor *= base.factor;
    return result;
}

std::string_view UnitOf(std::string_view description) {
    const std::size_t open = description.find('[');
    if (open == std::string_view::npos || open + 1 >= description.size()) return description;
    const std::size_t close = description.find(']', open + 1);
    return description.substr(open + 1, (close == std::string_view::npos ? description.size() : close) - open - 1);
}

}  // namespace mbus

using namespace mbus;

void MBTelegram::VIBInterpret(const uint8_t* VIB, int VIBLength, char* text) const {
    TextBuilder out(text, 1000);
    DescribeVIB(VIB, VIBLength, static_cast<int>(structureKind), CurrentLanguage(), out);
}

void MBTelegram::VIBInterpret2(const uint8_t* VIB, int VIBLength, char* text, int* quantityClass,
                               double* factor) const {
    TextBuilder out(text, 1000);
    const Normalised n = DescribeVIBNormalised(VIB, VIBLength, static_cast<int>(structureKind), CurrentLanguage(), out);
    *quantityClass = n.quantityClass;
    *factor = n.factor;
}

int MBTelegram::VIBMultiplierCheck(uint8_t VIF, uint8_t extension, int structureKind) {
    return MultiplierOf(VIF, extension, structureKind);
}

void MBTelegram::VIBMetric2NonMetric(char* text) {
    TextBuilder out(text, 1000, true);
    MetricToNonMetric(out, CurrentLanguage());
}
