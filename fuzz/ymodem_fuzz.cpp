// Feeds arbitrary bytes through what a data logger sends: the YMODEM block
// check (into memory, with the store's limit), the check of header file
// names, and the conversion of a house-central unit's slave list, whose
// text must stay within its capacity and come in 51-character records.
// Byte 0 chooses the block counter.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "control/link/ymodem.h"

using namespace mbus::link;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const uint8_t* b = data + 1;
    const int n = static_cast<int>(size - 1);
    YmodemTransfer t;
    t.blockCounter = data[0];
    t.storePosition = data[0] & 1 ? static_cast<int32_t>(kYmodemMemoryLimit) - 100 : 0;
    const int r = CheckYmodemBlock(t, b, n);
    if (r < 10 || r > 19) abort();
    if (static_cast<std::size_t>(t.storePosition) > kYmodemMemoryLimit + 1024 || t.buffer.size() > kYmodemMemoryLimit)
        abort();
    const std::string name(reinterpret_cast<const char*>(b), static_cast<std::size_t>(n));
    if (SafeYmodemFileName(name) && (name.find('/') != std::string::npos || name == ".." || name == ".")) abort();
    const std::string list = ConvertHouseCentralList(b, n);
    if (list.size() > static_cast<std::size_t>(n / 30) * 53) abort();
    return 0;
}
