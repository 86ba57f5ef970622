// The selection frames and their log lines.

#include <gtest/gtest.h>

#include "control/engine/channel.h"
#include "control/engine/selection.h"

namespace mbus::engine {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(Selection, CIAndByteOrderFollowTheMode) {
    const SecondaryAddress a{"12345678", "59C4", "01", "07"};
    const Selection lsb = BuildSelect(2, a, false);
    EXPECT_EQ(lsb.ci, 0x51);
    EXPECT_EQ(lsb.data, (Bytes{0x78, 0x56, 0x34, 0x12, 0xC4, 0x59, 0x01, 0x07}));
    EXPECT_EQ(lsb.logLine, "8||Standard2: 12345678,59C4,01,07|");

    const Selection written = BuildSelect(1, a, false);
    EXPECT_EQ(written.ci, 0x56);
    EXPECT_EQ(written.data, (Bytes{0x12, 0x34, 0x56, 0x78, 0x59, 0xC4, 0x01, 0x07}));
    EXPECT_EQ(written.logLine, "8||Standard1: 12345678,59C4,01,07|");

    EXPECT_EQ(BuildSelect(3, a, false).ci, 0x55);
    EXPECT_EQ(BuildSelect(3, a, false).logLine.substr(0, 14), "8||Standard3: ");
    EXPECT_EQ(BuildSelect(0, a, false).ci, 0x52);
    EXPECT_EQ(BuildSelect(7, a, true).logLine, "108||Standard: 12345678,59C4,01,07|");
}

TEST(Selection, MissingAndInvalidDigitsAreWildcards) {
    // "1234" selects 1234FFFFh; a pair with a non-digit becomes FFh.
    const Selection s = BuildSelect(0, {"1234", "5G", "", "7"}, false);
    EXPECT_EQ(s.data, (Bytes{0xFF, 0xFF, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0x7F}));
    EXPECT_EQ(s.logLine, "8||Standard: 1234FFFF,FFFF,FF,7F|");
    EXPECT_EQ(WildcardBytes("a1x", 3), (Bytes{0xA1, 0xFF, 0xFF}));
}

TEST(Selection, FixedStructureManufacturerWildcardsTheRest) {
    const Selection s = BuildSelect(2, {"12345678", "1938", "01", "07"}, false);
    EXPECT_EQ(s.data, (Bytes{0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(s.logLine, "8||Standard2: 12345678,FFFF,FF,FF|");
}

TEST(Selection, Extensions) {
    const SecondaryAddress a{"12345678", "59C4", "01", "07"};
    const Selection fab = BuildSelectFab(2, a, "87654321", false);
    EXPECT_EQ(fab.data.size(), 14u);
    EXPECT_EQ(Bytes(fab.data.begin() + 8, fab.data.end()), (Bytes{0x0C, 0x78, 0x21, 0x43, 0x65, 0x87}));
    EXPECT_EQ(fab.logLine, "8||Standard2: 12345678,59C4,01,07,87654321|");
    const Selection fabWritten = BuildSelectFab(1, a, "87654321", false);
    EXPECT_EQ(Bytes(fabWritten.data.begin() + 10, fabWritten.data.end()), (Bytes{0x87, 0x65, 0x43, 0x21}));

    const Selection prim = BuildSelectPrim(0, a, 5, false);
    EXPECT_EQ(prim.data.size(), 11u);
    EXPECT_EQ(Bytes(prim.data.begin() + 8, prim.data.end()), (Bytes{0x01, 0x7A, 0x05}));
    EXPECT_EQ(prim.logLine, "8||Standard: 12345678,59C4,01,07,05|");
    const Selection outside = BuildSelectPrim(0, a, 256, false);
    EXPECT_EQ(outside.data.back(), 0xFD);
    EXPECT_EQ(outside.logLine, "8||Standard: 12345678,59C4,01,07,FD|");

    const Selection sp = BuildSelectSp(2, a, "0102030405060708", false);
    EXPECT_EQ(sp.data.size(), 14u);
    EXPECT_EQ(Bytes(sp.data.begin() + 8, sp.data.end()), (Bytes{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(sp.logLine, "8||Standard2: 12345678,59C4,01,07,010203040506|");
}

TEST(Selection, CustomerRecords) {
    const Selection both = BuildSelectCustom(0, "123456789012", "ABCDEF", false);
    ASSERT_EQ(both.data.size(), 26u);
    EXPECT_EQ(Bytes(both.data.begin(), both.data.begin() + 8), Bytes(8, 0xFF));
    // Customer number, last digit pair first, then the location.
    EXPECT_EQ(Bytes(both.data.begin() + 8, both.data.begin() + 17),
              (Bytes{0x06, 0xFD, 0x11, 0x12, 0x90, 0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(Bytes(both.data.begin() + 17, both.data.end()),
              (Bytes{0x06, 0xFD, 0x10, 0xFF, 0xFF, 0xFF, 0xEF, 0xCD, 0xAB}));
    EXPECT_EQ(both.logLine, "9||Customer: 123456789012,ABCDEFFFFFFF|");

    const Selection number = BuildSelectCustom(1, "12", "", false);
    EXPECT_EQ(number.ci, 0x56);
    EXPECT_EQ(number.data.size(), 17u);
    EXPECT_EQ(number.data[10], 0x11);
    EXPECT_EQ(number.logLine, "9||Customer1: 12FFFFFFFFFF|");

    // Neither text: the location record, all wildcards.
    const Selection neither = BuildSelectCustom(2, "", "", true);
    EXPECT_EQ(neither.data.size(), 17u);
    EXPECT_EQ(neither.data[10], 0x10);
    EXPECT_EQ(neither.logLine, "109||Customer2: FFFFFFFFFFFF|");
}

TEST(Selection, LogLinesOfRequests) {
    EXPECT_EQ(RequestLogLine(4, "7||", false), "4|7||");
    EXPECT_EQ(RequestLogLine(5, "7||", true), "105|7||");
    const Bytes bytes = {0x51, 0x0F, 0x48};
    EXPECT_EQ(DataEcho(bytes, false), "510F48");
    EXPECT_EQ(DataEcho(bytes, true), "081015072");
    EXPECT_EQ(DataEcho(Bytes(500, 0xAB), false).size(), 802u);
    EXPECT_EQ(DataEcho(Bytes(500, 1), true).size(), 903u);
}

}  // namespace
}  // namespace mbus::engine
