#include "control/link/ymodem.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>

namespace mbus::link {

uint16_t Crc16Xmodem(const uint8_t* data, std::size_t n) {
    static const auto table = [] {
        std::array<uint16_t, 256> t{};
        for (int i = 0; i < 256; ++i) {
            uint16_t c = static_cast<uint16_t>(i << 8);
            for (int k = 0; k < 8; ++k) c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1);
            t[static_cast<std::size_t>(i)] = c;
        }
        return t;
    }();
    uint16_t crc = 0;
    for (std::size_t i = 0; i < n; ++i) crc = static_cast<uint16_t>((crc << 8) ^ table[((crc >> 8) ^ data[i]) & 0xFF]);
    return crc;
}

YmodemTransfer::~YmodemTransfer() {
    if (file != nullptr) std::fclose(file);
}

void YmodemTransfer::Reset() {
    if (file != nullptr) std::fclose(file);
    *this = YmodemTransfer{};
}

bool SafeYmodemFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of("/\\\\") == std::string::npos && name.find('\0') == std::string::npos;
}

namespace {

// The header block of a file download: the name and size; the file is created.
void TakeHeader(YmodemTransfer& t, const uint8_t* data) {
    std::string name;
    std::size_t i = 0;
    while (i < 128 && data[i] != 0) name += static_cast<char>(data[i++]);
    std::string size;
    for (++i; i < 128 && data[i] >= '0' && data[i] <= '9'; ++i) size += static_cast<char>(data[i]);
    t.fileSize = size.empty() ? 0 : std::stoll(size.substr(0, 15));
    if (!SafeYmodemFileName(name)) {
        // A name with a path would write outside the folder: refused, and
        // the download ends as failed.
        t.refused = true;
        return;
    }
    t.filePath = (std::filesystem::path(t.folder) / name).string();
    t.file = std::fopen(t.filePath.c_str(), "wb");
}

}  // namespace

int CheckYmodemBlock(YmodemTransfer& t, const uint8_t* b, int n) {
    if (n < 1) return kYmodemBad;
    switch (b[0]) {
        case 0x04: return n == 1 ? kYmodemEnd : kYmodemBad;
        case 0x18: return kYmodemCancel;
        case 0x06:
            if (n == 1) return kYmodemAck;
            if (n == 2 && b[1] == 0x43) return kYmodemAckC;
            return kYmodemBad;
        case 0x15: return n == 1 ? kYmodemNak : kYmodemBad;
        case 0x43: return n == 1 ? kYmodemC : kYmodemBad;
        case 0x13: return kYmodemOther;
        case 0x01:
        case 0x02: break;
        default: return kYmodemBad;
    }
    const int size = b[0] == 0x01 ? 128 : 1024;
    if (n != size + 5) return kYmodemBad;
    const auto expected = static_cast<uint8_t>(t.blockCounter & 0xFF);
    if (b[1] != expected || b[2] != static_cast<uint8_t>(b[1] ^ 0xFF)) return kYmodemBad;
    if (Crc16Xmodem(b + 3, static_cast<std::size_t>(size) + 2) != 0) return kYmodemBad;
    const uint8_t* data = b + 3;
    if (t.folder.empty()) {
        // Into memory; block 0 is the header.
        if (!(size == 128 && t.blockCounter == 0) && t.storePosition < static_cast<int32_t>(kYmodemMemoryLimit)) {
            const std::size_t take =
                std::min<std::size_t>(static_cast<std::size_t>(size), kYmodemMemoryLimit - static_cast<std::size_t>(t.storePosition));
            if (t.buffer.size() < static_cast<std::size_t>(t.storePosition) + take)
                t.buffer.resize(static_cast<std::size_t>(t.storePosition) + take);
            std::copy(data, data + take, t.buffer.begin() + t.storePosition);
            t.storePosition += size;
        }
    } else if (size == 128 && t.transferred == 0 && t.file == nullptr && !t.refused) {
        TakeHeader(t, data);
    } else if (t.file != nullptr) {
        t.transferred += static_cast<int64_t>(std::fwrite(data, 1, static_cast<std::size_t>(size), t.file));
    }
    ++t.blockCounter;
    return size == 128 ? kYmodemBlock128 : kYmodemBlock1024;
}

std::string ConvertHouseCentralList(const uint8_t* b, int n) {
    const std::size_t capacity = static_cast<std::size_t>(std::max(0, n) / 30) * 53;
    std::string out;
    auto put = [&](char c) {
        if (out.size() < capacity) out += c;
    };
    int at = 0;
    while (at < n && b[at] == 0x1B) ++at;
    for (;;) {
        // A record starts one byte after the position (past the 20h or the separator).
        int p = at + 1;
        if (p >= n || !(std::isdigit(b[p]) || b[p] == ' ')) break;
        auto field = [&](int count, bool blankToZero) {
            for (int i = 0; i < count; ++i, ++p) {
                const char c = p < n ? static_cast<char>(b[p]) : ' ';
                put(blankToZero && c == ' ' ? '0' : c);
            }
        };
        field(3, true);
        field(8, true);
        ++p;
        field(3, false);
        ++p;
        field(3, true);
        ++p;
        field(2, true);
        for (int i = 0; i < 32; ++i) put('F');
        // On to the next run of 1Bh and past it.
        while (p < n && b[p] != 0x1B) ++p;
        while (p < n && b[p] == 0x1B) ++p;
        if (p >= n) break;
        at = p;
    }
    return out;
}

}  // namespace mbus::link
