// The simulated M-Bus: virtual slaves on one line, reached by a master's
// port in-process (serial::SimulatedPort) or through the pseudo-terminal of
// mbus-sim.
//
// Each slave is an MBSlaveValues (primary address, secondary selection with
// wildcards, fabrication number and customer selection) plus the state of
// its conversation: record blocks of a multi-telegram answer, the FCB of the
// last read-out and the answer sent last, and the baud rate it listens at.
//
// What the slaves answer:
//   SND_NKE, SND_UD (control and long frames), a successful selection: E5h.
//   REQ_UD2 (C 5Bh/7Bh, also 4Bh/6Bh): RSP_UD.
//   REQ_UD1 (C 5Ah/7Ah): E5h - the slaves have no class-1 (alarm) data.
//   Broadcasts to 255: acted on, never answered.
// Multi-telegram answers: every block but the last is sent with DIF 1Fh
// ("more records follow") behind its records. A REQ_UD2 with FCV set whose
// FCB differs from the one before moves on to the next block (after the
// last comes the first again); the same FCB repeats the answer sent last
// byte for byte (the master lost it). The first REQ_UD2 after a reset
// answers the first block. SND_NKE, an application reset (CI 50h) and a
// successful selection start the conversation over: first block, no FCB.
// The access number keeps counting over SND_NKE (a reader's evidence that
// an answer is fresh); the application reset starts it at 0.
// Baud-rate switch (control frame SND_UD with CI B8h..BFh): the slave
// acknowledges at its old rate and from then on only understands frames
// sent at the new rate; a frame at any other rate gets no answer. A long
// frame with CI B8h..BFh switches the same way.
// New primary address (SND_UD, CI 51h, first record DIF 01h VIF 7Ah with the
// address): acknowledged, then the slave answers at the new address only.
// Several slaves answering at once: their answers overlap on the line and
// combine to the AND of the overlapping bytes, marked with a framing error
// where they differ (see wire.h).
// Modules: a slave may play one of the maker's modules or an interface
// device (modules.h). The module looks at every frame first and either
// handles it (its answer, writes, selections) or leaves it to the rules
// above. A level converter and an optical transceiver hear frames at any
// rate; once a transceiver is engaged, frames at its relay rate (38400 baud)
// reach the maker's modules whatever rate they listen at.
//
// Timing: paced, each byte takes CharacterTime(line); master bytes leave
// the line back to back ending at `end`, a slave starts its answer the reply
// delay after the last byte of the request (default 100 bit times of the
// line) and sends it back to back. Unpaced, bytes take no time: the echo
// arrives at `end`, an answer all at once after the reply delay.
// Echo of a level converter: none, full (every master byte comes back as
// it is sent) or partial (the last k bytes of each master frame).
// Faults: a queue applied to the next answers, one fault per answer, and
// optionally random faults from a seeded generator once the queue is empty.
//
// Thread-safe: every member takes the bus's lock.

#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "control/decode/slave_values.h"
#include "control/line/frame_shape.h"
#include "platform/serial/simulated_port.h"
#include "sim/faults.h"
#include "sim/frame_cutter.h"
#include "sim/modules.h"
#include "sim/wire.h"

namespace mbus::sim {

struct VirtualSlave {
    MBSlaveValues values;
    // Record blocks of the answer, one per telegram (DIF 1Fh is added to
    // all but the last). Empty: the user data held in `values` is sent.
    std::vector<Bytes> blocks;
    // The rate the slave listens and answers at; 0: the bus's default rate.
    int baud = 0;
    // Manufacturer, version and medium of a selection match only as whole
    // bytes (FFh or the slave's own value), not digit by digit.
    bool byteWildcards = false;
    // The module or interface device the slave plays (modules.h); empty for
    // an ordinary meter, which answers with `values` and `blocks`.
    Module module;

    // State of the conversation, kept by the bus.
    std::size_t block = 0;  // the block the next fresh answer carries
    int lastFcb = -1;       // FCB of the last REQ_UD2 with FCV; -1 after a reset
    Bytes lastAnswer;       // for repetitions
};

enum class EchoMode { kNone, kFull, kPartial };

struct BusCounters {
    std::size_t frames = 0;     // master frames cut from the byte stream
    std::size_t answers = 0;    // answers put on the line (collisions count once)
    std::size_t collisions = 0; // answers of more than one slave at once
    std::size_t discarded = 0;  // master bytes that began no frame, or were cut off by a pause
};

class SimBus : public serial::LineDevice {
public:
    // Reply delay when none is set: 100 bit times of the line. Slaves may
    // answer after 11 to 330 bit times; a master discards what arrives
    // during its dead time (61 bit times with the default line settings),
    // so the default answers after that.
    static constexpr int kDefaultReplyDelayBits = 100;
    // A pause this long ends a master frame in progress: its bytes are dropped.
    static constexpr serial::SimClock::duration kFramePause = std::chrono::milliseconds(500);

    SimBus();
    ~SimBus() override;

    // Adds a slave and returns its index.
    std::size_t AddSlave(VirtualSlave slave);
    std::size_t SlaveCount() const;
    void ClearSlaves();
    // Calls f(VirtualSlave&) under the bus's lock; false when there is no such slave.
    template <class F>
    bool WithSlave(std::size_t index, F&& f) {
        std::lock_guard lock(mutex_);
        if (index >= slaves_.size()) return false;
        f(slaves_[index]);
        return true;
    }

    // The rate of slaves that were given none (2400 unless set).
    void SetDefaultBaud(int baud);
    int DefaultBaud() const;
    void SetEcho(EchoMode mode, int count = 1);
    void SetPaced(bool paced);
    // The reply delay in bit times of the line, or as a fixed duration.
    void SetReplyDelayBits(int bits);
    void SetReplyDelay(serial::SimClock::duration delay);

    void QueueFault(const Fault& fault);
    void ClearFaults();
    std::size_t PendingFaults() const;
    // Each answer (once the queue is empty) gets a random fault with this
    // probability (0 switches them off); the same seed gives the same faults.
    // kGarbled draws only faults that leave bytes on the line (no silence,
    // and no lost byte where the answer is a single one): the answer comes,
    // but not as a valid frame.
    enum class RandomFaults { kAny, kGarbled };
    void SetRandomFaults(double probability, uint32_t seed, RandomFaults kinds = RandomFaults::kAny);

    // Receives a line of text for every frame and answer (for --verbose).
    void SetLog(std::function<void(const std::string&)> log);
    BusCounters Counters() const;

    // serial::LineDevice
    bool Paced() const override;
    std::vector<serial::WireByte> OnMasterBytes(const std::vector<uint8_t>& bytes, serial::SimClock::time_point end,
                                                const serial::SerialConfig& line) override;
    void OnBreak(bool on) override;

private:
    std::vector<LineByte> HandleFrame(const Bytes& frame, int baud, serial::SimClock::time_point frameEnd,
                                      const serial::SerialConfig& line);
    Bytes Exchange(VirtualSlave& slave, const FrameShape& shape, const uint8_t* data, int length);
    Bytes ExchangeAsSlave(VirtualSlave& slave, const FrameShape& shape, const uint8_t* data, int length);
    bool Hears(const VirtualSlave& slave, int baud, bool relayed) const;
    Bytes ReadOut(VirtualSlave& slave, uint8_t C);
    static void StartOver(VirtualSlave& slave);
    // The slave listens at the rate of the baud switch CI (B8h..BFh) from now on.
    void SwitchBaud(VirtualSlave& slave, uint8_t CI);
    int RateOf(const VirtualSlave& slave) const { return slave.baud > 0 ? slave.baud : defaultBaud_; }
    serial::SimClock::duration ReplyDelay(const serial::SerialConfig& line) const;
    bool NextFault(Fault* fault, std::size_t answerLength);
    void Log(const std::string& text) const;

    mutable std::mutex mutex_;
    std::vector<VirtualSlave> slaves_;
    FrameCutter cutter_;
    int defaultBaud_ = 2400;
    EchoMode echo_ = EchoMode::kNone;
    int echoCount_ = 1;
    bool paced_ = true;
    int replyDelayBits_ = kDefaultReplyDelayBits;
    bool fixedReplyDelay_ = false;
    serial::SimClock::duration replyDelay_{};
    std::deque<Fault> faults_;
    double randomProbability_ = 0.0;
    RandomFaults randomKinds_ = RandomFaults::kAny;
    std::mt19937 random_;
    std::function<void(const std::string&)> log_;
    BusCounters counters_;
};

// A slave that plays a module or interface device of this kind and maker
// (SetUpModule), at this primary address (the transceiver is always at 251).
VirtualSlave ModuleSlave(ModuleKind kind, Maker maker = Maker::kVnd, uint8_t primary = 0);

// A readable name of a master frame ("REQ_UD2 to 5, FCB 1").
std::string DescribeRequest(std::span<const uint8_t> frame);

}  // namespace mbus::sim
