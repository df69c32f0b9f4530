#include "components/FakeText.h"

#include <cstdio>

#include "vembro/com/Strings.h"

namespace fakes {
namespace {

const char* TypeName(VARTYPE vt)
{
    switch (vt) {
    case VT_EMPTY: return "VT_EMPTY";
    case VT_NULL: return "VT_NULL";
    case VT_I1: return "VT_I1";
    case VT_I2: return "VT_I2";
    case VT_I4: return "VT_I4";
    case VT_I8: return "VT_I8";
    case VT_UI1: return "VT_UI1";
    case VT_UI2: return "VT_UI2";
    case VT_UI4: return "VT_UI4";
    case VT_UI8: return "VT_UI8";
    case VT_INT: return "VT_INT";
    case VT_UINT: return "VT_UINT";
    case VT_R4: return "VT_R4";
    case VT_R8: return "VT_R8";
    case VT_BOOL: return "VT_BOOL";
    case VT_ERROR: return "VT_ERROR";
    case VT_BSTR: return "VT_BSTR";
    case VT_UNKNOWN: return "VT_UNKNOWN";
    case VT_DISPATCH: return "VT_DISPATCH";
    case VT_VARIANT: return "VT_VARIANT";
    default: return nullptr;
    }
}

std::string TypeText(VARTYPE vt)
{
    if (const char* name = TypeName(vt))
        return name;
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "VT_0x%X", static_cast<unsigned>(vt));
    return buffer;
}

// The value of a plain (not by-reference) type stored at `p`.
std::string ValueText(VARTYPE vt, const void* p)
{
    switch (vt) {
    case VT_EMPTY:
    case VT_NULL: return std::string();
    case VT_I1: return std::to_string(*static_cast<const signed char*>(p));
    case VT_I2: return std::to_string(*static_cast<const SHORT*>(p));
    case VT_I4:
    case VT_INT: return std::to_string(*static_cast<const LONG*>(p));
    case VT_I8: return std::to_string(*static_cast<const LONGLONG*>(p));
    case VT_UI1: return std::to_string(*static_cast<const BYTE*>(p));
    case VT_UI2: return std::to_string(*static_cast<const USHORT*>(p));
    case VT_UI4:
    case VT_UINT: return std::to_string(*static_cast<const ULONG*>(p));
    case VT_UI8: return std::to_string(*static_cast<const ULONGLONG*>(p));
    case VT_R4: return std::to_string(*static_cast<const float*>(p));
    case VT_R8: return std::to_string(*static_cast<const double*>(p));
    case VT_BOOL: return std::to_string(*static_cast<const VARIANT_BOOL*>(p));
    case VT_ERROR: return HexText(*static_cast<const SCODE*>(p));
    case VT_BSTR: return TextOf(*static_cast<BSTR const*>(p));
    case VT_UNKNOWN:
    case VT_DISPATCH: return StreamText(*static_cast<IUnknown* const*>(p));
    case VT_VARIANT: return VariantText(*static_cast<const VARIANT*>(p));
    default: return "?";
    }
}

} // namespace

std::string HexText(HRESULT hr)
{
    char buffer[12];
    std::snprintf(buffer, sizeof buffer, "%08lX", static_cast<unsigned long>(hr));
    return buffer;
}

std::string TextOf(BSTR text) { return text ? vembro::AnsiFromBstr(text) : std::string("<null>"); }

std::string StreamText(IUnknown* unknown)
{
    if (!unknown)
        return "null";
    IStream* stream = nullptr;
    if (FAILED(unknown->QueryInterface(IID_IStream, reinterpret_cast<void**>(&stream))))
        return "set";
    LARGE_INTEGER zero{};
    ULARGE_INTEGER position{};
    HRESULT hr = stream->Seek(zero, STREAM_SEEK_CUR, &position);
    stream->Release();
    return FAILED(hr) ? "@?" : "@" + std::to_string(position.QuadPart);
}

std::string PointerText(const void* p) { return p ? "set" : "null"; }

std::string VariantText(const VARIANT& v)
{
    VARTYPE vt = V_VT(&v);
    if (vt & VT_BYREF) {
        VARTYPE base = static_cast<VARTYPE>(vt & ~VT_BYREF);
        std::string text = "VT_BYREF|" + TypeText(base);
        return V_BYREF(&v) ? text + ":" + ValueText(base, V_BYREF(&v)) : text + ":null";
    }
    if (vt == VT_EMPTY || vt == VT_NULL)
        return TypeText(vt);
    if (!TypeName(vt) || vt == VT_VARIANT)
        return TypeText(vt);
    return TypeText(vt) + ":" + ValueText(vt, &V_I1(&v));
}

std::string NameText(const VARIANT& v)
{
    return V_VT(&v) == VT_BSTR ? TextOf(V_BSTR(&v)) : VariantText(v);
}

} // namespace fakes
