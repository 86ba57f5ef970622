// The values of a simulated M-Bus slave: its identity, its selection state
// and the user data it answers with. A host that plays a slave asks
// CheckAddress whether a classified request is meant for the slave, and has
// PrepareRSPUD build the RSP_UD long frame it then sends. The class does no
// input or output of its own.

#pragma once

#include <cstdint>
#include <vector>

#include "control/decode/export.h"

class MBUS_EXPORT MBSlaveValues {
public:
    // The most user data one answer carries: a long frame holds at most 255
    // bytes behind its L field, and the 18 bytes of the customer records may
    // come before the user data.
    static constexpr int kMaxUserData = 222;
    // The longest frame PrepareRSPUD writes (68h L L 68h, 255 bytes, CS, 16h):
    // the room a caller provides.
    static constexpr int kMaxFrame = 261;

    MBSlaveValues();
    virtual ~MBSlaveValues();
    MBSlaveValues(const MBSlaveValues&) = default;
    MBSlaveValues& operator=(const MBSlaveValues&) = default;
    MBSlaveValues(MBSlaveValues&&) = default;
    MBSlaveValues& operator=(MBSlaveValues&&) = default;

    // 1 when the request (frame type 0 E5h, 1 short, 2 control, 3 long; C, A
    // and CI as classified; `data` the whole frame from its start byte,
    // `length` bytes of it) is for this slave and must be answered or
    // acknowledged, else 0. Updates the selection state, the first-answer
    // flag, the access number and the requested baud rate.
    int CheckAddress(int frameType, uint8_t C, uint8_t A, uint8_t CI, const uint8_t* data, int length);
    // Writes the RSP_UD long frame into `frame` (room for kMaxFrame bytes,
    // or 39 plus the user data) and its length into *length. The first two
    // arguments are not used.
    void PrepareRSPUD(uint8_t, uint8_t, uint8_t* frame, int* length);

    // Replaces the user data (at most kMaxUserData bytes; false and nothing
    // changed otherwise). The partial-answer setting stays.
    bool SetUserData(const uint8_t* data, int n);
    // Every second answer after the first carries only `length` bytes of the
    // user data from `offset` (length 0 switches this off). Offset and
    // length must fit the user data size word: false and nothing changed
    // otherwise. A part reaching past the user data is cut at its end.
    bool SetPartialAnswer(int offset, int length);

    // In this order, with their values after construction:
    int32_t selectionState = 0;  // 0 none, 1 secondary address, 2 with fabrication number, 3 with customer
    int32_t firstAnswer = 1;     // 1: the next answer is the first after a reset
    uint8_t primaryAddress = 0;
    uint8_t selectionCI = 0x52;  // bit 2 set (55h, 56h): most significant byte first
    uint8_t answerC = 0x08;
    uint8_t answerCI = 0x72;
    uint32_t identNumber = 0x12345678;  // BCD digits as hexadecimal digits
    uint16_t manufacturer = 0x3E4C;
    char manufacturerText[4] = "ORL";
    int32_t version = 1;
    int32_t medium = 0x0E;
    char mediumText[32] = "Bus/System";
    int32_t accessNumber = 0;  // its low byte is sent
    int32_t status = 0;
    int32_t signature = 0;
    char customerLocation[16] = "123456789012";  // 12 decimal digits
    char customer[16] = "777777777777";          // 12 decimal digits
    char fabricationNumber[12] = "12345678";     // 8 decimal digits
    std::vector<uint8_t> userData;
    // Byte 0: length of the whole user data; byte 1: nonzero when alternate
    // answers send only a part; byte 2: length of that part; byte 3: its offset.
    uint32_t userDataSize = 0;
    int32_t requestedBaudRate = 0;  // set by a baud-rate switch request

private:
    bool Addressed(uint8_t A) const;
    int TestSelection(const uint8_t* data, int length);
    bool MsbFirst() const { return (selectionCI & 0x04) != 0; }
};
