#include "manager/Manager.h"

#include <wrl/client.h>

#include "catalogue/Converters.h"
#include "catalogue/FormatsInfo.h"
#include "vembro/com/Variant.h"
#include "chains/Translators.h"
#include "vembro/com/Strings.h"
#include "manager/FileFormats.h"

using Microsoft::WRL::ComPtr;

namespace vembro {
namespace {

// Every property clears its result before it looks at anything else, so
// the result is null on every failure. Preparation runs before the arguments
// are looked at: a call with a bad argument still loads the catalogue.
// Success codes (S_FALSE from a build without converters) let the call go on.
template <class T>
void Prepare(T** pVal, bool translation)
{
    if (!pVal)
        ThrowHr(E_POINTER);
    *pVal = nullptr;
    ThrowIfFailed(translation ? g_Translators.Build() : g_Converters.Load());
}

short IdFrom(const VARIANT& format)
{
    short id = -1;
    ThrowIfFailed(CTolviFTManager::FormatIDFromVariant(format, id));
    return id;
}

} // namespace

const QIEntry* CTolviFTManager::QITable() noexcept
{
    static const QIEntry table[] = {
        VEMBRO_QI(CTolviFTManager, ITolviFTManager),
        VEMBRO_QI_AS(CTolviFTManager, IID_IDispatch, ITolviFTManager),
        VEMBRO_QI_END,
    };
    return table;
}

HRESULT CTolviFTManager::FormatIDFromVariant(const VARIANT& format, short& id) noexcept
try {
    id = -1;
    unique_variant copy;
    ThrowIfFailed(NormalizeVariant(&format, &copy));
    switch (V_VT(&copy)) {
    case VT_I2:
        id = V_I2(&copy);
        return S_OK;
    case VT_I4: {
        const ULONG value = static_cast<ULONG>(V_I4(&copy));
        if (value > 0xFFFF)
            return E_INVALIDARG;
        id = static_cast<short>(static_cast<USHORT>(value));
        return S_OK;
    }
    case VT_BSTR: {
        CFormatInfo info;
        if (!g_FormatsInfo.FindByName(AnsiFromBstr(V_BSTR(&copy)).c_str(), &info))
            return E_INVALIDARG;
        id = info.ID;
        return S_OK;
    }
    default:
        return E_INVALIDARG;
    }
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP CTolviFTManager::get_ConvertSourceFormats(ITolviFileFormats** pVal) noexcept
try {
    Prepare(pVal, false);
    return CreateFileFormats(g_Converters.GetSourceIDs(), pVal);
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP CTolviFTManager::get_TranslateSourceFormats(ITolviFileFormats** pVal) noexcept
try {
    Prepare(pVal, true);
    CFormatIDs ids;
    g_Translators.GetSourceIDs(ids);
    return CreateFileFormats(ids, pVal);
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP CTolviFTManager::get_ConvertTargetFormats(VARIANT SourceFormat, ITolviFileFormats** pVal) noexcept
try {
    Prepare(pVal, false);
    return CreateFileFormats(g_Converters.GetTargetIDsSourceFirst(IdFrom(SourceFormat)), pVal);
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP CTolviFTManager::get_TranslateTargetFormats(VARIANT SourceFormat, ITolviFileFormats** pVal) noexcept
try {
    Prepare(pVal, true);
    CFormatIDs ids;
    g_Translators.GetTargetIDs(IdFrom(SourceFormat), ids);
    return CreateFileFormats(ids, pVal);
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP CTolviFTManager::get_Converter(VARIANT SourceFormat, VARIANT TargetFormat,
                                            ITolviFileConverter** pVal) noexcept
try {
    Prepare(pVal, false);
    const short source = IdFrom(SourceFormat);
    const short target = IdFrom(TargetFormat);
    ComPtr<ITolviFileConverter> converter;
    ThrowIfFailed(g_Converters.CreateConverter(source, target, &converter));
    return converter->QueryInterface(IID_ITolviFileConverter, reinterpret_cast<void**>(pVal));
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP CTolviFTManager::get_Translator(VARIANT SourceFormat, VARIANT TargetFormat,
                                             ITolviFileTranslator** pVal) noexcept
try {
    Prepare(pVal, true);
    const short source = IdFrom(SourceFormat);
    const short target = IdFrom(TargetFormat);
    ComPtr<ITolviFileTranslator> translator;
    ThrowIfFailed(g_Translators.CreateTranslator(source, target, &translator));
    return translator->QueryInterface(IID_ITolviFileTranslator, reinterpret_cast<void**>(pVal));
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP CTolviFTManager::get_ConvertAvailableFormats(VARIANT varData, tagFILEDATATYPE type,
                                                          ITolviFileFormats** pVal) noexcept
try {
    Prepare(pVal, false);
    CFormatIDs ids;
    ThrowIfFailed(g_Converters.GetAvailableFormats(varData, type, ids));
    return CreateFileFormats(ids, pVal);
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP CTolviFTManager::get_TranslateAvailableFormats(VARIANT varData, tagFILEDATATYPE type,
                                                            ITolviFileFormats** pVal) noexcept
try {
    Prepare(pVal, true);
    // The route registry answers a failed detection with an empty list.
    CFormatIDs ids;
    ThrowIfFailed(g_Translators.GetAvailableFormats(varData, type, ids));
    return CreateFileFormats(ids, pVal);
}
VEMBRO_CATCH_RETURN()

HRESULT CreateManager_nothrow(REFIID riid, void** ppv) noexcept
{
    return CreateAndQuery_nothrow<CComObject<CTolviFTManager>>(riid, ppv, [](CTolviFTManager&) { return S_OK; });
}

} // namespace vembro
