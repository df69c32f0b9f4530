#pragma once
// Named VARIANT values, kept in the order each name was first set: the
// property store of the chain translator and of every kit component.
//
// A name matches only a VARIANT of the same type and equal value (see
// VariantsEqual); a user that wants looser matching stores a normalised
// name. The list does not lock: its owner serialises access.
#include <windows.h>
#include <oleauto.h>
#include <vector>

#include "vembro/com/Resource.h"

namespace vembro {

// Equality of two VARIANT names: same type and equal value. Values of
// different types are unequal; two values of a type that has no defined
// comparison (arrays, by-reference values, VT_VARIANT, 64-bit integers)
// throw E_INVALIDARG.
bool VariantsEqual(const VARIANT& a, const VARIANT& b);

class PropertyList {
public:
    struct CProperty {
        CProperty() = default;
        CProperty(const VARIANT& name, const VARIANT& value); // throws the failing copy's HRESULT

        unique_variant m_vName;
        unique_variant m_vValue;
    };

    // Index of the element named `name`, or -1; throws E_INVALIDARG when the
    // names cannot be compared.
    int FindProperty(const VARIANT& name) const;
    // Copies the stored value into the initialised *out; E_INVALIDARG when
    // the name is not stored (*out untouched then).
    HRESULT GetValue(const VARIANT& name, VARIANT* out) const noexcept;
    // Replaces the stored value or appends a new element.
    HRESULT SetValue(const VARIANT& name, const VARIANT& value) noexcept;
    // target->put_Property of every element, in insertion order; answers
    // ignored.
    template <class Target>
    void ApplyTo(Target* target) const noexcept
    {
        for (size_t i = 0; target && i < m_aProperties.size(); ++i)
            target->put_Property(m_aProperties[i].m_vName, m_aProperties[i].m_vValue);
    }

    int GetSize() const noexcept { return static_cast<int>(m_aProperties.size()); }
    const CProperty& GetAt(int i) const { return m_aProperties.at(static_cast<size_t>(i)); }

private:
    std::vector<CProperty> m_aProperties;
};

} // namespace vembro
