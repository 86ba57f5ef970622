#include "configurator/devices/result_parser.h"

#include <cstdio>

namespace mbus::meridex {
namespace {

constexpr ModuleVariant kVariants[] = {
    // Looked up in this order: Pulse, Analog, Control.
    {"VND95", kModulePulse, 0, 0x95},   {"KTR05", kModulePulse, 1, 0x05},
    {"VND96", kModuleAnalog, 0, 0x96},  {"KTR15", kModuleAnalog, 1, 0x15},
    {"VND97", kModuleControl, 0, 0x97}, {"KTR35", kModuleControl, 1, 0x35},
};

// The log holds at most this many entries: the search for the answer stops there.
constexpr int kMaxLogEntries = 100000;
// Shortest answer line and shortest header text that can be identified.
constexpr std::size_t kMinAnswerLine = 41;
constexpr std::size_t kMinHeader = 40;
// A Pulse answer that carries both inputs has this much text after record 2.
constexpr std::size_t kBothInputsRest = 61;
constexpr std::size_t kMinPulseRecords = 40;

std::string Field(std::string_view text, std::size_t pos, std::size_t n) {
    if (pos >= text.size()) return {};
    return std::string(text.substr(pos, n));
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

int HexValue(const std::string& text) {
    int value = 0;
    for (char c : text) {
        if (!IsHexDigit(c)) return -1;
        value = value * 16 + (c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    return text.empty() ? -1 : value;
}

// Skips what follows the header's end and the record parts up to the
// character after the n-th "|" of `text`; npos when there are fewer.
std::size_t AfterBars(std::string_view text, int n) {
    std::size_t pos = 0;
    for (int i = 0; i < n; ++i) {
        pos = text.find('|', pos);
        if (pos == std::string_view::npos) return pos;
        ++pos;
    }
    return pos;
}

AnswerHeader ReadHeader(std::string_view h) {
    AnswerHeader header;
    const int address = HexValue(Field(h, 8, 2));
    if (address >= 0) header.primaryAddress = std::to_string(address);
    header.identification = Field(h, 12, 8);
    header.manufacturer = Field(h, 20, 3);
    header.version = Field(h, 23, 2);
    header.status = Field(h, 27, 2);
    header.signatureHigh = Field(h, 29, 2);
    const std::string low = Field(h, 31, 2);
    if (low.size() == 2 && IsHexDigit(low[0]) && IsHexDigit(low[1])) {
        header.versionText = std::string(1, low[0]) + "." + low[1];
        // Firmware versions are written as decimal digits in the hex byte (13h is 1.3).
        if (low[0] <= '9' && low[1] <= '9') header.firmwareNumber = (low[0] - '0') * 10 + (low[1] - '0');
    }
    header.medium = Field(h, 33, 2);
    return header;
}

// The text that remains after the first n records of `text`.
std::string_view AfterRecords(std::string_view text, int n) {
    const std::size_t pos = AfterBars(text, 2 * n);
    return pos == std::string_view::npos ? std::string_view() : text.substr(pos);
}

}  // namespace

const ModuleVariant* FindVariant(std::string_view code) {
    for (const ModuleVariant& v : kVariants)
        if (code == v.code) return &v;
    return nullptr;
}

std::string FirmwareName(const ModuleVariant& v) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%03d", v.version);
    return std::string(v.code, 3) + digits;
}

std::optional<std::string> FindAnswerLine(const std::function<std::string(int)>& logEntry) {
    for (int i = 0; i <= kMaxLogEntries; ++i) {
        std::string line = logEntry(i);
        if (line.empty()) return std::nullopt;
        if (line[0] == '5') return line;
    }
    return std::nullopt;
}

std::vector<RecordText> SplitRecords(std::string_view text) {
    std::vector<RecordText> records;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t a = text.find('|', pos);
        if (a == std::string_view::npos) break;
        const std::size_t b = text.find('|', a + 1);
        if (b == std::string_view::npos) break;
        records.push_back({std::string(text.substr(pos, a - pos)), std::string(text.substr(a + 1, b - a - 1))});
        pos = b + 1;
    }
    return records;
}

std::optional<Readout> ParseAnswerLine(std::string_view line, bool duringFollowUp) {
    if (line.size() < kMinAnswerLine) return std::nullopt;
    const std::size_t start = AfterBars(line, 5);
    if (start == std::string_view::npos) return std::nullopt;
    const std::string_view text = line.substr(start);
    if (text.size() < kMinHeader) return std::nullopt;

    Readout r;
    r.variant = FindVariant(text.substr(20, 5));
    if (r.variant == nullptr) return std::nullopt;
    r.kind = r.variant->kind;
    r.header = ReadHeader(text);

    const std::size_t headerEnd = text.find('|');
    r.recordText = headerEnd == std::string_view::npos ? std::string() : std::string(text.substr(headerEnd + 1));
    r.records = SplitRecords(r.recordText);

    switch (r.kind) {
        case kModulePulse: {
            if (r.recordText.size() < kMinPulseRecords) return std::nullopt;
            if (AfterRecords(r.recordText, 2).size() >= kBothInputsRest)
                r.page = kPagePulseBoth;
            else
                r.page = r.header.status == "01" ? kPagePulseInput2 : kPagePulseInput1;
            break;
        }
        case kModuleAnalog:
            r.page = kPageAnalog;
            r.followUp = !duringFollowUp && (r.records.empty() || r.records.front().descriptor != kParameterSetDescriptor);
            break;
        case kModuleControl:
            // A header alone is no readout: the page would show empty states
            // and the job "Success!".
            if (r.records.empty()) return std::nullopt;
            r.page = kPageControl;
            break;
        default: return std::nullopt;
    }
    return r;
}

namespace {

// Who a read request's address token names.
std::string Addressee(std::string_view token) {
    if (token == "254") return "address 254 (optical head or broadcast)";
    if (token == "253") return "the selected module";
    if (token.empty()) return "the module";
    return "primary address " + std::string(token);
}

}  // namespace

std::string ReadFailureReason(const std::function<std::string(int)>& logEntry, int manufacturerCode) {
    static constexpr std::string_view kSelection = "8||Standard: ";
    std::string unacknowledged;  // identification number of a selection without answer
    bool acknowledged = false;   // a selection before the request was acknowledged
    for (int i = 0; i <= kMaxLogEntries; ++i) {
        const std::string line = logEntry(i);
        if (line.empty()) return {};
        const std::size_t start = AfterBars(line, 5);
        const std::string_view tail =
            start == std::string::npos ? std::string_view() : std::string_view(line).substr(start);
        // A port line ("0||COM1,..." or, with the IrDA adapter, "2||COM1,...")
        // logs the line status: 0 when the port opened.
        if ((line[0] == '0' || line[0] == '2') && line.compare(1, 5, "||COM") == 0 && !tail.empty() && tail != "0") {
            const std::size_t comma = line.find(',');
            const std::string port = line.substr(3, comma == std::string::npos ? 0 : comma - 3);
            return port + " did not open for the script (line status " + std::string(tail) + ").";
        }
        if (line.compare(0, kSelection.size(), kSelection) == 0) {
            acknowledged = !tail.empty();
            unacknowledged = acknowledged ? std::string() : line.substr(kSelection.size(), 8);
            continue;
        }
        if (line[0] != '5') continue;
        // "5|" + token + "||": the address the request went to.
        const std::size_t tokenEnd = line.size() > 2 ? line.find('|', 2) : std::string::npos;
        const std::string_view token =
            tokenEnd == std::string::npos ? std::string_view() : std::string_view(line).substr(2, tokenEnd - 2);
        const std::string who = Addressee(token);
        if (tail.empty()) {
            // Silence and answers garbled on the line (several slaves at
            // once) leave the same entry: neither is a valid answer.
            // A module that acknowledged its selection answers the request;
            // no valid answer after it is most likely several modules
            // answering at once (their acknowledgements overlay into one).
            if (acknowledged)
                return "No valid answer from " + who +
                       ", though the selection was acknowledged: several modules may answer to it.";
            if (unacknowledged.empty()) return "No valid answer from " + who + ".";
            const char* chosen = manufacturerCode == 1 ? "KTR" : "VND";
            const char* other = manufacturerCode == 1 ? "VND" : "KTR";
            return std::string("No module acknowledged the selection of ") + unacknowledged + " under maker code " +
                   chosen + "; a " + other + " module answers only under " + other + ": change it in Settings.";
        }
        if (tail.size() < kMinHeader) return "The answer from " + who + " is too short to be read.";
        const std::string_view code = tail.substr(20, 5);
        if (FindVariant(code) == nullptr)
            return "The answer from " + who + " comes from " + std::string(code.substr(0, 3)) + " version " +
                   std::string(code.substr(3)) + ", no module of this program (VND or KTR 95/05, 96/15, 97/35).";
        return "The answer from " + who + " lacks the module's data records.";
    }
    return {};
}

std::string CaptionWithVersion(std::string_view text, const std::string& versionText) {
    static constexpr std::string_view kMarker = "<!!>";
    std::string out(text);
    const std::size_t at = out.find(kMarker);
    if (at == std::string::npos) return out;
    std::size_t length = kMarker.size();
    if (at + length < out.size() && out[at + length] == ' ') ++length;
    out.replace(at, length, versionText.empty() ? std::string() : "V:" + versionText + "  ");
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

}  // namespace mbus::meridex
