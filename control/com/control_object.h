// The control class: its objects (IDispatch over the member table), its
// class factory, and the entry points a component library exports. The
// shared library MBusOrlX4Ctrl exports these under their usual names
// (exports.cpp); tests call them in-process.

#pragma once

#include <string>

#include "platform/com/types.h"

namespace mbus::control {

com::HRESULT GetClassObject(com::REFCLSID clsid, com::REFIID iid, void** object);
com::HRESULT CanUnloadNow();
// Registers the class with `modulePath` as its library / removes it.
com::HRESULT RegisterServer(const std::string& modulePath);
com::HRESULT UnregisterServer();

}  // namespace mbus::control
