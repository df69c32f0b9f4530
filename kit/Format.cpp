#include "vembro/kit/Format.h"

#include "vembro/FormatObject.h"
#include "vembro/com/Resource.h"

namespace vembro::kit {

HRESULT CreateFormatObject(const FormatSpec& format, ITolviFileFormat** out) noexcept
try {
    if (!ClearOut(out))
        return E_POINTER;
    unique_bstr name = MakeBstr(format.name);
    auto text = [](const wchar_t* given) { return std::wstring(given ? given : L""); };
    return CreateFormatObject_nothrow({format.id, name.get(), text(format.defaultExtension), text(format.extensions), format.complex},
                                      out);
}
VEMBRO_CATCH_RETURN_OR(E_OUTOFMEMORY)

} // namespace vembro::kit
