#pragma once
// The manager: the one class that clients create. It owns no data; every
// answer comes from the process-wide converter and route registries.
#include <windows.h>

#include "vembro/VembroDispatch.h"
#include "vembro/com/Object.h"
#include "vembro/Vembro.h"

namespace vembro {

class CTolviFTManager : public CComObjectRootEx, public VembroDispatch<ITolviFTManager> {
public:
    static const QIEntry* QITable() noexcept;

    STDMETHODIMP get_ConvertSourceFormats(ITolviFileFormats** pVal) noexcept override;
    STDMETHODIMP get_TranslateSourceFormats(ITolviFileFormats** pVal) noexcept override;
    STDMETHODIMP get_ConvertTargetFormats(VARIANT SourceFormat, ITolviFileFormats** pVal) noexcept override;
    STDMETHODIMP get_TranslateTargetFormats(VARIANT SourceFormat, ITolviFileFormats** pVal) noexcept override;
    STDMETHODIMP get_Converter(VARIANT SourceFormat, VARIANT TargetFormat, ITolviFileConverter** pVal) noexcept override;
    STDMETHODIMP get_Translator(VARIANT SourceFormat, VARIANT TargetFormat, ITolviFileTranslator** pVal) noexcept override;
    STDMETHODIMP get_ConvertAvailableFormats(VARIANT varData, tagFILEDATATYPE type, ITolviFileFormats** pVal) noexcept override;
    STDMETHODIMP get_TranslateAvailableFormats(VARIANT varData, tagFILEDATATYPE type, ITolviFileFormats** pVal) noexcept override;

    // A format named by its 16-bit ID (as VT_I2, or VT_I4 from 0 to 65535
    // taken as the low 16 bits) or by its exact stored name. id is -1 on
    // every failure.
    static HRESULT FormatIDFromVariant(const VARIANT& format, short& id) noexcept;
};

// A new manager asked for riid; E_OUTOFMEMORY when it cannot be made.
HRESULT CreateManager_nothrow(REFIID riid, void** ppv) noexcept;

} // namespace vembro
