#include "sim/sim_bus.h"

#include <algorithm>

#include "control/decode/telegram.h"

namespace mbus::sim {
namespace {

using serial::SimClock;
using serial::WireByte;

constexpr int kSwitchRates[8] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400};

std::string Address(uint8_t A) {
    if (A == 253) return "253 (selected)";
    if (A == 254) return "254 (all, with answer)";
    if (A == 255) return "255 (all, no answer)";
    return std::to_string(A);
}

}  // namespace

std::string DescribeRequest(std::span<const uint8_t> frame) {
    const FrameShape s = ClassifyFrame(frame);
    const uint8_t function = static_cast<uint8_t>(s.C & ~0x30);
    const std::string fcb = (s.C & 0x10) ? std::string(", FCB ") + ((s.C & 0x20) ? "1" : "0") : std::string();
    switch (s.result) {
        case 0: return "E5h";
        case 1:
            if (s.C == 0x40) return "SND_NKE to " + Address(s.A);
            if (function == 0x4B) return "REQ_UD2 to " + Address(s.A) + fcb;
            if (function == 0x4A) return "REQ_UD1 to " + Address(s.A) + fcb;
            return "short frame C " + HexText(std::span(&s.C, 1)) + " to " + Address(s.A);
        case 2:
        case 3: {
            if (function != 0x43) return "frame C " + HexText(std::span(&s.C, 1)) + " to " + Address(s.A);
            std::string what = "SND_UD";
            if (s.CI == 0x50) what = "application reset";
            else if (s.CI >= 0xB8 && s.CI <= 0xBF) what = "baud switch to " + std::to_string(kSwitchRates[s.CI - 0xB8]);
            else if (s.A == 253 && (s.CI == 0x51 || s.CI == 0x52 || s.CI == 0x55 || s.CI == 0x56)) what = "selection";
            else what += " CI " + HexText(std::span(&s.CI, 1));
            return what + " to " + Address(s.A);
        }
        default: return "malformed frame";
    }
}

VirtualSlave ModuleSlave(ModuleKind kind, Maker maker, uint8_t primary) {
    VirtualSlave slave;
    SetUpModule(kind, maker, primary, &slave.values, &slave.module);
    return slave;
}

SimBus::SimBus() = default;
SimBus::~SimBus() = default;

std::size_t SimBus::AddSlave(VirtualSlave slave) {
    std::lock_guard lock(mutex_);
    slaves_.push_back(std::move(slave));
    return slaves_.size() - 1;
}

std::size_t SimBus::SlaveCount() const {
    std::lock_guard lock(mutex_);
    return slaves_.size();
}

void SimBus::ClearSlaves() {
    std::lock_guard lock(mutex_);
    slaves_.clear();
}

void SimBus::SetDefaultBaud(int baud) {
    std::lock_guard lock(mutex_);
    if (baud > 0) defaultBaud_ = baud;
}

int SimBus::DefaultBaud() const {
    std::lock_guard lock(mutex_);
    return defaultBaud_;
}

void SimBus::SetEcho(EchoMode mode, int count) {
    std::lock_guard lock(mutex_);
    echo_ = mode;
    echoCount_ = std::max(count, 0);
}

void SimBus::SetPaced(bool paced) {
    std::lock_guard lock(mutex_);
    paced_ = paced;
}

bool SimBus::Paced() const {
    std::lock_guard lock(mutex_);
    return paced_;
}

void SimBus::SetReplyDelayBits(int bits) {
    std::lock_guard lock(mutex_);
    replyDelayBits_ = std::max(bits, 0);
    fixedReplyDelay_ = false;
}

void SimBus::SetReplyDelay(SimClock::duration delay) {
    std::lock_guard lock(mutex_);
    replyDelay_ = std::max(delay, SimClock::duration::zero());
    fixedReplyDelay_ = true;
}

void SimBus::QueueFault(const Fault& fault) {
    std::lock_guard lock(mutex_);
    faults_.push_back(fault);
}

void SimBus::ClearFaults() {
    std::lock_guard lock(mutex_);
    faults_.clear();
}

std::size_t SimBus::PendingFaults() const {
    std::lock_guard lock(mutex_);
    return faults_.size();
}

void SimBus::SetRandomFaults(double probability, uint32_t seed, RandomFaults kinds) {
    std::lock_guard lock(mutex_);
    randomProbability_ = std::clamp(probability, 0.0, 1.0);
    randomKinds_ = kinds;
    random_.seed(seed);
}

void SimBus::SetLog(std::function<void(const std::string&)> log) {
    std::lock_guard lock(mutex_);
    log_ = std::move(log);
}

BusCounters SimBus::Counters() const {
    std::lock_guard lock(mutex_);
    return counters_;
}

void SimBus::Log(const std::string& text) const {
    if (log_) log_(text);
}

void SimBus::OnBreak(bool on) {
    // A break interrupts whatever frame the slaves were receiving.
    if (!on) return;
    std::lock_guard lock(mutex_);
    if (!cutter_.Empty()) {
        Log("break: a frame in progress is lost");
        cutter_.Clear();
    }
}

SimClock::duration SimBus::ReplyDelay(const serial::SerialConfig& line) const {
    if (fixedReplyDelay_) return replyDelay_;
    const int baud = line.baud > 0 ? line.baud : 1;
    return std::chrono::duration_cast<SimClock::duration>(std::chrono::duration<double>(double(replyDelayBits_) / baud));
}

std::vector<WireByte> SimBus::OnMasterBytes(const std::vector<uint8_t>& bytes, SimClock::time_point end,
                                            const serial::SerialConfig& line) {
    std::lock_guard lock(mutex_);
    std::vector<WireByte> out;
    const std::size_t n = bytes.size();
    if (n == 0) return out;
    const SimClock::duration T = serial::CharacterTime(line);
    // When byte i has left the line.
    auto sentAt = [&](std::size_t i) { return paced_ ? end - T * static_cast<int64_t>(n - 1 - i) : end; };
    auto wire = [](SimClock::time_point at, uint8_t value, bool parity = false, bool framing = false) {
        WireByte w;
        w.at = at;
        w.value = value;
        w.parity = parity;
        w.framing = framing;
        return w;
    };

    // Whatever was left of a frame before a long pause is noise by now.
    const std::size_t discardedBefore = cutter_.Discarded();
    if (!cutter_.Empty() && sentAt(0) - cutter_.LastTime() > kFramePause) {
        counters_.discarded += cutter_.Size();
        Log("pause: " + std::to_string(cutter_.Size()) + " byte(s) of an unfinished frame dropped");
        cutter_.Clear();
    }

    for (std::size_t i = 0; i < n; ++i) {
        if (echo_ == EchoMode::kFull) out.push_back(wire(sentAt(i), bytes[i]));
        cutter_.Push({bytes[i], sentAt(i), line.baud});
    }

    std::vector<MasterByte> frame;
    while (cutter_.Next(&frame)) {
        ++counters_.frames;
        if (echo_ == EchoMode::kPartial) {
            const std::size_t k = std::min(frame.size(), static_cast<std::size_t>(echoCount_));
            for (std::size_t i = frame.size() - k; i < frame.size(); ++i)
                out.push_back(wire(frame[i].at, frame[i].value));
        }
        Bytes raw;
        raw.reserve(frame.size());
        int baud = frame.front().baud;
        for (const MasterByte& b : frame) {
            raw.push_back(b.value);
            if (b.baud != baud) baud = -1;  // sent partly at another rate: nobody understands it
        }
        // Unpaced, an answer still comes after the reply delay (a master
        // discards what arrives during its dead time), but all at once.
        const SimClock::time_point answerAt = end + ReplyDelay(line);
        for (const LineByte& b : HandleFrame(raw, baud, frame.back().at, line))
            out.push_back(wire(paced_ ? b.start + T : answerAt, b.value, b.parity, b.framing));
    }
    if (cutter_.Discarded() != discardedBefore) {
        const std::size_t dropped = cutter_.Discarded() - discardedBefore;
        counters_.discarded += dropped;
        Log("dropped " + std::to_string(dropped) + " byte(s) that began no frame");
    }

    std::stable_sort(out.begin(), out.end(), [](const WireByte& a, const WireByte& b) { return a.at < b.at; });
    return out;
}

std::vector<LineByte> SimBus::HandleFrame(const Bytes& frame, int baud, SimClock::time_point frameEnd,
                                          const serial::SerialConfig& line) {
    const FrameShape shape = ClassifyFrame(frame);
    // The extended frame has two more length bytes: seen from two bytes
    // further on, its fields lie where those of a long frame do.
    const int skip = frame.front() == 0xD8 ? 2 : 0;
    const uint8_t* data = frame.data() + skip;
    const int length = static_cast<int>(frame.size()) - skip;
    Log("master: " + HexText(frame) + "  (" + DescribeRequest(frame) + ")");

    const SimClock::duration T = serial::CharacterTime(line);
    const SimClock::time_point start = frameEnd + ReplyDelay(line);
    // Decided before the frame: the command that engages a transceiver is not relayed itself.
    const bool relayed = std::any_of(slaves_.begin(), slaves_.end(),
                                     [](const VirtualSlave& s) { return s.module.RelaysToModules(); });
    std::vector<std::vector<LineByte>> streams;
    for (std::size_t i = 0; i < slaves_.size(); ++i) {
        VirtualSlave& slave = slaves_[i];
        if (!Hears(slave, baud, relayed)) continue;
        const Bytes answer = Exchange(slave, shape, data, length);
        if (answer.empty()) continue;
        Log("slave " + std::to_string(i + 1) + " (primary " + std::to_string(slave.values.primaryAddress) +
            "): " + HexText(answer));
        streams.push_back(Stream(answer, start, T));
    }
    if (streams.empty()) return {};

    std::vector<LineByte> merged = MergeOnLine(streams, T);
    ++counters_.answers;
    if (streams.size() > 1) {
        ++counters_.collisions;
        Bytes onLine;
        for (const LineByte& b : merged) onLine.push_back(b.value);
        Log("collision of " + std::to_string(streams.size()) + " answers, the line carries: " + HexText(onLine));
    }
    Fault fault;
    if (NextFault(&fault, merged.size())) {
        ApplyFault(fault, merged, T);
        if (fault.kind != FaultKind::kNone) Log("fault " + FaultText(fault));
    }
    return merged;
}

bool SimBus::NextFault(Fault* fault, std::size_t answerLength) {
    if (!faults_.empty()) {
        *fault = faults_.front();
        faults_.pop_front();
        return true;
    }
    if (randomProbability_ <= 0.0 || answerLength == 0) return false;
    // Drawn from the raw generator so that a seed gives the same faults everywhere.
    const double draw = static_cast<double>(random_()) / 4294967296.0;
    if (draw >= randomProbability_) return false;
    static constexpr FaultKind kAny[] = {FaultKind::kDrop,   FaultKind::kFlip,    FaultKind::kExtra,
                                         FaultKind::kParity, FaultKind::kFraming, FaultKind::kSilence};
    // Garbling only: a lost byte last, left out where the answer is a
    // single byte (losing it would silence the answer).
    static constexpr FaultKind kGarbling[] = {FaultKind::kFlip, FaultKind::kExtra, FaultKind::kParity,
                                              FaultKind::kFraming, FaultKind::kDrop};
    if (randomKinds_ == RandomFaults::kGarbled)
        fault->kind = kGarbling[random_() % (answerLength > 1 ? 5 : 4)];
    else
        fault->kind = kAny[random_() % 6];
    fault->position = static_cast<int>(random_() % answerLength);
    fault->arg = fault->kind == FaultKind::kFlip ? static_cast<uint8_t>(1u << (random_() % 8))
                                                 : static_cast<uint8_t>(random_());
    return true;
}

bool SimBus::Hears(const VirtualSlave& slave, int baud, bool relayed) const {
    if (baud <= 0) return false;  // sent partly at another rate: nobody understands it
    if (RateOf(slave) == baud || slave.module.HearsAnyRate()) return true;
    return relayed && baud == OpticalTransceiver::kRelayBaud && slave.module.IsMakerModule();
}

void SimBus::StartOver(VirtualSlave& slave) {
    slave.block = 0;
    slave.lastFcb = -1;
    slave.lastAnswer.clear();
}

Bytes SimBus::Exchange(VirtualSlave& slave, const FrameShape& shape, const uint8_t* data, int length) {
    if (slave.module.Empty()) return ExchangeAsSlave(slave, shape, data, length);
    std::string note;
    const ModuleVerdict verdict = slave.module.Handle(slave.values, ModuleFrame{shape, data, length}, &note);
    if (!note.empty()) Log("slave at primary " + std::to_string(slave.values.primaryAddress) + ": " + note);
    switch (verdict) {
        case ModuleVerdict::kIgnore: return {};
        case ModuleVerdict::kAcknowledge:
            // Written, selected or told something: the answer sent last is history.
            StartOver(slave);
            return Bytes{0xE5};
        case ModuleVerdict::kAnswer: return ReadOut(slave, shape.C);
        case ModuleVerdict::kAsSlave: break;
    }
    return ExchangeAsSlave(slave, shape, data, length);
}

namespace {

// Manufacturer, version and medium of a selection (bytes 11..14), for a
// slave that takes only whole-byte wildcards: each byte is FFh or the
// slave's own.
bool WholeByteFieldsMatch(const MBSlaveValues& v, const uint8_t* data) {
    const bool msb = (v.selectionCI & 0x04) != 0;  // CI 55h, 56h: most significant byte first
    const uint8_t own[4] = {static_cast<uint8_t>(msb ? v.manufacturer >> 8 : v.manufacturer),
                            static_cast<uint8_t>(msb ? v.manufacturer : v.manufacturer >> 8),
                            static_cast<uint8_t>(v.version), static_cast<uint8_t>(v.medium)};
    for (int i = 0; i < 4; ++i)
        if (data[11 + i] != 0xFF && data[11 + i] != own[i]) return false;
    return true;
}

}  // namespace

Bytes SimBus::ExchangeAsSlave(VirtualSlave& slave, const FrameShape& shape, const uint8_t* data, int length) {
    MBSlaveValues& v = slave.values;
    const uint8_t function = static_cast<uint8_t>(shape.C & ~0x30);
    const Bytes ack{0xE5};
    switch (shape.result) {
        case kFrameShort: {
            if (function == 0x4B) {
                if (v.CheckAddress(kFrameShort, shape.C, shape.A, shape.CI, data, length) != 1) return {};
                return ReadOut(slave, shape.C);
            }
            if (function == 0x4A) {
                // Addressed like a REQ_UD2 (which changes no state); no alarm data to send.
                const uint8_t asReqUd2 = static_cast<uint8_t>(shape.C | 0x01);
                return v.CheckAddress(kFrameShort, asReqUd2, shape.A, shape.CI, data, length) == 1 ? ack : Bytes{};
            }
            if (shape.C == 0x40) {
                const bool resets = shape.A == v.primaryAddress || shape.A >= 254 ||
                                    (shape.A == 253 && v.selectionState != 0);
                // The access number counts the meter's answers over its life,
                // as a meter on a bus keeps counting: SND_NKE starts the
                // conversation over, not the count (the slave values clear
                // it), so a reader can tell a fresh answer from an old one.
                const int32_t access = v.accessNumber;
                const int r = v.CheckAddress(kFrameShort, shape.C, shape.A, shape.CI, data, length);
                v.accessNumber = access;
                if (resets) StartOver(slave);
                return r == 1 ? ack : Bytes{};
            }
            return {};
        }
        case kFrameControl: {
            if (function != 0x43) return {};
            const int r = v.CheckAddress(kFrameControl, shape.C, shape.A, shape.CI, data, length);
            const bool actedOn = r == 1 || shape.A == 255;
            if (actedOn && shape.CI == 0x50) StartOver(slave);
            if (actedOn && shape.CI >= 0xB8 && shape.CI <= 0xBF) SwitchBaud(slave, shape.CI);
            return r == 1 ? ack : Bytes{};
        }
        case kFrameLong: {
            if (function != 0x43) return {};
            const bool selection = shape.CI == v.selectionCI && shape.A == 253 && length > 16;
            if (selection && slave.byteWildcards && !WholeByteFieldsMatch(v, data)) {
                v.selectionState = 0;  // another slave's selection deselects this one
                return {};
            }
            const int r = v.CheckAddress(kFrameLong, shape.C, shape.A, shape.CI, data, length);
            if (r != 1) return {};
            if (selection || shape.CI == 0x50) StartOver(slave);
            if (shape.CI >= 0xB8 && shape.CI <= 0xBF) SwitchBaud(slave, shape.CI);
            // Data sent to the meter (CI 51h): a record DIF 01h VIF 7Ah gives it
            // a new primary address, which it answers at from then on.
            if (shape.CI == 0x51 && length >= 12 && data[7] == 0x01 && data[8] == 0x7A && data[9] <= 250) {
                Log("slave at primary " + std::to_string(v.primaryAddress) + " takes the primary address " +
                    std::to_string(data[9]));
                v.primaryAddress = data[9];
            }
            return ack;
        }
        default: return {};
    }
}

void SimBus::SwitchBaud(VirtualSlave& slave, uint8_t CI) {
    // Acknowledged at the old rate (the answer is timed with the request's
    // rate); what comes next must use the new one.
    slave.values.requestedBaudRate = kSwitchRates[CI - 0xB8];
    slave.baud = slave.values.requestedBaudRate;
    Log("slave at primary " + std::to_string(slave.values.primaryAddress) + " now listens at " +
        std::to_string(slave.baud) + " baud");
}

Bytes SimBus::ReadOut(VirtualSlave& slave, uint8_t C) {
    const bool fcv = (C & 0x10) != 0;
    const int fcb = (C & 0x20) ? 1 : 0;
    if (fcv && slave.lastFcb >= 0 && !slave.lastAnswer.empty()) {
        if (fcb == slave.lastFcb) return slave.lastAnswer;  // the master did not get it: the same again
        if (slave.blocks.size() > 1) slave.block = (slave.block + 1) % slave.blocks.size();
    }
    if (fcv) slave.lastFcb = fcb;

    if (!slave.blocks.empty()) {
        slave.block = std::min(slave.block, slave.blocks.size() - 1);
        Bytes data = slave.blocks[slave.block];
        const bool more = slave.block + 1 < slave.blocks.size();
        const std::size_t room = static_cast<std::size_t>(MBSlaveValues::kMaxUserData) - (more ? 1 : 0);
        if (data.size() > room) data.resize(room);
        if (more) data.push_back(0x1F);
        slave.values.SetUserData(data.data(), static_cast<int>(data.size()));
    }
    uint8_t frame[MBSlaveValues::kMaxFrame];
    int n = 0;
    if (slave.module.Empty()) slave.values.PrepareRSPUD(0, 0, frame, &n);
    else slave.module.BuildAnswer(slave.values, frame, &n);
    slave.lastAnswer.assign(frame, frame + n);
    return slave.lastAnswer;
}

}  // namespace mbus::sim
