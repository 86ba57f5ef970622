// The read script of the main dialog for each address type: address
// token, optical head, selection lines, queued records, follow-up read,
// queued primary address and the closing lines. Each row's script is
// written out as the lines the control receives.

#include "configurator/shell/read_script.h"

#include <gtest/gtest.h>

#include <functional>

namespace mbus::meridex {
namespace {

using Lines = std::vector<std::string>;

// Serial cable at 2400 baud on COM1 with the FIFO on.
const std::string kConverter2400 =
    "0||COM1,2400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=100,TB=20,PartWait,Retries=40,DT=11,HS=0|";
const std::string kHead2400 =
    "0||COM1,2400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=200,TB=500,PartWait,Retries=40,DT=1002,HS=0|";
const std::string kOpticalRequest =
    "7|254||51 01 7A FF 07 79 FF FF FF FF FF FF FF FF 87 40 79 FF FF FF FF FF FF FF FF 02 86 28 00 00 82 40 86 "
    "28 00 00 06 06 FF FF FF FF FF FF 86 40 06 FF FF FF FF FF FF";

// Record texts as the module pages queue them.
const std::string kPulseSetAddress12 =
    "01 7A 0C 07 79 FF FF FF FF FF FF FF FF 87 40 79 FF FF FF FF FF FF FF FF 02 86 28 00 00 82 40 86 28 00 00 06 06 "
    "FF FF FF FF FF FF 86 40 06 FF FF FF FF FF FF";
const std::string kControlR1Set1 =
    "01 7A FF 07 79 FF FF FF FF FF FF FF FF 41 FD 1A 01 81 01 FD 1A FF C1 40 FD 1A FF 81 41 FD 1A FF";
const std::string kAnalogSensor =
    "01 7A FF 07 79 FF FF FF FF FF FF FF FF 01 FD 0B 01 03 FE 28 00 00 00 83 40 FE 28 00 00 00 82 C0 40 FD 56 FF FF ";
const std::string kAnalogCalibration = "86 80 40 E6 28 00 00 12 34 00 00 ";

struct Row {
    const char* name;
    std::function<void(ReadJob&)> set;
    Lines lines;
};

// The job every row starts from: serial cable, 2400 baud, COM1, FIFO on,
// broadcast, nothing queued, module not identified.
ReadJob BaseJob() {
    ReadJob job;
    job.connection.communicationType = kSerialCable;
    job.connection.addressType = kBroadcast;
    job.connection.baudIndex = 1;
    job.connection.port = 1;
    job.connection.fifoBuffer = true;
    job.primaryAddress = "0";
    job.secondaryAddress = "FFFFFFFF";
    return job;
}

void CheckRows(const std::vector<Row>& rows) {
    for (const Row& r : rows) {
        ReadJob job = BaseJob();
        r.set(job);
        EXPECT_EQ(ReadScriptLines(job), r.lines) << r.name;
    }
}

TEST(ReadScript, SkeletonOfEachAddressType) {
    CheckRows({
        {"optical head", [](ReadJob& j) { j.connection.addressType = kOpticalHead; },
         {kHead2400, "14||5|", kOpticalRequest, "5|254||", "16|||"}},
        {"radio optical head",
         [](ReadJob& j) {
             j.connection.addressType = kOpticalHead;
             j.connection.btOpto = true;
             j.connection.baudIndex = 2;
         },
         {"0||COM1,57600,8,1,N,RTS_Reset,DTR_Reset,TA=25000,TO=500,TB=9999,FullWait,Retries=1,DT=11,HS=0,FF=0|",
          "14||5|", "13|||FE FE FE 42 4C 55 45 30 38 45 31 35 FF", "14||5|", kOpticalRequest, "5|254||", "16|||"}},
        {"broadcast", [](ReadJob&) {}, {kConverter2400, "5|254||", "16|||"}},
        {"secondary address", [](ReadJob& j) {
             j.connection.addressType = kSecondaryAddress;
             j.secondaryAddress = "12345678";
         },
         {kConverter2400, "8||Standard: 12345678,59C4,FF,FF|", "5|253||", "20|||", "16|||"}},
        {"primary address", [](ReadJob& j) {
             j.connection.addressType = kPrimaryAddress;
             j.primaryAddress = "5";
         },
         {kConverter2400, "5|5||", "16|||"}},
        {"device list", [](ReadJob& j) {
             j.connection.addressType = kDeviceList;
             j.deviceListEntry = "P: 11223344, Water";
         },
         {kConverter2400, "8||Standard: 11223344,59C4,FF,FF|", "5|253||", "16|||"}},
        {"IrDA transceiver, broadcast", [](ReadJob& j) { j.connection.communicationType = kIrdaTransceiver; },
         {"0||COM1,9600,8,1,E,RTS_Reset,DTR_Reset,TA=330,TO=50,TB=20,PartWait,Retries=1,DT=11,HS=0|",
          "7|251||51 0F 48 08",
          "0||COM1,38400,8,1,E,RTS_Reset,DTR_Reset,TA=6000,TO=1000,TB=1000,PartWait,Retries=10,DT=11,HS=0|",
          "5|254||", "16|||"}},
    });
}

TEST(ReadScript, AddressTokenByAddressTypeWithThePrimaryAddressClamped) {
    const struct {
        int type;
        const char* primary;
        const char* token;
    } rows[] = {
        {kOpticalHead, "7", "254"},   {kBroadcast, "7", "254"},      {kSecondaryAddress, "7", "253"},
        {kDeviceList, "7", "253"},    {kPrimaryAddress, "7", "7"},   {kPrimaryAddress, "0", "0"},
        {kPrimaryAddress, "255", "255"}, {kPrimaryAddress, "256", "255"}, {kPrimaryAddress, "300", "255"},
        {kPrimaryAddress, "-1", "0"}, {kPrimaryAddress, "-300", "0"}, {kPrimaryAddress, "", "0"},
        {kPrimaryAddress, "99999999999999999999", "255"}, {kPrimaryAddress, "12x", "12"},
    };
    for (const auto& r : rows) EXPECT_EQ(AddressToken(r.type, r.primary), r.token) << r.type << " " << r.primary;
}

TEST(ReadScript, PrimaryAddressClampedInTheReadRequest) {
    CheckRows({
        {"negative", [](ReadJob& j) {
             j.connection.addressType = kPrimaryAddress;
             j.primaryAddress = "-4";
         },
         {kConverter2400, "5|0||", "16|||"}},
        {"above 255", [](ReadJob& j) {
             j.connection.addressType = kPrimaryAddress;
             j.primaryAddress = "300";
         },
         {kConverter2400, "5|255||", "16|||"}},
        {"255", [](ReadJob& j) {
             j.connection.addressType = kPrimaryAddress;
             j.primaryAddress = "255";
         },
         {kConverter2400, "5|255||", "16|||"}},
    });
}

TEST(ReadScript, SecondarySelectionCarriesTheMediumBoxEntryAndTheManufacturerNumber) {
    auto secondary = [](int medium, int maker) {
        return [=](ReadJob& j) {
            j.connection.addressType = kSecondaryAddress;
            j.secondaryAddress = "0000ABCD";
            j.mediumEntry = medium;
            j.manufacturerCode = maker;
        };
    };
    CheckRows({
        {"all media, VND", secondary(0, 0),
         {kConverter2400, "8||Standard: 0000ABCD,59C4,FF,FF|", "5|253||", "20|||", "16|||"}},
        {"all media, KTR", secondary(0, 1),
         {kConverter2400, "8||Standard: 0000ABCD,2E92,FF,FF|", "5|253||", "20|||", "16|||"}},
        {"water (entry 8), VND", secondary(8, 0),
         {kConverter2400, "8||Standard: 0000ABCD,59C4,FF,07|", "5|253||", "20|||", "16|||"}},
        {"medium 19h (entry 26), KTR", secondary(26, 1),
         {kConverter2400, "8||Standard: 0000ABCD,2E92,FF,19|", "5|253||", "20|||", "16|||"}},
        {"medium 1Fh (entry 32)", secondary(32, 0),
         {kConverter2400, "8||Standard: 0000ABCD,59C4,FF,1F|", "5|253||", "20|||", "16|||"}},
        {"medium 00h (entry 1)", secondary(1, 0),
         {kConverter2400, "8||Standard: 0000ABCD,59C4,FF,00|", "5|253||", "20|||", "16|||"}},
    });
}

TEST(ReadScript, DeviceListEntrySkipsTheMakersPrefix) {
    auto entry = [](const char* text, int maker) {
        return [=](ReadJob& j) {
            j.connection.addressType = kDeviceList;
            j.deviceListEntry = text;
            j.manufacturerCode = maker;
        };
    };
    CheckRows({
        {"VND Pulse", entry("P: 11223344, Water", 0),
         {kConverter2400, "8||Standard: 11223344,59C4,FF,FF|", "5|253||", "16|||"}},
        {"VND Control", entry("C: 99999999, Bus/System", 0),
         {kConverter2400, "8||Standard: 99999999,59C4,FF,FF|", "5|253||", "16|||"}},
        {"KTR Analog", entry("AN: 33445566, A/D Converter", 1),
         {kConverter2400, "8||Standard: 33445566,2E92,FF,FF|", "5|253||", "16|||"}},
        {"KTR Pulse", entry("ST: 01020304, Water", 1),
         {kConverter2400, "8||Standard: 01020304,2E92,FF,FF|", "5|253||", "16|||"}},
        {"no selection, VND", entry("", 0),
         {kConverter2400, "8||Standard: FFFFFFFF,59C4,FF,FF|", "5|253||", "16|||"}},
        {"no selection, KTR", entry("", 1),
         {kConverter2400, "8||Standard: FFFFFFFF,2E92,FF,FF|", "5|253||", "16|||"}},
    });
}

TEST(ReadScript, PendingRecordsGoBeforeTheReadRequestSecondQueueFirst) {
    CheckRows({
        {"Analog temperature write (both queues)",
         [](ReadJob& j) {
             j.connection.addressType = kPrimaryAddress;
             j.primaryAddress = "3";
             j.moduleKind = 1;
             j.pendingRecords1 = kAnalogSensor;
             j.pendingRecords2 = kAnalogCalibration;
         },
         {kConverter2400, "7|3||51 " + kAnalogCalibration, "7|3||51 " + kAnalogSensor, "5|3||", "1|1||", "7|3||50 00",
          "16|||"}},
        {"second queue alone", [](ReadJob& j) { j.pendingRecords2 = kAnalogCalibration; },
         {kConverter2400, "7|254||51 " + kAnalogCalibration, "5|254||", "16|||"}},
        {"Pulse write at the optical head",
         [](ReadJob& j) {
             j.connection.addressType = kOpticalHead;
             j.moduleKind = 0;
             j.pendingRecords1 = kPulseSetAddress12;
         },
         {kHead2400, "14||5|", kOpticalRequest, "7|254||51 " + kPulseSetAddress12, "5|254||", "16|||"}},
        {"Control write waits before the read",
         [](ReadJob& j) {
             j.connection.addressType = kPrimaryAddress;
             j.primaryAddress = "9";
             j.moduleKind = 2;
             j.pendingRecords1 = kControlR1Set1;
         },
         {kConverter2400, "7|9||51 " + kControlR1Set1, "14||5|", "5|9||", "16|||"}},
        {"Control read without a write does not wait",
         [](ReadJob& j) {
             j.connection.addressType = kPrimaryAddress;
             j.primaryAddress = "9";
             j.moduleKind = 2;
         },
         {kConverter2400, "5|9||", "16|||"}},
        {"Control write to a selected module",
         [](ReadJob& j) {
             j.connection.addressType = kSecondaryAddress;
             j.secondaryAddress = "22334455";
             j.manufacturerCode = 1;
             j.moduleKind = 2;
             j.pendingRecords1 = kControlR1Set1;
         },
         {kConverter2400, "8||Standard: 22334455,2E92,FF,FF|", "7|253||51 " + kControlR1Set1, "14||5|", "5|253||",
          "20|||", "16|||"}},
    });
}

TEST(ReadScript, AnalogReadsResetTheModuleAfterTheRequestAndFollowUpSwitchesItFirst) {
    CheckRows({
        {"Analog, first read", [](ReadJob& j) { j.moduleKind = 1; },
         {kConverter2400, "5|254||", "1|1||", "7|254||50 00", "16|||"}},
        {"follow-up at a primary address",
         [](ReadJob& j) {
             j.connection.addressType = kPrimaryAddress;
             j.primaryAddress = "3";
             j.moduleKind = 1;
             j.followUp = true;
         },
         {kConverter2400, "7|3||50 08", "5|3||", "1|1||", "7|3||50 00", "16|||"}},
        {"follow-up of a selected module",
         [](ReadJob& j) {
             j.connection.addressType = kSecondaryAddress;
             j.secondaryAddress = "33445566";
             j.moduleKind = 1;
             j.followUp = true;
         },
         {kConverter2400, "8||Standard: 33445566,59C4,FF,FF|", "7|253||50 08", "5|253||", "1|1||", "7|253||50 00",
          "20|||", "16|||"}},
        {"follow-up at the optical head",
         [](ReadJob& j) {
             j.connection.addressType = kOpticalHead;
             j.followUp = true;
         },
         {kHead2400, "14||5|", kOpticalRequest, "7|254||50 08", "5|254||", "1|1||", "7|254||50 00", "16|||"}},
    });
}

TEST(ReadScript, QueuedPrimaryAddressTakesOverFromTheReadRequestOnForAddressType3) {
    CheckRows({
        {"Pulse set address",
         [](ReadJob& j) {
             j.connection.addressType = kPrimaryAddress;
             j.primaryAddress = "5";
             j.moduleKind = 0;
             j.pendingRecords1 = kPulseSetAddress12;
             j.newPrimaryAddress = "12";
         },
         {kConverter2400, "7|5||51 " + kPulseSetAddress12, "5|12||", "16|||"}},
        {"Analog set address resets at the new address",
         [](ReadJob& j) {
             j.connection.addressType = kPrimaryAddress;
             j.primaryAddress = "5";
             j.moduleKind = 1;
             j.pendingRecords1 = kPulseSetAddress12;
             j.newPrimaryAddress = "12";
         },
         {kConverter2400, "7|5||51 " + kPulseSetAddress12, "5|12||", "1|1||", "7|12||50 00", "16|||"}},
        {"module not identified: no records, the address still moves",
         [](ReadJob& j) {
             j.connection.addressType = kPrimaryAddress;
             j.primaryAddress = "5";
             j.newPrimaryAddress = "12";
         },
         {kConverter2400, "5|12||", "16|||"}},
        {"broadcast keeps 254",
         [](ReadJob& j) {
             j.moduleKind = 0;
             j.pendingRecords1 = kPulseSetAddress12;
             j.newPrimaryAddress = "12";
         },
         {kConverter2400, "7|254||51 " + kPulseSetAddress12, "5|254||", "16|||"}},
        {"selected module keeps 253",
         [](ReadJob& j) {
             j.connection.addressType = kSecondaryAddress;
             j.secondaryAddress = "11223344";
             j.newPrimaryAddress = "12";
         },
         {kConverter2400, "8||Standard: 11223344,59C4,FF,FF|", "5|253||", "20|||", "16|||"}},
    });
}

TEST(ReadScript, StandingModemConnectionSetsRetriesFirstAndLastInsteadOfOpeningAndClosing) {
    CheckRows({
        {"secondary address over the modem",
         [](ReadJob& j) {
             j.connection.communicationType = kModemDialUp;
             j.connection.phoneConnected = true;
             j.connection.addressType = kSecondaryAddress;
             j.secondaryAddress = "12345678";
         },
         {"1|10||", "8||Standard: 12345678,59C4,FF,FF|", "5|253||", "20|||", "1|10||"}},
        {"primary address over the modem",
         [](ReadJob& j) {
             j.connection.communicationType = kModemDialUp;
             j.connection.phoneConnected = true;
             j.connection.addressType = kPrimaryAddress;
             j.primaryAddress = "5";
         },
         {"1|10||", "5|5||", "1|10||"}},
        {"Analog follow-up over the modem",
         [](ReadJob& j) {
             j.connection.communicationType = kModemDialUp;
             j.connection.phoneConnected = true;
             j.moduleKind = 1;
             j.followUp = true;
         },
         {"1|10||", "7|254||50 08", "5|254||", "1|1||", "7|254||50 00", "1|10||"}},
        {"modem type without a connection opens the port",
         [](ReadJob& j) { j.connection.communicationType = kModemDialUp; },
         {kConverter2400, "5|254||", "16|||"}},
    });
}

TEST(ReadScript, JoinedScriptEndsEveryLineInCarriageReturnAndLineFeed) {
    ReadJob job = BaseJob();
    job.connection.addressType = kPrimaryAddress;
    job.primaryAddress = "1";
    EXPECT_EQ(JoinScript(ReadScriptLines(job)), kConverter2400 + "\r\n5|1||\r\n16|||\r\n");
}

}  // namespace
}  // namespace mbus::meridex
