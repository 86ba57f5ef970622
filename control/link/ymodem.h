// The answers of data loggers that are no M-Bus frames: YMODEM blocks of a
// download (checked and stored) or upload (acknowledgements), and the slave
// list a house-central unit sends as text.

#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace mbus::link {

// CRC-16 of XMODEM/YMODEM: polynomial 1021h, initial value 0.
uint16_t Crc16Xmodem(const uint8_t* data, std::size_t n);

// YMODEM results of the block check (reception results 10 to 19).
enum YmodemResult : int {
    kYmodemOther = 10,
    kYmodemBlock128 = 11,
    kYmodemBlock1024 = 12,
    kYmodemEnd = 13,
    kYmodemCancel = 14,
    kYmodemBad = 15,
    kYmodemAck = 16,
    kYmodemNak = 17,
    kYmodemC = 18,
    kYmodemAckC = 19,
};

inline constexpr std::size_t kYmodemMemoryStore = 266240;
inline constexpr std::size_t kYmodemMemoryLimit = 264192;  // bytes a memory download keeps

// The state of a YMODEM transfer of a link layer.
struct YmodemTransfer {
    std::vector<uint8_t> buffer;  // memory store of a download, or the block to send in an upload
    int32_t storePosition = 0;    // bytes stored in a memory download; 1 in an upload (the upload mark)
    int32_t blockCounter = 0;
    int32_t state = 0;            // step of the exchange
    int32_t errors = 0;
    std::string folder;           // where downloaded files go; empty: into memory
    int64_t transferred = 0;
    int64_t fileSize = 0;
    std::FILE* file = nullptr;
    std::string filePath;         // the file being written or read
    bool upload = false;
    bool refused = false;         // the header named a file outside the folder

    ~YmodemTransfer();
    void Reset();
};

// The block check of received bytes (first byte b[0], n bytes).
int CheckYmodemBlock(YmodemTransfer& t, const uint8_t* b, int n);

// A file name from a YMODEM header that stays inside the target folder: no
// path separator, not "." or "..", not empty.
bool SafeYmodemFileName(const std::string& name);

// Converts a house-central unit's slave list (runs of 1Bh, 20h, records) to
// 51-character entries.
std::string ConvertHouseCentralList(const uint8_t* b, int n);

}  // namespace mbus::link
