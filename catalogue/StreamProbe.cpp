#include "catalogue/StreamProbe.h"

#include <wrl/client.h>

#include "vembro/com/Error.h"

namespace vembro {

namespace {

// Seeks back to the noted position on every way out of the probe; a failing
// seek leaves the probe's answer as it was.
class CStreamPositionKeeper {
public:
    CStreamPositionKeeper(IStream* stream, ULARGE_INTEGER position) noexcept : m_stream(stream), m_position(position) {}
    CStreamPositionKeeper(const CStreamPositionKeeper&) = delete;
    CStreamPositionKeeper& operator=(const CStreamPositionKeeper&) = delete;
    ~CStreamPositionKeeper()
    {
        LARGE_INTEGER back;
        back.QuadPart = static_cast<LONGLONG>(m_position.QuadPart);
        m_stream->Seek(back, STREAM_SEEK_SET, nullptr);
    }

private:
    IStream* m_stream;
    ULARGE_INTEGER m_position;
};

} // namespace

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
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    ULARGE_INTEGER position;
    position.QuadPart = 0;
    hr = stream->Seek(zero, STREAM_SEEK_CUR, &position);
    if (FAILED(hr))
        return hr;
    CStreamPositionKeeper keeper(stream.Get(), position);
    return converter->IsFormatAvailableStream(stream.Get());
}
VEMBRO_CATCH_RETURN()

} // namespace vembro
