// A small component library for the creation tests: the class "Calculator"
// with a dispatch interface of two members,
//
//   DISPID 1  Add(long a, long b) -> long      method
//   DISPID 2  Label                            string property (get, put)
//
// and the four entry points of a component library. It registers itself
// under the ProgIDs "MBusTest.Calculator.1" and "MBusTest.Calculator"
// (version independent, CurVer) and the class key with InprocServer32 = its
// own path and ThreadingModel = Free.
//
// The exported MBusTestLiveObjects tells the tests how many objects exist.

#include <atomic>
#include <cstdint>
#include <limits>
#include <mutex>
#include <new>
#include <string>

#include "platform/com/create.h"
#include "platform/com/registry.h"
#include "platform/com/types.h"

using namespace mbus::com;

namespace {

// {6B1D2E4A-3C5F-4A7B-9D8E-1F2A3B4C5D6E}
constexpr CLSID kCalculatorClass = {0x6B1D2E4A, 0x3C5F, 0x4A7B, {0x9D, 0x8E, 0x1F, 0x2A, 0x3B, 0x4C, 0x5D, 0x6E}};
constexpr const char* kProgId = "MBusTest.Calculator.1";
constexpr const char* kIndependentProgId = "MBusTest.Calculator";
constexpr DISPID kDispidAdd = 1;
constexpr DISPID kDispidLabel = 2;

std::atomic<long> liveObjects{0};
std::atomic<long> serverLocks{0};

bool SameNameIgnoringCase(const OLECHAR* a, const char* b) {
    for (;; ++a, ++b) {
        OLECHAR x = *a;
        char y = *b;
        if (x >= 'A' && x <= 'Z') x = static_cast<OLECHAR>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != static_cast<unsigned char>(y)) return false;
        if (x == 0) return true;
    }
}

class Calculator final : public IDispatch {
public:
    Calculator() { ++liveObjects; }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info != nullptr) *info = nullptr;
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT GetIDsOfNames(REFIID riid, const OLECHAR* const* names, UINT count, LCID, DISPID* ids) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        if (names == nullptr || ids == nullptr) return E_POINTER;
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            // Only the first name is a member; further names would be its arguments.
            if (i == 0 && SameNameIgnoringCase(names[0], "Add")) {
                ids[i] = kDispidAdd;
            } else if (i == 0 && SameNameIgnoringCase(names[0], "Label")) {
                ids[i] = kDispidLabel;
            } else {
                ids[i] = DISPID_UNKNOWN;
                hr = DISP_E_UNKNOWNNAME;
            }
        }
        return hr;
    }

    HRESULT Invoke(DISPID member, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                   UINT* argError) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        if (params == nullptr) return E_INVALIDARG;
        if (member == kDispidAdd && (flags & DISPATCH_METHOD) != 0) return Add(*params, result, argError);
        if (member == kDispidLabel && (flags & DISPATCH_PROPERTYGET) != 0) return GetLabel(*params, result);
        if (member == kDispidLabel && (flags & DISPATCH_PROPERTYPUT) != 0) return PutLabel(*params, argError);
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    ~Calculator() { --liveObjects; }

    static HRESULT Add(const DISPPARAMS& params, VARIANT* result, UINT* argError) {
        if (params.cNamedArgs != 0) return DISP_E_NONAMEDARGS;
        if (params.cArgs != 2) return DISP_E_BADPARAMCOUNT;
        LONG operands[2];
        for (UINT i = 0; i < 2; ++i) {
            // Arguments come last first: a is rgvarg[1], b is rgvarg[0].
            VARIANT value;
            VariantInit(&value);
            const HRESULT hr = VariantChangeType(&value, &params.rgvarg[1 - i], 0, VT_I4);
            if (FAILED(hr)) {
                if (argError != nullptr) *argError = 1 - i;
                return hr;
            }
            operands[i] = value.lVal;
        }
        const std::int64_t sum = static_cast<std::int64_t>(operands[0]) + operands[1];
        if (sum < std::numeric_limits<LONG>::min() || sum > std::numeric_limits<LONG>::max()) return DISP_E_OVERFLOW;
        if (result != nullptr) {
            VariantInit(result);
            result->vt = VT_I4;
            result->lVal = static_cast<LONG>(sum);
        }
        return S_OK;
    }

    HRESULT GetLabel(const DISPPARAMS& params, VARIANT* result) {
        if (params.cArgs != 0) return DISP_E_BADPARAMCOUNT;
        if (result == nullptr) return S_OK;
        VariantInit(result);
        const std::lock_guard guard(mutex_);
        result->bstrVal = BstrFromUtf16(label_);
        if (result->bstrVal == nullptr) return E_OUTOFMEMORY;
        result->vt = VT_BSTR;
        return S_OK;
    }

    HRESULT PutLabel(const DISPPARAMS& params, UINT* argError) {
        if (params.cArgs != 1 || params.cNamedArgs != 1 || params.rgdispidNamedArgs == nullptr ||
            params.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
            return DISP_E_BADPARAMCOUNT;
        VARIANT value;
        VariantInit(&value);
        const HRESULT hr = VariantChangeType(&value, &params.rgvarg[0], 0, VT_BSTR);
        if (FAILED(hr)) {
            if (argError != nullptr) *argError = 0;
            return hr;
        }
        try {
            const std::lock_guard guard(mutex_);
            label_.assign(BstrView(value.bstrVal));
        } catch (...) {
            VariantClear(&value);
            return E_OUTOFMEMORY;
        }
        VariantClear(&value);
        return S_OK;
    }

    std::atomic<ULONG> refs_{1};
    std::mutex mutex_;
    std::u16string label_;
};

// One class object for the whole library; it is never deleted.
class CalculatorFactory final : public IClassFactory {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // References to the class object keep the library in use.
    ULONG AddRef() override { return static_cast<ULONG>(++serverLocks) + 1; }
    ULONG Release() override { return static_cast<ULONG>(--serverLocks) + 1; }

    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        Calculator* calculator = new (std::nothrow) Calculator;
        if (calculator == nullptr) return E_OUTOFMEMORY;
        const HRESULT hr = calculator->QueryInterface(riid, object);
        calculator->Release();  // the reference of `new`; QueryInterface took its own
        return hr;
    }
    HRESULT LockServer(BOOL lock) override {
        if (lock != 0)
            ++serverLocks;
        else
            --serverLocks;
        return S_OK;
    }
};

CalculatorFactory factory;

std::string ClassKey() { return "HKEY_CLASSES_ROOT\\CLSID\\" + FormatGuid(kCalculatorClass); }

}  // namespace

MBUS_COM_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (clsid != kCalculatorClass) return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(iid, object);
}

MBUS_COM_EXPORT HRESULT DllCanUnloadNow() { return liveObjects == 0 && serverLocks == 0 ? S_OK : S_FALSE; }

MBUS_COM_EXPORT HRESULT DllRegisterServer() {
    try {
        const std::string path = ModulePath(reinterpret_cast<const void*>(&DllRegisterServer));
        if (path.empty()) return SELFREG_E_CLASS;
        const std::string clsid = FormatGuid(kCalculatorClass);
        Registry registry;
        const HRESULT hr = registry.Update([&](RegistryTree& tree) {
            const std::string classKey = ClassKey();
            tree.DeleteKey(classKey);  // replaced as a whole
            tree.SetValue(classKey, "", "MBus test calculator");
            tree.SetValue(classKey + "\\ProgID", "", kProgId);
            tree.SetValue(classKey + "\\VersionIndependentProgID", "", kIndependentProgId);
            tree.SetValue(classKey + "\\InprocServer32", "", path);
            tree.SetValue(classKey + "\\InprocServer32", "ThreadingModel", "Free");
            tree.CreateKey(classKey + "\\Programmable");
            tree.SetValue(std::string("HKCR\\") + kProgId, "", "MBus test calculator");
            tree.SetValue(std::string("HKCR\\") + kProgId + "\\CLSID", "", clsid);
            tree.SetValue(std::string("HKCR\\") + kIndependentProgId, "", "MBus test calculator");
            tree.SetValue(std::string("HKCR\\") + kIndependentProgId + "\\CurVer", "", kProgId);
            return S_OK;
        });
        return FAILED(hr) ? SELFREG_E_CLASS : S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

MBUS_COM_EXPORT HRESULT DllUnregisterServer() {
    try {
        Registry registry;
        const HRESULT hr = registry.Update([](RegistryTree& tree) {
            tree.DeleteKey(ClassKey());
            tree.DeleteKey(std::string("HKCR\\") + kProgId);
            tree.DeleteKey(std::string("HKCR\\") + kIndependentProgId);
            return S_OK;
        });
        return FAILED(hr) ? SELFREG_E_CLASS : S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

MBUS_COM_EXPORT long MBusTestLiveObjects() { return liveObjects; }
