// Arbitrary calls of the control's dispatch interface: any member, with
// arguments of any value (and now and then of the wrong number or type),
// so that every text and number a host hands in goes through the member's
// code: hexadecimal and decimal telegrams, selections, keys, DES, text
// table puts, conversions and the decoded-answer accessors.
//
// Members that would reach outside the process or block (opening ports,
// writing trace files, delays, exit) are left out.

#include <fuzzer/FuzzedDataProvider.h>

#include <set>

#include "control/com/control_object.h"
#include "control/com/dispatch_table.h"
#include "control/com/identifiers.h"
#include "platform/com/ptr.h"

using namespace mbus::com;
using namespace mbus::control;

namespace {

IDispatch* Control() {
    static IDispatch* control = [] {
        void* raw = nullptr;
        if (GetClassObject(CLSID_MBusOrlX4, IID_IClassFactory, &raw) != S_OK) abort();
        auto factory = ComPtr<IClassFactory>::Adopt(raw);
        if (factory->CreateInstance(nullptr, IID_IDispatch, &raw) != S_OK) abort();
        return static_cast<IDispatch*>(raw);
    }();
    return control;
}

const std::set<std::string> kLeftOut = {"COMOpen", "APPInitCom", "APPDelay", "APPExit", "APPDebugFileName"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    IDispatch* control = Control();
    const auto members = Members();
    for (int call = 0; call < 8 && in.remaining_bytes() > 0; ++call) {
        const Member& m = members[in.ConsumeIntegralInRange<std::size_t>(0, members.size() - 1)];
        if (kLeftOut.count(m.name) != 0) continue;
        const bool put = m.kind == Kind::GetPut && in.ConsumeBool();
        std::vector<Parameter> params = ParametersOf(m);
        if (put) params.push_back({m.value, "value"});
        // Now and then one argument too many or too few.
        const int shape = in.ConsumeIntegralInRange<int>(0, 15);
        if (shape == 0) params.push_back({Type::Long, "extra"});
        if (shape == 1 && !params.empty()) params.pop_back();
        std::vector<VARIANT> args;
        for (const Parameter& p : params) {
            const bool wrongType = in.ConsumeIntegralInRange<int>(0, 31) == 0;
            const bool text = (p.type == Type::String) != wrongType;
            args.push_back(text ? MakeVariantBstr(in.ConsumeRandomLengthString(600))
                                : MakeVariantI4(in.ConsumeIntegral<int32_t>()));
        }
        std::reverse(args.begin(), args.end());  // the last argument first
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS dp{args.data(), put ? &named : nullptr, static_cast<UINT>(args.size()), put ? 1u : 0u};
        VARIANT result;
        VariantInit(&result);
        const WORD flags = put ? DISPATCH_PROPERTYPUT : m.kind == Kind::Method ? DISPATCH_METHOD : DISPATCH_PROPERTYGET;
        control->Invoke(m.id, IID_NULL, 0, flags, &dp, &result, nullptr, nullptr);
        VariantClear(&result);
        for (VARIANT& a : args) VariantClear(&a);
    }
    return 0;
}
