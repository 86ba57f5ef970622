#include "control/decode/answer_json.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "control/decode/conversions.h"
#include "control/decode/options.h"
#include "control/decode/text_tables.h"
#include "control/decode/vib.h"

namespace mbus {
namespace {

// Collects output in a stack buffer and hands it to the string in blocks:
// a record is made of many small pieces, and one append per piece costs
// more than the piece.
class Sink {
public:
    explicit Sink(std::string& out) : out_(out) {}
    ~Sink() { Flush(); }
    Sink(const Sink&) = delete;
    Sink& operator=(const Sink&) = delete;

    [[gnu::always_inline]] void Put(char c) {
        if (n_ == sizeof buf_) Flush();
        buf_[n_++] = c;
    }
    void Put(const char* s, std::size_t len) {
        if (n_ + len > sizeof buf_) {
            Flush();
            if (len > sizeof buf_) {
                out_.append(s, len);
                return;
            }
        }
        std::memcpy(buf_ + n_, s, len);
        n_ += len;
    }
    template <std::size_t N>
    [[gnu::always_inline]] void Lit(const char (&s)[N]) {
        if (n_ + N > sizeof buf_) Flush();
        std::memcpy(buf_ + n_, s, N - 1);  // constant size: a few moves
        n_ += N - 1;
    }
    // Room for `len` bytes written directly; Commit tells how many were used.
    [[gnu::always_inline]] char* Reserve(std::size_t len) {
        if (n_ + len > sizeof buf_) Flush();
        return buf_ + n_;
    }
    [[gnu::always_inline]] void Commit(char* end) { n_ = static_cast<std::size_t>(end - buf_); }
    void Flush() {
        out_.append(buf_, n_);
        n_ = 0;
    }

private:
    std::string& out_;
    char buf_[2048];
    std::size_t n_ = 0;
};

// How each byte is written inside a JSON string: 0 as it is, 1 escaped,
// 2 through the code page (upper half of a single-byte code page).
struct ByteClasses {
    uint8_t of[256] = {};
    constexpr ByteClasses() {
        for (int c = 0; c < 0x20; ++c) of[c] = 1;
        of[static_cast<int>('"')] = of[static_cast<int>('\\')] = 1;
        for (int c = 0x80; c < 0x100; ++c) of[c] = 2;
    }
};
constexpr ByteClasses kClasses;

char* PutEscaped(char* p, unsigned char c) {
    *p++ = '\\';
    switch (c) {
        case '"': *p++ = '"'; break;
        case '\\': *p++ = '\\'; break;
        case '\n': *p++ = 'n'; break;
        case '\r': *p++ = 'r'; break;
        case '\t': *p++ = 't'; break;
        default:
            *p++ = 'u';
            *p++ = '0';
            *p++ = '0';
            *p++ = HTATab[c >> 4];
            *p++ = HTATab[c & 0x0F];
    }
    return p;
}

// A text as a JSON string (quotes included). Single-byte code-page text is
// converted to UTF-8 on the way; UTF-8 text passes as it is.
void PutString(Sink& s, std::string_view bytes, text::CodePage page = text::CodePage::Utf8) {
    const bool convert = page != text::CodePage::Utf8;
    char* const start = s.Reserve(bytes.size() * 6 + 2);
    char* p = start;
    *p++ = '"';
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        const uint8_t cls = kClasses.of[c];
        if (cls == 0 || (cls == 2 && !convert)) {
            *p++ = ch;
        } else if (cls == 1) {
            p = PutEscaped(p, c);
        } else {
            std::string one;
            text::AppendUtf8(one, std::string_view(&ch, 1), page);
            std::memcpy(p, one.data(), one.size());
            p += one.size();
        }
    }
    *p++ = '"';
    s.Commit(p);
}

// Writes v at p (room for 20 characters); returns the end.
[[gnu::always_inline]] inline char* PutIntAt(char* p, int64_t v) {
    if (v >= 0 && v < 100) {
        if (v >= 10) *p++ = static_cast<char>('0' + v / 10);
        *p++ = static_cast<char>('0' + v % 10);
        return p;
    }
    return std::to_chars(p, p + 20, v).ptr;
}

[[gnu::always_inline]] inline void PutInt(Sink& s, int64_t v) { s.Commit(PutIntAt(s.Reserve(24), v)); }

// The decimal exponent of a factor that is an exact power of ten.
bool PowerOfTen(double factor, int* exponent) {
    double p = 1.0;
    if (factor >= 1.0) {
        for (int e = 0; e <= 15; ++e, p *= 10.0)
            if (factor == p) return *exponent = e, true;
    } else {
        static constexpr double kDown[] = {1e-1, 1e-2, 1e-3, 1e-4, 1e-5, 1e-6, 1e-7, 1e-8,
                                           1e-9, 1e-10, 1e-11, 1e-12, 1e-13, 1e-14, 1e-15};
        for (int e = 0; e < 15; ++e)
            if (factor == kDown[e]) return *exponent = -(e + 1), true;
    }
    return false;
}

void PutNumber(Sink& s, double d) {
    if (!std::isfinite(d)) {
        s.Lit("null");
        return;
    }
    int exponent;
    if (PowerOfTen(d, &exponent)) {
        s.Put('1');
        if (exponent != 0) {
            s.Put('e');
            PutInt(s, exponent);
        }
        return;
    }
    char* p = s.Reserve(40);
    s.Commit(std::to_chars(p, p + 40, d).ptr);
}

void PutHexBytes(Sink& s, const uint8_t* bytes, std::size_t n) {
    s.Put('"');
    for (std::size_t i = 0; i < n; ++i) {
        s.Put(HTATab[bytes[i] >> 4]);
        s.Put(HTATab[bytes[i] & 0x0F]);
    }
    s.Put('"');
}

// "key": with its quotes and colon, from a string literal.
template <std::size_t N>
[[gnu::always_inline]] inline void Key(Sink& s, const char (&key)[N]) {
    char* p = s.Reserve(N + 2);
    *p = '"';
    std::memcpy(p + 1, key, N - 1);  // constant size: a few moves
    p[N] = '"';
    p[N + 1] = ':';
    s.Commit(p + N + 2);
}

// "key":v, with one check for room.
template <std::size_t N>
[[gnu::always_inline]] inline void Field(Sink& s, const char (&key)[N], int64_t v) {
    char* p = s.Reserve(N + 2 + 20 + 1);
    *p = '"';
    std::memcpy(p + 1, key, N - 1);
    p[N] = '"';
    p[N + 1] = ':';
    p = PutIntAt(p + N + 2, v);
    *p++ = ',';
    s.Commit(p);
}

template <std::size_t N>
void Field(Sink& s, const char (&key)[N], std::string_view utf8) {
    Key(s, key);
    PutString(s, utf8);
    s.Put(',');
}

bool IsIntegerCoding(int df) { return (df >= 1 && df <= 4) || df == 6 || df == 7 || (df >= 9 && df <= 12) || df == 14; }

// The normalised value: value x factor. An integer times a power of ten is
// written exactly as "<integer>e<exponent>"; anything else as the nearest double.
void PutNormalisedValue(Sink& s, const MBDataRecord& rec, double factor) {
    if (!rec.hasValueText || rec.valueText.empty()) {
        s.Lit("null");
        return;
    }
    int exponent;
    if (IsIntegerCoding(rec.dataField) && PowerOfTen(factor, &exponent)) {
        PutInt(s, rec.value);
        if (exponent != 0 && rec.value != 0) {
            s.Put('e');
            PutInt(s, exponent);
        }
    } else if (rec.dataField == 5) {
        PutNumber(s, std::strtod(rec.valueText.c_str(), nullptr) * factor);
    } else if (IsIntegerCoding(rec.dataField)) {
        PutNumber(s, static_cast<double>(rec.value) * factor);
    } else {
        s.Lit("null");
    }
}

// The JSON pieces that depend only on a record's VIB: its description and
// unit, and the unit, quantity class and factor of its normalised value.
//
// Units follow one rule: a unit always belongs to the value beside it. The
// record's "value" is the value as decoded, so its "unit" carries the
// decimal multiplier that the code or its correction VIFEs add ("x100 kWh"
// for a value in hundreds of kWh); the "normalised" value has every
// multiplier applied and a unit without one (the base unit of its quantity,
// or the plain unit of the code).
struct VIBTexts {
    std::string description;  // ,"description":"...","unit":"..."
    std::string normalised;   // ,"unit":"...","quantityClass":N,"factor":F}}; empty: no normalised form
    int quantityClass = kNoQuantityClass;
    double factor = 1.0;
    bool isDate = false;
};

// A decimal multiplier in front of a unit: "x100 ", "x0.01 ".
void PutScale(Sink& s, double scale) {
    char* p = s.Reserve(40);
    *p++ = 'x';
    p = std::to_chars(p, p + 32, scale).ptr;
    *p++ = ' ';
    s.Commit(p);
}

// Date and time records: the VIFs of a date or a date and time, start of
// tariff, and the VIFEs that make a value a point in time (the rule by which
// the record walk writes calendar texts).
bool IsDateRecord(const MBDataRecord& rec) {
    if (rec.vibLength < 1 || rec.IsPlainTextVIB()) return false;
    const uint8_t* vib = rec.VIB();
    const uint8_t vif = vib[0];
    if (vif == 0x6C || vif == 0x6D || vif == 0xEC || vif == 0xED) return true;
    if (vif == 0xFD && rec.vibLength >= 2 && (vib[1] & 0x7F) == 0x30) return true;
    if ((vif & 0x7F) == 0x7E || (vif & 0x7F) == 0x7F) return false;
    const int first = (vif == 0xFB || vif == 0xFD) ? 2 : 1;
    for (int i = first; i < rec.vibLength && i < kVIBInline; ++i) {
        const uint8_t e = vib[i];
        if ((e & 0x72) == 0x42 || (e & 0x7A) == 0x6A || e == 0x39) return true;
    }
    return false;
}

void BuildVIBTexts(const MBDataRecord& rec, int kind, int language, VIBTexts& out) {
    const text::CodePage page = CodePageOfLanguage(language);
    const uint8_t* vib = rec.VIB();
    char buf[1000];
    TextBuilder b(buf, sizeof buf);
    out.description.clear();
    out.normalised.clear();
    out.isDate = IsDateRecord(rec);
    const double scale = UnitTextScale(vib, rec.vibLength, kind) * CorrectionScale(vib, rec.vibLength, kind);
    DescribeVIB(vib, rec.vibLength, kind, language, b);
    const std::string_view ownUnit = UnitOfVIB(vib, rec.vibLength, b.View());
    const bool hasUnit = rec.IsPlainTextVIB() || b.View().find('[') != std::string_view::npos;
    std::string plainUnit(ownUnit);
    {
        Sink s(out.description);
        s.Lit(",\"description\":");
        PutString(s, b.View(), page);
        s.Lit(",\"unit\":");
        if (scale == 1.0) {
            PutString(s, ownUnit, page);
        } else {
            std::string scaled;
            Sink u(scaled);
            PutScale(u, scale);
            u.Flush();
            scaled.append(ownUnit);
            PutString(s, scaled, page);
        }
    }
    b.Clear();
    const Normalised norm = DescribeVIBNormalised(vib, rec.vibLength, kind, language, b);
    out.quantityClass = norm.quantityClass;
    std::string_view normalisedUnit;
    if (norm.quantityClass != kNoQuantityClass) {
        out.factor = norm.factor;
        normalisedUnit = UnitOf(b.View());
    } else if (hasUnit && !out.isDate) {
        // No base unit: the code's own unit without its multiplier.
        out.factor = scale;
        normalisedUnit = plainUnit;
    } else {
        out.factor = 1.0;
        return;
    }
    Sink s(out.normalised);
    s.Lit(",\"unit\":");
    PutString(s, normalisedUnit, page);
    s.Lit(",\"quantityClass\":");
    PutInt(s, norm.quantityClass);
    s.Lit(",\"factor\":");
    PutNumber(s, out.factor);
    s.Lit("}}");
}

// Most answers repeat a handful of VIBs, so their texts are kept per thread
// in a small direct-mapped cache. An entry is valid for one VIB, structure
// (fixed or variable), language and generation of the text tables.
class VIBTextCache {
public:
    const VIBTexts& Get(const MBDataRecord& rec, int kind, int language) {
        const bool fixed = kind == kFixedLsbFirst || kind == kFixedMsbFirst;
        if (rec.IsPlainTextVIB() || rec.vibLength > kVIBInline) {
            BuildVIBTexts(rec, kind, language, scratch_);
            return scratch_;
        }
        Key key{};
        key.length = static_cast<uint8_t>(rec.vibLength);
        key.fixed = fixed;
        key.language = static_cast<uint8_t>(language);
        std::memcpy(key.vib, rec.VIB(), static_cast<std::size_t>(rec.vibLength));
        key.generation = TextTablesGeneration();
        uint32_t h = 2166136261u;
        for (int i = 0; i < rec.vibLength; ++i) h = (h ^ key.vib[i]) * 16777619u;
        h = (h ^ key.language ^ (fixed ? 0x80u : 0u)) * 16777619u;
        Entry& e = entries_[h % kEntries];
        if (!e.used || std::memcmp(&e.key, &key, sizeof key) != 0) {
            BuildVIBTexts(rec, kind, language, e.texts);
            e.key = key;
            e.used = true;
        }
        return e.texts;
    }

private:
    struct Key {
        uint8_t vib[kVIBInline];
        uint8_t length;
        uint8_t language;
        bool fixed;
        uint8_t pad;
        uint32_t generation;
    };
    struct Entry {
        Key key{};
        bool used = false;
        VIBTexts texts;
    };
    static constexpr std::size_t kEntries = 256;
    Entry entries_[kEntries];
    VIBTexts scratch_;
};

// The VIB bytes as the record holds them: VIF and VIFEs, or the plain-text
// layout with the zero behind the text (which the VIB length does not count).
std::string_view StoredVIB(const MBDataRecord& rec) {
    int n = rec.vibLength + (rec.IsPlainTextVIB() ? 1 : 0);
    if (n > rec.VIBCapacity()) n = rec.VIBCapacity();
    if (n < 0) n = 0;
    return std::string_view(reinterpret_cast<const char*>(rec.VIB()), static_cast<std::size_t>(n));
}

bool IsBCDCoding(int df) { return df == 9 || df == 10 || df == 11 || df == 12 || df == 14; }

// A BCD value whose digits were not all decimal keeps them as received in
// its text (see the value decoding): no number.
bool IsInvalidBCD(const MBDataRecord& rec) {
    if (!rec.hasValueText || !IsBCDCoding(rec.dataField)) return false;
    for (const char c : rec.valueText)
        if (!(c >= '0' && c <= '9') && c != '-') return true;
    return false;
}

// "valid":false and the raw digits, for a value that is no number or date.
void PutInvalid(Sink& s, std::string_view raw) {
    s.Lit(",\"value\":null,\"valid\":false,\"raw\":");
    PutString(s, raw);
}

// The value of a date record: ISO 8601 when the meter's date is valid.
// Returns false when the record is no date that can be decoded.
bool PutDateValue(Sink& s, const MBDataRecord& rec) {
    const int bytes = rec.dataField == 2 ? 2 : rec.dataField == 4 ? 4 : rec.dataField == 6 ? 6 : 0;
    if (bytes == 0 || !rec.hasValueText) return false;
    const uint64_t bits = static_cast<uint64_t>(rec.value) & (~0ULL >> (64 - 8 * bytes));
    const RecordDate date = DecodeRecordDate(bits, bytes);
    if (!date.valid) {
        char raw[12];
        for (int i = 0; i < 2 * bytes; ++i) raw[i] = HTATab[(bits >> (4 * (2 * bytes - 1 - i))) & 0x0F];
        PutInvalid(s, std::string_view(raw, static_cast<std::size_t>(2 * bytes)));
        if (date.timeInvalid) s.Lit(",\"timeInvalid\":true");
        return true;
    }
    s.Lit(",\"value\":");
    PutString(s, IsoDateText(date));
    if (date.summerTime) s.Lit(",\"summerTime\":true");
    if (date.dayOfWeek != 0) {
        s.Lit(",\"dayOfWeek\":");
        PutInt(s, date.dayOfWeek);
    }
    if (date.week != 0) {
        s.Lit(",\"week\":");
        PutInt(s, date.week);
    }
    return true;
}

void PutRecord(Sink& s, const MBTelegram& t, const MBDataRecord& rec) {
    static thread_local VIBTextCache cache;
    s.Put('{');
    if (rec.specialDIF != 0) Field(s, "specialDif", rec.specialDIF);
    // "dataField":N,"coding":"NAME ", made once for each of the 16 codes.
    static const std::array<std::string, 16> kCodings = [] {
        std::array<std::string, 16> all;
        for (int df = 0; df < 16; ++df)
            all[static_cast<std::size_t>(df)] = "\"dataField\":" + std::to_string(df) + ",\"coding\":\"" +
                                                 std::string(DataFieldName(df)) + "\",";
        return all;
    }();
    // dataField holds the DIF's low four bits.
    const std::string& coding = kCodings[static_cast<std::size_t>(rec.dataField & 0x0F)];
    s.Put(coding.data(), coding.size());
    if ((rec.functionField | rec.tariff | rec.subunit) == 0 && rec.storageNumber == 0) {
        // Most records are current values: one literal instead of four numbers.
        s.Lit("\"function\":0,\"storage\":0,\"tariff\":0,\"subunit\":0,");
    } else {
        Field(s, "function", rec.functionField);
        Field(s, "storage", rec.storageNumber);
        Field(s, "tariff", rec.tariff);
        Field(s, "subunit", rec.subunit);
    }
    // The VIB as received; the form the decoder rewrote it to (a unit
    // without multiplier, the plain-text layout) where that differs.
    const std::string_view stored = StoredVIB(rec);
    Key(s, "vib");
    if (rec.vibReceived.empty()) {
        PutHexBytes(s, reinterpret_cast<const uint8_t*>(stored.data()), stored.size());
    } else {
        PutHexBytes(s, rec.vibReceived.data(), rec.vibReceived.size());
        if (stored != std::string_view(reinterpret_cast<const char*>(rec.vibReceived.data()), rec.vibReceived.size())) {
            s.Lit(",\"vibRewritten\":");
            PutHexBytes(s, reinterpret_cast<const uint8_t*>(stored.data()), stored.size());
        }
    }

    if (rec.specialDIF == 0x0F || rec.specialDIF == 0x1F) {
        // Manufacturer-specific data: no VIB, but a description of its own.
        const int language = CurrentLanguage();
        s.Lit(",\"description\":");
        PutString(s, Cell(TextTable::VIFVar, 0x7F, language), CodePageOfLanguage(language));
        s.Lit(",\"unit\":\"\",\"value\":");
        if (rec.hasValueText) PutHexBytes(s, reinterpret_cast<const uint8_t*>(rec.valueText.data()),
                                          static_cast<std::size_t>(rec.valueTextLength));
        else s.Lit("null");
        s.Lit(",\"normalised\":null}");
        return;
    }

    const VIBTexts& texts = cache.Get(rec, static_cast<int>(t.structureKind), CurrentLanguage());
    s.Put(texts.description.data(), texts.description.size());

    if (texts.isDate && PutDateValue(s, rec)) {
        s.Lit(",\"normalised\":null}");
        return;
    }
    if (IsInvalidBCD(rec)) {
        PutInvalid(s, rec.valueText);
        s.Lit(",\"normalised\":null}");
        return;
    }
    s.Lit(",\"value\":");
    if (!rec.hasValueText) s.Lit("null");
    else if (rec.dataField == 0x0F) PutHexBytes(s, reinterpret_cast<const uint8_t*>(rec.valueText.data()),
                                                static_cast<std::size_t>(rec.valueTextLength));
    else PutString(s, rec.valueText, MeterTextPage());

    // The value with every multiplier applied, in a unit without one.
    if (texts.normalised.empty() || rec.dataField == 0x0F) {
        s.Lit(",\"normalised\":null}");
        return;
    }
    s.Lit(",\"normalised\":{\"value\":");
    PutNormalisedValue(s, rec, texts.factor);
    s.Put(texts.normalised.data(), texts.normalised.size());
}

const char* FrameName(int frameType) {
    switch (frameType) {
        case kFrameSingleChar: return "ack";
        case kFrameShort: return "short";
        case kFrameControl: return "control";
        case kFrameLong: return "long";
        case kFrameA2: return "a2";
        case 255: return "none";
        default: return "fault";
    }
}

// Structure kinds whose answers carry a meter's header.
bool HasMeterHeader(int structureKind) { return structureKind >= 0 && structureKind <= static_cast<int>(kVariableMsbFirst); }

// The error code of an application error answer: the byte behind CI 70h
// (an answer without it reports code 0, unspecified).
int ApplicationErrorCode(const MBTelegram& t) {
    if (t.telegram.empty()) return 0;
    const std::size_t at = t.telegram[0] == 0x68 ? 7 : 9;  // behind the CI (two more in an extended frame)
    return at + 2 < t.telegram.size() ? t.telegram[at] : 0;
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view utf8) {
    Sink s(out);
    PutString(s, utf8);
}

void AppendAnswerJson(std::string& out, const AnswerView& v) {
    Sink s(out);
    s.Put('{');
    Field(s, "frameType", v.frameType);
    Field(s, "structureKind", v.structureKind);
    Field(s, "received", v.received);
    Field(s, "frame", std::string_view(FrameName(v.frameType)));
    const bool singleCharacter = v.frameType == kFrameSingleChar || v.frameType == kFrameA2;
    if (!singleCharacter) {
        Field(s, "c", v.C);
        Field(s, "a", v.A);
        Field(s, "ci", v.CI);
    }
    const MBTelegram* t = v.telegram;
    if (t && v.structureKind == kApplicationError && v.frameType == kFrameLong) {
        const int code = ApplicationErrorCode(*t);
        s.Lit("\"applicationError\":{\"code\":");
        PutInt(s, code);
        s.Lit(",\"text\":");
        PutString(s, ApplicationErrorText(code));
        s.Lit("},");
    }
    if (t && HasMeterHeader(v.structureKind)) {
        char id[8];
        for (int i = 0; i < 8; ++i) id[i] = HTATab[(static_cast<uint32_t>(t->identNumber) >> (28 - 4 * i)) & 0x0F];
        Field(s, "identNumber", std::string_view(id, 8));
        Key(s, "manufacturer");
        PutString(s, std::string_view(t->manufacturerText, strnlen(t->manufacturerText, sizeof t->manufacturerText)),
                  text::CodePage::Windows1252);
        s.Put(',');
        Field(s, "manufacturerId", t->manufacturer);
        Field(s, "version", t->version);
        Field(s, "medium", t->medium);
        Key(s, "mediumText");
        PutString(s, std::string_view(t->mediumText, strnlen(t->mediumText, sizeof t->mediumText)),
                  CodePageOfLanguage(t->mediumTextLanguage));
        s.Put(',');
        Field(s, "accessNumber", t->accessNumber);
        Field(s, "status", t->status);
        Field(s, "signature", t->signature);
        Field(s, "accessDemand", t->accessDemand);
        Field(s, "moreRecordsFollow", t->moreRecordsFollow);
        Field(s, "fabricationNumber", t->fabricationNumber);
        Field(s, "customer", t->customer);
        Field(s, "customerLocation", t->customerLocation);
    }
    // What the record walk found wrong without giving up; always present.
    s.Lit("\"warnings\":[");
    if (t) {
        for (std::size_t i = 0; i < t->warnings.size(); ++i) {
            if (i) s.Put(',');
            PutString(s, t->warnings[i]);
        }
    }
    s.Lit("],\"records\":[");
    if (t && !singleCharacter) {
        for (std::size_t i = 0; i < t->records.size(); ++i) {
            if (i) s.Put(',');
            PutRecord(s, *t, t->records[i]);
        }
    }
    s.Lit("]}");
}

}  // namespace mbus
