// Every writable field of the three module pages, written through the main
// dialog and the control to simulated modules, then checked twice: in the
// module's own state and on the page after the read that follows. The
// control is created in this process from the same library code as the
// shared library, so that the simulated bus (and with it each module's
// state) is at hand. Runs under the offscreen platform.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <fstream>

#include "configurator/devices/module_pages.h"
#include "configurator/shell/main_dialog.h"
#include "tests/configurator/widgets/in_process_dialog.h"

namespace mbus::meridex {
namespace {

using ModuleWrites = test::InProcessDialog;
using namespace std::chrono_literals;

TEST_F(ModuleWrites, PulseSerialMediumUnitFactorAndCounterOfEachInput) {
    StartBus({"module=pulse man=VND primary=1 firmware=13 id=11223344 medium=07 unit1=13 count1=1000 factor1=10/1 "
             "id2=55667788 medium2=02 unit2=06 count2=250 factor2=1/2"});
    Run([&] { dialog_->Read(); });
    ASSERT_EQ(Pages().Page(), kPagePulseBoth);
    struct Case {
        const char* serial;
        int medium;
        int unitEntry;
        uint8_t vif;
        const char* counter;
        const char* numerator;
        const char* denominator;
        uint64_t raw;
        const char* counterBack;
    };
    // Input 1: hot water, litres x 10, 1000 l written; input 2: gas, m3, factor 3/7.
    const Case cases[2] = {{"87654321", 6, 2, 0x13, "1000", "10", "1", 100, "1000"},
                           {"123", 3, 3, 0x16, "99", "3", "7", 231, "99"}};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i + 1);
        const Case& c = cases[i];
        PulseInputWidgets& w = Pages().pulse[i];
        Type(w.serial, c.serial);
        w.medium->setCurrentIndex(c.medium);
        w.unit->setCurrentIndex(c.unitEntry);
        Type(w.counter, c.counter);
        Type(w.numerator, c.numerator);
        Type(w.denominator, c.denominator);
        Click(w.writeAll);
        WithModule<sim::PulseModule>([&](sim::PulseModule& m) {
            const sim::PulseInput& in = m.Input(i + 1);
            EXPECT_EQ(in.id, i == 0 ? 0x87654321u : 0x12300000u);
            EXPECT_EQ(in.medium, c.medium);
            EXPECT_EQ(in.unit, c.vif);
            EXPECT_EQ(in.raw, c.raw);
            EXPECT_EQ(in.numerator, std::stoi(c.numerator));
            EXPECT_EQ(in.denominator, std::stoi(c.denominator));
        });
        EXPECT_EQ(Text(w.serial), i == 0 ? "87654321" : "12300000");
        EXPECT_EQ(w.medium->currentIndex(), c.medium);
        EXPECT_EQ(w.unit->currentIndex(), c.unitEntry);
        EXPECT_EQ(Text(w.counter), c.counterBack);
        EXPECT_EQ(Text(w.numerator), c.numerator);
        EXPECT_EQ(Text(w.denominator), c.denominator);
    }
    // The serial-number button changes serial, medium and unit of its input only.
    PulseInputWidgets& w1 = Pages().pulse[0];
    Type(w1.serial, "5");
    w1.medium->setCurrentIndex(4);
    w1.unit->setCurrentIndex(4 + 0x7F);  // VIF 7F is written as 7E
    Type(w1.counter, "777");
    Click(w1.writeSerial);
    WithModule<sim::PulseModule>([&](sim::PulseModule& m) {
        EXPECT_EQ(m.Input(1).id, 0x50000000u);
        EXPECT_EQ(m.Input(1).medium, 4);
        EXPECT_EQ(m.Input(1).unit, 0x7E);
        EXPECT_EQ(m.Input(1).raw, 100u) << "the counter is not written by this button";
        EXPECT_EQ(m.Input(2).id, 0x12300000u);
    });
    EXPECT_EQ(w1.unit->currentIndex(), 4 + 0x7E);
    EXPECT_EQ(Text(w1.counter), "1000");
}

TEST_F(ModuleWrites, ControlRelaysSetLogicAndPowerFail) {
    StartBus({"module=control man=VND primary=1 firmware=12 id=22334455 p1=1 p2=0"});
    Run([&] { dialog_->Read(); });
    ASSERT_EQ(Pages().Page(), kPageControl);
    for (int r = 0; r < 2; ++r) {
        SCOPED_TRACE(r + 1);
        RelayWidgets& w = Pages().relay[r];
        ASSERT_TRUE(w.set1->isEnabled());
        Click(w.set1);
        WithModule<sim::ControlModule>([&](sim::ControlModule& m) { EXPECT_TRUE(m.RelayState(r + 1).output); });
        EXPECT_EQ(Text(w.state), "1");
        Click(w.set0);
        WithModule<sim::ControlModule>([&](sim::ControlModule& m) { EXPECT_FALSE(m.RelayState(r + 1).output); });
        EXPECT_EQ(Text(w.state), "0");
        // Logic "P1 AND #P2" (code 9) and power fail "      1" (code 1): 109.
        w.logic->setCurrentIndex(7);
        w.powerFail->setCurrentIndex(2);
        EXPECT_FALSE(w.set0->isEnabled());
        Click(w.write);
        WithModule<sim::ControlModule>([&](sim::ControlModule& m) {
            EXPECT_EQ(m.RelayState(r + 1).configuration, 109);
            EXPECT_TRUE(m.RelayState(r + 1).output) << "P1 on and P2 off";
        });
        EXPECT_EQ(w.logic->currentIndex(), 7);
        EXPECT_EQ(w.powerFail->currentIndex(), 2);
        EXPECT_EQ(Text(w.state), "1");
        EXPECT_FALSE(w.set1->isEnabled());
    }
}

TEST_F(ModuleWrites, AnalogParametersMinMaxAndCurrentOutput) {
    StartBus({"module=analog man=VND primary=1 firmware=11 id=33445566 x1=1000 unit1=3B a1=1/2/4 x2=250 unit2=2B "
             "a2=1/1/0 temp=21.5 sensor=pt1000 minmax=a1 current=12000"});
    Run([&] { dialog_->Read(); });
    ASSERT_EQ(Pages().Page(), kPageAnalog);
    AnalogInputWidgets& a1 = Pages().analog[0];
    AnalogInputWidgets& a2 = Pages().analog[1];
    Type(a1.a, "3");
    Type(a1.b, "-2");
    Type(a1.c, "-100");
    a1.unit->setCurrentIndex(0x13);
    Click(a1.write);
    Type(a2.a, "255");
    Type(a2.b, "127");
    Type(a2.c, "127");
    a2.unit->setCurrentIndex(0x2A);
    QTest::mouseClick(a2.minMax, Qt::LeftButton);
    Click(a2.write);
    Type(Pages().outputCurrent, "20");
    Click(Pages().writeOutput);
    WithModule<sim::AnalogModule>([&](sim::AnalogModule& m) {
        EXPECT_EQ(m.AnalogInput(1).a, 3);
        EXPECT_EQ(m.AnalogInput(1).b, -2);
        EXPECT_EQ(m.AnalogInput(1).c, -100);
        EXPECT_EQ(m.AnalogInput(1).unit, 0x13);
        EXPECT_EQ(m.AnalogInput(2).a, 255);
        EXPECT_EQ(m.AnalogInput(2).b, 127);
        EXPECT_EQ(m.AnalogInput(2).c, 127);
        EXPECT_EQ(m.AnalogInput(2).unit, 0x2A);
        EXPECT_EQ(m.MinMaxInput(), sim::AnalogModule::MinMax::kA2);
        EXPECT_EQ(m.Current(), 20000);
    });
    EXPECT_EQ(Text(a1.a), "3");
    EXPECT_EQ(Text(a1.b), "-2");
    EXPECT_EQ(Text(a1.c), "-100");
    EXPECT_EQ(a1.unit->currentIndex(), 0x13);
    EXPECT_EQ(Text(a2.c), "127");
    EXPECT_EQ(a2.unit->currentIndex(), 0x2A);
    EXPECT_TRUE(a2.minMax->isChecked());
    EXPECT_FALSE(a1.minMax->isChecked());
    EXPECT_EQ(Text(Pages().outputCurrent), "20.000");
}

// A field that is not a number of its range stops its write: a message box
// names the field, no script goes to the control, and the module keeps
// what it had.
TEST_F(ModuleWrites, FieldsThatAreNoNumbersOfTheirRangeAreRefusedAndNothingIsSent) {
    StartBus({"module=pulse man=VND primary=1 firmware=13 id=11223344 medium=07 unit1=13 count1=1000 factor1=10/1 "
              "medium2=1F",
              "module=analog man=VND primary=2 firmware=11 id=33445566 x1=1000 unit1=3B a1=1/2/4 x2=250 unit2=2B "
              "a2=1/1/0 temp=21.5 sensor=pt1000 minmax=a1 current=12000"});
    collectMessages_ = true;
    // A refused write starts no job; should one start all the same, it is
    // run to its end before the module is looked at.
    auto refused = [&](QPushButton* write, const std::string& field) {
        SCOPED_TRACE(field);
        const std::string scriptBefore = dialog_->LastScript();
        messages_.clear();
        QTest::mouseClick(write, Qt::LeftButton);
        EXPECT_FALSE(dialog_->Cycle().ScriptRunning()) << "a script was started";
        const auto until = std::chrono::steady_clock::now() + 60s;
        while (dialog_->Cycle().ScriptRunning() && std::chrono::steady_clock::now() < until) QTest::qWait(10);
        EXPECT_EQ(dialog_->LastScript(), scriptBefore);
        ASSERT_EQ(messages_.size(), 1u);
        EXPECT_NE(messages_[0].find(field), std::string::npos) << messages_[0];
    };

    Run([&] { dialog_->Read(); });
    ASSERT_EQ(Pages().Page(), kPagePulseInput1);
    sim::PulseInput before;
    WithModule<sim::PulseModule>([&](sim::PulseModule& m) { before = m.Input(1); });
    PulseInputWidgets& p1 = Pages().pulse[0];
    for (const char* counter : {"12ab-3.5e", "", "-5", "1000.5", "1e3"}) {
        Type(p1.counter, counter);
        refused(p1.writeAll, "P1 / Z2 meter count");
    }
    // 2^48 raw counts with the factor 10 / 1: one more than the module keeps.
    Type(p1.counter, "2814749767106560");
    refused(p1.writeAll, "P1 / Z2 meter count");
    Type(p1.counter, "500");
    Type(p1.numerator, "1a");
    EXPECT_EQ(Text(p1.numerator), "1a") << "leaving the field keeps a text that is no number";
    refused(p1.writeAll, "P1 / Z2 factor numerator");
    WithModule<sim::PulseModule>([&](sim::PulseModule& m) {
        EXPECT_EQ(m.Input(1).raw, before.raw);
        EXPECT_EQ(m.Input(1).numerator, 10);
        EXPECT_EQ(m.Input(1).denominator, 1);
    });
    // A number out of the factor's range is still clamped, and then written.
    Type(p1.numerator, "300");
    EXPECT_EQ(Text(p1.numerator), "255");

    dialog_->SetPrimaryAddress("2");
    Run([&] { dialog_->Read(); });
    ASSERT_EQ(Pages().Page(), kPageAnalog);
    AnalogInputWidgets& a1 = Pages().analog[0];
    Type(a1.a, "3");
    Type(a1.b, "12ab-3.5e");
    Type(a1.c, "0");
    refused(a1.write, "A1 parameter b");
    Type(a1.b, "2");
    Type(a1.c, "200");
    refused(a1.write, "A1 parameter c");
    Type(Pages().outputCurrent, "25");
    refused(Pages().writeOutput, "Output current");
    WithModule<sim::AnalogModule>(
        [](sim::AnalogModule& m) {
            EXPECT_EQ(m.AnalogInput(1).a, 1);
            EXPECT_EQ(m.AnalogInput(1).b, 2);
            EXPECT_EQ(m.AnalogInput(1).c, 4);
            EXPECT_EQ(m.Current(), 12000);
        },
        1);
}

// The temperature calibration of each sensor slot, with firmware 0 (a, b in
// four bits, t in one byte, V1 alone) and with a later firmware (V1 and V2).
struct Calibration {
    const char* firmware;
    int sensorEntry;
    const char* a;
    const char* b;
    const char* c;
    int slot;
};

class TemperatureCalibration : public ModuleWrites, public ::testing::WithParamInterface<Calibration> {};

TEST_P(TemperatureCalibration, RoundTripsThroughTheModule) {
    const Calibration& k = GetParam();
    StartBus({std::string("module=analog man=VND primary=1 firmware=") + k.firmware +
              " id=33445566 temp=21.5 sensor=pt100"});
    Run([&] { dialog_->Read(); });
    AnalogInputWidgets& t = Pages().temperature;
    t.unit->setCurrentIndex(k.sensorEntry);
    emit t.unit->activated(k.sensorEntry);
    Type(t.a, k.a);
    Type(t.b, k.b);
    Type(t.c, k.c);
    Click(t.write);
    const bool later = std::string(k.firmware) != "00";
    WithModule<sim::AnalogModule>([&](sim::AnalogModule& m) {
        const int sensorCodes[] = {2, 0, 1, 3, 4};
        EXPECT_EQ(m.SensorCode(), sensorCodes[k.sensorEntry]);
        const uint16_t slot1 = static_cast<uint16_t>(m.V1() >> (16 * k.slot));
        const int a = std::stoi(k.a), b = std::stoi(k.b);
        const int tenC = static_cast<int>(std::stod(k.c) * 10 + (std::stod(k.c) < 0 ? -0.5 : 0.5));
        EXPECT_EQ(slot1, static_cast<uint16_t>(((tenC & 0xFF) << 8) | ((a & 0xF) << 4) | (b & 0xF)));
        if (later) {
            const uint16_t slot2 = static_cast<uint16_t>(m.V2() >> (16 * k.slot));
            EXPECT_EQ(slot2, static_cast<uint16_t>((((tenC >> 8) & 0xFF) << 8) | (((a >> 4) & 0xF) << 4) |
                                                   ((b >> 4) & 0xF)));
        } else {
            EXPECT_EQ(m.V2(), 0u) << "firmware 0 has no second calibration value";
        }
    });
    EXPECT_EQ(t.unit->currentIndex(), k.sensorEntry);
    EXPECT_EQ(Text(t.a), k.a);
    EXPECT_EQ(Text(t.b), k.b);
    EXPECT_EQ(Text(t.c), k.c);
}

std::string CalibrationName(const ::testing::TestParamInfo<Calibration>& info) {
    const char* const sensors[] = {"PT100", "PT500", "PT1000"};
    return std::string(sensors[info.param.sensorEntry]) +
           (std::string(info.param.firmware) == "00" ? "Firmware0" : "Firmware11");
}

INSTANTIATE_TEST_SUITE_P(SensorsAndFirmware, TemperatureCalibration,
                         ::testing::Values(Calibration{"00", 0, "7", "-8", "12.7", 0},
                                           Calibration{"00", 1, "-3", "5", "-12.8", 1},
                                           Calibration{"00", 2, "1", "-1", "0.5", 2},
                                           Calibration{"11", 0, "200", "-100", "-3276.8", 0},
                                           Calibration{"11", 1, "17", "33", "123.4", 1},
                                           Calibration{"11", 2, "255", "127", "3276.7", 2}),
                         CalibrationName);

}  // namespace
}  // namespace mbus::meridex
