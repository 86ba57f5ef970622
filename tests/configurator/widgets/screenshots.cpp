// Screenshots of MERIDEX for the README, in each of the program's six
// languages: the Pulse, Control and Analog pages after reading the simulated
// modules, the parameter calculation opened from the Analog page, the
// settings dialog, the phone list and its entry dialog, the question for the
// search's baud rate and the first-start language dialog; and the Save As
// file dialog of the device list in German. Each picture is what the screen
// shows of the window, the window manager's frame included, so this runs
// under an X server with a window manager (scripts/screenshots starts Xvfb
// and openbox); a window that gets no frame is an error. The control library
// and mbus-sim come from the build.
//
// Usage: meridex_screenshots OUTPUT_DIR
// Writes OUTPUT_DIR/WHAT-LANGUAGE.png (e.g. pulse-german.png) and prints each
// file's name; exits 1 when a picture could not be made.

#include <dlfcn.h>
#include <stdlib.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "configurator/devices/module_pages.h"
#include "configurator/shell/language_dialog.h"
#include "configurator/shell/languages.h"
#include "configurator/shell/main_dialog.h"
#include "configurator/shell/phone_dialogs.h"
#include "configurator/shell/qt_texts.h"
#include "configurator/shell/search_baudrate_dialog.h"
#include "configurator/shell/settings_dialog.h"
#include "platform/com/types.h"
#include "tests/configurator/widgets/window_shot.h"
#include "tests/sim/sim_process.h"

namespace {

using namespace mbus::meridex;
using namespace std::chrono_literals;

// The file-name part of each text-table column.
constexpr std::array<const char*, kColumnCount> kLanguageNames = {
    "german", "english", "french", "portuguese", "swedish", "russian"};

const char* LanguageName(int languageId) { return kLanguageNames[ColumnOfLanguage(languageId)]; }

std::filesystem::path ShotFile(const std::filesystem::path& out, const char* what, int languageId) {
    return out / (std::string(what) + "-" + LanguageName(languageId) + ".png");
}

bool Save(QWidget& w, const std::filesystem::path& file) {
    test::WindowShot shot = test::GrabWithFrame(w, 5s);
    const QRect screen = w.screen()->geometry();
    // A window the window manager is still placing may be caught off the
    // screen; a second look finds it in place.
    if (!shot.Complete(screen)) shot = test::GrabWithFrame(w, 5s);
    if (!shot.Complete(screen)) {
        const QRect r = shot.region;
        std::fprintf(stderr, "meridex_screenshots: %s: the window (%dx%d at %d,%d) is not wholly on the %dx%d screen\n",
                     file.c_str(), r.width(), r.height(), r.x(), r.y(), screen.width(), screen.height());
        return false;
    }
    if (!shot.framed) {
        std::fprintf(stderr,
                     "meridex_screenshots: %s: the window got no window manager's frame (or not its full size) within 5 s; "
                     "run under an X server with a window manager (scripts/screenshots starts Xvfb and openbox)\n",
                     file.c_str());
        return false;
    }
    if (!shot.pixels.save(QString::fromStdString(file.string()))) {
        std::fprintf(stderr, "meridex_screenshots: cannot write %s\n", file.c_str());
        return false;
    }
    std::printf("%s\n", file.c_str());
    return true;
}

// Runs `open`, which opens a modal dialog the way the program does and
// returns when it is closed; the dialog is saved to `file` and closed.
bool SaveModal(const std::function<void()>& open, const std::filesystem::path& file) {
    bool opened = false;
    bool ok = false;
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) return;
        poll.stop();
        opened = true;
        ok = Save(*modal, file);
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    });
    poll.start();
    open();
    if (!opened) std::fprintf(stderr, "meridex_screenshots: %s: no dialog opened\n", file.c_str());
    return opened && ok;
}

// Reads the module at a primary address and waits for the job to end;
// false (with a message) when no module page is shown after it.
bool ReadModule(CMERIDEXDlg& d, int address) {
    d.SetPrimaryAddress(QString::number(address));
    d.Read();
    const auto until = std::chrono::steady_clock::now() + 60s;
    do QTest::qWait(20);
    while (d.Cycle().ScriptRunning() && std::chrono::steady_clock::now() < until);
    if (d.Cycle().ScriptRunning() || d.Pages()->Page() == kPageEmpty) {
        std::fprintf(stderr, "meridex_screenshots: reading primary address %d gave no page: %s\n", address,
                     d.StatusText().toStdString().c_str());
        return false;
    }
    return true;
}

// The main dialog in one language: each module page after a read, the
// parameter calculation as the Analog page's temperature input opens it
// (with the page's a, b and c in the language's number format), and in
// German the device list's Save As dialog.
bool MainDialogShots(const std::filesystem::path& work, int languageId, const std::filesystem::path& out) {
    std::ofstream(work / "MERIDEX.INI") << "[MERIDEX]\r\nVersionsInfo=12\r\nLanguage=" << languageId
                                        << "\r\nAddressType=3\r\nPrimAddress=1\r\n[Folders]\r\nLastFolder="
                                        << (work / "lists").string() << "\r\n";
    bool ok = true;
    DialogOptions o;
    o.programPath = (work / "MERIDEX").string();
    o.iniPath = (work / "MERIDEX.INI").string();
    o.messageBox = [&ok](const QString& text, const QString&, MessageIcon) {
        std::fprintf(stderr, "meridex_screenshots: message: %s\n", text.toStdString().c_str());
        ok = false;
    };
    CMERIDEXDlg d(std::move(o));
    d.show();
    const std::pair<int, const char*> pages[] = {{1, "pulse"}, {2, "control"}, {3, "analog"}};
    for (auto [address, page] : pages)
        ok = ReadModule(d, address) && Save(d, ShotFile(out, page, languageId)) && ok;
    if (d.Pages()->Page() == kPageAnalog)
        ok = SaveModal([&] { d.Pages()->temperature.param->click(); }, ShotFile(out, "anaparam", languageId)) && ok;
    if (ColumnOfLanguage(languageId) == kGerman) {
        d.SetAddressType(kDeviceList);
        ok = SaveModal([&] { d.findChild<QPushButton*>("deviceSave")->click(); },
                       ShotFile(out, "saveas", languageId)) &&
             ok;
    }
    d.RequestClose();
    return ok;
}

// The dialogs that open on their own, in one language; Qt's own texts
// (standard buttons) in that language as the program sets them.
bool DialogShots(const TextTable& texts, int languageId, const std::filesystem::path& out) {
    UseQtTranslation(languageId);
    bool ok = true;
    {
        SettingsChoice choice;
        choice.languageId = languageId;
        Control none;
        MERIDEXSettings settings(texts, languageId, choice, none);
        settings.show();
        ok = Save(settings, ShotFile(out, "settings", languageId)) && ok;
    }
    {
        CPhoneNumbers list(texts, languageId, {{"Meter room north", "0891 234 567"}, {"Office", "+49 30 555 0100"}});
        list.ListView()->setCurrentItem(list.ListView()->topLevelItem(0));
        list.show();
        ok = Save(list, ShotFile(out, "phonelist", languageId)) && ok;
    }
    {
        CPhoneNumberEdit entry(texts, languageId, {"Meter room north", "0891 234 567"});
        entry.show();
        ok = Save(entry, ShotFile(out, "phoneentry", languageId)) && ok;
    }
    {
        MERIDEXSearchBaudrate search(texts, languageId);
        search.show();
        ok = Save(search, ShotFile(out, "searchbaud", languageId)) && ok;
    }
    {
        MERIDEXLanguage language(texts, languageId);
        language.show();
        ok = Save(language, ShotFile(out, "language", languageId)) && ok;
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: meridex_screenshots OUTPUT_DIR\n");
        return 2;
    }
    QApplication app(argc, argv);
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        std::fprintf(stderr, "meridex_screenshots: needs an X server (platform xcb), not \"%s\"\n",
                     QGuiApplication::platformName().toStdString().c_str());
        return 1;
    }
    const std::filesystem::path out = argv[1];
    std::filesystem::create_directories(out);
    const std::filesystem::path work =
        std::filesystem::temp_directory_path() / ("meridex-shots-" + std::to_string(::getpid()));
    std::filesystem::create_directories(work / "lists");
    // The Save As dialog shows the folder of the device lists with one list in it.
    std::ofstream(work / "lists" / "meters.MDX");
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
    TextTable texts;
    for (const LanguageButton& language : kLanguageButtons) {
        ok = MainDialogShots(work, language.languageId, out) && ok;
        ok = DialogShots(texts, language.languageId, out) && ok;
    }

    std::error_code ec;
    std::filesystem::remove_all(work, ec);
    return ok ? 0 : 1;
}
