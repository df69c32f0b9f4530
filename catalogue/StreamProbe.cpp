#include "catalogue/StreamProbe.h"

#include <wrl/client.h>

#include "vembro/com/Error.h"
#include "vembro/com/StreamPosition.h"

namespace vembro {

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

} // namespace vembro
