#pragma once
// The Direction object of the localisation components, ProgID
// "VembroSamples.Direction": SourceLanguage and TargetLanguage (BCP 47
// tags) and Memory (a TMX file). A late-bound automation object: scripts
// and vembro.exe set its properties by name, and the translator reads them
// by name from whatever object the client passes, so a script's own object
// with the same property names serves as well.
#include <windows.h>
#include <oaidl.h>
#include <string>

#include "vembro/com/Object.h"

namespace samples {

class CDirection : public vembro::CComObjectRootEx, public IDispatch {
public:
    static const vembro::QIEntry* QITable() noexcept;

    STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) noexcept override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) noexcept override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excepInfo, UINT* argError) noexcept override;

private:
    std::wstring m_strSource, m_strTarget, m_strMemory;
};

// A syntactically valid BCP 47 tag: subtags of 1 to 8 letters or digits
// joined by '-', the first of 2 to 8 letters.
bool IsLanguageTag(const std::wstring& tag);

// A text property of the client's Direction object by name; empty when the
// object is null or has no such property.
std::wstring DirectionText(IDispatch* direction, const wchar_t* name);

extern const CLSID CLSID_Direction;

} // namespace samples
