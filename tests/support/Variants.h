#pragma once
// The one way tests build VARIANTs and read them back as text. A Var owns
// its content (VariantClear on destruction), so a table of Vars leaks nothing.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>
#include <cstdio>
#include <map>
#include <string>

#include "vembro/com/Resource.h"
#include "vembro/com/Strings.h"

namespace comtest {

inline vembro::unique_bstr Bstr(const std::string& text) { return vembro::BstrFromAnsi(text); }

struct Var : vembro::unique_variant {
    Var() = default;
    Var(Var&& other) noexcept { *static_cast<VARIANT*>(this) = other.Detach(); }
    // Any by-value integer or floating type: the field is picked by vt.
    template <class T> static Var Of(VARTYPE vt, T value)
    {
        Var r;
        V_VT(&r) = vt;
        switch (vt) {
        case VT_I1: V_I1(&r) = static_cast<CHAR>(value); break;
        case VT_UI1: V_UI1(&r) = static_cast<BYTE>(value); break;
        case VT_I2: V_I2(&r) = static_cast<SHORT>(value); break;
        case VT_UI2: V_UI2(&r) = static_cast<USHORT>(value); break;
        case VT_BOOL: V_BOOL(&r) = static_cast<VARIANT_BOOL>(value); break;
        case VT_I4: V_I4(&r) = static_cast<LONG>(value); break;
        case VT_I8: V_I8(&r) = static_cast<LONGLONG>(value); break;
        case VT_UI4: V_UI4(&r) = static_cast<ULONG>(value); break;
        case VT_INT: V_INT(&r) = static_cast<INT>(value); break;
        case VT_UINT: V_UINT(&r) = static_cast<UINT>(value); break;
        case VT_R4: V_R4(&r) = static_cast<FLOAT>(value); break;
        case VT_R8: V_R8(&r) = static_cast<DOUBLE>(value); break;
        case VT_DATE: V_DATE(&r) = static_cast<DATE>(value); break;
        default: V_VT(&r) = VT_EMPTY; break;
        }
        return r;
    }
    static Var I2(short v) { return Of(VT_I2, v); }
    static Var I4(LONG v) { return Of(VT_I4, v); }
    static Var Str(const std::string& text)
    {
        Var r;
        V_VT(&r) = VT_BSTR;
        V_BSTR(&r) = Bstr(text).release();
        return r;
    }
    static Var Unknown(IUnknown* p)
    {
        Var r;
        V_VT(&r) = VT_UNKNOWN;
        V_UNKNOWN(&r) = p;
        if (p)
            p->AddRef();
        return r;
    }
    static Var Missing()
    {
        Var r;
        *static_cast<VARIANT*>(&r) = vembro::MissingArgument();
        return r;
    }
};

inline std::string TextOf(BSTR text) { return text ? vembro::AnsiFromBstr(text) : std::string("<null>"); }
inline std::string PointerText(const void* p) { return p ? "set" : "null"; }

// "@<position>" of a stream, "null", or "set" for an object that is not one.
inline std::string StreamText(IUnknown* unknown)
{
    Microsoft::WRL::ComPtr<IStream> stream;
    if (!unknown || FAILED(unknown->QueryInterface(IID_PPV_ARGS(&stream))))
        return PointerText(unknown);
    ULARGE_INTEGER at{};
    return FAILED(stream->Seek({}, STREAM_SEEK_CUR, &at)) ? "@?" : "@" + std::to_string(at.QuadPart);
}

inline std::string TypeText(VARTYPE vt)
{
    static const std::map<VARTYPE, const char*> names = {
        {VT_EMPTY, "EMPTY"}, {VT_NULL, "NULL"}, {VT_I1, "I1"}, {VT_I2, "I2"}, {VT_I4, "I4"}, {VT_I8, "I8"},
        {VT_UI1, "UI1"}, {VT_UI2, "UI2"}, {VT_UI4, "UI4"}, {VT_UI8, "UI8"}, {VT_INT, "INT"}, {VT_UINT, "UINT"},
        {VT_R4, "R4"}, {VT_R8, "R8"}, {VT_BOOL, "BOOL"}, {VT_ERROR, "ERROR"}, {VT_BSTR, "BSTR"},
        {VT_UNKNOWN, "UNKNOWN"}, {VT_DISPATCH, "DISPATCH"}, {VT_VARIANT, "VARIANT"}};
    auto it = names.find(vt);
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(vt));
    return std::string("VT_") + (it == names.end() ? text : it->second);
}

// "VT_ERROR:80020004", "VT_I4:0", "VT_UNKNOWN:@3", "VT_EMPTY", "VT_BYREF|VT_BSTR";
// other values as the platform writes them without a locale.
inline std::string VariantText(const VARIANT& v)
{
    const VARTYPE vt = V_VT(&v);
    if (vt & VT_BYREF)
        return "VT_BYREF|" + TypeText(vt & ~VT_BYREF);
    vembro::unique_variant copy;
    char hex[12];
    std::snprintf(hex, sizeof hex, "%08lX", static_cast<unsigned long>(V_ERROR(&v)));
    switch (vt) {
    case VT_EMPTY: case VT_NULL: return TypeText(vt);
    case VT_ERROR: return TypeText(vt) + ":" + hex;
    case VT_BSTR: return TypeText(vt) + ":" + TextOf(V_BSTR(&v));
    case VT_UNKNOWN: case VT_DISPATCH: return TypeText(vt) + ":" + StreamText(V_UNKNOWN(&v));
    }
    if (SUCCEEDED(::VariantChangeTypeEx(&copy, const_cast<VARIANT*>(&v), LOCALE_INVARIANT, 0, VT_BSTR)))
        return TypeText(vt) + ":" + TextOf(V_BSTR(&copy));
    return TypeText(vt);
}


} // namespace comtest
