// The benchmark corpus: M-Bus answers classified once, ready to decode.
// Tests read it too, so every telegram of it is checked for decoding.

#pragma once

#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "control/line/frame_shape.h"
#include "tools/mbusctl/hex_input.h"

namespace mbus::bench {

struct Answer {
    std::string title;
    std::vector<uint8_t> frame;
    FrameShape shape;
};

// Reads bench/corpus/telegrams.txt: "# title" lines, each followed by a
// telegram as hex digit pairs.
inline std::vector<Answer> LoadCorpus() {
    std::ifstream in(MBUS_SOURCE_DIR "/bench/corpus/telegrams.txt");
    if (!in) throw std::runtime_error("cannot read bench/corpus/telegrams.txt");
    std::vector<Answer> out;
    std::string line, title;
    while (std::getline(in, line)) {
        if (line.rfind("# ", 0) == 0) title = line.substr(2);
        if (line.empty() || line[0] == '#') continue;
        const cli::HexParse parsed = cli::ParseHexBytes(line);
        if (!parsed.error.empty()) throw std::runtime_error("corpus: " + title + ": " + parsed.error);
        out.push_back({title, parsed.bytes, ClassifyFrame(parsed.bytes)});
    }
    return out;
}

}  // namespace mbus::bench
