// Creating objects of registered classes.
//
// A class is found through the registry (registry.h): the default value of
// HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32 is the path of the shared
// library that serves it. The library is loaded once per process with
// dlopen(RTLD_NOW | RTLD_LOCAL) and stays loaded; its exported
// DllGetClassObject hands out the class factory. A path without '/' is
// searched by the dynamic loader (LD_LIBRARY_PATH, the system directories).
//
// Classes are free-threaded: there are no apartments and nothing to
// initialise before the first call; every function here may be called from
// any thread.

#pragma once

#include <string>
#include <string_view>

#include "platform/com/ptr.h"
#include "platform/com/types.h"

namespace mbus::com {

// Creates an object of the class and returns its interface `iid` in *object
// (null on failure). Results besides the factory's own:
//   REGDB_E_CLASSNOTREG  the class has no library in the registry
//   REGDB_E_READREGDB    the registry file exists but cannot be read
//   CO_E_DLLNOTFOUND     the library cannot be loaded (missing, wrong
//                        architecture, unresolved symbols)
//   CO_E_ERRORINDLL      the library does not export DllGetClassObject
//   E_NOINTERFACE        the object has no interface `iid`
// LastCreateError() then says what went wrong, in words.
HRESULT CreateInstance(REFCLSID clsid, REFIID iid, void** object) noexcept;
// As above with an outer object for aggregation (which the factory may refuse
// with CLASS_E_NOAGGREGATION).
HRESULT CreateInstance(REFCLSID clsid, IUnknown* outer, REFIID iid, void** object) noexcept;

template <class T>
HRESULT CreateInstance(REFCLSID clsid, REFIID iid, ComPtr<T>* object) noexcept {
    if (object == nullptr) return E_POINTER;
    object->Reset();
    void* raw = nullptr;
    const HRESULT hr = CreateInstance(clsid, iid, &raw);
    if (SUCCEEDED(hr)) *object = ComPtr<T>::Adopt(raw);
    return hr;
}

// The class object (usually IID_IClassFactory) of a class; the same failures
// as CreateInstance.
HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) noexcept;

// The class identifier of a ProgID: the default value of
// HKEY_CLASSES_ROOT\<progId>\CLSID. A ProgID without a CLSID key that has a
// CurVer key (a version-independent ProgID) stands for the ProgID named
// there. CO_E_CLASSSTRING when the ProgID is not registered or its CLSID is
// not a GUID; REGDB_E_READREGDB when the registry cannot be read.
HRESULT CLSIDFromProgID(std::string_view progId, CLSID* clsid) noexcept;
HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) noexcept;

// Why the last failed call of this thread to one of the functions above
// failed, e.g. "cannot load /usr/lib/x.so: <the loader's message>"; empty
// after a success.
std::string LastCreateError();

// The absolute path of the shared object (library or program) that contains
// `address`, e.g. the address of one of its functions: what a library
// registers as its InprocServer32. Empty when it cannot be found.
std::string ModulePath(const void* address);

}  // namespace mbus::com
