// A program linked against the control library (not loading it at run
// time) shares the exported globals with the library's own code: what the
// program writes into MBusLanguage, MBusOption or MBusTestOption is what the
// library reads, and what the library writes the program sees. Nothing of
// the control is linked in statically: only the shared library.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "control/com/identifiers.h"
#include "control/decode/options.h"
#include "control/decode/telegram.h"
#include "platform/com/types.h"

MBUS_COM_EXPORT mbus::com::HRESULT DllGetClassObject(const mbus::com::CLSID& clsid, const mbus::com::IID& iid,
                                                     void** object);

namespace mbus::control::test {
namespace {

// The control created through the library's exported class object, its
// properties read and written by name with plain long values.
class LinkedControl {
public:
    LinkedControl() {
        void* raw = nullptr;
        if (DllGetClassObject(CLSID_MBusOrlX4, com::IID_IClassFactory, &raw) != com::S_OK) return;
        auto* factory = static_cast<com::IClassFactory*>(raw);
        void* instance = nullptr;
        if (factory->CreateInstance(nullptr, com::IID_IDispatch, &instance) == com::S_OK)
            dispatch_ = static_cast<com::IDispatch*>(instance);
        factory->Release();
    }
    ~LinkedControl() {
        if (dispatch_ != nullptr) dispatch_->Release();
    }
    LinkedControl(const LinkedControl&) = delete;
    LinkedControl& operator=(const LinkedControl&) = delete;

    bool Present() const { return dispatch_ != nullptr; }
    int32_t Long(const char16_t* name) const {
        com::VARIANT result{};
        com::DISPPARAMS params{nullptr, nullptr, 0, 0};
        if (Invoke(name, com::DISPATCH_PROPERTYGET, &params, &result) != com::S_OK || result.vt != com::VT_I4)
            return -99999;
        return result.lVal;
    }
    void Put(const char16_t* name, int32_t value) const {
        com::VARIANT v{};
        v.vt = com::VT_I4;
        v.lVal = value;
        com::DISPID named = com::DISPID_PROPERTYPUT;
        com::DISPPARAMS params{&v, &named, 1, 1};
        EXPECT_EQ(Invoke(name, com::DISPATCH_PROPERTYPUT, &params, nullptr), com::S_OK);
    }

private:
    com::HRESULT Invoke(const char16_t* name, com::WORD flags, com::DISPPARAMS* params, com::VARIANT* result) const {
        const com::OLECHAR* names[] = {name};
        com::DISPID id = 0;
        const com::HRESULT hr = dispatch_->GetIDsOfNames(com::IID_NULL, names, 1, 0, &id);
        if (hr != com::S_OK) return hr;
        return dispatch_->Invoke(id, com::IID_NULL, 0, flags, params, result, nullptr, nullptr);
    }

    com::IDispatch* dispatch_ = nullptr;
};

class LinkedGlobals : public ::testing::Test {
protected:
    void TearDown() override {
        MBusLanguage.store(0);
        MBusOption.Reset();
        MBusTestOption.Reset();
    }
    LinkedControl control_;
};

TEST_F(LinkedGlobals, TheProgramsWritesReachTheLibrary) {
    ASSERT_TRUE(control_.Present());
    // The language: the library's own decoder names the medium in German.
    MBusLanguage.store(1);
    EXPECT_EQ(control_.Long(u"LNGLanguage"), 1);
    MBTelegram t;
    char text[64] = {};
    t.ExtractMedium(1, 0x07, text);
    EXPECT_STREQ(text, "Wasser");

    MBusOption.OPTMessagesOn.store(1);
    EXPECT_EQ(control_.Long(u"OPTMessagesOn"), 1);
    MBusTestOption.OPXBreakOption.store(1);
    EXPECT_EQ(control_.Long(u"OPXBreakOption"), 1);
}

TEST_F(LinkedGlobals, TheLibrarysWritesReachTheProgram) {
    ASSERT_TRUE(control_.Present());
    control_.Put(u"LNGLanguage", 4);
    EXPECT_EQ(MBusLanguage.load(), 4);
    control_.Put(u"OPTAutoREQUD2", 0);
    EXPECT_EQ(MBusOption.OPTAutoREQUD2.load(), 0);
}

}  // namespace
}  // namespace mbus::control::test
