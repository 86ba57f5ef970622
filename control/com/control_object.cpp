#include "control/com/control_object.h"

#include <atomic>
#include <new>

#include "control/com/dispatch_table.h"
#include "control/com/identifiers.h"
#include "control/com/library.h"
#include "platform/com/registry.h"
#include "platform/text/ascii.h"
#include "platform/text/codepage.h"

namespace mbus::control {
namespace {

using namespace mbus::com;

constexpr auto& SameName = text::EqualsIgnoringAsciiCase;

// One argument converted to the type of its parameter.
HRESULT Convert(const VARIANT& in, Type type, Value* out) {
    VARIANT plain;
    VariantInit(&plain);
    HRESULT hr = VariantCopyInd(&plain, &in);
    if (FAILED(hr)) return hr;
    VARIANT converted;
    VariantInit(&converted);
    hr = VariantChangeType(&converted, &plain, 0, type == Type::String ? VT_BSTR : VT_I4);
    VariantClear(&plain);
    if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
    if (type == Type::String)
        *out = Value::String(BstrToUtf8(converted.bstrVal));
    else
        *out = Value::Long(converted.lVal);
    VariantClear(&converted);
    return S_OK;
}

class ControlObject final : public IDispatch, public ISupportErrorInfo {
public:
    ControlObject() { Library::Instance().liveObjects.fetch_add(1); }

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IMBusOrlX4) {
            *object = static_cast<IDispatch*>(this);
        } else if (iid == IID_ISupportErrorInfo) {
            *object = static_cast<ISupportErrorInfo*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return references_.fetch_add(1) + 1; }
    ULONG Release() override {
        const ULONG left = references_.fetch_sub(1) - 1;
        if (left == 0) delete this;
        return left;
    }

    HRESULT InterfaceSupportsErrorInfo(REFIID iid) override { return iid == IID_IMBusOrlX4 ? S_OK : S_FALSE; }

    HRESULT GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info != nullptr) *info = nullptr;
        return E_NOTIMPL;
    }

    HRESULT GetIDsOfNames(REFIID, const OLECHAR* const* names, UINT count, LCID, DISPID* ids) override {
        if (count == 0) return S_OK;
        if (names == nullptr || ids == nullptr) return E_POINTER;
        HRESULT hr = S_OK;
        // The names are zero-terminated strings, not BSTRs.
        auto name = [](const OLECHAR* text) { return text::Utf16ToUtf8(std::u16string_view(text)); };
        const Member* m = names[0] != nullptr ? FindMember(name(names[0])) : nullptr;
        ids[0] = m != nullptr ? m->id : DISPID_UNKNOWN;
        if (m == nullptr) hr = DISP_E_UNKNOWNNAME;
        for (UINT i = 1; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            if (m != nullptr && names[i] != nullptr) {
                const std::string parameter = name(names[i]);
                const std::vector<Parameter>& params = ParametersOf(*m);
                for (std::size_t p = 0; p < params.size(); ++p)
                    if (SameName(params[p].name, parameter)) ids[i] = static_cast<DISPID>(p);
            }
            if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }

    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                   UINT* argError) override {
        const Member* m = FindMember(id);
        if (m == nullptr) return DISP_E_MEMBERNOTFOUND;
        if (!m->Built()) return E_NOTIMPL;
        const UINT count = params != nullptr ? params->cArgs : 0;
        const UINT named = params != nullptr ? params->cNamedArgs : 0;
        if (count > 0 && params->rgvarg == nullptr) return E_POINTER;
        const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
        UINT positional = count;
        if (put) {
            if (m->kind != Kind::GetPut || m->put == nullptr) return DISP_E_MEMBERNOTFOUND;
            if (named != 1 || params->rgdispidNamedArgs == nullptr ||
                params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
                return DISP_E_PARAMNOTOPTIONAL;
            positional = count - 1;
        } else {
            if ((flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) == 0) return DISP_E_MEMBERNOTFOUND;
            if (named != 0) return DISP_E_NONAMEDARGS;
        }
        const std::vector<Parameter>& declared = ParametersOf(*m);
        if (positional != declared.size()) return DISP_E_BADPARAMCOUNT;
        try {
            std::vector<Value> values(positional);
            for (UINT i = 0; i < positional; ++i) {
                // Arguments arrive last first, after the named ones.
                const UINT at = count - 1 - i;
                if (FAILED(Convert(params->rgvarg[at], declared[i].type, &values[i]))) {
                    if (argError != nullptr) *argError = at;
                    return DISP_E_TYPEMISMATCH;
                }
            }
            const Args args(std::move(values));
            if (put) {
                Value value;
                if (FAILED(Convert(params->rgvarg[0], m->value, &value))) {
                    if (argError != nullptr) *argError = 0;
                    return DISP_E_TYPEMISMATCH;
                }
                m->put(args, value);
                return S_OK;
            }
            if (m->kind == Kind::Method) {
                m->call(args);
                if (result != nullptr) VariantInit(result);
                return S_OK;
            }
            Value value = m->get(args);
            if (result != nullptr) {
                VariantInit(result);
                if (m->value == Type::String) {
                    result->bstrVal = BstrFromUtf8(value.text);
                    if (result->bstrVal == nullptr) return E_OUTOFMEMORY;
                    result->vt = VT_BSTR;
                } else {
                    result->vt = VT_I4;
                    result->lVal = value.number;
                }
            }
            return S_OK;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_UNEXPECTED;
        }
    }

private:
    ~ControlObject() { Library::Instance().liveObjects.fetch_sub(1); }

    std::atomic<ULONG> references_{1};
};

class ClassFactory final : public IClassFactory {
public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // The factory lives as long as the library; references only keep the
    // server from being unloaded.
    ULONG AddRef() override { return static_cast<ULONG>(Library::Instance().serverLocks.fetch_add(1) + 1); }
    ULONG Release() override { return static_cast<ULONG>(Library::Instance().serverLocks.fetch_sub(1) - 1); }

    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        ControlObject* control = new (std::nothrow) ControlObject();
        if (control == nullptr) return E_OUTOFMEMORY;
        const HRESULT hr = control->QueryInterface(iid, object);
        control->Release();
        return hr;
    }
    HRESULT LockServer(BOOL lock) override {
        if (lock)
            Library::Instance().serverLocks.fetch_add(1);
        else
            Library::Instance().serverLocks.fetch_sub(1);
        return S_OK;
    }
};

ClassFactory theFactory;

std::string ClassKey() { return "HKCR\\CLSID\\" + FormatGuid(CLSID_MBusOrlX4); }

}  // namespace

HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    // Only requests for our own class reset the library.
    if (clsid != CLSID_MBusOrlX4) return CLASS_E_CLASSNOTAVAILABLE;
    if (!Library::Instance().ClassObjectRequested()) return E_OUTOFMEMORY;
    return theFactory.QueryInterface(iid, object);
}

HRESULT CanUnloadNow() {
    const Library& library = Library::Instance();
    return library.liveObjects.load() == 0 && library.serverLocks.load() == 0 ? S_OK : S_FALSE;
}

HRESULT RegisterServer(const std::string& modulePath) {
    if (modulePath.empty()) return SELFREG_E_CLASS;
    try {
        const std::string clsid = FormatGuid(CLSID_MBusOrlX4);
        const std::string libid = FormatGuid(LIBID_MBusOrlX4CTRLLib);
        Registry registry;
        const HRESULT hr = registry.Update([&](RegistryTree& tree) {
            const std::string progId = std::string("HKCR\\") + kProgID;
            const std::string independent = std::string("HKCR\\") + kVersionIndependentProgID;
            tree.SetValue(progId, "", kClassDescription);
            tree.SetValue(progId + "\\CLSID", "", clsid);
            tree.SetValue(independent, "", kClassDescription);
            tree.SetValue(independent + "\\CurVer", "", kProgID);
            const std::string key = ClassKey();
            tree.DeleteKey(key);  // replaced as a whole
            tree.SetValue(key, "", kClassDescription);
            tree.SetValue(key + "\\ProgID", "", kProgID);
            tree.SetValue(key + "\\VersionIndependentProgID", "", kVersionIndependentProgID);
            tree.SetValue(key + "\\InprocServer32", "", modulePath);
            tree.SetValue(key + "\\InprocServer32", "ThreadingModel", "Free");
            tree.CreateKey(key + "\\Control");
            tree.CreateKey(key + "\\Programmable");
            tree.CreateKey(key + "\\Insertable");
            tree.SetValue(key + "\\ToolboxBitmap32", "", modulePath + ", 1");
            tree.SetValue(key + "\\MiscStatus", "", "0");
            tree.SetValue(key + "\\MiscStatus\\1", "", "132497");
            tree.SetValue(key + "\\TypeLib", "", libid);
            tree.SetValue(key + "\\Version", "", "1.0");
            // The type library is a resource of the library itself.
            const std::string typeLib = "HKCR\\TypeLib\\" + libid + "\\1.0";
            tree.SetValue(typeLib, "", "MBusOrlX4CTRLLib");
            tree.SetValue(typeLib + "\\0\\linux", "", modulePath);
            tree.SetValue(typeLib + "\\FLAGS", "", "0");
            return S_OK;
        });
        return FAILED(hr) ? SELFREG_E_CLASS : S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT UnregisterServer() {
    try {
        Registry registry;
        const HRESULT hr = registry.Update([](RegistryTree& tree) {
            tree.DeleteKey(std::string("HKCR\\") + kProgID);
            tree.DeleteKey(std::string("HKCR\\") + kVersionIndependentProgID);
            tree.DeleteKey(ClassKey());  // the CLSID key above it stays
            return S_OK;
        });
        return FAILED(hr) ? SELFREG_E_CLASS : S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace mbus::control
