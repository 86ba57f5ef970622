// Feeds arbitrary bytes through what receives bytes from a line: the link
// layer's reception (echo removal, unwrapping, classification), the
// simulated slave's address check and answer, and the simulated bus.
//
// Input: byte 0 sets the reception options (echo option, text-protocol
// mode, unknown escapes as control answers, radio keys), byte 1 the length of the
// "sent" frame that echo removal compares against; the rest is received.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "control/decode/slave_values.h"
#include "control/line/frame_shape.h"
#include "control/link/layer2.h"
#include "control/link/radio.h"
#include "sim/sim_bus.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static MBLayer2 l2;  // one line object: construction claims a line slot
    const uint8_t options = data[0];
    const std::size_t sent = data[1] % 16;
    data += 2;
    size -= 2;
    if (size > static_cast<std::size_t>(mbus::line::kBufferSize)) size = mbus::line::kBufferSize;

    // Bits 4 to 6 switch the radio decryption on: a DES key and the KAVOS option.
    mbus::link::UpdateRadioKeys([&](mbus::link::RadioKeys& k) {
        mbus::link::SetDESKeyHex(k, (options & 0x10) ? "133457799BBCDFF1" : "FFFFFFFFFFFFFFFF");
        k.kavosOption = (options >> 5) & 3;
    });
    l2.line.echoOption = options & 3;
    l2.line.textProtocolMode = (options >> 2) & 1;
    l2.escapeIsControl = (options >> 3) & 1;
    l2.line.errorWord = 0;
    const std::size_t echo = sent < size ? sent : size;
    std::memcpy(l2.line.sendBuffer, data, echo);
    l2.line.sendCount = static_cast<int32_t>(echo);
    if (size > 0) std::memcpy(l2.line.receiveBuffer, data, size);
    l2.line.receiveCount = static_cast<int32_t>(size);
    int C, A, CI, len, got;
    uint8_t* out;
    const int r = l2.ReceiveTelegram(&C, &A, &CI, &out, &len, &got);
    if (out != nullptr && len > 0) {
        // What the caller reads must lie inside the receive buffer.
        const uint8_t* begin = l2.line.receiveBuffer;
        if (out < begin || out + len > begin + mbus::line::kBufferSize) __builtin_trap();
    }

    // The same bytes as a request to a simulated slave.
    const mbus::FrameShape shape = mbus::ClassifyFrame({data, size});
    MBSlaveValues slave;
    slave.SetUserData(data, static_cast<int>(size < 40 ? size : 40));
    if (slave.CheckAddress(shape.result, shape.C, shape.A, shape.CI, data, static_cast<int>(size))) {
        std::vector<uint8_t> frame(600);
        int n = 0;
        slave.PrepareRSPUD(0, 0, frame.data(), &n);
        if (n < 0 || n > static_cast<int>(frame.size())) __builtin_trap();
    }

    // And as bytes a master puts on a simulated bus.
    static mbus::sim::SimBus* bus = [] {
        auto* b = new mbus::sim::SimBus;
        b->SetPaced(false);
        mbus::sim::VirtualSlave s;
        s.values.primaryAddress = 1;
        b->AddSlave(s);
        return b;
    }();
    bus->OnMasterBytes(std::vector<uint8_t>(data, data + size), mbus::serial::SimClock::now(), {});
    return r == 1000 ? 1 : 0;
}
