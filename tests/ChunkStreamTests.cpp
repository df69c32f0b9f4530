// The in-memory stream between the steps of a stream run: data across chunk
// boundaries, positions and sizes, zeros in unwritten gaps, clones sharing
// data, copying, argument checks and the module hold.
#include <gtest/gtest.h>
#include <windows.h>
#include <objidl.h>
#include <wrl/client.h>
#include <cstring>
#include <string>
#include <vector>

#include "support/ComChecks.h"
#include "vembro/com/Module.h"
#include "translator/ChunkStream.h"

using Microsoft::WRL::ComPtr;
using namespace vembro;

namespace {

constexpr ULONG kChunk = 64 * 1024; // the store's chunk size, to straddle it

ComPtr<IStream> NewStream()
{
    ComPtr<IStream> s;
    EXPECT_EQ(S_OK, CChunkStream::Create_nothrow(&s));
    return s;
}

ULONGLONG SeekTo(IStream* s, LONGLONG move, DWORD origin, HRESULT expected = S_OK)
{
    LARGE_INTEGER m;
    m.QuadPart = move;
    ULARGE_INTEGER pos;
    pos.QuadPart = 0xBAADF00DBAADF00Dull;
    EXPECT_EQ(expected, s->Seek(m, origin, &pos));
    return pos.QuadPart;
}

ULONGLONG SizeOf(IStream* s)
{
    STATSTG st;
    std::memset(&st, 0xCC, sizeof(st));
    EXPECT_EQ(S_OK, s->Stat(&st, STATFLAG_NONAME));
    return st.cbSize.QuadPart;
}

std::vector<char> Pattern(size_t n)
{
    std::vector<char> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<char>(i * 7 + i / 251);
    return v;
}

std::vector<char> ReadAll(IStream* s, ULONG n)
{
    std::vector<char> v(n, '\x5A');
    ULONG got = 0xDEAD;
    EXPECT_EQ(S_OK, s->Read(v.data(), n, &got));
    v.resize(got);
    return v;
}

class ChunkStreamTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }
    void TearDown() override
    {
        EXPECT_EQ(0, ModuleLockCount());
        ::CoUninitialize();
    }
};

} // namespace

TEST_F(ChunkStreamTest, NewStreamIsEmptyAndHoldsTheModule)
{
    IStream* s = reinterpret_cast<IStream*>(static_cast<uintptr_t>(0xBAADF00D));
    ASSERT_EQ(S_OK, CChunkStream::Create_nothrow(&s));
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(1, ModuleLockCount());
    STATSTG st;
    std::memset(&st, 0xCC, sizeof(st));
    EXPECT_EQ(S_OK, s->Stat(&st, STATFLAG_DEFAULT));
    EXPECT_EQ(static_cast<DWORD>(STGTY_STREAM), st.type);
    EXPECT_EQ(0u, st.cbSize.QuadPart);
    EXPECT_EQ(nullptr, st.pwcsName);
    EXPECT_EQ(0u, SeekTo(s, 0, STREAM_SEEK_CUR));
    ComPtr<ISequentialStream> seq;
    EXPECT_EQ(S_OK, s->QueryInterface(IID_PPV_ARGS(&seq)));
    ComPtr<IPersist> other;
    EXPECT_EQ(E_NOINTERFACE, s->QueryInterface(IID_PPV_ARGS(&other)));
    EXPECT_EQ(nullptr, other.Get());
    seq.Reset();
    EXPECT_EQ(0u, s->Release());
    EXPECT_EQ(0, ModuleLockCount());
    EXPECT_EQ(E_POINTER, CChunkStream::Create_nothrow(nullptr));
}

TEST_F(ChunkStreamTest, DataStraddlingChunksReadsBackInPieces)
{
    auto s = NewStream();
    const auto data = Pattern(3 * kChunk + 123);
    ULONG written = 0xDEAD;
    // Two writes, the first ending inside a chunk.
    EXPECT_EQ(S_OK, s->Write(data.data(), kChunk + 5, &written));
    EXPECT_EQ(kChunk + 5, written);
    EXPECT_EQ(S_OK, s->Write(data.data() + kChunk + 5, static_cast<ULONG>(data.size()) - kChunk - 5, nullptr));
    EXPECT_EQ(data.size(), SizeOf(s.Get()));
    EXPECT_EQ(data.size(), SeekTo(s.Get(), 0, STREAM_SEEK_CUR));
    EXPECT_EQ(0u, SeekTo(s.Get(), 0, STREAM_SEEK_SET));
    std::vector<char> back;
    for (ULONG piece : {ULONG{100}, kChunk, ULONG{3 * kChunk}}) {
        auto part = ReadAll(s.Get(), piece);
        back.insert(back.end(), part.begin(), part.end());
    }
    EXPECT_EQ(data, back);
    EXPECT_TRUE(ReadAll(s.Get(), 10).empty()); // at the end: nothing, still S_OK
}

TEST_F(ChunkStreamTest, OverwriteInTheMiddleKeepsTheSize)
{
    auto s = NewStream();
    const auto data = Pattern(2 * kChunk);
    ASSERT_EQ(S_OK, s->Write(data.data(), static_cast<ULONG>(data.size()), nullptr));
    EXPECT_EQ(kChunk - 2, SeekTo(s.Get(), kChunk - 2, STREAM_SEEK_SET));
    ASSERT_EQ(S_OK, s->Write("abcd", 4, nullptr));
    EXPECT_EQ(2u * kChunk, SizeOf(s.Get()));
    SeekTo(s.Get(), -4, STREAM_SEEK_CUR);
    EXPECT_EQ(std::vector<char>({'a', 'b', 'c', 'd'}), ReadAll(s.Get(), 4));
}

TEST_F(ChunkStreamTest, SeekOriginsAndRefusals)
{
    auto s = NewStream();
    ASSERT_EQ(S_OK, s->Write("0123456789", 10, nullptr));
    EXPECT_EQ(7u, SeekTo(s.Get(), -3, STREAM_SEEK_END));
    EXPECT_EQ(9u, SeekTo(s.Get(), 2, STREAM_SEEK_CUR));
    EXPECT_EQ(4u, SeekTo(s.Get(), 4, STREAM_SEEK_SET));
    // Before the start: refused, position kept and reported.
    EXPECT_EQ(4u, SeekTo(s.Get(), -5, STREAM_SEEK_CUR, STG_E_SEEKERROR));
    EXPECT_EQ(4u, SeekTo(s.Get(), -11, STREAM_SEEK_END, STG_E_SEEKERROR));
    EXPECT_EQ(4u, SeekTo(s.Get(), 0, 3, STG_E_INVALIDFUNCTION));
    // Far beyond the end is a position like any other; nothing is there.
    EXPECT_EQ(0x7FFFFFFFFFFFFFFFull, SeekTo(s.Get(), 0x7FFFFFFFFFFFFFFFll, STREAM_SEEK_SET));
    EXPECT_TRUE(ReadAll(s.Get(), 4).empty());
    LARGE_INTEGER huge;
    huge.QuadPart = 0x7FFFFFFFFFFFFFFFll;
    ASSERT_EQ(S_OK, s->Seek(huge, STREAM_SEEK_SET, nullptr));
    ASSERT_EQ(S_OK, s->Seek(huge, STREAM_SEEK_CUR, nullptr));
    EXPECT_EQ(0xFFFFFFFFFFFFFFFEull, SeekTo(s.Get(), 2, STREAM_SEEK_CUR, STG_E_SEEKERROR)); // past 64 bits
    EXPECT_EQ(10u, SizeOf(s.Get())); // seeking never changes the size
}

TEST_F(ChunkStreamTest, GapsAndRegrownBytesReadAsZero)
{
    auto s = NewStream();
    SeekTo(s.Get(), kChunk + 10, STREAM_SEEK_SET);
    ASSERT_EQ(S_OK, s->Write("x", 1, nullptr));
    EXPECT_EQ(kChunk + 11u, SizeOf(s.Get()));
    SeekTo(s.Get(), 0, STREAM_SEEK_SET);
    auto all = ReadAll(s.Get(), kChunk + 11);
    ASSERT_EQ(kChunk + 11u, all.size());
    EXPECT_EQ(std::vector<char>(kChunk + 10, '\0'), std::vector<char>(all.begin(), all.end() - 1));
    EXPECT_EQ('x', all.back());

    // Shrinking inside a chunk and growing again must not bring old bytes back.
    const auto data = Pattern(100);
    SeekTo(s.Get(), 0, STREAM_SEEK_SET);
    ASSERT_EQ(S_OK, s->Write(data.data(), 100, nullptr));
    ULARGE_INTEGER size;
    size.QuadPart = 40;
    EXPECT_EQ(S_OK, s->SetSize(size));
    EXPECT_EQ(40u, SizeOf(s.Get()));
    EXPECT_EQ(100u, SeekTo(s.Get(), 0, STREAM_SEEK_CUR)); // the position stays where it was
    size.QuadPart = 2 * kChunk;
    EXPECT_EQ(S_OK, s->SetSize(size));
    SeekTo(s.Get(), 0, STREAM_SEEK_SET);
    all = ReadAll(s.Get(), 2 * kChunk);
    ASSERT_EQ(2u * kChunk, all.size());
    EXPECT_EQ(std::vector<char>(data.begin(), data.begin() + 40), std::vector<char>(all.begin(), all.begin() + 40));
    EXPECT_EQ(std::vector<char>(2 * kChunk - 40, '\0'), std::vector<char>(all.begin() + 40, all.end()));
    size.QuadPart = 0;
    EXPECT_EQ(S_OK, s->SetSize(size));
    EXPECT_EQ(0u, SizeOf(s.Get()));
}

TEST_F(ChunkStreamTest, CloneSharesBytesButNotThePosition)
{
    auto s = NewStream();
    ASSERT_EQ(S_OK, s->Write("hello", 5, nullptr));
    SeekTo(s.Get(), 1, STREAM_SEEK_SET);
    ComPtr<IStream> clone;
    ASSERT_EQ(S_OK, s->Clone(&clone));
    EXPECT_EQ(2, ModuleLockCount());
    EXPECT_EQ(1u, SeekTo(clone.Get(), 0, STREAM_SEEK_CUR));
    EXPECT_EQ(std::vector<char>({'e', 'l'}), ReadAll(clone.Get(), 2));
    EXPECT_EQ(1u, SeekTo(s.Get(), 0, STREAM_SEEK_CUR));
    ASSERT_EQ(S_OK, clone->Write("!", 1, nullptr)); // at 3
    EXPECT_EQ(std::vector<char>({'e', 'l', '!', 'o'}), ReadAll(s.Get(), 10));
    s.Reset(); // the bytes live on with the clone
    SeekTo(clone.Get(), 0, STREAM_SEEK_SET);
    EXPECT_EQ(std::vector<char>({'h', 'e', 'l', '!', 'o'}), ReadAll(clone.Get(), 10));
    EXPECT_EQ(STG_E_INVALIDPOINTER, clone->Clone(nullptr));
}

TEST_F(ChunkStreamTest, CopyToMovesBothPositionsAndCounts)
{
    auto s = NewStream();
    const auto data = Pattern(2 * kChunk + 17);
    ASSERT_EQ(S_OK, s->Write(data.data(), static_cast<ULONG>(data.size()), nullptr));
    SeekTo(s.Get(), 7, STREAM_SEEK_SET);
    auto target = NewStream();
    ULARGE_INTEGER cb, read, written;
    cb.QuadPart = kChunk + 3;
    read.QuadPart = written.QuadPart = 0xBAADF00D;
    EXPECT_EQ(S_OK, s->CopyTo(target.Get(), cb, &read, &written));
    EXPECT_EQ(kChunk + 3u, read.QuadPart);
    EXPECT_EQ(kChunk + 3u, written.QuadPart);
    EXPECT_EQ(kChunk + 10u, SeekTo(s.Get(), 0, STREAM_SEEK_CUR));
    SeekTo(target.Get(), 0, STREAM_SEEK_SET);
    EXPECT_EQ(std::vector<char>(data.begin() + 7, data.begin() + 7 + kChunk + 3), ReadAll(target.Get(), 3 * kChunk));
    // Asking for more than is left copies the rest.
    cb.QuadPart = ~0ull;
    EXPECT_EQ(S_OK, s->CopyTo(target.Get(), cb, &read, nullptr));
    EXPECT_EQ(data.size() - kChunk - 10, read.QuadPart);
    EXPECT_EQ(data.size() - 7, SizeOf(target.Get()));
    EXPECT_EQ(STG_E_INVALIDPOINTER, s->CopyTo(nullptr, cb, &read, &written));
    EXPECT_EQ(0u, read.QuadPart);
    EXPECT_EQ(0u, written.QuadPart);
}

TEST_F(ChunkStreamTest, ArgumentChecksAndUnsupportedOperations)
{
    auto s = NewStream();
    ULONG n = 0xDEAD;
    EXPECT_EQ(STG_E_INVALIDPOINTER, s->Write(nullptr, 1, &n));
    EXPECT_EQ(0u, n);
    n = 0xDEAD;
    EXPECT_EQ(STG_E_INVALIDPOINTER, s->Read(nullptr, 1, &n));
    EXPECT_EQ(0u, n);
    EXPECT_EQ(S_OK, s->Write(nullptr, 0, &n)); // nothing to write needs no buffer
    EXPECT_EQ(0u, SizeOf(s.Get()));
    EXPECT_EQ(STG_E_INVALIDPOINTER, s->Stat(nullptr, STATFLAG_NONAME));
    STATSTG st;
    st.pwcsName = static_cast<LPOLESTR>(comtest::kPoison);
    EXPECT_EQ(STG_E_INVALIDFLAG, s->Stat(&st, 7));
    EXPECT_EQ(nullptr, st.pwcsName);
    ULARGE_INTEGER a{}, b{};
    EXPECT_EQ(STG_E_INVALIDFUNCTION, s->LockRegion(a, b, LOCK_WRITE));
    EXPECT_EQ(STG_E_INVALIDFUNCTION, s->UnlockRegion(a, b, LOCK_WRITE));
    EXPECT_EQ(S_OK, s->Commit(STGC_DEFAULT));
    EXPECT_EQ(S_OK, s->Revert());
}
