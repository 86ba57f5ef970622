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

// Test faults that the link layer puts into the frames it sends, to check
// how slaves cope with them. 0 means off; the first field is the master
// switch (1 at load), no other field acts while it is 0.
struct MBUS_EXPORT MBusTestOptionStruct {
    using Word = std::atomic<int32_t>;

    Word OPXTestOptionsEnable{1};
    Word OPXSNDUDStartByte1Wrong{0};
    Word OPXSNDUDStartByte1Twice{0};
    Word OPXSNDUDStartByte2Wrong{0};
    Word OPXSNDUDStartByte2Twice{0};
    Word OPXSNDUDLengthByte1Wrong{0};
    Word OPXSNDUDLengthByte1Twice{0};
    Word OPXSNDUDLengthByte2Wrong{0};
    Word OPXSNDUDLengthByte2Twice{0};
    Word OPXSNDUDCFieldWrong{0};
    Word OPXSNDUDCFieldTwice{0};
    Word OPXSNDUDCIFieldWrong{0};
    Word OPXSNDUDCIFieldTwice{0};
    Word OPXSNDUDChecksumWrong{0};
    Word OPXSNDUDChecksumTwice{0};
    Word OPXSNDUDStopByteWrong{0};
    Word OPXSNDUDStopByteTwice{0};
    Word OPXREQUDStartByteWrong{0};
    Word OPXREQUDStartByteTwice{0};
    Word OPXREQUDCFieldWrong{0};
    Word OPXREQUDCFieldTwice{0};
    Word OPXREQUDChecksumWrong{0};
    Word OPXREQUDChecksumTwice{0};
    Word OPXREQUDStopByteWrong{0};
    Word OPXREQUDStopByteTwice{0};
    Word OPXBreakOption{0};  // 1 or 2: break condition on the line during reception

    void Reset();
};

// The option record of the library.
extern MBUS_EXPORT MBusOptionStruct MBusOption;

// The test-fault record of the library.
extern MBUS_EXPORT MBusTestOptionStruct MBusTestOption;

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
