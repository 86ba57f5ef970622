// The device list: the 128-character record of each variant written out,
// records of real readouts of the simulated modules, the box entries and
// their filtering by maker code, entering a module after a readout, the
// records of slave-list texts, and ".MDX" files byte for byte (CR LF,
// 130-byte blocks, a short last block, damaged files).

#include "configurator/devices/device_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "configurator/shell/read_script.h"
#include "platform/files/read_file.h"
#include "platform/profile/config_file.h"
#include "tests/configurator/answer_lines.h"
#include "tests/support/scratch.h"

namespace mbus::meridex {
namespace {

using Strings = std::vector<std::string>;

// Positions 32..127 of every record.
const std::string kTail =
    "0252FFFFFFFF00FFFFFFFFFFFFFFFFFF0000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF";

// Records as the tests expect them: identification least significant byte
// first, manufacturer, medium, version, "FFFFFFFF01", baud code, tail.
const std::string kPulse = "0000" "78563412" "C459" "07" "95" "FFFFFFFF01" "1F" + kTail;    // P: 12345678, 07
const std::string kAnalog = "0000" "44332211" "C459" "19" "96" "FFFFFFFF01" "07" + kTail;   // A: 11223344, 19
const std::string kControl = "0000" "08060402" "C459" "0E" "97" "FFFFFFFF01" "FF" + kTail;  // C: 02040608, 0E
const std::string kKtrPulse = "0000" "21436587" "922E" "03" "05" "FFFFFFFF01" "01" + kTail; // ST: 87654321, 03
const std::string kKtrAnalog = "0000" "99999999" "922E" "19" "15" "FFFFFFFF01" "03" + kTail;
const std::string kKtrControl = "0000" "10000000" "922E" "0E" "35" "FFFFFFFF01" "1F" + kTail;

TEST(DeviceRecord, TailAndRecordsHaveTheirLengths) {
    ASSERT_EQ(kTail.size(), 96u);
    for (const std::string* r : {&kPulse, &kAnalog, &kControl, &kKtrPulse, &kKtrAnalog, &kKtrControl})
        EXPECT_EQ(r->size(), kDeviceRecordLength);
}

TEST(DeviceRecord, SearchBaudCodes) {
    EXPECT_EQ(SearchBaudCode(0), "FF");
    EXPECT_EQ(SearchBaudCode(1), "1F");
    EXPECT_EQ(SearchBaudCode(2), "07");
    EXPECT_EQ(SearchBaudCode(3), "03");
    EXPECT_EQ(SearchBaudCode(4), "01");
    EXPECT_EQ(SearchBaudCode(5), "");
    EXPECT_EQ(SearchBaudCode(-1), "");
}

TEST(DeviceRecord, EachVariantWrittenOut) {
    const struct {
        const char* id;
        int maker;
        const char* medium;
        int version;
        int baud;
        const std::string& record;
    } rows[] = {
        {"12345678", 0, "07", 0x95, 1, kPulse},    {"11223344", 0, "19", 0x96, 2, kAnalog},
        {"02040608", 0, "0E", 0x97, 0, kControl},  {"87654321", 1, "03", 0x05, 4, kKtrPulse},
        {"99999999", 1, "19", 0x15, 3, kKtrAnalog}, {"00000010", 1, "0E", 0x35, 1, kKtrControl},
    };
    for (const auto& r : rows)
        EXPECT_EQ(MakeDeviceRecord(r.id, r.maker, r.medium, r.version, SearchBaudCode(r.baud)), r.record) << r.id;
}

TEST(DeviceRecord, FieldsAreFixedWidthHex) {
    const struct {
        const char* name;
        std::string record;
        std::string expected;
    } rows[] = {
        {"lower-case digits", MakeDeviceRecord("abcdef01", 0, "0e", 0x97, "1f"),
         "0000" "01EFCDAB" "C459" "0E" "97" "FFFFFFFF01" "1F" + kTail},
        {"short fields and no baud code", MakeDeviceRecord("1234", 0, "7", 0x95, ""),
         "0000" "FFFF3412" "C459" "7F" "95" "FFFFFFFF01" "FF" + kTail},
        {"other characters become F", MakeDeviceRecord("12 4|678", 1, "x1", 0x105, "zz"),
         "0000" "78F6F412" "922E" "F1" "05" "FFFFFFFF01" "FF" + kTail},
        {"long fields are cut", MakeDeviceRecord("1234567890", 2, "123", 0x96, "011"),
         "0000" "78563412" "C459" "12" "96" "FFFFFFFF01" "01" + kTail},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(r.record, r.expected) << r.name;
        EXPECT_EQ(r.record.size(), kDeviceRecordLength) << r.name;
    }
}

class RecordOfReadouts : public ::testing::Test, public test::AnswerLines {};

TEST_F(RecordOfReadouts, ModulesReadFromTheBus) {
    const struct {
        const char* module;
        uint8_t A;
        int baud;
        std::string record;
        const char* entry;
    } rows[] = {
        {"module=pulse man=VND primary=1 id=12345678 id2=11111111", 1, 1, kPulse, "P: 12345678, 07"},
        {"module=analog man=VND primary=2 id=11223344", 2, 2, kAnalog, "A: 11223344, 19"},
        {"module=control man=VND primary=3 id=2040608", 3, 0, kControl, "C: 02040608, 0E"},
        {"module=pulse man=KTR primary=4 id=87654321 medium=03", 4, 4, kKtrPulse, "ST: 87654321, 03"},
        {"module=analog man=KTR primary=5 id=99999999", 5, 3, kKtrAnalog, "AN: 99999999, 19"},
        {"module=control man=KTR primary=6 id=10", 6, 1, kKtrControl, "RS: 00000010, 0E"},
    };
    for (const auto& r : rows) {
        const std::optional<Readout> readout = ParseAnswerLine(AnswerOf(r.module, r.A));
        ASSERT_TRUE(readout) << r.module;
        const std::optional<std::string> record = RecordOfReadout(*readout, r.baud);
        ASSERT_TRUE(record) << r.module;
        EXPECT_EQ(*record, r.record) << r.module;
        EXPECT_EQ(DeviceEntryText(*record, readout->variant->manufacturerCode).value_or("-"), r.entry) << r.module;
    }
    EXPECT_FALSE(RecordOfReadout(Readout{}, 1)) << "no variant, no record";
}

// ---------------------------------------------------------------------------
// Entries

TEST(DeviceEntries, PrefixIdentificationAndMedium) {
    const struct {
        const std::string record;
        int maker;
        const char* entry;  // "" not shown
    } rows[] = {
        {kPulse, 0, "P: 12345678, 07"},
        {kAnalog, 0, "A: 11223344, 19"},
        {kControl, 0, "C: 02040608, 0E"},
        {kKtrPulse, 1, "ST: 87654321, 03"},
        {kKtrAnalog, 1, "AN: 99999999, 19"},
        {kKtrControl, 1, "RS: 00000010, 0E"},
        {kPulse, 1, ""},
        {kKtrPulse, 0, ""},
        {"0000" "78563412" "C459" "07" "05" "FFFFFFFF01" "1F" + kTail, 0, ""},  // a KTR version under VND
        {"0000" "78563412" "C459" "07" "98" "FFFFFFFF01" "1F" + kTail, 0, ""},  // no such variant
        {"0000" "78563412" "c459" "07" "95" "FFFFFFFF01" "1F" + kTail, 0, ""},  // not upper case
        {"0000" "7856341G" "C459" "07" "95" "FFFFFFFF01" "1F" + kTail, 0, ""},  // not hex
        {"0000" "78563412" "C459" "0|" "95" "FFFFFFFF01" "1F" + kTail, 0, ""},
        {kPulse.substr(0, 127), 0, ""},
        {kPulse + "F", 0, ""},
        {"", 0, ""},
        // The rest of a record is not looked at.
        {"ABCD" "78563412" "C459" "07" "95" "XXXXXXXXXX" "??" + std::string(96, '\0'), 0, "P: 12345678, 07"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(DeviceEntryText(r.record, r.maker).value_or(""), r.entry) << r.record << " under " << r.maker;
}

TEST(DeviceEntries, OnlyTheCurrentMakersModulesAreListed) {
    DeviceList list;
    list.SetFileBytes(DeviceFileBytes({kPulse, kKtrPulse, kAnalog, kKtrControl, kControl}));
    const std::vector<DeviceEntry> vnd = list.Entries(0);
    ASSERT_EQ(vnd.size(), 3u);
    EXPECT_EQ(vnd[0].text, "P: 12345678, 07");
    EXPECT_EQ(vnd[0].record, 0u);
    EXPECT_EQ(vnd[1].text, "A: 11223344, 19");
    EXPECT_EQ(vnd[1].record, 2u);
    EXPECT_EQ(vnd[2].text, "C: 02040608, 0E");
    EXPECT_EQ(vnd[2].record, 4u);
    const std::vector<DeviceEntry> ktr = list.Entries(1);
    ASSERT_EQ(ktr.size(), 2u);
    EXPECT_EQ(ktr[0].text, "ST: 87654321, 03");
    EXPECT_EQ(ktr[1].text, "RS: 00000010, 0E");
    EXPECT_EQ(ktr[1].record, 3u);
}

TEST(DeviceEntries, AFileOfVndModulesShowsNothingUnderKtr) {
    DeviceList list;
    list.SetFileBytes(DeviceFileBytes({kPulse, kAnalog, kControl}));
    EXPECT_EQ(list.Records().size(), 3u);
    EXPECT_TRUE(list.Entries(1).empty());
    EXPECT_EQ(list.Entries(0).size(), 3u);
}

TEST(DeviceEntries, TheSelectionLineOfAnEntryNamesItsModule) {
    // The read script skips the prefix and takes the identification number.
    EXPECT_EQ(DeviceListSelectionLine(*DeviceEntryText(kAnalog, 0), 0), "8||Standard: 11223344,59C4,FF,FF|");
    EXPECT_EQ(DeviceListSelectionLine(*DeviceEntryText(kKtrPulse, 1), 1), "8||Standard: 87654321,2E92,FF,FF|");
}

// ---------------------------------------------------------------------------
// Entering a module after a readout

TEST(DeviceListUpdate, AModuleIsAppendedOnceAndReplacedWhereItStands) {
    DeviceList list;
    EXPECT_EQ(list.AddOrUpdate(kPulse, 0), 0);
    EXPECT_EQ(list.AddOrUpdate(kKtrPulse, 0), -1) << "entered, but not shown under VND";
    EXPECT_EQ(list.AddOrUpdate(kAnalog, 0), 1);
    EXPECT_EQ(list.Records(), (Strings{kPulse, kKtrPulse, kAnalog}));

    // The Pulse module read again at another baud rate and with another
    // medium: its record is replaced where it stands.
    const std::string again = MakeDeviceRecord("12345678", 0, "04", 0x95, SearchBaudCode(4));
    EXPECT_EQ(list.AddOrUpdate(again, 0), 0);
    EXPECT_EQ(list.Records(), (Strings{again, kKtrPulse, kAnalog}));
    EXPECT_EQ(list.Entries(0)[0].text, "P: 12345678, 04");

    // The same identification number of the other maker is another module.
    const std::string ktrSameNumber = MakeDeviceRecord("12345678", 1, "07", 0x05, "1F");
    EXPECT_EQ(list.AddOrUpdate(ktrSameNumber, 1), 1);
    EXPECT_EQ(list.Records().size(), 4u);
    EXPECT_EQ(list.AddOrUpdate(kKtrPulse, 1), 0);
    EXPECT_EQ(list.Records().size(), 4u);

    list.Clear();
    EXPECT_TRUE(list.Empty());
    EXPECT_TRUE(list.Entries(0).empty());
}

// ---------------------------------------------------------------------------
// Slave lists

// A slave-list entry in the hexadecimal form: address, identification,
// firmware name, medium, then location, customer and fabrication number.
std::string Entry(const char* address, const char* id, const char* firmware, const char* medium) {
    std::string e = std::string("0") + address + id + firmware + medium + "FFFFFFFFFFFF" "FFFFFFFFFFFF" "FFFFFFFF";
    EXPECT_EQ(e.size(), kSlaveListEntryLength);
    return e;
}

TEST(SlaveList, TheMakersModulesBecomeRecords) {
    const std::string list = Entry("01", "12345678", "VND149", "07") +   // Pulse
                             Entry("FD", "87654321", "KTR005", "03") +   // the other maker's Pulse
                             Entry("0C", "11223344", "VND150", "19") +   // Analog
                             Entry("02", "55555555", "QXA001", "07") +   // a meter of another maker
                             Entry("00", "02040608", "VND151", "0E") +   // Control
                             Entry("03", "66666666", "VND148", "07") +   // another version of the maker
                             Entry("04", "77777777", "VND095", "07") +   // the version in hex is no name
                             "00512345678VND14907";                      // a short rest
    EXPECT_EQ(RecordsFromSlaveList(list, 0, 1),
              (Strings{kPulse, MakeDeviceRecord("11223344", 0, "19", 0x96, "1F"),
                       MakeDeviceRecord("02040608", 0, "0E", 0x97, "1F")}));
    EXPECT_EQ(RecordsFromSlaveList(list, 1, 4), (Strings{kKtrPulse}));
    EXPECT_TRUE(RecordsFromSlaveList("", 0, 1).empty());
    EXPECT_TRUE(RecordsFromSlaveList(list.substr(0, 50), 0, 1).empty());

    DeviceList devices;
    EXPECT_EQ(devices.AppendSlaveList(list, 0, 2), 3u);
    const std::string ktr = Entry("06", "00000010", "KTR053", "0E") + Entry("07", "99999999", "KTR021", "19");
    EXPECT_EQ(devices.AppendSlaveList(ktr, 1, 3), 2u);
    ASSERT_EQ(devices.Records().size(), 5u);
    EXPECT_EQ(devices.Records()[0], "0000" "78563412" "C459" "07" "95" "FFFFFFFF01" "07" + kTail);
    EXPECT_EQ(devices.Records()[4], kKtrAnalog);
    EXPECT_EQ(devices.Entries(0).size(), 3u);
    EXPECT_EQ(devices.Entries(1).size(), 2u);
    EXPECT_EQ(devices.Entries(1)[0].text, "RS: 00000010, 0E");
}

// ---------------------------------------------------------------------------
// ".MDX" files

TEST(DeviceFile, RecordsEachFollowedByCrLf) {
    const std::string bytes = DeviceFileBytes({kPulse, kKtrAnalog});
    ASSERT_EQ(bytes.size(), 260u);
    EXPECT_EQ(bytes, kPulse + "\r\n" + kKtrAnalog + "\r\n");
    EXPECT_EQ(DeviceFileBytes({}), "");
    EXPECT_EQ(RecordsOfDeviceFile(bytes), (Strings{kPulse, kKtrAnalog}));
}

TEST(DeviceFile, BlocksOf130BytesUpToTheFirstShortOne) {
    const std::string two = kPulse + "\r\n" + kAnalog + "\r\n";
    const struct {
        const char* name;
        std::string bytes;
        Strings records;
    } rows[] = {
        {"empty", "", {}},
        {"one record without its line end", kPulse, {}},
        {"one record and CR only", kPulse + "\r", {}},
        {"a short last block is ignored", two + kControl, {kPulse, kAnalog}},
        {"a short last block of one byte", two + "\n", {kPulse, kAnalog}},
        {"LF CR, or any two bytes, end a block", kPulse + "\n\r" + kAnalog + "xy", {kPulse, kAnalog}},
        {"a block of junk is kept as it is", std::string(128, 'Z') + "\r\n" + kControl + "\r\n",
         {std::string(128, 'Z'), kControl}},
        {"LF-only lines shift every later block", kPulse + "\n" + kAnalog + "\n" + kControl + "\n",
         {kPulse, kAnalog.substr(1) + "\n"}},
    };
    for (const auto& r : rows) EXPECT_EQ(RecordsOfDeviceFile(r.bytes), r.records) << r.name;
}

TEST(DeviceFile, OpenAndSaveGiveTheSameBytesAgain) {
    // A file of the original platform, a damaged record among its records.
    std::string junk = kControl;
    junk[20] = '\0';
    junk[60] = '\xff';
    const std::string file = kPulse + "\r\n" + junk + "\r\n" + kKtrPulse + "\r\n";
    DeviceList list;
    list.SetFileBytes(file);
    EXPECT_EQ(list.FileBytes(), file);
    EXPECT_EQ(list.Entries(0).size(), 2u) << "the damaged record's identification and medium are still hex";
    junk[5] = 'x';
    list.SetFileBytes(kPulse + "\r\n" + junk + "\r\n");
    EXPECT_EQ(list.Entries(0).size(), 1u) << "a record whose identification is damaged is kept but not shown";
    EXPECT_EQ(list.Records().size(), 2u);

    // Line ends other than CR LF are written as CR LF.
    list.SetFileBytes(kPulse + "\n\n" + kAnalog + "\r\n" + "tail");
    EXPECT_EQ(list.FileBytes(), kPulse + "\r\n" + kAnalog + "\r\n");
}

// A device list is an ordinary file: the umask decides who may read it.
TEST(DeviceFile, ANewFileHasThePermissionsTheUmaskAllows) {
    testsupport::ScratchDirectory dir;
    ASSERT_TRUE(dir.Ok());
    DeviceList list;
    list.AddOrUpdate(kPulse, 0);
    const struct {
        mode_t umask;
        mode_t mode;
    } cases[] = {{077, 0600}, {027, 0640}, {002, 0664}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.umask);
        const std::string path = dir.File("plant-" + std::to_string(c.umask) + ".MDX");
        std::string error;
        {
            testsupport::ScopedUmask umask(c.umask);
            ASSERT_TRUE(list.Save(path, &error)) << error;
        }
        struct stat st;
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, c.mode);
    }
}

TEST(DeviceFile, SaveAndOpenAFile) {
    testsupport::ScratchDirectory dir;
    ASSERT_TRUE(dir.Ok());
    DeviceList list;
    list.AddOrUpdate(kPulse, 0);
    list.AddOrUpdate(kKtrControl, 0);
    std::string error;
    const std::string path = dir.File("Plant 7.MDX");
    ASSERT_TRUE(list.Save(path, &error)) << error;
    std::string written;
    std::string problem;
    ASSERT_EQ(files::ReadTextFile(path, &written, &problem), files::ReadStatus::kOk) << problem;
    EXPECT_EQ(written, kPulse + "\r\n" + kKtrControl + "\r\n");

    // Saving again truncates what was there.
    DeviceList one;
    one.AddOrUpdate(kAnalog, 0);
    ASSERT_TRUE(one.Save(path, &error)) << error;
    ASSERT_TRUE(list.Open(path, &error)) << error;
    EXPECT_EQ(list.Records(), Strings{kAnalog});

    // An empty list makes an empty file.
    ASSERT_TRUE(DeviceList().Save(path, &error)) << error;
    ASSERT_TRUE(list.Open(path, &error)) << error;
    EXPECT_TRUE(list.Empty());
}

TEST(DeviceFile, FailuresNameTheFileAndLeaveTheListAlone) {
    testsupport::ScratchDirectory dir;
    ASSERT_TRUE(dir.Ok());
    DeviceList list;
    list.AddOrUpdate(kPulse, 0);
    std::string error;

    const std::string missing = dir.File("missing.MDX");
    EXPECT_FALSE(list.Open(missing, &error));
    EXPECT_EQ(error.rfind(missing + ": ", 0), 0u) << error;
    EXPECT_EQ(list.Records(), Strings{kPulse});

    error.clear();
    EXPECT_FALSE(list.Open(dir.Path(), &error)) << "a directory is no device file";
    EXPECT_EQ(error, dir.Path() + ": is a directory");
    EXPECT_EQ(list.Records(), Strings{kPulse});

    error.clear();
    const std::string nowhere = dir.File("no such folder/list.MDX");
    EXPECT_FALSE(list.Save(nowhere, &error));
    EXPECT_EQ(error.rfind(nowhere + ": ", 0), 0u) << error;

    error.clear();
    EXPECT_FALSE(list.Save("", &error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(list.Open("", &error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace mbus::meridex
