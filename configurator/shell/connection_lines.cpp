#include "configurator/shell/connection_lines.h"

namespace mbus::meridex {
namespace {

// The level converter's line settings by baud index.
constexpr const char* kConverter[] = {
    "300,8,1,E,RTS_Set,DTR_Set,TA=660,TO=300,TB=20,PartWait,Retries=40,DT=11,HS=0|",
    "2400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=100,TB=20,PartWait,Retries=40,DT=11,HS=0|",
    "9600,8,1,E,RTS_Set,DTR_Set,TA=660,TO=400,TB=200,PartWait,Retries=40,DT=11,HS=0|",
    "19200,8,1,E,RTS_Set,DTR_Set,TA=660,TO=400,TB=200,PartWait,Retries=40,DT=11,HS=0|",
    "38400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=400,TB=200,PartWait,Retries=40,DT=11,HS=0|",
};
// The optical head: the long dead time (DT=1002) swallows the echo of the
// head's own transmitter.
constexpr const char* kOpticalHeadLine[] = {
    "300,8,1,E,RTS_Set,DTR_Set,TA=660,TO=200,TB=500,PartWait,Retries=40,DT=1002,HS=0|",
    "2400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=200,TB=500,PartWait,Retries=40,DT=1002,HS=0|",
    "9600,8,1,E,RTS_Set,DTR_Set,TA=660,TO=200,TB=500,PartWait,Retries=40,DT=1002,HS=0|",
    "19200,8,1,E,RTS_Set,DTR_Set,TA=660,TO=200,TB=500,PartWait,Retries=40,DT=1002,HS=0|",
    "38400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=200,TB=500,PartWait,Retries=40,DT=1002,HS=0|",
};
// The radio-linked optical head: the PC side always runs at 57600 without
// FIFO; the head is told the meter-side rate by a command of its own: after
// three FE bytes the text BLUE08E1 and a digit for the rate, then FF.
constexpr const char* kRadioHead = "57600,8,1,N,RTS_Reset,DTR_Reset,TA=25000,TO=500,TB=9999,FullWait,Retries=1,DT=11,HS=0,FF=0|";
constexpr const char* kRadioHeadRate[] = {
    "13|||FE FE FE 42 4C 55 45 30 38 45 31 30 FF", "13|||FE FE FE 42 4C 55 45 30 38 45 31 33 FF",
    "13|||FE FE FE 42 4C 55 45 30 38 45 31 35 FF", "13|||FE FE FE 42 4C 55 45 30 38 45 31 36 FF",
    "13|||FE FE FE 42 4C 55 45 30 38 45 31 37 FF",
};
constexpr const char* kIrdaSirLine = "38400,8,1,E,RTS_Set,DTR_Set,TA=6000,TO=1000,TB=1000,PartWait,Retries=10,DT=11,HS=0|";
constexpr const char* kTransceiverSetup = "9600,8,1,E,RTS_Reset,DTR_Reset,TA=330,TO=50,TB=20,PartWait,Retries=1,DT=11,HS=0|";
constexpr const char* kTransceiverCommand = "7|251||51 0F 48 08";
constexpr const char* kTransceiverLine =
    "38400,8,1,E,RTS_Reset,DTR_Reset,TA=6000,TO=1000,TB=1000,PartWait,Retries=10,DT=11,HS=0|";

bool ValidBaudIndex(int index) { return index >= 0 && index < static_cast<int>(std::size(kBaudRates)); }

}  // namespace

int BaudOfIndex(int index) { return ValidBaudIndex(index) ? kBaudRates[index] : 0; }

std::string PortPrefix(int port) { return "0||COM" + std::to_string(port) + ","; }

std::string WithFifo(const std::string& parameters, bool fifoBuffer) {
    if (fifoBuffer) return parameters;
    static constexpr std::string_view kEnd = "HS=0|";
    if (parameters.size() < kEnd.size() || parameters.compare(parameters.size() - kEnd.size(), kEnd.size(), kEnd) != 0)
        return parameters;
    return parameters.substr(0, parameters.size() - 1) + ",FF=0|";
}

std::string LevelConverterParameters(int baudIndex) { return ValidBaudIndex(baudIndex) ? kConverter[baudIndex] : ""; }

std::vector<std::string> ConnectionLines(const ConnectionChoice& c) {
    if (c.phoneConnected) return {"1|10||"};
    const std::string prefix = PortPrefix(c.port);
    auto port = [&](const char* parameters) { return prefix + WithFifo(parameters, c.fifoBuffer); };
    switch (c.communicationType) {
        case kIrdaSir: {
            std::string line = port(kIrdaSirLine);
            line[0] = '2';  // the port opens with the IrDA adapter's initialisation
            return {line};
        }
        case kIrdaTransceiver: return {port(kTransceiverSetup), kTransceiverCommand, port(kTransceiverLine)};
        default: break;
    }
    if (!ValidBaudIndex(c.baudIndex)) {
        // Only the radio head's second line depends on the index.
        if (c.addressType == kOpticalHead && c.btOpto) return {prefix + kRadioHead, "14||5|"};
        return {};
    }
    if (c.addressType != kOpticalHead) return {port(kConverter[c.baudIndex])};
    if (c.btOpto) return {prefix + kRadioHead, "14||5|", kRadioHeadRate[c.baudIndex]};
    return {port(kOpticalHeadLine[c.baudIndex])};
}

std::string JoinScript(const std::vector<std::string>& lines) {
    std::string script;
    for (const std::string& line : lines) script += line + "\r\n";
    return script;
}

}  // namespace mbus::meridex
