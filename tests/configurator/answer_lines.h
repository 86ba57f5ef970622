// Answer lines made the way the configuration program meets them: simulated
// modules on a simulated bus answer the frames a test sends, each exchange
// goes into a real telegram log behind its script line, and the log renders
// its entries as cooked Hex2 text (LOGRetrieveCookedDataHex2(i, i)).
//
// Tests of the result parser and of the module pages derive their fixtures
// from this class.

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/com/telegram_log.h"
#include "sim/sim_bus.h"

namespace mbus::meridex::test {

class AnswerLines {
public:
    using Bytes = std::vector<uint8_t>;

    // Sets the decoder options as the program does at start (values with
    // their VIF's multiplier, language 0) and restores them when it goes.
    AnswerLines();
    ~AnswerLines();
    AnswerLines(const AnswerLines&) = delete;
    AnswerLines& operator=(const AnswerLines&) = delete;

    // Adds a slave of the bus description language ("module=pulse ...");
    // a description that does not parse fails the test.
    void AddSlave(std::string_view description);

    // A frame to the bus and the bytes that come back.
    Bytes Exchange(const Bytes& frame);
    // REQ_UD2 with the FCB alternating.
    Bytes Read(uint8_t A);
    // SND_UD: the first byte of the hex text is the CI.
    Bytes Send(uint8_t A, std::string_view text);
    // A selection with the hex bytes behind CI 52h.
    Bytes Select(std::string_view bytes);
    // The script line "7|A||51 " + record text as the control parses it:
    // sent as SND_UD and logged as the control logs it. The module's answer
    // (E5h) is returned; nothing when the line does not parse.
    Bytes Write(uint8_t A, std::string_view recordText);

    // An entry for a script line and the answer its command received.
    void Log(const std::string& line, const Bytes& answer, int status = 4);
    // Entry i as the program reads it: LOGRetrieveCookedDataHex2(i, i).
    std::string Entry(int i) const;
    // The newest entry.
    std::string Last() const;
    // The answer line as the result parser searches for it.
    std::optional<std::string> Find() const;

    // A read at A, logged as "5|A||"; returns its answer line.
    std::string ReadLine(uint8_t A);
    // Adds the slave described and returns the answer line of a read at A.
    std::string AnswerOf(std::string_view description, uint8_t A);

protected:
    sim::SimBus bus_;
    control::TelegramLog log_;
    bool fcb_ = false;
};

}  // namespace mbus::meridex::test
