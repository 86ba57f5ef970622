#include "control/decode/options.h"

MBusOptionStruct MBusOption;
MBusTestOptionStruct MBusTestOption;
std::atomic<int32_t> MBusLanguage{0};

void MBusOptionStruct::Reset() {
    constexpr auto r = std::memory_order_relaxed;
    OPTMessagesOn.store(0, r);
    OPTValueAfterErrorVIFE.store(1, r);
    OPTSearchSlaveListReset.store(1, r);
    OPTPrimaryAddressSearch.store(1, r);
    OPTSecondaryAddressSearch.store(1, r);
    OPTFCBREQUDOption.store(1, r);
    OPTFCBSNDUDOption.store(1, r);
    OPTFCBFCVoffat255.store(1, r);
    OPTAutoREQUD2.store(1, r);
    OPTAutoREQUD1.store(1, r);
    OPTOnlyVIFUnitsWithoutMultiplier.store(1, r);
    unusedWord1.store(0, r);
    plainTextVIFEsAfterText.store(0, r);
    unusedWord2.store(0, r);
}

void MBusTestOptionStruct::Reset() {
    Word* fields[] = {&OPXTestOptionsEnable,     &OPXSNDUDStartByte1Wrong,  &OPXSNDUDStartByte1Twice,
                      &OPXSNDUDStartByte2Wrong,  &OPXSNDUDStartByte2Twice,  &OPXSNDUDLengthByte1Wrong,
                      &OPXSNDUDLengthByte1Twice, &OPXSNDUDLengthByte2Wrong, &OPXSNDUDLengthByte2Twice,
                      &OPXSNDUDCFieldWrong,      &OPXSNDUDCFieldTwice,      &OPXSNDUDCIFieldWrong,
                      &OPXSNDUDCIFieldTwice,     &OPXSNDUDChecksumWrong,    &OPXSNDUDChecksumTwice,
                      &OPXSNDUDStopByteWrong,    &OPXSNDUDStopByteTwice,    &OPXREQUDStartByteWrong,
                      &OPXREQUDStartByteTwice,   &OPXREQUDCFieldWrong,      &OPXREQUDCFieldTwice,
                      &OPXREQUDChecksumWrong,    &OPXREQUDChecksumTwice,    &OPXREQUDStopByteWrong,
                      &OPXREQUDStopByteTwice,    &OPXBreakOption};
    for (Word* w : fields) w->store(0, std::memory_order_relaxed);
    OPXTestOptionsEnable.store(1, std::memory_order_relaxed);
}
