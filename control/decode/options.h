// Library-wide option record and current language.
//
// Every field is a 32-bit word; hosts change them through the OPT
// properties, the decoder and the link layer read them on any thread, so
// each word is an atomic (relaxed order: options are independent flags).

#pragma once

#include <atomic>
#include <cstdint>

#include "control/decode/export.h"

struct MBUS_EXPORT MBusOptionStruct {
    using Word = std::atomic<int32_t>;

    Word OPTMessagesOn{0};
    Word OPTValueAfterErrorVIFE{1};
    Word OPTSearchSlaveListReset{1};
    Word OPTPrimaryAddressSearch{1};
    Word OPTSecondaryAddressSearch{1};
    Word OPTFCBREQUDOption{1};
    Word OPTFCBSNDUDOption{1};
    Word OPTFCBFCVoffat255{1};
    Word OPTAutoREQUD2{1};
    Word OPTAutoREQUD1{1};
    Word OPTOnlyVIFUnitsWithoutMultiplier{1};
    Word unusedWord1{0};
    // Layout of a plain-text VIF: 0 = VIFEs, then length byte and text;
    // 1 = length byte and text, then VIFEs. No property reaches it.
    Word plainTextVIFEsAfterText{0};
    Word unusedWord2{0};

    // Puts every field back to its load-time value.
    void Reset();
};

// The option record of the library.
extern MBUS_EXPORT MBusOptionStruct MBusOption;

// Current text language (0..9, see text_tables.h); 0 (English) at load.
extern MBUS_EXPORT std::atomic<int32_t> MBusLanguage;

namespace mbus {
// Current language, always a valid column number.
inline int CurrentLanguage() {
    const int l = MBusLanguage.load(std::memory_order_relaxed);
    return (l >= 0 && l <= 9) ? l : 0;
}
inline int32_t Option(const MBusOptionStruct::Word& w) { return w.load(std::memory_order_relaxed); }
}  // namespace mbus
