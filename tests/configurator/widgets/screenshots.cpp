// Screenshots of MERIDEX for the README: the main dialog after reading a
// simulated module (English and Russian), the settings dialog and the
// first-start language dialog. Run by scripts/screenshots, which passes the
// output folder; the control library and mbus-sim come from the build.
//
// Usage: meridex_screenshots OUTPUT_DIR

#include <dlfcn.h>
#include <stdlib.h>

#include <QApplication>
#include <QTest>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "configurator/devices/analog_parameters_dialog.h"
#include "configurator/shell/language_dialog.h"
#include "configurator/shell/main_dialog.h"
#include "configurator/shell/settings_dialog.h"
#include "platform/com/types.h"
#include "tests/sim/sim_process.h"

namespace {

using namespace mbus::meridex;
using namespace std::chrono_literals;

bool Save(QWidget& w, const std::filesystem::path& file) {
    QTest::qWait(50);
    if (!w.grab().save(QString::fromStdString(file.string()))) {
        std::fprintf(stderr, "meridex_screenshots: cannot write %s\n", file.c_str());
        return false;
    }
    std::printf("%s\n", file.c_str());
    return true;
}

// Reads the module at a primary address in the given language and saves
// the dialog.
bool MainDialogAfterRead(const std::filesystem::path& work, int language, int address,
                         const std::filesystem::path& file) {
    std::ofstream(work / "MERIDEX.INI") << "[MERIDEX]\r\nVersionsInfo=12\r\nLanguage=" << language
                                        << "\r\nAddressType=3\r\nPrimAddress=" << address << "\r\n";
    DialogOptions o;
    o.programPath = (work / "MERIDEX").string();
    o.iniPath = (work / "MERIDEX.INI").string();
    o.messageBox = [](const QString& text, const QString&, MessageIcon) {
        std::fprintf(stderr, "meridex_screenshots: message: %s\n", text.toStdString().c_str());
    };
    // The offscreen screen is 800 x 600; the pictures show the window as a
    // common desktop does, without a scrolled page.
    o.availableArea = [](const QWidget&) { return QRect(0, 0, 1280, 1024); };
    CMERIDEXDlg d(std::move(o));
    d.show();
    d.Read();
    const auto until = std::chrono::steady_clock::now() + 60s;
    do QTest::qWait(20);
    while (d.Cycle().ScriptRunning() && std::chrono::steady_clock::now() < until);
    const bool ok = Save(d, file);
    d.RequestClose();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: meridex_screenshots OUTPUT_DIR\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::filesystem::path out = argv[1];
    std::filesystem::create_directories(out);
    const std::filesystem::path work = std::filesystem::temp_directory_path() / ("meridex-shots-" + std::to_string(::getpid()));
    std::filesystem::create_directories(work);
    ::setenv("MBUS_REGISTRY", (work / "registry").c_str(), 1);
    ::setenv("MBUS_PORT_MAP", (work / "ports").c_str(), 1);

    void* handle = ::dlopen(MBUS_CONTROL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    auto reg = handle != nullptr ? reinterpret_cast<mbus::com::HRESULT (*)()>(::dlsym(handle, "DllRegisterServer"))
                                 : nullptr;
    if (reg == nullptr || reg() != mbus::com::S_OK) {
        std::fprintf(stderr, "meridex_screenshots: cannot register %s\n", MBUS_CONTROL_LIBRARY_PATH);
        return 1;
    }
    mbus::sim::test::SimProcess sim(
        MBUS_SIM_PATH, {"--baud", "2400", "--unpaced", "--file", MBUS_SOURCE_DIR "/sim/demo/modules.txt"});
    const std::string tty = sim.ReadLine();
    if (tty.empty()) {
        std::fprintf(stderr, "meridex_screenshots: mbus-sim did not start: %s\n", sim.ReadErrors(1s).c_str());
        return 1;
    }
    std::ofstream(work / "ports") << "1 = " << tty << "\n";

    bool ok = true;
    const std::pair<int, const char*> pages[] = {{1, "pulse"}, {2, "control"}, {3, "analog"}};
    const std::pair<int, const char*> languages[] = {{1, "english"}, {49, "german"}};
    for (auto [address, page] : pages)
        for (auto [language, name] : languages)
            ok = MainDialogAfterRead(work, language, address, out / (std::string(page) + "-" + name + ".png")) && ok;
    ok = MainDialogAfterRead(work, 7, 1, out / "pulse-russian.png") && ok;

    TextTable texts;
    Control none;
    for (int language : {1, 7}) {
        SettingsChoice choice;
        choice.languageId = language;
        MERIDEXSettings settings(texts, language, choice, none);
        settings.show();
        ok = Save(settings, out / (language == 1 ? "settings-english.png" : "settings-russian.png")) && ok;
    }
    for (auto [language, name] : languages) {
        MERIDEXAnaParam parameters(texts, language, AnalogInputKind::kTemperature, kSensorPt1000, 11, {"1", "2", "0.0"});
        parameters.show();
        ok = Save(parameters, out / (std::string("anaparam-") + name + ".png")) && ok;
    }
    MERIDEXLanguage first(texts, 49);
    first.show();
    ok = Save(first, out / "language.png") && ok;

    std::error_code ec;
    std::filesystem::remove_all(work, ec);
    return ok ? 0 : 1;
}
