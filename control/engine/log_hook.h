// Where a channel records its traffic: the command line of every request
// and the answer that ends it. The telegram log implements this; a channel
// without a log records nothing. Calls arrive under the library's log lock.

#pragma once

#include <cstdint>
#include <string>

namespace mbus::engine {

struct LoggedAnswer {
    int code = 4;  // reception result
    const uint8_t* bytes = nullptr;
    int length = 0;
    int C = 0, A = 0, CI = 0;
    int decoderResult = 255;
    int receivedSomething = 0;
};

class TelegramLogHook {
public:
    virtual ~TelegramLogHook() = default;
    // A new entry with the script line of a request and its initial status.
    virtual void AppendCommand(const std::string& line, int status) = 0;
    // The answer of the newest entry.
    virtual void AttachAnswer(const LoggedAnswer& answer) = 0;
};

}  // namespace mbus::engine
