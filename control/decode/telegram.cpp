// Header decoding and the data-record walk of an answer.

#include "control/decode/telegram.h"

#include <algorithm>
#include <cstring>

#include "control/decode/layer7.h"
#include "control/decode/options.h"

using namespace mbus;

namespace {

// Bytes of the chain that starts at `p`: the byte at p and every byte after
// it while its predecessor has the extension bit (7) set.
bool HasExtension(uint8_t b) { return (b & 0x80) != 0; }

// True when a VIFE of the VIB is an error code (bits 0..6 below 20h). After
// FBh, FDh and FEh the first byte is an extension code and is not tested;
// after FFh everything is manufacturer-specific.
bool HasErrorVIFE(const MBDataRecord& rec) {
    const uint8_t* vib = rec.VIB();
    if (rec.vibLength < 2) return false;
    const uint8_t vif = vib[0];
    if (vif == 0xFF) return false;
    int first = 1;
    int last = rec.vibLength - 1;
    if (rec.IsPlainTextVIB()) {
        first = vib[1] + 3;          // behind VIF, length, text and its zero
        last = rec.vibLength;        // the length does not count the zero
    } else if (vif == 0xFB || vif == 0xFD || vif == 0xFE) {
        first = 2;
    }
    for (int i = first; i <= last && i < rec.VIBCapacity(); ++i)
        if ((vib[i] & 0x7F) < 0x20) return true;
    return false;
}

// Where the parts of a plain-text VIB stand in the telegram for one layout:
// VIF, VIFE chain, length byte, text (VIFEs before the text), or VIF, length
// byte, text, VIFE chain (VIFEs behind the text).
struct PlainTextParts {
    int textBegin = 0;      // first text byte
    int textLength = 0;     // text bytes, as announced by the length byte
    int vifeBegin = 0;      // the VIFE chain: [vifeBegin, vifeEnd)
    int vifeEnd = 0;
    int next = 0;           // first byte behind the VIB
    bool complete = false;  // length byte, text and VIFE chain all lie before the end
    bool errorVIFE = false; // a VIFE is an error code (bits 0..6 below 20h)
};

// Lays out the plain-text VIB whose VIF stands at `vif`, reading nothing at
// or beyond `end` (the checksum).
PlainTextParts LayOutPlainText(const uint8_t* data, int vif, int end, bool vifesAfterText) {
    PlainTextParts t;
    const bool chain = HasExtension(data[vif]);
    // One past the VIFE chain that starts at `q`, or -1 when it runs to the end.
    auto chainEnd = [&](int q) {
        if (!chain) return q;
        while (q < end) {
            const uint8_t b = data[q++];
            if ((b & 0x7F) < 0x20) t.errorVIFE = true;
            if (!HasExtension(b)) return q;
        }
        return -1;
    };
    int q = vif + 1;
    if (!vifesAfterText) {
        t.vifeBegin = q;
        q = t.vifeEnd = chainEnd(q);
        if (q < 0) return t;
    }
    if (q >= end) return t;
    t.textLength = data[q];
    t.textBegin = q + 1;
    q = t.textBegin + t.textLength;
    if (q > end) return t;
    if (vifesAfterText) {
        t.vifeBegin = q;
        q = t.vifeEnd = chainEnd(q);
        if (q < 0) return t;
    }
    t.next = q;
    t.complete = true;
    return t;
}

// Value bytes of a record whose value starts at `pos` (LVAR included), or
// -1 for a reserved LVAR; a missing LVAR byte counts as one byte needed.
int ValueBytesAt(const uint8_t* data, int pos, int end, uint8_t dif) {
    if ((dif & 0x0F) == 0x0D && pos >= end) return 1;
    return MBTelegram::ReturnNumberOfValueBytes(dif, pos < end ? data[pos] : 0);
}

// The layout of a plain-text VIB: the configured one, unless it cannot be
// right (text or VIFE chain past the end, or no room for the value behind
// them) and the other one can; `swapped` tells which was taken. Meters send
// either layout, so the configured one alone would lose every later record.
PlainTextParts ChoosePlainText(const uint8_t* data, int vif, int end, uint8_t dif, bool vifesAfterText,
                               bool valueAfterError, bool* swapped) {
    auto fits = [&](const PlainTextParts& t) {
        if (!t.complete) return false;
        if (!valueAfterError && t.errorVIFE) return true;
        const int n = ValueBytesAt(data, t.next, end, dif);
        return n < 0 || t.next + n <= end;
    };
    *swapped = false;
    const PlainTextParts configured = LayOutPlainText(data, vif, end, vifesAfterText);
    if (fits(configured)) return configured;
    const PlainTextParts other = LayOutPlainText(data, vif, end, !vifesAfterText);
    if (!fits(other)) return configured;
    *swapped = true;
    return other;
}

std::string ByteCount(int n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

// Walks the records of a variable-structure frame as far as they fit and
// returns their number; with `warnings`, adds a text for every problem the
// walk gets past or stops at.
int CountRecords(const uint8_t* data, int length, std::vector<std::string>* warnings) {
    if (data == nullptr) return 0;
    int ciPos = (length > 0 && data[0] == 0x68) ? 6 : 8;
    if (length <= ciPos) return 0;
    const uint8_t ci = data[ciPos];
    int pos = ciPos + ((ci == 0x78) ? 1 : (ci == 0x7A) ? 5 : 13);
    const int end = length - 2;
    const bool valueAfterError = Option(MBusOption.OPTValueAfterErrorVIFE) != 0;
    const bool vifesAfterText = Option(MBusOption.plainTextVIFEsAfterText) != 0;
    int count = 0;
    // Texts are built only when asked for and something is wrong.
    auto warn = [&](auto&& text) {
        if (warnings != nullptr) warnings->push_back("record " + std::to_string(count + 1) + ": " + text());
    };
    while (pos < end) {
        const uint8_t dif = data[pos];
        if (dif == 0x0F || dif == 0x1F) { ++count; break; }
        if (dif == 0x7F) {
            ++count;
            if (warnings != nullptr && pos + 1 < end)
                warnings->push_back(ByteCount(end - pos - 1) + " left over after the last record");
            break;
        }
        if (dif == 0x2F) { ++count; ++pos; continue; }
        // DIF and its DIFEs; an eleventh DIFE ends the record (no value) and
        // starts the next one, as in the record interpretation.
        int ext = 0;
        while (ext < kMaxExtensions && pos < end && HasExtension(data[pos])) { ++pos; ++ext; }
        if (pos >= end) {
            warn([] { return "DIFE chain runs past the end of the data"; });
            break;
        }
        if (HasExtension(data[pos])) {
            warn([] { return "more than " + std::to_string(kMaxExtensions) + " DIFEs; the record has no value"; });
            ++count;
            ++pos;
            continue;
        }
        ++pos;  // the VIF
        if (pos >= end) {
            warn([] { return "no VIF before the end of the data"; });
            break;
        }
        const uint8_t vif = data[pos];
        bool errorVIFE = false;
        if ((vif & 0x7F) == 0x7C) {
            bool swapped = false;
            const PlainTextParts t =
                ChoosePlainText(data, pos, end, dif, vifesAfterText, valueAfterError, &swapped);
            if (!t.complete) {
                warn([] { return "plain-text unit runs past the end of the data"; });
                break;
            }
            if (swapped) {
                warn([&] {
                    return std::string("plain-text unit read with its VIFEs ") +
                           (vifesAfterText ? "before" : "behind") + " the text (the set layout does not fit)";
                });
            }
            errorVIFE = t.errorVIFE;
            pos = t.next;
        } else {
            int index = 0;
            ext = 0;
            while (ext < kMaxExtensions && pos < end && HasExtension(data[pos])) {
                ++pos;
                ++ext;
                ++index;
                const bool extensionCode = (index == 1 && (vif == 0xFB || vif == 0xFD || vif == 0xFE));
                if (vif != 0xFF && !extensionCode && pos < end && (data[pos] & 0x7F) < 0x20) errorVIFE = true;
            }
            if (pos >= end) {
                warn([] { return "VIFE chain runs past the end of the data"; });
                break;
            }
            if (HasExtension(data[pos])) {
                warn([] { return "more than " + std::to_string(kMaxExtensions) + " VIFEs; the record has no value"; });
                ++count;
                ++pos;
                continue;
            }
            ++pos;  // first value byte
        }
        int n = 0;
        if (valueAfterError || !errorVIFE) {
            n = ValueBytesAt(data, pos, end, dif);
            if (n < 0) {
                // Reserved LVAR: the length is unknown, the walk ends here.
                warn([&] {
                    static const char* kHex = "0123456789ABCDEF";
                    return std::string("reserved LVAR ") + kHex[data[pos] >> 4] + kHex[data[pos] & 0x0F] +
                           "h; the walk ends here, " + ByteCount(end - pos - 1) + " not decoded";
                });
                ++count;
                break;
            }
        }
        if (pos + n > end) {
            warn([&] {
                return "value runs past the end of the data (needs " + ByteCount(n) + ", " +
                       std::to_string(end - pos) + " left)";
            });
            break;
        }
        pos += n;
        ++count;
    }
    return count;
}

// Reads `n` bytes at `p` as an unsigned number, least or most significant first.
uint32_t ReadWord(const uint8_t* data, int p, int n, bool lsbFirst) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
        const uint8_t b = lsbFirst ? data[p + n - 1 - i] : data[p + i];
        v = (v << 8) | b;
    }
    return v;
}

}  // namespace

uint8_t* MBDataRecord::MakePlainTextVIB() {
    vibPlain = std::make_unique<uint8_t[]>(kVIBPlainText);
    std::memset(vibPlain.get(), 0, kVIBPlainText);
    return vibPlain.get();
}

void MBDataRecord::Clear() {
    specialDIF = dataField = functionField = 0;
    storageNumber = 0;
    tariff = subunit = 0;
    vibLength = 0;
    value = 0;
    realValue = 0.0f;
    hasValueText = false;
    valueText.clear();
    valueTextLength = 0;
    vibReceived.clear();
    vibInline.fill(0);
    vibPlain.reset();
}

MBTelegram::MBTelegram() = default;
MBTelegram::~MBTelegram() = default;

void MBTelegram::ExtractManufacturer(uint16_t number, char* text) { mbus::ExtractManufacturer(number, text); }
void MBTelegram::ExtractMedium(int variable, uint8_t code, char* text) { mbus::ExtractMedium(variable, code, text); }

void MBTelegram::Reset() {
    structureKind = kNothing;
    identNumber = manufacturer = version = medium = accessNumber = status = 0;
    signature = 0;
    moreRecordsFollow = accessDemand = 0;
    std::memcpy(manufacturerText, "UNK", 4);
    telegram.clear();
    warnings.clear();
    // The records stay until the answer's own count is known (InitDStruct),
    // so that their memory is reused; InterpretAnswer empties them on every
    // path that decodes none.
}

void MBTelegram::InitDStruct(int count) {
    const std::size_t before = SizeRecords(count);
    const std::size_t kept = std::min(before, records.size());
    for (std::size_t i = 0; i < kept; ++i) records[i].Clear();
}

std::size_t MBTelegram::SizeRecords(int count) {
    // Records are reused: the array keeps its memory from answer to answer.
    const std::size_t before = records.size();
    records.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    recordsSet_ = true;
    return before;
}

int MBTelegram::InterpretAnswer(int frameType_, uint8_t C, uint8_t A, uint8_t CI, const uint8_t* data, int length) {
    Reset();
    recordsSet_ = false;
    mediumSet_ = false;
    const int result = Interpret(frameType_, C, A, CI, data, length);
    if (!recordsSet_) InitDStruct(0);
    if (!mediumSet_) {
        // No header named a medium: the text of "unknown".
        mediumTextLanguage = CurrentLanguage();
        mbus::ExtractMedium(1, 0x0F, mediumText);
    }
    return result;
}

int MBTelegram::Interpret(int frameType_, uint8_t C, uint8_t A, uint8_t CI, const uint8_t* data, int length) {
    frameType = frameType_;
    cField = C;
    aField = A;
    ciField = CI;
    if (data == nullptr || length < 1) return 0;
    telegram.assign(data, data + length);
    data = telegram.data();

    if (frameType == kFrameSingleChar || frameType == kFrameA2) {
        structureKind = kSingleCharacter;
        return 1;
    }
    if (frameType != kFrameLong) return 0;

    // The extended long frame moves every position by two. The user data
    // lies between the CI field and the checksum.
    const int shift = (data[0] == 0x68) ? 0 : 2;
    const int userData = length - 2 - (7 + shift);
    switch (CI) {
        case 0x70: structureKind = kApplicationError; return 0;
        case 0x71: structureKind = kAlarm; return 0;
        case 0x72:
        case 0x76:
        case 0x78:
        case 0x7A: {
            const int header = (CI == 0x78) ? 0 : (CI == 0x7A) ? 4 : 12;
            if (userData < header) return ShortHeader(CI, userData, header);
            InterpretVariableHeader(data, length, CI);
            break;
        }
        case 0x73:
        case 0x77:
            // The header and at least the start of the first counter.
            if (userData < 10) return ShortHeader(CI, userData, 10);
            InterpretFixed(data + shift, length - shift, CI);
            return 0;
        default: return 0;
    }

    const int n = CountRecords(data, length, &warnings);
    SizeRecords(n);  // InterpretVarDataRecord clears each record it fills
    int position = (CI == 0x78) ? 7 : (CI == 0x7A) ? 11 : 19;
    if (data[0] != 0x68) position += 2;
    for (int i = 0; i < n; ++i) InterpretVarDataRecord(CI != 0x76, data, length, &position, i);
    return ((C & ~0x30u) == 0x08) ? 1 : 0;
}

int MBTelegram::ShortHeader(uint8_t CI, int userData, int needed) {
    static const char* kHex = "0123456789ABCDEF";
    warnings.push_back(std::string("user data too short for the header of CI ") + kHex[CI >> 4] + kHex[CI & 0x0F] +
                       "h (" + ByteCount(std::max(0, userData)) + ", needs " + std::to_string(needed) +
                       "); no header fields and no records");
    return kDecodeShortHeader;
}

void MBTelegram::InterpretVariableHeader(const uint8_t* data, int length, uint8_t CI) {
    // The extended long frame (first byte not 68h) has two-byte length fields.
    const int s = (data[0] == 0x68) ? 0 : 2;
    if (cField & 0x20) accessDemand = 1;
    structureKind = (CI == 0x76) ? kVariableMsbFirst : kVariableLsbFirst;
    auto at = [&](int p) -> uint8_t { return p < length ? data[p] : 0; };
    if (CI == 0x72 || CI == 0x76) {
        identNumber = static_cast<int32_t>(at(7 + s) | at(8 + s) << 8 | at(9 + s) << 16 |
                                           static_cast<uint32_t>(at(10 + s)) << 24);
        manufacturer = at(11 + s) | at(12 + s) << 8;
        version = at(13 + s);
        medium = at(14 + s);
        accessNumber = at(15 + s);
        status = at(16 + s);
        signature = static_cast<uint32_t>(at(17 + s) | at(18 + s) << 8);
    } else if (CI == 0x78) {
        manufacturer = kManufacturerUNK;
    } else {  // 7Ah: short header
        manufacturer = kManufacturerUNK;
        accessNumber = at(7 + s);
        status = at(8 + s);
        signature = static_cast<uint32_t>(at(9 + s) | at(10 + s) << 8);
    }
    mbus::ExtractManufacturer(static_cast<uint16_t>(manufacturer), manufacturerText);
    mediumTextLanguage = CurrentLanguage();
    mbus::ExtractMedium(1, static_cast<uint8_t>(medium), mediumText);
    mediumSet_ = true;
}

// `data` starts two bytes late in an extended long frame, so that the
// positions below hold for both frame kinds.
void MBTelegram::InterpretFixed(const uint8_t* data, int length, uint8_t CI) {
    const bool lsb = (CI == 0x73);
    if (cField & 0x20) accessDemand = 1;
    structureKind = lsb ? kFixedLsbFirst : kFixedMsbFirst;
    identNumber = static_cast<int32_t>(ReadWord(data, 7, 4, lsb));
    manufacturer = kManufacturerFIX;
    version = 0;
    accessNumber = data[11];
    status = data[12];
    signature = static_cast<uint32_t>(data[13] | data[14] << 8);
    medium = ((data[14] >> 6) & 3) * 4 + ((data[13] >> 6) & 3);
    std::memcpy(manufacturerText, "FIX", 4);
    mediumTextLanguage = CurrentLanguage();
    mbus::ExtractMedium(0, static_cast<uint8_t>(medium), mediumText);
    mediumSet_ = true;

    // A telegram of 19 to 24 bytes has a header but incomplete counters: only
    // the counters whose four bytes (and the checksum behind them) are there.
    InitDStruct(length == 25 ? 2 : 3);
    const bool binary = (status & 0x01) != 0;
    const bool withoutMultiplier = Option(MBusOption.OPTOnlyVIFUnitsWithoutMultiplier) != 0;
    int64_t multiplier1 = 1;
    for (int counter = 0; counter < 2; ++counter) {
        MBDataRecord& rec = records[static_cast<std::size_t>(counter)];
        const int unitByte = 13 + counter;
        const int valuePos = 15 + 4 * counter;
        uint8_t unit = data[unitByte] & 0x3F;
        rec.VIB()[0] = unit;
        rec.vibLength = 1;
        rec.dataField = binary ? 0x04 : 0x0C;
        if (valuePos + 4 > length - 2) continue;  // counter not (completely) in the telegram
        const uint32_t raw = ReadWord(data, valuePos, 4, lsb);
        int64_t v;
        if (binary) {
            v = static_cast<int32_t>(raw);
        } else {
            v = 0;
            for (int digit = 7; digit >= 0; --digit) v = v * 10 + ((raw >> (4 * digit)) & 0x0F);
        }
        if (withoutMultiplier) {
            int64_t m;
            if (counter == 1 && unit == 0x3E) {
                m = multiplier1;  // "historic": same unit as counter 1
            } else {
                m = VIBMultiplierCheck(unit, 0, static_cast<int>(structureKind));
                if (m == 10) unit = static_cast<uint8_t>(unit - 1);
                if (m == 100) unit = static_cast<uint8_t>(unit - 2);
            }
            if (counter == 0) multiplier1 = m;
            v *= m;
            rec.VIB()[0] = unit;
        }
        rec.value = v;
        rec.valueText = std::to_string(v);
        rec.valueTextLength = static_cast<int32_t>(rec.valueText.size());
        rec.hasValueText = true;
    }
    if (records.size() == 3) {
        // Everything between the counters and the checksum, kept raw.
        MBDataRecord& rest = records[2];
        rest.specialDIF = 0x0F;
        rest.dataField = 0x0F;
        const int n = std::max(0, length - 25);
        rest.valueText.assign(reinterpret_cast<const char*>(data) + std::min(23, length), static_cast<std::size_t>(n));
        rest.valueTextLength = n;
        rest.hasValueText = true;
    }
}

int MBTelegram::CountDataRecordsInRSPUD(const uint8_t* data, int length) {
    return CountRecords(data, length, nullptr);
}

[[gnu::always_inline]] inline void MBTelegram::ExtractValue(int lsbFirst, MBDataRecord& rec, const uint8_t* data, int length, int* position) {
    if (lsbFirst)
        ExtractValueM1(rec.dataField, data, length, position, &rec.value, &rec.realValue, &rec.valueText,
                       &rec.valueTextLength, &rec.hasValueText);
    else
        ExtractValueM2(rec.dataField, data, length, position, &rec.value, &rec.realValue, &rec.valueText,
                       &rec.valueTextLength, &rec.hasValueText);
}

void MBTelegram::InterpretVarDataRecord(int lsbFirst, const uint8_t* data, int length, int* position, int index) {
    if (index < 0 || index >= RecordCount()) return;
    MBDataRecord& rec = records[static_cast<std::size_t>(index)];
    rec.Clear();
    int p = *position;
    if (p < 0 || p >= length - 2) return;
    const uint8_t dif = data[p];

    if (dif == 0x0F || dif == 0x1F) {
        if (dif == 0x1F) moreRecordsFollow = 1;
        rec.specialDIF = dif;
        rec.dataField = 0x0F;
        const int n = length - p - 3;
        rec.valueText.assign(reinterpret_cast<const char*>(data) + p + 1, static_cast<std::size_t>(n));
        rec.valueTextLength = n;
        rec.hasValueText = true;
        *position = p + 1 + n;
        return;
    }
    if (dif == 0x2F || dif == 0x7F) {
        rec.specialDIF = dif;
        *position = p + 1;
        return;
    }

    rec.dataField = dif & 0x0F;
    rec.functionField = (dif >> 4) & 0x03;
    rec.storageNumber = (dif >> 6) & 0x01;
    for (int k = 0; k < kMaxExtensions && p < length - 3 && HasExtension(data[p]); ++k) {
        const uint8_t dife = data[++p];
        rec.storageNumber |= static_cast<int64_t>(dife & 0x0F) << (1 + 4 * k);
        rec.tariff |= ((dife >> 4) & 0x03) << (2 * k);
        rec.subunit |= ((dife >> 6) & 0x01) << k;
    }
    if (p >= length - 3) { *position = p; return; }
    if (HasExtension(data[p])) { *position = p + 1; return; }  // eleventh DIFE

    ++p;  // the VIF
    if (p >= length - 2) { *position = p; return; }
    const uint8_t vif = data[p];

    if ((vif & 0x7F) == 0x7C) {
        // Plain-text unit, stored as VIF, length n, the text (reversed on the
        // line when least significant byte first), a zero, then the VIFEs,
        // whichever layout it arrived in.
        const int end = length - 2;
        bool swapped = false;
        const PlainTextParts t =
            ChoosePlainText(data, p, end, dif, Option(MBusOption.plainTextVIFEsAfterText) != 0,
                            Option(MBusOption.OPTValueAfterErrorVIFE) != 0, &swapped);
        uint8_t* vib = rec.MakePlainTextVIB();
        vib[0] = vif;
        if (!t.complete) {
            // Runs past the data: the record keeps an empty text and no value.
            rec.vibLength = 2;
            rec.vibReceived.assign(data + p, data + end);
            *position = end;
            return;
        }
        const int n = t.textLength;  // at most 255: fits the 260-byte array
        vib[1] = static_cast<uint8_t>(n);
        const uint8_t* text = data + t.textBegin;
        if (lsbFirst)
            std::reverse_copy(text, text + n, vib + 2);
        else
            std::memcpy(vib + 2, text, static_cast<std::size_t>(n));
        vib[2 + n] = 0;
        const int keep = std::min(t.vifeEnd - t.vifeBegin, kVIBPlainText - (n + 3));
        std::memcpy(vib + n + 3, data + t.vifeBegin, static_cast<std::size_t>(keep));
        rec.vibLength = n + 2 + keep;
        rec.vibReceived.assign(data + p, data + t.next);
        p = t.next - 1;  // on the last byte of the VIB
        if (p >= length - 3) { *position = p; return; }
    } else {
        uint8_t* vib = rec.VIB();
        vib[0] = vif;
        const int vifPos = p;
        int k = 0;
        for (; k < kMaxExtensions && p < length - 3 && HasExtension(data[p]); ++k) vib[1 + k] = data[++p];
        rec.vibLength = 1 + k;
        rec.vibReceived.assign(data + vifPos, data + p + 1);
        if (p >= length - 3) { *position = p; return; }
        if (HasExtension(data[p])) { *position = p + 1; return; }  // eleventh VIFE
    }

    ++p;  // first value byte
    if (Option(MBusOption.OPTValueAfterErrorVIFE) == 0 && HasErrorVIFE(rec)) {
        *position = p;
        return;
    }

    int64_t m = 1;
    const int df = rec.dataField;
    if (Option(MBusOption.OPTOnlyVIFUnitsWithoutMultiplier) != 0 && df != 0 && df != 8 && df != 0x0D && df != 0x0F) {
        uint8_t* vib = rec.VIB();
        m = VIBMultiplierCheck(vib[0], rec.IsPlainTextVIB() ? 0 : vib[1], 1);
        const uint8_t lower = (m == 10) ? 1 : (m == 100) ? 2 : 0;
        if (lower != 0) {
            if ((vib[0] & 0x7F) < 0x7B) vib[0] = static_cast<uint8_t>(vib[0] - lower);
            else if (vib[0] == 0xFB || vib[0] == 0xFD) vib[1] = static_cast<uint8_t>(vib[1] - lower);
        }
    }
    rec.value = m;
    ExtractValue(lsbFirst, rec, data, length, &p);

    const uint8_t* vib = rec.VIB();
    const std::size_t textLen = rec.valueText.size();
    if (rec.hasValueText && df == 0x0E && vib[0] == 0xFD && rec.vibLength >= 2 && textLen < 13) {
        if (vib[1] == 0x10) std::memcpy(customerLocation, rec.valueText.c_str(), textLen + 1);
        if (vib[1] == 0x11) std::memcpy(customer, rec.valueText.c_str(), textLen + 1);
    }
    if (rec.hasValueText && df == 0x0C && vib[0] == 0x78 && textLen < 9)
        std::memcpy(fabricationNumber, rec.valueText.c_str(), textLen + 1);

    // Date and time records get their value text rewritten as a calendar date.
    bool isDate = vif == 0x6C || vif == 0x6D || vif == 0xEC || vif == 0xED ||
                  (vif == 0xFD && rec.vibLength >= 2 && (vib[1] & 0x7F) == 0x30);
    if (!isDate && !rec.IsPlainTextVIB() && (vif & 0x7F) != 0x7E && (vif & 0x7F) != 0x7F) {
        const int first = (vif == 0xFB || vif == 0xFD) ? 2 : 1;
        for (int i = first; i < rec.vibLength; ++i) {
            const uint8_t e = vib[i];
            if ((e & 0x72) == 0x42 || (e & 0x7A) == 0x6A || e == 0x39) { isDate = true; break; }
        }
    }
    if (isDate) IntToTime(index);
    *position = p;
}

int MBTelegram::IsStartOfDR(int position) const {
    const int length = TelegramLength();
    if (length == 0) return 0;
    const uint8_t* data = telegram.data();
    if (position == length - 2) return 1;
    if (structureKind == kFixedLsbFirst || structureKind == kFixedMsbFirst) {
        const int shift = (data[0] == 0x68) ? 0 : 2;
        for (int start : {15, 19, 23})
            if (position == start + shift && position < length - 2) return 1;
        return 0;
    }
    if (structureKind != kVariableLsbFirst && structureKind != kVariableMsbFirst) return 0;
    // Replay the walk on a scratch telegram to find the record starts.
    MBTelegram scratch;
    const int n = scratch.CountDataRecordsInRSPUD(data, length);
    scratch.InitDStruct(n);
    int p = (ciField == 0x78) ? 7 : (ciField == 0x7A) ? 11 : 19;
    if (data[0] != 0x68) p += 2;
    for (int i = 0; i < n; ++i) {
        if (p == position) return 1;
        if (p < length) {
            const uint8_t dif = data[p];
            if (dif == 0x0F || dif == 0x1F || dif == 0x7F) return 0;
        }
        const int before = p;
        scratch.InterpretVarDataRecord(ciField != 0x76, data, length, &p, i);
        if (p == before) break;
    }
    return 0;
}
