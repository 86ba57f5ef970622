#include "configurator/devices/device_search.h"

#include "configurator/shell/read_script.h"

namespace mbus::meridex {
namespace {

// The maker's level converter behind a modem or an optical link, selected
// by its version 90 and medium 0E with any identification number.
constexpr const char* kConverterSelection = "8||Standard: FFFFFFFF,59C4,90,0E|";

// The optical links during a search: longer timeouts than a read's, three
// retries while the converter is told the rate, five for the search.
constexpr const char* kIrdaSirSwitching =
    "38400,8,1,E,RTS_Set,DTR_Set,TA=12000,TO=500,TB=9999,PartWait,Retries=3,DT=11,HS=0|";
constexpr const char* kIrdaSirSearching =
    "38400,8,1,E,RTS_Set,DTR_Set,TA=12000,TO=500,TB=9999,PartWait,Retries=5,DT=11,HS=0|";
constexpr const char* kTransceiverSetup =
    "9600,8,1,E,RTS_Reset,DTR_Reset,TA=330,TO=50,TB=20,PartWait,Retries=1,DT=11,HS=0|";
constexpr const char* kTransceiverCommand = "7|251||51 0F 58 08";
constexpr const char* kTransceiverSwitching =
    "38400,8,1,E,RTS_Reset,DTR_Reset,TA=12000,TO=500,TB=9999,PartWait,Retries=3,DT=11,HS=0|";
constexpr const char* kTransceiverSearching =
    "38400,8,1,E,RTS_Reset,DTR_Reset,TA=12000,TO=500,TB=9999,PartWait,Retries=5,DT=11,HS=0|";

// The CI of the baud-rate switch by baud index.
constexpr const char* kSwitchCI[] = {"B8", "BB", "BD", "BE", "BF"};

bool ValidIndex(int index) { return index >= 0 && index < static_cast<int>(std::size(kSwitchCI)); }

// The level converter's parameters with the search's retries.
std::string SearchingConverter(int baudIndex) {
    std::string p = LevelConverterParameters(baudIndex);
    const std::size_t at = p.find("Retries=40");
    if (at != std::string::npos) p.replace(at, 10, "Retries=5");
    return p;
}

}  // namespace

int SearchBaudIndex(const ConnectionChoice& connection, int dialogChoice) {
    if (connection.phoneConnected) return dialogChoice == kSearchBaud300 ? kSearchBaud300 : kSearchBaud2400;
    if (connection.communicationType == kIrdaSir || connection.communicationType == kIrdaTransceiver)
        return kBaudIndex38400;
    return connection.baudIndex;
}

std::string BaudSwitchLine(int searchBaudIndex) {
    if (!ValidIndex(searchBaudIndex)) return {};
    return std::string("7|253||") + kSwitchCI[searchBaudIndex];
}

std::vector<std::string> DeviceSearchLines(const ConnectionChoice& c, int searchBaudIndex) {
    std::vector<std::string> lines;
    const std::string prefix = PortPrefix(c.port);
    auto port = [&](const std::string& parameters) { return prefix + WithFifo(parameters, c.fifoBuffer); };
    // Selects the converter, tells it the rate and deselects it.
    auto switchBaud = [&] {
        lines.push_back(kConverterSelection);
        const std::string line = BaudSwitchLine(searchBaudIndex);
        if (!line.empty()) lines.push_back(line);
        lines.push_back("20|||");
    };
    if (c.phoneConnected) {
        lines.push_back("1|1||");
        switchBaud();
    } else if (c.communicationType == kIrdaSir) {
        // The port opens with the IrDA adapter's initialisation.
        std::string sir = port(kIrdaSirSwitching);
        sir[0] = '2';
        lines.push_back(sir);
        switchBaud();
        sir = port(kIrdaSirSearching);
        sir[0] = '2';
        lines.push_back(sir);
    } else if (c.communicationType == kIrdaTransceiver) {
        lines.push_back(port(kTransceiverSetup));
        lines.push_back(kTransceiverCommand);
        lines.push_back(port(kTransceiverSwitching));
        switchBaud();
        lines.push_back(port(kTransceiverSearching));
    } else {
        const std::string p = SearchingConverter(c.baudIndex);
        if (!p.empty()) lines.push_back(port(p));
    }
    lines.push_back("1|1||");
    return lines;
}

SpecialSearchCall DeviceSearchCall(int manufacturerCode) {
    SpecialSearchCall call;
    call.manufacturer = ManufacturerNumber(manufacturerCode);
    return call;
}

}  // namespace mbus::meridex
