// The control as mbusctl's commands reach it: created by its class
// identifier (its library registered first when it is not yet), and called
// by name through its dispatch interface.

#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/com/ptr.h"
#include "platform/com/types.h"

namespace mbus::cli {

// Creates the control as any client does, registering its library when the
// class is not registered yet ($MBUS_CONTROL_LIBRARY, else
// ../lib/libMBusOrlX4Ctrl.so beside the program). False after a message to
// `err` naming `command`.
bool CreateControl(const char* command, com::ComPtr<com::IDispatch>* control, std::ostream& err);

using ControlArg = std::variant<int32_t, std::string>;

// Calls of a control by member name, with plain C++ arguments and results.
class ControlClient {
public:
    explicit ControlClient(com::ComPtr<com::IDispatch> control) : control_(std::move(control)) {}
    com::IDispatch* Get() const { return control_.Get(); }

    // The member's DISPID, DISPID_UNKNOWN when the control does not know it.
    com::DISPID Id(const std::string& name) const;
    // Invokes `name` with `flags` (a put passes `putValue`); the result
    // variant is the caller's to clear.
    com::HRESULT Invoke(const std::string& name, com::WORD flags, const std::vector<ControlArg>& args,
                        com::VARIANT* result, const ControlArg* putValue = nullptr) const;

    // Property gets and method calls; empty / false when the call failed.
    std::optional<int32_t> Long(const std::string& name, const std::vector<ControlArg>& args = {}) const;
    std::optional<std::string> Text(const std::string& name, const std::vector<ControlArg>& args = {}) const;
    bool Call(const std::string& name, const std::vector<ControlArg>& args = {}) const;
    bool Put(const std::string& name, const ControlArg& value, const std::vector<ControlArg>& args = {}) const;

private:
    com::ComPtr<com::IDispatch> control_;
};

}  // namespace mbus::cli
