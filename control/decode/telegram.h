// The decoded form of one slave answer: header fields and data records.

#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "control/decode/byte_run.h"
#include "control/decode/export.h"

namespace mbus {
// Structure kinds of a decoded answer.
enum StructureKind : uint32_t {
    kFixedLsbFirst = 0,     // CI 73h
    kVariableLsbFirst = 1,  // CI 72h, 78h, 7Ah
    kFixedMsbFirst = 2,     // CI 77h
    kVariableMsbFirst = 3,  // CI 76h
    kApplicationError = 4,  // CI 70h
    kAlarm = 5,             // CI 71h
    kSingleCharacter = 254, // E5h or A2h
    kNothing = 255,
};

// Reception result codes that reach the decoder as frame types.
enum FrameType : int32_t {
    kFrameSingleChar = 0,
    kFrameShort = 1,
    kFrameControl = 2,
    kFrameLong = 3,
    kFrameFault = 4,
    kFrameA2 = 5,
};

inline constexpr int kVIBInline = 12;    // VIF and up to ten VIFEs (and a spare)
inline constexpr int kVIBPlainText = 260;  // plain-text VIF: VIF, length, text, zero, VIFEs
inline constexpr int kMaxExtensions = 10;  // DIFEs or VIFEs per record

// Result of MBTelegram::InterpretAnswer for a long frame whose user data is
// too short for the header its CI announces: no header field and no record
// was read (structure kind 255), and `warnings` says why. The other results
// are 1 (a single character, or a variable-structure answer whose C field is
// RSP_UD) and 0 (anything else).
inline constexpr int kDecodeShortHeader = 2;
}  // namespace mbus

struct MBUS_EXPORT MBDataRecord {
    int32_t specialDIF = 0;     // 0, or 0Fh/1Fh (manufacturer rest), 2Fh (filler), 7Fh (global readout)
    int32_t dataField = 0;      // DIF bits 0..3
    int32_t functionField = 0;  // DIF bits 4..5
    int64_t storageNumber = 0;
    int32_t tariff = 0;
    int32_t subunit = 0;
    int32_t vibLength = 0;       // meaningful VIB bytes
    int64_t value = 0;           // decoded integer value (holds the multiplier before decoding)
    float realValue = 0.0f;      // value of a REAL4 record
    bool hasValueText = false;   // false: the record has no value
    std::string valueText;       // value as text, or the raw bytes of a manufacturer rest
    int32_t valueTextLength = 0; // characters of the text (1 for the empty text), bytes of a raw rest
    mbus::ByteRun vibReceived;  // the VIB as it stood in the telegram (before any rewriting)

    // The VIB bytes: VIF, then VIFEs (or the plain-text layout).
    const uint8_t* VIB() const { return vibPlain ? vibPlain.get() : vibInline.data(); }
    uint8_t* VIB() { return vibPlain ? vibPlain.get() : vibInline.data(); }
    // Capacity of the VIB array (12, or 260 for a plain-text VIF).
    int VIBCapacity() const { return vibPlain ? mbus::kVIBPlainText : mbus::kVIBInline; }
    // Switches the VIB to the 260-byte plain-text array (zeroed).
    uint8_t* MakePlainTextVIB();
    bool IsPlainTextVIB() const { return vibPlain != nullptr; }

    // The value bytes to show for a data field of 0Fh: the raw rest, or the
    // text's terminating zero for an empty special-function value.
    std::string_view RawValue() const {
        return std::string_view(valueText.data(), static_cast<std::size_t>(valueTextLength));
    }

    void Clear();

private:
    std::array<uint8_t, mbus::kVIBInline> vibInline{};
    std::unique_ptr<uint8_t[]> vibPlain;
};

class MBUS_EXPORT MBTelegram {
public:
    MBTelegram();
    virtual ~MBTelegram();
    MBTelegram(const MBTelegram&) = delete;
    MBTelegram& operator=(const MBTelegram&) = delete;

    // Decodes a complete frame (from its start byte); see telegram.cpp.
    // Returns 1, 0 or mbus::kDecodeShortHeader (see there).
    int InterpretAnswer(int frameType, uint8_t C, uint8_t A, uint8_t CI, const uint8_t* data, int length);
    void InitDStruct(int count);
    int CountDataRecordsInRSPUD(const uint8_t* data, int length);
    void InterpretVarDataRecord(int lsbFirst, const uint8_t* data, int length, int* position, int index);
    int IsStartOfDR(int position) const;

    // Value decoding (values.cpp).
    static int ReturnNumberOfValueBytes(uint8_t DIF, uint8_t LVAR);
    void ExtractValueM1(int coding, const uint8_t* data, int length, int* position, int64_t* value, float* real,
                        std::string* text, int* textLength, bool* hasText);
    void ExtractValueM2(int coding, const uint8_t* data, int length, int* position, int64_t* value, float* real,
                        std::string* text, int* textLength, bool* hasText);
    static void CheckBCDforHEX(int coding, const uint8_t* data, const int* position, int64_t* value, int* invalid,
                               int* topDone, int* negative);
    void IntToTime(int index);

    // Value information (vib.cpp). `text` receives at most 999 characters and a zero.
    void VIBInterpret(const uint8_t* VIB, int VIBLength, char* text) const;
    void VIBInterpret2(const uint8_t* VIB, int VIBLength, char* text, int* quantityClass, double* factor) const;
    static int VIBMultiplierCheck(uint8_t VIF, uint8_t extension, int structureKind);
    static void VIBMetric2NonMetric(char* text);

    // Code conversions, also members of MBLayer7.
    void ExtractManufacturer(uint16_t number, char* text);
    void ExtractMedium(int variable, uint8_t code, char* text);

    // Header of the answer.
    int32_t frameType = mbus::kFrameFault;
    int16_t receiveErrorWord = 0;
    uint32_t cField = 0, aField = 0, ciField = 0;
    int32_t moreRecordsFollow = 0;
    int32_t accessDemand = 0;
    uint32_t structureKind = mbus::kNothing;
    int32_t identNumber = 0;  // BCD digits as hexadecimal digits
    int32_t manufacturer = 0;
    char manufacturerText[4] = {};
    int32_t version = 0;
    int32_t medium = 0;
    char mediumText[32] = {};
    int32_t mediumTextLanguage = 0;  // language (and so code page) of mediumText
    int32_t accessNumber = 0;
    int32_t status = 0;
    uint32_t signature = 0;
    char customerLocation[16] = "FFFFFFFFFFFF";
    char customer[16] = "FFFFFFFFFFFF";
    char fabricationNumber[12] = "FFFFFFFF";

    // Copy of the interpreted bytes and the decoded records.
    std::vector<uint8_t> telegram;
    std::vector<MBDataRecord> records;
    // What the walk through the records found wrong without giving up
    // (a truncated record, too many extensions, bytes left over), as text.
    std::vector<std::string> warnings;

    int32_t TelegramLength() const { return static_cast<int32_t>(telegram.size()); }
    int32_t RecordCount() const { return static_cast<int32_t>(records.size()); }

private:
    void Reset();
    int Interpret(int frameType, uint8_t C, uint8_t A, uint8_t CI, const uint8_t* data, int length);
    // Sets the number of records without clearing those kept; returns the
    // number there was before.
    std::size_t SizeRecords(int count);
    bool recordsSet_ = false;  // the records were sized for the answer being decoded
    bool mediumSet_ = false;   // a header set mediumText for the answer being decoded
    // Notes a long frame too short for its header; returns kDecodeShortHeader.
    int ShortHeader(uint8_t CI, int userData, int needed);
    void InterpretVariableHeader(const uint8_t* data, int length, uint8_t CI);
    void InterpretFixed(const uint8_t* data, int length, uint8_t CI);
    void ExtractValue(int lsbFirst, MBDataRecord& rec, const uint8_t* data, int length, int* position);
};
