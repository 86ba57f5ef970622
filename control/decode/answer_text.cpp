#include "control/decode/answer_text.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "control/decode/options.h"
#include "control/decode/text_tables.h"
#include "control/decode/vib.h"

namespace mbus {
namespace {

constexpr const char* kDataFieldNames[16] = {"-----", "INT1 ", "INT2 ", "INT3 ", "INT4 ", "REAL4",
                                             "INT6 ", "INT8 ", "Selct", "BCD2 ", "BCD4 ", "BCD6 ",
                                             "BCD8 ", "Vari ", "BCD12", "Spec "};
constexpr const char* kFunctionFieldNames[4] = {"Inst ", "Max  ", "Min  ", "Error"};

struct VariantInfo {
    const char* name;
    bool hex;
    enum Body { Names, Codes, Both, Normalised } body;
};
constexpr VariantInfo kVariants[] = {
    {"Hex", true, VariantInfo::Names},  {"Dec", false, VariantInfo::Names},
    {"Hex2", true, VariantInfo::Codes}, {"Dec2", false, VariantInfo::Codes},
    {"Hex3", true, VariantInfo::Both},  {"Dec3", false, VariantInfo::Both},
    {"Hex4", true, VariantInfo::Normalised}, {"Dec4", false, VariantInfo::Normalised},
};

// Number forms written through a pointer into a caller's buffer; each
// returns the position behind what it wrote.
// Two hexadecimal digits for every byte value.
struct HexPairs {
    char pair[256][2];
    constexpr HexPairs() : pair() {
        for (int b = 0; b < 256; ++b) {
            pair[b][0] = "0123456789ABCDEF"[b >> 4];
            pair[b][1] = "0123456789ABCDEF"[b & 0x0F];
        }
    }
};
constexpr HexPairs kHexPairs;

// `digits` (even) hexadecimal digits of v, most significant first.
char* PutHex(char* p, uint64_t v, int digits) {
    for (int i = digits - 2; i >= 0; i -= 2) {
        std::memcpy(p + i, kHexPairs.pair[v & 0xFF], 2);
        v >>= 8;
    }
    return p + digits;
}

// Decimal right-aligned with zeros to `digits` (wider numbers are kept whole).
char* PutDec(char* p, int64_t v, int digits) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    const char* first = buf;
    if (v < 0) {
        *p++ = '-';
        ++first;
    }
    const int n = static_cast<int>(r.ptr - first);
    for (int i = n; i < digits; ++i) *p++ = '0';
    std::memcpy(p, first, static_cast<std::size_t>(n));
    return p + n;
}

char* PutByte(char* p, unsigned b, bool hex) {
    if (hex) return PutHex(p, b & 0xFF, 2);
    b &= 0xFF;
    p[0] = static_cast<char>('0' + b / 100);
    p[1] = static_cast<char>('0' + b / 10 % 10);
    p[2] = static_cast<char>('0' + b % 10);
    return p + 3;
}

void AppendDec(std::string& out, int64_t v, int digits) {
    char buf[32];
    out.append(buf, static_cast<std::size_t>(PutDec(buf, v, digits) - buf));
}

void AppendByte(std::string& out, unsigned b, bool hex) {
    char buf[4];
    out.append(buf, static_cast<std::size_t>(PutByte(buf, b, hex) - buf));
}

// Bytes as h2 or d3 each, appended in blocks.
void AppendBytes(std::string& out, const uint8_t* bytes, std::size_t n, bool hex) {
    char buf[3 * 64];
    for (std::size_t i = 0; i < n;) {
        char* p = buf;
        for (std::size_t k = 0; k < 64 && i < n; ++k, ++i) p = PutByte(p, bytes[i], hex);
        out.append(buf, static_cast<std::size_t>(p - buf));
    }
}

void AppendScientific(std::string& out, double d) {
    char buf[48];
    const auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific, 6);
    out.append(buf, static_cast<std::size_t>(r.ptr - buf));
}

void AppendMediumText(std::string& out, const MBTelegram& t) {
    const std::size_t from = out.size();
    text::AppendUtf8(out, std::string_view(t.mediumText, strnlen(t.mediumText, sizeof t.mediumText)),
                     CodePageOfLanguage(t.mediumTextLanguage));
    for (std::size_t i = from; i < out.size(); ++i)
        if (out[i] == ' ') out[i] = '_';
}

void AppendDescription(std::string& out, const MBTelegram& t, const MBDataRecord& rec, bool normalised,
                       Normalised* n, int language) {
    char buf[1000];
    TextBuilder b(buf, sizeof buf);
    if (language < 0 || language >= kLanguages) language = CurrentLanguage();
    Normalised r;
    if (normalised) r = DescribeVIBNormalised(rec.VIB(), rec.vibLength, static_cast<int>(t.structureKind), language, b);
    else DescribeVIB(rec.VIB(), rec.vibLength, static_cast<int>(t.structureKind), language, b);
    if (n) *n = r;
    text::AppendUtf8(out, b.View(), CodePageOfLanguage(language));
}

void AppendValue(std::string& out, const MBDataRecord& rec, bool hex) {
    if (!rec.hasValueText) return;
    if (rec.dataField == 0x0F) {
        const std::string_view raw = rec.RawValue();
        AppendBytes(out, reinterpret_cast<const uint8_t*>(raw.data()), raw.size(), hex);
        return;
    }
    // Numbers and dates are ASCII, which every code page shares.
    const std::string& v = rec.valueText;
    if (std::all_of(v.begin(), v.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        out.append(v);
        return;
    }
    text::AppendUtf8(out, v, MeterTextPage());
}

void AppendNormalisedValue(std::string& out, const MBTelegram& t, const MBDataRecord& rec, bool hex) {
    if (!rec.hasValueText) return;
    if (rec.dataField == 0x0F) {
        AppendValue(out, rec, hex);
        return;
    }
    char buf[1000];
    TextBuilder b(buf, sizeof buf);
    const Normalised n =
        DescribeVIBNormalised(rec.VIB(), rec.vibLength, static_cast<int>(t.structureKind), CurrentLanguage(), b);
    if (n.quantityClass == kNoQuantityClass || rec.valueText.empty()) {
        AppendValue(out, rec, hex);
        return;
    }
    // A value text that is no number (BCD digits an error state left in it)
    // is shown as it is rather than as the number its first digits make.
    char* end = nullptr;
    const double value = std::strtod(rec.valueText.c_str(), &end);
    if (end == nullptr || *end != '\0') {
        AppendValue(out, rec, hex);
        return;
    }
    AppendScientific(out, value * n.factor);
}

void AppendHeader(std::string& out, const AnswerView& v, bool hex) {
    const MBTelegram& t = *v.telegram;
    char buf[64];
    char* p = buf;
    p = PutByte(p, static_cast<unsigned>(v.frameType), hex);
    p = PutByte(p, static_cast<unsigned>(v.structureKind), hex);
    p = PutByte(p, static_cast<unsigned>(v.received), hex);
    p = PutByte(p, t.cField, hex);
    p = PutByte(p, t.aField, hex);
    p = PutByte(p, t.ciField, hex);
    p = PutHex(p, static_cast<uint32_t>(t.identNumber), 8);
    std::memcpy(p, strnlen(t.manufacturerText, sizeof t.manufacturerText) == 3 ? t.manufacturerText : "XXX", 3);
    p += 3;
    p = PutByte(p, static_cast<unsigned>(t.version), hex);
    p = PutByte(p, static_cast<unsigned>(t.accessNumber), hex);
    p = PutByte(p, static_cast<unsigned>(t.status), hex);
    p = hex ? PutHex(p, t.signature & 0xFFFF, 4) : PutDec(p, t.signature & 0xFFFF, 5);
    p = PutByte(p, static_cast<unsigned>(t.medium), hex);
    out.append(buf, static_cast<std::size_t>(p - buf));
    AppendMediumText(out, t);
    out += '|';
}

// Subunit, tariff and storage number, then (for the code variants) the
// data and function fields.
char* PutAddressing(char* p, const MBDataRecord& rec, bool hex, bool codes) {
    if (hex && (rec.subunit | rec.tariff) == 0 && rec.storageNumber == 0) {
        // Most records are current values: 32 zeros at once.
        std::memset(p, '0', 32);
        p += 32;
    } else if (hex) {
        p = PutHex(p, static_cast<uint32_t>(rec.subunit), 8);
        p = PutHex(p, static_cast<uint32_t>(rec.tariff), 8);
        p = PutHex(p, static_cast<uint64_t>(rec.storageNumber), 16);
    } else {
        p = PutDec(p, rec.subunit, 10);
        p = PutDec(p, rec.tariff, 10);
        p = PutDec(p, rec.storageNumber, 16);
    }
    if (codes) {
        p = PutByte(p, static_cast<unsigned>(rec.dataField), hex);
        p = PutByte(p, static_cast<unsigned>(rec.functionField), hex);
    }
    return p;
}

char* PutVIBBytes(char* p, const MBDataRecord& rec, bool hex) {
    const int n = rec.vibLength < rec.VIBCapacity() ? rec.vibLength : rec.VIBCapacity();
    const uint8_t* vib = rec.VIB();
    for (int i = 0; i < n; ++i) p = PutByte(p, vib[i], hex);
    return p;
}

// Room for the addressing fields, the codes and a full plain-text VIB.
constexpr std::size_t kRecordHeadRoom = 64 + 3 * kVIBPlainText;

void AppendRecord(std::string& out, const MBTelegram& t, const MBDataRecord& rec, const VariantInfo& info) {
    const bool hex = info.hex;
    char buf[kRecordHeadRoom];
    char* p = PutAddressing(buf, rec, hex, info.body == VariantInfo::Codes || info.body == VariantInfo::Both);
    switch (info.body) {
        case VariantInfo::Names:
            std::memcpy(p, DataFieldName(rec.dataField).data(), 5);
            std::memcpy(p + 5, FunctionFieldName(rec.functionField).data(), 5);
            out.append(buf, static_cast<std::size_t>(p + 10 - buf));
            AppendDescription(out, t, rec, false, nullptr, -1);
            out += '|';
            AppendValue(out, rec, hex);
            break;
        case VariantInfo::Codes:
            p = PutVIBBytes(p, rec, hex);
            *p++ = '|';
            out.append(buf, static_cast<std::size_t>(p - buf));
            AppendValue(out, rec, hex);
            break;
        case VariantInfo::Both:
            out.append(buf, static_cast<std::size_t>(p - buf));
            AppendDescription(out, t, rec, false, nullptr, -1);
            out += '|';
            p = PutVIBBytes(buf, rec, hex);
            *p++ = '|';
            out.append(buf, static_cast<std::size_t>(p - buf));
            AppendValue(out, rec, hex);
            break;
        case VariantInfo::Normalised:
            std::memcpy(p, FunctionFieldName(rec.functionField).data(), 5);
            out.append(buf, static_cast<std::size_t>(p + 5 - buf));
            AppendDescription(out, t, rec, true, nullptr, -1);
            out += '|';
            AppendNormalisedValue(out, t, rec, hex);
            break;
    }
    out += '|';
}

// The record of a 1-based number, or null.
const MBDataRecord* Record(const AnswerView& v, int dr) {
    if (v.frameType != kFrameLong || v.telegram == nullptr) return nullptr;
    if (dr < 1 || dr > v.telegram->RecordCount()) return nullptr;
    return &v.telegram->records[static_cast<std::size_t>(dr - 1)];
}

// The header of a long-frame answer, or null.
const MBTelegram* Header(const AnswerView& v) { return v.frameType == kFrameLong ? v.telegram : nullptr; }

}  // namespace

text::CodePage MeterTextPage() {
    const text::CodePage p = CodePageOfLanguage(CurrentLanguage());
    return p == text::CodePage::Utf8 ? text::CodePage::Windows1252 : p;
}

AnswerView AnswerView::Of(const MBTelegram& t, int received) {
    AnswerView v;
    v.frameType = t.frameType;
    v.structureKind = static_cast<int>(t.structureKind);
    v.received = received;
    v.C = static_cast<int>(t.cField);
    v.A = static_cast<int>(t.aField);
    v.CI = static_cast<int>(t.ciField);
    v.telegram = &t;
    v.frame = std::span<const uint8_t>(t.telegram.data(), t.telegram.size());
    return v;
}

const char* CookedVariantName(CookedVariant v) { return kVariants[static_cast<int>(v)].name; }

bool ParseCookedVariant(std::string_view name, CookedVariant* v) {
    for (CookedVariant c : kAllCookedVariants) {
        const std::string_view n = CookedVariantName(c);
        if (n.size() != name.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < n.size() && same; ++i)
            same = (n[i] | 0x20) == (name[i] | 0x20);
        if (same) {
            *v = c;
            return true;
        }
    }
    return false;
}

std::string_view DataFieldName(int dataField) {
    return (dataField >= 0 && dataField < 16) ? kDataFieldNames[dataField] : "Unknw";
}

std::string_view FunctionFieldName(int functionField) {
    return (functionField >= 0 && functionField < 4) ? kFunctionFieldNames[functionField] : "Unknw";
}

void AppendCooked(std::string& out, const AnswerView& view, CookedVariant variant) {
    const VariantInfo& info = kVariants[static_cast<int>(variant)];
    AppendHeader(out, view, info.hex);
    for (const MBDataRecord& rec : view.telegram->records) AppendRecord(out, *view.telegram, rec, info);
}

std::string CookedData(const AnswerView& view, CookedVariant variant) {
    std::string out;
    if (view.frameType == 255 || view.telegram == nullptr) return out;
    out.reserve(64 + 48 * view.telegram->records.size());
    AppendCooked(out, view, variant);
    return out;
}

std::string RawData(const AnswerView& view, bool hex) {
    std::string out;
    if (view.frameType == 255) return out;
    for (int b : {view.frameType, view.structureKind, view.received, view.C, view.A, view.CI})
        AppendByte(out, static_cast<unsigned>(b), hex);
    for (uint8_t b : view.frame) AppendByte(out, b, hex);
    return out;
}

std::string RecordValue(const MBTelegram&, const MBDataRecord& rec, bool hex) {
    std::string out;
    AppendValue(out, rec, hex);
    return out;
}

std::string RecordValueNormalised(const MBTelegram& t, const MBDataRecord& rec, bool hex) {
    std::string out;
    AppendNormalisedValue(out, t, rec, hex);
    return out;
}

std::string RecordDescription(const MBTelegram& t, const MBDataRecord& rec, int language) {
    std::string out;
    AppendDescription(out, t, rec, false, nullptr, language);
    return out;
}

std::string RecordDescriptionNormalised(const MBTelegram& t, const MBDataRecord& rec, int* quantityClass,
                                        double* factor, int language) {
    std::string out;
    Normalised n;
    AppendDescription(out, t, rec, true, &n, language);
    if (quantityClass) *quantityClass = n.quantityClass;
    if (factor) *factor = n.factor;
    return out;
}

namespace answer {

int CField(const AnswerView& v) { return (v.frameType >= 1 && v.frameType <= 3) ? v.C : -1; }
int AField(const AnswerView& v) { return (v.frameType >= 1 && v.frameType <= 3) ? v.A : -1; }
int CIField(const AnswerView& v) { return (v.frameType == 2 || v.frameType == 3) ? v.CI : -1; }
int LongFrameType(const AnswerView& v) { return v.structureKind; }

int DeviceID(const AnswerView& v) {
    const MBTelegram* t = Header(v);
    return t ? t->identNumber : -1;
}

int DeviceIDDec(const AnswerView& v) {
    const MBTelegram* t = Header(v);
    if (!t) return -1;
    const auto id = static_cast<uint32_t>(t->identNumber);
    int64_t dec = 0;
    for (int digit = 7; digit >= 0; --digit) dec = dec * 10 + ((id >> (4 * digit)) & 0x0F);
    return static_cast<int>(dec);
}

int ManufacturerID(const AnswerView& v) {
    const MBTelegram* t = Header(v);
    return t ? t->manufacturer : -1;
}

std::string ManufacturerIDAsc(const AnswerView& v) {
    const MBTelegram* t = Header(v);
    return t ? std::string(t->manufacturerText, strnlen(t->manufacturerText, sizeof t->manufacturerText)) : std::string();
}

int GenerationNo(const AnswerView& v) {
    const MBTelegram* t = Header(v);
    return t ? t->version : -1;
}

int TransmissionCount(const AnswerView& v) {
    const MBTelegram* t = Header(v);
    return t ? t->accessNumber : -1;
}

int TelegramStatus(const AnswerView& v) {
    const MBTelegram* t = Header(v);
    return t ? t->status : -1;
}

int Signature(const AnswerView& v) {
    const MBTelegram* t = Header(v);
    return t ? static_cast<int>(t->signature) : -1;
}

int Medium(const AnswerView& v) {
    const MBTelegram* t = Header(v);
    return t ? t->medium : -1;
}

std::string MediumAsc(const AnswerView& v) {
    const MBTelegram* t = Header(v);
    std::string out;
    if (t) AppendMediumText(out, *t);
    return out;
}

int DataRecordNumber(const AnswerView& v) {
    const MBTelegram* t = Header(v);
    return t ? t->RecordCount() : -1;
}

int UnitNo(const AnswerView& v, int dr) {
    const MBDataRecord* r = Record(v, dr);
    return r ? r->subunit : -1;
}

int TariffNo(const AnswerView& v, int dr) {
    const MBDataRecord* r = Record(v, dr);
    return r ? r->tariff : -1;
}

int StorageNo(const AnswerView& v, int dr) {
    const MBDataRecord* r = Record(v, dr);
    return r ? static_cast<int>(static_cast<uint32_t>(r->storageNumber & 0xFFFFFFFF)) : -1;
}

std::string StorageNoAsc(const AnswerView& v, int dr) {
    const MBDataRecord* r = Record(v, dr);
    return r ? std::to_string(r->storageNumber) : std::string();
}

int DataField(const AnswerView& v, int dr) {
    const MBDataRecord* r = Record(v, dr);
    return r ? r->dataField : -1;
}

std::string DataFieldAsc(const AnswerView& v, int dr) {
    const MBDataRecord* r = Record(v, dr);
    return r ? std::string(DataFieldName(r->dataField)) : std::string();
}

int FunctionField(const AnswerView& v, int dr) {
    const MBDataRecord* r = Record(v, dr);
    return r ? r->functionField : -1;
}

std::string FunctionFieldAsc(const AnswerView& v, int dr) {
    const MBDataRecord* r = Record(v, dr);
    return r ? std::string(FunctionFieldName(r->functionField)) : std::string();
}

std::string VIBAsc(const AnswerView& v, int dr) {
    const MBDataRecord* r = Record(v, dr);
    return r ? RecordDescription(*v.telegram, *r) : std::string();
}

std::string VIBAsc4(const AnswerView& v, int dr) {
    const MBDataRecord* r = Record(v, dr);
    return r ? RecordDescriptionNormalised(*v.telegram, *r) : std::string();
}

std::string VIBUnitAsc(const AnswerView& v, int dr) { return std::string(UnitOf(VIBAsc(v, dr))); }
std::string VIBUnitAsc4(const AnswerView& v, int dr) { return std::string(UnitOf(VIBAsc4(v, dr))); }

std::string ValueDec(const AnswerView& v, int dr) {
    const MBDataRecord* r = Record(v, dr);
    return r ? RecordValue(*v.telegram, *r, false) : std::string();
}

std::string ValueHex(const AnswerView& v, int dr) {
    const MBDataRecord* r = Record(v, dr);
    return r ? RecordValue(*v.telegram, *r, true) : std::string();
}

std::string ValueDec4(const AnswerView& v, int dr) {
    const MBDataRecord* r = Record(v, dr);
    return r ? RecordValueNormalised(*v.telegram, *r, false) : std::string();
}

std::string ValueHex4(const AnswerView& v, int dr) {
    const MBDataRecord* r = Record(v, dr);
    return r ? RecordValueNormalised(*v.telegram, *r, true) : std::string();
}

namespace {
// The value bits of a record that has a value text and a numeric coding.
bool DateBits(const AnswerView& v, int dr, uint32_t* bits) {
    const MBDataRecord* r = Record(v, dr);
    if (!r || !r->hasValueText) return false;
    const int df = r->dataField;
    if (df == 5) {
        std::memcpy(bits, &r->realValue, sizeof *bits);
        return true;
    }
    if ((df >= 1 && df <= 7) || (df >= 9 && df <= 12) || df == 14) {
        *bits = static_cast<uint32_t>(r->value & 0xFFFFFFFF);
        return true;
    }
    return false;
}

void AppendDate(std::string& out, unsigned date) {
    const unsigned year = ((date >> 12) & 0x0F) * 8 + ((date >> 5) & 0x07);
    AppendDec(out, date & 0x1F, 2);
    out += '.';
    AppendDec(out, (date >> 8) & 0x0F, 2);
    out += '.';
    AppendDec(out, year, 2);
}
}  // namespace

std::string ValueDat(const AnswerView& v, int dr) {
    uint32_t bits;
    std::string out;
    if (DateBits(v, dr, &bits)) AppendDate(out, bits & 0xFFFF);
    return out;
}

std::string ValueDT(const AnswerView& v, int dr) {
    uint32_t bits;
    std::string out;
    if (!DateBits(v, dr, &bits)) return out;
    AppendDate(out, bits >> 16);
    out += ' ';
    AppendDec(out, (bits >> 8) & 0x1F, 2);
    out += ':';
    AppendDec(out, bits & 0x3F, 2);
    return out;
}

int VIB(const AnswerView& v, int dr, int vibByte) {
    const MBDataRecord* r = Record(v, dr);
    if (!r || vibByte < 1 || vibByte > r->vibLength || vibByte > r->VIBCapacity()) return -1;
    return r->VIB()[vibByte - 1];
}

}  // namespace answer
}  // namespace mbus
