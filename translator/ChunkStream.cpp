#include "translator/ChunkStream.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace vembro {

// The bytes of a stream and its clones.
class CChunkStore {
public:
    static constexpr size_t kChunk = 64 * 1024;

    ULONGLONG Size() const noexcept { return m_size; }

    // Copies up to n bytes from pos; answers how many there were.
    size_t Read(ULONGLONG pos, void* dst, size_t n) const noexcept
    {
        if (pos >= m_size)
            return 0;
        n = static_cast<size_t>(std::min<ULONGLONG>(n, m_size - pos));
        EachPart(pos, n, [&](char* chunk, size_t done, size_t part) {
            std::memcpy(static_cast<char*>(dst) + done, chunk, part);
        });
        return n;
    }

    // Throws on overflow or lack of memory, leaving the bytes as they were.
    void Write(ULONGLONG pos, const void* src, size_t n)
    {
        if (n > ~0ull - pos)
            ThrowHr(STG_E_MEDIUMFULL);
        if (pos + n > m_size)
            Resize(pos + n);
        EachPart(pos, n, [&](char* chunk, size_t done, size_t part) {
            std::memcpy(chunk, static_cast<const char*>(src) + done, part);
        });
    }

    void Resize(ULONGLONG size)
    {
        const ULONGLONG chunks = (size + kChunk - 1) / kChunk;
        if (chunks > m_chunks.max_size())
            ThrowHr(E_OUTOFMEMORY);
        const auto count = static_cast<size_t>(chunks);
        if (count > m_chunks.size()) {
            m_chunks.reserve(count);
            while (m_chunks.size() < count)
                m_chunks.emplace_back(new char[kChunk]()); // zeroed: unwritten bytes read as 0
        } else {
            m_chunks.resize(count);
            // What lies beyond the new end in the last chunk must read as
            // zero if the stream grows again.
            if (const size_t tail = static_cast<size_t>(size % kChunk); tail != 0 && size < m_size)
                std::memset(m_chunks.back().get() + tail, 0, kChunk - tail);
        }
        m_size = size;
    }

    CriticalSection m_cs;

private:
    // f(where in its chunk, bytes done before, length) for each piece of the
    // n bytes from pos, in order.
    template <class F>
    void EachPart(ULONGLONG pos, size_t n, F&& f) const
    {
        for (size_t done = 0; done < n;) {
            const size_t offset = static_cast<size_t>((pos + done) % kChunk);
            const size_t part = std::min(n - done, kChunk - offset);
            f(m_chunks[static_cast<size_t>((pos + done) / kChunk)].get() + offset, done, part);
            done += part;
        }
    }

    std::vector<std::unique_ptr<char[]>> m_chunks;
    ULONGLONG m_size = 0;
};

const QIEntry* CChunkStream::QITable() noexcept
{
    static const QIEntry table[] = {VEMBRO_QI(CChunkStream, IStream), VEMBRO_QI(CChunkStream, ISequentialStream),
                                    VEMBRO_QI_END};
    return table;
}

HRESULT CChunkStream::Create_nothrow(IStream** out) noexcept
try {
    if (!ClearOut(out))
        return E_POINTER;
    return CreateSharing_nothrow(std::make_shared<CChunkStore>(), 0, out);
}
VEMBRO_CATCH_RETURN()

HRESULT CChunkStream::CreateSharing_nothrow(std::shared_ptr<CChunkStore> store, ULONGLONG position,
                                            IStream** out) noexcept
{
    return CreateAndQuery_nothrow<CComObject<CChunkStream>>(
        IID_IStream, reinterpret_cast<void**>(out), [&](CComObject<CChunkStream>& p) {
            p.m_store = std::move(store);
            p.m_position = position;
            return S_OK;
        });
}

STDMETHODIMP CChunkStream::Read(void* pv, ULONG cb, ULONG* pcbRead) noexcept
try {
    if (pcbRead)
        *pcbRead = 0;
    if (!pv && cb != 0)
        return STG_E_INVALIDPOINTER;
    auto lock = m_store->m_cs.Lock();
    const size_t got = m_store->Read(m_position, pv, cb);
    m_position += got;
    if (pcbRead)
        *pcbRead = static_cast<ULONG>(got);
    return S_OK;
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP CChunkStream::Write(const void* pv, ULONG cb, ULONG* pcbWritten) noexcept
try {
    if (pcbWritten)
        *pcbWritten = 0;
    if (!pv && cb != 0)
        return STG_E_INVALIDPOINTER;
    auto lock = m_store->m_cs.Lock();
    m_store->Write(m_position, pv, cb);
    m_position += cb;
    if (pcbWritten)
        *pcbWritten = cb;
    return S_OK;
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP CChunkStream::Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) noexcept
try {
    auto lock = m_store->m_cs.Lock();
    ULONGLONG base = 0;
    HRESULT hr = S_OK;
    switch (dwOrigin) {
    case STREAM_SEEK_SET: base = 0; break;
    case STREAM_SEEK_CUR: base = m_position; break;
    case STREAM_SEEK_END: base = m_store->Size(); break;
    default: hr = STG_E_INVALIDFUNCTION; break;
    }
    if (SUCCEEDED(hr)) {
        const LONGLONG move = dlibMove.QuadPart;
        // A position before the start, or beyond what 64 bits count, is refused.
        if (move < 0 ? static_cast<ULONGLONG>(-(move + 1)) + 1 > base
                     : static_cast<ULONGLONG>(move) > ~0ull - base)
            hr = STG_E_SEEKERROR;
        else
            m_position = base + static_cast<ULONGLONG>(move);
    }
    if (plibNewPosition)
        plibNewPosition->QuadPart = m_position;
    return hr;
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP CChunkStream::SetSize(ULARGE_INTEGER libNewSize) noexcept
try {
    auto lock = m_store->m_cs.Lock();
    m_store->Resize(libNewSize.QuadPart);
    return S_OK;
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP CChunkStream::CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                                  ULARGE_INTEGER* pcbWritten) noexcept
try {
    ULONGLONG read = 0, written = 0;
    auto report = [&] {
        if (pcbRead)
            pcbRead->QuadPart = read;
        if (pcbWritten)
            pcbWritten->QuadPart = written;
    };
    report();
    if (!pstm)
        return STG_E_INVALIDPOINTER;
    std::vector<char> buffer(CChunkStore::kChunk);
    // What is there now is what gets copied: the target may be a clone of
    // this stream, whose writes would otherwise feed the loop for ever.
    ULONGLONG wanted = cb.QuadPart;
    {
        auto lock = m_store->m_cs.Lock();
        const ULONGLONG size = m_store->Size();
        wanted = std::min(wanted, m_position < size ? size - m_position : 0);
    }
    HRESULT hr = S_OK;
    while (read < wanted) {
        size_t got = 0;
        {
            // The target may be a clone of this stream: never write to it
            // while holding the store.
            auto lock = m_store->m_cs.Lock();
            got = m_store->Read(m_position, buffer.data(),
                                static_cast<size_t>(std::min<ULONGLONG>(buffer.size(), wanted - read)));
            m_position += got;
        }
        if (got == 0)
            break;
        read += got;
        ULONG put = 0;
        hr = pstm->Write(buffer.data(), static_cast<ULONG>(got), &put);
        written += put;
        if (FAILED(hr))
            break;
    }
    report();
    return hr;
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP CChunkStream::Commit(DWORD) noexcept { return S_OK; }

STDMETHODIMP CChunkStream::Revert() noexcept { return S_OK; }

STDMETHODIMP CChunkStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) noexcept { return STG_E_INVALIDFUNCTION; }

STDMETHODIMP CChunkStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) noexcept { return STG_E_INVALIDFUNCTION; }

STDMETHODIMP CChunkStream::Stat(STATSTG* pstatstg, DWORD grfStatFlag) noexcept
{
    if (!pstatstg)
        return STG_E_INVALIDPOINTER;
    std::memset(pstatstg, 0, sizeof(*pstatstg)); // no name pointer left behind on failure
    if (grfStatFlag != STATFLAG_DEFAULT && grfStatFlag != STATFLAG_NONAME)
        return STG_E_INVALIDFLAG;
    pstatstg->type = STGTY_STREAM; // no name: the stream has none
    pstatstg->grfMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
    auto lock = m_store->m_cs.Lock();
    pstatstg->cbSize.QuadPart = m_store->Size();
    return S_OK;
}

STDMETHODIMP CChunkStream::Clone(IStream** ppstm) noexcept
try {
    if (!ppstm)
        return STG_E_INVALIDPOINTER;
    *ppstm = nullptr;
    auto lock = m_store->m_cs.Lock();
    return CreateSharing_nothrow(m_store, m_position, ppstm);
}
VEMBRO_CATCH_RETURN()

} // namespace vembro
