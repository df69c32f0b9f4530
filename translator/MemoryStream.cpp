#include "translator/MemoryStream.h"

#include "translator/ChunkStream.h"

namespace vembro {

HRESULT CMemoryStream::Create_nothrow() noexcept
{
    m_spStream.Reset();
    return CChunkStream::Create_nothrow(m_spStream.ReleaseAndGetAddressOf());
}

void CMemoryStream::Rewind() noexcept
{
    if (m_spStream) {
        LARGE_INTEGER zero{};
        m_spStream->Seek(zero, STREAM_SEEK_SET, nullptr);
    }
}

} // namespace vembro
