#include "configurator/shell/control.h"

#include <vector>

#include "control/com/identifiers.h"
#include "platform/com/create.h"

namespace mbus::meridex {
namespace {

constexpr MemberInfo kMembers[] = {
#define MERIDEX_MEMBER_INFO(name, id) {Member::name, #name, id},
    MERIDEX_CONTROL_MEMBERS(MERIDEX_MEMBER_INFO)
#undef MERIDEX_MEMBER_INFO
};

}  // namespace

const MemberInfo* Members(std::size_t* count) {
    *count = std::size(kMembers);
    return kMembers;
}

const MemberInfo& Info(Member m) { return kMembers[static_cast<std::size_t>(m)]; }

Control Control::Create(std::string* why) {
    com::ComPtr<com::IDispatch> dispatch;
    const com::HRESULT hr = com::CreateInstance(control::CLSID_MBusOrlX4, control::IID_IMBusOrlX4, &dispatch);
    if (com::FAILED(hr)) {
        if (why != nullptr) {
            *why = com::LastCreateError();
            if (why->empty()) *why = com::DescribeHResult(hr);
        }
        return Control();
    }
    return Control(std::move(dispatch));
}

com::HRESULT Control::Invoke(Member m, com::WORD flags, std::initializer_list<Arg> args, com::VARIANT* result,
                             const Arg* putValue) const {
    com::VariantInit(result);
    if (!dispatch_) return com::E_POINTER;
    auto make = [](const Arg& a) { return a.isText ? com::MakeVariantBstr(a.text) : com::MakeVariantI4(a.number); };
    std::vector<com::VARIANT> v;
    if (putValue != nullptr) v.push_back(make(*putValue));
    // Dispatch arguments travel last first.
    for (auto it = std::rbegin(args); it != std::rend(args); ++it) v.push_back(make(*it));
    com::DISPID named = com::DISPID_PROPERTYPUT;
    com::DISPPARAMS params{v.data(), putValue != nullptr ? &named : nullptr, static_cast<com::UINT>(v.size()),
                           putValue != nullptr ? 1u : 0u};
    const com::HRESULT hr =
        dispatch_->Invoke(Info(m).dispid, com::IID_NULL, 0, flags, &params, result, nullptr, nullptr);
    for (com::VARIANT& a : v) com::VariantClear(&a);
    return hr;
}

int32_t Control::Long(Member m, std::initializer_list<Arg> args) const {
    com::VARIANT r;
    const com::HRESULT hr = Invoke(m, com::DISPATCH_PROPERTYGET, args, &r);
    const int32_t value = com::SUCCEEDED(hr) && r.vt == com::VT_I4 ? r.lVal : 0;
    com::VariantClear(&r);
    return value;
}

std::string Control::Text(Member m, std::initializer_list<Arg> args) const {
    com::VARIANT r;
    const com::HRESULT hr = Invoke(m, com::DISPATCH_PROPERTYGET, args, &r);
    std::string value = com::SUCCEEDED(hr) && r.vt == com::VT_BSTR ? com::BstrToUtf8(r.bstrVal) : std::string();
    com::VariantClear(&r);
    return value;
}

void Control::Call(Member m, std::initializer_list<Arg> args) const {
    com::VARIANT r;
    Invoke(m, com::DISPATCH_METHOD, args, &r);
    com::VariantClear(&r);
}

void Control::Put(Member m, const Arg& value) const {
    com::VARIANT r;
    Invoke(m, com::DISPATCH_PROPERTYPUT, {}, &r, &value);
    com::VariantClear(&r);
}

void Control::SCRExecute(const std::string& script) const { Call(Member::SCRExecute, {script}); }
void Control::SCRBreak() const { Call(Member::SCRBreak); }
int32_t Control::SCRStatus() const { return Long(Member::SCRStatus); }
void Control::LOGReset() const { Call(Member::LOGReset); }
void Control::SetLOGMaxEntries(int32_t entries) const { Put(Member::LOGMaxEntries, entries); }
std::string Control::LOGRetrieveCookedDataHex2(int32_t start, int32_t end) const {
    return Text(Member::LOGRetrieveCookedDataHex2, {start, end});
}

void Control::SetCOMParity(int32_t parity) const { Put(Member::COMParity, parity); }
void Control::APPInitCom(int32_t port, int32_t baud) const { Call(Member::APPInitCom, {port, baud}); }
int32_t Control::APPIsComOpen() const { return Long(Member::APPIsComOpen); }
void Control::COMClose() const { Call(Member::COMClose); }
void Control::APPCloseCom() const { Call(Member::APPCloseCom); }

int32_t Control::TELConnectTimeout() const { return Long(Member::TELConnectTimeout); }
void Control::SetTELConnectTimeout(int32_t seconds) const { Put(Member::TELConnectTimeout, seconds); }
int32_t Control::TELStatus() const { return Long(Member::TELStatus); }
void Control::SetOPTOnlyVIFUnitsWithoutMultiplier(int32_t on) const {
    Put(Member::OPTOnlyVIFUnitsWithoutMultiplier, on);
}
int32_t Control::LNGLanguage() const { return Long(Member::LNGLanguage); }
void Control::SetLNGLanguage(int32_t language) const { Put(Member::LNGLanguage, language); }
void Control::SetAPPDebugFileName(const std::string& path) const { Put(Member::APPDebugFileName, path); }

std::string Control::LNGMediumVar(int32_t language, int32_t medium) const {
    return Text(Member::LNGMediumVar, {language, medium});
}
std::string Control::LNGVIF(int32_t language, int32_t vif) const { return Text(Member::LNGVIF, {language, vif}); }

void Control::SCRSlaveSearchSecondarySpecial(int32_t mode, const std::string& startMask, const std::string& endMask,
                                             const std::string& manufacturer, const std::string& version,
                                             const std::string& medium) const {
    Call(Member::SCRSlaveSearchSecondarySpecial, {mode, startMask, endMask, manufacturer, version, medium});
}
void Control::SetSCRSlaveSearchTimeoutRetries(int32_t retries) const {
    Put(Member::SCRSlaveSearchTimeoutRetries, retries);
}
std::string Control::SCRSlaveSearchCurAddress() const { return Text(Member::SCRSlaveSearchCurAddress); }
std::string Control::SCRRetrieveSlaveListHex() const { return Text(Member::SCRRetrieveSlaveListHex); }

}  // namespace mbus::meridex
