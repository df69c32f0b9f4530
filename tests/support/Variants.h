#pragma once
// The one way tests build VARIANTs and read them back as text. A Var owns
// its content (VariantClear on destruction), so a table of Vars leaks nothing.
#include <windows.h>
#include <oleauto.h>
#include <cstdio>
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
        case VT_ERROR: V_ERROR(&r) = static_cast<SCODE>(value); break;
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

// "VT_EMPTY", "VT_I2:5", "VT_I4:-1", "VT_BSTR:x", "VT_ERROR:80020004", else "VT_<number>".
inline std::string VariantText(const VARIANT& v)
{
    char buffer[32];
    switch (V_VT(&v)) {
    case VT_EMPTY: return "VT_EMPTY";
    case VT_I2: return "VT_I2:" + std::to_string(V_I2(&v));
    case VT_I4: return "VT_I4:" + std::to_string(V_I4(&v));
    case VT_BSTR: return "VT_BSTR:" + vembro::AnsiFromBstr(V_BSTR(&v));
    case VT_ERROR:
        std::snprintf(buffer, sizeof buffer, "VT_ERROR:%08lX", static_cast<unsigned long>(V_ERROR(&v)));
        return buffer;
    default: return "VT_" + std::to_string(V_VT(&v));
    }
}

} // namespace comtest
