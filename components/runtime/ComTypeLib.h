// Type libraries: what a component's interfaces look like, for calls by name.
//
// A component library describes its type library in a compiled-in table (TypeLibDesc) and hands
// it to the runtime through its RuntimeLink (ComRuntime.h, ComServer.h). LoadTypeLib(path) loads
// the library file, reads the table and builds ITypeLib/ITypeInfo objects from it; the type library
// keeps the file loaded while it lives (unless the file is the caller's own library).
// RegisterTypeLib/UnRegisterTypeLib write and remove the usual records:
//
//   TypeLib\{libid}\1.0                 @ = help string
//   TypeLib\{libid}\1.0\0\linux64       @ = library path
//   TypeLib\{libid}\1.0\FLAGS           @ = "0"
//   TypeLib\{libid}\1.0\HELPDIR         @ = help folder
//   Interface\{iid}                     @ = interface name, with ProxyStubClsid, ProxyStubClsid32
//                                           and TypeLib (@ = {libid}, Version = "1.0") below it
//
// Each member's row names a typed invoker made by comrt::MemberInvoker<&Interface::Member>, which
// turns DISPPARAMS into a call through the vtable; see the example in ComServer.h.
#pragma once

#include "ComTypes.h"

#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

namespace comrt {

// Calls one member on `instance` (the interface pointer the member belongs to).
using InvokeFn = HRESULT (*)(void* instance, WORD flags, DISPPARAMS* params, VARIANT* result,
                             UINT* argErr);

struct ParamDesc {
    const char16_t* name;
    VARTYPE vt;
    WORD flags; // PARAMFLAG_FIN / FOUT / FRETVAL
};

struct MemberDesc {
    MEMBERID memid;
    const char16_t* name;
    INVOKEKIND kind;
    const ParamDesc* params;
    uint16_t paramCount;
    const char16_t* helpString;
    uint16_t vtableSlot; // 7 for the first member after IDispatch's
    InvokeFn invoke;
};

struct InterfaceDesc {
    IID iid;
    const char16_t* name;
    const char16_t* helpString;
    WORD typeFlags; // TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE
    IID base;       // IID_IDispatch
    const MemberDesc* members;
    uint16_t memberCount;
};

struct CoClassDesc {
    CLSID clsid;
    const char16_t* name;
    const char16_t* helpString;
    WORD typeFlags; // TYPEFLAG_FCANCREATE
    IID defaultInterface;
};

struct TypeLibDesc {
    uint32_t structSize; // sizeof(TypeLibDesc)
    GUID libid;
    const char16_t* name; // "TALLYFOLDLib"
    const char16_t* helpString;
    WORD majorVersion;
    WORD minorVersion;
    LCID lcid;
    SYSKIND syskind;
    WORD libFlags;
    GUID importedLib; // LIBID_stdole
    const InterfaceDesc* interfaces;
    uint32_t interfaceCount;
    const CoClassDesc* coclasses;
    uint32_t coclassCount;
};

// A type library built from a table in this process (tests; the loader uses it too).
HRESULT CreateTypeLibFromDesc(const TypeLibDesc* desc, ITypeLib** out);
// References held right now on type library and type information objects made by this copy of the
// runtime; a component uses it to tell whether it can be unloaded.
LONG TypeLibReferenceCount();

} // namespace comrt

// Loads the type library described inside a component library file. TYPE_E_CANTLOADLIBRARY when
// the file cannot be loaded or holds no type library.
HRESULT LoadTypeLib(LPCOLESTR file, ITypeLib** out);
// Finds the registered path (major version equal, minor at least the one asked for, the locale or
// else locale 0) and loads it. TYPE_E_LIBNOTREGISTERED when there is no such record.
HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** out);
HRESULT QueryPathOfRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, BSTR* path);
HRESULT RegisterTypeLib(ITypeLib* lib, LPCOLESTR fullPath, LPCOLESTR helpDir);
HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND syskind);

// ---- typed invokers ----
namespace comrt::detail {

inline const VARIANT* Unwrap(const VARIANT* v)
{
    while (v && v->vt == (VT_BYREF | VT_VARIANT))
        v = v->pvarVal;
    return v;
}

template <class T>
struct InArg; // converts one argument; unsupported types fail to compile

template <>
struct InArg<BSTR> {
    BSTR value = nullptr;
    BSTR owned = nullptr;
    ~InArg() { SysFreeString(owned); }
    HRESULT take(const VARIANT* v);
};

template <>
struct InArg<LONG> {
    LONG value = 0;
    HRESULT take(const VARIANT* v);
};

template <>
struct InArg<VARIANT_BOOL> {
    VARIANT_BOOL value = VARIANT_FALSE;
    HRESULT take(const VARIANT* v);
};

template <class T>
struct OutArg {
    static constexpr bool isOut = false;
};
template <>
struct OutArg<LONG*> {
    static constexpr bool isOut = true;
    using Value = LONG;
    static void put(Value v, VARIANT* r)
    {
        r->vt = VT_I4;
        r->lVal = v;
    }
    static void drop(Value) {}
};
template <>
struct OutArg<VARIANT_BOOL*> {
    static constexpr bool isOut = true;
    using Value = VARIANT_BOOL;
    static void put(Value v, VARIANT* r)
    {
        r->vt = VT_BOOL;
        r->boolVal = v;
    }
    static void drop(Value) {}
};
template <>
struct OutArg<BSTR*> {
    static constexpr bool isOut = true;
    using Value = BSTR;
    static void put(Value v, VARIANT* r)
    {
        r->vt = VT_BSTR;
        r->bstrVal = v;
    }
    static void drop(Value v) { SysFreeString(v); }
};

template <class... A>
struct LastOf {
    using type = void;
};
template <class A>
struct LastOf<A> {
    using type = A;
};
template <class A, class B, class... R>
struct LastOf<A, B, R...> : LastOf<B, R...> {};

template <class M>
struct MemberTraits;
template <class I, class... A>
struct MemberTraits<HRESULT (I::*)(A...)> {
    using Interface = I;
    using Last = typename LastOf<A...>::type;
    static constexpr bool hasResult = sizeof...(A) > 0 && OutArg<Last>::isOut;
    static constexpr size_t inCount = sizeof...(A) - (hasResult ? 1 : 0);
    using Args = std::tuple<A...>;
};

template <auto M, size_t... In>
HRESULT InvokeWith(void* instance, DISPPARAMS* params, VARIANT* result, UINT* argErr,
                   std::index_sequence<In...>)
{
    using T = MemberTraits<decltype(M)>;
    using I = typename T::Interface;
    constexpr size_t n = T::inCount;
    std::tuple<InArg<std::tuple_element_t<In, typename T::Args>>...> args;
    HRESULT hr = S_OK;
    (void)params;
    (void)argErr; // unused by members without arguments
    // DISPPARAMS holds the arguments last first.
    (void)((SUCCEEDED(hr = std::get<In>(args).take(&params->rgvarg[n - 1 - In]))
                ? true
                : (argErr ? (*argErr = static_cast<UINT>(n - 1 - In), false) : false)) &&
           ...);
    if (FAILED(hr))
        return hr;
    I* self = static_cast<I*>(instance);
    if constexpr (T::hasResult) {
        using Out = OutArg<typename T::Last>;
        typename Out::Value value{};
        hr = (self->*M)(std::get<In>(args).value..., &value);
        if (SUCCEEDED(hr) && result)
            Out::put(value, result);
        else if (SUCCEEDED(hr))
            Out::drop(value);
    } else {
        hr = (self->*M)(std::get<In>(args).value...);
    }
    return hr;
}

} // namespace comrt::detail

namespace comrt {

// The invoker of one interface member, for its MemberDesc row: MemberInvoker<&IFoo::GetPages>.
// In-arguments may be BSTR, LONG or VARIANT_BOOL; a last argument of LONG*, BSTR* or
// VARIANT_BOOL* is the return value.
template <auto M>
HRESULT MemberInvoker(void* instance, WORD flags, DISPPARAMS* params, VARIANT* result,
                      UINT* argErr)
{
    (void)flags;
    using T = detail::MemberTraits<decltype(M)>;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (!params)
        params = &none;
    if (params->cNamedArgs != 0)
        return DISP_E_NONAMEDARGS;
    if (params->cArgs != T::inCount)
        return DISP_E_BADPARAMCOUNT;
    if (T::inCount > 0 && !params->rgvarg)
        return E_INVALIDARG;
    if (result)
        VariantInit(result);
    return detail::InvokeWith<M>(instance, params, result, argErr,
                                 std::make_index_sequence<T::inCount>{});
}

} // namespace comrt
