// One channel of the control as the dispatch interface sees it: the
// channel engine's record with its telegram log and its script runner.
// The runner goes first when the record is destroyed (its thread stops
// before the channel's worker and line).

#pragma once

#include <memory>

#include "control/com/script_runner.h"
#include "control/com/telegram_log.h"
#include "control/engine/channel.h"

namespace mbus::control {

struct ChannelRecord {
    explicit ChannelRecord(int index)
        : channel(index), log(std::make_shared<TelegramLog>()), script(channel) {
        channel.SetLog(log);
    }

    engine::Channel channel;
    std::shared_ptr<TelegramLog> log;
    ScriptRunner script;
};

}  // namespace mbus::control
