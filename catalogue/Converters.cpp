#include "catalogue/Converters.h"

#include "catalogue/ComponentPairs.h"
#include "catalogue/SLock.h"
#include "vembro/com/Error.h"
#include "vembro/com/StreamPosition.h"

namespace vembro {

HRESULT CConverters::Load() noexcept
try {
    CSLock<CConverters> lock(this);
    if (m_bLoaded)
        return S_OK;
    std::vector<CLSID> clsids;
    HRESULT hr = EnumConverterClsids(clsids);
    if (FAILED(hr))
        return hr; // stays unloaded: the next caller reads the catalogue again
    LoadComponentPairs<ITolviFileConverter>(*this, clsids);
    m_bLoaded = TRUE;
    return S_OK;
}
VEMBRO_CATCH_RETURN()

HRESULT CConverters::CreateConverter(short src, short tgt, ITolviFileConverter** out) noexcept
try {
    return CreateComponentForPair(*this, src, tgt, out);
}
VEMBRO_CATCH_RETURN()

HRESULT ProbeStream_nothrow(ITolviFileConverter* converter, IUnknown* data) noexcept
try {
    if (!converter || !data)
        return E_POINTER;
    Microsoft::WRL::ComPtr<IStream> stream;
    HRESULT hr = data->QueryInterface(IID_IStream, reinterpret_cast<void**>(stream.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    if (!stream)
        return E_NOINTERFACE;
    StreamPositionKeeper keeper(stream.Get());
    return converter->IsFormatAvailableStream(stream.Get());
}
VEMBRO_CATCH_RETURN()

HRESULT ProbeConverter_nothrow(ITolviFileConverter* converter, const VARIANT& data, tagFILEDATATYPE type) noexcept
try {
    switch (type) {
    case FILEDATATYPE_FILENAME:
        return converter->IsFormatAvailableFile(V_BSTR(&data));
    case FILEDATATYPE_TEXT:
        return converter->IsFormatAvailableMemory(V_BSTR(&data));
    default:
        // An object without IStream cannot be probed: this converter cannot
        // tell, and the next one of the format is asked.
        return ProbeStream_nothrow(converter, V_UNKNOWN(&data));
    }
}
VEMBRO_CATCH_RETURN()

HRESULT CConverters::GetAvailableFormats(const VARIANT& data, tagFILEDATATYPE type, CFormatIDs& out) noexcept
{
    return DetectFormats_nothrow<ITolviFileConverter>(*this, data, type, out, [type](ITolviFileConverter* converter,
                                                                             const VARIANT& copy) {
        return ProbeConverter_nothrow(converter, copy, type);
    });
}

} // namespace vembro
