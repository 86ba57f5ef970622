// The library-wide locks. Each guards one kind of work for all channels;
// no code path holds two of the first nine at once.

#pragma once

#include <mutex>

namespace mbus::engine {

struct LibraryLocks {
    std::mutex receivePoll;  // polling a line for its answer
    std::mutex sendShort;    // short frames (REQ_UD, SND_NKE)
    std::mutex sendLong;     // long and control frames (SND_UD, selections)
    std::mutex sendRaw;      // raw bytes
    std::mutex listen;       // listening without sending
    std::mutex decoder;      // the decoded telegrams of the channels
    std::mutex log;          // the telegram logs
    std::mutex layers;       // port open, close and replacement of layer objects
    std::mutex modemTime;    // the modem's time check
    std::mutex scriptStep;   // one script step
    std::mutex scriptStart;  // starting a script
};

LibraryLocks& Locks();

}  // namespace mbus::engine
