#pragma once
// Holder of one growable in-memory IStream that carries intermediate data
// between the steps of a stream run.
#include <windows.h>
#include <objidl.h>
#include <wrl/client.h>

#include "translator/ChunkStream.h"

namespace vembro {

class CMemoryStream {
public:
    CMemoryStream() = default;
    CMemoryStream(const CMemoryStream&) = delete;
    CMemoryStream& operator=(const CMemoryStream&) = delete;

    // Replaces what is held by a new, empty stream; the failure otherwise,
    // with nothing held.
    HRESULT Create_nothrow() noexcept
    {
        m_spStream.Reset();
        return CChunkStream::Create_nothrow(m_spStream.ReleaseAndGetAddressOf());
    }
    // Back to position 0; nothing to do for an empty holder.
    void Rewind() noexcept
    {
        if (m_spStream) {
            LARGE_INTEGER zero{};
            m_spStream->Seek(zero, STREAM_SEEK_SET, nullptr);
        }
    }
    // Borrowed pointer, null when nothing is held.
    IStream* Stream() const noexcept { return m_spStream.Get(); }
    void Close() noexcept { m_spStream.Reset(); }

private:
    Microsoft::WRL::ComPtr<IStream> m_spStream;
};

} // namespace vembro
