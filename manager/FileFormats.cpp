// An ordered, read-only collection of formats: only the identifiers are
// kept; every format object is made from the store when it is asked for.
#include "manager/FileFormats.h"

#include "vembro/FormatObject.h"
#include "vembro/VembroDispatch.h"
#include "vembro/com/Object.h"
#include "vembro/com/Strings.h"

namespace vembro {
namespace {

class CTolviFileFormats : public CComObjectRootEx, public VembroDispatch<ITolviFileFormats> {
public:
    static const QIEntry* QITable() noexcept
    {
        static const QIEntry table[] = {
            VEMBRO_QI(CTolviFileFormats, ITolviFileFormats),
            VEMBRO_QI_AS(CTolviFileFormats, IID_IDispatch, ITolviFileFormats),
            VEMBRO_QI_END,
        };
        return table;
    }

    STDMETHODIMP get_Count(short* pVal) noexcept override
    {
        return SetOut_nothrow(pVal, static_cast<short>(m_ids.GetCount()));
    }

    STDMETHODIMP get_FileFormat(short Index, ITolviFileFormat** pVal) noexcept override
    try {
        if (!ClearOut(pVal))
            return E_POINTER;
        if (Index < 0 || Index >= m_ids.GetCount())
            return E_INVALIDARG;
        CFormatInfo info;
        if (!m_ids.GetInfo(Index, &info))
            return E_UNEXPECTED; // an identifier that the store never recorded
        return CreateFileFormat(info, pVal);
    }
    VEMBRO_CATCH_RETURN()

    STDMETHODIMP get_FileFormatFromID(short ID, ITolviFileFormat** pVal) noexcept override
    try {
        if (!ClearOut(pVal))
            return E_POINTER;
        return AtIndex(m_ids.Find(ID), pVal);
    }
    VEMBRO_CATCH_RETURN()

    STDMETHODIMP get_FileFormatFromName(BSTR Name, ITolviFileFormat** pVal) noexcept override
    try {
        if (!ClearOut(pVal) || !Name)
            return E_POINTER;
        return AtIndex(m_ids.IndexOfName(AnsiFromBstr(Name).c_str()), pVal);
    }
    VEMBRO_CATCH_RETURN()

    STDMETHODIMP get_FileFormatFromExt(BSTR Ext, ITolviFileFormats** pVal) noexcept override
    try {
        if (!ClearOut(pVal) || !Ext)
            return E_POINTER;
        CFormatIDs matching;
        HRESULT hr = m_ids.FilterByExt(AnsiFromBstr(Ext).c_str(), matching);
        if (FAILED(hr))
            return hr;
        return CreateFileFormats(matching, pVal);
    }
    VEMBRO_CATCH_RETURN()

    CFormatIDs m_ids;

private:
    // The lookups by identifier and name answer exactly what FileFormat
    // answers, so they go through the interface rather than around it.
    HRESULT AtIndex(short index, ITolviFileFormat** pVal) noexcept
    {
        return index < 0 ? E_INVALIDARG : static_cast<ITolviFileFormats*>(this)->get_FileFormat(index, pVal);
    }
};

} // namespace

HRESULT CreateFileFormats(const CFormatIDs& ids, ITolviFileFormats** out) noexcept
{
    return CreateAndQuery_nothrow<CComObject<CTolviFileFormats>>(
        __uuidof(ITolviFileFormats), reinterpret_cast<void**>(out), [&](CTolviFileFormats& formats) {
            try {
                formats.m_ids.Copy(ids);
            } catch (...) {
                return E_FAIL;
            }
            return S_OK;
        });
}

HRESULT CreateFileFormat(const CFormatInfo& info, ITolviFileFormat** out) noexcept
try {
    if (!ClearOut(out))
        return E_POINTER;
    auto wide = [](const std::string& text) { return WideFromAnsi(text.data(), static_cast<int>(text.size())); };
    return CreateFormatObject_nothrow(
        {info.ID, info.Name.get(), wide(info.DefaultExtention), wide(info.Extentions), info.IsComplex != FALSE}, out);
}
VEMBRO_CATCH_RETURN_OR(E_OUTOFMEMORY)

} // namespace vembro
