// The telegram log: capacity and trimming, ranges, the raw and cooked
// forms with their per-command tails, and the two post-processing passes.

#include <gtest/gtest.h>

#include <mutex>

#include "control/com/telegram_log.h"
#include "control/engine/locks.h"

namespace mbus::control {
namespace {

const std::vector<uint8_t> kWater = {0x68, 0x15, 0x15, 0x68, 0x08, 0x01, 0x72, 0x78, 0x56, 0x34, 0x12, 0x01, 0x47, 0x01,
                                     0x07, 0x2A, 0x00, 0x00, 0x00, 0x04, 0x13, 0xD2, 0x04, 0x00, 0x00, 0xF6, 0x16};

void Command(TelegramLog& log, const std::string& line, int status = 4) {
    std::lock_guard lock(engine::Locks().log);
    log.AppendCommand(line, status);
}

void Answer(TelegramLog& log, const std::vector<uint8_t>& bytes, int code = 3) {
    engine::LoggedAnswer a;
    a.code = code;
    a.bytes = bytes.data();
    a.length = static_cast<int>(bytes.size());
    a.C = 0x08;
    a.A = 0x01;
    a.CI = 0x72;
    a.decoderResult = 1;
    a.receivedSomething = 1;
    std::lock_guard lock(engine::Locks().log);
    log.AttachAnswer(a);
}

std::string Tail(const std::string& entry) { return entry.substr(entry.rfind('|') + 1); }

TEST(TelegramLog, NothingIsKeptWithoutCapacity) {
    TelegramLog log;
    Command(log, "5|1||");
    EXPECT_EQ(log.UpperBound(), -1);
    EXPECT_EQ(log.RetrieveRaw(0, -1, true), "");
}

TEST(TelegramLog, CapacityKeepsTheNewest) {
    TelegramLog log;
    log.SetCapacity(3);
    for (int i = 1; i <= 5; ++i) Command(log, std::to_string(i) + "|1||");
    EXPECT_EQ(log.UpperBound(), 2);
    EXPECT_EQ(log.Entry(0).text, "3|1||");
    log.SetCapacity(10);
    for (int i = 6; i <= 12; ++i) Command(log, "5|" + std::to_string(i) + "||");
    EXPECT_EQ(log.UpperBound(), 9);
    log.SetCapacity(2);
    EXPECT_EQ(log.UpperBound(), 1);
    EXPECT_EQ(log.Entry(0).text, "5|11||");
    EXPECT_EQ(log.Entry(1).text, "5|12||");
    log.Reset();
    EXPECT_EQ(log.UpperBound(), -1);
    EXPECT_EQ(log.Capacity(), 2);
}

TEST(TelegramLog, Ranges) {
    TelegramLog log;
    log.SetCapacity(10);
    for (int i = 0; i < 5; ++i) Command(log, "6|||");
    auto count = [](const std::string& text) {
        return text.empty() ? 0 : 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    };
    EXPECT_EQ(count(log.RetrieveRaw(2, 0, true)), 1);
    EXPECT_EQ(count(log.RetrieveRaw(2, -1, true)), 3);
    EXPECT_EQ(count(log.RetrieveRaw(1, 3, false)), 3);
    EXPECT_EQ(count(log.RetrieveRaw(3, 9, false)), 2) << "indexes above the newest are not visited";
    EXPECT_EQ(log.RetrieveRaw(3, 1, true), "");
    EXPECT_EQ(log.RetrieveRaw(5, -1, true), "");
    EXPECT_EQ(log.RetrieveRaw(-1, 0, true), "");
    const std::string two = log.RetrieveRaw(0, 1, true);
    EXPECT_NE(two.find("\r\n"), std::string::npos);
    EXPECT_NE(two.substr(0, 2), "\r\n");
}

TEST(TelegramLog, RawAndCookedEntries) {
    TelegramLog log;
    log.SetCapacity(10);
    Command(log, "0||COM1,2400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=100,TB=20,PartWait,Retries=40,DT=11,HS=0|", 0);
    Command(log, "5|1||");
    Answer(log, kWater);
    Command(log, "5|2||");  // no answer
    Command(log, "124|||");

    const std::string connection = log.RetrieveRaw(0, 0, true);
    const std::string stamp = log.Entry(0).stamp;
    ASSERT_EQ(stamp.size(), 14u);
    EXPECT_EQ(connection, log.Entry(0).text + "|" + stamp + "|0");

    const std::string read = log.RetrieveRaw(1, 0, true);
    EXPECT_EQ(Tail(read), "030101080172" "68151568080172785634120147010" "72A0000000413D2040000F616");
    const std::string readDec = log.RetrieveRaw(1, 0, false);
    EXPECT_EQ(Tail(readDec).substr(0, 18), "003001001008001114");
    const std::string head = log.Entry(1).text + "|" + log.Entry(1).stamp + "|";
    EXPECT_EQ(log.RetrieveCooked(1, 0, CookedVariant::Hex2),
              head + "03010108017212345678QXA012A00000007Water|00000000000000000000000000000000040013|1234|");
    EXPECT_EQ(Tail(log.RetrieveRaw(2, 0, true)), "040000000000");
    EXPECT_EQ(Tail(log.RetrieveCooked(2, 0, CookedVariant::Hex)), "") << "no telegram: empty tail";
    EXPECT_EQ(Tail(log.RetrieveRaw(3, 0, true)), "0");
}

TEST(TelegramLog, SlaveListInHexadecimal) {
    const std::string entry = "012" "12345678" "QXA" "001" "07" + std::string(32, 'F');
    ASSERT_EQ(entry.size(), 51u);
    const std::string hex = HexSlaveList(entry + entry);
    EXPECT_EQ(hex.substr(0, 3), "00C");
    EXPECT_EQ(hex.substr(17, 2), "07");
    EXPECT_EQ(hex.substr(51, 3), "00C");
}

// A long frame of manufacturer 8866 (22A2h), version 1, with `records`.
std::vector<uint8_t> SplitReadout(const std::vector<uint8_t>& records) {
    std::vector<uint8_t> f = {0x68, 0, 0, 0x68, 0x08, 0x01, 0x72, 0x78, 0x56, 0x34, 0x12, 0xA2, 0x22, 0x01,
                              0x07, 0x2A, 0x00, 0x00, 0x00};
    f.insert(f.end(), records.begin(), records.end());
    f[1] = f[2] = static_cast<uint8_t>(f.size() - 4);
    int sum = 0;
    for (std::size_t i = 4; i < f.size(); ++i) sum += f[i];
    f.push_back(static_cast<uint8_t>(sum));
    f.push_back(0x16);
    return f;
}

TEST(TelegramLog, ThreePartsOfOneReadoutAreJoined) {
    const auto a = SplitReadout({0x04, 0x13, 0x01, 0x00, 0x00, 0x00});
    const auto b = SplitReadout({0x04, 0x13, 0x02, 0x00, 0x00, 0x00, 0x02, 0x5A, 0x10, 0x01});
    const auto c = SplitReadout({0x04, 0x13, 0x03, 0x00, 0x00, 0x00, 0x02, 0x5A, 0x20, 0x01, 0x02, 0x5E, 0x30, 0x01});
    TelegramLog log;
    log.SetCapacity(10);
    Command(log, "5|1||");
    Answer(log, b);
    Command(log, "3|1||", 0);  // an acknowledgement between the parts is passed over
    Command(log, "5|1||");
    Answer(log, a);
    Command(log, "5|1||");
    Answer(log, c);
    Command(log, "16|||", 0);
    log.InterpretSpecial();
    ASSERT_EQ(log.UpperBound(), 1);
    std::vector<uint8_t> joined(a.begin(), a.end() - 2);
    joined.insert(joined.end(), b.begin() + 19, b.end() - 2);
    joined.insert(joined.end(), c.begin() + 19, c.end() - 2);
    joined.insert(joined.end(), a.end() - 2, a.end());
    EXPECT_EQ(log.Entry(0).telegram, joined);
    EXPECT_EQ(log.Entry(1).text, "16|||");

    // Parts of the same length are left alone.
    TelegramLog same;
    same.SetCapacity(10);
    for (int i = 0; i < 3; ++i) {
        Command(same, "5|1||");
        Answer(same, a);
    }
    same.InterpretSpecial();
    EXPECT_EQ(same.UpperBound(), 2);
}

TEST(TelegramLog, HistoryPairsBecomeEntries) {
    // Date and time 24.12.2008 18:30 (type F), then a value 1234 l.
    const std::vector<uint8_t> history = {0x68, 0x1B, 0x1B, 0x68, 0x08, 0x01, 0x72, 0x78, 0x56, 0x34, 0x12,
                                          0x01, 0x47, 0x01, 0x07, 0x2A, 0x00, 0x00, 0x00, 0x04, 0x6D, 0x1E,
                                          0x12, 0x18, 0x1C, 0x05, 0x2B, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x16};
    int sum = 0;
    std::vector<uint8_t> frame = history;
    for (std::size_t i = 4; i + 2 < frame.size(); ++i) sum += frame[i];
    frame[frame.size() - 2] = static_cast<uint8_t>(sum);
    TelegramLog log;
    log.SetCapacity(10);
    Command(log, "5|1||");
    Answer(log, frame);
    log.InterpretSpecial2();
    ASSERT_EQ(log.UpperBound(), 1);
    const LogEntry added = log.Entry(1);
    EXPECT_EQ(added.stamp, "200812241830" "00");
    EXPECT_EQ(added.text, "5|1||");
    ASSERT_EQ(added.telegram.size(), 19u + 3 + 1 + 4 + 2);
    EXPECT_EQ(std::vector<uint8_t>(added.telegram.begin() + 19, added.telegram.begin() + 23),
              (std::vector<uint8_t>{0xD5, 0x81, 0x03, 0x2B}));
    EXPECT_EQ(std::vector<uint8_t>(added.telegram.begin() + 23, added.telegram.begin() + 27),
              (std::vector<uint8_t>{0x00, 0x00, 0x80, 0x3F}));
}

}  // namespace
}  // namespace mbus::control
