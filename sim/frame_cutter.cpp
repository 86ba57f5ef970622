#include "sim/frame_cutter.h"

#include "control/line/frame_shape.h"

namespace mbus::sim {

void FrameCutter::DropFirst() {
    pending_.pop_front();
    ++discarded_;
}

bool FrameCutter::Next(std::vector<MasterByte>* frame) {
    for (;;) {
        if (pending_.empty()) return false;
        const std::size_t have = pending_.size();
        auto at = [&](std::size_t i) { return pending_[i].value; };
        std::size_t need = 0;
        switch (at(0)) {
            case 0xE5: need = 1; break;
            case 0x10: need = 5; break;
            case 0x68:
                if (have < 4) return false;
                if (at(3) != 0x68 || at(1) != at(2) || at(1) < 3) {
                    DropFirst();
                    continue;
                }
                need = at(1) + 6u;
                break;
            case 0xD8: {
                if (have < 6) return false;
                const std::size_t len = at(1) + 256u * at(2);
                if (at(5) != 0xD8 || at(1) != at(3) || at(2) != at(4) || len < 3) {
                    DropFirst();
                    continue;
                }
                need = len + 8;
                break;
            }
            default: DropFirst(); continue;
        }
        if (have < need) return false;
        std::vector<uint8_t> bytes(need);
        for (std::size_t i = 0; i < need; ++i) bytes[i] = at(i);
        if (ClassifyFrame(bytes).result == 4) {
            DropFirst();
            continue;
        }
        frame->assign(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(need));
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(need));
        return true;
    }
}

}  // namespace mbus::sim
