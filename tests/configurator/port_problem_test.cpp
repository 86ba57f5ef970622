// What the port test tells about a port that did not open: the message and
// its kind for each reason, and a permission error looked up from a device.

#include "configurator/shell/port_problem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "tests/support/scratch.h"
#include "tests/support/unprivileged.h"

namespace mbus::meridex {
namespace {

using testsupport::ScopedEnv;
using testsupport::ScratchDirectory;

TEST(PortProblem, EachReasonHasItsKindAndNamesPortDeviceAndRemedy) {
    struct Case {
        int error;
        bool inMap;
        int lineStatus;
        PortProblemKind kind;
        std::string text;
    };
    const Case cases[] = {
        {EBUSY, true, 2, PortProblemKind::kInUse, "/dev/ttyUSB0: port in use by process 42"},
        {EACCES, true, 2, PortProblemKind::kPermission,
         "COM7: /dev/ttyUSB0: permission denied.\nAdd the user to the group uucp (sudo usermod -aG uucp $USER) and "
         "log in again."},
        {ENOENT, true, 2, PortProblemKind::kNoDevice,
         "COM7: /dev/ttyUSB0 does not exist.\nConnect the adapter, or name another device for 7 in the port map "
         "(/home/u/.config/mbus/ports)."},
        {ENOENT, false, 2, PortProblemKind::kNotInMap,
         "COM7 is not in the port map (/home/u/.config/mbus/ports), and its default device /dev/ttyUSB0 cannot be "
         "opened: No such file or directory.\nAdd a line \"7 = /dev/ttyUSB0\" (the adapter's device) to the port "
         "map."},
        // A ttyS node without a UART behind it.
        {EIO, false, 2, PortProblemKind::kNotInMap, ""},
        {EIO, true, 2, PortProblemKind::kOther, "COM7: /dev/ttyUSB0 cannot be opened: Input/output error."},
        {0, true, 4, PortProblemKind::kOther, ""},
    };
    for (const Case& c : cases) {
        PortOpenFacts f;
        f.port = 7;
        f.device = "/dev/ttyUSB0";
        f.inMap = c.inMap;
        f.mapPath = "/home/u/.config/mbus/ports";
        f.error = c.error;
        f.lineStatus = c.lineStatus;
        if (c.error == EBUSY) f.detail = "port in use by process 42";
        if (c.error == EACCES) f.group = "uucp";
        const PortProblem p = DescribePortProblem(f);
        EXPECT_EQ(p.kind, c.kind) << c.error << " " << p.text;
        if (!c.text.empty()) {
            EXPECT_EQ(p.text, c.text);
        }
        EXPECT_NE(p.text.find("/dev/ttyUSB0"), std::string::npos) << p.text;
    }
    // A port map that cannot be read says so where the entry was looked for.
    PortOpenFacts f;
    f.port = 2;
    f.device = "/dev/ttyS1";
    f.mapPath = "/home/u/.config/mbus/ports";
    f.mapErrors = "is a directory";
    f.error = ENOENT;
    const std::string text = DescribePortProblem(f).text;
    EXPECT_EQ(text.substr(0, text.find(',')),
              "COM2 is not in the port map (/home/u/.config/mbus/ports: is a directory)");
}

class PortProblemLookUp : public ::testing::Test {
protected:
    void Map(const std::string& lines) { std::ofstream(scratch_.File("ports")) << lines; }
    ScratchDirectory scratch_;
    ScopedEnv ports_{"MBUS_PORT_MAP", scratch_.File("ports")};
};

// A missing device, an unnamed port and a port in use are looked up through
// the dialog's own test (the control's port test first); a permission error
// needs an ordinary user, which a dialog with the control's threads cannot
// become.
TEST_F(PortProblemLookUp, APermissionErrorNamesTheDevicesGroup) {
    const std::string device = scratch_.File("tty-of-root");
    std::ofstream(device) << "";
    ASSERT_EQ(::chmod(device.c_str(), 0600), 0);
    Map("3 = " + device + "\n");
    // The folder and the port map readable by everyone: only the device is closed.
    ASSERT_EQ(::chmod(scratch_.Path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(scratch_.File("ports").c_str(), 0644), 0);
    PortOpenFacts f;
    {
        testsupport::Unprivileged user;
        f = LookUpPortProblem(3, 2);
    }
    EXPECT_EQ(f.error, EACCES);
    EXPECT_EQ(f.group, "root") << "the group of the file made by root";
    EXPECT_EQ(DescribePortProblem(f).kind, PortProblemKind::kPermission);
}

}  // namespace
}  // namespace mbus::meridex
