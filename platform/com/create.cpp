#include "platform/com/create.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <map>
#include <mutex>

#include "platform/com/registry.h"
#include "platform/text/codepage.h"

namespace mbus::com {

namespace {

thread_local std::string lastError;

// Libraries loaded so far, by the path they were registered with. They are
// never unloaded: objects and class factories may outlive any bookkeeping of
// ours, and unloading code that is still referenced would be fatal.
struct LoadedLibrary {
    void* handle = nullptr;
    DllGetClassObjectFunction getClassObject = nullptr;
};

std::mutex& LibrariesLock() {
    static std::mutex lock;
    return lock;
}

std::map<std::string, LoadedLibrary>& Libraries() {
    static std::map<std::string, LoadedLibrary> libraries;
    return libraries;
}

HRESULT LoadComponentLibrary(const std::string& path, LoadedLibrary* out) {
    const std::lock_guard guard(LibrariesLock());
    auto& libraries = Libraries();
    if (const auto it = libraries.find(path); it != libraries.end()) {
        *out = it->second;
        return S_OK;
    }
    ::dlerror();  // forget an older message
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = ::dlerror();
        lastError = "cannot load " + path + ": " + (why != nullptr ? why : "unknown reason");
        return CO_E_DLLNOTFOUND;
    }
    void* symbol = ::dlsym(handle, "DllGetClassObject");
    if (symbol == nullptr) {
        lastError = path + " is not a component library: it does not export DllGetClassObject";
        ::dlclose(handle);
        return CO_E_ERRORINDLL;
    }
    LoadedLibrary library;
    library.handle = handle;
    library.getClassObject = reinterpret_cast<DllGetClassObjectFunction>(symbol);
    libraries.emplace(path, library);
    *out = library;
    return S_OK;
}

// The registry as it is now, or the failure (with lastError set).
HRESULT LoadRegistry(Registry& registry, RegistryTree* tree) {
    const HRESULT hr = registry.Load(tree);
    if (FAILED(hr)) lastError = registry.Problems();
    return hr;
}

HRESULT GetClassObjectImpl(REFCLSID clsid, REFIID iid, void** object) {
    Registry registry;
    RegistryTree tree;
    HRESULT hr = LoadRegistry(registry, &tree);
    if (FAILED(hr)) return hr;
    const std::string key = "HKEY_CLASSES_ROOT\\CLSID\\" + FormatGuid(clsid) + "\\InprocServer32";
    const std::optional<std::string> path = tree.GetValue(key);
    if (!path || path->empty()) {
        lastError = "class " + FormatGuid(clsid) + " is not registered: " + key + " has no library path in " +
                    registry.Path() + "; register its library with regsvr";
        return REGDB_E_CLASSNOTREG;
    }
    LoadedLibrary library;
    hr = LoadComponentLibrary(*path, &library);
    if (FAILED(hr)) return hr;
    hr = library.getClassObject(clsid, iid, object);
    if (FAILED(hr)) {
        *object = nullptr;
        lastError = *path + " has no class object " + FormatGuid(clsid) + " with the requested interface: " +
                    DescribeHResult(hr);
    }
    return hr;
}

HRESULT CreateInstanceImpl(REFCLSID clsid, IUnknown* outer, REFIID iid, void** object) {
    void* raw = nullptr;
    HRESULT hr = GetClassObjectImpl(clsid, IID_IClassFactory, &raw);
    if (FAILED(hr)) return hr;
    IClassFactory* factory = static_cast<IClassFactory*>(raw);
    hr = factory->CreateInstance(outer, iid, object);
    factory->Release();
    if (FAILED(hr)) {
        *object = nullptr;
        lastError = "the class factory of " + FormatGuid(clsid) + " did not create the object: " + DescribeHResult(hr);
    }
    return hr;
}

HRESULT CLSIDFromProgIDImpl(std::string_view progId, CLSID* clsid) {
    Registry registry;
    RegistryTree tree;
    HRESULT hr = LoadRegistry(registry, &tree);
    if (FAILED(hr)) return hr;
    std::string name(progId);
    // A version-independent ProgID leads to the current one; a few steps at most.
    for (int step = 0; step < 4; ++step) {
        if (name.empty() || name.find('\\') != std::string::npos) break;
        const std::string root = "HKEY_CLASSES_ROOT\\" + name;
        if (const std::optional<std::string> text = tree.GetValue(root + "\\CLSID")) {
            const std::optional<GUID> guid = ParseGuid(*text);
            if (!guid) {
                lastError = "ProgID " + name + " names the class \"" + *text +
                            "\", which is not a GUID of the form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
                return CO_E_CLASSSTRING;
            }
            *clsid = *guid;
            return S_OK;
        }
        const std::optional<std::string> current = tree.GetValue(root + "\\CurVer");
        if (!current) break;
        name = *current;
    }
    lastError = "ProgID \"" + std::string(progId) + "\" is not registered in " + registry.Path();
    return CO_E_CLASSSTRING;
}

}  // namespace

HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) noexcept {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    try {
        lastError.clear();
        return GetClassObjectImpl(clsid, iid, object);
    } catch (...) {  // std::bad_alloc
        return E_OUTOFMEMORY;
    }
}

HRESULT CreateInstance(REFCLSID clsid, IUnknown* outer, REFIID iid, void** object) noexcept {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    try {
        lastError.clear();
        return CreateInstanceImpl(clsid, outer, iid, object);
    } catch (...) {  // std::bad_alloc
        return E_OUTOFMEMORY;
    }
}

HRESULT CreateInstance(REFCLSID clsid, REFIID iid, void** object) noexcept {
    return CreateInstance(clsid, nullptr, iid, object);
}

HRESULT CLSIDFromProgID(std::string_view progId, CLSID* clsid) noexcept {
    if (clsid == nullptr) return E_POINTER;
    *clsid = CLSID_NULL;
    try {
        lastError.clear();
        return CLSIDFromProgIDImpl(progId, clsid);
    } catch (...) {  // std::bad_alloc
        return E_OUTOFMEMORY;
    }
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) noexcept {
    if (progId == nullptr || clsid == nullptr) return E_POINTER;
    try {
        return CLSIDFromProgID(text::Utf16ToUtf8(progId), clsid);
    } catch (...) {  // std::bad_alloc
        return E_OUTOFMEMORY;
    }
}

std::string LastCreateError() { return lastError; }

std::string ModulePath(const void* address) {
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0') return {};
    char resolved[PATH_MAX];
    if (::realpath(info.dli_fname, resolved) != nullptr) return resolved;
    return info.dli_fname;
}

}  // namespace mbus::com
