#pragma once
// A component's named properties (the Property get/put of converters and
// translators). Names are compared without regard to case; the chain gives
// translators "PRIORITY" first and then whatever its client stored.
#include <windows.h>
#include <oaidl.h>
#include <string>

#include "vembro/com/PropertyList.h"
#include "vembro/com/Resource.h"

namespace vembro::kit {

class PropertyBag {
public:
    // Any name that converts to a string. An unknown name answers S_OK with
    // the missing-argument VARIANT, the usual "no value".
    HRESULT Get(const VARIANT& name, VARIANT* value) noexcept;
    HRESULT Put(const VARIANT& name, const VARIANT& value) noexcept;

    // Typed reads for the author's code (false when absent or not a number).
    bool GetLong(const wchar_t* name, long& value) noexcept;
    std::wstring GetText(const wchar_t* name, const wchar_t* defaultText);

    // The key of a property name: the name as an upper-cased BSTR.
    static unique_variant KeyOf(const VARIANT& name);
    // A key given as text, taken as it is.
    static unique_variant KeyOf(const wchar_t* key);

private:
    // The stored value under a key, converted to `type` into *out.
    HRESULT Convert_nothrow(const wchar_t* key, VARTYPE type, unique_variant* out) noexcept;

    CriticalSection m_cs;
    PropertyList m_values; // named by their keys, as BSTRs
};

} // namespace vembro::kit
