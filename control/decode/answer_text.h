// Text forms of a decoded answer: the eight cooked variants, the raw texts,
// and the header and record accessors that hosts read one field at a time.
//
// All texts come back as UTF-8 (table texts are converted from the code page
// of their language). Integer accessors give -1 and text accessors an empty
// text when the field is not available.

#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "control/decode/telegram.h"
#include "platform/text/codepage.h"

namespace mbus {

// What a channel knows of its last answer, as the text forms need it.
struct AnswerView {
    int frameType = 255;  // reception result of the last answer; 255: none yet
    int structureKind = kNothing;
    int received = 0;     // 1 when something was received
    int C = 0, A = 0, CI = 0;
    const MBTelegram* telegram = nullptr;
    std::span<const uint8_t> frame;  // the received frame after echo removal

    // A view of a telegram decoded on its own (as `mbusctl decode` does).
    static AnswerView Of(const MBTelegram& t, int received = 1);
};

enum class CookedVariant { Hex, Dec, Hex2, Dec2, Hex3, Dec3, Hex4, Dec4 };
inline constexpr CookedVariant kAllCookedVariants[] = {CookedVariant::Hex,  CookedVariant::Dec,  CookedVariant::Hex2,
                                                      CookedVariant::Dec2, CookedVariant::Hex3, CookedVariant::Dec3,
                                                      CookedVariant::Hex4, CookedVariant::Dec4};
// "Hex", "Dec2", ... (the suffix of the property names).
const char* CookedVariantName(CookedVariant v);
bool ParseCookedVariant(std::string_view name, CookedVariant* v);  // case-insensitive

// Appends the header and records of an answer (no check of the frame type).
void AppendCooked(std::string& out, const AnswerView& view, CookedVariant variant);
// The cooked text; empty when there is no answer (frame type 255) or no telegram.
std::string CookedData(const AnswerView& view, CookedVariant variant);
// Frame type, structure kind, received flag, C, A, CI and every received byte.
std::string RawData(const AnswerView& view, bool hex);

// Five-character names of the data and function fields.
std::string_view DataFieldName(int dataField);
std::string_view FunctionFieldName(int functionField);

// The record's value as the cooked texts show it, and its normalised form.
std::string RecordValue(const MBTelegram& t, const MBDataRecord& rec, bool hex);
std::string RecordValueNormalised(const MBTelegram& t, const MBDataRecord& rec, bool hex);

// Code page in which texts received from a meter (variable-length text
// values) are read: that of the current language (Windows-1252 for the
// user column).
text::CodePage MeterTextPage();

// Descriptions of a record's VIB as UTF-8, in `language` (0..9), or in the
// current language when it is negative.
std::string RecordDescription(const MBTelegram& t, const MBDataRecord& rec, int language = -1);
std::string RecordDescriptionNormalised(const MBTelegram& t, const MBDataRecord& rec, int* quantityClass = nullptr,
                                        double* factor = nullptr, int language = -1);

// Header and record accessors (records are numbered from 1).
namespace answer {
int CField(const AnswerView& v);
int AField(const AnswerView& v);
int CIField(const AnswerView& v);
int LongFrameType(const AnswerView& v);
int DeviceID(const AnswerView& v);
int DeviceIDDec(const AnswerView& v);
int ManufacturerID(const AnswerView& v);
std::string ManufacturerIDAsc(const AnswerView& v);
int GenerationNo(const AnswerView& v);
int TransmissionCount(const AnswerView& v);
int TelegramStatus(const AnswerView& v);
int Signature(const AnswerView& v);
int Medium(const AnswerView& v);
std::string MediumAsc(const AnswerView& v);
int DataRecordNumber(const AnswerView& v);

int UnitNo(const AnswerView& v, int dr);
int TariffNo(const AnswerView& v, int dr);
int StorageNo(const AnswerView& v, int dr);
std::string StorageNoAsc(const AnswerView& v, int dr);
int DataField(const AnswerView& v, int dr);
std::string DataFieldAsc(const AnswerView& v, int dr);
int FunctionField(const AnswerView& v, int dr);
std::string FunctionFieldAsc(const AnswerView& v, int dr);
std::string VIBAsc(const AnswerView& v, int dr);
std::string VIBAsc4(const AnswerView& v, int dr);
std::string VIBUnitAsc(const AnswerView& v, int dr);
std::string VIBUnitAsc4(const AnswerView& v, int dr);
std::string ValueDec(const AnswerView& v, int dr);
std::string ValueHex(const AnswerView& v, int dr);
std::string ValueDec4(const AnswerView& v, int dr);
std::string ValueHex4(const AnswerView& v, int dr);
std::string ValueDat(const AnswerView& v, int dr);
std::string ValueDT(const AnswerView& v, int dr);
int VIB(const AnswerView& v, int dr, int vibByte);
}  // namespace answer

}  // namespace mbus
