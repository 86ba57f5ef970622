// The control object in-process: its class object and life cycle, channel
// selection, the option and utility properties, the text tables, the
// dispatch rules, and a conversation with a simulated bus.

#include <gtest/gtest.h>

#include <set>

#include "control/com/control_object.h"
#include "control/com/dispatch_table.h"
#include "control/com/identifiers.h"
#include "control/com/library.h"
#include "control/decode/text_tables.h"
#include "control/line/trace.h"
#include "control/link/radio.h"
#include "tests/control/com/dispatch_client.h"
#include "tests/control/engine/engine_test_support.h"

namespace mbus::control::test {
namespace {

using namespace mbus::com;

DispatchClient NewControl() { return NewInProcessControl(); }

const char* kWaterHex = "68151568080172785634120147010" "72A0000000413D2040000F616";

class Control : public ::testing::Test {
protected:
    void SetUp() override { link::SetRadioKeys(link::RadioKeys{}); }
    void TearDown() override {
        ResetTextTables();
        line::SetTraceFileName("");
    }
    DispatchClient c_ = NewControl();
};

TEST_F(Control, FreshLibrary) {
    EXPECT_EQ(c_.Long("APPChannel"), 0);
    EXPECT_EQ(c_.Long("APPVersion"), 134);
    EXPECT_EQ(c_.Long("COMPort"), 2);
    EXPECT_EQ(c_.Long("COMBaudrate"), 2400);
    EXPECT_EQ(c_.Long("COMParity"), 1);
    EXPECT_EQ(c_.Long("COMTimeoutParam"), 2);
    EXPECT_EQ(c_.Long("COMTimeoutByte"), 4);
    EXPECT_EQ(c_.Long("COMRetries"), 3);
    EXPECT_EQ(c_.Text("OPTDESKey"), "FFFFFFFFFFFFFFFF");
    EXPECT_EQ(c_.Long("APPReceiveTest"), 4);
    EXPECT_EQ(c_.Long("APPRetry"), 1);
    EXPECT_EQ(c_.Long("COMIsOpen"), 1);
    EXPECT_EQ(c_.Long("OPTNumberOfLanguages"), 10);
    EXPECT_EQ(c_.Long("OPXTestOptionsEnable"), 1);
    EXPECT_EQ(c_.Long("OPTFCBFCVoffat255"), 1);
    EXPECT_EQ(c_.Long("APPCField"), -1);
    EXPECT_EQ(c_.Text("APPRetrieveRawDataHex"), "");
    EXPECT_EQ(c_.Long("LOGMaxEntries"), 0);
    EXPECT_EQ(c_.Long("LOGUpperBound"), -1);
    EXPECT_EQ(c_.Text("LOGRetrieveRawDataHex", {0, -1}), "");
    EXPECT_EQ(c_.Long("SCRStatus"), 0);
    EXPECT_EQ(c_.Text("SCRSlaveSearchCurAddress"), "");
    EXPECT_EQ(c_.Long("TELStatus"), 0);
    EXPECT_EQ(c_.Long("SP1DownloadAllDataCurrentBlock"), 0);
    EXPECT_EQ(c_.Long("SP4YMODEMProgress"), 0);
}

TEST_F(Control, ChannelSelection) {
    c_.Put("COMPort", 7);
    c_.Put("APPChannel", 4);
    c_.Put("APPChannel", -1);
    EXPECT_EQ(c_.Long("APPChannel"), 0);
    c_.Put("APPChannel", 3);
    EXPECT_EQ(c_.Long("APPChannel"), 3);
    EXPECT_EQ(c_.Long("COMPort"), 2);
    c_.Put("APPChannel", 0);
    EXPECT_EQ(c_.Long("COMPort"), 7);

    // A second class-object request leaves channel 0 alone, with defaults.
    c_.Put("APPChannel", 1);
    c_.Put("APPChannel", 2);
    DispatchClient second = NewControl();
    EXPECT_EQ(second.Long("APPChannel"), 0);
    EXPECT_EQ(second.Long("COMPort"), 2);
    EXPECT_EQ(Library::Instance().ChannelAt(1), nullptr);
    EXPECT_EQ(Library::Instance().ChannelAt(2), nullptr);
    EXPECT_EQ(Library::Instance().ChannelAt(3), nullptr);
}

TEST_F(Control, LineParameterPuts) {
    c_.Put("COMTimeoutParam", 3);
    EXPECT_EQ(c_.Long("COMTimeoutParam"), 2);
    c_.Put("COMTimeoutParam", 0);
    EXPECT_EQ(c_.Long("COMTimeoutParam"), 0);
    c_.Put("COMBaudrate", 12345);
    EXPECT_EQ(c_.Long("COMBaudrate"), 12345);
    // Echo option: of the layer object, values outside 0..2 store 0.
    c_.Put("COMEchoOption", 2);
    EXPECT_EQ(c_.Long("COMEchoOption"), 2);
    c_.Put("COMEchoOption", 5);
    EXPECT_EQ(c_.Long("COMEchoOption"), 0);
    c_.Put("COMEndAtFrame", 7);
    EXPECT_EQ(c_.Long("COMEndAtFrame"), 1);
    c_.Put("COMEndAtFrame", 0);
    EXPECT_EQ(c_.Long("COMEndAtFrame"), 0);
    // Numbers given as text are converted.
    c_.Put("COMRetries", std::string("5"));
    EXPECT_EQ(c_.Long("COMRetries"), 5);
}

TEST_F(Control, Keys) {
    c_.Put("OPTDESKey", std::string("0123456789abcde"));
    c_.Put("OPTDESKey", std::string("0123456789abcdef0"));
    EXPECT_EQ(c_.Text("OPTDESKey"), "FFFFFFFFFFFFFFFF");
    c_.Put("OPTDESKey", std::string("0123456789abcdef"));
    EXPECT_EQ(c_.Text("OPTDESKey"), "0123456789ABCDEF");

    c_.Put("OPTKAKey", std::string("ABC"));
    EXPECT_EQ(c_.Text("OPTKAKey"), "ABC0000000000000");
    EXPECT_EQ(link::GetRadioKeys().kavosUserDigits, 4);
    c_.Put("OPTKAKey", std::string("112233445566778899"));
    EXPECT_EQ(c_.Text("OPTKAKey"), "1122334455667788");
    c_.Put("OPTKAPasswordOption", 2);
    EXPECT_EQ(c_.Long("OPTKAPasswordOption"), 2);
}

TEST_F(Control, DESProperties) {
    // FIPS 81 / NBS known answers.
    EXPECT_EQ(c_.Text("OPTDESEncryption", {1, std::string("133457799BBCDFF1"), std::string("0123456789ABCDEF")}),
              "85E813540F0AB405");
    EXPECT_EQ(c_.Text("OPTDESEncryption", {0, std::string("133457799bbcdff1"), std::string("85E813540F0AB405")}),
              "0123456789ABCDEF");
    EXPECT_EQ(c_.Text("OPTDESEncryption", {1, std::string("0123456789ABCD"), std::string("0123456789ABCDEF")}), "");
    EXPECT_EQ(c_.Text("OPTDESEncryption", {1, std::string("133457799BBCDFF1"), std::string("0123")}), "");

    // CBC with the vector in front, and a tail of 3 bytes that stays.
    const std::string key = "0123456789ABCDEF";
    const std::string plain = "1234567890ABCDEF" "4E6F772069732074" "68652074696D6520" "ABCDEF";
    const std::string cipher = c_.Text("OPTDESEncryptionCBC", {1, key, plain});
    EXPECT_EQ(cipher, "1234567890ABCDEF" "E5C7CDDE872BF27C" "43E934008C389C0F" "ABCDEF");
    EXPECT_EQ(c_.Text("OPTDESEncryptionCBC", {0, key, cipher}), plain);
    EXPECT_EQ(c_.Text("OPTDESEncryptionCBC", {1, std::string("01"), plain}), "");
}

TEST_F(Control, TestOptionsAreSeparateWords) {
    c_.Put("OPXBreakOption", 2);
    c_.Put("OPXREQUDStopByteTwice", 1);
    EXPECT_EQ(c_.Long("OPXBreakOption"), 2);
    EXPECT_EQ(c_.Long("OPXREQUDStopByteTwice"), 1);
    c_.Put("OPTLanguage", 10);
    EXPECT_EQ(c_.Long("LNGLanguage"), 0);
    c_.Put("LNGLanguage", 1);
    EXPECT_EQ(c_.Long("OPTLanguage"), 1);
    // A new class-object request puts them back.
    DispatchClient again = NewControl();
    EXPECT_EQ(again.Long("OPXBreakOption"), 0);
    EXPECT_EQ(again.Long("LNGLanguage"), 0);
}

TEST_F(Control, TextTables) {
    EXPECT_EQ(c_.Text("LNGMediumVar", {1, 7}), "Wasser");
    EXPECT_EQ(c_.Text("LNGMediumVar", {10, 7}), "");
    EXPECT_EQ(c_.Text("LNGMediumVar", {0, 32}), "");
    c_.Put("LNGMediumVar", std::string("Cold water"), {9, 7});
    EXPECT_EQ(c_.Text("LNGMediumVar", {9, 7}), "Cold_water");
    c_.Put("LNGMediumVar", std::string("Agua"), {3, 7});
    EXPECT_NE(c_.Text("LNGMediumVar", {3, 7}), "Agua");
    EXPECT_FALSE(c_.Text("LNGLayer7ErrorMessage", {0, 2}).empty());
    c_.Put("LNGLayer7ErrorMessage", std::string("Summe falsch"), {9, 2});
    EXPECT_EQ(c_.Text("LNGLayer7ErrorMessage", {9, 2}), "Summe falsch");
    EXPECT_EQ(c_.Text("LNGLayer7ErrorMessage", {0, 10}), "");
    EXPECT_FALSE(c_.Text("LNGLayer1ErrorMessage", {1, 0}).empty());
    EXPECT_FALSE(c_.Text("LNGUARTErrorMessage", {4}).empty());
}

// Texts of the user column keep as many characters as the cell has room
// for (its width less the terminating zero), however many bytes a
// character takes.
TEST_F(Control, UserTextsAreCutByCharacters) {
    c_.Put("LNGLayer7ErrorMessage", std::string("Ошибка приёма кадра данных"), {9, 2});
    EXPECT_EQ(c_.Text("LNGLayer7ErrorMessage", {9, 2}), "Ошибка приёма кадра");
    c_.Put("LNGLayer7ErrorMessage", std::string("Prüfsummenfehlerhäufung"), {9, 7});
    EXPECT_EQ(c_.Text("LNGLayer7ErrorMessage", {9, 7}), "Prüfsummenfehlerhäu");
    c_.Put("LNGUnitFixed", std::string("Кубических метров в час"), {9, 3});
    EXPECT_EQ(c_.Text("LNGUnitFixed", {9, 3}), "Кубических метров в");
    c_.Put("LNGMediumVar", std::string("Wärmezähler für Rücklauf und Vorlauf"), {9, 4});
    EXPECT_EQ(c_.Text("LNGMediumVar", {9, 4}), "Wärmezähler_für_Rücklauf_und_");
    c_.Put("LNGLayer1ErrorMessage", std::string(60, 'x'), {9, 1});
    EXPECT_EQ(c_.Text("LNGLayer1ErrorMessage", {9, 1}), std::string(49, 'x'));
    std::string cyrillic;
    for (int i = 0; i < 60; ++i) cyrillic += "ж";
    c_.Put("LNGLayer1ErrorMessage", cyrillic, {9, 1});
    EXPECT_EQ(c_.Text("LNGLayer1ErrorMessage", {9, 1}), cyrillic.substr(0, 49 * 2));
    // The decoder's texts in the user language are the cut texts.
    c_.Put("LNGLanguage", 9);
    EXPECT_EQ(c_.Text("ML7ExtractMedium", {1, 4}), "Wärmezähler_für_Rücklauf_und_");
    c_.Put("LNGLanguage", 0);
}

TEST_F(Control, ApplicationLayerConversions) {
    EXPECT_EQ(c_.Long("ML7CalculateManufacturer", {std::string("FIX")}), 0x1938);
    EXPECT_EQ(c_.Long("ML7CalculateManufacturer", {std::string("UNK")}), 0x55CB);
    EXPECT_EQ(c_.Text("ML7CalculateManufacturerAsc", {std::string("FIX")}), "1938");
    EXPECT_EQ(c_.Text("ML7ExtractManufacturer", {0x1938}), "FIX");
    EXPECT_EQ(c_.Text("ML7ExtractManufacturerAsc", {std::string("1938")}), "FIX");
    EXPECT_EQ(c_.Text("ML7ChangeMediumLanguage", {0, 1, std::string("Heat_(inlet)")}), "Wärme_(Vorlauf)");
    EXPECT_EQ(c_.Text("ML7ChangeMediumLanguage", {0, 1, std::string("Nothing")}), "Nothing");
    EXPECT_EQ(c_.Long("ML7CalculateMedium", {1, std::string("Water")}), 7);
    EXPECT_EQ(c_.Text("ML7CalculateMediumAsc", {1, std::string("Water")}), "07");
    EXPECT_EQ(c_.Text("ML7ExtractMediumAsc", {1, std::string("7")}), "Water");
    EXPECT_EQ(c_.Long("APPHexAscToLong", {std::string("1F")}), 31);
    EXPECT_EQ(c_.Text("APPLongToHexAsc", {31}), "1F");
}

TEST_F(Control, TelegramHandedInAsText) {
    c_.Call("APPInterpretTelegramHex", {std::string(kWaterHex)});
    EXPECT_EQ(c_.Long("APPReceiveTest"), 4) << "no transaction ran";
    EXPECT_EQ(c_.Long("APPDeviceID"), 0x12345678);
    EXPECT_EQ(c_.Text("APPManufacturerIDAsc"), "QXA");
    EXPECT_EQ(c_.Text("APPMediumAsc"), "Water");
    EXPECT_EQ(c_.Long("APPDataRecordNumber"), 1);
    EXPECT_EQ(c_.Text("APPValueDec", {1}), "1234");
    EXPECT_EQ(c_.Long("APPVIB", {1, 1}), 0x13);
    EXPECT_EQ(c_.Long("APPVIB", {1, 2}), -1);
    EXPECT_EQ(c_.Text("APPRetrieveCookedDataHex2"),
              "03010108017212345678QXA012A00000007Water|00000000000000000000000000000000040013|1234|");
    EXPECT_EQ(c_.Long("ML2CField"), 0x08);
    EXPECT_EQ(c_.Long("ML2CIField"), 0x72);
    EXPECT_EQ(c_.Long("ML2DataLen"), 27);
    EXPECT_EQ(c_.Text("ML2Data"), kWaterHex);
    EXPECT_EQ(c_.Long("APPFollowingTelegram"), 0);

    // Decimal triples give the same telegram; a text of one character does nothing.
    std::string dec;
    for (std::size_t i = 0; i < std::string(kWaterHex).size(); i += 2) {
        const int b = std::stoi(std::string(kWaterHex).substr(i, 2), nullptr, 16);
        char triple[4];
        std::snprintf(triple, sizeof triple, "%03d", b);
        dec += triple;
    }
    c_.Call("APPInterpretTelegramHex", {std::string("E5")});
    EXPECT_EQ(c_.Long("ML2CField"), -1);
    c_.Call("APPInterpretTelegramDec", {dec});
    EXPECT_EQ(c_.Long("APPDeviceID"), 0x12345678);
    c_.Call("APPInterpretTelegramHex", {std::string("E")});
    EXPECT_EQ(c_.Long("APPDeviceID"), 0x12345678);
    // A pair that is no hexadecimal number is dropped.
    c_.Call("APPInterpretTelegramHex", {std::string("zzE5")});
    EXPECT_EQ(c_.Long("ML2DataLen"), 1);
}

TEST_F(Control, UtilityProperties) {
    c_.Put("APPDebugFileName", std::string("/tmp/trace.txt"));
    EXPECT_EQ(c_.Text("APPDebugFileName"), "/tmp/trace.txt");
    EXPECT_EQ(line::TraceFileName(), "/tmp/trace.txt");
    c_.Put("APPDebugFileName", std::string(400, 'x'));
    EXPECT_EQ(c_.Text("APPDebugFileName").size(), 289u);
    EXPECT_EQ(c_.Text("OPTCalcVIFUnitWithoutMultiplier", {std::string("14")}), "13");
    c_.Put("ML1SendBufferStr", std::string("105B015C16"));
    EXPECT_EQ(c_.Long("ML1SendByteNum"), 5);
    EXPECT_EQ(c_.Long("ML1SendBuffer", {1}), 0x5B);
    EXPECT_EQ(c_.Long("ML1SendBuffer", {6144}), -1);
    EXPECT_EQ(c_.Text("ML1SendBufferStr"), "105B015C16");
}

TEST_F(Control, DispatchRules) {
    EXPECT_EQ(c_.Id("appversion"), 143);
    EXPECT_EQ(c_.Id("AppVersion"), 143);
    EXPECT_EQ(c_.Id("NoSuchMember"), DISPID_UNKNOWN);
    VARIANT r;
    EXPECT_EQ(c_.Invoke("APPValueDec", DISPATCH_PROPERTYGET, {}, &r), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(c_.Invoke("APPValueDec", DISPATCH_PROPERTYGET, {std::string("one")}, &r), DISP_E_TYPEMISMATCH);
    const Arg value = 1;
    EXPECT_EQ(c_.Invoke("APPVersion", DISPATCH_PROPERTYPUT, {}, &r, &value), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(c_.Get()->Invoke(9999, IID_NULL, 0, DISPATCH_METHOD, nullptr, &r, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    // Parameter names resolve too.
    const std::u16string names[] = {u"APPSelect", u"Medium", u"mode"};
    const OLECHAR* raw[] = {names[0].c_str(), names[1].c_str(), names[2].c_str()};
    DISPID ids[3];
    EXPECT_EQ(c_.Get()->GetIDsOfNames(IID_NULL, raw, 3, 0, ids), S_OK);
    EXPECT_EQ(ids[0], 153);
    EXPECT_EQ(ids[1], 4);
    EXPECT_EQ(ids[2], 0);
    ComPtr<ISupportErrorInfo> errors;
    void* p = nullptr;
    ASSERT_EQ(c_.Get()->QueryInterface(IID_ISupportErrorInfo, &p), S_OK);
    errors = ComPtr<ISupportErrorInfo>::Adopt(p);
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IMBusOrlX4), S_OK);
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
}

TEST(DispatchTable, EveryMemberOnceInVirtualTableOrder) {
    std::set<DISPID> ids;
    std::set<std::string> names;
    DISPID last = 0;
    int built = 0;
    for (const Member& m : Members()) {
        EXPECT_GT(m.id, last) << m.name;
        last = m.id;
        ids.insert(m.id);
        names.insert(m.name);
        EXPECT_EQ(FindMember(m.id), &m);
        EXPECT_EQ(FindMember(m.name), &m);
        if (m.kind == Kind::GetPut) {
            EXPECT_EQ(m.put != nullptr, m.get != nullptr) << m.name;
        }
        if (m.kind == Kind::Method) {
            EXPECT_EQ(m.value, Type::None) << m.name;
        }
        built += m.Built() ? 1 : 0;
    }
    EXPECT_EQ(ids.size(), Members().size());
    EXPECT_EQ(names.size(), Members().size());
    // 1..281 without 214.
    EXPECT_EQ(Members().size(), 280u);
    EXPECT_EQ(ids.count(214), 0u);
    EXPECT_EQ(built, 280) << "every member is served";

    const std::string idl = DescribeTypeLibrary();
    EXPECT_NE(idl.find("[id(153)] HRESULT APPSelect([in] long Mode, [in] BSTR DeviceID, [in] BSTR Manufacturer, "
                       "[in] BSTR Generation, [in] BSTR Medium);"),
              std::string::npos);
    EXPECT_NE(idl.find("[id(144), propput] HRESULT APPChannel([in] long newValue);"), std::string::npos);
    EXPECT_NE(idl.find("[id(59), propget] HRESULT APPValueDec([in] long DRNumber, [out, retval] BSTR* pVal);"),
              std::string::npos);
    EXPECT_NE(idl.find("[id(175)] HRESULT SP1Login([in] BSTR Password);\n"),
              std::string::npos);
    EXPECT_LT(idl.find("id(1)"), idl.find("id(280)"));
}

TEST(ControlLifecycle, ClassObjectAndUnloadRule) {
    void* raw = nullptr;
    EXPECT_EQ(GetClassObject(IID_IDispatch, IID_IClassFactory, &raw), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(raw, nullptr);
    {
        DispatchClient c = NewControl();
        EXPECT_EQ(CanUnloadNow(), S_FALSE);
    }
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

// ---- With a simulated bus ---------------------------------------------------------

int WaitForTransaction(const DispatchClient& c) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int r;
    while ((r = c.Long("APPReceiveTest")) == 255 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return r;
}

TEST_F(Control, ConversationWithSimulatedSlaves) {
    engine::test::SimulatedPorts ports(1, "control-test-");
    ports.Bus(1).AddSlave("primary=1 id=11111111 man=QXA version=01 medium=07 records=0C1378563412");
    ports.Bus(1).AddSlave("primary=2 id=22222222 man=QXB version=14 medium=04 records=0C0611470000");
    c_.Put("COMPort", 1);
    c_.Call("COMOpen");
    ASSERT_EQ(c_.Long("COMIsOpen"), 0);

    c_.Call("APPREQUD2", {2});
    EXPECT_EQ(WaitForTransaction(c_), 3);
    EXPECT_EQ(c_.Long("APPDeviceID"), 0x22222222);
    EXPECT_EQ(c_.Text("APPValueDec", {1}), "00004711");
    EXPECT_EQ(c_.Long("ML2ReceivedSomething"), 1);

    c_.Call("APPSelect", {0, std::string("11111111"), std::string("FFFF"), std::string("FF"), std::string("FF")});
    EXPECT_EQ(WaitForTransaction(c_), 0);
    c_.Call("APPREQUD2", {253});
    EXPECT_EQ(WaitForTransaction(c_), 3);
    EXPECT_EQ(c_.Text("APPManufacturerIDAsc"), "QXA");
    // Nobody at 9: retries, then the fault; APPBreak afterwards changes nothing.
    c_.Put("COMRetries", 2);
    c_.Call("APPREQUD1", {9});
    EXPECT_EQ(WaitForTransaction(c_), 4);
    EXPECT_EQ(c_.Long("APPReceiveError") & 1, 1);
    c_.Call("APPBreak");
    EXPECT_EQ(c_.Long("APPReceiveTest"), 4);
    EXPECT_EQ(c_.Long("APPDeviceID"), 0x11111111) << "a fault replaces no telegram";

    c_.Call("APPDeSelect");
    EXPECT_EQ(WaitForTransaction(c_), 0);
    EXPECT_EQ(c_.Long("APPDeviceID"), -1) << "the E5h of the deselection is the last answer";

    c_.Call("APPCloseCom");
    EXPECT_NE(c_.Long("COMIsOpen"), 0);
}

}  // namespace
}  // namespace mbus::control::test
