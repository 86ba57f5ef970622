#include "sim/simulated_control.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>

#include "control/com/control_object.h"
#include "control/com/identifiers.h"
#include "platform/files/temporary_directory.h"
#include "sim/bus_description.h"
#include "sim/data_loggers.h"
#include "sim/hayes_modem.h"

namespace mbus::sim {

const char* const kSimulationUsage =
    "  --simulate=KIND[:SLAVES]  create the control in this process with port 1 leading\n"
    "                    to a simulated device: bus, modem (a Hayes modem that\n"
    "                    connects to the bus) or house-central (a data concentrator\n"
    "                    with the bus behind it); SLAVES is a bus description file\n"
    "                    (see mbus-sim --help)\n"
    "  --offer=FILE      the file the house-central unit sends on a YMODEM download\n"
    "  --upload-dir=DIR  where the house-central unit keeps files uploaded to it\n";

namespace {
constexpr const char* kBusName = "simulated-control";
}

struct SimulatedDevices::State {
    std::shared_ptr<SimBus> bus;
    std::shared_ptr<HayesModem> modem;
    // The port map of the simulation, in a directory of its own.
    std::unique_ptr<files::TemporaryDirectory> temporary;
    std::string oldMap;
    bool hadMap = false;
};

int ReadSimulationOption(const std::string& word, SimulationOptions& o, std::ostream& err,
                         const std::string& program) {
    auto value = [&](const char* prefix) { return word.substr(std::string(prefix).size()); };
    if (word.rfind("--simulate=", 0) == 0) {
        const std::string v = value("--simulate=");
        const std::size_t colon = v.find(':');
        o.kind = v.substr(0, colon);
        if (colon != std::string::npos) o.slaves = v.substr(colon + 1);
        if (o.kind != "bus" && o.kind != "modem" && o.kind != "house-central") {
            err << program << ": --simulate=" << v << ": use bus, modem or house-central, e.g. --simulate=modem:bus.txt\n";
            return -1;
        }
        return 1;
    }
    if (word.rfind("--offer=", 0) == 0) {
        o.offer = value("--offer=");
        return 1;
    }
    if (word.rfind("--upload-dir=", 0) == 0) {
        o.uploadDir = value("--upload-dir=");
        return 1;
    }
    return 0;
}

std::unique_ptr<SimulatedDevices> SimulatedDevices::Create(const SimulationOptions& o,
                                                           com::ComPtr<com::IDispatch>* control, std::ostream& err,
                                                           const std::string& program) {
    auto bus = std::make_shared<sim::SimBus>();
    bus->SetPaced(false);
    std::vector<sim::VirtualSlave> slaves;
    if (!o.slaves.empty()) {
        std::vector<std::string> errors;
        slaves = sim::ReadBusDescriptionFile(o.slaves, errors);
        if (!errors.empty()) {
            err << program << ": the bus description " << errors.front() << "\n";
            return nullptr;
        }
        for (const sim::VirtualSlave& s : slaves) bus->AddSlave(s);
    }
    std::shared_ptr<serial::LineDevice> device = bus;
    if (o.kind == "modem") {
        auto modem = std::make_shared<sim::HayesModem>(bus);
        modem->SetRemoteBaud(bus->DefaultBaud());  // the modem works at its own rate on the far line
        device = modem;
    } else if (o.kind == "house-central") {
        auto central = std::make_shared<sim::HouseCentral>(bus);
        std::vector<sim::HouseCentral::Slave> list;
        for (const sim::VirtualSlave& s : slaves) {
            char id[16];
            std::snprintf(id, sizeof id, "%08X", s.values.identNumber);
            list.push_back({s.values.primaryAddress, id, s.values.manufacturerText, s.values.version, s.values.medium});
        }
        central->SetSlaveList(list);
        if (!o.offer.empty()) {
            std::ifstream in(o.offer, std::ios::binary);
            if (!in) {
                err << program << ": cannot read " << o.offer << "\n";
                return nullptr;
            }
            std::vector<uint8_t> data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            central->OfferFile(std::filesystem::path(o.offer).filename().string(), std::move(data));
        }
        if (!o.uploadDir.empty()) {
            central->ExpectUpload();
            const std::string dir = o.uploadDir;
            central->SetUploadHandler([dir](const std::string& name, const std::vector<uint8_t>& data) {
                std::ofstream(std::filesystem::path(dir) / std::filesystem::path(name).filename(), std::ios::binary)
                    .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
            });
        }
        device = central;
    }
    serial::RegisterSimulatedBus(kBusName, device);

    std::unique_ptr<SimulatedDevices> devices(new SimulatedDevices());
    devices->state_ = std::make_unique<State>();
    State& st = *devices->state_;
    st.bus = bus;
    st.modem = std::dynamic_pointer_cast<HayesModem>(device);
    if (const char* old = std::getenv("MBUS_PORT_MAP")) {
        st.hadMap = true;
        st.oldMap = old;
    }
    st.temporary = std::make_unique<files::TemporaryDirectory>("mbus-simulated-");
    std::string problem;
    const std::string portMap = st.temporary->WriteFile("ports", std::string("1 = sim:") + kBusName + "\n", &problem);
    if (portMap.empty()) {
        err << program << ": the port map of the simulation: " << problem << "\n";
        return nullptr;
    }
    ::setenv("MBUS_PORT_MAP", portMap.c_str(), 1);

    void* raw = nullptr;
    if (control::GetClassObject(control::CLSID_MBusOrlX4, com::IID_IClassFactory, &raw) != com::S_OK) {
        err << program << ": the control could not be created\n";
        return nullptr;
    }
    auto factory = com::ComPtr<com::IClassFactory>::Adopt(raw);
    if (factory->CreateInstance(nullptr, com::IID_IDispatch, &raw) != com::S_OK) {
        err << program << ": the control could not be created\n";
        return nullptr;
    }
    *control = com::ComPtr<com::IDispatch>::Adopt(raw);
    return devices;
}

std::shared_ptr<SimBus> SimulatedDevices::Bus() const { return state_ ? state_->bus : nullptr; }
std::shared_ptr<HayesModem> SimulatedDevices::Modem() const { return state_ ? state_->modem : nullptr; }
std::vector<std::string> SimulatedDevices::TemporaryFiles() const {
    if (!state_ || !state_->temporary) return {};
    return state_->temporary->Paths();
}

SimulatedDevices::~SimulatedDevices() {
    serial::UnregisterSimulatedBus(kBusName);
    if (!state_) return;
    state_->temporary.reset();
    if (state_->hadMap)
        ::setenv("MBUS_PORT_MAP", state_->oldMap.c_str(), 1);
    else
        ::unsetenv("MBUS_PORT_MAP");
}

}  // namespace mbus::sim
