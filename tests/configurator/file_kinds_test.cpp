// Every text file the programs read (the port map, the registry, a bus
// description, MERIDEX.INI, a language file, a device list) given a name
// that is no file of text: a directory, a FIFO, a device that never ends,
// a file too large. Each reader refuses it with a message that says what
// it is, without blocking, without reading forever, without aborting.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "configurator/devices/device_list.h"
#include "configurator/shell/language_file.h"
#include "configurator/shell/text_table.h"
#include "platform/com/registry.h"
#include "platform/profile/ini_file.h"
#include "platform/serial/port_map.h"
#include "sim/simulated_control.h"
#include "tests/support/scratch.h"

namespace mbus::meridex {
namespace {

using namespace std::chrono_literals;

// One reader: what it says about the file at a path ("" when it took the
// file), and whether its message carries the path itself (the port map's
// errors get the path when they are printed).
struct Reader {
    const char* name;
    std::string (*read)(const std::string& path);
    bool namesTheFile;
};

std::string PortMapMessage(const std::string& path) { return serial::ReadPortMap(path).errors; }

std::string RegistryMessage(const std::string& path) {
    com::Registry registry(path);
    com::RegistryTree tree;
    if (com::SUCCEEDED(registry.Load(&tree))) return "";
    return registry.Problems();
}

std::string BusFileMessage(const std::string& path) {
    sim::SimulationOptions options;
    options.kind = "bus";
    options.slaves = path;
    com::ComPtr<com::IDispatch> control;
    std::ostringstream err;
    if (sim::SimulatedDevices::Create(options, &control, err, "test") != nullptr) return "";
    return err.str();
}

std::string IniMessage(const std::string& path) {
    profile::IniFile ini;
    std::string error;
    return profile::LoadIniFile(path, &ini, &error) ? "" : error;
}

std::string LanguageFileMessage(const std::string& path) {
    TextTable table;
    std::string problem;
    return LoadLanguageFileAt(table, path, &problem) ? "" : problem;
}

std::string DeviceListMessage(const std::string& path) {
    std::vector<std::string> records;
    std::string error;
    return OpenDeviceFile(path, &records, &error) ? "" : error;
}

const Reader kReaders[] = {
    {"PortMap", PortMapMessage, false},      {"Registry", RegistryMessage, true},
    {"BusFile", BusFileMessage, true},       {"Ini", IniMessage, true},
    {"LanguageFile", LanguageFileMessage, true}, {"DeviceList", DeviceListMessage, true},
};

// What stands at the path, made in a scratch directory.
struct Kind {
    const char* name;
    // Makes it at `scratch`/"file" and returns its path ("" when it cannot).
    std::string (*make)(const std::string& scratch);
    const char* message;
};

std::string MakeDirectory(const std::string& scratch) {
    const std::string path = scratch + "/file";
    return ::mkdir(path.c_str(), 0700) == 0 ? path : "";
}

std::string MakeFifo(const std::string& scratch) {
    const std::string path = scratch + "/file";
    return ::mkfifo(path.c_str(), 0600) == 0 ? path : "";
}

std::string DevZero(const std::string&) { return "/dev/zero"; }

// One byte over the limit, without writing a mebibyte: a file with a hole.
std::string MakeLargeFile(const std::string& scratch) {
    const std::string path = scratch + "/file";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) return "";
    const bool ok = ::ftruncate(fd, (1 << 20) + 1) == 0;
    ::close(fd);
    return ok ? path : "";
}

const Kind kKinds[] = {
    {"Directory", MakeDirectory, "is a directory"},
    {"Fifo", MakeFifo, "is not a regular file (a FIFO)"},
    {"DevZero", DevZero, "is not a regular file (a character device)"},
    {"LargerThanOneMebibyte", MakeLargeFile, "is larger than 1 MiB"},
};

// The reader's message, or nothing when it did not return within the
// limit (a FIFO blocks a reader that waits for a writer). The reader runs
// on a thread of its own that is left behind when it blocks.
std::optional<std::string> MessageWithin(std::chrono::seconds limit, const Reader& reader, const std::string& path) {
    auto result = std::make_shared<std::promise<std::string>>();
    std::future<std::string> done = result->get_future();
    std::thread([result, read = reader.read, path] {
        try {
            result->set_value(read(path));
        } catch (...) {
            result->set_exception(std::current_exception());
        }
    }).detach();
    if (done.wait_for(limit) != std::future_status::ready) return std::nullopt;
    return done.get();
}

// Names in failure messages, rather than the bytes of the structures.
void PrintTo(const Reader& reader, std::ostream* out) { *out << reader.name; }
void PrintTo(const Kind& kind, std::ostream* out) { *out << kind.name; }

class NotAFileOfText : public ::testing::TestWithParam<std::tuple<Reader, Kind>> {};

TEST_P(NotAFileOfText, IsRefusedSayingWhatItIs) {
    const auto& [reader, kind] = GetParam();
    testsupport::ScratchDirectory scratch;
    ASSERT_TRUE(scratch.Ok());
    const std::string path = kind.make(scratch.Path());
    ASSERT_FALSE(path.empty()) << "cannot make " << kind.name;

    std::optional<std::string> message;
    ASSERT_NO_THROW(message = MessageWithin(20s, reader, path));
    ASSERT_TRUE(message.has_value()) << reader.name << " did not come back from " << path;
    EXPECT_NE(message->find(kind.message), std::string::npos) << *message;
    if (reader.namesTheFile) {
        EXPECT_NE(message->find(path + ": "), std::string::npos) << *message;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryReader, NotAFileOfText,
                         ::testing::Combine(::testing::ValuesIn(kReaders), ::testing::ValuesIn(kKinds)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

}  // namespace
}  // namespace mbus::meridex
