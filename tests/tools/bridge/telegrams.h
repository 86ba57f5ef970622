// Telegrams and readouts for the bridge's payload tests: long-frame answers
// of a meter (identification 12345678, maker code 4701h, QXA) built from
// data records in hex, decoded as the bridge decodes them.

#pragma once

#include <stdlib.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "control/decode/telegram.h"
#include "tools/mbus-bridge/payload.h"
#include "tools/mbusctl/hex_input.h"

namespace mbus::bridge::test {

inline std::unique_ptr<MBTelegram> Answer(uint8_t medium, const std::string& recordsHex, uint8_t version = 0x14,
                                          uint8_t accessNumber = 0x2A) {
    std::vector<uint8_t> user = {0x08, 0x05, 0x72, 0x78, 0x56, 0x34, 0x12, 0x01, 0x47, version, medium, accessNumber,
                                 0, 0, 0};
    const cli::HexParse records = recordsHex.empty() ? cli::HexParse{} : cli::ParseHexBytes(recordsHex);
    if (!records.error.empty()) {
        // A typing fault in a test's records, not a result.
        std::fprintf(stderr, "records \"%s\": %s\n", recordsHex.c_str(), records.error.c_str());
        std::abort();
    }
    user.insert(user.end(), records.bytes.begin(), records.bytes.end());
    std::vector<uint8_t> frame = {0x68, static_cast<uint8_t>(user.size()), static_cast<uint8_t>(user.size()), 0x68};
    uint8_t sum = 0;
    for (uint8_t b : user) sum = static_cast<uint8_t>(sum + b);
    frame.insert(frame.end(), user.begin(), user.end());
    frame.push_back(sum);
    frame.push_back(0x16);
    auto t = std::make_unique<MBTelegram>();
    t->InterpretAnswer(kFrameLong, frame[4], frame[5], frame[6], frame.data(), static_cast<int>(frame.size()));
    return t;
}

// A readout and the telegrams it points to.
struct Readout {
    std::vector<std::unique_ptr<MBTelegram>> telegrams;
    MeterReading reading;

    Readout(std::string name, std::vector<std::unique_ptr<MBTelegram>> answers) : telegrams(std::move(answers)) {
        reading.name = std::move(name);
        reading.address = "5";
        reading.bus = "cellar";
        reading.readAt = 1796736605;  // 2026-12-08 13:30:05 UTC, 14:30:05 in central Europe
        for (const auto& t : telegrams) reading.telegrams.push_back(t.get());
    }
};

inline Readout ReadoutOf(uint8_t medium, const std::string& recordsHex, const std::string& name = "flat-3-heat") {
    std::vector<std::unique_ptr<MBTelegram>> answers;
    answers.push_back(Answer(medium, recordsHex));
    return Readout(name, std::move(answers));
}

// A fixed time zone (central Europe: +01:00 in winter, +02:00 in summer),
// so that local times with offsets are the same on every machine.
inline void UseCentralEuropeanTime() {
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
}

}  // namespace mbus::bridge::test
