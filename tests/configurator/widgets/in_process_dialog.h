// The main dialog with the control created in this process from the
// library's code and a simulated bus registered in this process, so that
// tests can look at the simulated modules' own state. Shared by the widget
// tests of the module pages and the address functions.

#pragma once

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "configurator/devices/module_pages.h"
#include "configurator/shell/main_dialog.h"
#include "configurator/shell/qt_texts.h"
#include "control/com/control_object.h"
#include "control/com/identifiers.h"
#include "platform/serial/simulated_port.h"
#include "sim/bus_description.h"
#include "sim/sim_bus.h"
#include "tests/support/scratch.h"

namespace mbus::meridex::test {

using testsupport::ScopedEnv;
using testsupport::ScratchDirectory;
using namespace std::chrono_literals;

// Puts a long property of a control by name (members the program itself
// does not use, such as the search delay or the modem's timeouts).
inline void PutLong(com::IDispatch* control, const char16_t* name, int32_t value) {
    ASSERT_NE(control, nullptr);
    const com::OLECHAR* names[] = {name};
    com::DISPID id = 0;
    ASSERT_EQ(control->GetIDsOfNames(com::IID_NULL, names, 1, 0, &id), com::S_OK);
    com::VARIANT v = com::MakeVariantI4(value);
    com::DISPID named = com::DISPID_PROPERTYPUT;
    com::DISPPARAMS params{&v, &named, 1, 1};
    ASSERT_EQ(control->Invoke(id, com::IID_NULL, 0, com::DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr),
              com::S_OK);
}

// Gets a long property of a control by name; -1 when it cannot be read.
inline int32_t GetLong(com::IDispatch* control, const char16_t* name) {
    if (control == nullptr) return -1;
    const com::OLECHAR* names[] = {name};
    com::DISPID id = 0;
    if (control->GetIDsOfNames(com::IID_NULL, names, 1, 0, &id) != com::S_OK) return -1;
    com::DISPPARAMS params{nullptr, nullptr, 0, 0};
    com::VARIANT result{};
    if (control->Invoke(id, com::IID_NULL, 0, com::DISPATCH_PROPERTYGET, &params, &result, nullptr, nullptr) !=
        com::S_OK)
        return -1;
    return result.lVal;
}

inline Control InProcessControl(std::string* why) {
    void* raw = nullptr;
    if (control::GetClassObject(control::CLSID_MBusOrlX4, com::IID_IClassFactory, &raw) != com::S_OK) {
        *why = "no class object";
        return Control();
    }
    auto factory = com::ComPtr<com::IClassFactory>::Adopt(raw);
    if (factory->CreateInstance(nullptr, com::IID_IDispatch, &raw) != com::S_OK) {
        *why = "no instance";
        return Control();
    }
    return Control(com::ComPtr<com::IDispatch>::Adopt(raw));
}

class InProcessDialog : public ::testing::Test {
protected:
    static constexpr int kSuccessText = 4;  // the status text of a job that succeeded

    // A bus with these slaves (bus description lines), port 1 leading to it,
    // and the dialog started in this language with these keys of MERIDEX.INI.
    void StartBus(const std::vector<std::string>& slaves,
                  const std::string& ini = "AddressType=3\r\nPrimAddress=1\r\n", int languageId = 1) {
        bus_->SetDefaultBaud(2400);
        bus_->SetPaced(false);
        for (const std::string& line : slaves) {
            sim::VirtualSlave slave;
            std::vector<std::string> errors;
            ASSERT_TRUE(sim::ParseSlave(line, &slave, errors)) << (errors.empty() ? "" : errors.front());
            bus_->AddSlave(std::move(slave));
        }
        name_ = "in-process-dialog-" + std::to_string(++serial_);
        serial::RegisterSimulatedBus(name_, bus_);
        std::ofstream(scratch_.File("ports")) << "1 = sim:" << name_ << "\n";
        scratch_.WriteFile("MERIDEX.INI", "[MERIDEX]\r\nVersionsInfo=12\r\nLanguage=" + std::to_string(languageId) +
                                              "\r\n" + ini);
        StartDialog();
    }
    // The dialog (again) on the files of the test.
    void StartDialog() {
        DialogOptions o;
        o.programPath = scratch_.File("MERIDEX");
        o.iniPath = scratch_.File("MERIDEX.INI");
        o.createControl = InProcessControl;
        o.messageBox = [this](const QString& text, const QString&, MessageIcon) {
            if (collectMessages_)
                messages_.push_back(text.toStdString());
            else
                ADD_FAILURE() << text.toStdString();
        };
        o.askFileName = [this](QWidget*, bool, const FileDialogRequest&) { return fileName_; };
        o.askSearchBaudrate = [this] { return searchBaudIndex_; };
        o.availableArea = [this](const QWidget&) { return availableArea_; };
        dialog_ = std::make_unique<CMERIDEXDlg>(std::move(o));
        dialog_->show();
    }
    void TearDown() override {
        if (dialog_) dialog_->RequestClose();
        dialog_.reset();
        if (!name_.empty()) serial::UnregisterSimulatedBus(name_);
    }

    // Runs a job (a read, or a write with its read) to its end, which must
    // succeed ("Success!" in the dialog's language).
    void Run(const std::function<void()>& start) {
        start();
        ASSERT_TRUE(dialog_->Cycle().ScriptRunning());
        const auto until = std::chrono::steady_clock::now() + 60s;
        do {
            QTest::qWait(10);
            ASSERT_LT(std::chrono::steady_clock::now(), until) << "the job did not end";
        } while (dialog_->Cycle().ScriptRunning());
        ASSERT_EQ(dialog_->StatusText(), QText(dialog_->Texts(), kSuccessText, dialog_->LanguageId()))
            << dialog_->LastScript();
    }
    void Click(QPushButton* b) {
        Run([b] { QTest::mouseClick(b, Qt::LeftButton); });
    }
    template <class M, class F>
    void WithModule(F&& f, std::size_t slave = 0) {
        ASSERT_TRUE(bus_->WithSlave(slave, [&](sim::VirtualSlave& s) {
            M* m = s.module.As<M>();
            ASSERT_NE(m, nullptr);
            f(*m);
        }));
    }
    static void Type(QLineEdit* e, const char* text) {
        e->setText(text);
        emit e->editingFinished();
    }
    static std::string Text(QLineEdit* e) { return e->text().toStdString(); }
    // A long property of the dialog's control, put by name.
    void PutLong(const char16_t* name, int32_t value) { test::PutLong(dialog_->TheControl().Dispatch(), name, value); }
    ModulePages& Pages() { return *dialog_->Pages(); }

    ScratchDirectory scratch_;
    ScopedEnv ports_{"MBUS_PORT_MAP", scratch_.File("ports")};
    std::shared_ptr<sim::SimBus> bus_ = std::make_shared<sim::SimBus>();
    std::string name_;
    std::unique_ptr<CMERIDEXDlg> dialog_;
    // Message boxes: a test that expects them collects their texts here;
    // otherwise every message box fails the test.
    bool collectMessages_ = false;
    std::vector<std::string> messages_;
    QString fileName_;         // what the file dialogs answer
    int searchBaudIndex_ = 1;  // what the baud-rate question answers
    QRect availableArea_{0, 0, 1280, 1024};  // the desktop the window may fill
    static inline int serial_ = 0;
};

}  // namespace mbus::meridex::test
