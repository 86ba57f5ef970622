// Calls of the control's dispatch interface by name, for tests: arguments
// and results as plain C++ values.

#pragma once

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "control/com/control_object.h"
#include "control/com/identifiers.h"
#include "platform/com/ptr.h"
#include "platform/com/types.h"

namespace mbus::control::test {

using Arg = std::variant<int32_t, std::string>;

class DispatchClient {
public:
    DispatchClient() = default;
    explicit DispatchClient(com::ComPtr<com::IDispatch> d) : d_(std::move(d)) {}
    com::IDispatch* Get() const { return d_.Get(); }

    // The DISPID of a name; DISPID_UNKNOWN when the control does not know it.
    com::DISPID Id(const std::string& name) const {
        const std::u16string wide(name.begin(), name.end());
        const com::OLECHAR* names[] = {wide.c_str()};
        com::DISPID id = com::DISPID_UNKNOWN;
        d_->GetIDsOfNames(com::IID_NULL, names, 1, 0, &id);
        return id;
    }

    // Invokes with `flags`; the result variant is the caller's to clear.
    com::HRESULT Invoke(const std::string& name, com::WORD flags, std::vector<Arg> args, com::VARIANT* result,
                        const Arg* putValue = nullptr) const {
        std::vector<com::VARIANT> v;
        if (putValue != nullptr) v.push_back(Make(*putValue));
        for (auto it = args.rbegin(); it != args.rend(); ++it) v.push_back(Make(*it));
        com::DISPID named = com::DISPID_PROPERTYPUT;
        com::DISPPARAMS params{v.data(), putValue != nullptr ? &named : nullptr, static_cast<com::UINT>(v.size()),
                               putValue != nullptr ? 1u : 0u};
        com::VariantInit(result);
        const com::HRESULT hr = d_->Invoke(Id(name), com::IID_NULL, 0, flags, &params, result, nullptr, nullptr);
        for (com::VARIANT& a : v) com::VariantClear(&a);
        return hr;
    }

    int32_t Long(const std::string& name, std::vector<Arg> args = {}) const {
        com::VARIANT r;
        const com::HRESULT hr = Invoke(name, com::DISPATCH_PROPERTYGET, std::move(args), &r);
        EXPECT_EQ(hr, com::S_OK) << name;
        EXPECT_EQ(r.vt, com::VT_I4) << name;
        const int32_t value = r.vt == com::VT_I4 ? r.lVal : -99999;
        com::VariantClear(&r);
        return value;
    }
    std::string Text(const std::string& name, std::vector<Arg> args = {}) const {
        com::VARIANT r;
        const com::HRESULT hr = Invoke(name, com::DISPATCH_PROPERTYGET, std::move(args), &r);
        EXPECT_EQ(hr, com::S_OK) << name;
        EXPECT_EQ(r.vt, com::VT_BSTR) << name;
        std::string value = r.vt == com::VT_BSTR ? com::BstrToUtf8(r.bstrVal) : "<no text>";
        com::VariantClear(&r);
        return value;
    }
    void Call(const std::string& name, std::vector<Arg> args = {}) const {
        com::VARIANT r;
        EXPECT_EQ(Invoke(name, com::DISPATCH_METHOD, std::move(args), &r), com::S_OK) << name;
        com::VariantClear(&r);
    }
    void Put(const std::string& name, const Arg& value, std::vector<Arg> args = {}) const {
        com::VARIANT r;
        EXPECT_EQ(Invoke(name, com::DISPATCH_PROPERTYPUT, std::move(args), &r, &value), com::S_OK) << name;
        com::VariantClear(&r);
    }

private:
    static com::VARIANT Make(const Arg& a) {
        if (const auto* n = std::get_if<int32_t>(&a)) return com::MakeVariantI4(*n);
        return com::MakeVariantBstr(std::get<std::string>(a));
    }
    com::ComPtr<com::IDispatch> d_;
};

// A control created in-process, as a client gets it from the class
// factory: every creation resets the library.
inline DispatchClient NewInProcessControl() {
    void* raw = nullptr;
    EXPECT_EQ(control::GetClassObject(CLSID_MBusOrlX4, com::IID_IClassFactory, &raw), com::S_OK);
    auto factory = com::ComPtr<com::IClassFactory>::Adopt(raw);
    raw = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, com::IID_IDispatch, &raw), com::S_OK);
    return DispatchClient(com::ComPtr<com::IDispatch>::Adopt(raw));
}

}  // namespace mbus::control::test
