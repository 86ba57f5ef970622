// Layer 2 of a channel: M-Bus frames out, answers in.
//
// Sending turns a master request into the bytes of one frame (short,
// control, long, extended long), decides the FCB/FCV bits of the C field
// per slave address, optionally corrupts chosen bytes for conformance tests
// of slaves, and hands the bytes to the line. Reception (ReceiveTelegram)
// starts the line's reception, removes the echo of our own frame, unwraps
// wrapped and escaped answers and classifies and checks the frame, with the
// faults as bits of the line's error word.

#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "control/decode/export.h"
#include "control/line/layer1.h"
#include "control/link/ymodem.h"

namespace mbus::link {

// FCB state of a channel: one toggle per primary address and frame kind.
struct FCBState {
    int32_t sndud[256];
    int32_t requd[256];
    uint8_t lastAction = 255;  // 0 reset, 1 SND_UD, 2 REQ_UD, 3 selection, 255 none
    uint8_t lastAddress = 255;
    FCBState() { Clear(); }
    // The state of a new channel: every entry 1, no last action.
    void Clear();
};

// FCB actions.
enum FCBAction : int { kFCBReset = 0, kFCBSndUd = 1, kFCBReqUd = 2, kFCBSelection = 3, kFCBUndo = 255 };

// Reception result codes.
enum Reception : int {
    kRecSingleChar = 0,
    kRecShort = 1,
    kRecControl = 2,
    kRecLong = 3,
    kRecFault = 4,
    kRecA2 = 5,
    kRecEscape13 = 10,
    kRecTextStart = 21,
    kRecTextAbort = 22,
    kRecTextEnd = 23,
    kRecTextLine = 24,
    kRecTextOther = 25,
    kRecBusy = 255,
};

// The texts of the error classes (UTF-8; class 0..8 by bit, 9 no error).
std::string ErrorClassText(int errorClass, int language);
bool WriteErrorClassText(int errorClass, int language, const std::string& utf8);
// The error word as text in the current language (UTF-8).
std::string ErrorWordText(uint16_t word);

}  // namespace mbus::link

class MBUS_EXPORT MBLayer2 {
public:
    MBLayer2();
    virtual ~MBLayer2();

    // Send operations: 1 when the bytes went to the line, 0 when the port is
    // closed, a transmission is still running or the arguments do not fit.
    int SendE5();
    int SendShortFrame(int C, int A);
    int SendControlFrame(int C, int A, int CI, int selection);
    int SendLongFrame(int C, int A, int CI, const uint8_t* data, int n, int selection);
    int SendHex(const uint8_t* bytes, int n);
    int SendNothing();

    // The C-field bits (00h, 10h or 30h) for a frame to `address`, updating
    // the FCB state.
    int FCBitHandling(int address, int action);

    // Polled after a send: 255 while busy, else the reception result code;
    // the outputs point into the line's receive buffer.
    int ReceiveTelegram(int* C, int* A, int* CI, uint8_t** data, int* length, int* receivedSomething);
    // Removes our own frame from the front of the receive buffer.
    void RemoveEcho();

    MBLayer1 line;
    std::atomic<uint8_t> lastCField{255};  // read by hosts while the worker sends
    // The FCB tables in use: the channel's, or this object's own.
    mbus::link::FCBState* fcb;
    // An unknown escape sequence counts as a control answer.
    std::atomic<int32_t> escapeIsControl{0};
    // The last send was an M-Bus request: a frame built here, or raw bytes
    // that form one (also inside the escape wrapper of a house-central
    // unit). Its answer must be an M-Bus answer: the slave list and the
    // escape answers of a house-central unit are then faults (a long frame
    // that lost its 68h may begin with any of their bytes). Raw bytes that
    // are no M-Bus frame (the commands of such a unit) clear it; sending E5h
    // or nothing leaves it as it was, so that listening again waits for the
    // answer the request before asked for.
    std::atomic<int32_t> mbusRequest{0};

    // The block check of a YMODEM transfer (received bytes `d`, `n` of them).
    int YMODEMStoreAndTestBlock(const uint8_t* d, int n);
    // Converts a house-central unit's slave list and marks it pending.
    void PrepareHauszentraleSlaveList(const uint8_t* d, int n);
    mbus::link::YmodemTransfer ymodem;
    std::string slaveList;                    // the converted list
    std::atomic<int32_t> slaveListPending{0};  // until the worker has logged it

private:
    int Classify(uint8_t* data, int n, int* C, int* A, int* CI, uint8_t** outData, int* outLength, int depth);
    int SendFrame(const uint8_t* frame, int n);
    int ClassifyC(int C, int A, int CI, int selection, bool shortFrame);
    mbus::link::FCBState ownFcb_;
};

// The error word as text in the current language, code-page bytes (the
// caller provides room for 250 bytes). Nothing happens for a null text.
MBUS_EXPORT void MBL1ErrorCodeToASC(int errorWord, char* text);
// Two upper-case hexadecimal digits and a zero.
MBUS_EXPORT void MBHexToAsciiB(uint8_t byte, char* text);
