#pragma once
// Named values that a client sets on a chain translator before a translator
// component exists; each translator step receives them all again.
#include <windows.h>
#include <oleauto.h>
#include <vector>

#include "vembro/Vembro.h"

namespace vembro {

// Equality of two VARIANT names: same type and equal value. Values of
// different types are unequal; two values of a type that has no defined
// comparison (arrays, by-reference values, VT_VARIANT, 64-bit integers)
// throw E_INVALIDARG.
bool VariantsEqual(const VARIANT& a, const VARIANT& b);

class CPropertyArray {
public:
    class CProperty {
    public:
        CProperty() noexcept;
        CProperty(const VARIANT& name, const VARIANT& value); // throws the failing copy's HRESULT
        CProperty(const CProperty& other);
        CProperty& operator=(const CProperty& other);
        ~CProperty();

        VARIANT m_vName;
        VARIANT m_vValue;
    };

    CPropertyArray() = default;
    virtual ~CPropertyArray() = default;

    // Index of the element named `name`, or -1; throws E_INVALIDARG when the
    // names cannot be compared.
    int FindProperty(const VARIANT& name) const;
    // Copies the stored value into the initialised *out; E_INVALIDARG when
    // the name is not stored (*out untouched then).
    HRESULT GetValue(const VARIANT& name, VARIANT* out) const noexcept;
    // Replaces the stored value or appends a new element.
    HRESULT SetValue(const VARIANT& name, const VARIANT& value) noexcept;
    // put_Property of every element, in insertion order; answers ignored.
    void ApplyTo(ITolviFileTranslator* translator) const noexcept;

    int GetSize() const noexcept { return static_cast<int>(m_aProperties.size()); }
    const CProperty& GetAt(int i) const { return m_aProperties.at(static_cast<size_t>(i)); }

private:
    std::vector<CProperty> m_aProperties;
};

} // namespace vembro
