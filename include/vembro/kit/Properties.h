#pragma once
// A component's named properties (the Property get/put of converters and
// translators). Names are compared without regard to case; the chain gives
// translators "PRIORITY" first and then whatever its client stored.
#include <windows.h>
#include <oaidl.h>
#include <map>
#include <memory>
#include <string>

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

    // The upper-cased key of a property name.
    static std::wstring KeyOf(const VARIANT& name);

private:
    CriticalSection m_cs;
    std::map<std::wstring, std::shared_ptr<unique_variant>> m_values;
};

} // namespace vembro::kit
