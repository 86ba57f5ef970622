#include "control/link/layer2.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <vector>

#include "control/decode/options.h"
#include "control/line/trace.h"
#include "control/link/error_texts.h"
#include "control/line/frame_shape.h"
#include "control/link/radio.h"
#include "platform/text/language_table.h"

using namespace mbus;
using namespace mbus::link;

namespace mbus::link {
namespace {

text::LanguageTable& ErrorTexts() {
    static text::LanguageTable table = [] {
        text::LanguageTable t(std::vector<std::size_t>(std::begin(kErrorTextWidth), std::end(kErrorTextWidth)));
        for (int lang = 0; lang < 9; ++lang)
            for (std::size_t row = 0; row < kErrorTexts; ++row)
                t.Set(static_cast<int>(row), lang, kErrorTextColumns[lang][row]);
        return t;
    }();
    return table;
}

// The error word as code-page text of a language.
std::string ErrorWordBytes(uint16_t word, int language) {
    std::string s;
    for (int bit = 0; bit < 9; ++bit)
        if (word & (1u << bit)) s += ErrorTexts().Cell(bit, language);
    if (s.empty()) return std::string(ErrorTexts().Cell(9, language));
    s.resize(s.size() >= 2 ? s.size() - 2 : 0);  // the last comma and blank
    s += " ERROR";
    return s;
}

// Builds a frame byte by byte, applying the test faults of each byte.
class FrameBuilder {
public:
    FrameBuilder(bool faults, uint8_t r) : faults_(faults), r_(r) {}
    // Appends a byte; `wrong` and `twice` are the test options of that byte.
    void Put(uint8_t b, const std::atomic<int32_t>* wrong = nullptr, const std::atomic<int32_t>* twice = nullptr) {
        if (faults_ && wrong && wrong->load(std::memory_order_relaxed)) b = static_cast<uint8_t>(b + r_);
        bytes.push_back(b);
        if (faults_ && twice && twice->load(std::memory_order_relaxed)) bytes.push_back(b);
    }
    // A two-byte L field of the extended frame: both bytes take the options
    // (doubled: Llo, Llo, Lhi, Lhi).
    void Put16(uint16_t v, const std::atomic<int32_t>* wrong, const std::atomic<int32_t>* twice) {
        Put(static_cast<uint8_t>(v & 0xFF), wrong, twice);
        Put(static_cast<uint8_t>(v >> 8), wrong, twice);
    }
    std::vector<uint8_t> bytes;

private:
    bool faults_;
    uint8_t r_;
};

std::mt19937& Random() {
    static thread_local std::mt19937 gen(static_cast<uint32_t>(
        std::chrono::steady_clock::now().time_since_epoch().count()));
    return gen;
}

// A random non-zero byte for the test faults (drawn for every framed send).
uint8_t RandomByte() {
    const auto r = static_cast<uint8_t>(Random()() & 0xFF);
    return r == 0 ? 1 : r;
}

bool TestFaults() { return MBusTestOption.OPXTestOptionsEnable.load(std::memory_order_relaxed) != 0; }

bool EqualsNoCase(const uint8_t* data, int n, const char* word) {
    const int len = static_cast<int>(std::strlen(word));
    if (n != len) return false;
    for (int i = 0; i < n; ++i) {
        char c = static_cast<char>(data[i]);
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        if (c != word[i]) return false;
    }
    return true;
}

// Whether raw bytes sent are an M-Bus request: a short, control or long
// frame, as it is or in the escape wrapper (1Bh.. 16h length frame).
bool IsMBusRequest(const uint8_t* b, int n) {
    int e = 0;
    while (e < n && b[e] == 0x1B) ++e;
    if (e > 0) {
        if (e + 2 > n || b[e] != 0x16) return false;
        const int count = std::min<int>(b[e + 1], n - e - 2);
        b += e + 2;
        n = count;
    }
    if (n <= 0) return false;
    const int result = ClassifyFrame({b, static_cast<std::size_t>(n)}).result;
    return result == kRecShort || result == kRecControl || result == kRecLong;
}

}  // namespace

void FCBState::Clear() {
    for (int i = 0; i < 256; ++i) sndud[i] = requd[i] = 1;
    lastAction = 255;
    lastAddress = 255;
}

std::string ErrorClassText(int errorClass, int language) { return ErrorTexts().Utf8(errorClass, language); }

bool WriteErrorClassText(int errorClass, int language, const std::string& utf8) {
    return ErrorTexts().WriteUser(errorClass, language, utf8, 19);
}

std::string ErrorWordText(uint16_t word) {
    const int language = CurrentLanguage();
    return text::ToUtf8(ErrorWordBytes(word, language), text::CodePageOfLanguage(language));
}

}  // namespace mbus::link

void MBL1ErrorCodeToASC(int errorWord, char* text) {
    if (text == nullptr) return;
    const std::string s = ErrorWordBytes(static_cast<uint16_t>(errorWord), CurrentLanguage());
    std::memcpy(text, s.c_str(), s.size() + 1);
}

void MBHexToAsciiB(uint8_t byte, char* text) {
    static const char* kHex = "0123456789ABCDEF";
    text[0] = kHex[byte >> 4];
    text[1] = kHex[byte & 0x0F];
    text[2] = '\0';
}

MBLayer2::MBLayer2() : fcb(&ownFcb_) {}

MBLayer2::~MBLayer2() = default;

int MBLayer2::FCBitHandling(int address, int action) {
    FCBState& s = *fcb;
    const int requdOption = Option(MBusOption.OPTFCBREQUDOption);
    const int sndudOption = Option(MBusOption.OPTFCBSNDUDOption);
    const int32_t requdReset = requdOption == 2 ? 0 : 1;
    const int32_t sndudReset = sndudOption == 2 ? 0 : 1;
    const int a = address & 0xFF;
    int result = 0x00;
    switch (action) {
        case kFCBReset:
            s.lastAction = 0;
            if (a < 255) {
                s.sndud[a] = sndudReset;
                s.requd[a] = requdReset;
            } else {
                for (int i = 0; i < 256; ++i) {
                    s.sndud[i] = sndudReset;
                    s.requd[i] = requdReset;
                }
            }
            break;
        case kFCBSndUd:
        case kFCBReqUd: {
            s.lastAction = static_cast<uint8_t>(action);
            const int option = action == kFCBSndUd ? sndudOption : requdOption;
            int32_t& entry = action == kFCBSndUd ? s.sndud[a] : s.requd[a];
            if (option == 1 || option == 2) {
                entry = entry ? 0 : 1;
                result = entry ? 0x10 : 0x30;
            } else if (option == 3) {
                result = 0x30;
            } else if (option == 4) {
                result = 0x10;
            }
            break;
        }
        case kFCBSelection:
            s.lastAction = 3;
            if (sndudOption == 1 || sndudOption == 2) {
                s.sndud[253] = sndudOption == 1 ? 1 : 0;
                s.requd[253] = requdReset;
                result = sndudOption == 1 ? 0x10 : 0x30;
            } else if (sndudOption == 3) {
                result = 0x30;
            } else if (sndudOption == 4) {
                result = 0x10;
            }
            break;
        case kFCBUndo:
            if (s.lastAction == 1) s.sndud[s.lastAddress] ^= 1;
            if (s.lastAction == 2) s.requd[s.lastAddress] ^= 1;
            s.lastAction = 255;
            return 0x00;
        default: return 0x00;
    }
    s.lastAddress = static_cast<uint8_t>(a);
    if (a == 255 && Option(MBusOption.OPTFCBFCVoffat255) != 0) return 0x00;
    return result;
}

int MBLayer2::ClassifyC(int C, int A, int CI, int selection, bool shortFrame) {
    C &= 0xFF;
    if (C == 0x40) return 0x40 | FCBitHandling(A, kFCBReset);
    if ((C & 0xCE) == 0x4A) return (C & 0xCF) | FCBitHandling(A, kFCBReqUd);
    if ((C & 0xCF) == 0x43) {
        const bool select = !shortFrame && (CI == 0x52 || CI == 0x56 || selection);
        return 0x43 | FCBitHandling(A, select ? kFCBSelection : kFCBSndUd);
    }
    return C;
}

int MBLayer2::SendFrame(const uint8_t* frame, int n) {
    if (n > line::kBufferSize || !line.IsOpen() || line.transmitActive.load() != 0) return 0;
    std::memcpy(line.sendBuffer, frame, static_cast<std::size_t>(n));
    line.sendCount = n;
    return line.SendBufferContent();
}

int MBLayer2::SendE5() {
    FCBitHandling(0, kFCBUndo);
    lastCField = 255;
    const uint8_t e5 = 0xE5;
    return SendFrame(&e5, 1);
}

int MBLayer2::SendShortFrame(int C, int A) {
    const uint8_t r = RandomByte();
    const int c = ClassifyC(C, A, 0, 0, true);
    const auto a = static_cast<uint8_t>(A);
    auto& t = MBusTestOption;
    FrameBuilder f(TestFaults(), r);
    f.Put(0x10, &t.OPXREQUDStartByteWrong, &t.OPXREQUDStartByteTwice);
    f.Put(static_cast<uint8_t>(c), &t.OPXREQUDCFieldWrong, &t.OPXREQUDCFieldTwice);
    f.Put(a);
    // The checksum is that of the correct C and A; a wrong-checksum fault adds r.
    f.Put(static_cast<uint8_t>(c + a), &t.OPXREQUDChecksumWrong, &t.OPXREQUDChecksumTwice);
    f.Put(0x16, &t.OPXREQUDStopByteWrong, &t.OPXREQUDStopByteTwice);
    lastCField = static_cast<uint8_t>(c);
    mbusRequest = 1;
    return SendFrame(f.bytes.data(), static_cast<int>(f.bytes.size()));
}

int MBLayer2::SendControlFrame(int C, int A, int CI, int selection) {
    return SendLongFrame(C, A, CI, nullptr, 0, selection);
}

int MBLayer2::SendLongFrame(int C, int A, int CI, const uint8_t* data, int n, int selection) {
    if (n < 0 || (n > 0 && data == nullptr) || n > line::kBufferSize) return 0;
    const uint8_t r = RandomByte();
    const int c = ClassifyC(C, A, CI & 0xFF, selection, false);
    const auto a = static_cast<uint8_t>(A), ci = static_cast<uint8_t>(CI);
    uint8_t sum = static_cast<uint8_t>(c + a + ci);
    for (int i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + data[i]);
    auto& t = MBusTestOption;
    FrameBuilder f(TestFaults(), r);
    const bool extended = n >= 253;
    const uint8_t start = extended ? 0xD8 : 0x68;
    f.Put(start, &t.OPXSNDUDStartByte1Wrong, &t.OPXSNDUDStartByte1Twice);
    if (extended) {
        const auto L = static_cast<uint16_t>(n + 3);
        f.Put16(L, &t.OPXSNDUDLengthByte1Wrong, &t.OPXSNDUDLengthByte1Twice);
        f.Put16(L, &t.OPXSNDUDLengthByte2Wrong, &t.OPXSNDUDLengthByte2Twice);
    } else {
        const auto L = static_cast<uint8_t>(n + 3);
        f.Put(L, &t.OPXSNDUDLengthByte1Wrong, &t.OPXSNDUDLengthByte1Twice);
        f.Put(L, &t.OPXSNDUDLengthByte2Wrong, &t.OPXSNDUDLengthByte2Twice);
    }
    f.Put(start, &t.OPXSNDUDStartByte2Wrong, &t.OPXSNDUDStartByte2Twice);
    f.Put(static_cast<uint8_t>(c), &t.OPXSNDUDCFieldWrong, &t.OPXSNDUDCFieldTwice);
    f.Put(a);
    f.Put(ci, &t.OPXSNDUDCIFieldWrong, &t.OPXSNDUDCIFieldTwice);
    f.bytes.insert(f.bytes.end(), data, data + n);
    f.Put(sum, &t.OPXSNDUDChecksumWrong, &t.OPXSNDUDChecksumTwice);
    f.Put(0x16, &t.OPXSNDUDStopByteWrong, &t.OPXSNDUDStopByteTwice);
    lastCField = static_cast<uint8_t>(c);
    mbusRequest = 1;
    return SendFrame(f.bytes.data(), static_cast<int>(f.bytes.size()));
}

int MBLayer2::SendHex(const uint8_t* bytes, int n) {
    if (n < 0 || n > line::kBufferSize || (n > 0 && bytes == nullptr)) return 0;
    FCBitHandling(0, kFCBUndo);
    lastCField = 255;
    mbusRequest = IsMBusRequest(bytes, n) ? 1 : 0;
    return SendFrame(bytes, n);
}

int MBLayer2::SendNothing() {
    FCBitHandling(0, kFCBUndo);
    lastCField = 255;
    if (!line.IsOpen() || line.transmitActive.load() != 0) return 0;
    line.sendCount = 0;
    line.receiveCount.store(-1);
    line.receiveCountCopy.store(-1);
    line.MarkEndOfTransmission();
    return 1;
}

int MBLayer2::YMODEMStoreAndTestBlock(const uint8_t* d, int n) { return link::CheckYmodemBlock(ymodem, d, n); }

void MBLayer2::PrepareHauszentraleSlaveList(const uint8_t* d, int n) {
    slaveList = link::ConvertHouseCentralList(d, n);
    slaveListPending.store(1);
}

void MBLayer2::RemoveEcho() {
    const int s = line.sendCount;
    int n = line.receiveCount.load();
    if (n <= 0 || s <= 0) return;
    const int option = line.echoOption.load();
    int k = 0;
    if (option == 1) {
        if (n >= s && std::memcmp(line.receiveBuffer, line.sendBuffer, static_cast<std::size_t>(s)) == 0) k = s;
    } else if (option == 2) {
        // The longest tail of what we sent that the reception starts with. A
        // partial echo with a short answer (an E5h) may hold fewer bytes than
        // we sent, so the tail is looked for whatever the count.
        for (int len = std::min(s, n); len >= 1; --len) {
            if (std::memcmp(line.receiveBuffer, line.sendBuffer + s - len, static_cast<std::size_t>(len)) == 0) {
                k = len;
                break;
            }
        }
    }
    if (k == 0) return;
    std::memmove(line.receiveBuffer, line.receiveBuffer + k, static_cast<std::size_t>(n - k));
    n -= k;
    line.receiveCount.store(n);
}

int MBLayer2::ReceiveTelegram(int* C, int* A, int* CI, uint8_t** data, int* length, int* receivedSomething) {
    *C = *A = *CI = 0;
    *data = nullptr;
    *length = 0;
    *receivedSomething = 0;
    if (line.transmitActive.load() != 0 || line.receiveActive.load() != 0) return kRecBusy;
    if (line.discardReception.exchange(0) != 0) {
        line.receiveCount.store(0);
        line.receiveCountCopy.store(0);
    }
    if (line.receiveCount.load() == -1) {
        line.ReceiveBufferContent();
        return kRecBusy;
    }
    const int raw = line.receiveCount.load();
    line::AppendTraceLine(line::TraceKind::Receive, line.slot, line.receiveBuffer, raw);
    int result;
    bool allEscape = false;
    if (raw == 0) {
        // The receive thread has set Timeout or a UART bit.
        result = kRecFault;
    } else {
        *receivedSomething = 1;
        if (line.echoOption.load() != 0) RemoveEcho();
        const int n = line.receiveCount.load();
        *data = line.receiveBuffer;
        *length = n;
        if (n == 0) {
            // Only our own echo came back: the slave did not answer.
            line.errorWord.fetch_or(kErrTimeout);
            result = kRecFault;
        } else if (line.textProtocolMode.load() != 0) {
            const uint8_t* t = line.receiveBuffer;
            const bool cr = n > 0 && t[n - 1] == '\r';
            if (cr && EqualsNoCase(t, n - 1, "START")) {
                result = kRecTextStart;
                *length = 6;
            } else if (cr && EqualsNoCase(t, n - 1, "ABBRUCH")) {
                result = kRecTextAbort;
            } else if (cr && EqualsNoCase(t, n - 1, "ENDE")) {
                result = kRecTextEnd;
            } else if (cr && (n == 48 || n == 49)) {
                result = kRecTextLine;
            } else {
                result = kRecTextOther;
            }
        } else {
            result = Classify(line.receiveBuffer, n, C, A, CI, data, length, 0);
            allEscape = result == kRecFault && n > 0 && line.receiveBuffer[0] == 0x1B &&
                        std::all_of(line.receiveBuffer, line.receiveBuffer + n, [](uint8_t b) { return b == 0x1B; });
        }
    }
    line.receiveCount.store(0);
    // Every fault of an M-Bus request keeps the FCB for its repetition; only
    // escapes alone after another request leave the FCB state alone.
    if (result == kRecFault && (!allEscape || mbusRequest.load() != 0)) FCBitHandling(0, kFCBUndo);
    return result;
}

int MBLayer2::Classify(uint8_t* d, int n, int* C, int* A, int* CI, uint8_t** outData, int* outLength, int depth) {
    auto fault = [&](uint16_t bit) {
        if (bit) line.errorWord.fetch_or(bit);
        *C = *A = *CI = 0;
        return static_cast<int>(kRecFault);
    };
    auto again = [&](uint8_t* payload, int count) {
        *outData = payload;
        *outLength = count;
        if (count <= 0) return fault(0);
        return Classify(payload, count, C, A, CI, outData, outLength, depth + 1);
    };
    *outData = d;
    *outLength = n;
    if (n <= 0) return fault(0);
    if (depth > 8) return fault(kErrStartsign);
    const bool ymodem = line.ymodemMode.load() != 0;
    switch (d[0]) {
        case 0xE5:
        case 0xA2:
        case 0x10:
        case 0x68:
        case 0xD8: {
            const FrameShape shape = ClassifyFrame({d, static_cast<std::size_t>(n)});
            if (shape.result == kRecFault) return fault(shape.errors);
            *C = shape.C;
            *A = shape.A;
            *CI = shape.CI;
            if (shape.result == kRecLong && d[0] == 0x68) {
                // Encrypted radio telegrams are decrypted in place; the frame
                // may become shorter (never longer).
                const RadioKeys keys = GetRadioKeys();
                int count = n;
                DESCheckAndDecryptRadioTelegram(d, &count, keys);
                KAVOSCheckAndDecryptRadioTelegram(d, &count, keys);
                *outLength = count;
            }
            return shape.result;
        }
        case 0x16: {
            // Length wrapper: 16h, length, payload.
            if (n < 3) return fault(0);
            const int count = d[1];
            // A length beyond what arrived would take stale bytes of the buffer for an answer.
            if (count > n - 2) return fault(kErrLengthbyte);
            return again(d + 2, count);
        }
        case 0x14:
        case 0x15: {
            if (ymodem) return YMODEMStoreAndTestBlock(d, n);
            const int header = d[0] == 0x14 ? 3 : 10;
            if (header >= n) return fault(0);
            return again(d + header, n - header - 2 + (d[n - 1] == 0x00 ? 1 : 0));
        }
        case 0x20:
            // A house central's slave list; after an M-Bus request, a long
            // frame that lost its start byte (L = 20h).
            if (mbusRequest.load() != 0) return fault(kErrStartsign);
            PrepareHauszentraleSlaveList(d, n);
            return kRecSingleChar;
        case 0x1B: {
            int e = 0;
            while (e < n && d[e] == 0x1B) ++e;
            if (e == n) return fault(kErrLengthbyte);
            // After an M-Bus request only the wrappers of a relayed answer
            // are taken; acknowledgements, lists and unknown escapes are not
            // answers to it.
            if (mbusRequest.load() != 0 && d[e] != 0x14 && d[e] != 0x15 && d[e] != 0x16)
                return fault(kErrStartsign);
            switch (d[e]) {
                case 0x01:
                case 0x02:
                case 0x03:
                case 0x31:
                case 0x33: return kRecSingleChar;
                case 0x13: return kRecEscape13;
                case 0x14:
                case 0x15: {
                    const int header = e + (d[e] == 0x14 ? 3 : 10);
                    if (header >= n) return fault(0);
                    return again(d + header, n - header - 2 + (d[n - 1] == 0x00 ? 1 : 0));
                }
                case 0x16: {
                    if (e + 1 >= n) return fault(0);
                    const int count = d[e + 1];
                    if (count > n - e - 2) return fault(kErrLengthbyte);
                    return again(d + e + 2, count);
                }
                case 0x20:
                    PrepareHauszentraleSlaveList(d, n);
                    return kRecSingleChar;
                default:
                    if (escapeIsControl) return kRecControl;
                    return fault(kErrStartsign);
            }
        }
        case 0x01:
        case 0x02:
        case 0x04:
        case 0x06:
        case 0x13:
        case 0x18:
        case 0x43:
            if (ymodem) return YMODEMStoreAndTestBlock(d, n);
            return fault(kErrStartsign);
        default: return fault(kErrStartsign);
    }
}
