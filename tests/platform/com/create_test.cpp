// Creation end to end: the test component (test_component.cpp) is
// registered with regsvr in a scratch registry, created by class identifier
// and by ProgID, called through its dispatch interface and released; then
// the ways creation fails.

#include "platform/com/create.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <stdlib.h>

#include <string>
#include <thread>
#include <vector>

#include "com_test_support.h"
#include "platform/com/registry.h"

namespace mbus::com {
namespace {

using testing::ReadFile;
using testing::RunCommand;
using testing::RunResult;
using testing::ScopedEnv;
using testing::ScratchDirectory;

// The class of the test component and its ProgIDs.
constexpr CLSID kCalculatorClass = {0x6B1D2E4A, 0x3C5F, 0x4A7B, {0x9D, 0x8E, 0x1F, 0x2A, 0x3B, 0x4C, 0x5D, 0x6E}};
constexpr const char* kProgId = "MBusTest.Calculator.1";
constexpr const char* kIndependentProgId = "MBusTest.Calculator";
constexpr DISPID kDispidAdd = 1;
constexpr DISPID kDispidLabel = 2;
// A class that no library serves.
constexpr CLSID kOtherClass = {0x0F1E2D3C, 0x4B5A, 0x6978, {0x87, 0x96, 0xA5, 0xB4, 0xC3, 0xD2, 0xE1, 0xF0}};

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

std::string InprocKey(const CLSID& clsid) {
    return "HKEY_CLASSES_ROOT\\CLSID\\" + FormatGuid(clsid) + "\\InprocServer32";
}

// Objects of the test component alive now (the component counts them).
long LiveObjects() {
    void* handle = ::dlopen(MBUS_TEST_COMPONENT, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return -1;  // not loaded: no objects
    long count = -1;
    if (void* symbol = ::dlsym(handle, "MBusTestLiveObjects")) count = reinterpret_cast<long (*)()>(symbol)();
    ::dlclose(handle);
    return count;
}

HRESULT CanUnloadNow() {
    void* handle = ::dlopen(MBUS_TEST_COMPONENT, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return E_FAIL;
    HRESULT hr = E_FAIL;
    if (void* symbol = ::dlsym(handle, "DllCanUnloadNow")) hr = reinterpret_cast<DllCanUnloadNowFunction>(symbol)();
    ::dlclose(handle);
    return hr;
}

// Calls Add(a, b) by DISPID.
HRESULT CallAdd(IDispatch* object, VARIANT a, VARIANT b, VARIANT* result, UINT* argError = nullptr) {
    VARIANT args[2] = {b, a};  // last argument first
    DISPPARAMS params{args, nullptr, 2, 0};
    UINT ignored = 0;
    return object->Invoke(kDispidAdd, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, nullptr,
                          argError != nullptr ? argError : &ignored);
}

HRESULT PutLabel(IDispatch* object, const std::string& utf8) {
    VARIANT value = MakeVariantBstr(utf8);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    const HRESULT hr =
        object->Invoke(kDispidLabel, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
    VariantClear(&value);
    return hr;
}

HRESULT GetLabel(IDispatch* object, std::string* utf8) {
    VARIANT result;
    VariantInit(&result);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    const HRESULT hr =
        object->Invoke(kDispidLabel, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
    if (SUCCEEDED(hr) && result.vt == VT_BSTR) *utf8 = BstrToUtf8(result.bstrVal);
    VariantClear(&result);
    return hr;
}

class Creation : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scratch_.Ok()); }

    RunResult Regsvr(const std::string& arguments) {
        return RunCommand(scratch_, std::string(Quoted(MBUS_REGSVR)) + " " + arguments);
    }
    void RegisterComponent() {
        const RunResult run = Regsvr(Quoted(MBUS_TEST_COMPONENT));
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }

    ScratchDirectory scratch_;
    std::string registryPath_ = scratch_.File("registry");
    ScopedEnv registryEnv_{"MBUS_REGISTRY", registryPath_};
};

// ---- Registration --------------------------------------------------------

TEST_F(Creation, RegsvrWritesTheClassAndProgIdsOfTheLibrary) {
    const RunResult run = Regsvr(Quoted(MBUS_TEST_COMPONENT));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("registered"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(registryPath_), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "");

    Registry registry;
    const std::string classKey = "HKCR\\CLSID\\" + FormatGuid(kCalculatorClass);
    EXPECT_EQ(registry.GetValue(InprocKey(kCalculatorClass)), RealPath(MBUS_TEST_COMPONENT));
    EXPECT_EQ(registry.GetValue(InprocKey(kCalculatorClass), "ThreadingModel"), "Free");
    EXPECT_EQ(registry.GetValue(classKey + "\\ProgID"), kProgId);
    EXPECT_EQ(registry.GetValue(classKey + "\\VersionIndependentProgID"), kIndependentProgId);
    EXPECT_TRUE(registry.KeyExists(classKey + "\\Programmable"));
    EXPECT_EQ(registry.GetValue(std::string("HKCR\\") + kProgId + "\\CLSID"), FormatGuid(kCalculatorClass));
    EXPECT_EQ(registry.GetValue(std::string("HKCR\\") + kIndependentProgId + "\\CurVer"), kProgId);
    EXPECT_EQ(registry.Problems(), "");
    // The file is readable text.
    EXPECT_NE(ReadFile(registryPath_).find("ThreadingModel=Free\n"), std::string::npos);
}

TEST_F(Creation, RegsvrUnregisterRemovesTheKeysAndKeepsOthers) {
    ASSERT_EQ(Registry().SetValue("HKCR\\CLSID\\" + FormatGuid(kOtherClass), "", "someone else's"), S_OK);
    RegisterComponent();
    const RunResult run = Regsvr("-u " + Quoted(MBUS_TEST_COMPONENT));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("unregistered"), std::string::npos) << run.out;
    Registry registry;
    EXPECT_FALSE(registry.KeyExists("HKCR\\CLSID\\" + FormatGuid(kCalculatorClass)));
    EXPECT_FALSE(registry.KeyExists(std::string("HKCR\\") + kProgId));
    EXPECT_FALSE(registry.KeyExists(std::string("HKCR\\") + kIndependentProgId));
    EXPECT_EQ(registry.GetValue("HKCR\\CLSID\\" + FormatGuid(kOtherClass)), "someone else's");

    void* object = nullptr;
    EXPECT_EQ(CreateInstance(kCalculatorClass, IID_IDispatch, &object), REGDB_E_CLASSNOTREG);
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(kProgId, &clsid), CO_E_CLASSSTRING);
}

TEST_F(Creation, RegisteringTwiceGivesTheSameFile) {
    RegisterComponent();
    const std::string once = ReadFile(registryPath_);
    RegisterComponent();
    EXPECT_EQ(ReadFile(registryPath_), once);
}

TEST_F(Creation, TheLibrarysOwnRegisterFunctionWorksWithoutRegsvr) {
    void* handle = ::dlopen(MBUS_TEST_COMPONENT, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    auto reg = reinterpret_cast<DllRegisterServerFunction>(::dlsym(handle, "DllRegisterServer"));
    auto unreg = reinterpret_cast<DllUnregisterServerFunction>(::dlsym(handle, "DllUnregisterServer"));
    ASSERT_NE(reg, nullptr);
    ASSERT_NE(unreg, nullptr);
    EXPECT_EQ(reg(), S_OK);
    EXPECT_EQ(Registry().GetValue(InprocKey(kCalculatorClass)), RealPath(MBUS_TEST_COMPONENT));
    EXPECT_EQ(unreg(), S_OK);
    EXPECT_FALSE(Registry().KeyExists(InprocKey(kCalculatorClass)));
    ::dlclose(handle);
}

// ---- Creating and calling ------------------------------------------------

TEST_F(Creation, CreateByClassIdAndCallByDispid) {
    RegisterComponent();
    void* raw = nullptr;
    ASSERT_EQ(CreateInstance(kCalculatorClass, IID_IDispatch, &raw), S_OK) << LastCreateError();
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(LastCreateError(), "");
    IDispatch* calculator = static_cast<IDispatch*>(raw);
    EXPECT_EQ(LiveObjects(), 1);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);

    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(CallAdd(calculator, MakeVariantI4(2), MakeVariantI4(40), &result), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 42);

    // Arguments of other types are converted by the callee.
    VARIANT five = MakeVariantBstr("5");
    ASSERT_EQ(CallAdd(calculator, five, MakeVariantI4(-8), &result), S_OK);
    EXPECT_EQ(result.lVal, -3);
    VariantClear(&five);

    std::string label;
    EXPECT_EQ(GetLabel(calculator, &label), S_OK);
    EXPECT_EQ(label, "");
    const std::string text = "W\xC3\xA4rmez\xC3\xA4hler \xF0\x9F\x98\x80";  // non-BMP at the end
    ASSERT_EQ(PutLabel(calculator, text), S_OK);
    EXPECT_EQ(GetLabel(calculator, &label), S_OK);
    EXPECT_EQ(label, text);

    EXPECT_EQ(calculator->Release(), 0u);
    EXPECT_EQ(LiveObjects(), 0);
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(Creation, NamesAreFoundWithoutRegardToCase) {
    RegisterComponent();
    ComPtr<IDispatch> calculator;
    ASSERT_EQ(CreateInstance(kCalculatorClass, IID_IDispatch, &calculator), S_OK) << LastCreateError();
    const OLECHAR* names[] = {u"aDD"};
    DISPID id = 0;
    EXPECT_EQ(calculator->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, kDispidAdd);
    const OLECHAR* label[] = {u"label"};
    EXPECT_EQ(calculator->GetIDsOfNames(IID_NULL, label, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, kDispidLabel);
    const OLECHAR* unknown[] = {u"Subtract"};
    EXPECT_EQ(calculator->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);
    UINT count = 7;
    EXPECT_EQ(calculator->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
}

TEST_F(Creation, InvokeRefusesWhatItCannotServe) {
    RegisterComponent();
    ComPtr<IDispatch> calculator;
    ASSERT_EQ(CreateInstance(kCalculatorClass, IID_IDispatch, &calculator), S_OK) << LastCreateError();
    VARIANT result;
    VariantInit(&result);
    UINT argError = 99;
    VARIANT word = MakeVariantBstr("seven");
    EXPECT_EQ(CallAdd(calculator.Get(), MakeVariantI4(1), word, &result, &argError), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argError, 0u);  // the position in rgvarg: b, the last argument
    VariantClear(&word);
    EXPECT_EQ(CallAdd(calculator.Get(), MakeVariantI4(0x7FFFFFFF), MakeVariantI4(1), &result), DISP_E_OVERFLOW);

    VARIANT one = MakeVariantI4(1);
    DISPPARAMS single{&one, nullptr, 1, 0};
    EXPECT_EQ(calculator->Invoke(kDispidAdd, IID_NULL, 0, DISPATCH_METHOD, &single, &result, nullptr, nullptr),
              DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(calculator->Invoke(99, IID_NULL, 0, DISPATCH_METHOD, &single, &result, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(calculator->Invoke(kDispidAdd, IID_IDispatch, 0, DISPATCH_METHOD, &single, &result, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
    EXPECT_EQ(result.vt, VT_EMPTY);
}

TEST_F(Creation, QueryInterfaceAnswersOnlyForItsInterfaces) {
    RegisterComponent();
    ComPtr<IUnknown> object;
    ASSERT_EQ(CreateInstance(kCalculatorClass, IID_IUnknown, &object), S_OK) << LastCreateError();
    ComPtr<IDispatch> dispatch;
    EXPECT_EQ(object.As(IID_IDispatch, &dispatch), S_OK);
    ComPtr<IUnknown> factory;
    EXPECT_EQ(object.As(IID_IClassFactory, &factory), E_NOINTERFACE);
    EXPECT_FALSE(factory);

    void* raw = reinterpret_cast<void*>(1);
    EXPECT_EQ(CreateInstance(kCalculatorClass, IID_ISupportErrorInfo, &raw), E_NOINTERFACE);
    EXPECT_EQ(raw, nullptr);
    EXPECT_NE(LastCreateError().find("interface not supported"), std::string::npos) << LastCreateError();
    EXPECT_EQ(CreateInstance(kCalculatorClass, IID_IDispatch, static_cast<void**>(nullptr)), E_POINTER);
}

TEST_F(Creation, AggregationIsRefusedByTheFactory) {
    RegisterComponent();
    ComPtr<IUnknown> outer;
    ASSERT_EQ(CreateInstance(kCalculatorClass, IID_IUnknown, &outer), S_OK);
    void* raw = nullptr;
    EXPECT_EQ(CreateInstance(kCalculatorClass, outer.Get(), IID_IUnknown, &raw), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(raw, nullptr);
}

TEST_F(Creation, TheClassObjectCanBeAskedForDirectly) {
    RegisterComponent();
    void* raw = nullptr;
    ASSERT_EQ(GetClassObject(kCalculatorClass, IID_IClassFactory, &raw), S_OK) << LastCreateError();
    ComPtr<IClassFactory> factory = ComPtr<IClassFactory>::Adopt(raw);
    EXPECT_EQ(factory->LockServer(1), S_OK);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(0), S_OK);
    void* object = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, &object), S_OK);
    static_cast<IDispatch*>(object)->Release();
    factory.Reset();
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(Creation, CreateByProgIdAndByVersionIndependentProgId) {
    RegisterComponent();
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(kProgId, &clsid), S_OK) << LastCreateError();
    EXPECT_EQ(clsid, kCalculatorClass);
    clsid = CLSID_NULL;
    ASSERT_EQ(CLSIDFromProgID(u"mbustest.calculator", &clsid), S_OK) << LastCreateError();  // through CurVer
    EXPECT_EQ(clsid, kCalculatorClass);

    ComPtr<IDispatch> calculator;
    ASSERT_EQ(CreateInstance(clsid, IID_IDispatch, &calculator), S_OK) << LastCreateError();
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(CallAdd(calculator.Get(), MakeVariantI4(20), MakeVariantI4(22), &result), S_OK);
    EXPECT_EQ(result.lVal, 42);
}

TEST_F(Creation, UnknownOrBrokenProgIdsAreInvalidClassStrings) {
    CLSID clsid = kCalculatorClass;
    EXPECT_EQ(CLSIDFromProgID("No.Such.ProgId", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(clsid, CLSID_NULL);
    EXPECT_NE(LastCreateError().find("No.Such.ProgId"), std::string::npos) << LastCreateError();
    EXPECT_EQ(CLSIDFromProgID("", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID("HKCR\\CLSID", &clsid), CO_E_CLASSSTRING);

    Registry registry;
    ASSERT_EQ(registry.SetValue("HKCR\\Broken.ProgId\\CLSID", "", "not a guid"), S_OK);
    ASSERT_EQ(registry.SetValue("HKCR\\Loop.A\\CurVer", "", "Loop.B"), S_OK);
    ASSERT_EQ(registry.SetValue("HKCR\\Loop.B\\CurVer", "", "Loop.A"), S_OK);
    EXPECT_EQ(CLSIDFromProgID("Broken.ProgId", &clsid), CO_E_CLASSSTRING);
    EXPECT_NE(LastCreateError().find("not a GUID"), std::string::npos) << LastCreateError();
    EXPECT_EQ(CLSIDFromProgID("Loop.A", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(static_cast<LPCOLESTR>(nullptr), &clsid), E_POINTER);
}

TEST_F(Creation, ObjectsAreCreatedCalledAndReleasedFromManyThreads) {
    RegisterComponent();
    constexpr int kThreads = 4;
    constexpr int kRounds = 50;
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    ComPtr<IDispatch> shared;
    ASSERT_EQ(CreateInstance(kCalculatorClass, IID_IDispatch, &shared), S_OK) << LastCreateError();
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                ComPtr<IDispatch> own;
                if (FAILED(CreateInstance(kCalculatorClass, IID_IDispatch, &own))) {
                    ++failures[t];
                    continue;
                }
                ComPtr<IDispatch> copy = shared;  // references counted from several threads at once
                VARIANT result;
                VariantInit(&result);
                if (FAILED(CallAdd(own.Get(), MakeVariantI4(t), MakeVariantI4(i), &result)) || result.lVal != t + i)
                    ++failures[t];
                if (FAILED(PutLabel(copy.Get(), "thread " + std::to_string(t)))) ++failures[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
    std::string label;
    EXPECT_EQ(GetLabel(shared.Get(), &label), S_OK);
    EXPECT_EQ(label.rfind("thread ", 0), 0u);
    shared.Reset();
    EXPECT_EQ(LiveObjects(), 0);
}

// ---- Failures ------------------------------------------------------------

TEST_F(Creation, AClassThatIsNotRegisteredIsReportedSo) {
    void* raw = reinterpret_cast<void*>(1);
    EXPECT_EQ(CreateInstance(kOtherClass, IID_IDispatch, &raw), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(raw, nullptr);
    const std::string why = LastCreateError();
    EXPECT_NE(why.find(FormatGuid(kOtherClass)), std::string::npos) << why;
    EXPECT_NE(why.find(registryPath_), std::string::npos) << why;
    EXPECT_NE(why.find("regsvr"), std::string::npos) << why;

    // A class key without a library path is no better.
    ASSERT_EQ(Registry().SetValue(InprocKey(kOtherClass), "ThreadingModel", "Free"), S_OK);
    EXPECT_EQ(CreateInstance(kOtherClass, IID_IDispatch, &raw), REGDB_E_CLASSNOTREG);
}

TEST_F(Creation, AMissingLibraryIsReportedWithTheLoadersMessage) {
    const std::string missing = scratch_.File("libmissing.so");
    ASSERT_EQ(Registry().SetValue(InprocKey(kOtherClass), "", missing), S_OK);
    void* raw = nullptr;
    EXPECT_EQ(CreateInstance(kOtherClass, IID_IDispatch, &raw), CO_E_DLLNOTFOUND);
    const std::string why = LastCreateError();
    EXPECT_NE(why.find("cannot load " + missing), std::string::npos) << why;
    EXPECT_NE(why.find("No such file"), std::string::npos) << why;  // the loader's own words

    // Not a shared library at all.
    const std::string text = scratch_.WriteFile("libtext.so", "just text\n");
    ASSERT_EQ(Registry().SetValue(InprocKey(kOtherClass), "", text), S_OK);
    EXPECT_EQ(CreateInstance(kOtherClass, IID_IDispatch, &raw), CO_E_DLLNOTFOUND);
    EXPECT_NE(LastCreateError().find(text), std::string::npos) << LastCreateError();
}

TEST_F(Creation, ALibraryWithoutTheEntryPointIsNotAComponent) {
    ASSERT_EQ(Registry().SetValue(InprocKey(kOtherClass), "", MBUS_TEST_PLAIN_LIBRARY), S_OK);
    void* raw = nullptr;
    EXPECT_EQ(CreateInstance(kOtherClass, IID_IDispatch, &raw), CO_E_ERRORINDLL);
    EXPECT_NE(LastCreateError().find("DllGetClassObject"), std::string::npos) << LastCreateError();
}

TEST_F(Creation, ALibraryAskedForAClassItDoesNotServeSaysSo) {
    ASSERT_EQ(Registry().SetValue(InprocKey(kOtherClass), "", MBUS_TEST_COMPONENT), S_OK);
    void* raw = nullptr;
    EXPECT_EQ(CreateInstance(kOtherClass, IID_IDispatch, &raw), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(raw, nullptr);
}

TEST_F(Creation, AnUnreadableRegistryIsAReadError) {
    ASSERT_EQ(::mkdir(registryPath_.c_str(), 0700), 0);  // there, but not a file
    void* raw = nullptr;
    EXPECT_EQ(CreateInstance(kCalculatorClass, IID_IDispatch, &raw), REGDB_E_READREGDB);
    EXPECT_NE(LastCreateError().find(registryPath_ + ": is a directory"), std::string::npos) << LastCreateError();
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(kProgId, &clsid), REGDB_E_READREGDB);
}

TEST_F(Creation, ModulePathFindsTheFileOfAnAddress) {
    EXPECT_EQ(ModulePath(reinterpret_cast<const void*>(&RealPath)), RealPath("/proc/self/exe"));
    EXPECT_EQ(ModulePath(nullptr), "");
}

// ---- regsvr's command line -----------------------------------------------

TEST_F(Creation, RegsvrUsageAndFailuresHaveTheirExitCodes) {
    RunResult run = Regsvr("");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("no library given"), std::string::npos) << run.err;

    run = Regsvr("--help");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("usage: regsvr"), std::string::npos) << run.out;

    run = Regsvr("--frobnicate x.so");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("unknown option \"--frobnicate\""), std::string::npos) << run.err;

    run = Regsvr("a.so b.so");
    EXPECT_EQ(run.exitCode, 2);

    run = Regsvr(Quoted(scratch_.File("libmissing.so")));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("cannot load"), std::string::npos) << run.err;

    run = Regsvr(Quoted(MBUS_TEST_PLAIN_LIBRARY));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("does not export DllRegisterServer"), std::string::npos) << run.err;
    run = Regsvr("-u " + Quoted(MBUS_TEST_PLAIN_LIBRARY));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("does not export DllUnregisterServer"), std::string::npos) << run.err;

    run = Regsvr("-q " + Quoted(MBUS_TEST_COMPONENT));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");
}

TEST_F(Creation, RegsvrReportsAFailedRegistration) {
    // The registry's directory would have to be below a plain file.
    const std::string unwritable = scratch_.WriteFile("plain", "") + "/registry";
    ScopedEnv env("MBUS_REGISTRY", unwritable);
    const RunResult run = Regsvr(Quoted(MBUS_TEST_COMPONENT));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("DllRegisterServer of"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("0x80040201"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(unwritable), std::string::npos) << run.err;
}

TEST_F(Creation, RegistrationOverAFileWithUnreadableLinesIsRefusedNamingTheLine) {
    const std::string text = "[HKCR\\Kept]\n@=x\nbroken line\n";
    scratch_.WriteFile("registry", text);
    const RunResult run = Regsvr(Quoted(MBUS_TEST_COMPONENT));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find(registryPath_ + ": line 3: "), std::string::npos) << run.err;
    // The file is left as it was, broken line and all.
    EXPECT_EQ(ReadFile(registryPath_), text);
    EXPECT_FALSE(std::filesystem::exists(registryPath_ + ".bak"));
}

}  // namespace
}  // namespace mbus::com
