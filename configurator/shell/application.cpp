#include "configurator/shell/application.h"

#include <QApplication>
#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>

#include "configurator/shell/about_dialog.h"
#include "configurator/shell/automation.h"
#include "configurator/shell/main_dialog.h"
#include "mbus_version.h"
#include "platform/com/ptr.h"
#include "platform/files/temporary_directory.h"
#include "sim/simulated_control.h"

namespace mbus::meridex {

std::string Usage() {
    return "Usage: MERIDEX [OPTION]\n"
           "The configuration program of the maker's Pulse, Control and Analog M-Bus modules.\n"
           "\n"
           "  --help        show this text and end\n"
           "  --version     show the version and end\n"
           "  --simulate=KIND[:SLAVES]\n"
           "                create the control in this process with COM1 leading to a\n"
           "                simulated device instead of creating the registered control:\n"
           "                bus, modem (a Hayes modem with the bus behind it) or\n"
           "                house-central; SLAVES is a bus description file (see\n"
           "                mbus-sim --help), e.g. --simulate=modem:sim/demo/modules.txt\n"
           "  -Embedding, -Automation\n"
           "                started by an automation client: keep the class factory of\n"
           "                \"MERIDEX.Application\" ready instead of refreshing its registry entries\n"
           "\n"
           "Files and environment:\n"
           "  MERIDEX_INI     the settings file (default ~/.config/mbus/MERIDEX.INI)\n"
           "  MBUS_PORT_MAP   the port map: which device COM1..COM32 stand for\n"
           "                  (default ~/.config/mbus/ports, e.g. \"1 = /dev/ttyUSB0\")\n"
           "  MBUS_REGISTRY   the component registry in which the control is registered\n"
           "                  (default ~/.config/mbus/registry; register it with regsvr)\n"
           "  MERIDEX.language beside the program replaces the German texts;\n"
           "  MERIDEX.XYZ beside the program asks for the language at the next start,\n"
           "  as a start without the settings file does.\n";
}

int CMERIDEXApp::Run(int argc, char** argv) {
    bool automation = false;
    sim::SimulationOptions simulation;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const int taken = sim::ReadSimulationOption(a, simulation, std::cerr, "MERIDEX");
        if (taken < 0) return 2;
        if (taken > 0) continue;
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            std::fputs(Usage().c_str(), stdout);
            return 0;
        }
        if (std::strcmp(a, "--version") == 0) {
            // The program's own version line, and the build's version.
            std::printf("%s (mbus-master %s)\n", kVersionLine, MBUS_VERSION);
            return 0;
        }
        if (std::strcmp(a, "-Embedding") == 0 || std::strcmp(a, "/Embedding") == 0 ||
            std::strcmp(a, "-Automation") == 0 || std::strcmp(a, "/Automation") == 0) {
            automation = true;
            continue;
        }
        std::fprintf(stderr, "MERIDEX: unknown option \"%s\"; see MERIDEX --help\n", a);
        return 2;
    }

    QApplication app(argc, argv);
    const std::string programPath = QCoreApplication::applicationFilePath().toStdString();

    auto factory = com::ComPtr<AutomationClassFactory>::Adopt(new AutomationClassFactory(nullptr));
    if (!automation) {
        std::string problem;
        if (com::FAILED(RegisterAutomationClass(programPath, &problem)))
            std::fprintf(stderr, "MERIDEX: could not enter MERIDEX.Application in the registry: %s\n",
                         problem.c_str());
    }

    DialogOptions options;
    options.programPath = programPath;
    std::unique_ptr<sim::SimulatedDevices> devices;
    std::optional<files::RemovedOnSignal> cleanup;
    if (simulation.Any()) {
        com::ComPtr<com::IDispatch> control;
        devices = sim::SimulatedDevices::Create(simulation, &control, std::cerr, "MERIDEX");
        if (!devices) return 1;
        // Ctrl-C or a kill ends the program without the destructors.
        cleanup.emplace(devices->TemporaryFiles());
        options.createControl = [control](std::string*) { return Control(control); };
    }
    CMERIDEXDlg dialog(std::move(options));
    factory->SetDialog(&dialog);
    dialog.exec();
    factory->SetDialog(nullptr);
    return 0;
}

}  // namespace mbus::meridex
