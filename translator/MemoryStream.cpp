#include "translator/MemoryStream.h"

#include <objbase.h>

namespace vembro {

HRESULT CMemoryStream::Create_nothrow() noexcept
{
    m_spStream.Reset();
    // The stream owns and frees its own growable memory.
    return ::CreateStreamOnHGlobal(nullptr, TRUE, m_spStream.ReleaseAndGetAddressOf());
}

void CMemoryStream::Rewind() noexcept
{
    if (m_spStream) {
        LARGE_INTEGER zero{};
        m_spStream->Seek(zero, STREAM_SEEK_SET, nullptr);
    }
}

} // namespace vembro
