// The benchmark corpus: M-Bus answers classified once, ready to decode.

#pragma once

#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "control/link/frame_shape.h"

namespace mbus::bench {

struct Answer {
    std::vector<uint8_t> frame;
    FrameShape shape;
};

inline std::vector<uint8_t> ParseHex(const std::string& line) {
    std::vector<uint8_t> out;
    int pending = -1;
    for (char c : line) {
        int v = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
        if (v < 0) continue;
        if (pending < 0) pending = v;
        else {
            out.push_back(static_cast<uint8_t>(pending << 4 | v));
            pending = -1;
        }
    }
    return out;
}

inline std::vector<Answer> LoadCorpus() {
    std::ifstream in(MBUS_SOURCE_DIR "/bench/corpus/telegrams.txt");
    if (!in) throw std::runtime_error("cannot read bench/corpus/telegrams.txt");
    std::vector<Answer> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        Answer a;
        a.frame = ParseHex(line);
        a.shape = ClassifyFrame(a.frame);
        out.push_back(std::move(a));
    }
    return out;
}

}  // namespace mbus::bench
