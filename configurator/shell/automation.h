// The program as an automation server: the class "MERIDEX.Application",
// entered in the component registry with the program's path, and the proxy
// object that its class factory hands to a client.
//
// While a client holds a proxy, the proxy keeps the application locked and
// is linked to the main dialog; the dialog then only hides when it is
// closed, so the client's object stays valid. Releasing the last reference
// unlinks the proxy and unlocks the application.
//
// The component runtime of this system serves classes in-process only, so a
// client in another process cannot reach the proxy; the registry entries
// name the program (LocalServer32) for clients that start it.

#pragma once

#include <atomic>
#include <string>

#include "platform/com/types.h"

namespace mbus::meridex {

class CMERIDEXDlg;

// {6B1E2D1A-5C3F-4E8B-9A71-0D2C4F6E8A13}
inline constexpr com::CLSID CLSID_MERIDEXApplication = {
    0x6B1E2D1A, 0x5C3F, 0x4E8B, {0x9A, 0x71, 0x0D, 0x2C, 0x4F, 0x6E, 0x8A, 0x13}};
inline constexpr const char* kAutomationProgID = "MERIDEX.Application";

// Writes the class's keys (ProgID, CLSID with LocalServer32 = the program's
// path) into the registry file in use. Returns the registry's result;
// *problem says why when it failed.
com::HRESULT RegisterAutomationClass(const std::string& programPath, std::string* problem = nullptr);

// Locks held on the application by proxies and by the factory's LockServer.
int ApplicationLocks();

class CMERIDEXDlgAutoProxy final : public com::IDispatch {
public:
    // Locks the application and links itself to `dialog` (may be null).
    explicit CMERIDEXDlgAutoProxy(CMERIDEXDlg* dialog);
    CMERIDEXDlgAutoProxy(const CMERIDEXDlgAutoProxy&) = delete;
    CMERIDEXDlgAutoProxy& operator=(const CMERIDEXDlgAutoProxy&) = delete;

    com::HRESULT QueryInterface(com::REFIID riid, void** object) override;
    com::ULONG AddRef() override;
    com::ULONG Release() override;
    // The class has no members of its own: every name and DISPID is unknown.
    com::HRESULT GetTypeInfoCount(com::UINT* count) override;
    com::HRESULT GetTypeInfo(com::UINT, com::LCID, com::ITypeInfo** info) override;
    com::HRESULT GetIDsOfNames(com::REFIID, const com::OLECHAR* const*, com::UINT names, com::LCID,
                               com::DISPID* ids) override;
    com::HRESULT Invoke(com::DISPID, com::REFIID, com::LCID, com::WORD, com::DISPPARAMS*, com::VARIANT*,
                        com::EXCEPINFO*, com::UINT*) override;

    CMERIDEXDlg* Dialog() const { return dialog_; }

private:
    ~CMERIDEXDlgAutoProxy();
    std::atomic<com::ULONG> refs_{1};
    CMERIDEXDlg* dialog_;
};

// The class factory of "MERIDEX.Application": creates proxies linked to the
// main dialog it was given.
class AutomationClassFactory final : public com::IClassFactory {
public:
    explicit AutomationClassFactory(CMERIDEXDlg* dialog) : dialog_(dialog) {}
    void SetDialog(CMERIDEXDlg* dialog) { dialog_ = dialog; }

    com::HRESULT QueryInterface(com::REFIID riid, void** object) override;
    com::ULONG AddRef() override { return ++refs_; }
    com::ULONG Release() override;
    com::HRESULT CreateInstance(com::IUnknown* outer, com::REFIID riid, void** object) override;
    com::HRESULT LockServer(com::BOOL lock) override;

private:
    ~AutomationClassFactory() = default;
    std::atomic<com::ULONG> refs_{1};
    CMERIDEXDlg* dialog_;
};

}  // namespace mbus::meridex
