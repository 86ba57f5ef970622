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
#include "tools/mbusctl/control_client.h"
#include "platform/com/types.h"

namespace mbus::control::test {

using Arg = cli::ControlArg;

// The client of mbusctl, with each call's outcome checked.
class DispatchClient {
public:
    DispatchClient() = default;
    explicit DispatchClient(com::ComPtr<com::IDispatch> d) : client_(std::move(d)) {}
    com::IDispatch* Get() const { return client_.Get(); }
    com::DISPID Id(const std::string& name) const { return client_.Id(name); }
    com::HRESULT Invoke(const std::string& name, com::WORD flags, std::vector<Arg> args, com::VARIANT* result,
                        const Arg* putValue = nullptr) const {
        return client_.Invoke(name, flags, args, result, putValue);
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
    cli::ControlClient client_{nullptr};
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
