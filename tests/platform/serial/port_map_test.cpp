#include "platform/serial/port_map.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "serial_test_support.h"
#include "tests/support/unprivileged.h"

namespace mbus::serial {
namespace {

using testing::ScopedEnv;
using testing::ScratchDirectory;
using namespace std::string_literals;

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

TEST(PortMapParse, ReadsEntriesWithOrWithoutBlanksAroundTheEqualsSign) {
    const PortMap map = ParsePortMap("1 = /dev/ttyUSB0\n2=/dev/ttyS1\n  3\t=\t/dev/pts/4  \n7 = sim:demo\n");
    EXPECT_EQ(map.errors, "");
    ASSERT_EQ(map.entries.size(), 4u);
    EXPECT_EQ(map.entries.at(1), "/dev/ttyUSB0");
    EXPECT_EQ(map.entries.at(2), "/dev/ttyS1");
    EXPECT_EQ(map.entries.at(3), "/dev/pts/4");
    EXPECT_EQ(map.entries.at(7), "sim:demo");
}

TEST(PortMapParse, SkipsCommentsAndEmptyLines) {
    const PortMap map = ParsePortMap(
        "# the adapters of the bench\n"
        "\n"
        "   \n"
        "   # indented comment\n"
        "4 = /dev/ttyUSB3   # the level converter\n"
        "5 = sim:bench#trailing comment without a blank\n");
    EXPECT_EQ(map.errors, "");
    ASSERT_EQ(map.entries.size(), 2u);
    EXPECT_EQ(map.entries.at(4), "/dev/ttyUSB3");
    EXPECT_EQ(map.entries.at(5), "sim:bench");
}

TEST(PortMapParse, LastLineWithoutNewlineAndCarriageReturnLineEndingsAreRead) {
    const PortMap map = ParsePortMap("1 = /dev/ttyUSB0\r\n2 = /dev/ttyUSB1");
    EXPECT_EQ(map.errors, "");
    EXPECT_EQ(map.entries.at(1), "/dev/ttyUSB0");
    EXPECT_EQ(map.entries.at(2), "/dev/ttyUSB1");
}

TEST(PortMapParse, ReportsMalformedLinesWithTheirNumbersAndKeepsTheGoodOnes) {
    const PortMap map = ParsePortMap(
        "1 = /dev/ttyUSB0\n"     // 1 good
        "/dev/ttyUSB1\n"         // 2 no '='
        "= /dev/ttyUSB2\n"       // 3 no number
        "x3 = /dev/ttyUSB3\n"    // 4 not a number
        "4 =\n"                  // 5 no device
        "5 = /dev/tty S5\n"      // 6 text after the device
        "6 = sim:\n"             // 7 no bus name
        "# fine\n"               // 8
        "8 = /dev/ttyUSB7\n");   // 9 good
    ASSERT_EQ(map.entries.size(), 2u);
    EXPECT_EQ(map.entries.at(1), "/dev/ttyUSB0");
    EXPECT_EQ(map.entries.at(8), "/dev/ttyUSB7");

    EXPECT_NE(map.errors.find("line 2: "), std::string::npos) << map.errors;
    EXPECT_NE(map.errors.find("line 3: "), std::string::npos) << map.errors;
    EXPECT_NE(map.errors.find("line 4: "), std::string::npos) << map.errors;
    EXPECT_NE(map.errors.find("line 5: "), std::string::npos) << map.errors;
    EXPECT_NE(map.errors.find("line 6: "), std::string::npos) << map.errors;
    EXPECT_NE(map.errors.find("line 7: "), std::string::npos) << map.errors;
    EXPECT_EQ(map.errors.find("line 1: "), std::string::npos) << map.errors;
    EXPECT_EQ(map.errors.find("line 8: "), std::string::npos) << map.errors;
    EXPECT_EQ(map.errors.find("line 9: "), std::string::npos) << map.errors;
    // One message a line.
    EXPECT_EQ(std::count(map.errors.begin(), map.errors.end(), '\n'), 5) << map.errors;
}

TEST(PortMapParse, LaterEntryForTheSamePortWins) {
    const PortMap map = ParsePortMap("3 = /dev/ttyUSB0\n3 = sim:override\n");
    EXPECT_EQ(map.errors, "");
    ASSERT_EQ(map.entries.size(), 1u);
    EXPECT_EQ(map.entries.at(3), "sim:override");
}

TEST(PortMapParse, RejectsPortNumbersOutsideOneToNineHundredNinetyNine) {
    const PortMap map = ParsePortMap(
        "0 = /dev/ttyS0\n"
        "1000 = /dev/ttyS1\n"
        "99999999999999999999 = /dev/ttyS2\n"
        "-1 = /dev/ttyS3\n"
        "999 = /dev/ttyS998\n"
        "001 = /dev/ttyS0\n");
    ASSERT_EQ(map.entries.size(), 2u);
    EXPECT_EQ(map.entries.at(999), "/dev/ttyS998");
    EXPECT_EQ(map.entries.at(1), "/dev/ttyS0");
    EXPECT_NE(map.errors.find("line 1: port number 0 is outside 1..999"), std::string::npos) << map.errors;
    EXPECT_NE(map.errors.find("line 2: port number 1000 is outside 1..999"), std::string::npos) << map.errors;
    EXPECT_NE(map.errors.find("line 3: "), std::string::npos) << map.errors;
    EXPECT_NE(map.errors.find("line 4: "), std::string::npos) << map.errors;
}

TEST(PortMapParse, EmptyTextIsAnEmptyMap) {
    const PortMap map = ParsePortMap("");
    EXPECT_TRUE(map.entries.empty());
    EXPECT_EQ(map.errors, "");
}

TEST(PortMapPath, EnvironmentVariableNamesTheFile) {
    ScopedEnv map("MBUS_PORT_MAP", "/somewhere/my-ports");
    ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(PortMapPath(), "/somewhere/my-ports");
}

TEST(PortMapPath, UsesTheConfigurationDirectoryWhenTheVariableIsUnsetOrEmpty) {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg");
    {
        ScopedEnv map("MBUS_PORT_MAP", nullptr);
        EXPECT_EQ(PortMapPath(), "/cfg/mbus/ports");
    }
    {
        ScopedEnv map("MBUS_PORT_MAP", "");
        EXPECT_EQ(PortMapPath(), "/cfg/mbus/ports");
    }
}

TEST(PortMapPath, FallsBackToDotConfigInTheHomeDirectory) {
    ScopedEnv map("MBUS_PORT_MAP", nullptr);
    ScopedEnv home("HOME", "/home/someone");
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
        EXPECT_EQ(PortMapPath(), "/home/someone/.config/mbus/ports");
    }
    {
        // A relative configuration directory is not used.
        ScopedEnv xdg("XDG_CONFIG_HOME", "relative/cfg");
        EXPECT_EQ(PortMapPath(), "/home/someone/.config/mbus/ports");
    }
}

TEST(PortMapLoad, ReadsTheFileTheEnvironmentNames) {
    ScratchDirectory dir;
    ASSERT_TRUE(dir.Ok());
    const std::string file = dir.WriteFile("ports", "# test map\n2 = /dev/ttyUSB9\nbad line\n9 = sim:x\n");
    ScopedEnv map("MBUS_PORT_MAP", file.c_str());
    const PortMap loaded = LoadPortMap();
    ASSERT_EQ(loaded.entries.size(), 2u);
    EXPECT_EQ(loaded.entries.at(2), "/dev/ttyUSB9");
    EXPECT_EQ(loaded.entries.at(9), "sim:x");
    EXPECT_NE(loaded.errors.find("line 3: "), std::string::npos) << loaded.errors;
}

TEST(PortMapLoad, MissingFileIsAnEmptyMapWithoutErrors) {
    ScratchDirectory dir;
    ASSERT_TRUE(dir.Ok());
    const std::string file = dir.Path() + "/no-such-file";
    ScopedEnv map("MBUS_PORT_MAP", file.c_str());
    const PortMap loaded = LoadPortMap();
    EXPECT_TRUE(loaded.entries.empty());
    EXPECT_EQ(loaded.errors, "");
}

// What LoadPortMap writes to the error stream, caught through a file.
std::string StderrOfLoad(const ScratchDirectory& dir, PortMap* loaded) {
    const std::string capture = dir.File("stderr");
    std::fflush(stderr);
    const int saved = ::dup(2);
    const int fd = ::open(capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 2);
    ::close(fd);
    *loaded = LoadPortMap();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    std::ifstream in(capture);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(PortMapLoad, BadLinesAreWarnedAboutOnceNamingFileAndLine) {
    ScratchDirectory dir;
    ASSERT_TRUE(dir.Ok());
    const std::string file = dir.WriteFile("ports", "2 = /dev/ttyUSB9\n1 /dev/ttyUSB0\n");
    ScopedEnv map("MBUS_PORT_MAP", file.c_str());
    PortMap loaded;
    const std::string warning = StderrOfLoad(dir, &loaded);
    EXPECT_NE(warning.find(file + ": line 2: expected \"N = DEVICE\""), std::string::npos) << warning;
    EXPECT_EQ(loaded.entries.size(), 1u);
    // The next loads of the same file keep quiet; another file is told again.
    EXPECT_EQ(StderrOfLoad(dir, &loaded), "");
    const std::string other = dir.WriteFile("other-ports", "x = y\n");
    ScopedEnv otherMap("MBUS_PORT_MAP", other.c_str());
    EXPECT_NE(StderrOfLoad(dir, &loaded).find(other + ": line 1: "), std::string::npos);
}

// A NUL or another control byte in a line is shown, not passed on: the
// warning about that line and those about later lines all reach the error
// stream, and a device with such a byte is no entry.
TEST(PortMapLoad, ControlBytesInALineAreShownAndHideNoLaterWarning) {
    ScratchDirectory dir;
    ASSERT_TRUE(dir.Ok());
    const std::string file =
        dir.WriteFile("ports", "1\0 = /dev/ttyUSB0\n2 = /dev/tty\0S1\n3 = /dev/tty\x1b[2J\n4 = a b\n5 = /dev/ttyS4\n"s);
    ScopedEnv map("MBUS_PORT_MAP", file.c_str());
    PortMap loaded;
    const std::string warning = StderrOfLoad(dir, &loaded);
    EXPECT_EQ(warning.find('\0'), std::string::npos);
    EXPECT_EQ(warning.find('\x1b'), std::string::npos);
    EXPECT_NE(warning.find(file + ": line 1: \"1\\x00\" is not a port number"), std::string::npos) << warning;
    EXPECT_NE(warning.find(file + ": line 2: the device \"/dev/tty\\x00S1\" holds a control character"),
              std::string::npos)
        << warning;
    EXPECT_NE(warning.find(file + ": line 3: the device \"/dev/tty\\x1B[2J\""), std::string::npos) << warning;
    EXPECT_NE(warning.find(file + ": line 4: "), std::string::npos) << warning;
    EXPECT_NE(warning.find("ports without a good entry open their default device"), std::string::npos) << warning;
    EXPECT_EQ(loaded.entries, (std::map<int, std::string>{{5, "/dev/ttyS4"}}));
}

TEST(PortMapLoad, DirectoryInPlaceOfTheFileIsAnErrorAndWarnedAbout) {
    ScratchDirectory dir;
    ASSERT_TRUE(dir.Ok());
    const std::string directory = dir.File("ports.d");
    ASSERT_TRUE(std::filesystem::create_directory(directory));
    ScopedEnv map("MBUS_PORT_MAP", directory.c_str());
    PortMap loaded;
    const std::string warning = StderrOfLoad(dir, &loaded);
    EXPECT_TRUE(loaded.entries.empty());
    EXPECT_NE(loaded.errors.find("is a directory"), std::string::npos) << loaded.errors;
    EXPECT_NE(warning.find(directory + ": "), std::string::npos) << warning;
    EXPECT_NE(warning.find("is a directory"), std::string::npos) << warning;
}

TEST(PortMapLoad, UnreadableFileIsAnErrorAndWarnedAbout) {
    ScratchDirectory dir;
    ASSERT_TRUE(dir.Ok());
    testsupport::Unprivileged user({dir.Path()});
    ASSERT_TRUE(user.Ok()) << user.Problem();
    const std::string file = dir.WriteFile("ports", "1 = /dev/ttyUSB0\n");
    ASSERT_EQ(::chmod(file.c_str(), 0), 0);
    ScopedEnv map("MBUS_PORT_MAP", file.c_str());
    PortMap loaded;
    const std::string warning = StderrOfLoad(dir, &loaded);
    EXPECT_NE(loaded.errors.find("cannot be read"), std::string::npos) << loaded.errors;
    EXPECT_NE(warning.find(file + ": cannot be read"), std::string::npos) << warning;
}

TEST(DeviceOfPort, MapEntryWins) {
    PortMap map;
    map.entries[1] = "/dev/pts/7";
    map.entries[2] = "sim:demo";
    EXPECT_EQ(DeviceOfPort(1, map), "/dev/pts/7");
    EXPECT_EQ(DeviceOfPort(2, map), "sim:demo");
}

TEST(DeviceOfPort, UnmappedPortIsTheUsbAdapterWhenPresentElseTheOnboardUart) {
    const PortMap empty;
    for (int number : {1, 2, 17, 999}) {
        const std::string usb = "/dev/ttyUSB" + std::to_string(number - 1);
        const std::string expected = Exists(usb) ? usb : "/dev/ttyS" + std::to_string(number - 1);
        EXPECT_EQ(DeviceOfPort(number, empty), expected) << "port " << number;
    }
    // Port 999 has no adapter on any ordinary machine.
    if (!Exists("/dev/ttyUSB998")) {
        EXPECT_EQ(DeviceOfPort(999, empty), "/dev/ttyS998");
    }
}

}  // namespace
}  // namespace mbus::serial
