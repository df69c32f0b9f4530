#include "vembro/kit/Format.h"

#include "vembro/FormatObject.h"
#include "vembro/com/Resource.h"

namespace vembro::kit {

HRESULT CreateFormatObject(const FormatSpec& spec, ITolviFileFormat** out) noexcept
try {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    unique_bstr name = MakeBstr(spec.name);
    auto text = [](const wchar_t* given) { return std::wstring(given ? given : L""); };
    return CreateFormatObject_nothrow({spec.id, name.get(), text(spec.defaultExtension), text(spec.extensions), spec.complex},
                                      out);
}
VEMBRO_CATCH_RETURN_OR(E_OUTOFMEMORY)

} // namespace vembro::kit
