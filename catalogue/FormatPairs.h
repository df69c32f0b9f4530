#pragma once
// Source format -> target format -> CLSID of the component that does the job.
// Written only while its owner loads (under the owner's lock), read without
// a lock afterwards.
#include <windows.h>
#include <memory>

#include "catalogue/FormatIDs.h"
#include "catalogue/FormatMap.h"

namespace vembro {

class CTgtFormats {
public:
    HRESULT Add(short tgt, const GUID& clsid) noexcept;      // E_OUTOFMEMORY on failure
    BOOL Lookup(short tgt, GUID& clsid) const noexcept;
    CFormatIDs GetIDs() const;                               // enumeration order

private:
    CFormatMap<GUID> m_map;
};

class CFormatPairs {
public:
    virtual ~CFormatPairs() = default;
    HRESULT AddPair(short src, short tgt, const GUID& clsid) noexcept;
    BOOL FindPair(short src, short tgt, GUID& clsid) const noexcept; // zeroes clsid first
    CFormatIDs GetSourceIDs() const;
    CFormatIDs GetTargetIDs(short src) const;
    CFormatIDs GetTargetIDsSourceFirst(short src) const;

private:
    CFormatMap<std::unique_ptr<CTgtFormats>> m_pairs;
};

} // namespace vembro
