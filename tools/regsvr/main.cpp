// regsvr: registers a component library in the component registry (or
// removes it) by calling the library's own DllRegisterServer or
// DllUnregisterServer.

#include <dlfcn.h>
#include <sys/stat.h>

#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "mbus_version.h"
#include "platform/com/registry.h"
#include "platform/com/types.h"

namespace {

using namespace mbus::com;

constexpr const char* kUsage =
    "usage: regsvr [-u] [-q] LIBRARY.so\n"
    "\n"
    "Registers the classes of a component library in the component registry by\n"
    "calling its DllRegisterServer; with -u removes them by calling its\n"
    "DllUnregisterServer.\n"
    "\n"
    "options:\n"
    "  -u, --unregister  remove the library's registration\n"
    "  -q, --quiet       print nothing on success\n"
    "  -h, --help        show this text\n"
    "      --version     show the program's version\n"
    "\n"
    "A LIBRARY without '/' is taken from the current directory when it is there,\n"
    "else searched by the dynamic loader.\n"
    "\n"
    "The registry is the file $MBUS_REGISTRY, else $XDG_CONFIG_HOME/mbus/registry,\n"
    "else ~/.config/mbus/registry.\n"
    "\n"
    "Exit status: 0 done, 1 the library could not be loaded or refused, 2 bad usage.\n";

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    bool unregister = false;
    bool quiet = false;
    std::vector<std::string> libraries;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (arg == "-h" || arg == "--help")) {
            std::cout << kUsage;
            return 0;
        } else if (!optionsEnded && arg == "--version") {
            std::cout << "regsvr " << MBUS_VERSION << "\n";
            return 0;
        } else if (!optionsEnded && (arg == "-u" || arg == "--unregister")) {
            unregister = true;
        } else if (!optionsEnded && (arg == "-q" || arg == "--quiet")) {
            quiet = true;
        } else if (!optionsEnded && arg.size() > 1 && arg.front() == '-') {
            std::cerr << "regsvr: unknown option \"" << arg << "\"; use -u, -q or --help\n";
            return 2;
        } else {
            libraries.emplace_back(arg);
        }
    }
    if (libraries.size() != 1) {
        std::cerr << (libraries.empty() ? "regsvr: no library given" : "regsvr: give exactly one library")
                  << "; e.g. regsvr ./libexample.so (regsvr --help)\n";
        return 2;
    }

    std::string library = libraries.front();
    if (library.find('/') == std::string::npos && FileExists(library)) library = "./" + library;

    void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = ::dlerror();
        std::cerr << "regsvr: cannot load " << library << ": " << (why != nullptr ? why : "unknown reason") << "\n";
        return 1;
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    void* symbol = ::dlsym(handle, entry);
    if (symbol == nullptr) {
        std::cerr << "regsvr: " << library << " does not export " << entry
                  << "; it is not a self-registering component library\n";
        return 1;
    }
    const HRESULT hr = reinterpret_cast<DllRegisterServerFunction>(symbol)();
    const std::string registry = RegistryPath();
    if (FAILED(hr)) {
        std::cerr << "regsvr: " << entry << " of " << library << " failed: " << DescribeHResult(hr)
                  << "\n(registry: " << (registry.empty() ? "none: no home directory" : registry) << ")\n";
        // The library tells only its result; what is wrong with the file
        // (the lines that keep it from being rewritten) is read here.
        Registry file;
        RegistryTree tree;
        file.Load(&tree);
        std::istringstream problems(file.Problems());
        for (std::string line; std::getline(problems, line);) std::cerr << "regsvr: " << line << "\n";
        return 1;
    }

    // The library wrote the file itself; say so when part of it is unreadable.
    Registry file;
    RegistryTree tree;
    if (SUCCEEDED(file.Load(&tree)) && !file.Problems().empty())
        std::cerr << "regsvr: warning: " << file.Problems();
    if (!quiet)
        std::cout << "regsvr: " << (unregister ? "unregistered " : "registered ") << library
                  << (unregister ? " from " : " in ") << registry << "\n";
    return 0;
}
