#pragma once
// A growable in-memory stream that keeps its bytes in fixed-size chunks.
//
// The intermediate documents of a stream run can be hundreds of MiB, written
// a block at a time by a component. A stream kept in one contiguous block
// moves everything it holds whenever it grows, which makes writing a
// document quadratic in its size (minutes for 256 MiB under Wine). Chunks
// never move: writing is linear, and the memory in use is the document plus
// at most one partly filled chunk.
//
// Clones share the bytes and keep a position of their own. Every operation
// takes the shared store's lock, so the stream may be used from any thread.
// Bytes that a Seek past the end or a growing SetSize leaves unwritten read
// as zero.
#include <windows.h>
#include <objidl.h>
#include <memory>

#include "vembro/com/Object.h"

namespace vembro {

class CChunkStore;

class CChunkStream : public CComObjectRootEx, public IStream {
public:
    using Base = CChunkStream;
    static const QIEntry* QITable() noexcept;

    // A new, empty stream with one reference for the caller; *out is null on
    // failure. The stream holds the module while it lives.
    static HRESULT Create_nothrow(IStream** out) noexcept;

    // ISequentialStream
    STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) noexcept override;
    STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) noexcept override;
    // IStream
    STDMETHODIMP Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) noexcept override;
    STDMETHODIMP SetSize(ULARGE_INTEGER libNewSize) noexcept override;
    STDMETHODIMP CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                        ULARGE_INTEGER* pcbWritten) noexcept override;
    STDMETHODIMP Commit(DWORD grfCommitFlags) noexcept override;
    STDMETHODIMP Revert() noexcept override;
    STDMETHODIMP LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) noexcept override;
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) noexcept override;
    STDMETHODIMP Stat(STATSTG* pstatstg, DWORD grfStatFlag) noexcept override;
    STDMETHODIMP Clone(IStream** ppstm) noexcept override;

private:
    static HRESULT CreateSharing_nothrow(std::shared_ptr<CChunkStore> store, ULONGLONG position,
                                         IStream** out) noexcept;

    std::shared_ptr<CChunkStore> m_store;
    ULONGLONG m_position = 0; // guarded by the store's lock
};

} // namespace vembro
