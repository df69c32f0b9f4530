#include "vembro/kit/Format.h"

#include "vembro/FormatObject.h"
#include "vembro/com/Resource.h"

namespace vembro::kit {

HRESULT CreateFormatObject(const FormatSpec& spec, ITolviFileFormat** out) noexcept
try {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    FormatFields fields;
    fields.id = spec.id;
    unique_bstr name = MakeBstr(spec.name);
    fields.name = name.get();
    fields.defaultExtension = spec.defaultExtension ? spec.defaultExtension : L"";
    fields.extensions = spec.extensions ? spec.extensions : L"";
    fields.complex = spec.complex;
    return CreateFormatObject_nothrow(fields, out);
}
VEMBRO_CATCH_RETURN_OR(E_OUTOFMEMORY)

} // namespace vembro::kit
