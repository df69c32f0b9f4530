// The in-memory stream between the steps of a stream run: data across chunk
// boundaries, zeros where nothing was written, clones, and copying, into its
// own clone too.
#include "support/ComChecks.h"
#include "support/Recorder.h"
#include "translator/ChunkStream.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr ULONG kChunk = 64 * 1024; // the store's chunk size, to straddle it

class ChunkStreamTest : public comtest::ComTest {
protected:
    static ComPtr<IStream> New(const std::string& bytes)
    {
        ComPtr<IStream> s;
        EXPECT_EQ(S_OK, vembro::CChunkStream::Create_nothrow(&s));
        EXPECT_EQ(S_OK, s->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr));
        return s;
    }
    static ULONGLONG Seek(IStream* s, LONGLONG to, DWORD origin = STREAM_SEEK_SET)
    {
        LARGE_INTEGER move;
        move.QuadPart = to;
        ULARGE_INTEGER at{};
        EXPECT_EQ(S_OK, s->Seek(move, origin, &at));
        return at.QuadPart;
    }
    static ULONGLONG Copy(IStream* from, IStream* to, ULONGLONG cb = ~0ull)
    {
        ULARGE_INTEGER n, read, written;
        n.QuadPart = cb;
        EXPECT_EQ(S_OK, from->CopyTo(to, n, &read, &written));
        EXPECT_EQ(read.QuadPart, written.QuadPart);
        return read.QuadPart;
    }
    std::string m_data = std::string(2 * kChunk + 17, 'a') + "tail";
};

TEST_F(ChunkStreamTest, BytesAcrossChunksAndZerosWhereNothingWasWritten)
{
    ComPtr<IStream> s = New(m_data);
    EXPECT_EQ(1, vembro::ModuleLockCount());
    EXPECT_EQ(m_data, kittest::ReadStream(s.Get()));
    ULARGE_INTEGER size;
    size.QuadPart = kChunk + 3; // shrinking inside a chunk, then growing again,
    ASSERT_EQ(S_OK, s->SetSize(size));
    Seek(s.Get(), kChunk + 10); // and writing beyond the end
    ASSERT_EQ(S_OK, s->Write("x", 1, nullptr));
    EXPECT_EQ(m_data.substr(0, kChunk + 3) + std::string(7, '\0') + "x", kittest::ReadStream(s.Get()));
}

// Both positions move by what was copied. A clone shares the bytes, starts
// at the original's position and keeps its own; one that writes into the
// very bytes being copied does not make the copy run on: what is copied is
// what was there when it began.
TEST_F(ChunkStreamTest, CopyToCopiesWhatIsThereIntoItsOwnCloneToo)
{
    ComPtr<IStream> s = New(m_data), target = New(""), clone;
    Seek(s.Get(), 7);
    EXPECT_EQ(kChunk + 3, Copy(s.Get(), target.Get(), kChunk + 3));
    EXPECT_EQ(kChunk + 10, Seek(s.Get(), 0, STREAM_SEEK_CUR));
    EXPECT_EQ(m_data.size() - kChunk - 10, Copy(s.Get(), target.Get()));
    EXPECT_EQ(m_data.substr(7), kittest::ReadStream(target.Get()));
    Seek(s.Get(), 9);
    ASSERT_EQ(S_OK, s->Clone(&clone));
    EXPECT_EQ(3, vembro::ModuleLockCount()); // with the target
    EXPECT_EQ(9u, Seek(clone.Get(), 0, STREAM_SEEK_CUR));
    Seek(clone.Get(), 0, STREAM_SEEK_END);
    EXPECT_EQ(m_data.size() - 9, Copy(s.Get(), clone.Get()));
    const std::string grown = m_data + m_data.substr(9);
    EXPECT_EQ(grown, kittest::ReadStream(s.Get()));
    Seek(s.Get(), 0); // onto itself at the same place
    Seek(clone.Get(), 0);
    EXPECT_EQ(grown.size(), Copy(s.Get(), clone.Get()));
    EXPECT_EQ(grown.size(), Seek(clone.Get(), 0, STREAM_SEEK_CUR));
    EXPECT_EQ(grown, kittest::ReadStream(s.Get()));
    s.Reset(); // the bytes live on with the clone
    EXPECT_EQ(grown, kittest::ReadStream(clone.Get()));
}

} // namespace
