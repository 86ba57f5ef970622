#include "platform/com/types.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <unordered_set>

#include "platform/com/ptr.h"

namespace mbus::com {
namespace {

// ---- Result codes --------------------------------------------------------

TEST(HResult, SuccessAndFailureFollowTheSignBit) {
    EXPECT_TRUE(SUCCEEDED(S_OK));
    EXPECT_TRUE(SUCCEEDED(S_FALSE));
    EXPECT_FALSE(FAILED(S_FALSE));
    EXPECT_TRUE(FAILED(E_NOINTERFACE));
    EXPECT_TRUE(FAILED(REGDB_E_CLASSNOTREG));
    EXPECT_EQ(static_cast<std::uint32_t>(E_NOINTERFACE), 0x80004002u);
    EXPECT_EQ(static_cast<std::uint32_t>(REGDB_E_CLASSNOTREG), 0x80040154u);
    EXPECT_EQ(static_cast<std::uint32_t>(CO_E_DLLNOTFOUND), 0x800401F8u);
    EXPECT_EQ(static_cast<std::uint32_t>(DISP_E_MEMBERNOTFOUND), 0x80020003u);
}

TEST(HResult, DescriptionsNameTheCodeAndItsMeaning) {
    EXPECT_EQ(DescribeHResult(REGDB_E_CLASSNOTREG), "0x80040154 (class not registered)");
    EXPECT_EQ(DescribeHResult(S_OK), "0x00000000 (success)");
    EXPECT_EQ(DescribeHResult(MakeFailure(0x80001234)), "0x80001234");
}

// ---- GUIDs ---------------------------------------------------------------

TEST(Guid, WellKnownInterfacesHaveTheirUsualValues) {
    EXPECT_EQ(FormatGuid(IID_IUnknown), "{00000000-0000-0000-C000-000000000046}");
    EXPECT_EQ(FormatGuid(IID_IClassFactory), "{00000001-0000-0000-C000-000000000046}");
    EXPECT_EQ(FormatGuid(IID_IDispatch), "{00020400-0000-0000-C000-000000000046}");
    EXPECT_EQ(FormatGuid(IID_NULL), "{00000000-0000-0000-0000-000000000000}");
}

TEST(Guid, ParseReadsEitherCaseAndFormatWritesUpperCase) {
    const auto guid = ParseGuid("{6b1d2e4a-3C5F-4a7b-9D8E-1f2a3b4c5d6e}");
    ASSERT_TRUE(guid);
    EXPECT_EQ(guid->Data1, 0x6B1D2E4Au);
    EXPECT_EQ(guid->Data2, 0x3C5F);
    EXPECT_EQ(guid->Data3, 0x4A7B);
    const std::uint8_t data4[8] = {0x9D, 0x8E, 0x1F, 0x2A, 0x3B, 0x4C, 0x5D, 0x6E};
    EXPECT_EQ(std::memcmp(guid->Data4, data4, 8), 0);
    EXPECT_EQ(FormatGuid(*guid), "{6B1D2E4A-3C5F-4A7B-9D8E-1F2A3B4C5D6E}");
    EXPECT_EQ(ParseGuid(FormatGuid(*guid)), guid);
    EXPECT_EQ(ParseGuid(u"{6B1D2E4A-3C5F-4A7B-9D8E-1F2A3B4C5D6E}"), guid);
}

TEST(Guid, ParseRejectsEverythingButTheBracedForm) {
    const char* bad[] = {
        "",
        "{}",
        "6B1D2E4A-3C5F-4A7B-9D8E-1F2A3B4C5D6E",      // no braces
        "{6B1D2E4A-3C5F-4A7B-9D8E-1F2A3B4C5D6E",     // no closing brace
        "{6B1D2E4A-3C5F-4A7B-9D8E-1F2A3B4C5D6E}x",   // text after
        " {6B1D2E4A-3C5F-4A7B-9D8E-1F2A3B4C5D6E}",   // text before
        "{6B1D2E4A-3C5F-4A7B-9D8E-1F2A3B4C5D6}",     // one digit short
        "{6B1D2E4A-3C5F-4A7B-9D8E-1F2A3B4C5D6EF}",   // one digit too many
        "{6B1D2E4A+3C5F-4A7B-9D8E-1F2A3B4C5D6E}",    // wrong separator
        "{6B1D2E4A-3C5F4-A7B-9D8E-1F2A3B4C5D6E}",    // dash misplaced
        "{6B1D2E4G-3C5F-4A7B-9D8E-1F2A3B4C5D6E}",    // not a hex digit
        "{6B1D2E4A-3C5F-4A7B-9D8E-1F2A3B4C5D6 }",    // blank
        "(6B1D2E4A-3C5F-4A7B-9D8E-1F2A3B4C5D6E)",    // other brackets
    };
    for (const char* text : bad) EXPECT_FALSE(ParseGuid(text)) << text;
    EXPECT_FALSE(ParseGuid(std::string_view("{6B1D2E4A-3C5F-4A7B-9D8E-1F2A3B4C5D6E}\0", 39)));
    EXPECT_FALSE(ParseGuid(u"{6B1D2E4A-3C5F-4A7B-9D8E-1F2A3B4C5D6\u0665}"));  // an Arabic-Indic digit
}

TEST(Guid, ComparisonAndHashingSeeEveryByte) {
    const GUID a = *ParseGuid("{6B1D2E4A-3C5F-4A7B-9D8E-1F2A3B4C5D6E}");
    GUID b = a;
    EXPECT_TRUE(IsEqualGUID(a, b));
    EXPECT_EQ(GuidHash{}(a), GuidHash{}(b));
    b.Data4[7] ^= 1;
    EXPECT_FALSE(IsEqualIID(a, b));
    EXPECT_NE(a, b);
    EXPECT_TRUE(a < b || b < a);
    std::unordered_set<GUID, GuidHash> set = {a, b, IID_IUnknown, IID_IDispatch, IID_IClassFactory};
    EXPECT_EQ(set.size(), 5u);
}

TEST(Guid, FromStringGivesTheUsualResults) {
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromString(u"{00020400-0000-0000-C000-000000000046}", &clsid), S_OK);
    EXPECT_EQ(clsid, IID_IDispatch);
    EXPECT_EQ(CLSIDFromString(u"not a guid", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromString(nullptr, &clsid), E_POINTER);
    IID iid{};
    EXPECT_EQ(IIDFromString(u"{00000001-0000-0000-C000-000000000046}", &iid), S_OK);
    EXPECT_EQ(iid, IID_IClassFactory);
    EXPECT_EQ(IIDFromString(u"{00000001-0000-0000-C000-00000000004}", &iid), E_INVALIDARG);
}

// ---- BSTR ----------------------------------------------------------------

TEST(Bstr, AllocationKeepsLengthPrefixAndTerminator) {
    BSTR text = SysAllocString(u"Hello");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringLen(text), 5u);
    EXPECT_EQ(SysStringByteLen(text), 10u);
    EXPECT_EQ(text[5], u'\0');
    std::uint32_t prefix = 0;
    std::memcpy(&prefix, reinterpret_cast<const char*>(text) - 4, 4);
    EXPECT_EQ(prefix, 10u);  // a byte count, not a character count
    EXPECT_EQ(std::u16string(text), u"Hello");
    SysFreeString(text);
}

TEST(Bstr, NullIsTheEmptyStringAndFreeingItIsAllowed) {
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    EXPECT_EQ(BstrToUtf8(nullptr), "");
    EXPECT_TRUE(BstrView(nullptr).empty());
    SysFreeString(nullptr);

    BSTR empty = SysAllocString(u"");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty), 0u);
    EXPECT_EQ(empty[0], u'\0');
    SysFreeString(empty);
}

TEST(Bstr, LengthCountsEmbeddedZeros) {
    const char16_t source[] = {u'a', 0, u'b', 0, 0};
    BSTR text = SysAllocStringLen(source, 4);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringLen(text), 4u);
    EXPECT_EQ(BstrView(text), std::u16string_view(source, 4));
    EXPECT_EQ(text[4], u'\0');
    EXPECT_EQ(BstrToUtf8(text), std::string("a\0b\0", 4));
    SysFreeString(text);

    // Without a source: that many zero characters.
    BSTR zeros = SysAllocStringLen(nullptr, 3);
    ASSERT_NE(zeros, nullptr);
    EXPECT_EQ(SysStringLen(zeros), 3u);
    EXPECT_EQ(BstrView(zeros), std::u16string(3, u'\0'));
    SysFreeString(zeros);
}

TEST(Bstr, ByteLengthMayBeOdd) {
    BSTR text = SysAllocStringByteLen("abc", 3);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringByteLen(text), 3u);
    EXPECT_EQ(SysStringLen(text), 1u);
    EXPECT_EQ(std::memcmp(text, "abc", 3), 0);
    EXPECT_EQ(reinterpret_cast<const char*>(text)[3], '\0');
    SysFreeString(text);
}

TEST(Bstr, ImpossibleLengthsFailWithoutAllocating) {
    EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x7FFFFFFFu), nullptr);
    EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFFu), nullptr);
}

TEST(Bstr, Utf8RoundTripsIncludingCharactersBeyondTheBasicPlane) {
    const std::string samples[] = {
        "",
        "plain ASCII",
        "Gr\xC3\xBC\xC3\x9F" "e, \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",   // Grüße, Привет
        "\xE2\x82\xAC 5 m\xC2\xB3",                                                  // € 5 m³
        "\xF0\x9F\x98\x80 \xF0\x9D\x84\x9E",                                         // U+1F600 U+1D11E
        std::string("zero\0inside", 11),
    };
    for (const std::string& utf8 : samples) {
        BSTR text = BstrFromUtf8(utf8);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(BstrToUtf8(text), utf8);
        SysFreeString(text);
    }
    BSTR emoji = BstrFromUtf8("\xF0\x9F\x98\x80");
    ASSERT_NE(emoji, nullptr);
    EXPECT_EQ(SysStringLen(emoji), 2u);  // a surrogate pair
    EXPECT_EQ(emoji[0], 0xD83D);
    EXPECT_EQ(emoji[1], 0xDE00);
    SysFreeString(emoji);
}

TEST(Bstr, MalformedTextBecomesReplacementCharacters) {
    BSTR text = BstrFromUtf8("a\xFF" "b");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(BstrView(text), u"a\uFFFDb");
    SysFreeString(text);
    const char16_t loneSurrogate[] = {u'x', 0xD800, u'y'};
    BSTR lone = SysAllocStringLen(loneSurrogate, 3);
    EXPECT_EQ(BstrToUtf8(lone), "x\xEF\xBF\xBDy");
    SysFreeString(lone);
}

TEST(Bstr, ReallocationReplacesAndMayReadFromTheOldString) {
    BSTR text = SysAllocString(u"abcdef");
    ASSERT_EQ(SysReAllocStringLen(&text, text + 2, 3), 1);
    EXPECT_EQ(BstrView(text), u"cde");
    ASSERT_EQ(SysReAllocString(&text, u"new"), 1);
    EXPECT_EQ(BstrView(text), u"new");
    ASSERT_EQ(SysReAllocString(&text, nullptr), 1);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(SysReAllocString(nullptr, u"x"), 0);
}

TEST(UniqueBstr, OwnsAndHandsOverItsString) {
    UniqueBstr text = UniqueBstr::FromUtf8("\xC3\xA4" "bc");
    EXPECT_EQ(text.Length(), 3u);
    EXPECT_EQ(text.ToUtf8(), "\xC3\xA4" "bc");
    UniqueBstr moved = std::move(text);
    EXPECT_EQ(text.Get(), nullptr);
    EXPECT_EQ(moved.View(), u"\u00E4bc");
    BSTR* slot = moved.Out();
    EXPECT_EQ(moved.Get(), nullptr);
    *slot = SysAllocString(u"from a callee");
    EXPECT_EQ(moved.ToUtf8(), "from a callee");
    BSTR raw = moved.Release();
    EXPECT_EQ(moved.Get(), nullptr);
    SysFreeString(raw);
}

// ---- VARIANT -------------------------------------------------------------

// An IUnknown that counts its references and never deletes itself.
class CountedObject final : public IUnknown {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid != IID_IUnknown) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = this;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    std::atomic<ULONG> refs{1};
};

TEST(Variant, InitMakesEmptyAndClearFreesTheString) {
    VARIANT v;
    std::memset(&v, 0xAB, sizeof v);  // garbage, as an uninitialised variable
    VariantInit(&v);
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_EQ(VariantClear(&v), S_OK);

    v = MakeVariantBstr("text");
    ASSERT_EQ(v.vt, VT_BSTR);
    EXPECT_EQ(BstrToUtf8(v.bstrVal), "text");
    EXPECT_EQ(VariantClear(&v), S_OK);  // the sanitizer build sees a leak otherwise
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_EQ(v.bstrVal, nullptr);
}

TEST(Variant, CopyOfAStringIsDeepAndKeepsEmbeddedZeros) {
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = BstrFromUtf8(std::string("a\0b", 3));
    VARIANT copy = MakeVariantI4(7);
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
    ASSERT_EQ(copy.vt, VT_BSTR);
    EXPECT_NE(copy.bstrVal, source.bstrVal);
    EXPECT_EQ(SysStringLen(copy.bstrVal), 3u);
    EXPECT_EQ(BstrToUtf8(copy.bstrVal), std::string("a\0b", 3));
    VariantClear(&source);
    EXPECT_EQ(BstrToUtf8(copy.bstrVal), std::string("a\0b", 3));  // still there
    VariantClear(&copy);

    // A null BSTR is a valid (empty) string and copies as null.
    VARIANT nullString;
    VariantInit(&nullString);
    nullString.vt = VT_BSTR;
    nullString.bstrVal = nullptr;
    VARIANT target;
    VariantInit(&target);
    EXPECT_EQ(VariantCopy(&target, &nullString), S_OK);
    EXPECT_EQ(target.vt, VT_BSTR);
    EXPECT_EQ(target.bstrVal, nullptr);
    EXPECT_EQ(VariantClear(&target), S_OK);
}

TEST(Variant, CopyAndClearCountInterfaceReferences) {
    CountedObject object;
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_UNKNOWN;
    source.punkVal = &object;  // takes over the initial reference
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
    EXPECT_EQ(object.refs, 2u);
    EXPECT_EQ(VariantClear(&copy), S_OK);
    EXPECT_EQ(object.refs, 1u);
    EXPECT_EQ(VariantClear(&source), S_OK);
    EXPECT_EQ(object.refs, 0u);
}

TEST(Variant, UnknownTypesAreRefused) {
    VARIANT bad;
    VariantInit(&bad);
    bad.vt = 5;  // a double, which this runtime does not know
    VARIANT copy;
    VariantInit(&copy);
    EXPECT_EQ(VariantCopy(&copy, &bad), DISP_E_BADVARTYPE);
    EXPECT_EQ(copy.vt, VT_EMPTY);
    EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
    EXPECT_EQ(bad.vt, 5);
    bad.vt = VT_EMPTY | VT_BYREF;
    EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

TEST(Variant, ByReferenceValuesAreBorrowedAndCopyIndFollowsThem) {
    LONG number = 41;
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_I4 | VT_BYREF;
    ref.plVal = &number;
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopyInd(&copy, &ref), S_OK);
    EXPECT_EQ(copy.vt, VT_I4);
    EXPECT_EQ(copy.lVal, 41);

    BSTR text = SysAllocString(u"by reference");
    VARIANT stringRef;
    VariantInit(&stringRef);
    stringRef.vt = VT_BSTR | VT_BYREF;
    stringRef.pbstrVal = &text;
    ASSERT_EQ(VariantCopyInd(&copy, &stringRef), S_OK);
    ASSERT_EQ(copy.vt, VT_BSTR);
    EXPECT_NE(copy.bstrVal, text);
    EXPECT_EQ(BstrView(copy.bstrVal), u"by reference");
    EXPECT_EQ(VariantClear(&stringRef), S_OK);  // borrowed: the string stays
    EXPECT_EQ(BstrView(text), u"by reference");
    SysFreeString(text);
    VariantClear(&copy);
}

struct ChangeCase {
    VARIANT (*make)();
    VARTYPE to;
    HRESULT result;
    LONG number;        // expected VT_I4 / VT_I2 / VT_UI1 / VT_BOOL value
    const char* text;   // expected VT_BSTR value
};

TEST(Variant, ChangeTypeConvertsBetweenNumbersTextAndBooleans) {
    const ChangeCase cases[] = {
        {[] { return MakeVariantBstr(" -12 "); }, VT_I4, S_OK, -12, nullptr},
        {[] { return MakeVariantBstr("+7"); }, VT_I4, S_OK, 7, nullptr},
        {[] { return MakeVariantBstr("2147483647"); }, VT_I4, S_OK, 2147483647, nullptr},
        {[] { return MakeVariantBstr("2147483648"); }, VT_I4, DISP_E_OVERFLOW, 0, nullptr},
        {[] { return MakeVariantBstr("99999999999999999999999"); }, VT_I4, DISP_E_OVERFLOW, 0, nullptr},
        {[] { return MakeVariantBstr("12abc"); }, VT_I4, DISP_E_TYPEMISMATCH, 0, nullptr},
        {[] { return MakeVariantBstr(""); }, VT_I4, DISP_E_TYPEMISMATCH, 0, nullptr},
        {[] { return MakeVariantBstr("40000"); }, VT_I2, DISP_E_OVERFLOW, 0, nullptr},
        {[] { return MakeVariantBstr("255"); }, VT_UI1, S_OK, 255, nullptr},
        {[] { return MakeVariantI4(-1); }, VT_UI1, DISP_E_OVERFLOW, 0, nullptr},
        {[] { return MakeVariantI4(-5); }, VT_BSTR, S_OK, 0, "-5"},
        {[] { return MakeVariantBool(true); }, VT_BSTR, S_OK, 0, "True"},
        {[] { return MakeVariantBool(false); }, VT_I4, S_OK, 0, nullptr},
        {[] { return MakeVariantBool(true); }, VT_I4, S_OK, -1, nullptr},
        {[] { return MakeVariantBstr("TRUE"); }, VT_BOOL, S_OK, VARIANT_TRUE, nullptr},
        {[] { return MakeVariantBstr("false"); }, VT_BOOL, S_OK, VARIANT_FALSE, nullptr},
        {[] { return MakeVariantBstr("3"); }, VT_BOOL, S_OK, VARIANT_TRUE, nullptr},
        {[] { return MakeVariantBstr("maybe"); }, VT_BOOL, DISP_E_TYPEMISMATCH, 0, nullptr},
        {[] { return MakeVariantI4(0); }, VT_BOOL, S_OK, VARIANT_FALSE, nullptr},
        {[] { VARIANT v; VariantInit(&v); return v; }, VT_BSTR, S_OK, 0, ""},
        {[] { VARIANT v; VariantInit(&v); return v; }, VT_I4, S_OK, 0, nullptr},
        {[] { VARIANT v; VariantInit(&v); v.vt = VT_NULL; return v; }, VT_I4, DISP_E_TYPEMISMATCH, 0, nullptr},
        {[] { return MakeVariantI4(1); }, 5, DISP_E_BADVARTYPE, 0, nullptr},
    };
    int row = 0;
    for (const ChangeCase& c : cases) {
        ++row;
        VARIANT source = c.make();
        VARIANT result = MakeVariantBstr("old value, freed by the change");
        const HRESULT hr = VariantChangeType(&result, &source, 0, c.to);
        EXPECT_EQ(hr, c.result) << "row " << row;
        if (SUCCEEDED(hr)) {
            EXPECT_EQ(result.vt, c.to) << "row " << row;
            if (c.to == VT_I4) {
                EXPECT_EQ(result.lVal, c.number) << "row " << row;
            } else if (c.to == VT_UI1) {
                EXPECT_EQ(result.bVal, c.number) << "row " << row;
            } else if (c.to == VT_BOOL) {
                EXPECT_EQ(result.boolVal, c.number) << "row " << row;
            } else if (c.to == VT_BSTR) {
                EXPECT_EQ(BstrToUtf8(result.bstrVal), c.text) << "row " << row;
            }
        }
        VariantClear(&result);
        VariantClear(&source);
    }
}

TEST(Variant, ChangeTypeInPlaceAndThroughAReference) {
    VARIANT v = MakeVariantBstr("1234");
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 1234);

    SHORT small = -3;
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_I2 | VT_BYREF;
    ref.piVal = &small;
    VARIANT text;
    VariantInit(&text);
    ASSERT_EQ(VariantChangeType(&text, &ref, 0, VT_BSTR), S_OK);
    EXPECT_EQ(BstrToUtf8(text.bstrVal), "-3");
    VariantClear(&text);
}

TEST(ExcepInfo, ClearFreesItsStrings) {
    EXCEPINFO info{};
    info.bstrSource = SysAllocString(u"source");
    info.bstrDescription = SysAllocString(u"description");
    info.scode = E_FAIL;
    ClearExcepInfo(&info);
    EXPECT_EQ(info.bstrSource, nullptr);
    EXPECT_EQ(info.bstrDescription, nullptr);
    EXPECT_EQ(info.scode, 0);
}

// ---- ComPtr --------------------------------------------------------------

TEST(ComPtr, CountsReferencesLikeAHandWrittenClient) {
    CountedObject object;
    {
        ComPtr<IUnknown> first(&object);
        EXPECT_EQ(object.refs, 2u);
        ComPtr<IUnknown> second = first;
        EXPECT_EQ(object.refs, 3u);
        ComPtr<IUnknown> third = std::move(second);
        EXPECT_EQ(object.refs, 3u);
        EXPECT_FALSE(second);
        ComPtr<IUnknown> asked;
        EXPECT_EQ(first.As(IID_IUnknown, &asked), S_OK);
        EXPECT_EQ(object.refs, 4u);
        ComPtr<IDispatch> notThere;
        EXPECT_EQ(first.As(IID_IDispatch, &notThere), E_NOINTERFACE);
        EXPECT_FALSE(notThere);
        IUnknown* detached = third.Detach();
        EXPECT_EQ(object.refs, 4u);
        ComPtr<IUnknown> adopted = ComPtr<IUnknown>::Adopt(detached);
        EXPECT_EQ(object.refs, 4u);
    }
    EXPECT_EQ(object.refs, 1u);
}

}  // namespace
}  // namespace mbus::com
