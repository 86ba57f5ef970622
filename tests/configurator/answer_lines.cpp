#include "tests/configurator/answer_lines.h"

#include <gtest/gtest.h>

#include <mutex>

#include "configurator/devices/result_parser.h"
#include "control/com/script_parser.h"
#include "control/decode/options.h"
#include "control/engine/locks.h"
#include "control/line/frame_shape.h"
#include "sim/bus_description.h"
#include "tests/sim/sim_test_support.h"

namespace mbus::meridex::test {
namespace {

using namespace std::chrono_literals;

const serial::SimClock::time_point kEnd = serial::SimClock::time_point{} + 100s;

}  // namespace

AnswerLines::AnswerLines() {
    MBusOption.Reset();
    MBusOption.OPTOnlyVIFUnitsWithoutMultiplier = 0;  // as the program sets it at start
    MBusLanguage = 0;
    bus_.SetPaced(false);
    log_.SetCapacity(1000);
}

AnswerLines::~AnswerLines() { MBusOption.Reset(); }

void AnswerLines::AddSlave(std::string_view description) {
    sim::VirtualSlave slave;
    std::vector<std::string> errors;
    ASSERT_TRUE(sim::ParseSlave(description, &slave, errors)) << (errors.empty() ? "" : errors.front());
    bus_.AddSlave(slave);
}

AnswerLines::Bytes AnswerLines::Exchange(const Bytes& frame) {
    serial::SerialConfig line;
    line.baud = 2400;
    return sim::test::ValuesOf(bus_.OnMasterBytes(frame, kEnd, line));
}

AnswerLines::Bytes AnswerLines::Read(uint8_t A) {
    fcb_ = !fcb_;
    return Exchange(sim::test::ShortFrame(fcb_ ? 0x7B : 0x5B, A));
}

AnswerLines::Bytes AnswerLines::Send(uint8_t A, std::string_view text) {
    const Bytes bytes = sim::test::Hex(text);
    return Exchange(sim::test::LongFrame(0x53, A, bytes.at(0), Bytes(bytes.begin() + 1, bytes.end())));
}

AnswerLines::Bytes AnswerLines::Select(std::string_view bytes) {
    return Exchange(sim::test::Selection(sim::test::Hex(bytes)));
}

AnswerLines::Bytes AnswerLines::Write(uint8_t A, std::string_view recordText) {
    const std::string line = "7|" + std::to_string(A) + "||51 " + std::string(recordText);
    const std::vector<control::ScriptItem> items = control::ParseScript(line, control::ParseSettings{});
    EXPECT_EQ(items.size(), 1u) << line;
    if (items.size() != 1 || items[0].data.empty()) return {};
    const Bytes& data = items[0].data;
    const Bytes answer = Exchange(sim::test::LongFrame(0x53, A, data[0], Bytes(data.begin() + 1, data.end())));
    Log(items[0].line, answer);
    return answer;
}

void AnswerLines::Log(const std::string& line, const Bytes& answer, int status) {
    std::lock_guard lock(engine::Locks().log);
    log_.AppendCommand(line, status);
    if (answer.empty()) return;
    const FrameShape shape = ClassifyFrame(answer);
    engine::LoggedAnswer a;
    a.code = shape.result;
    a.bytes = answer.data();
    a.length = static_cast<int>(answer.size());
    a.C = shape.C;
    a.A = shape.A;
    a.CI = shape.CI;
    a.decoderResult = 1;
    a.receivedSomething = 1;
    log_.AttachAnswer(a);
}

std::string AnswerLines::Entry(int i) const { return log_.RetrieveCooked(i, i, CookedVariant::Hex2); }

std::string AnswerLines::Last() const { return Entry(log_.UpperBound()); }

std::optional<std::string> AnswerLines::Find() const {
    return FindAnswerLine([this](int i) { return Entry(i); });
}

std::string AnswerLines::ReadLine(uint8_t A) {
    Log("5|" + std::to_string(A) + "||", Read(A));
    return Last();
}

std::string AnswerLines::AnswerOf(std::string_view description, uint8_t A) {
    AddSlave(description);
    return ReadLine(A);
}

}  // namespace mbus::meridex::test
