#include "tools/mbusctl/control_client.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <sstream>

#include "control/com/identifiers.h"
#include "platform/com/create.h"
#include "platform/com/registry.h"

namespace mbus::cli {
namespace {

using com::HRESULT;

// Where the library sits relative to this program's directory once
// installed (the build tree has it in ../lib as well).
#ifndef MBUS_LIBRARY_DIR_FROM_PROGRAM
#define MBUS_LIBRARY_DIR_FROM_PROGRAM "../lib"
#endif

// The library that serves the control, to be registered: $MBUS_CONTROL_LIBRARY,
// else lib/ beside the directory of this program, else the installed
// library directory relative to it; empty when this program's path is unknown.
std::string DefaultLibraryPath() {
    const std::string self = com::ModulePath(reinterpret_cast<const void*>(&CreateControl));
    if (self.empty()) return {};
    const std::filesystem::path program(self);
    const std::filesystem::path beside = (program.parent_path() / ".." / "lib" / control::kLibraryFileName).lexically_normal();
    const std::filesystem::path installed =
        (program.parent_path() / MBUS_LIBRARY_DIR_FROM_PROGRAM / control::kLibraryFileName).lexically_normal();
    std::error_code ec;
    if (!std::filesystem::exists(beside, ec) && std::filesystem::exists(installed, ec)) return installed.string();
    return beside.string();
}

bool RegisterLibrary(const std::string& path, const char* command, std::ostream& err) {
    err << "mbusctl " << command << ": registering " << path << "\n";
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = ::dlerror();
        err << "mbusctl " << command << ": cannot load " << path << ": " << (why != nullptr ? why : "unknown reason")
            << "\n";
        return false;
    }
    // The library stays loaded: creating the object loads it again anyway.
    void* symbol = ::dlsym(handle, "DllRegisterServer");
    if (symbol == nullptr) {
        err << "mbusctl " << command << ": " << path << " does not export DllRegisterServer\n";
        return false;
    }
    const HRESULT hr = reinterpret_cast<com::DllRegisterServerFunction>(symbol)();
    if (com::FAILED(hr)) {
        err << "mbusctl " << command << ": DllRegisterServer of " << path << " failed: " << com::DescribeHResult(hr)
            << "\n";
        // What keeps the registry file from being written, line by line.
        com::Registry registry;
        com::RegistryTree tree;
        registry.Load(&tree);
        std::istringstream problems(registry.Problems());
        for (std::string line; std::getline(problems, line);) err << "mbusctl " << command << ": " << line << "\n";
        return false;
    }
    return true;
}

// The library the registry names for the control, or empty.
std::string RegisteredLibrary() {
    com::Registry registry;
    com::RegistryTree tree;
    if (com::FAILED(registry.Load(&tree))) return {};
    const std::optional<std::string> path =
        tree.GetValue("HKEY_CLASSES_ROOT\\CLSID\\" + com::FormatGuid(control::CLSID_MBusOrlX4) + "\\InprocServer32");
    return path.value_or(std::string());
}

}  // namespace

bool CreateControl(const char* command, com::ComPtr<com::IDispatch>* control, std::ostream& err) {
    HRESULT hr = com::CreateInstance(control::CLSID_MBusOrlX4, com::IID_IDispatch, control);
    // A registration whose library is gone (a build tree removed, an older
    // installation uninstalled) is as good as none: this program's own
    // library takes its place.
    if (hr == com::CO_E_DLLNOTFOUND) {
        std::error_code ec;
        const std::string stale = RegisteredLibrary();
        if (!stale.empty() && !std::filesystem::exists(stale, ec)) {
            err << "mbusctl " << command << ": the registered control library " << stale << " is gone\n";
            hr = com::REGDB_E_CLASSNOTREG;
        }
    }
    if (hr == com::REGDB_E_CLASSNOTREG) {
        std::string path;
        if (const char* library = std::getenv("MBUS_CONTROL_LIBRARY"); library != nullptr && *library != '\0') {
            path = library;
        } else {
            path = DefaultLibraryPath();
            std::error_code ec;
            if (path.empty() || !std::filesystem::exists(path, ec)) {
                err << "mbusctl " << command << ": the control is not registered and its library was not found"
                    << (path.empty() ? std::string() : " at " + path)
                    << "; register it with regsvr, or set MBUS_CONTROL_LIBRARY to its path\n";
                return false;
            }
        }
        if (!RegisterLibrary(path, command, err)) return false;
        hr = com::CreateInstance(control::CLSID_MBusOrlX4, com::IID_IDispatch, control);
    }
    if (com::FAILED(hr)) {
        std::string why = com::LastCreateError();
        if (why.empty()) why = com::DescribeHResult(hr);
        err << "mbusctl " << command << ": cannot create the control: " << why << "\n";
        return false;
    }
    return true;
}


com::DISPID ControlClient::Id(const std::string& name) const {
    const std::u16string wide(name.begin(), name.end());
    const com::OLECHAR* names[] = {wide.c_str()};
    com::DISPID id = com::DISPID_UNKNOWN;
    control_->GetIDsOfNames(com::IID_NULL, names, 1, 0, &id);
    return id;
}

com::HRESULT ControlClient::Invoke(const std::string& name, com::WORD flags, const std::vector<ControlArg>& args,
                                   com::VARIANT* result, const ControlArg* putValue) const {
    auto make = [](const ControlArg& a) {
        if (const auto* n = std::get_if<int32_t>(&a)) return com::MakeVariantI4(*n);
        return com::MakeVariantBstr(std::get<std::string>(a));
    };
    std::vector<com::VARIANT> v;
    if (putValue != nullptr) v.push_back(make(*putValue));
    for (auto it = args.rbegin(); it != args.rend(); ++it) v.push_back(make(*it));  // the last argument first
    com::DISPID named = com::DISPID_PROPERTYPUT;
    com::DISPPARAMS params{v.data(), putValue != nullptr ? &named : nullptr, static_cast<com::UINT>(v.size()),
                           putValue != nullptr ? 1u : 0u};
    com::VariantInit(result);
    const com::HRESULT hr = control_->Invoke(Id(name), com::IID_NULL, 0, flags, &params, result, nullptr, nullptr);
    for (com::VARIANT& a : v) com::VariantClear(&a);
    return hr;
}

std::optional<int32_t> ControlClient::Long(const std::string& name, const std::vector<ControlArg>& args) const {
    com::VARIANT r;
    const com::HRESULT hr = Invoke(name, com::DISPATCH_PROPERTYGET, args, &r);
    std::optional<int32_t> value;
    if (com::SUCCEEDED(hr) && r.vt == com::VT_I4) value = r.lVal;
    com::VariantClear(&r);
    return value;
}

std::optional<std::string> ControlClient::Text(const std::string& name, const std::vector<ControlArg>& args) const {
    com::VARIANT r;
    const com::HRESULT hr = Invoke(name, com::DISPATCH_PROPERTYGET, args, &r);
    std::optional<std::string> value;
    if (com::SUCCEEDED(hr) && r.vt == com::VT_BSTR) value = com::BstrToUtf8(r.bstrVal);
    com::VariantClear(&r);
    return value;
}

bool ControlClient::Call(const std::string& name, const std::vector<ControlArg>& args) const {
    com::VARIANT r;
    const com::HRESULT hr = Invoke(name, com::DISPATCH_METHOD, args, &r);
    com::VariantClear(&r);
    return com::SUCCEEDED(hr);
}

bool ControlClient::Put(const std::string& name, const ControlArg& value, const std::vector<ControlArg>& args) const {
    com::VARIANT r;
    const com::HRESULT hr = Invoke(name, com::DISPATCH_PROPERTYPUT, args, &r, &value);
    com::VariantClear(&r);
    return com::SUCCEEDED(hr);
}

}  // namespace mbus::cli
