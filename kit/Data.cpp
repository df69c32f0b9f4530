#include "vembro/kit/Data.h"

#include <shlwapi.h>

#include "vembro/com/Error.h"
#include "vembro/com/Strings.h"

namespace vembro::kit {

using Microsoft::WRL::ComPtr;

namespace {
constexpr ULONG kChunk = 64 * 1024;
constexpr long kHalf = 50;

long Percent(ULONGLONG done, ULONGLONG total) noexcept
{
    return total ? static_cast<long>(done * kHalf / total) : kHalf;
}
} // namespace

ComPtr<IStream> OpenInputFile(const wchar_t* path)
{
    ComPtr<IStream> stream;
    ThrowIfFailed(::SHCreateStreamOnFileEx(path, STGM_READ | STGM_SHARE_DENY_WRITE, FILE_ATTRIBUTE_NORMAL,
                                           FALSE, nullptr, &stream));
    return stream;
}

OutputFile::OutputFile(const wchar_t* path) : m_path(path)
{
    ThrowIfFailed(::SHCreateStreamOnFileEx(path, STGM_CREATE | STGM_WRITE | STGM_SHARE_DENY_WRITE,
                                           FILE_ATTRIBUTE_NORMAL, TRUE, nullptr, &m_stream));
}

OutputFile::~OutputFile()
{
    m_stream.Reset();
    if (!m_bCommitted)
        ::DeleteFileW(m_path.c_str());
}

void OutputFile::Commit()
{
    ThrowIfFailed(m_stream->Commit(STGC_DEFAULT));
    m_bCommitted = true;
}

std::string ReadHead(IStream* stream, ULONG max)
{
    std::string bytes(max, '\0');
    ULONG got = 0;
    ThrowIfFailed(stream->Read(bytes.data(), max, &got));
    bytes.resize(got);
    return bytes;
}

std::string ReadFileHead(const wchar_t* path, ULONG max)
{
    return ReadHead(OpenInputFile(path).Get(), max);
}

std::string ReadAll(IStream* stream, Progress& progress)
{
    STATSTG stat{};
    ULONGLONG size = SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME)) ? stat.cbSize.QuadPart : 0;
    std::string bytes;
    std::string chunk(kChunk, '\0');
    for (;;) {
        ULONG got = 0;
        ThrowIfFailed(stream->Read(chunk.data(), kChunk, &got));
        if (got == 0)
            break;
        bytes.append(chunk.data(), got);
        progress.Report(Percent(bytes.size() < size ? bytes.size() : size, size), 100);
    }
    return bytes;
}

void WriteAll(IStream* stream, const std::string& bytes, Progress& progress)
{
    size_t done = 0;
    do {
        ULONG piece = static_cast<ULONG>(bytes.size() - done < kChunk ? bytes.size() - done : kChunk);
        ULONG written = 0;
        ThrowIfFailed(stream->Write(bytes.data() + done, piece, &written));
        if (written != piece)
            ThrowHr(STG_E_MEDIUMFULL);
        done += piece;
        progress.Report(kHalf + Percent(done, bytes.size()), 100);
    } while (done < bytes.size());
}

void TransformDocument(IStream* in, IStream* out, Progress& progress,
                       const std::function<std::string(const std::string&)>& transform)
{
    std::string source = ReadAll(in, progress);
    progress.Checkpoint();
    WriteAll(out, transform(source), progress);
}

std::string Utf8FromWide(const wchar_t* text, size_t length)
{
    return NarrowFromWide(CP_UTF8, text, static_cast<int>(length));
}

std::wstring WideFromUtf8(const std::string& bytes)
{
    return WideFromNarrow(CP_UTF8, bytes.data(), static_cast<int>(bytes.size()));
}

bool IsValidUtf8(const std::string& bytes, bool allowTruncatedEnd) noexcept
{
    size_t i = 0, n = bytes.size();
    while (i < n) {
        auto c = static_cast<unsigned char>(bytes[i]);
        size_t follow = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 9;
        if (follow == 9 || c == 0xC0 || c == 0xC1 || c > 0xF4)
            return false;
        if (i + follow >= n) {
            // A probe window may cut the last character short.
            for (size_t k = i + 1; k < n; ++k)
                if ((static_cast<unsigned char>(bytes[k]) & 0xC0) != 0x80)
                    return false;
            return allowTruncatedEnd;
        }
        for (size_t k = 1; k <= follow; ++k)
            if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80)
                return false;
        i += follow + 1;
    }
    return true;
}

std::string WithoutUtf8Bom(const std::string& bytes)
{
    return bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes.substr(3) : bytes;
}

ComPtr<IStream> NewMemoryStream()
{
    ComPtr<IStream> stream;
    ThrowIfFailed(::CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    return stream;
}

std::string ContentOf(IStream* stream)
{
    LARGE_INTEGER zero{};
    ThrowIfFailed(stream->Seek(zero, STREAM_SEEK_SET, nullptr));
    Progress silent(nullptr);
    return ReadAll(stream, silent);
}

} // namespace vembro::kit
