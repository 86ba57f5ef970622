#include "sim/wire.h"

#include <algorithm>

namespace mbus::sim {

std::vector<LineByte> Stream(const Bytes& bytes, SimClock::time_point start, SimClock::duration characterTime) {
    std::vector<LineByte> out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        LineByte b;
        b.start = start + characterTime * static_cast<int64_t>(i);
        b.value = bytes[i];
        out.push_back(b);
    }
    return out;
}

std::vector<LineByte> MergeOnLine(const std::vector<std::vector<LineByte>>& streams,
                                  SimClock::duration characterTime) {
    std::vector<LineByte> all;
    for (const auto& s : streams) all.insert(all.end(), s.begin(), s.end());
    std::stable_sort(all.begin(), all.end(), [](const LineByte& a, const LineByte& b) { return a.start < b.start; });

    std::vector<LineByte> out;
    std::vector<bool> used(all.size(), false);
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (used[i]) continue;
        LineByte merged = all[i];
        const SimClock::time_point until = merged.start + characterTime;
        for (std::size_t j = i + 1; j < all.size() && all[j].start < until; ++j) {
            if (used[j]) continue;
            used[j] = true;
            if (all[j].value != all[i].value) merged.framing = true;
            merged.value = static_cast<uint8_t>(merged.value & all[j].value);
            merged.parity = merged.parity || all[j].parity;
            merged.framing = merged.framing || all[j].framing;
        }
        out.push_back(merged);
    }
    return out;
}

std::string HexText(std::span<const uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) text += ' ';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace mbus::sim
