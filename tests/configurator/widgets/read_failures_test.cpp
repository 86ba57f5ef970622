// A read that fails says why in the status line, and the page no longer
// shows what an earlier read found. Simulated modules in this process,
// under the offscreen platform.

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLineEdit>
#include <QTest>

#include "tests/configurator/widgets/in_process_dialog.h"

namespace mbus::meridex {
namespace {

using ReadFailures = test::InProcessDialog;
using namespace std::chrono_literals;

// Runs a read to its end, whatever its outcome.
void ReadToTheEnd(CMERIDEXDlg& d) {
    d.Read();
    const auto until = std::chrono::steady_clock::now() + 120s;
    while (d.Cycle().ScriptRunning() && std::chrono::steady_clock::now() < until) QTest::qWait(10);
    ASSERT_FALSE(d.Cycle().ScriptRunning()) << "the read did not end";
}

TEST_F(ReadFailures, AReadWithoutAnswerSaysSoAndForgetsTheModuleReadBefore) {
    StartBus({"module=pulse man=VND primary=1 firmware=13 id=11223344 medium2=1F"});
    Run([&] { dialog_->Read(); });
    ASSERT_EQ(dialog_->ModuleKindValue(), kModulePulse);
    ASSERT_EQ(dialog_->VersionText(), "1.3");
    ASSERT_FALSE(Pages().pulse[0].counter->text().isEmpty());
    ASSERT_TRUE(Pages().pulse[0].group->title().contains("V:1.3"));

    dialog_->SetPrimaryAddress("9");
    ASSERT_NO_FATAL_FAILURE(ReadToTheEnd(*dialog_));
    EXPECT_EQ(dialog_->StatusText().toStdString(), "FAILED! No valid answer from primary address 9.");
    // Nothing of the module at address 1 stays on the page.
    EXPECT_EQ(Pages().Page(), kPageEmpty);
    EXPECT_EQ(dialog_->ModuleKindValue(), kModuleUnknown);
    EXPECT_EQ(dialog_->VersionText(), "");
    EXPECT_TRUE(Pages().pulse[0].counter->text().isEmpty());
    EXPECT_TRUE(Pages().pulse[0].serial->text().isEmpty());
    EXPECT_FALSE(Pages().pulse[0].group->title().contains("V:")) << Pages().pulse[0].group->title().toStdString();
}

TEST_F(ReadFailures, AnAnswerOfAnotherDeviceIsNamed) {
    StartBus({"primary=7 id=11220000 man=QXA version=01 medium=07 records=0C1378563412"},
             "AddressType=3\r\nPrimAddress=7\r\n");
    ASSERT_NO_FATAL_FAILURE(ReadToTheEnd(*dialog_));
    EXPECT_EQ(dialog_->StatusText().toStdString(),
              "FAILED! The answer from primary address 7 comes from QXA version 01, no module of this program (VND or "
              "KTR 95/05, 96/15, 97/35).");
}

}  // namespace
}  // namespace mbus::meridex
