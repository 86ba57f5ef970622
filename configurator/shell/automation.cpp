#include "configurator/shell/automation.h"

#include "configurator/shell/main_dialog.h"
#include "platform/com/registry.h"

namespace mbus::meridex {
namespace {

std::atomic<int> gLocks{0};

}  // namespace

int ApplicationLocks() { return gLocks.load(); }

com::HRESULT RegisterAutomationClass(const std::string& programPath, std::string* problem) {
    const std::string clsid = com::FormatGuid(CLSID_MERIDEXApplication);
    com::Registry registry;
    const com::HRESULT hr = registry.Update([&](com::RegistryTree& tree) {
        const std::string progId = std::string("HKCR\\") + kAutomationProgID;
        tree.SetValue(progId, "", "MERIDEX Application");
        tree.SetValue(progId + "\\CLSID", "", clsid);
        const std::string key = "HKCR\\CLSID\\" + clsid;
        tree.SetValue(key, "", "MERIDEX Application");
        tree.SetValue(key + "\\ProgID", "", kAutomationProgID);
        tree.SetValue(key + "\\LocalServer32", "", programPath);
        return com::S_OK;
    });
    if (com::FAILED(hr) && problem != nullptr) *problem = registry.Problems();
    return hr;
}

CMERIDEXDlgAutoProxy::CMERIDEXDlgAutoProxy(CMERIDEXDlg* dialog) : dialog_(dialog) {
    ++gLocks;
    if (dialog_ != nullptr) dialog_->SetAutoProxy(this);
}

CMERIDEXDlgAutoProxy::~CMERIDEXDlgAutoProxy() {
    if (dialog_ != nullptr && dialog_->AutoProxy() == this) dialog_->SetAutoProxy(nullptr);
    --gLocks;
}

com::HRESULT CMERIDEXDlgAutoProxy::QueryInterface(com::REFIID riid, void** object) {
    if (object == nullptr) return com::E_POINTER;
    if (riid == com::IID_IUnknown || riid == com::IID_IDispatch) {
        *object = static_cast<com::IDispatch*>(this);
        AddRef();
        return com::S_OK;
    }
    *object = nullptr;
    return com::E_NOINTERFACE;
}

com::ULONG CMERIDEXDlgAutoProxy::AddRef() { return ++refs_; }

com::ULONG CMERIDEXDlgAutoProxy::Release() {
    const com::ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
}

com::HRESULT CMERIDEXDlgAutoProxy::GetTypeInfoCount(com::UINT* count) {
    if (count == nullptr) return com::E_POINTER;
    *count = 0;
    return com::S_OK;
}

com::HRESULT CMERIDEXDlgAutoProxy::GetTypeInfo(com::UINT, com::LCID, com::ITypeInfo** info) {
    if (info != nullptr) *info = nullptr;
    return com::E_NOTIMPL;
}

com::HRESULT CMERIDEXDlgAutoProxy::GetIDsOfNames(com::REFIID, const com::OLECHAR* const*, com::UINT names, com::LCID,
                                                 com::DISPID* ids) {
    if (ids != nullptr)
        for (com::UINT i = 0; i < names; ++i) ids[i] = com::DISPID_UNKNOWN;
    return com::DISP_E_UNKNOWNNAME;
}

com::HRESULT CMERIDEXDlgAutoProxy::Invoke(com::DISPID, com::REFIID, com::LCID, com::WORD, com::DISPPARAMS*,
                                          com::VARIANT*, com::EXCEPINFO*, com::UINT*) {
    return com::DISP_E_MEMBERNOTFOUND;
}

com::HRESULT AutomationClassFactory::QueryInterface(com::REFIID riid, void** object) {
    if (object == nullptr) return com::E_POINTER;
    if (riid == com::IID_IUnknown || riid == com::IID_IClassFactory) {
        *object = static_cast<com::IClassFactory*>(this);
        AddRef();
        return com::S_OK;
    }
    *object = nullptr;
    return com::E_NOINTERFACE;
}

com::ULONG AutomationClassFactory::Release() {
    const com::ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
}

com::HRESULT AutomationClassFactory::CreateInstance(com::IUnknown* outer, com::REFIID riid, void** object) {
    if (object == nullptr) return com::E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return com::CLASS_E_NOAGGREGATION;
    auto* proxy = new CMERIDEXDlgAutoProxy(dialog_);
    const com::HRESULT hr = proxy->QueryInterface(riid, object);
    proxy->Release();
    return hr;
}

com::HRESULT AutomationClassFactory::LockServer(com::BOOL lock) {
    if (lock)
        ++gLocks;
    else
        --gLocks;
    return com::S_OK;
}

}  // namespace mbus::meridex
