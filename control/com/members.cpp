// The rows of IMBusOrlX4 and the code behind them.
//
// Every property and method acts on the current channel at the moment of
// the call (or on no channel at all). Invalid arguments and out-of-range
// puts are ignored: the old value stays, a method does nothing, a string
// getter gives an empty text.

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "control/com/dispatch_table.h"
#include "control/com/library.h"
#include "control/com/script_parser.h"
#include "control/decode/answer_text.h"
#include "control/decode/conversions.h"
#include "control/decode/options.h"
#include "control/decode/text_tables.h"
#include "control/engine/locks.h"
#include "control/line/line_texts.h"
#include "control/line/trace.h"
#include "control/link/des.h"
#include "control/link/radio.h"
#include "platform/text/codepage.h"
#include "platform/text/hex.h"

namespace mbus::control {
namespace {

using engine::Channel;
using engine::ConnectionParameters;
using CP = ConnectionParameters;

std::shared_ptr<Channel> Ch() { return Library::Instance().Current(); }
std::shared_ptr<ChannelRecord> Rec() { return Library::Instance().CurrentRecord(); }

Value L(int32_t n) { return Value::Long(n); }
Value S(std::string s) { return Value::String(std::move(s)); }

using text::HexDigitValue;

std::string Hex(const uint8_t* bytes, std::size_t n) { return text::HexText(bytes, n); }

// Hexadecimal digit pairs from the start of the text; a pair that is not
// two hexadecimal digits is dropped, at most `limit` bytes.
std::vector<uint8_t> HexPairs(std::string_view text, std::size_t limit = SIZE_MAX) {
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < text.size() && bytes.size() < limit; i += 2) {
        const int hi = HexDigitValue(text[i]), lo = HexDigitValue(text[i + 1]);
        if (hi >= 0 && lo >= 0) bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return bytes;
}

// Groups of three decimal digits, each the byte of its number modulo 256;
// the digits are not checked and an incomplete last group is ignored.
std::vector<uint8_t> DecTriples(std::string_view text, std::size_t limit = SIZE_MAX) {
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i + 2 < text.size() && bytes.size() < limit; i += 3) {
        const int n = (text[i] - '0') * 100 + (text[i + 1] - '0') * 10 + (text[i + 2] - '0');
        bytes.push_back(static_cast<uint8_t>(n & 0xFF));
    }
    return bytes;
}

bool IsAddress(int32_t a) { return a >= 0 && a <= 255; }

// ---- COM: line parameters -------------------------------------------------------

template <int32_t CP::*F>
Value ComGet(const Args&) {
    const auto ch = Ch();
    return L(ch ? ch->Parameters().*F : 0);
}
template <int32_t CP::*F>
void ComPut(const Args&, const Value& v) {
    if (const auto ch = Ch()) ch->UpdateParameters([&](CP& p) { p.*F = v.number; });
}
void PutWaitMode(const Args&, const Value& v) {
    if (v.number < 0 || v.number > 2) return;
    if (const auto ch = Ch()) ch->UpdateParameters([&](CP& p) { p.waitMode = v.number; });
}

// Runs `f(MBLayer1&)` on the current channel's line; `otherwise` without one.
template <class F, class R>
R OnLine(F f, R otherwise) {
    const auto ch = Ch();
    if (!ch) return otherwise;
    return ch->WithLayers([&](MBLayer7& l) { return f(l.link.line); });
}
template <class F>
void OnLine(F f) {
    if (const auto ch = Ch()) ch->WithLayers([&](MBLayer7& l) { f(l.link.line); });
}
template <class F>
void OnLink(F f) {
    if (const auto ch = Ch()) ch->WithLayers([&](MBLayer7& l) { f(l.link); });
}

Value LineStatus(const Args&) {
    return L(OnLine([](MBLayer1& l) { return static_cast<int32_t>(l.status.load()); }, 1));
}

// ---- APP: transactions ------------------------------------------------------------

void RequestShort(engine::RequestCode code, int32_t address) {
    if (!IsAddress(address)) return;
    if (const auto ch = Ch()) ch->RequestShort(code, address);
}
void SndUd(int32_t address, const std::vector<uint8_t>& data, bool decimal) {
    if (!IsAddress(address) || data.empty()) return;
    if (const auto ch = Ch()) ch->RequestSndUd(address, data, decimal);
}
void Raw(const std::vector<uint8_t>& data, bool decimal, bool noReceive) {
    if (data.empty()) return;
    if (const auto ch = Ch()) ch->RequestRaw(data, decimal, noReceive);
}
void Interpret(const std::string& text, bool decimal) {
    if (text.size() < 2) return;
    const std::size_t limit = mbus::line::kBufferSize;
    const std::vector<uint8_t> bytes = decimal ? DecTriples(text, limit) : HexPairs(text, limit);
    if (const auto ch = Ch()) ch->InterpretTelegram(bytes);
}

engine::SecondaryAddress Secondary(const Args& a, std::size_t first) {
    return {a.S(first), a.S(first + 1), a.S(first + 2), a.S(first + 3)};
}
template <class Build>
void SelectWith(Build build) {
    if (const auto ch = Ch()) ch->Select(build(ch->TunnelMode()));
}

// ---- APP: the decoded answer ----------------------------------------------------------

template <int (*F)(const AnswerView&)>
Value AnswerLong(const Args&) {
    const auto ch = Ch();
    if (!ch) return L(-1);
    const auto answer = ch->Answer();
    return L(F(answer->View()));
}
template <std::string (*F)(const AnswerView&)>
Value AnswerText(const Args&) {
    const auto ch = Ch();
    if (!ch) return S({});
    const auto answer = ch->Answer();
    return S(F(answer->View()));
}
template <int (*F)(const AnswerView&, int)>
Value RecordLong(const Args& a) {
    const auto ch = Ch();
    if (!ch) return L(-1);
    const auto answer = ch->Answer();
    return L(F(answer->View(), a.L(0)));
}
template <std::string (*F)(const AnswerView&, int)>
Value RecordText(const Args& a) {
    const auto ch = Ch();
    if (!ch) return S({});
    const auto answer = ch->Answer();
    return S(F(answer->View(), a.L(0)));
}
template <CookedVariant V>
Value Cooked(const Args&) {
    const auto ch = Ch();
    if (!ch) return S({});
    const auto answer = ch->Answer();
    return S(CookedData(answer->View(), V));
}
template <bool HexForm>
Value Raw(const Args&) {
    const auto ch = Ch();
    if (!ch) return S({});
    const auto answer = ch->Answer();
    return S(RawData(answer->View(), HexForm));
}
Value VIBByte(const Args& a) {
    const auto ch = Ch();
    if (!ch) return L(-1);
    const auto answer = ch->Answer();
    return L(answer::VIB(answer->View(), a.L(0), a.L(1)));
}
Value FollowingTelegram(const Args&) {
    const auto ch = Ch();
    if (!ch) return L(0);
    return L(ch->Following());
}

// ---- ML2 ---------------------------------------------------------------------------------

template <class F>
void Direct(std::mutex& lock, F send) {
    if (const auto ch = Ch()) ch->DirectSend(lock, send);
}
int32_t Field(int which) {
    const auto ch = Ch();
    if (!ch) return -1;
    const int kind = ch->LastReceptionKind();
    if (which == 2) return (kind == 2 || kind == 3) ? ch->CI() : -1;
    if (kind < 1 || kind > 3) return -1;
    return which == 0 ? ch->C() : ch->A();
}

// ---- ML7 ---------------------------------------------------------------------------------

text::CodePage Page() { return text::CodePageOfLanguage(CurrentLanguage()); }

int32_t CalculateManufacturer(const std::string& text) {
    if (!Ch()) return -1;
    char letters[4] = {};
    std::memcpy(letters, text.data(), std::min<std::size_t>(3, text.size()));
    uint16_t number = 0;
    mbus::CalculateManufacturer(letters, &number);
    return number;
}
std::string ExtractManufacturer(int32_t number) {
    if (!Ch()) return {};
    char letters[4] = {};
    mbus::ExtractManufacturer(static_cast<uint16_t>(number), letters);
    return letters;
}
int32_t CalculateMedium(int32_t variable, const std::string& utf8) {
    if (!Ch()) return -1;
    std::string name = text::FromUtf8(utf8, Page());
    if (name.size() > 99) name.resize(99);
    uint8_t code = 0;
    mbus::CalculateMedium(variable, name.c_str(), &code);
    return code;
}
std::string ExtractMedium(int32_t variable, int32_t code) {
    if (!Ch()) return {};
    const int language = CurrentLanguage();
    return text::ToUtf8(mbus::MediumName(variable, static_cast<uint8_t>(code), language),
                        text::CodePageOfLanguage(language));
}
std::string ChangeMediumLanguage(int32_t from, int32_t to, const std::string& utf8) {
    if (!Ch()) return {};
    if (from < 0 || from > 9 || to < 0 || to > 9) return utf8;
    const std::string before = text::FromUtf8(utf8, text::CodePageOfLanguage(from));
    if (before.size() > 31) return utf8;
    char name[40] = {};
    std::memcpy(name, before.data(), before.size());
    mbus::ChangeMediumLanguage(from, to, name);
    if (before == name) return utf8;
    return text::ToUtf8(name, text::CodePageOfLanguage(to));
}

// ---- OPT and OPX -------------------------------------------------------------------------

template <MBusOptionStruct::Word MBusOptionStruct::*F>
Value OptGet(const Args&) {
    return L((MBusOption.*F).load());
}
template <MBusOptionStruct::Word MBusOptionStruct::*F>
void OptPut(const Args&, const Value& v) {
    (MBusOption.*F).store(v.number);
}
template <MBusTestOptionStruct::Word MBusTestOptionStruct::*F>
Value OpxGet(const Args&) {
    return L((MBusTestOption.*F).load());
}
template <MBusTestOptionStruct::Word MBusTestOptionStruct::*F>
void OpxPut(const Args&, const Value& v) {
    (MBusTestOption.*F).store(v.number);
}

Value LanguageGet(const Args&) { return L(MBusLanguage.load()); }
void LanguagePut(const Args&, const Value& v) {
    if (v.number >= 0 && v.number <= 9) MBusLanguage.store(v.number);
}

bool IsHex(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return HexDigitValue(c) >= 0; });
}

std::string DESBlock(int32_t encrypt, const std::string& keyHex, const std::string& valueHex) {
    if (keyHex.size() != 16 || valueHex.size() != 16 || !IsHex(keyHex) || !IsHex(valueHex)) return {};
    const std::vector<uint8_t> key = HexPairs(keyHex);
    std::vector<uint8_t> block = HexPairs(valueHex);
    const link::DES des(key.data());
    if (encrypt != 0)
        des.EncryptBlock(block.data(), block.data());
    else
        des.DecryptBlock(block.data(), block.data());
    return Hex(block.data(), block.size());
}

std::string DESChain(int32_t encrypt, const std::string& keyHex, const std::string& valueHex) {
    if (keyHex.size() != 16 || !IsHex(keyHex)) return {};
    const std::vector<uint8_t> key = HexPairs(keyHex);
    std::vector<uint8_t> data = HexPairs(std::string_view(valueHex).substr(0, std::min<std::size_t>(4096, valueHex.size())));
    const link::DES des(key.data());
    constexpr std::size_t kBlock = link::kDESBlockSize;
    // The first block is the initialisation vector and stays as it is.
    const std::size_t blocks = data.size() / kBlock;
    if (encrypt != 0) {
        for (std::size_t b = 1; b < blocks; ++b) {
            uint8_t* block = data.data() + b * kBlock;
            for (std::size_t i = 0; i < kBlock; ++i) block[i] ^= block[i - kBlock];
            des.EncryptBlock(block, block);
        }
    } else {
        for (std::size_t b = blocks; b-- > 1;) {
            uint8_t* block = data.data() + b * kBlock;
            des.DecryptBlock(block, block);
            for (std::size_t i = 0; i < kBlock; ++i) block[i] ^= block[i - kBlock];
        }
    }
    return Hex(data.data(), data.size());
}

void PutKAVOSKey(const std::string& hex) {
    const std::string_view digits = std::string_view(hex).substr(0, std::min<std::size_t>(16, hex.size()));
    if (!IsHex(digits)) return;
    link::RadioKey key{};
    for (std::size_t i = 0; i < digits.size(); ++i) {
        const int d = HexDigitValue(digits[i]);
        key[i / 2] = static_cast<uint8_t>(key[i / 2] | (i % 2 == 0 ? d << 4 : d));
    }
    const int count = static_cast<int>(digits.size() + digits.size() % 2);
    link::UpdateRadioKeys([&](link::RadioKeys& k) {
        k.kavosUserKey = key;
        k.kavosUserDigits = count;
    });
}

// ---- LNG -----------------------------------------------------------------------------------

template <TextTable T>
Value CellGet(const Args& a) {
    const int language = a.L(0), row = a.L(1);
    if (language < 0 || language > 9 || row < 0 || static_cast<std::size_t>(row) >= ShapeOf(T).rows) return S({});
    return S(CellUtf8(T, row, language));
}
template <TextTable T>
void CellPut(const Args& a, const Value& v) {
    const int language = a.L(0), row = a.L(1);
    if (language != kUserLanguage || row < 0 || static_cast<std::size_t>(row) >= ShapeOf(T).rows) return;
    WriteUserCell(T, row, language, v.text);
}

Value UARTMessageGet(const Args& a) {
    const int language = a.L(0);
    if (language < 0 || language > 9) return S({});
    return S(mbus::line::LineStatusText(mbus::line::kLinePortOpenFailed, language));
}
void UARTMessagePut(const Args& a, const Value& v) {
    if (a.L(0) == kUserLanguage) mbus::line::WriteLineText(0, kUserLanguage, v.text);
}
Value Layer1MessageGet(const Args& a) {
    const int language = a.L(0), n = a.L(1);
    if (language < 0 || language > 9 || n < 0 || n > 7) return S({});
    return S(mbus::line::LineStatusText(n + 3, language));
}
void Layer1MessagePut(const Args& a, const Value& v) {
    const int n = a.L(1);
    if (a.L(0) == kUserLanguage && n >= 0 && n <= 7)
        mbus::line::WriteLineText(n + 1, kUserLanguage, v.text);
}
Value Layer7MessageGet(const Args& a) {
    const int language = a.L(0), n = a.L(1);
    if (language < 0 || language > 9 || n < 0 || n > 9) return S({});
    return S(link::ErrorClassText(n, language));
}
void Layer7MessagePut(const Args& a, const Value& v) {
    const int n = a.L(1);
    if (a.L(0) == kUserLanguage && n >= 0 && n <= 9)
        link::WriteErrorClassText(n, kUserLanguage, v.text);
}

// ---- Utilities -----------------------------------------------------------------------------

Value DebugFileNameGet(const Args&) { return S(text::ToUtf8(mbus::line::TraceFileName(), text::CodePage::Windows1252)); }
void DebugFileNamePut(const Args&, const Value& v) {
    // The low byte of each character, at most 289 of them.
    std::string name;
    for (char16_t c : text::Utf8ToUtf16(v.text)) {
        if (name.size() == 289) break;
        name += static_cast<char>(c & 0xFF);
    }
    if (const std::size_t zero = name.find('\0'); zero != std::string::npos) name.resize(zero);
    mbus::line::SetTraceFileName(name);
}


// ---- LOG and SCR ---------------------------------------------------------------------------

template <class F>
Value WithLog(F f, Value otherwise) {
    const auto r = Rec();
    return r ? f(*r->log) : otherwise;
}
template <CookedVariant V>
Value LogCooked(const Args& a) {
    return WithLog([&](TelegramLog& l) { return S(l.RetrieveCooked(a.L(0), a.L(1), V)); }, S({}));
}
template <bool HexForm>
Value LogRaw(const Args& a) {
    return WithLog([&](TelegramLog& l) { return S(l.RetrieveRaw(a.L(0), a.L(1), HexForm)); }, S({}));
}

// A script option of the current channel with the range its puts accept.
template <std::atomic<int32_t> ScriptRunner::*F, int32_t Low, int32_t High>
Value ScriptOptionGet(const Args&) {
    const auto r = Rec();
    return L(r ? (r->script.*F).load() : 0);
}
template <std::atomic<int32_t> ScriptRunner::*F, int32_t Low, int32_t High>
void ScriptOptionPut(const Args&, const Value& v) {
    const auto r = Rec();
    if (r && v.number >= Low && v.number <= High) (r->script.*F).store(v.number);
}

std::string SlaveListText(bool hex) {
    const auto r = Rec();
    if (!r) return {};
    std::string text = r->script.SlaveList();
    if (hex) text = HexSlaveList(text);
    return text;
}

// Block `block` of the list, 510 characters (ten entries); empty for a
// block outside the list, a negative number included.
std::string SlaveListBlock(bool hex, int32_t block) {
    if (block < 0) return {};
    const std::string text = SlaveListText(hex);
    const std::size_t from = static_cast<std::size_t>(block) * 510;
    return from < text.size() ? text.substr(from, 510) : std::string();
}

// A modem setting of the current channel: a put outside its range stores
// `Default` (or is ignored when `Default` is -1).
template <int32_t engine::ModemParameters::*F, int32_t Low, int32_t High, int32_t Default>
Value ModemGet(const Args&) {
    const auto ch = Ch();
    return L(ch ? ch->Modem().*F : Default);
}
template <int32_t engine::ModemParameters::*F, int32_t Low, int32_t High, int32_t Default>
void ModemPut(const Args&, const Value& v) {
    const auto ch = Ch();
    if (!ch) return;
    if (v.number < Low || v.number > High) {
        if (Default < 0) return;
        ch->UpdateModem([&](engine::ModemParameters& m) { m.*F = Default; });
        return;
    }
    ch->UpdateModem([&](engine::ModemParameters& m) { m.*F = v.number; });
}


// ---- Data loggers (SP1 to SP4) ----------------------------------------------------------------

// An interface-device command: the escape flag off, then `bytes` sent with the request `code`.
void DeviceCommand(const std::string& line, std::vector<uint8_t> bytes, int code) {
    const auto ch = Ch();
    if (!ch) return;
    ch->WithLayers([](MBLayer7& l) { l.link.escapeIsControl.store(0); });
    ch->Request(line, code, 0, std::move(bytes), engine::Channel::FirstSend::Raw);
}
std::vector<uint8_t> Escape(std::initializer_list<uint8_t> tail, const std::string& text = {}) {
    std::vector<uint8_t> b = {0x1B, 0x1B, 0x1B};
    b.insert(b.end(), tail.begin(), tail.end());
    b.insert(b.end(), text.begin(), text.end());
    return b;
}
// The relayed M-Bus requests go through the interface device in the escape wrapper.
template <class F>
void Relayed(bool tunnel, F request) {
    const auto ch = Ch();
    if (!ch) return;
    ch->WithLayers([&](MBLayer7& l) {
        l.link.line.escapeWrapper.store(tunnel ? 1 : 0);
        l.link.escapeIsControl.store(tunnel ? 0 : 1);
    });
    request();
}
void ChangeLoggerBaudrate(int32_t baud) {
    static const int32_t kRates[] = {300, 600, 1200, 2400, 4800, 9600};
    for (uint8_t code = 0; code < 6; ++code)
        if (kRates[code] == baud)
            DeviceCommand("100||COM1," + std::to_string(baud) +
                              ",8,1,E,RTS_Reset,DTR_Reset,TA=330,TO=50,TB=4,NoWait,Retries=3,DT=11,HS=0",
                          Escape({0x31, code}), engine::kRequestListen);
}
// An empty YMODEM header block ends a batch; it goes out once.
void UploadEndCommand() {
    const auto ch = Ch();
    if (!ch) return;
    std::vector<uint8_t> block(133, 0x00);
    block[0] = 0x01;
    block[2] = 0xFF;
    ch->Request(engine::RequestLogLine(13, "||" + engine::DataEcho(block, false), ch->TunnelMode()),
                engine::kRequestNone, 0, block);
}

// A folder for downloads: empty (memory) stays empty.
std::string Folder(const std::string& path) { return path.substr(0, std::min<std::size_t>(250, path.size())); }

// A search mode with the bits of a search variant added (wrapping, as the
// 32-bit word does).
int32_t WithVariant(int32_t mode, uint32_t bits) {
    return static_cast<int32_t>(static_cast<uint32_t>(mode) + bits);
}

// The pause after each step cannot change while a script runs.
void PutLineDelay(const Args& a, const Value& v) {
    const auto r = Rec();
    if (r && r->script.Status() == 0) ScriptOptionPut<&ScriptRunner::lineDelay, 0, 1000>(a, v);
}

// Script text: the characters of the host's string as 8-bit text.
std::string ScriptText(const std::string& utf8) { return text::FromUtf8(utf8, text::CodePage::Windows1252); }

#define GET(expr) [](const Args& a) -> Value { (void)a; return expr; }
#define PUT(stmt) [](const Args& a, const Value& v) { (void)a; (void)v; stmt; }
#define CALL(stmt) [](const Args& a) { (void)a; stmt; }

constexpr Kind G = Kind::Get, GP = Kind::GetPut, M = Kind::Method;
constexpr Type N = Type::None, I = Type::Long, T = Type::String;
using O = MBusOptionStruct;
using TO = MBusTestOptionStruct;
using engine::Locks;
using answer::CField, answer::AField, answer::CIField;

#define COM(id, name, field) {id, name, GP, "", I, &ComGet<&CP::field>, &ComPut<&CP::field>, nullptr}
#define OPT(id, name) {id, #name, GP, "", I, &OptGet<&O::name>, &OptPut<&O::name>, nullptr}
#define OPX(id, name) {id, #name, GP, "", I, &OpxGet<&TO::name>, &OpxPut<&TO::name>, nullptr}
#define LNG(id, name, code, table) \
    {id, name, GP, "long Language, long " code, T, &CellGet<TextTable::table>, &CellPut<TextTable::table>, nullptr}
#define LATER(id, name, kind, args, value) {id, name, kind, args, value, nullptr, nullptr, nullptr}
#define SCROPT(id, name, field, low, high)                                                              \
    {id, name, GP, "", I, &ScriptOptionGet<&ScriptRunner::field, low, high>,                            \
     &ScriptOptionPut<&ScriptRunner::field, low, high>, nullptr}
#define LOGRANGE "long StartIndex, long EndIndex"
#define TEL(id, name, field, low, high, dflt)                                                             \
    {id, name, GP, "", I, &ModemGet<&engine::ModemParameters::field, low, high, dflt>,                     \
     &ModemPut<&engine::ModemParameters::field, low, high, dflt>, nullptr}

const Member kMembers[] = {
    COM(1, "COMBaudrate", baud),
    COM(2, "COMDatabits", dataBits),
    COM(3, "COMDeadtime", DT),
    COM(4, "COMDTROption", dtr),
    COM(5, "COMFIFOOn", fifo),
    COM(6, "COMHighSpeed", highSpeed),
    COM(7, "COMParity", parity),
    COM(8, "COMPort", port),
    COM(9, "COMRetries", retries),
    COM(10, "COMRTSOption", rts),
    COM(11, "COMStopbits", stopBits),
    COM(12, "COMTimeoutByte", TB),
    COM(13, "COMTimeoutOffset", TO),
    COM(14, "COMTimeout", TA),
    {15, "COMIsOpen", G, "", I, &LineStatus, nullptr, nullptr},
    {16, "COMOpen", M, "", N, nullptr, nullptr, CALL(if (auto ch = Ch()) ch->Open())},
    {17, "COMClose", M, "", N, nullptr, nullptr, CALL(if (auto ch = Ch()) ch->ReplaceLayers())},
    {18, "COMSetRTS", M, "", N, nullptr, nullptr, CALL(OnLine([](MBLayer1& l) { l.SetRTS(); }))},
    {19, "COMResetRTS", M, "", N, nullptr, nullptr, CALL(OnLine([](MBLayer1& l) { l.ResetRTS(); }))},
    {20, "COMSetDTR", M, "", N, nullptr, nullptr, CALL(OnLine([](MBLayer1& l) { l.SetDTR(); }))},
    {21, "COMResetDTR", M, "", N, nullptr, nullptr, CALL(OnLine([](MBLayer1& l) { l.ResetDTR(); }))},
    {22, "APPInitCom", M, "long COMPort, long Baudrate", N, nullptr, nullptr, CALL(if (auto ch = Ch()) {
         ch->UpdateParameters([&](CP& p) {
             p.port = a.L(0);
             p.baud = a.L(1);
         });
         ch->Open();
     })},
    {23, "APPIsComOpen", G, "", I, &LineStatus, nullptr, nullptr},
    {24, "APPReceiveTest", G, "", I, GET(L(Ch() ? Ch()->TransactionResult() : 4)), nullptr, nullptr},
    {25, "APPReceiveError", G, "", I, GET(L(OnLine([](MBLayer1& l) { return int32_t{l.errorWord.load()}; }, 256))),
     nullptr, nullptr},
    {26, "APPREQUD1", M, "long Address", N, nullptr, nullptr, CALL(RequestShort(engine::kRequestREQUD1, a.L(0)))},
    {27, "APPREQUD2", M, "long Address", N, nullptr, nullptr, CALL(RequestShort(engine::kRequestREQUD2, a.L(0)))},
    {28, "APPRetrieveCookedDataDec", G, "", T, &Cooked<CookedVariant::Dec>, nullptr, nullptr},
    {29, "APPRetrieveCookedDataHex", G, "", T, &Cooked<CookedVariant::Hex>, nullptr, nullptr},
    {30, "APPRetrieveRawDataDec", G, "", T, &Raw<false>, nullptr, nullptr},
    {31, "APPRetrieveRawDataHex", G, "", T, &Raw<true>, nullptr, nullptr},
    {32, "APPSendHex", M, "string DataStr", N, nullptr, nullptr, CALL(Raw(HexPairs(a.S(0)), false, false))},
    {33, "APPSendDec", M, "string DataStr", N, nullptr, nullptr, CALL(Raw(DecTriples(a.S(0)), true, false))},
    {34, "APPSNDNKE", M, "long Address", N, nullptr, nullptr, CALL(RequestShort(engine::kRequestSNDNKE, a.L(0)))},
    {35, "APPSNDUDDec", M, "long Address, string DataStr", N, nullptr, nullptr,
     CALL(SndUd(a.L(0), DecTriples(a.S(1)), true))},
    {36, "APPSNDUDHex", M, "long Address, string DataStr", N, nullptr, nullptr,
     CALL(SndUd(a.L(0), HexPairs(a.S(1)), false))},
    {37, "APPCField", G, "", I, &AnswerLong<answer::CField>, nullptr, nullptr},
    {38, "APPAField", G, "", I, &AnswerLong<answer::AField>, nullptr, nullptr},
    {39, "APPCIField", G, "", I, &AnswerLong<answer::CIField>, nullptr, nullptr},
    {40, "APPDeviceID", G, "", I, &AnswerLong<answer::DeviceID>, nullptr, nullptr},
    {41, "APPManufacturerID", G, "", I, &AnswerLong<answer::ManufacturerID>, nullptr, nullptr},
    {42, "APPManufacturerIDAsc", G, "", T, &AnswerText<answer::ManufacturerIDAsc>, nullptr, nullptr},
    {43, "APPGenerationNo", G, "", I, &AnswerLong<answer::GenerationNo>, nullptr, nullptr},
    {44, "APPTransmissionCount", G, "", I, &AnswerLong<answer::TransmissionCount>, nullptr, nullptr},
    {45, "APPTelegramStatus", G, "", I, &AnswerLong<answer::TelegramStatus>, nullptr, nullptr},
    {46, "APPSignature", G, "", I, &AnswerLong<answer::Signature>, nullptr, nullptr},
    {47, "APPMedium", G, "", I, &AnswerLong<answer::Medium>, nullptr, nullptr},
    {48, "APPMediumAsc", G, "", T, &AnswerText<answer::MediumAsc>, nullptr, nullptr},
    {49, "APPDataRecordNumber", G, "", I, &AnswerLong<answer::DataRecordNumber>, nullptr, nullptr},
    {50, "APPUnitNo", G, "long DRNumber", I, &RecordLong<answer::UnitNo>, nullptr, nullptr},
    {51, "APPTariffNo", G, "long DRNumber", I, &RecordLong<answer::TariffNo>, nullptr, nullptr},
    {52, "APPStorageNo", G, "long DRNumber", I, &RecordLong<answer::StorageNo>, nullptr, nullptr},
    {53, "APPStorageNoAsc", G, "long DRNumber", T, &RecordText<answer::StorageNoAsc>, nullptr, nullptr},
    {54, "APPDataField", G, "long DRNumber", I, &RecordLong<answer::DataField>, nullptr, nullptr},
    {55, "APPDataFieldAsc", G, "long DRNumber", T, &RecordText<answer::DataFieldAsc>, nullptr, nullptr},
    {56, "APPFunctionField", G, "long DRNumber", I, &RecordLong<answer::FunctionField>, nullptr, nullptr},
    {57, "APPFunctionFieldAsc", G, "long DRNumber", T, &RecordText<answer::FunctionFieldAsc>, nullptr, nullptr},
    {58, "APPVIBAsc", G, "long DRNumber", T, &RecordText<answer::VIBAsc>, nullptr, nullptr},
    {59, "APPValueDec", G, "long DRNumber", T, &RecordText<answer::ValueDec>, nullptr, nullptr},
    {60, "APPValueHex", G, "long DRNumber", T, &RecordText<answer::ValueHex>, nullptr, nullptr},
    {61, "ML1IsReceiveActive", G, "", I, GET(L(OnLine([](MBLayer1& l) { return l.receiveActive.load(); }, -1))),
     nullptr, nullptr},
    {62, "ML1IsTransmitActive", G, "", I, GET(L(OnLine([](MBLayer1& l) { return l.transmitActive.load(); }, -1))),
     nullptr, nullptr},
    {63, "ML1ReceiveError", G, "", I, GET(L(OnLine([](MBLayer1& l) { return int32_t{l.errorWord.load()}; }, 256))),
     nullptr, nullptr},
    {64, "ML1SendBuffer", GP, "long ByteNum", I, GET(L(OnLine(
                                                       [&](MBLayer1& l) {
                                                           const int32_t n = a.L(0);
                                                           return n >= 0 && n < mbus::line::kBufferSize
                                                                      ? int32_t{l.sendBuffer[n]}
                                                                      : -1;
                                                       },
                                                       -1))),
     PUT(OnLine([&](MBLayer1& l) {
         const int32_t n = a.L(0);
         if (n >= 0 && n < mbus::line::kBufferSize) l.sendBuffer[n] = static_cast<uint8_t>(v.number);
     })),
     nullptr},
    {65, "ML1SendBufferStr", GP, "", T,
     GET(S(OnLine(
         [](MBLayer1& l) {
             return Hex(l.sendBuffer, static_cast<std::size_t>(std::clamp(l.sendCount, 0, mbus::line::kBufferSize)));
         },
         std::string()))),
     PUT(OnLine([&](MBLayer1& l) {
         const std::vector<uint8_t> bytes = HexPairs(v.text, mbus::line::kBufferSize);
         std::copy(bytes.begin(), bytes.end(), l.sendBuffer);
         l.sendCount = static_cast<int32_t>(bytes.size());
     })),
     nullptr},
    {66, "ML1SendByteNum", GP, "", I, GET(L(OnLine([](MBLayer1& l) { return l.sendCount; }, -1))),
     PUT(if (v.number >= 0 && v.number <= mbus::line::kBufferSize) OnLine([&](MBLayer1& l) { l.sendCount = v.number; })),
     nullptr},
    {67, "ML2AField", G, "", I, GET(L(Field(1))), nullptr, nullptr},
    {68, "ML2CField", G, "", I, GET(L(Field(0))), nullptr, nullptr},
    {69, "ML2CIField", G, "", I, GET(L(Field(2))), nullptr, nullptr},
    {70, "ML2Data", G, "", T, GET(S([] {
         const auto ch = Ch();
         if (!ch) return std::string();
         const auto answer = ch->Answer();
         return Hex(answer->bytes.data(), answer->bytes.size());
     }())),
     nullptr, nullptr},
    {71, "ML2DataLen", G, "", I, GET(L(Ch() ? static_cast<int32_t>(Ch()->Answer()->bytes.size()) : 0)), nullptr,
     nullptr},
    {72, "ML2FCBitHandling", M, "long Address, long Action", N, nullptr, nullptr,
     CALL(if (IsAddress(a.L(0))) OnLink([&](MBLayer2& l) { l.FCBitHandling(a.L(0), a.L(1)); }))},
    {73, "ML2GetLastCField", G, "", I, GET(L([] {
         int32_t c = 255;
         OnLink([&](MBLayer2& l) { c = l.lastCField.load(); });
         return c;
     }())),
     nullptr, nullptr},
    {74, "ML2ReceivedSomething", G, "", I, GET(L(Ch() ? Ch()->ReceivedSomething() : 0)), nullptr, nullptr},
    {75, "ML2ReceiveTelegram", G, "", I, GET(L(Ch() ? Ch()->TransactionResult() : 4)), nullptr, nullptr},
    {76, "ML2SendControlFrame", M, "long CField, long Address, long CIField", N, nullptr, nullptr,
     CALL(Direct(Locks().sendLong, [&](MBLayer2& l) { return l.SendControlFrame(a.L(0), a.L(1), a.L(2), 0); }))},
    {77, "ML2SendE5", M, "", N, nullptr, nullptr, CALL(Direct(Locks().sendRaw, [](MBLayer2& l) { return l.SendE5(); }))},
    {78, "ML2SendHex", M, "string DataStr", N, nullptr, nullptr, CALL({
         const std::vector<uint8_t> bytes = HexPairs(a.S(0));
         if (!bytes.empty())
             Direct(Locks().sendRaw,
                    [&](MBLayer2& l) { return l.SendHex(bytes.data(), static_cast<int>(bytes.size())); });
     })},
    {79, "ML2SendLongFrame", M, "long CField, long Address, long CIField, string DataStr", N, nullptr, nullptr, CALL({
         const std::vector<uint8_t> bytes = HexPairs(a.S(3));
         Direct(Locks().sendLong, [&](MBLayer2& l) {
             return l.SendLongFrame(a.L(0), a.L(1), a.L(2), bytes.data(), static_cast<int>(bytes.size()), 0);
         });
     })},
    {80, "ML2SendNothing", M, "", N, nullptr, nullptr,
     CALL(Direct(Locks().listen, [](MBLayer2& l) { return l.SendNothing(); }))},
    {81, "ML2SendShortFrame", M, "long CField, long Address", N, nullptr, nullptr,
     CALL(Direct(Locks().sendShort, [&](MBLayer2& l) { return l.SendShortFrame(a.L(0), a.L(1)); }))},
    {82, "ML7CalculateManufacturer", G, "string ManStr", I, GET(L(CalculateManufacturer(a.S(0)))), nullptr, nullptr},
    {83, "ML7CalculateMedium", G, "long FixedOrVariable, string MediumStr", I,
     GET(L(CalculateMedium(a.L(0), a.S(1)))), nullptr, nullptr},
    {84, "ML7ChangeMediumLanguage", G, "long ActLanguage, long NewLanguage, string MediumStr", T,
     GET(S(ChangeMediumLanguage(a.L(0), a.L(1), a.S(2)))), nullptr, nullptr},
    {85, "ML7ExtractManufacturer", G, "long ManID", T, GET(S(ExtractManufacturer(a.L(0)))), nullptr, nullptr},
    {86, "ML7ExtractMedium", G, "long FixedOrVariable, long MediumID", T, GET(S(ExtractMedium(a.L(0), a.L(1)))),
     nullptr, nullptr},
    OPT(87, OPTAutoREQUD1),
    OPT(88, OPTAutoREQUD2),
    OPT(89, OPTFCBFCVoffat255),
    OPT(90, OPTFCBREQUDOption),
    OPT(91, OPTFCBSNDUDOption),
    {92, "OPTLanguage", GP, "", I, &LanguageGet, &LanguagePut, nullptr},
    OPT(93, OPTMessagesOn),
    {94, "OPTNumberOfLanguages", G, "", I, GET(L(kLanguages)), nullptr, nullptr},
    OPT(95, OPTSearchSlaveListReset),
    OPT(96, OPTSecondaryAddressSearch),
    OPT(97, OPTPrimaryAddressSearch),
    OPT(98, OPTValueAfterErrorVIFE),
    OPX(99, OPXTestOptionsEnable),
    OPX(100, OPXSNDUDStartByte1Wrong),
    OPX(101, OPXSNDUDStartByte1Twice),
    OPX(102, OPXSNDUDStartByte2Wrong),
    OPX(103, OPXSNDUDStartByte2Twice),
    OPX(104, OPXSNDUDLengthByte1Wrong),
    OPX(105, OPXSNDUDLengthByte1Twice),
    OPX(106, OPXSNDUDLengthByte2Wrong),
    OPX(107, OPXSNDUDLengthByte2Twice),
    OPX(108, OPXSNDUDCFieldWrong),
    OPX(109, OPXSNDUDCFieldTwice),
    OPX(110, OPXSNDUDCIFieldWrong),
    OPX(111, OPXSNDUDCIFieldTwice),
    OPX(112, OPXSNDUDChecksumWrong),
    OPX(113, OPXSNDUDChecksumTwice),
    OPX(114, OPXSNDUDStopByteWrong),
    OPX(115, OPXSNDUDStopByteTwice),
    OPX(116, OPXREQUDStartByteWrong),
    OPX(117, OPXREQUDStartByteTwice),
    OPX(118, OPXREQUDCFieldWrong),
    OPX(119, OPXREQUDCFieldTwice),
    OPX(120, OPXREQUDChecksumWrong),
    OPX(121, OPXREQUDChecksumTwice),
    OPX(122, OPXREQUDStopByteWrong),
    OPX(123, OPXREQUDStopByteTwice),
    OPX(124, OPXBreakOption),
    {125, "APPRetry", G, "", I, GET(L(Ch() ? Ch()->RetryCounter() : 1)), nullptr, nullptr},
    {126, "APPBreak", M, "", N, nullptr, nullptr, CALL(if (auto ch = Ch()) ch->Break())},
    {127, "LNGLanguage", GP, "", I, &LanguageGet, &LanguagePut, nullptr},
    {128, "LNGNumberOfLanguages", G, "", I, GET(L(kLanguages)), nullptr, nullptr},
    {129, "LNGUARTErrorMessage", GP, "long Language", T, &UARTMessageGet, &UARTMessagePut, nullptr},
    {130, "LNGLayer1ErrorMessage", GP, "long Language, long ErrNumber", T, &Layer1MessageGet, &Layer1MessagePut,
     nullptr},
    {131, "LNGLayer7ErrorMessage", GP, "long Language, long ErrNumber", T, &Layer7MessageGet, &Layer7MessagePut,
     nullptr},
    LNG(132, "LNGMediumFix", "Medium", MediumFix),
    LNG(133, "LNGMediumVar", "Medium", MediumVar),
    LNG(134, "LNGVIF", "VIFCode", VIFVar),
    LNG(135, "LNGVIFFB", "VIFCode", VIFVarFB),
    LNG(136, "LNGVIFFD", "VIFCode", VIFVarFD),
    LNG(137, "LNGVIFE", "VIFECode", VIFEVar),
    LNG(138, "LNGVIFEActions", "VIFECode", VIFEAction),
    {139, "APPCloseCom", M, "", N, nullptr, nullptr, CALL(if (auto ch = Ch()) ch->CloseCom())},
    {140, "APPVIB", G, "long DRNumber, long VIBByte", I, &VIBByte, nullptr, nullptr},
    {141, "APPRetrieveCookedDataDec2", G, "", T, &Cooked<CookedVariant::Dec2>, nullptr, nullptr},
    {142, "APPRetrieveCookedDataHex2", G, "", T, &Cooked<CookedVariant::Hex2>, nullptr, nullptr},
    {143, "APPVersion", G, "", I, GET(L(134)), nullptr, nullptr},
    {144, "APPChannel", GP, "", I, GET(L(Library::Instance().CurrentIndex())),
     PUT(Library::Instance().Select(v.number)), nullptr},
    {145, "APPListenOnly", M, "", N, nullptr, nullptr, CALL(if (auto ch = Ch()) ch->RequestListen())},
    LNG(146, "LNGUnitFixed", "UnitCode", FixUnits),
    {147, "APPInterpretTelegramHex", M, "string DataStr", N, nullptr, nullptr, CALL(Interpret(a.S(0), false))},
    {148, "APPInterpretTelegramDec", M, "string DataStr", N, nullptr, nullptr, CALL(Interpret(a.S(0), true))},
    {149, "APPLongFrameType", G, "", I, &AnswerLong<answer::LongFrameType>, nullptr, nullptr},
    {150, "APPDeviceIDDec", G, "", I, &AnswerLong<answer::DeviceIDDec>, nullptr, nullptr},
    LNG(151, "LNGStatusFixed", "StatusCode", FixStatus),
    {152, "APPDeSelect", M, "", N, nullptr, nullptr, CALL(if (auto ch = Ch()) ch->DeSelect())},
    {153, "APPSelect", M, "long Mode, string DeviceID, string Manufacturer, string Generation, string Medium", N,
     nullptr, nullptr, CALL(SelectWith([&](bool tunnel) { return engine::BuildSelect(a.L(0), Secondary(a, 1), tunnel); }))},
    {154, "APPSelectFab", M,
     "long Mode, string DeviceID, string Manufacturer, string Generation, string Medium, string Fabrication", N,
     nullptr, nullptr, CALL(SelectWith([&](bool tunnel) {
         return engine::BuildSelectFab(a.L(0), Secondary(a, 1), a.S(5), tunnel);
     }))},
    {155, "APPSelectCustom", M, "long Mode, string CustomerNo, string CustomerAddr", N, nullptr, nullptr,
     CALL(SelectWith([&](bool tunnel) { return engine::BuildSelectCustom(a.L(0), a.S(1), a.S(2), tunnel); }))},
    {156, "ML7CalculateManufacturerAsc", G, "string ManStr", T, GET(S([&] {
         const int32_t n = CalculateManufacturer(a.S(0));
         if (n < 0) return std::string();
         const uint8_t bytes[2] = {static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
         return Hex(bytes, 2);
     }())),
     nullptr, nullptr},
    {157, "ML7CalculateMediumAsc", G, "long FixedOrVariable, string MediumStr", T, GET(S([&] {
         const int32_t n = CalculateMedium(a.L(0), a.S(1));
         if (n < 0) return std::string();
         const uint8_t byte = static_cast<uint8_t>(n);
         return Hex(&byte, 1);
     }())),
     nullptr, nullptr},
    {158, "ML7ExtractManufacturerAsc", G, "string ManID", T, GET(S([&] {
         // First pair the high byte, a second pair (when there is one) the low byte.
         const std::vector<uint8_t> bytes = HexPairs(std::string_view(a.S(0)).substr(0, 4));
         const int32_t n = bytes.empty() ? 0 : bytes.size() == 1 ? bytes[0] << 8 : bytes[0] << 8 | bytes[1];
         return ExtractManufacturer(n);
     }())),
     nullptr, nullptr},
    {159, "ML7ExtractMediumAsc", G, "long FixedOrVariable, string MediumID", T, GET(S([&] {
         std::string digits = a.S(1).substr(0, 2);
         if (digits.size() == 1) digits = "0" + digits;
         const std::vector<uint8_t> code = HexPairs(digits);
         return ExtractMedium(a.L(0), code.empty() ? 0 : code[0]);
     }())),
     nullptr, nullptr},
    {160, "APPHexAscToLong", G, "string Value", I, GET(L(HexAscToLong(a.S(0)))), nullptr, nullptr},
    {161, "APPLongToHexAsc", G, "long Value", T, GET(S(LongToHexAsc(a.L(0)))), nullptr, nullptr},
    {162, "ML1DCDStatus", G, "", I, GET(L(OnLine([](MBLayer1& l) { return l.GetDCDStatus(); }, 0))), nullptr, nullptr},
    {163, "ML1DSRStatus", G, "", I, GET(L(OnLine([](MBLayer1& l) { return l.GetDSRStatus(); }, 0))), nullptr, nullptr},
    {164, "ML1RIStatus", G, "", I, GET(L(OnLine([](MBLayer1& l) { return l.GetRIStatus(); }, 0))), nullptr, nullptr},
    {165, "ML1CTSStatus", G, "", I, GET(L(OnLine([](MBLayer1& l) { return l.GetCTSStatus(); }, 0))), nullptr, nullptr},
    TEL(166, "TELAdditionalTelegramTimeout", additionalTelegramTimeout, 0, 4000000, 6000),
    TEL(167, "TELConnectTimeout", connectTimeout, 5, 600, 60),
    TEL(168, "TELToneOrPulseDial", toneDial, 0, 1, 1),
    {169, "TELStatus", G, "", I, GET(L(Ch() ? Ch()->TelStatus() : 0)), nullptr, nullptr},
    TEL(170, "TELMode", mode, 0, 1, 1),
    {171, "TELMakeCall", M, "long COMPort, long Baudrate, string PhoneNumber", N, nullptr, nullptr,
     CALL(if (auto ch = Ch()) ch->TelMakeCall(a.L(0), a.L(1), ScriptText(a.S(2))))},
    {172, "TELHangUp", M, "", N, nullptr, nullptr, CALL(if (auto ch = Ch()) ch->TelHangUp())},
    {173, "APPDelay", M, "long Milliseconds", N, nullptr, nullptr,
     CALL(if (a.L(0) > 0) std::this_thread::sleep_for(std::chrono::milliseconds(a.L(0))))},
    {174, "SP1Open", M, "", N, nullptr, nullptr, CALL(DeviceCommand("124|||", {0x08, 0x08, 0x08}, engine::kRequestNone))},
    {175, "SP1Login", M, "string Password", N, nullptr, nullptr, CALL({
         const std::string password = ScriptText(a.S(0));
         std::vector<uint8_t> bytes = Escape({0x02}, password);
         bytes.push_back(0x0D);
         DeviceCommand("123|||" + password, bytes, engine::kRequestListen);
     })},
    {176, "SP1Close", M, "", N, nullptr, nullptr, CALL(DeviceCommand("121|||", Escape({0x03, 0x0D}), engine::kRequestRaw))},
    {177, "SP1ReadSecondaryAddress", M, "string SecondaryAddr", N, nullptr, nullptr, CALL({
         std::string chars = a.S(0).substr(0, 8);
         chars.resize(8, 'F');
         DeviceCommand("126|" + chars + "|", Escape({0x15}, chars), engine::kRequestListen);
     })},
    {178, "SP1ReadPrimaryAddress", M, "long PrimaryAddress", N, nullptr, nullptr, CALL(if (IsAddress(a.L(0))) {
         DeviceCommand("125|" + std::to_string(a.L(0)) + "||", Escape({0x14, static_cast<uint8_t>(a.L(0))}),
                       engine::kRequestListen);
     })},
    {179, "TELInit", M, "long COMPort, long Baudrate, string InitString", N, nullptr, nullptr,
     CALL(if (auto ch = Ch()) ch->TelInit(a.L(0), a.L(1), ScriptText(a.S(2))))},
    {180, "SP1DeSelect", M, "", N, nullptr, nullptr, CALL(Relayed(true, [] { if (auto ch = Ch()) ch->DeSelect(); }))},
    {181, "SP1Select", M, "long Mode, string DeviceID, string Manufacturer, string Generation, string Medium", N, nullptr, nullptr,
     CALL(Relayed(true, [&] { SelectWith([&](bool t) { return engine::BuildSelect(a.L(0), Secondary(a, 1), t); }); }))},
    {182, "SP1SelectFab", M,
     "long Mode, string DeviceID, string Manufacturer, string Generation, string Medium, string Fabrication", N,
     nullptr, nullptr, CALL(Relayed(true, [&] {
         SelectWith([&](bool t) { return engine::BuildSelectFab(a.L(0), Secondary(a, 1), a.S(5), t); });
     }))},
    {183, "SP1SelectCustom", M, "long Mode, string CustomerNo, string CustomerAddr", N, nullptr, nullptr,
     CALL(Relayed(true, [&] {
         SelectWith([&](bool t) { return engine::BuildSelectCustom(a.L(0), a.S(1), a.S(2), t); });
     }))},
    {184, "SP1SendDec", M, "string DataStr", N, nullptr, nullptr,
     CALL(Relayed(false, [&] { Raw(DecTriples(a.S(0)), true, false); }))},
    {185, "SP1SendHex", M, "string DataStr", N, nullptr, nullptr,
     CALL(Relayed(false, [&] { Raw(HexPairs(a.S(0)), false, false); }))},
    {186, "SP1SNDNKE", M, "long Address", N, nullptr, nullptr,
     CALL(Relayed(true, [&] { RequestShort(engine::kRequestSNDNKE, a.L(0)); }))},
    {187, "SP1SNDUDDec", M, "long Address, string DataStr", N, nullptr, nullptr,
     CALL(Relayed(true, [&] { SndUd(a.L(0), DecTriples(a.S(1)), true); }))},
    {188, "SP1SNDUDHex", M, "long Address, string DataStr", N, nullptr, nullptr,
     CALL(Relayed(true, [&] { SndUd(a.L(0), HexPairs(a.S(1)), false); }))},
    {189, "SP1REQUD1", M, "long Address", N, nullptr, nullptr,
     CALL(Relayed(true, [&] { RequestShort(engine::kRequestREQUD1, a.L(0)); }))},
    {190, "SP1REQUD2", M, "long Address", N, nullptr, nullptr,
     CALL(Relayed(true, [&] { RequestShort(engine::kRequestREQUD2, a.L(0)); }))},
    {191, "SP1GetSlaveList", M, "", N, nullptr, nullptr, CALL(DeviceCommand("122|||", Escape({0x20}), engine::kRequestNone))},
    {192, "SP1RetrieveSlaveListDec", GP, "", T, GET(S(SlaveListText(false))), PUT(), nullptr},
    {193, "SP1RetrieveSlaveListHex", GP, "", T, GET(S(SlaveListText(true))), PUT(), nullptr},
    {194, "SP1DownloadAllData", M, "", N, nullptr, nullptr, CALL(if (auto ch = Ch()) {
         ch->WithLayers([](MBLayer7& l) { l.link.escapeIsControl.store(0); });
         ch->YmodemDownload({}, Escape({0x13}));
     })},
    {195, "SP1DownloadAllDataCurrentBlock", G, "", I, GET(L(Ch() ? Ch()->YmodemBlock() : 0)), nullptr, nullptr},
    {196, "SP1ChangeBaudrate", M, "long Baudrate", N, nullptr, nullptr, CALL(ChangeLoggerBaudrate(a.L(0)))},
    {197, "SP1DeleteAllData", M, "", N, nullptr, nullptr,
     CALL(DeviceCommand("127|||", DeleteAllDataBytes(), engine::kRequestListen))},
    {198, "LOGMaxEntries", GP, "", I, GET(WithLog([](TelegramLog& l) { return L(l.Capacity()); }, L(0))),
     PUT(if (auto r = Rec()) r->log->SetCapacity(v.number)), nullptr},
    {199, "LOGUpperBound", G, "", I, GET(WithLog([](TelegramLog& l) { return L(l.UpperBound()); }, L(-1))), nullptr,
     nullptr},
    {200, "LOGReset", M, "", N, nullptr, nullptr, CALL(if (auto r = Rec()) r->log->Reset())},
    {201, "LOGRetrieveRawDataDec", G, LOGRANGE, T, &LogRaw<false>, nullptr, nullptr},
    {202, "LOGRetrieveRawDataHex", G, LOGRANGE, T, &LogRaw<true>, nullptr, nullptr},
    {203, "LOGRetrieveCookedDataDec", G, LOGRANGE, T, &LogCooked<CookedVariant::Dec>, nullptr, nullptr},
    {204, "LOGRetrieveCookedDataHex", G, LOGRANGE, T, &LogCooked<CookedVariant::Hex>, nullptr, nullptr},
    {205, "LOGRetrieveCookedDataDec2", G, LOGRANGE, T, &LogCooked<CookedVariant::Dec2>, nullptr, nullptr},
    {206, "LOGRetrieveCookedDataHex2", G, LOGRANGE, T, &LogCooked<CookedVariant::Hex2>, nullptr, nullptr},
    {207, "SP1SynchronizeClock", M, "", N, nullptr, nullptr,
     CALL(DeviceCommand("128|||", InterfaceClockBytes(), engine::kRequestListen))},
    {208, "SCRExecute", M, "string Script", N, nullptr, nullptr,
     CALL(if (auto r = Rec()) r->script.Execute(ScriptText(a.S(0))))},
    {209, "SCRBreak", M, "", N, nullptr, nullptr, CALL(if (auto r = Rec()) r->script.Break())},
    {210, "SCRStatus", G, "", I, GET(L(Rec() ? Rec()->script.Status() : 0)), nullptr, nullptr},
    SCROPT(211, "SCRComOpenTrial", comOpenTrial, 1, 9999),
    SCROPT(212, "SCRMakeCallTrial", makeCallTrial, 1, 9999),
    OPT(213, OPTOnlyVIFUnitsWithoutMultiplier),
    {215, "SCRSlaveSearchPrimary", M, "", N, nullptr, nullptr, CALL(if (auto r = Rec()) r->script.SearchPrimary())},
    {216, "SCRSlaveSearchSecondary", M, "long SearchMode", N, nullptr, nullptr,
     CALL(if (auto r = Rec()) r->script.SearchSecondary(a.L(0)))},
    {217, "SCRSlaveSearchSecondaryFab", M, "long SearchMode", N, nullptr, nullptr,
     CALL(if (auto r = Rec()) r->script.SearchSecondary(WithVariant(a.L(0), 0x10000)))},
    {218, "SCRSlaveSearchSecondaryCustom", M, "long SearchMode", N, nullptr, nullptr,
     CALL(if (auto r = Rec()) r->script.SearchSecondary(WithVariant(a.L(0), 0x20000)))},
    {219, "SCRRetrieveSlaveListDec", GP, "", T, GET(S(SlaveListText(false))), PUT(), nullptr},
    {220, "SCRRetrieveSlaveListHex", GP, "", T, GET(S(SlaveListText(true))), PUT(), nullptr},
    {221, "APPRetrieveCookedDataDec3", G, "", T, &Cooked<CookedVariant::Dec3>, nullptr, nullptr},
    {222, "APPRetrieveCookedDataHex3", G, "", T, &Cooked<CookedVariant::Hex3>, nullptr, nullptr},
    {223, "LOGRetrieveCookedDataDec3", G, LOGRANGE, T, &LogCooked<CookedVariant::Dec3>, nullptr, nullptr},
    {224, "LOGRetrieveCookedDataHex3", G, LOGRANGE, T, &LogCooked<CookedVariant::Hex3>, nullptr, nullptr},
    {225, "OPTCalcVIFUnitWithoutMultiplier", G, "string VIB", T, GET(S(CalcVIFUnitWithoutMultiplier(a.S(0)))),
     nullptr, nullptr},
    {226, "SCRLineDelay", GP, "", I, &ScriptOptionGet<&ScriptRunner::lineDelay, 0, 1000>, &PutLineDelay, nullptr},
    {227, "SCRSlaveSearchCurAddress", G, "", T, GET(S(Rec() ? Rec()->script.CurrentSearchAddress() : std::string())),
     nullptr, nullptr},
    {228, "COMTimeoutParam", GP, "", I, &ComGet<&CP::waitMode>, &PutWaitMode, nullptr},
    SCROPT(229, "SCRAutoBaudSNDUD", autoBaudSwitch, INT32_MIN, INT32_MAX),
    SCROPT(230, "SCRNoBaudChangeWhileConnected", noBaudChangeWhileConnected, INT32_MIN, INT32_MAX),
    SCROPT(231, "SCRAutoREQUD2on1F", autoREQUD2on1F, 0, 100000),
    {232, "SP2DownloadAllData", M, "", N, nullptr, nullptr, CALL(if (auto ch = Ch()) ch->TextDownload())},
    {233, "APPValueDat", G, "long DRNumber", T, &RecordText<answer::ValueDat>, nullptr, nullptr},
    {234, "APPValueDT", G, "long DRNumber", T, &RecordText<answer::ValueDT>, nullptr, nullptr},
    {235, "APPFloatToHexAsc", G, "string DataStr", T, GET(S(FloatToHexAsc(a.S(0)))), nullptr, nullptr},
    {236, "APPDateToHexAsc", G, "string DataStr", T, GET(S(DateToHexAsc(a.S(0)))), nullptr, nullptr},
    {237, "APPExit", M, "", N, nullptr, nullptr, CALL(Library::Instance().ExitLater())},
    {238, "APPSelectSp", M,
     "long Mode, string DeviceID, string Manufacturer, string Generation, string Medium, string Special", N, nullptr,
     nullptr, CALL(SelectWith([&](bool tunnel) {
         return engine::BuildSelectSp(a.L(0), Secondary(a, 1), a.S(5), tunnel);
     }))},
    {239, "SP1SelectSp", M,
     "long Mode, string DeviceID, string Manufacturer, string Generation, string Medium, string Special", N, nullptr,
     nullptr, CALL(Relayed(true, [&] {
         SelectWith([&](bool t) { return engine::BuildSelectSp(a.L(0), Secondary(a, 1), a.S(5), t); });
     }))},
    {240, "ML1ReceiveBuffer", G, "long ByteNum", T, GET(S(OnLine(
                                                         [&](MBLayer1& l) {
                                                             const int32_t n = a.L(0);
                                                             const int32_t count = l.receiveCount.load();
                                                             if (n < 0 || n >= count || n >= mbus::line::kBufferSize)
                                                                 return std::string();
                                                             return Hex(&l.receiveBuffer[n], 1);
                                                         },
                                                         std::string()))),
     nullptr, nullptr},
    {241, "SP3DownloadAllData", M, "long Address", N, nullptr, nullptr, CALL(if (IsAddress(a.L(0))) {
         if (auto ch = Ch()) {
             ch->WithLayers([](MBLayer7& l) { l.link.line.escapeWrapper.store(0); });
             ch->RequestSelectedRead(a.L(0));
         }
     })},
    TEL(242, "TELAdditionalTimeoutByte", additionalTimeoutByte, 0, 100000, 5000),
    {243, "SP1RetrieveSlaveListDec1", G, "long BlockNum", T, GET(S(SlaveListBlock(false, a.L(0)))), nullptr, nullptr},
    {244, "SP1RetrieveSlaveListHex1", G, "long BlockNum", T, GET(S(SlaveListBlock(true, a.L(0)))), nullptr, nullptr},
    {245, "SCRRetrieveSlaveListDec1", G, "long BlockNum", T, GET(S(SlaveListBlock(false, a.L(0)))), nullptr, nullptr},
    {246, "SCRRetrieveSlaveListHex1", G, "long BlockNum", T, GET(S(SlaveListBlock(true, a.L(0)))), nullptr, nullptr},
    {247, "COMSetIRDAOn", M, "", N, nullptr, nullptr, CALL(OnLine([](MBLayer1& l) { l.SetIRDAOff(); }))},
    {248, "COMSetIRDAOff", M, "", N, nullptr, nullptr, CALL(OnLine([](MBLayer1& l) { l.SetIRDAOff(); }))},
    SCROPT(249, "SCRSlaveSearchDelay", searchDelay, 0, 10000),
    {250, "APPSendHexNoReceive", M, "string DataStr", N, nullptr, nullptr, CALL(Raw(HexPairs(a.S(0)), false, true))},
    {251, "OPTDESEncryption", G, "long Encrypt, string DESKey, string DESValue", T,
     GET(S(DESBlock(a.L(0), a.S(1), a.S(2)))), nullptr, nullptr},
    {252, "OPTDESEncryptionCBC", G, "long Encrypt, string DESKey, string DESValue", T,
     GET(S(DESChain(a.L(0), a.S(1), a.S(2)))), nullptr, nullptr},
    {253, "OPTDESKey", GP, "", T, GET(S(link::GetDESKeyHex())), PUT(link::SetDESKeyHex(v.text)), nullptr},
    {254, "APPSelectPrim", M,
     "long Mode, string DeviceID, string Manufacturer, string Generation, string Medium, long PrimAddress", N, nullptr,
     nullptr, CALL(SelectWith([&](bool tunnel) {
         return engine::BuildSelectPrim(a.L(0), Secondary(a, 1), a.L(5), tunnel);
     }))},
    {255, "SP1SelectPrim", M,
     "long Mode, string DeviceID, string Manufacturer, string Generation, string Medium, long PrimAddress", N, nullptr,
     nullptr, CALL(Relayed(true, [&] {
         SelectWith([&](bool t) { return engine::BuildSelectPrim(a.L(0), Secondary(a, 1), a.L(5), t); });
     }))},
    {256, "SCRSlaveSearchSecondaryPrim", M, "long SearchMode", N, nullptr, nullptr,
     CALL(if (auto r = Rec()) r->script.SearchSecondary(WithVariant(a.L(0), 0x40000)))},
    SCROPT(257, "SCRSlaveSearchListWithErrorMessages", searchListWithErrors, INT32_MIN, INT32_MAX),
    {258, "SP4YMODEMDownload", M, "string PathName", N, nullptr, nullptr,
     CALL(if (auto ch = Ch()) ch->YmodemDownload(Folder(a.S(0)).empty() ? std::string(".") : Folder(a.S(0)), {}))},
    {259, "SP4YMODEMUpload", M, "string FileName", N, nullptr, nullptr, CALL(if (auto ch = Ch()) ch->YmodemUpload(a.S(0)))},
    {260, "SP4YMODEMProgress", G, "", I, GET(L(Ch() ? Ch()->YmodemProgress() : 0)), nullptr, nullptr},
    {261, "APPRetrieveCookedDataHex4", G, "", T, &Cooked<CookedVariant::Hex4>, nullptr, nullptr},
    {262, "APPRetrieveCookedDataDec4", G, "", T, &Cooked<CookedVariant::Dec4>, nullptr, nullptr},
    {263, "LOGRetrieveCookedDataDec4", G, LOGRANGE, T, &LogCooked<CookedVariant::Dec4>, nullptr, nullptr},
    {264, "LOGRetrieveCookedDataHex4", G, LOGRANGE, T, &LogCooked<CookedVariant::Hex4>, nullptr, nullptr},
    TEL(265, "TELCommandNewLineCharacter", newLine, 0, 3, -1),
    {266, "APPValueDec4", G, "long DRNumber", T, &RecordText<answer::ValueDec4>, nullptr, nullptr},
    {267, "APPValueHex4", G, "long DRNumber", T, &RecordText<answer::ValueHex4>, nullptr, nullptr},
    {268, "APPVIBAsc4", G, "long DRNumber", T, &RecordText<answer::VIBAsc4>, nullptr, nullptr},
    {269, "APPVIBUnitAsc", G, "long DRNumber", T, &RecordText<answer::VIBUnitAsc>, nullptr, nullptr},
    {270, "APPVIBUnitAsc4", G, "long DRNumber", T, &RecordText<answer::VIBUnitAsc4>, nullptr, nullptr},
    {271, "SP4YMODEMUploadEndCommand", M, "", N, nullptr, nullptr, CALL(UploadEndCommand())},
    {272, "COMEchoOption", GP, "", I, GET(L(OnLine([](MBLayer1& l) { return l.echoOption.load(); }, 0))),
     PUT(OnLine([&](MBLayer1& l) { l.echoOption.store(v.number >= 0 && v.number <= 2 ? v.number : 0); })), nullptr},
    {273, "SCRSlaveSearchSecondarySpecial", M,
     "long SearchMode, string StartAddr, string EndAddr, string Manufact, string Generation, string Medium", N, nullptr,
     nullptr, CALL(if (auto r = Rec()) r->script.SearchRange(a.L(0), a.S(1), a.S(2), a.S(3), a.S(4), a.S(5)))},
    {274, "APPDebugFileName", GP, "", T, &DebugFileNameGet, &DebugFileNamePut, nullptr},
    SCROPT(275, "SCRSlaveSearchTimeoutRetries", searchTimeoutRetries, 1, 50),
    {276, "LOGInterpretSpecial", M, "", N, nullptr, nullptr, CALL(if (auto r = Rec()) r->log->InterpretSpecial())},
    {277, "LOGInterpretSpecial2", M, "", N, nullptr, nullptr, CALL(if (auto r = Rec()) r->log->InterpretSpecial2())},
    {278, "OPTKAKey", GP, "", T, GET(S(Hex(link::GetRadioKeys().kavosUserKey.data(), 8))), PUT(PutKAVOSKey(v.text)),
     nullptr},
    {279, "OPTKAPasswordOption", GP, "", I, GET(L(link::GetRadioKeys().kavosOption)),
     PUT(link::UpdateRadioKeys([&](link::RadioKeys& k) { k.kavosOption = v.number; })), nullptr},
    {280, "APPFollowingTelegram", G, "", I, &FollowingTelegram, nullptr, nullptr},
    // An addition of this control's: 1 ends a reception at the end of a
    // whole frame instead of after the byte timeout (MBLayer1::endAtFrame);
    // 0 (the default) keeps the byte timeout. Acts on the open line, as the
    // echo option does.
    {281, "COMEndAtFrame", GP, "", I, GET(L(OnLine([](MBLayer1& l) { return l.endAtFrame.load(); }, 0))),
     PUT(OnLine([&](MBLayer1& l) { l.endAtFrame.store(v.number != 0 ? 1 : 0); })), nullptr},
};

}  // namespace

std::span<const Member> Members() { return kMembers; }

}  // namespace mbus::control
