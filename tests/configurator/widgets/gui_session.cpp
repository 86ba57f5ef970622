// A whole session with MERIDEX as a user would run it, in a real window:
// run by scripts/run-configurator in place of the program (MERIDEX_PROGRAM),
// so that it meets exactly the demo's set-up: mbus-sim with
// sim/demo/modules.txt on a pseudo-terminal behind COM1, the control
// registered in the demo's registry, the demo's INI file. It searches the
// bus, reads every module listed, gives the Pulse module a new primary
// address and reads it there, saves the list as an .MDX file, starts the
// dialog again and opens the list. A screenshot of the window is taken at
// each step (into the folder given as the argument); the status line and
// the list are checked at each step.
//
// Usage (under a display, e.g. xvfb-run):
//   MERIDEX_PROGRAM=meridex_gui_session scripts/run-configurator SHOT_DIR

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <filesystem>

#include "configurator/devices/module_pages.h"
#include "configurator/shell/main_dialog.h"
#include "tests/configurator/widgets/window_shot.h"

namespace mbus::meridex {
namespace {

using namespace std::chrono_literals;

std::filesystem::path gShots;

class GuiSession : public ::testing::Test {
protected:
    std::unique_ptr<CMERIDEXDlg> Start() {
        DialogOptions o;
        o.programPath = (work_ / "MERIDEX").string();
        o.messageBox = [](const QString& text, const QString&, MessageIcon) {
            ADD_FAILURE() << "message box: " << text.toStdString();
        };
        o.askFileName = [this](QWidget*, bool, const FileDialogRequest&) {
            return QString::fromStdString((work_ / "modules.MDX").string());
        };
        auto d = std::make_unique<CMERIDEXDlg>(std::move(o));
        d->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(d.get()));
        return d;
    }
    // Waits for the job to end and checks the status line.
    static void Finish(CMERIDEXDlg& d, const char* status, std::chrono::seconds limit = 600s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        do {
            QTest::qWait(50);
            ASSERT_LT(std::chrono::steady_clock::now(), until) << "the job did not end";
        } while (d.Cycle().ScriptRunning());
        EXPECT_EQ(d.StatusText().toStdString(), status) << d.LastScript();
    }
    // What the screen shows of the window, with the window manager's frame
    // when one runs (scripts/screenshots starts one; the test's bare Xvfb has none).
    void Shot(CMERIDEXDlg& d, const std::string& name) {
        const test::WindowShot shot = test::GrabWithFrame(d, 500ms);
        const std::filesystem::path file = gShots / ("session-" + std::to_string(++shots_) + "-" + name + ".png");
        EXPECT_TRUE(shot.pixels.save(QString::fromStdString(file.string()))) << file;
    }

    std::filesystem::path work_ = std::filesystem::path(qEnvironmentVariable("MERIDEX_INI").toStdString()).parent_path();
    int shots_ = 0;
};

TEST_F(GuiSession, SearchReadSetAnAddressSaveReopenAndOpen) {
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("MERIDEX_INI")) << "run me through scripts/run-configurator";
    std::filesystem::create_directories(gShots);
    std::filesystem::remove(work_ / "modules.MDX");
    auto d = Start();
    EXPECT_EQ(d->StatusText().toStdString(), "Program started.");
    Shot(*d, "started");

    // The device search: the VND modules of the demo bus (the Pulse module's
    // two inputs are two meters), not the KTR module nor the other meters.
    d->SetAddressType(kDeviceList);
    QTest::mouseClick(d->findChild<QPushButton*>("deviceSearch"), Qt::LeftButton);
    ASSERT_NO_FATAL_FAILURE(Finish(*d, "Success!"));
    const QStringList found = d->DeviceEntries();
    EXPECT_EQ(found, (QStringList{"P: 11223344, 07", "A: 33445566, 19", "P: 55667788, 02"}));
    Shot(*d, "searched");

    // Every listed module read by its entry.
    const PageType pages[] = {kPagePulseInput1, kPageAnalog, kPagePulseInput2};
    for (int i = 0; i < found.size() && i < 3; ++i) {
        d->SelectDevice(i);
        QTest::mouseClick(d->findChild<QPushButton*>("read"), Qt::LeftButton);
        ASSERT_NO_FATAL_FAILURE(Finish(*d, "Success!"));
        EXPECT_EQ(d->Pages()->Page(), pages[i]) << found[i].toStdString();
        EXPECT_EQ(d->findChild<QComboBox*>("deviceList")->currentText(), found[i]);
        Shot(*d, "read-" + std::to_string(i + 1));
    }

    // The Pulse module at primary address 1 gets address 17 and is read there.
    d->SetAddressType(kPrimaryAddress);
    d->SetPrimaryAddress("1");
    QTest::mouseClick(d->findChild<QPushButton*>("read"), Qt::LeftButton);
    ASSERT_NO_FATAL_FAILURE(Finish(*d, "Success!"));
    ASSERT_EQ(d->ModuleKindValue(), kModulePulse);
    d->findChild<QLineEdit*>("newPrimaryAddress")->setText("17");
    QTest::mouseClick(d->findChild<QPushButton*>("writeAddress"), Qt::LeftButton);
    ASSERT_NO_FATAL_FAILURE(Finish(*d, "Success!"));
    EXPECT_NE(d->LastScript().find("5|17||"), std::string::npos) << d->LastScript();
    EXPECT_EQ(d->findChild<QLineEdit*>("primaryAddress")->text().toStdString(), "17");
    EXPECT_EQ(d->Pages()->Page(), kPagePulseBoth);
    Shot(*d, "new-address");
    QTest::mouseClick(d->findChild<QPushButton*>("read"), Qt::LeftButton);
    ASSERT_NO_FATAL_FAILURE(Finish(*d, "Success!"));
    EXPECT_EQ(d->Pages()->pulse[0].serial->text().toStdString(), "11223344") << "the same module at 17";

    // The list saved; the program again; the list opened.
    d->SetAddressType(kDeviceList);
    QTest::mouseClick(d->findChild<QPushButton*>("deviceSave"), Qt::LeftButton);
    ASSERT_TRUE(std::filesystem::exists(work_ / "modules.MDX"));
    EXPECT_EQ(std::filesystem::file_size(work_ / "modules.MDX"), 3u * 130u);
    const QStringList before = d->DeviceEntries();
    Shot(*d, "saved");
    ASSERT_TRUE(d->RequestClose());
    d.reset();

    d = Start();
    EXPECT_TRUE(d->DeviceEntries().isEmpty());
    QTest::mouseClick(d->findChild<QPushButton*>("deviceOpen"), Qt::LeftButton);
    EXPECT_EQ(d->DeviceEntries(), before);
    EXPECT_EQ(d->StatusText().toStdString(), "Program started.");
    Shot(*d, "reopened");
    // Back as the demo began: the module at its old address for the next run.
    d->SetAddressType(kPrimaryAddress);
    d->SetPrimaryAddress("17");
    QTest::mouseClick(d->findChild<QPushButton*>("read"), Qt::LeftButton);
    ASSERT_NO_FATAL_FAILURE(Finish(*d, "Success!"));
    EXPECT_TRUE(d->RequestClose());
}

}  // namespace
}  // namespace mbus::meridex

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    mbus::meridex::gShots = argc > 1 ? argv[1] : "session-shots";
    return RUN_ALL_TESTS();
}
