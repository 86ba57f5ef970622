// The members of the dispatch interface IMBusOrlX4, described once.
//
// Each row gives the DISPID, the name, the kind (read-only property,
// read-write property or method), the arguments as written in the type
// library ("long Mode, string DeviceID"), the value type, and the code that
// serves it. Invoke, GetIDsOfNames and the type library description are all
// derived from this table. Rows whose operations belong to subsystems that
// this build does not yet carry have no code: Invoke answers them with
// E_NOTIMPL instead of pretending.

#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/types.h"

namespace mbus::control {

enum class Kind { Get, GetPut, Method };
enum class Type { None, Long, String };

// A value crossing the interface: a long or a UTF-8 text.
struct Value {
    Type type = Type::None;
    int32_t number = 0;
    std::string text;

    static Value Long(int32_t n) { return {Type::Long, n, {}}; }
    static Value String(std::string s) { return {Type::String, 0, std::move(s)}; }
};

// The arguments of one call, already converted to the types of the row.
class Args {
public:
    explicit Args(std::vector<Value> values) : values_(std::move(values)) {}
    int32_t L(std::size_t i) const { return values_.at(i).number; }
    const std::string& S(std::size_t i) const { return values_.at(i).text; }
    std::size_t size() const { return values_.size(); }

private:
    std::vector<Value> values_;
};

using Getter = Value (*)(const Args&);
using Putter = void (*)(const Args&, const Value&);
using Caller = void (*)(const Args&);

struct Member {
    com::DISPID id;
    const char* name;
    Kind kind;
    const char* arguments;  // "long Language, long Medium", "" for none
    Type value;             // of the getter; None for methods
    Getter get;
    Putter put;
    Caller call;

    bool Built() const { return kind == Kind::Method ? call != nullptr : get != nullptr; }
};

struct Parameter {
    Type type;
    std::string name;
};

// The rows in the order of the interface's virtual table.
std::span<const Member> Members();
const Member* FindMember(com::DISPID id);
// Case-insensitive (ASCII).
const Member* FindMember(std::string_view name);
// The parsed argument list of a row.
const std::vector<Parameter>& ParametersOf(const Member& m);

// The interface as a type library description (IDL-like text): one line per
// getter, putter or method, in virtual-table order.
std::string DescribeTypeLibrary();

}  // namespace mbus::control
