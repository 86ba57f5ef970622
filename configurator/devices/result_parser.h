// The result parser: after every read or write job it finds the module's
// answer to the read request in the telegram log, recognises which module
// variant answered (Pulse, Analog or Control, under either maker code),
// takes the common header fields and the data records, and tells the job
// cycle which page to show and whether a follow-up read is needed.
//
// It works on one text, the answer line: a log entry as
// LOGRetrieveCookedDataHex2(i, i) renders it. The entry of a read request
// begins with its script line ("5|" + address + "||"), then the log's own
// fields; after the fifth "|" come the answer header (hex digits and the
// manufacturer letters at fixed positions, ended by "|") and the data
// records, each a descriptor and a value, each ended by "|".

#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mbus::meridex {

enum ModuleKind {
    kModuleUnknown = -1,
    kModulePulse = 0,
    kModuleAnalog = 1,
    kModuleControl = 2,
};

enum PageType {
    kPageEmpty = 0,
    kPagePulseInput1 = 1,
    kPagePulseInput2 = 2,
    kPagePulseBoth = 3,
    kPageAnalog = 4,
    kPageControl = 5,
};

// The module variants: manufacturer letters and version digits of the
// header (positions 20..24) under both maker codes.
struct ModuleVariant {
    const char* code;  // "VND95"
    ModuleKind kind;
    int manufacturerCode;  // 0 VND, 1 KTR
    int version;           // the version byte
};
const ModuleVariant* FindVariant(std::string_view code);
// "VND149": the manufacturer code and the version byte in decimal, three digits.
std::string FirmwareName(const ModuleVariant& v);

// The descriptor of the Analog module's parameter-set record (VIF FDh,
// VIFE 0Bh) in the Hex2 text: the first record of its parameter telegram.
constexpr std::string_view kParameterSetDescriptor = "000000000000000000000000000000000100FD0B";

struct AnswerHeader {
    std::string primaryAddress;  // positions 8..9 as a decimal text
    std::string identification;  // 12..19
    std::string manufacturer;    // 20..22
    std::string version;         // 23..24, hex
    std::string status;          // 27..28, hex
    std::string signatureHigh;   // 29..30, hex
    std::string versionText;     // 31 "." 32 ("1.3"); empty when the answer has no such byte
    int firmwareNumber = -1;     // 31..32 read as a decimal number; -1 when not there
    std::string medium;          // 33..34, hex
};

struct RecordText {
    std::string descriptor;
    std::string value;
};

struct Readout {
    ModuleKind kind = kModuleUnknown;
    const ModuleVariant* variant = nullptr;
    PageType page = kPageEmpty;
    AnswerHeader header;
    std::vector<RecordText> records;
    std::string recordText;  // what follows the header's "|", as delivered
    bool followUp = false;   // the Analog module's parameter telegram is still to be read
};

// Reads entries 0, 1, 2, ... until the first empty text (nothing found) or
// the first text that begins with "5" (the answer to the read request).
std::optional<std::string> FindAnswerLine(const std::function<std::string(int)>& logEntry);

// The data records of a record text: descriptor and value pairs.
std::vector<RecordText> SplitRecords(std::string_view text);

// Parses an answer line. Empty when the line is too short, has no header,
// or the module is not one of the variants (an answer of another maker
// fails even with a version byte of a module), and for a Pulse answer with
// fewer than 40 characters of records or a Control answer without records. `duringFollowUp`: the line
// answers the follow-up read itself, which never asks for another.
std::optional<Readout> ParseAnswerLine(std::string_view line, bool duringFollowUp = false);

// Why a read job's log holds no answer that identifies a module, as a
// sentence for the status line behind "FAILED!"; empty when the log does
// not tell. The log tells of a port line whose port did not open, of a
// read request that got no answer (and of a secondary selection that no
// module acknowledged under `manufacturerCode`, whose module may be one of
// the other maker code) and of an answer that is no module's. It cannot
// tell a collision of several answers from silence: the control logs
// neither with the request.
std::string ReadFailureReason(const std::function<std::string(int)>& logEntry, int manufacturerCode);

// A group caption: the marker "<!!>" (with the blank after it) becomes the
// version label "V:" + version + two blanks, or goes when no version is
// known; blanks the marker leaves at the end are dropped.
std::string CaptionWithVersion(std::string_view text, const std::string& versionText);

}  // namespace mbus::meridex
