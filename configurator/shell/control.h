// The control as MERIDEX reaches it: created at run time by its class
// identifier through the component runtime and called by DISPID through its
// dispatch interface. Nothing of the control is linked in.
//
// The members the program uses are one table (MERIDEX_CONTROL_MEMBERS): the
// name and DISPID of each, from which the typed calls below are served. A
// wrapper without a control (the class is not registered, the library cannot
// be loaded) is empty: every call does nothing, getters give 0 or an empty
// text, so the program stays usable as a dialog.

#pragma once

#include <cstdint>
#include <string>

#include "platform/com/ptr.h"
#include "platform/com/types.h"

namespace mbus::meridex {

// X(name, DISPID)
#define MERIDEX_CONTROL_MEMBERS(X)           \
    X(COMParity, 7)                          \
    X(COMClose, 17)                          \
    X(APPInitCom, 22)                        \
    X(APPIsComOpen, 23)                      \
    X(LNGLanguage, 127)                      \
    X(LNGMediumVar, 133)                     \
    X(LNGVIF, 134)                           \
    X(APPCloseCom, 139)                      \
    X(TELConnectTimeout, 167)                \
    X(TELStatus, 169)                        \
    X(LOGMaxEntries, 198)                    \
    X(LOGReset, 200)                         \
    X(LOGRetrieveCookedDataHex2, 206)        \
    X(SCRExecute, 208)                       \
    X(SCRBreak, 209)                         \
    X(SCRStatus, 210)                        \
    X(OPTOnlyVIFUnitsWithoutMultiplier, 213) \
    X(SCRRetrieveSlaveListHex, 220)          \
    X(SCRSlaveSearchCurAddress, 227)         \
    X(SCRSlaveSearchSecondarySpecial, 273)   \
    X(APPDebugFileName, 274)                 \
    X(SCRSlaveSearchTimeoutRetries, 275)

enum class Member {
#define MERIDEX_MEMBER_ENUM(name, id) name,
    MERIDEX_CONTROL_MEMBERS(MERIDEX_MEMBER_ENUM)
#undef MERIDEX_MEMBER_ENUM
};

struct MemberInfo {
    Member member;
    const char* name;
    com::DISPID dispid;
};
// Every member of the table, in table order.
const MemberInfo* Members(std::size_t* count);
const MemberInfo& Info(Member m);

class Control {
public:
    Control() = default;
    explicit Control(com::ComPtr<com::IDispatch> dispatch) : dispatch_(std::move(dispatch)) {}

    // Creates the control by its class identifier. On failure the wrapper
    // stays empty and *why (when given) says what went wrong.
    static Control Create(std::string* why = nullptr);

    bool Present() const { return static_cast<bool>(dispatch_); }
    com::IDispatch* Dispatch() const { return dispatch_.Get(); }
    void Release() { dispatch_.Reset(); }

    // Scripts and the telegram log.
    void SCRExecute(const std::string& script) const;
    void SCRBreak() const;
    int32_t SCRStatus() const;
    void LOGReset() const;
    void SetLOGMaxEntries(int32_t entries) const;
    std::string LOGRetrieveCookedDataHex2(int32_t start, int32_t end) const;

    // The port test and closing.
    void SetCOMParity(int32_t parity) const;
    void APPInitCom(int32_t port, int32_t baud) const;
    int32_t APPIsComOpen() const;
    void COMClose() const;
    void APPCloseCom() const;

    // Settings handed over at start and from the settings dialog.
    int32_t TELConnectTimeout() const;
    void SetTELConnectTimeout(int32_t seconds) const;
    // The modem state of the port: 4 while a call stands (0 idle, 1
    // dialling, 2 initialising, 3 hanging up).
    int32_t TELStatus() const;
    void SetOPTOnlyVIFUnitsWithoutMultiplier(int32_t on) const;
    int32_t LNGLanguage() const;
    void SetLNGLanguage(int32_t language) const;
    void SetAPPDebugFileName(const std::string& path) const;

    // Texts of the control's tables.
    std::string LNGMediumVar(int32_t language, int32_t medium) const;
    std::string LNGVIF(int32_t language, int32_t vif) const;

    // The secondary search of the device list.
    void SCRSlaveSearchSecondarySpecial(int32_t mode, const std::string& startMask, const std::string& endMask,
                                        const std::string& manufacturer, const std::string& version,
                                        const std::string& medium) const;
    void SetSCRSlaveSearchTimeoutRetries(int32_t retries) const;
    std::string SCRSlaveSearchCurAddress() const;
    std::string SCRRetrieveSlaveListHex() const;

private:
    // One argument of a call: a long or a text.
    struct Arg {
        bool isText = false;
        int32_t number = 0;
        std::string text;
        Arg(int32_t n) : number(n) {}
        Arg(const std::string& t) : isText(true), text(t) {}
        Arg(const char* t) : isText(true), text(t) {}
    };
    com::HRESULT Invoke(Member m, com::WORD flags, std::initializer_list<Arg> args, com::VARIANT* result,
                        const Arg* putValue = nullptr) const;
    int32_t Long(Member m, std::initializer_list<Arg> args = {}) const;
    std::string Text(Member m, std::initializer_list<Arg> args = {}) const;
    void Call(Member m, std::initializer_list<Arg> args = {}) const;
    void Put(Member m, const Arg& value) const;

    com::ComPtr<com::IDispatch> dispatch_;
};

}  // namespace mbus::meridex
