// Entry points of the shared library MBusOrlX4Ctrl.

#include "control/com/control_object.h"
#include "platform/com/create.h"

using namespace mbus::com;

MBUS_COM_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    return mbus::control::GetClassObject(clsid, iid, object);
}

MBUS_COM_EXPORT HRESULT DllCanUnloadNow() { return mbus::control::CanUnloadNow(); }

MBUS_COM_EXPORT HRESULT DllRegisterServer() {
    return mbus::control::RegisterServer(ModulePath(reinterpret_cast<const void*>(&DllRegisterServer)));
}

MBUS_COM_EXPORT HRESULT DllUnregisterServer() { return mbus::control::UnregisterServer(); }
