#include "ComTypes.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool ParseHex(std::string_view text, size_t pos, int digits, uint32_t* out)
{
    uint32_t v = 0;
    for (int i = 0; i < digits; ++i) {
        const int d = comrt::detail::HexValue(text[pos + static_cast<size_t>(i)]);
        if (d < 0)
            return false;
        v = v * 16 + static_cast<uint32_t>(d);
    }
    *out = v;
    return true;
}

std::string NarrowAscii(LPCOLESTR text)
{
    std::string s;
    if (!text)
        return s;
    for (; *text; ++text) {
        if (*text > 0x7F || s.size() > 64)
            return {};
        s.push_back(static_cast<char>(*text));
    }
    return s;
}

} // namespace

bool comrt::ParseGuid(std::string_view t, GUID* out)
{
    if (t.size() != 38 || t[0] != '{' || t[9] != '-' || t[14] != '-' || t[19] != '-' ||
        t[24] != '-' || t[37] != '}')
        return false;
    GUID g{};
    uint32_t v = 0;
    if (!ParseHex(t, 1, 8, &g.Data1))
        return false;
    if (!ParseHex(t, 10, 4, &v))
        return false;
    g.Data2 = static_cast<uint16_t>(v);
    if (!ParseHex(t, 15, 4, &v))
        return false;
    g.Data3 = static_cast<uint16_t>(v);
    for (int i = 0; i < 8; ++i) {
        const size_t pos = i < 2 ? 20 + 2 * static_cast<size_t>(i) : 25 + 2 * static_cast<size_t>(i - 2);
        if (!ParseHex(t, pos, 2, &v))
            return false;
        g.Data4[i] = static_cast<uint8_t>(v);
    }
    if (out)
        *out = g;
    return true;
}

std::string comrt::FormatGuid(REFGUID g)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* out)
{
    if (!out)
        return E_POINTER;
    GUID g{};
    if (!comrt::ParseGuid(NarrowAscii(text), &g))
        return E_INVALIDARG;
    *out = g;
    return S_OK;
}

HRESULT IIDFromString(LPCOLESTR text, IID* out) { return CLSIDFromString(text, out); }

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax)
{
    const std::string s = comrt::FormatGuid(guid);
    if (!buffer || cchMax < static_cast<int>(s.size()) + 1)
        return 0;
    for (size_t i = 0; i < s.size(); ++i)
        buffer[i] = static_cast<OLECHAR>(s[i]);
    buffer[s.size()] = 0;
    return static_cast<int>(s.size()) + 1;
}

// ---- BSTR: a 32-bit byte count, then the characters, then a NUL ----

BSTR SysAllocStringLen(const OLECHAR* text, UINT length)
{
    if (length > (UINT32_MAX - 8) / 2)
        return nullptr;
    const size_t bytes = static_cast<size_t>(length) * sizeof(OLECHAR);
    auto* block = static_cast<unsigned char*>(std::malloc(sizeof(uint32_t) + bytes + sizeof(OLECHAR)));
    if (!block)
        return nullptr;
    const uint32_t prefix = static_cast<uint32_t>(bytes);
    std::memcpy(block, &prefix, sizeof prefix);
    auto* chars = reinterpret_cast<OLECHAR*>(block + sizeof(uint32_t));
    if (text)
        std::memcpy(chars, text, bytes);
    else
        std::memset(chars, 0, bytes);
    chars[length] = 0;
    return chars;
}

BSTR SysAllocString(const OLECHAR* text)
{
    if (!text)
        return nullptr;
    UINT n = 0;
    while (text[n])
        ++n;
    return SysAllocStringLen(text, n);
}

void SysFreeString(BSTR text)
{
    if (text)
        std::free(reinterpret_cast<unsigned char*>(text) - sizeof(uint32_t));
}

UINT SysStringByteLen(BSTR text)
{
    if (!text)
        return 0;
    uint32_t prefix = 0;
    std::memcpy(&prefix, reinterpret_cast<unsigned char*>(text) - sizeof(uint32_t), sizeof prefix);
    return prefix;
}

UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

// ---- UTF conversions ----

namespace {

// Undecodable bytes become U+FFFD, or, when escaping, U+DC80..U+DCFF (one per byte) so that the
// bytes can be had back.
std::u16string DecodeUtf8(std::string_view s, bool escapeBytes)
{
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        uint32_t cp = 0;
        size_t len = 0;
        if (c < 0x80) {
            cp = c;
            len = 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            len = 3;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            len = 4;
        }
        bool ok = len > 0 && i + len <= s.size();
        for (size_t k = 1; ok && k < len; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80)
                ok = false;
            else
                cp = (cp << 6) | (cc & 0x3F);
        }
        static constexpr uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (ok && (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
            ok = false;
        if (!ok) {
            out.push_back(escapeBytes ? static_cast<char16_t>(0xDC00 + c) : u'\uFFFD');
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

std::string EncodeUtf8(std::u16string_view s, bool escapedBytes)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00u);
            ++i;
        } else if (escapedBytes && cp >= 0xDC80 && cp <= 0xDCFF) {
            out.push_back(static_cast<char>(cp - 0xDC00));
            continue;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            out.push_back('?'); // an unpaired surrogate has no UTF-8 form
            continue;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

} // namespace

std::u16string comrt::Utf8ToUtf16(std::string_view utf8) { return DecodeUtf8(utf8, false); }
std::string comrt::Utf16ToUtf8(std::u16string_view utf16) { return EncodeUtf8(utf16, false); }

std::u16string comrt::FileNameToUtf16(std::string_view bytes) { return DecodeUtf8(bytes, true); }

std::string comrt::FileNameFromUtf16(std::u16string_view text)
{
    const size_t nul = text.find(u'\0');
    return EncodeUtf8(nul == std::u16string_view::npos ? text : text.substr(0, nul), true);
}

BSTR comrt::AllocBstrFromFileName(std::string_view bytes)
{
    const std::u16string w = FileNameToUtf16(bytes);
    return SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
}

BSTR comrt::AllocBstrFromUtf8(std::string_view utf8)
{
    const std::u16string w = Utf8ToUtf16(utf8);
    return SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
}

// ---- VARIANT ----

void VariantInit(VARIANT* v)
{
    if (!v)
        return;
    std::memset(v, 0, sizeof *v);
    v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v)
{
    if (!v)
        return E_INVALIDARG;
    if (!(v->vt & VT_BYREF)) {
        switch (v->vt) {
        case VT_BSTR:
            SysFreeString(v->bstrVal);
            break;
        case VT_UNKNOWN:
        case VT_DISPATCH:
            if (v->punkVal)
                v->punkVal->Release();
            break;
        default:
            break;
        }
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src)
{
    if (!dest || !src)
        return E_INVALIDARG;
    if (dest == src)
        return S_OK;
    VARIANT copy = *src;
    if (!(src->vt & VT_BYREF)) {
        if (src->vt == VT_BSTR && src->bstrVal) {
            copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
            if (!copy.bstrVal)
                return E_OUTOFMEMORY;
        } else if ((src->vt == VT_UNKNOWN || src->vt == VT_DISPATCH) && src->punkVal) {
            src->punkVal->AddRef();
        }
    }
    VariantClear(dest);
    *dest = copy;
    return S_OK;
}

std::string comrt::DescribeStatus(HRESULT hr)
{
    struct Known {
        HRESULT code;
        const char* words;
    };
    static constexpr Known kKnown[] = {
        {E_OUTOFMEMORY, "out of memory"},
        {E_ACCESSDENIED, "access denied"},
        {E_INVALIDARG, "invalid argument"},
        {E_UNEXPECTED, "the library is not ready"},
        {E_NOINTERFACE, "interface not supported"},
        {E_FAIL, "unspecified failure"},
        {CLASS_E_CLASSNOTAVAILABLE, "the library does not serve that class"},
        {CLASS_E_NOAGGREGATION, "the class cannot be aggregated"},
        {REGDB_E_READREGDB, "the registration store cannot be read"},
        {REGDB_E_WRITEREGDB, "the registration store cannot be written"},
        {REGDB_E_CLASSNOTREG, "class not registered"},
        {CO_E_DLLNOTFOUND, "the library cannot be loaded"},
        {CO_E_ERRORINDLL, "not a component library"},
        {TYPE_E_REGISTRYACCESS, "the type library records cannot be written"},
        {TYPE_E_LIBNOTREGISTERED, "type library not registered"},
        {TYPE_E_CANTLOADLIBRARY, "the type library cannot be loaded"},
        {HRESULT_FROM_WIN32(ERROR_CANTREAD), "the registration store cannot be read"},
        {HRESULT_FROM_WIN32(ERROR_CANTWRITE), "the registration store cannot be written"},
        {HRESULT_FROM_WIN32(ERROR_BADDB), "the registration store is damaged"},
    };
    char code[24];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    for (const Known& k : kKnown)
        if (k.code == hr)
            return std::string(k.words) + " (" + code + ")";
    return std::string("status ") + code;
}
