#include "platform/com/types.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/text/codepage.h"

namespace mbus::com {

// ---- Result codes --------------------------------------------------------

namespace {

struct KnownResult {
    HRESULT code;
    const char* text;
};

constexpr KnownResult kKnownResults[] = {
    {S_OK, "success"},
    {S_FALSE, "success, answer false"},
    {E_NOTIMPL, "not implemented"},
    {E_NOINTERFACE, "interface not supported"},
    {E_POINTER, "invalid pointer"},
    {E_ABORT, "operation aborted"},
    {E_FAIL, "unspecified failure"},
    {E_UNEXPECTED, "unexpected failure"},
    {E_ACCESSDENIED, "access denied"},
    {E_HANDLE, "invalid handle"},
    {E_OUTOFMEMORY, "out of memory"},
    {E_INVALIDARG, "invalid argument"},
    {CLASS_E_NOAGGREGATION, "class does not support aggregation"},
    {CLASS_E_CLASSNOTAVAILABLE, "class not available from this library"},
    {REGDB_E_READREGDB, "cannot read the registry"},
    {REGDB_E_WRITEREGDB, "cannot write the registry"},
    {REGDB_E_KEYMISSING, "registry key missing"},
    {REGDB_E_INVALIDVALUE, "invalid registry value"},
    {REGDB_E_CLASSNOTREG, "class not registered"},
    {SELFREG_E_TYPELIB, "cannot register the type library"},
    {SELFREG_E_CLASS, "cannot register the class"},
    {CO_E_CLASSSTRING, "invalid class string"},
    {CO_E_DLLNOTFOUND, "component library not found or not loadable"},
    {CO_E_ERRORINDLL, "component library is not usable"},
    {DISP_E_UNKNOWNINTERFACE, "unknown interface"},
    {DISP_E_MEMBERNOTFOUND, "member not found"},
    {DISP_E_PARAMNOTFOUND, "parameter not found"},
    {DISP_E_TYPEMISMATCH, "type mismatch"},
    {DISP_E_UNKNOWNNAME, "unknown name"},
    {DISP_E_NONAMEDARGS, "named arguments not supported"},
    {DISP_E_BADVARTYPE, "bad variant type"},
    {DISP_E_EXCEPTION, "exception in the called member"},
    {DISP_E_OVERFLOW, "value out of range"},
    {DISP_E_BADINDEX, "index out of range"},
    {DISP_E_UNKNOWNLCID, "unknown locale"},
    {DISP_E_BADPARAMCOUNT, "wrong number of parameters"},
    {DISP_E_PARAMNOTOPTIONAL, "parameter not optional"},
    {TYPE_E_ELEMENTNOTFOUND, "element not found"},
};

}  // namespace

std::string DescribeHResult(HRESULT hr) {
    char number[16];
    std::snprintf(number, sizeof number, "0x%08X", static_cast<unsigned>(static_cast<std::uint32_t>(hr)));
    for (const KnownResult& known : kKnownResults)
        if (known.code == hr) return std::string(number) + " (" + known.text + ")";
    return number;
}

// ---- GUIDs ---------------------------------------------------------------

namespace {

int HexValue(char32_t c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    return -1;
}

// Positions of the dashes in "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
constexpr bool IsDashPosition(std::size_t i) { return i == 9 || i == 14 || i == 19 || i == 24; }

template <class Char>
std::optional<GUID> ParseGuidText(std::basic_string_view<Char> text) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
    // The 32 hex digits, in order, into 16 bytes.
    std::uint8_t bytes[16] = {};
    std::size_t digit = 0;
    for (std::size_t i = 1; i < 37; ++i) {
        if (IsDashPosition(i)) {
            if (text[i] != '-') return std::nullopt;
            continue;
        }
        const int value = HexValue(static_cast<char32_t>(text[i]));
        if (value < 0) return std::nullopt;
        bytes[digit / 2] = static_cast<std::uint8_t>(bytes[digit / 2] << 4 | value);
        ++digit;
    }
    GUID guid{};
    guid.Data1 = static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
                 static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
    guid.Data2 = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
    guid.Data3 = static_cast<std::uint16_t>(bytes[6] << 8 | bytes[7]);
    std::memcpy(guid.Data4, bytes + 8, 8);
    return guid;
}

}  // namespace

std::optional<GUID> ParseGuid(std::string_view text) { return ParseGuidText(text); }
std::optional<GUID> ParseGuid(std::u16string_view text) { return ParseGuidText(text); }

std::string FormatGuid(const GUID& g) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), static_cast<unsigned>(g.Data2), static_cast<unsigned>(g.Data3),
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buffer;
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
    if (text == nullptr || clsid == nullptr) return E_POINTER;
    const std::optional<GUID> guid = ParseGuid(std::u16string_view(text));
    if (!guid) return CO_E_CLASSSTRING;
    *clsid = *guid;
    return S_OK;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) {
    if (text == nullptr || iid == nullptr) return E_POINTER;
    const std::optional<GUID> guid = ParseGuid(std::u16string_view(text));
    if (!guid) return E_INVALIDARG;
    *iid = *guid;
    return S_OK;
}

std::size_t GuidHash::operator()(const GUID& g) const noexcept {
    std::uint64_t high = static_cast<std::uint64_t>(g.Data1) << 32 | static_cast<std::uint64_t>(g.Data2) << 16 | g.Data3;
    std::uint64_t low = 0;
    std::memcpy(&low, g.Data4, 8);
    // Mix the two halves (the multiplier is the 64-bit golden ratio).
    return static_cast<std::size_t>(high * 0x9E3779B97F4A7C15ull ^ low);
}

// ---- BSTR ----------------------------------------------------------------

namespace {

using ByteCount = std::uint32_t;
constexpr std::size_t kPrefixBytes = sizeof(ByteCount);
// The byte count and the terminator must fit: at most this many bytes.
constexpr UINT kMaxBytes = std::numeric_limits<ByteCount>::max() - kPrefixBytes - 2 * sizeof(OLECHAR);

// A BSTR of `bytes` bytes of undefined content (terminator written).
BSTR AllocateBytes(UINT bytes) noexcept {
    if (bytes > kMaxBytes) return nullptr;
    // The terminator is one whole character after the data.
    char* block = static_cast<char*>(std::malloc(kPrefixBytes + bytes + sizeof(OLECHAR)));
    if (block == nullptr) return nullptr;
    const ByteCount count = bytes;
    std::memcpy(block, &count, kPrefixBytes);
    std::memset(block + kPrefixBytes + bytes, 0, sizeof(OLECHAR));
    return reinterpret_cast<BSTR>(block + kPrefixBytes);
}

}  // namespace

BSTR SysAllocString(LPCOLESTR text) noexcept {
    if (text == nullptr) return nullptr;
    const std::size_t length = std::char_traits<OLECHAR>::length(text);
    if (length > kMaxBytes / sizeof(OLECHAR)) return nullptr;
    return SysAllocStringLen(text, static_cast<UINT>(length));
}

BSTR SysAllocStringLen(LPCOLESTR text, UINT length) noexcept {
    if (length > kMaxBytes / sizeof(OLECHAR)) return nullptr;
    const UINT bytes = length * static_cast<UINT>(sizeof(OLECHAR));
    BSTR result = AllocateBytes(bytes);
    if (result == nullptr) return nullptr;
    if (text != nullptr)
        std::memcpy(result, text, bytes);
    else
        std::memset(result, 0, bytes);
    return result;
}

BSTR SysAllocStringByteLen(const char* data, UINT bytes) noexcept {
    BSTR result = AllocateBytes(bytes);
    if (result == nullptr) return nullptr;
    if (data != nullptr)
        std::memcpy(result, data, bytes);
    else
        std::memset(result, 0, bytes);
    return result;
}

BOOL SysReAllocString(BSTR* target, LPCOLESTR text) noexcept {
    if (target == nullptr) return 0;
    // The new copy is made before the old string goes: `text` may point into it.
    BSTR copy = SysAllocString(text);
    if (copy == nullptr && text != nullptr) return 0;
    SysFreeString(*target);
    *target = copy;
    return 1;
}

BOOL SysReAllocStringLen(BSTR* target, LPCOLESTR text, UINT length) noexcept {
    if (target == nullptr) return 0;
    BSTR copy = SysAllocStringLen(text, length);
    if (copy == nullptr) return 0;
    SysFreeString(*target);
    *target = copy;
    return 1;
}

void SysFreeString(BSTR text) noexcept {
    if (text == nullptr) return;
    std::free(reinterpret_cast<char*>(text) - kPrefixBytes);
}

UINT SysStringByteLen(BSTR text) noexcept {
    if (text == nullptr) return 0;
    ByteCount count = 0;
    std::memcpy(&count, reinterpret_cast<const char*>(text) - kPrefixBytes, kPrefixBytes);
    return count;
}

UINT SysStringLen(BSTR text) noexcept { return SysStringByteLen(text) / static_cast<UINT>(sizeof(OLECHAR)); }

std::u16string_view BstrView(BSTR text) noexcept {
    if (text == nullptr) return {};
    return std::u16string_view(text, SysStringLen(text));
}

BSTR BstrFromUtf16(std::u16string_view utf16) noexcept {
    if (utf16.size() > kMaxBytes / sizeof(OLECHAR)) return nullptr;
    return SysAllocStringLen(utf16.data(), static_cast<UINT>(utf16.size()));
}

BSTR BstrFromUtf8(std::string_view utf8) noexcept {
    try {
        return BstrFromUtf16(text::Utf8ToUtf16(utf8));
    } catch (...) {  // std::bad_alloc: out of memory is a null result here
        return nullptr;
    }
}

std::string BstrToUtf8(BSTR text) { return text::Utf16ToUtf8(BstrView(text)); }

// ---- VARIANT -------------------------------------------------------------

namespace {

bool IsKnownType(VARTYPE vt) {
    const bool byRef = (vt & VT_BYREF) != 0;
    switch (static_cast<VARTYPE>(vt & ~VT_BYREF)) {
        case VT_EMPTY:
        case VT_NULL:
            return !byRef;
        case VT_I2:
        case VT_I4:
        case VT_UI1:
        case VT_BOOL:
        case VT_ERROR:
        case VT_BSTR:
        case VT_UNKNOWN:
        case VT_DISPATCH:
            return true;
        case VT_VARIANT:
            return byRef;
        default:
            return false;
    }
}

void SetEmpty(VARIANT* v) {
    v->vt = VT_EMPTY;
    v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
    v->byref = nullptr;
}

// A copy of `src` (of a known type) that owns its own string and reference.
HRESULT CopyValue(VARIANT* out, const VARIANT& src) {
    *out = src;
    switch (src.vt) {
        case VT_BSTR:
            if (src.bstrVal != nullptr) {
                out->bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(src.bstrVal),
                                                     SysStringByteLen(src.bstrVal));
                if (out->bstrVal == nullptr) {
                    SetEmpty(out);
                    return E_OUTOFMEMORY;
                }
            }
            break;
        case VT_UNKNOWN:
            if (src.punkVal != nullptr) src.punkVal->AddRef();
            break;
        case VT_DISPATCH:
            if (src.pdispVal != nullptr) src.pdispVal->AddRef();
            break;
        default:
            break;
    }
    return S_OK;
}

// The value a by-reference variant refers to, as a by-value variant that
// borrows (not owns) strings and references.
HRESULT Dereference(const VARIANT& src, VARIANT* out) {
    if ((src.vt & VT_BYREF) == 0) {
        *out = src;
        return S_OK;
    }
    if (src.byref == nullptr) return E_INVALIDARG;
    SetEmpty(out);
    const VARTYPE base = static_cast<VARTYPE>(src.vt & ~VT_BYREF);
    out->vt = base;
    switch (base) {
        case VT_I2: out->iVal = *src.piVal; break;
        case VT_I4: out->lVal = *src.plVal; break;
        case VT_UI1: out->bVal = *src.pbVal; break;
        case VT_BOOL: out->boolVal = *src.pboolVal; break;
        case VT_ERROR: out->scode = *src.pscode; break;
        case VT_BSTR: out->bstrVal = *src.pbstrVal; break;
        case VT_UNKNOWN: out->punkVal = *src.ppunkVal; break;
        case VT_DISPATCH: out->pdispVal = *src.ppdispVal; break;
        case VT_VARIANT:
            // One level only: a reference to a reference is not followed.
            if ((src.pvarVal->vt & VT_BYREF) != 0 || !IsKnownType(src.pvarVal->vt)) return DISP_E_BADVARTYPE;
            *out = *src.pvarVal;
            break;
        default: return DISP_E_BADVARTYPE;
    }
    return S_OK;
}

// Reads decimal text ("  -12 ") as a number. False for anything else.
bool ParseInteger(std::u16string_view text, std::int64_t* value, bool* overflow) {
    *overflow = false;
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return false;
    std::int64_t result = 0;
    for (const char16_t c : text) {
        if (c < '0' || c > '9') return false;
        if (result > (std::numeric_limits<std::int64_t>::max() - 9) / 10)
            *overflow = true;
        else
            result = result * 10 + (c - '0');
    }
    *value = negative ? -result : result;
    return true;
}

bool EqualsIgnoringCase(std::u16string_view text, std::string_view word) {
    if (text.size() != word.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char16_t>(c - 'A' + 'a');
        if (c != static_cast<unsigned char>(word[i])) return false;
    }
    return true;
}

std::u16string_view Trimmed(std::u16string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// The numeric value of a (dereferenced) variant, or the failure.
HRESULT NumberOf(const VARIANT& v, std::int64_t* number, bool forBool) {
    switch (v.vt) {
        case VT_EMPTY: *number = 0; return S_OK;
        case VT_I2: *number = v.iVal; return S_OK;
        case VT_I4: *number = v.lVal; return S_OK;
        case VT_UI1: *number = v.bVal; return S_OK;
        case VT_BOOL: *number = v.boolVal != VARIANT_FALSE ? VARIANT_TRUE : VARIANT_FALSE; return S_OK;
        case VT_BSTR: {
            const std::u16string_view text = Trimmed(BstrView(v.bstrVal));
            if (forBool && EqualsIgnoringCase(text, "true")) {
                *number = VARIANT_TRUE;
                return S_OK;
            }
            if (forBool && EqualsIgnoringCase(text, "false")) {
                *number = VARIANT_FALSE;
                return S_OK;
            }
            bool overflow = false;
            if (!ParseInteger(text, number, &overflow)) return DISP_E_TYPEMISMATCH;
            if (!overflow) return S_OK;
            if (!forBool) return DISP_E_OVERFLOW;
            *number = 1;  // a huge number is still "not zero"
            return S_OK;
        }
        default: return DISP_E_TYPEMISMATCH;
    }
}

}  // namespace

void VariantInit(VARIANT* v) noexcept {
    if (v != nullptr) SetEmpty(v);
}

HRESULT VariantClear(VARIANT* v) noexcept {
    if (v == nullptr) return E_INVALIDARG;
    if (!IsKnownType(v->vt)) return DISP_E_BADVARTYPE;
    switch (v->vt) {
        case VT_BSTR: SysFreeString(v->bstrVal); break;
        case VT_UNKNOWN:
            if (v->punkVal != nullptr) v->punkVal->Release();
            break;
        case VT_DISPATCH:
            if (v->pdispVal != nullptr) v->pdispVal->Release();
            break;
        default: break;  // plain values and borrowed references own nothing
    }
    SetEmpty(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) noexcept {
    if (dest == nullptr || src == nullptr) return E_INVALIDARG;
    if (dest == src) return S_OK;
    if (!IsKnownType(src->vt)) return DISP_E_BADVARTYPE;
    if (!IsKnownType(dest->vt)) return DISP_E_BADVARTYPE;
    VARIANT copy;
    const HRESULT hr = CopyValue(&copy, *src);
    VariantClear(dest);
    if (FAILED(hr)) return hr;
    *dest = copy;
    return S_OK;
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src) noexcept {
    if (dest == nullptr || src == nullptr) return E_INVALIDARG;
    if (!IsKnownType(src->vt)) return DISP_E_BADVARTYPE;
    if (!IsKnownType(dest->vt)) return DISP_E_BADVARTYPE;
    VARIANT value;
    HRESULT hr = Dereference(*src, &value);
    if (FAILED(hr)) return hr;
    VARIANT copy;
    hr = CopyValue(&copy, value);
    VariantClear(dest);
    if (FAILED(hr)) return hr;
    *dest = copy;
    return S_OK;
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT /*flags*/, VARTYPE type) noexcept {
    if (dest == nullptr || src == nullptr) return E_INVALIDARG;
    if (!IsKnownType(src->vt) || !IsKnownType(dest->vt) || !IsKnownType(type)) return DISP_E_BADVARTYPE;
    VARIANT value;
    HRESULT hr = Dereference(*src, &value);
    if (FAILED(hr)) return hr;

    VARIANT result;
    SetEmpty(&result);
    if (value.vt == type) {
        hr = CopyValue(&result, value);
        if (FAILED(hr)) return hr;
    } else {
        std::int64_t number = 0;
        switch (type) {
            case VT_EMPTY:
                if (value.vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;
                break;
            case VT_I2:
            case VT_I4:
            case VT_UI1: {
                hr = NumberOf(value, &number, false);
                if (FAILED(hr)) return hr;
                std::int64_t low = std::numeric_limits<LONG>::min();
                std::int64_t high = std::numeric_limits<LONG>::max();
                if (type == VT_I2) low = std::numeric_limits<SHORT>::min(), high = std::numeric_limits<SHORT>::max();
                if (type == VT_UI1) low = 0, high = 255;
                if (number < low || number > high) return DISP_E_OVERFLOW;
                result.vt = type;
                if (type == VT_I2) result.iVal = static_cast<SHORT>(number);
                if (type == VT_I4) result.lVal = static_cast<LONG>(number);
                if (type == VT_UI1) result.bVal = static_cast<BYTE>(number);
                break;
            }
            case VT_BOOL:
                hr = NumberOf(value, &number, true);
                if (FAILED(hr)) return hr;
                result.vt = VT_BOOL;
                result.boolVal = number != 0 ? VARIANT_TRUE : VARIANT_FALSE;
                break;
            case VT_BSTR: {
                std::string text;
                if (value.vt == VT_BOOL) {
                    text = value.boolVal != VARIANT_FALSE ? "True" : "False";
                } else {
                    hr = NumberOf(value, &number, false);
                    if (FAILED(hr)) return hr;
                    if (value.vt != VT_EMPTY) text = std::to_string(number);
                }
                result.vt = VT_BSTR;
                result.bstrVal = BstrFromUtf8(text);
                if (result.bstrVal == nullptr) return E_OUTOFMEMORY;
                break;
            }
            default: return DISP_E_TYPEMISMATCH;
        }
    }
    VariantClear(dest);
    *dest = result;
    return S_OK;
}

VARIANT MakeVariantI4(LONG value) noexcept {
    VARIANT v;
    SetEmpty(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

VARIANT MakeVariantBool(bool value) noexcept {
    VARIANT v;
    SetEmpty(&v);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

VARIANT MakeVariantBstr(std::string_view utf8) noexcept {
    VARIANT v;
    SetEmpty(&v);
    v.bstrVal = BstrFromUtf8(utf8);
    if (v.bstrVal != nullptr) v.vt = VT_BSTR;
    return v;
}

void ClearExcepInfo(EXCEPINFO* info) noexcept {
    if (info == nullptr) return;
    SysFreeString(info->bstrSource);
    SysFreeString(info->bstrDescription);
    SysFreeString(info->bstrHelpFile);
    *info = EXCEPINFO{};
}

}  // namespace mbus::com
