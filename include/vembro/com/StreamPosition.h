#pragma once
// Notes where a stream stands and puts it back there on every way out, so
// that whoever only looks at a stream's head hands it on as it came.
#include <objidl.h>

#include "vembro/com/Error.h"

namespace vembro {

class StreamPositionKeeper {
public:
    // Throws when the stream cannot say where it stands.
    explicit StreamPositionKeeper(IStream* stream) : m_stream(stream)
    {
        LARGE_INTEGER zero{};
        ThrowIfFailed(stream->Seek(zero, STREAM_SEEK_CUR, &m_position));
    }
    StreamPositionKeeper(const StreamPositionKeeper&) = delete;
    StreamPositionKeeper& operator=(const StreamPositionKeeper&) = delete;
    // A failing seek back cannot be reported from here; Restore_nothrow
    // is for callers that must not go on from the wrong place.
    ~StreamPositionKeeper() { (void)Restore_nothrow(); }

    HRESULT Restore_nothrow() noexcept
    {
        LARGE_INTEGER back;
        back.QuadPart = static_cast<LONGLONG>(m_position.QuadPart);
        return m_stream->Seek(back, STREAM_SEEK_SET, nullptr);
    }

private:
    IStream* m_stream;
    ULARGE_INTEGER m_position{};
};

} // namespace vembro
