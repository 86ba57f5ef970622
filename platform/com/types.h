// The component runtime's basic types: result codes, GUIDs, the IUnknown /
// IDispatch / IClassFactory interfaces, BSTR strings and VARIANTs.
//
// Components and their clients are separate shared objects built by the same
// compiler, so the interfaces are plain abstract classes: the virtual table
// holds exactly the listed functions in the listed order (no virtual
// destructor; an object deletes itself in Release). Nothing that crosses an
// interface throws: every operation answers with an HRESULT.
//
// Memory that crosses an interface is owned as usual: BSTRs are allocated
// with SysAllocString* and freed by whoever receives them (SysFreeString);
// interface pointers handed out are AddRef'ed and released by the receiver.
// BSTRs live on the C heap (malloc/free), so a BSTR made by one copy of this
// runtime (a component linked statically against it) may be freed by any
// other copy in the same process.

#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mbus::com {

// ---- Scalar types --------------------------------------------------------

using HRESULT = std::int32_t;
using SCODE = std::int32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using INT = std::int32_t;
using BOOL = std::int32_t;
using LCID = std::uint32_t;
using DISPID = std::int32_t;
using MEMBERID = DISPID;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;

using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using BSTR = OLECHAR*;

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
inline constexpr LCID LOCALE_NEUTRAL = 0x0000;

// ---- Result codes --------------------------------------------------------

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// The bit pattern of a failure code, written the way the codes are known.
constexpr HRESULT MakeFailure(std::uint32_t code) { return static_cast<HRESULT>(code); }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;

inline constexpr HRESULT E_NOTIMPL = MakeFailure(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeFailure(0x80004002);
inline constexpr HRESULT E_POINTER = MakeFailure(0x80004003);
inline constexpr HRESULT E_ABORT = MakeFailure(0x80004004);
inline constexpr HRESULT E_FAIL = MakeFailure(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = MakeFailure(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = MakeFailure(0x80070005);
inline constexpr HRESULT E_HANDLE = MakeFailure(0x80070006);
inline constexpr HRESULT E_OUTOFMEMORY = MakeFailure(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeFailure(0x80070057);

inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeFailure(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeFailure(0x80040111);
inline constexpr HRESULT REGDB_E_READREGDB = MakeFailure(0x80040150);
inline constexpr HRESULT REGDB_E_WRITEREGDB = MakeFailure(0x80040151);
inline constexpr HRESULT REGDB_E_KEYMISSING = MakeFailure(0x80040152);
inline constexpr HRESULT REGDB_E_INVALIDVALUE = MakeFailure(0x80040153);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeFailure(0x80040154);
inline constexpr HRESULT SELFREG_E_TYPELIB = MakeFailure(0x80040200);
inline constexpr HRESULT SELFREG_E_CLASS = MakeFailure(0x80040201);
inline constexpr HRESULT CO_E_CLASSSTRING = MakeFailure(0x800401F3);
inline constexpr HRESULT CO_E_DLLNOTFOUND = MakeFailure(0x800401F8);
inline constexpr HRESULT CO_E_ERRORINDLL = MakeFailure(0x800401F9);

inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeFailure(0x80020001);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeFailure(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = MakeFailure(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeFailure(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = MakeFailure(0x80020006);
inline constexpr HRESULT DISP_E_NONAMEDARGS = MakeFailure(0x80020007);
inline constexpr HRESULT DISP_E_BADVARTYPE = MakeFailure(0x80020008);
inline constexpr HRESULT DISP_E_EXCEPTION = MakeFailure(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = MakeFailure(0x8002000A);
inline constexpr HRESULT DISP_E_BADINDEX = MakeFailure(0x8002000B);
inline constexpr HRESULT DISP_E_UNKNOWNLCID = MakeFailure(0x8002000C);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeFailure(0x8002000E);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = MakeFailure(0x8002000F);
inline constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = MakeFailure(0x8002802B);

// "0x80040154 (class not registered)"; codes without a known name show the
// number alone.
std::string DescribeHResult(HRESULT hr);

// ---- GUIDs ---------------------------------------------------------------

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];

    friend constexpr bool operator==(const GUID&, const GUID&) = default;
    friend constexpr std::strong_ordering operator<=>(const GUID&, const GUID&) = default;
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

constexpr bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
constexpr bool IsEqualIID(REFIID a, REFIID b) { return a == b; }
constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_NULL = GUID_NULL;
inline constexpr CLSID CLSID_NULL = GUID_NULL;
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_ISupportErrorInfo = {0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

// Reads "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (hex digits of either case,
// braces required, nothing before or after). Empty when the text is not a GUID.
std::optional<GUID> ParseGuid(std::string_view text);
std::optional<GUID> ParseGuid(std::u16string_view text);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" with upper-case digits.
std::string FormatGuid(const GUID& guid);

// The familiar HRESULT forms: CO_E_CLASSSTRING (CLSID) or E_INVALIDARG (IID)
// for text that is not a GUID, E_POINTER for a null argument.
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);
HRESULT IIDFromString(LPCOLESTR text, IID* iid);

struct GuidHash {
    std::size_t operator()(const GUID& g) const noexcept;
};

// ---- BSTR ----------------------------------------------------------------
//
// Layout: a 32-bit byte count, the UTF-16 characters (which may include
// zeros), a terminating zero character. The BSTR points at the first
// character, so it also reads as a zero-terminated string. A null BSTR is
// the empty string everywhere.

// A copy of the zero-terminated `text`; null for a null argument or when out
// of memory.
BSTR SysAllocString(LPCOLESTR text) noexcept;
// A string of `length` characters copied from `text` (which may hold zeros);
// when `text` is null, `length` zero characters. Null when out of memory.
BSTR SysAllocStringLen(LPCOLESTR text, UINT length) noexcept;
// A string holding `bytes` bytes copied from `data` (zero-filled when null);
// an odd count leaves the last character half used.
BSTR SysAllocStringByteLen(const char* data, UINT bytes) noexcept;
// Replace *target by a new copy; the old string is freed. 0 (and *target
// unchanged) when out of memory or `target` is null, else 1.
BOOL SysReAllocString(BSTR* target, LPCOLESTR text) noexcept;
BOOL SysReAllocStringLen(BSTR* target, LPCOLESTR text, UINT length) noexcept;
// Frees a BSTR; null is allowed.
void SysFreeString(BSTR text) noexcept;
// Length in characters / bytes (embedded zeros counted); 0 for null.
UINT SysStringLen(BSTR text) noexcept;
UINT SysStringByteLen(BSTR text) noexcept;

// Conversions to and from UTF-8 (malformed input becomes U+FFFD). The
// returned BSTR is the caller's to free; null only when out of memory (an
// empty text gives an empty, non-null BSTR).
BSTR BstrFromUtf8(std::string_view utf8) noexcept;
BSTR BstrFromUtf16(std::u16string_view utf16) noexcept;
std::string BstrToUtf8(BSTR text);
// The characters of a BSTR, embedded zeros included (empty for null).
std::u16string_view BstrView(BSTR text) noexcept;

// ---- VARIANT -------------------------------------------------------------

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_UI1 = 17,
    VT_BYREF = 0x4000,
};

class IUnknown;
class IDispatch;
struct VARIANT;

// The subset of types this runtime knows: VT_EMPTY, VT_NULL, VT_I2, VT_I4,
// VT_UI1, VT_BOOL, VT_ERROR, VT_BSTR, VT_UNKNOWN, VT_DISPATCH, and
// VT_BYREF combined with any of I2, I4, UI1, BOOL, ERROR, BSTR, UNKNOWN,
// DISPATCH, VARIANT (by-reference values are borrowed: never freed).
struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONG lVal;
        SHORT iVal;
        BYTE bVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        LONG* plVal;
        SHORT* piVal;
        BYTE* pbVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        VARIANT* pvarVal;
        void* byref;
    };
};
using VARIANTARG = VARIANT;

// Sets vt to VT_EMPTY (the value is not looked at: it may be garbage).
void VariantInit(VARIANT* v) noexcept;
// Frees what the variant owns (a BSTR, an interface reference) and leaves it
// VT_EMPTY. DISP_E_BADVARTYPE (variant untouched) for an unknown type.
HRESULT VariantClear(VARIANT* v) noexcept;
// Clears `dest` (which must hold a valid variant), then makes it a deep copy
// of `src` (a new BSTR, an AddRef'ed interface). DISP_E_BADVARTYPE, with
// `dest` untouched, when either has an unknown type; E_OUTOFMEMORY with
// `dest` left VT_EMPTY.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) noexcept;
// As VariantCopy, but a VT_BYREF source is copied as the value it refers to.
HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src) noexcept;

// Converts `src` to `type` (VT_EMPTY, VT_I2, VT_I4, VT_UI1, VT_BOOL or
// VT_BSTR) into `dest`, which is cleared first; `dest` may be `src`.
// Numbers are written and read as plain decimal text ("-12"), booleans as
// "True"/"False" (reading also accepts "true"/"false" in any case and
// numbers). Errors: DISP_E_TYPEMISMATCH (text that is not a number,
// interfaces), DISP_E_OVERFLOW (a value out of the target range),
// DISP_E_BADVARTYPE. `flags` is accepted for the familiar signature and
// ignored.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE type) noexcept;

// Convenience for building arguments: a VT_I4, VT_BOOL or VT_BSTR variant
// (the BSTR variant owns a copy of the text; VariantClear frees it; vt is
// VT_EMPTY when out of memory).
VARIANT MakeVariantI4(LONG value) noexcept;
VARIANT MakeVariantBool(bool value) noexcept;
VARIANT MakeVariantBstr(std::string_view utf8) noexcept;

// ---- Dispatch ------------------------------------------------------------

inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_VALUE = 0;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;
inline constexpr DISPID DISPID_NEWENUM = -4;

inline constexpr WORD DISPATCH_METHOD = 0x1;
inline constexpr WORD DISPATCH_PROPERTYGET = 0x2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
inline constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

// Arguments of Invoke: rgvarg holds them in reverse order (the last argument
// first); a property put passes the new value as the one named argument
// DISPID_PROPERTYPUT.
struct DISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

// Description of a failure that Invoke reports as DISP_E_EXCEPTION. Filled
// by the callee; the strings belong to the caller afterwards.
struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

// Frees the strings of an EXCEPINFO and zeroes it.
void ClearExcepInfo(EXCEPINFO* info) noexcept;

// ---- Interfaces ----------------------------------------------------------

// Type information is not provided by this runtime: GetTypeInfo answers
// E_NOTIMPL or TYPE_E_ELEMENTNOTFOUND and GetTypeInfoCount 0.
class ITypeInfo;

class IUnknown {
public:
    virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    IUnknown() = default;
    IUnknown(const IUnknown&) = default;
    IUnknown& operator=(const IUnknown&) = default;
    ~IUnknown() = default;
};

class IDispatch : public IUnknown {
public:
    virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
    virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, const OLECHAR* const* rgszNames, UINT cNames, LCID lcid,
                                  DISPID* rgDispId) = 0;
    virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                           VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;

protected:
    ~IDispatch() = default;
};

class IClassFactory : public IUnknown {
public:
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    virtual HRESULT LockServer(BOOL fLock) = 0;

protected:
    ~IClassFactory() = default;
};

class ISupportErrorInfo : public IUnknown {
public:
    virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;

protected:
    ~ISupportErrorInfo() = default;
};

// ---- Entry points of a component library -----------------------------------
//
// A component library exports these four functions with C linkage and
// default visibility (MBUS_COM_EXPORT), e.g.
//
//   MBUS_COM_EXPORT mbus::com::HRESULT DllGetClassObject(const mbus::com::CLSID&,
//                                                        const mbus::com::IID&, void**);

#define MBUS_COM_EXPORT extern "C" __attribute__((visibility("default")))

using DllGetClassObjectFunction = HRESULT (*)(REFCLSID clsid, REFIID iid, void** object);
using DllCanUnloadNowFunction = HRESULT (*)();
using DllRegisterServerFunction = HRESULT (*)();
using DllUnregisterServerFunction = HRESULT (*)();

}  // namespace mbus::com
