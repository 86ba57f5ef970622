// Prints the state payloads of a set of readouts, one a line, for the
// schema check (validate_state.py): every quantity of the table, dates,
// texts, suffixes and repeats, a readout in two telegrams, and every long
// frame of the benchmark corpus (answers of real meters).

#include <cstdio>

#include "bench/corpus.h"
#include "tests/tools/bridge/telegrams.h"

using namespace mbus::bridge;
using namespace mbus::bridge::test;

namespace {

struct Sample {
    uint8_t medium;
    const char* records;
};

// A heat meter with energy (kWh, MJ, MCal), volume, temperatures and their
// difference, power, volume flow, running times, a date and a date-time,
// error flags, a fabrication number, tariffs, storage, maximum, minimum
// and a value during an error state, a text and a value no number reads.
constexpr Sample kSamples[] = {
    {0x04, "0C0611470000 0C0E22330000 0CFB0D11470000 0C1389670000 0A5A5505 0A5E2003 0A621500 042BE8030000"
           "043BE8030000 042212000000 04242C010000 04700A000000 026C483C 046D1E12181C 02FD170000"
           "0C7878563412 8C1006224700008C2006334700004C0644550000 8C400611220000 1A5A6005 2A5A7005 3A5A8005"
           "0DFD0E03332E31 0A620F00 026C0000 0AFD4A3002 0F0102032F2F"},
    {0x07, "0C1378563412 046D000C4137 07 06 FF FF FF FF FF FF FF 7F 0E0699999999999999"},
    {0x03, "0C1325410000 046D1E12181C"},
    {0x08, "0B6E450100 426E1200"},
};

}  // namespace

int main() {
    UseCentralEuropeanTime();
    for (const Sample& s : kSamples) std::printf("%s\n", StatePayload(ReadoutOf(s.medium, s.records).reading).c_str());
    // Two telegrams: the first announces more records (1Fh).
    std::vector<std::unique_ptr<MBTelegram>> two;
    two.push_back(Answer(0x04, "0C0699990000 1F", 0x05, 1));
    two.push_back(Answer(0x04, "0C1312340000", 0x05, 2));
    std::printf("%s\n", StatePayload(Readout("27182818", std::move(two)).reading).c_str());
    // A meter that sent no records.
    std::printf("%s\n", StatePayload(ReadoutOf(0x02, "").reading).c_str());
    for (const mbus::bench::Answer& a : mbus::bench::LoadCorpus()) {
        if (a.frame.size() < 7 || a.frame[0] != 0x68) continue;
        std::vector<std::unique_ptr<MBTelegram>> one;
        one.push_back(std::make_unique<MBTelegram>());
        one.back()->InterpretAnswer(mbus::kFrameLong, a.frame[4], a.frame[5], a.frame[6], a.frame.data(),
                                    static_cast<int>(a.frame.size()));
        std::printf("%s\n", StatePayload(Readout(a.title, std::move(one)).reading).c_str());
    }
    return 0;
}
