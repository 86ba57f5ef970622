// Feeds arbitrary text through the parser of the component registry file,
// and writes the parsed tree back out: what it writes must parse again.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/com/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string problems;
    const mbus::com::RegistryTree tree = mbus::com::RegistryTree::Parse(text, &problems);
    const std::string written = tree.Serialize();
    const mbus::com::RegistryTree again = mbus::com::RegistryTree::Parse(written);
    if (again.Serialize() != written) __builtin_trap();
    return 0;
}
