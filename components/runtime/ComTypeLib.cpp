#include "ComTypeLib.h"

#include "ComInternal.h"
#include "ComRegistry.h"

#include <atomic>
#include <cstdio>
#include <dlfcn.h>
#include <memory>
#include <new>
#include <vector>

namespace {

std::atomic<LONG> g_references{0};

bool IEquals16(const char16_t* a, const char16_t* b)
{
    if (!a || !b)
        return false;
    for (; *a && *b; ++a, ++b) {
        char16_t x = *a, y = *b;
        if (x >= u'A' && x <= u'Z')
            x = static_cast<char16_t>(x - u'A' + u'a');
        if (y >= u'A' && y <= u'Z')
            y = static_cast<char16_t>(y - u'A' + u'a');
        if (x != y)
            return false;
    }
    return *a == *b;
}

BSTR Bstr(const char16_t* text) { return text ? SysAllocString(text) : nullptr; }

class TypeLib;

// One interface or class of a type library. Shares its library's reference count.
class TypeInfo final : public ITypeInfo {
public:
    TypeInfo(TypeLib* owner, UINT index, const comrt::InterfaceDesc* iface,
             const comrt::CoClassDesc* coclass)
        : m_owner(owner), m_index(index), m_iface(iface), m_coclass(coclass)
    {
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ITypeInfo) {
            *ppv = static_cast<ITypeInfo*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetTypeAttr(TYPEATTR** out) override
    {
        if (!out)
            return E_POINTER;
        auto* a = new (std::nothrow) TYPEATTR{};
        if (!a)
            return E_OUTOFMEMORY;
        a->memidConstructor = MEMBERID_NIL;
        a->memidDestructor = MEMBERID_NIL;
        if (m_iface) {
            a->guid = m_iface->iid;
            a->typekind = (m_iface->typeFlags & TYPEFLAG_FDISPATCHABLE) ? TKIND_DISPATCH
                                                                         : TKIND_INTERFACE;
            a->cFuncs = m_iface->memberCount;
            a->cImplTypes = 1;
            a->wTypeFlags = m_iface->typeFlags;
        } else {
            a->guid = m_coclass->clsid;
            a->typekind = TKIND_COCLASS;
            a->cImplTypes = 1;
            a->wTypeFlags = m_coclass->typeFlags;
        }
        *out = a;
        return S_OK;
    }
    HRESULT GetFuncDesc(UINT index, FUNCDESC** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (!m_iface || index >= m_iface->memberCount)
            return TYPE_E_ELEMENTNOTFOUND;
        const comrt::MemberDesc& m = m_iface->members[index];
        auto* f = new (std::nothrow) FUNCDESC{};
        if (!f)
            return E_OUTOFMEMORY;
        f->memid = m.memid;
        f->invkind = m.kind;
        f->cParams = static_cast<SHORT>(m.paramCount);
        f->oVft = static_cast<SHORT>(m.vtableSlot * sizeof(void*));
        *out = f;
        return S_OK;
    }
    HRESULT GetNames(MEMBERID memid, BSTR* names, UINT max, UINT* count) override
    {
        if (!names || !count)
            return E_INVALIDARG;
        *count = 0;
        const comrt::MemberDesc* m = member(memid);
        if (!m)
            return TYPE_E_ELEMENTNOTFOUND;
        if (max == 0)
            return S_OK;
        names[(*count)++] = Bstr(m->name);
        for (uint16_t i = 0; i < m->paramCount && *count < max; ++i)
            names[(*count)++] = Bstr(m->params[i].name);
        return S_OK;
    }
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override
    {
        if (!names || !ids)
            return E_INVALIDARG;
        if (count == 0)
            return S_OK;
        for (UINT i = 0; i < count; ++i)
            ids[i] = MEMBERID_NIL;
        const comrt::MemberDesc* found = nullptr;
        for (uint16_t i = 0; m_iface && i < m_iface->memberCount; ++i)
            if (IEquals16(m_iface->members[i].name, names[0]))
                found = &m_iface->members[i];
        if (!found)
            return DISP_E_UNKNOWNNAME;
        ids[0] = found->memid;
        HRESULT hr = S_OK;
        for (UINT n = 1; n < count; ++n) {
            for (uint16_t p = 0; p < found->paramCount; ++p)
                if (IEquals16(found->params[p].name, names[n]))
                    ids[n] = p;
            if (ids[n] == MEMBERID_NIL)
                hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    HRESULT Invoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO*, UINT* argErr) override
    {
        if (!instance)
            return E_INVALIDARG;
        const comrt::MemberDesc* m = member(memid);
        if (!m || !m->invoke)
            return DISP_E_MEMBERNOTFOUND;
        WORD accepted = 0;
        switch (m->kind) {
        case INVOKE_FUNC: accepted = DISPATCH_METHOD; break;
        case INVOKE_PROPERTYGET: accepted = DISPATCH_PROPERTYGET | DISPATCH_METHOD; break;
        case INVOKE_PROPERTYPUT: accepted = DISPATCH_PROPERTYPUT; break;
        case INVOKE_PROPERTYPUTREF: accepted = DISPATCH_PROPERTYPUTREF; break;
        }
        if (!(flags & accepted))
            return DISP_E_MEMBERNOTFOUND;
        try {
            return m->invoke(instance, flags, params, result, argErr);
        } catch (...) {
            return DISP_E_EXCEPTION;
        }
    }
    HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, DWORD* helpContext,
                             BSTR* helpFile) override
    {
        const char16_t* n = nullptr;
        const char16_t* d = nullptr;
        if (memid == MEMBERID_NIL) {
            n = m_iface ? m_iface->name : m_coclass->name;
            d = m_iface ? m_iface->helpString : m_coclass->helpString;
        } else if (const comrt::MemberDesc* m = member(memid)) {
            n = m->name;
            d = m->helpString;
        } else {
            return TYPE_E_ELEMENTNOTFOUND;
        }
        if (name)
            *name = Bstr(n);
        if (doc)
            *doc = Bstr(d);
        if (helpContext)
            *helpContext = 0;
        if (helpFile)
            *helpFile = nullptr;
        return S_OK;
    }
    HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) override;
    void ReleaseTypeAttr(TYPEATTR* a) override { delete a; }
    void ReleaseFuncDesc(FUNCDESC* f) override { delete f; }

    REFGUID guid() const { return m_iface ? m_iface->iid : m_coclass->clsid; }
    TYPEKIND kind() const
    {
        if (!m_iface)
            return TKIND_COCLASS;
        return (m_iface->typeFlags & TYPEFLAG_FDISPATCHABLE) ? TKIND_DISPATCH : TKIND_INTERFACE;
    }

private:
    const comrt::MemberDesc* member(MEMBERID memid) const
    {
        for (uint16_t i = 0; m_iface && i < m_iface->memberCount; ++i)
            if (m_iface->members[i].memid == memid)
                return &m_iface->members[i];
        return nullptr;
    }

    TypeLib* m_owner;
    UINT m_index;
    const comrt::InterfaceDesc* m_iface;
    const comrt::CoClassDesc* m_coclass;
};

// A type library over a TypeLibDesc table. When the table lives in another loaded library, the
// type library keeps that library loaded (the table and its invokers are its code and data).
class TypeLib final : public ITypeLib {
public:
    TypeLib(const comrt::TypeLibDesc* desc, void* handle) : m_desc(desc), m_handle(handle)
    {
        g_references.fetch_add(1);
    }
    ~TypeLib()
    {
        if (m_handle)
            ::dlclose(m_handle);
    }
    TypeLib(const TypeLib&) = delete;
    TypeLib& operator=(const TypeLib&) = delete;

    bool build()
    {
        try {
            m_infos.reserve(m_desc->interfaceCount + m_desc->coclassCount);
            for (uint32_t i = 0; i < m_desc->interfaceCount; ++i)
                m_infos.push_back(std::make_unique<TypeInfo>(this, static_cast<UINT>(m_infos.size()),
                                                             &m_desc->interfaces[i], nullptr));
            for (uint32_t i = 0; i < m_desc->coclassCount; ++i)
                m_infos.push_back(std::make_unique<TypeInfo>(this, static_cast<UINT>(m_infos.size()),
                                                             nullptr, &m_desc->coclasses[i]));
        } catch (...) {
            return false;
        }
        return true;
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ITypeLib) {
            *ppv = static_cast<ITypeLib*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override
    {
        g_references.fetch_add(1);
        return ++m_ref;
    }
    ULONG Release() override
    {
        const ULONG n = --m_ref;
        g_references.fetch_sub(1);
        if (n == 0)
            delete this;
        return n;
    }

    UINT GetTypeInfoCount() override { return static_cast<UINT>(m_infos.size()); }
    HRESULT GetTypeInfo(UINT index, ITypeInfo** out) override
    {
        if (!out)
            return E_INVALIDARG;
        *out = nullptr;
        if (index >= m_infos.size())
            return TYPE_E_ELEMENTNOTFOUND;
        *out = m_infos[index].get();
        (*out)->AddRef();
        return S_OK;
    }
    HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) override
    {
        if (!kind)
            return E_INVALIDARG;
        if (index >= m_infos.size())
            return TYPE_E_ELEMENTNOTFOUND;
        *kind = m_infos[index]->kind();
        return S_OK;
    }
    HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** out) override
    {
        if (!out)
            return E_INVALIDARG;
        *out = nullptr;
        for (auto& info : m_infos) {
            if (info->guid() == guid) {
                *out = info.get();
                (*out)->AddRef();
                return S_OK;
            }
        }
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT GetLibAttr(TLIBATTR** out) override
    {
        if (!out)
            return E_INVALIDARG;
        auto* a = new (std::nothrow) TLIBATTR{};
        if (!a)
            return E_OUTOFMEMORY;
        a->guid = m_desc->libid;
        a->lcid = m_desc->lcid;
        a->syskind = m_desc->syskind;
        a->wMajorVerNum = m_desc->majorVersion;
        a->wMinorVerNum = m_desc->minorVersion;
        a->wLibFlags = m_desc->libFlags;
        *out = a;
        return S_OK;
    }
    HRESULT GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* helpContext,
                             BSTR* helpFile) override
    {
        if (index == -1) {
            if (name)
                *name = Bstr(m_desc->name);
            if (doc)
                *doc = Bstr(m_desc->helpString);
            if (helpContext)
                *helpContext = 0;
            if (helpFile)
                *helpFile = nullptr;
            return S_OK;
        }
        if (index < 0 || static_cast<size_t>(index) >= m_infos.size())
            return TYPE_E_ELEMENTNOTFOUND;
        return m_infos[static_cast<size_t>(index)]->GetDocumentation(MEMBERID_NIL, name, doc,
                                                                    helpContext, helpFile);
    }
    void ReleaseTLibAttr(TLIBATTR* a) override { delete a; }

private:
    const comrt::TypeLibDesc* m_desc;
    void* m_handle;
    std::atomic<ULONG> m_ref{1};
    std::vector<std::unique_ptr<TypeInfo>> m_infos;
};

ULONG TypeInfo::AddRef() { return m_owner->AddRef(); }
ULONG TypeInfo::Release() { return m_owner->Release(); }

HRESULT TypeInfo::GetContainingTypeLib(ITypeLib** lib, UINT* index)
{
    if (!lib)
        return E_INVALIDARG;
    *lib = m_owner;
    m_owner->AddRef();
    if (index)
        *index = m_index;
    return S_OK;
}

HRESULT Create(const comrt::TypeLibDesc* desc, void* handle, ITypeLib** out)
{
    if (!desc || desc->structSize < sizeof(comrt::TypeLibDesc)) {
        if (handle)
            ::dlclose(handle);
        return TYPE_E_CANTLOADLIBRARY;
    }
    auto* lib = new (std::nothrow) TypeLib(desc, handle);
    if (!lib) {
        if (handle)
            ::dlclose(handle);
        return E_OUTOFMEMORY;
    }
    if (!lib->build()) {
        lib->Release();
        return E_OUTOFMEMORY;
    }
    *out = lib;
    return S_OK;
}

std::string Hex(unsigned v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", v);
    return buf;
}

const char* PlatformName(SYSKIND kind)
{
    switch (kind) {
    case SYS_WIN16: return "win16";
    case SYS_WIN32: return "win32";
    case SYS_MAC: return "mac";
    case SYS_WIN64: return "win64";
    case SYS_LINUX64: return "linux64";
    }
    return "linux64";
}

// Sets the default (or named) value of a key below HKEY_CLASSES_ROOT, creating the key.
bool SetClassesRootValue(const std::string& path, const char* name, const std::string& value)
{
    HKEY key = nullptr;
    if (RegCreateKeyEx(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                       nullptr) != ERROR_SUCCESS)
        return false;
    const LONG rc = RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                  static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

std::vector<std::string> SubkeysOf(const std::string& path)
{
    std::vector<std::string> out;
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return out;
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD cch = sizeof name;
        if (RegEnumKeyEx(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        out.emplace_back(name, cch);
    }
    RegCloseKey(key);
    return out;
}

// The registered path of a type library, following the rules LoadRegTypeLib documents.
HRESULT RegisteredPath(REFGUID libid, WORD major, WORD minor, LCID lcid, std::string* path)
{
    const std::string base = "TypeLib\\" + comrt::FormatGuid(libid);
    int bestMinor = -1;
    std::string bestVersion;
    for (const std::string& v : SubkeysOf(base)) {
        unsigned maj = 0, min = 0;
        char tail = 0;
        if (std::sscanf(v.c_str(), "%x.%x%c", &maj, &min, &tail) != 2)
            continue;
        if (maj == major && min >= minor && static_cast<int>(min) > bestMinor) {
            bestMinor = static_cast<int>(min);
            bestVersion = v;
        }
    }
    if (bestMinor < 0)
        return TYPE_E_LIBNOTREGISTERED;
    const LCID tries[] = {lcid, static_cast<LCID>(lcid & 0x3FF), 0};
    for (LCID l : tries) {
        if (comrt::ReadClassesRootString(base + "\\" + bestVersion + "\\" + Hex(l) + "\\" +
                                             PlatformName(SYS_LINUX64),
                                         nullptr, path) &&
            !path->empty())
            return S_OK;
    }
    return TYPE_E_LIBNOTREGISTERED;
}

} // namespace

LONG comrt::TypeLibReferenceCount() { return g_references.load(); }

HRESULT comrt::CreateTypeLibFromDesc(const TypeLibDesc* desc, ITypeLib** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    return Create(desc, nullptr, out);
}

HRESULT LoadTypeLib(LPCOLESTR file, ITypeLib** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    const std::string path = comrt::internal::Narrow(file);
    if (path.empty())
        return E_INVALIDARG;
    void* handle = comrt::internal::OpenLibrary(path, nullptr);
    if (!handle)
        return TYPE_E_CANTLOADLIBRARY;
    const comrt::RuntimeLink* link = comrt::internal::LinkOf(handle);
    if (!link || !link->typeLib) {
        ::dlclose(handle);
        return TYPE_E_CANTLOADLIBRARY;
    }
    // A library reading its own type library is loaded anyway while its code runs; holding a
    // handle on itself would keep it loaded for ever.
    if (comrt::internal::ObjectBaseOf(link->typeLib) == comrt::internal::ThisObjectBase()) {
        ::dlclose(handle);
        handle = nullptr;
    }
    return Create(link->typeLib, handle, out);
}

HRESULT QueryPathOfRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, BSTR* path)
{
    if (!path)
        return E_INVALIDARG;
    *path = nullptr;
    std::string p;
    const HRESULT hr = RegisteredPath(libid, major, minor, lcid, &p);
    if (FAILED(hr))
        return hr;
    *path = comrt::AllocBstrFromUtf8(comrt::internal::ResolveStorePath(p));
    return *path ? S_OK : E_OUTOFMEMORY;
}

HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    std::string path;
    const HRESULT hr = RegisteredPath(libid, major, minor, lcid, &path);
    if (FAILED(hr))
        return hr;
    const std::u16string wide = comrt::Utf8ToUtf16(comrt::internal::ResolveStorePath(path));
    return LoadTypeLib(wide.c_str(), out);
}

HRESULT RegisterTypeLib(ITypeLib* lib, LPCOLESTR fullPath, LPCOLESTR helpDir)
{
    if (!lib || !fullPath)
        return E_INVALIDARG;
    TLIBATTR* attr = nullptr;
    HRESULT hr = lib->GetLibAttr(&attr);
    if (FAILED(hr))
        return hr;
    const TLIBATTR a = *attr;
    lib->ReleaseTLibAttr(attr);
    BSTR doc = nullptr;
    lib->GetDocumentation(-1, nullptr, &doc, nullptr, nullptr);
    const std::string help = doc ? comrt::Utf16ToUtf8(std::u16string_view(doc, SysStringLen(doc))) : "";
    SysFreeString(doc);

    const std::string libid = comrt::FormatGuid(a.guid);
    const std::string version = Hex(a.wMajorVerNum) + "." + Hex(a.wMinorVerNum);
    const std::string base = "TypeLib\\" + libid + "\\" + version;
    bool ok = SetClassesRootValue(base, nullptr, help) &&
              SetClassesRootValue(base + "\\" + Hex(a.lcid) + "\\" + PlatformName(a.syskind),
                                  nullptr, comrt::internal::Narrow(fullPath)) &&
              SetClassesRootValue(base + "\\FLAGS", nullptr, std::to_string(a.wLibFlags)) &&
              SetClassesRootValue(base + "\\HELPDIR", nullptr, comrt::internal::Narrow(helpDir));

    // Interfaces that automation marshals through the type library.
    const std::string marshaler = "{00020424-0000-0000-C000-000000000046}";
    for (UINT i = 0; ok && i < lib->GetTypeInfoCount(); ++i) {
        ITypeInfo* info = nullptr;
        if (FAILED(lib->GetTypeInfo(i, &info)))
            continue;
        TYPEATTR* ta = nullptr;
        if (SUCCEEDED(info->GetTypeAttr(&ta))) {
            const bool automation =
                (ta->typekind == TKIND_DISPATCH || ta->typekind == TKIND_INTERFACE) &&
                (ta->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE));
            if (automation) {
                BSTR name = nullptr;
                info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
                const std::string key = "Interface\\" + comrt::FormatGuid(ta->guid);
                ok = SetClassesRootValue(key, nullptr,
                                         name ? comrt::Utf16ToUtf8(std::u16string_view(
                                                    name, SysStringLen(name)))
                                              : "") &&
                     SetClassesRootValue(key + "\\ProxyStubClsid", nullptr, marshaler) &&
                     SetClassesRootValue(key + "\\ProxyStubClsid32", nullptr, marshaler) &&
                     SetClassesRootValue(key + "\\TypeLib", nullptr, libid) &&
                     SetClassesRootValue(key + "\\TypeLib", "Version", version);
                SysFreeString(name);
            }
            info->ReleaseTypeAttr(ta);
        }
        info->Release();
    }
    return ok ? S_OK : TYPE_E_REGISTRYACCESS;
}

HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND syskind)
{
    const std::string id = comrt::FormatGuid(libid);
    const std::string version = Hex(major) + "." + Hex(minor);
    const std::string base = "TypeLib\\" + id + "\\" + version;
    const std::string lcidKey = base + "\\" + Hex(lcid);
    const std::string platformKey = lcidKey + "\\" + PlatformName(syskind);
    if (!comrt::ClassesRootKeyExists(platformKey))
        return TYPE_E_REGISTRYACCESS;

    // The interfaces registered by this library and version.
    for (const std::string& iid : SubkeysOf("Interface")) {
        std::string owner, ownerVersion;
        const std::string key = "Interface\\" + iid;
        if (comrt::ReadClassesRootString(key + "\\TypeLib", nullptr, &owner) &&
            comrt::internal::IEquals(owner, id) &&
            comrt::ReadClassesRootString(key + "\\TypeLib", "Version", &ownerVersion) &&
            ownerVersion == version)
            RegDeleteTree(HKEY_CLASSES_ROOT, key.c_str());
    }

    if (RegDeleteTree(HKEY_CLASSES_ROOT, platformKey.c_str()) != ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    if (SubkeysOf(lcidKey).empty())
        RegDeleteKey(HKEY_CLASSES_ROOT, lcidKey.c_str());
    // The version key goes once no locale is left under it (FLAGS and HELPDIR go with it).
    bool otherLocale = false;
    for (const std::string& k : SubkeysOf(base))
        if (!comrt::internal::IEquals(k, "FLAGS") && !comrt::internal::IEquals(k, "HELPDIR"))
            otherLocale = true;
    if (!otherLocale)
        RegDeleteTree(HKEY_CLASSES_ROOT, base.c_str());
    const std::string libKey = "TypeLib\\" + id;
    if (comrt::ClassesRootKeyExists(libKey) && SubkeysOf(libKey).empty())
        RegDeleteKey(HKEY_CLASSES_ROOT, libKey.c_str());
    return S_OK;
}

// ---- argument conversion for the invokers ----

HRESULT comrt::detail::InArg<BSTR>::take(const VARIANT* v)
{
    v = Unwrap(v);
    if (!v)
        return DISP_E_TYPEMISMATCH;
    switch (v->vt) {
    case VT_BSTR: value = v->bstrVal; return S_OK;
    case VT_BSTR | VT_BYREF: value = v->pbstrVal ? *v->pbstrVal : nullptr; return S_OK;
    case VT_I4:
    case VT_I4 | VT_BYREF: {
        const LONG n = v->vt == VT_I4 ? v->lVal : (v->plVal ? *v->plVal : 0);
        owned = AllocBstrFromUtf8(std::to_string(n));
        if (!owned)
            return E_OUTOFMEMORY;
        value = owned;
        return S_OK;
    }
    default: return DISP_E_TYPEMISMATCH;
    }
}

HRESULT comrt::detail::InArg<LONG>::take(const VARIANT* v)
{
    v = Unwrap(v);
    if (!v)
        return DISP_E_TYPEMISMATCH;
    switch (v->vt) {
    case VT_I4:
    case VT_INT: value = v->lVal; return S_OK;
    case VT_I2: value = v->iVal; return S_OK;
    case VT_BOOL: value = v->boolVal; return S_OK;
    case VT_I4 | VT_BYREF:
        if (!v->plVal)
            return DISP_E_TYPEMISMATCH;
        value = *v->plVal;
        return S_OK;
    case VT_I2 | VT_BYREF:
        if (!v->piVal)
            return DISP_E_TYPEMISMATCH;
        value = *v->piVal;
        return S_OK;
    default: return DISP_E_TYPEMISMATCH;
    }
}

HRESULT comrt::detail::InArg<VARIANT_BOOL>::take(const VARIANT* v)
{
    v = Unwrap(v);
    if (!v)
        return DISP_E_TYPEMISMATCH;
    switch (v->vt) {
    case VT_BOOL: value = v->boolVal ? VARIANT_TRUE : VARIANT_FALSE; return S_OK;
    case VT_I4: value = v->lVal ? VARIANT_TRUE : VARIANT_FALSE; return S_OK;
    case VT_I2: value = v->iVal ? VARIANT_TRUE : VARIANT_FALSE; return S_OK;
    case VT_BOOL | VT_BYREF:
        if (!v->pboolVal)
            return DISP_E_TYPEMISMATCH;
        value = *v->pboolVal ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    default: return DISP_E_TYPEMISMATCH;
    }
}
