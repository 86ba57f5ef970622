#include "control/com/dispatch_table.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "control/com/identifiers.h"
#include "platform/text/ascii.h"

namespace mbus::control {
namespace {

std::string LowerCase(std::string_view s) { return text::AsciiLowered(s); }

std::vector<Parameter> Parse(const char* arguments) {
    std::vector<Parameter> params;
    std::string_view rest(arguments);
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        std::string_view one = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        while (!one.empty() && one.front() == ' ') one.remove_prefix(1);
        const std::size_t blank = one.find(' ');
        const std::string_view type = one.substr(0, blank);
        params.push_back({type == "string" ? Type::String : Type::Long, std::string(one.substr(blank + 1))});
    }
    return params;
}

struct Index {
    std::map<com::DISPID, const Member*> byId;
    std::map<std::string, const Member*> byName;  // lower case
    std::map<const Member*, std::vector<Parameter>> parameters;
};

const Index& TheIndex() {
    static const Index index = [] {
        Index i;
        for (const Member& m : Members()) {
            i.byId[m.id] = &m;
            i.byName[LowerCase(m.name)] = &m;
            i.parameters[&m] = Parse(m.arguments);
        }
        return i;
    }();
    return index;
}

const char* TypeName(Type t) {
    switch (t) {
        case Type::Long: return "long";
        case Type::String: return "BSTR";
        default: return "void";
    }
}

}  // namespace

const Member* FindMember(com::DISPID id) {
    const auto& byId = TheIndex().byId;
    const auto it = byId.find(id);
    return it == byId.end() ? nullptr : it->second;
}

const Member* FindMember(std::string_view name) {
    const auto& byName = TheIndex().byName;
    const auto it = byName.find(LowerCase(name));
    return it == byName.end() ? nullptr : it->second;
}

const std::vector<Parameter>& ParametersOf(const Member& m) { return TheIndex().parameters.at(&m); }

std::string DescribeTypeLibrary() {
    std::string out;
    out += "[uuid(" + com::FormatGuid(LIBID_MBusOrlX4CTRLLib).substr(1, 36) + "), version(1.0)]\n";
    out += "library MBusOrlX4CTRLLib {\n";
    out += "  [uuid(" + com::FormatGuid(IID_IMBusOrlX4).substr(1, 36) + "), dual, oleautomation]\n";
    out += "  interface IMBusOrlX4 : IDispatch {\n";
    for (const Member& m : Members()) {
        const std::vector<Parameter>& params = ParametersOf(m);
        auto line = [&](const char* attribute, bool withValue, bool valueIn) {
            out += "    [id(" + std::to_string(m.id) + ")";
            if (*attribute != '\0') out += std::string(", ") + attribute;
            out += "] HRESULT " + std::string(m.name) + "(";
            bool first = true;
            for (const Parameter& p : params) {
                out += std::string(first ? "" : ", ") + "[in] " + TypeName(p.type) + " " + p.name;
                first = false;
            }
            if (withValue) {
                out += std::string(first ? "" : ", ") + (valueIn ? "[in] " : "[out, retval] ") + TypeName(m.value) +
                       (valueIn ? " newValue" : "* pVal");
            }
            out += ");";
            if (!m.Built()) out += "  // not available in this build";
            out += "\n";
        };
        if (m.kind == Kind::Method) {
            line("", false, false);
        } else {
            line("propget", true, false);
            if (m.kind == Kind::GetPut) line("propput", true, true);
        }
    }
    out += "  };\n";
    out += "  [uuid(" + com::FormatGuid(CLSID_MBusOrlX4).substr(1, 36) + "), helpstring(\"" + kClassDescription +
           "\"), control]\n";
    out += "  coclass MBusOrlX4 { [default] interface IMBusOrlX4; };\n";
    out += "};\n";
    return out;
}

}  // namespace mbus::control
