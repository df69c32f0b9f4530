#pragma once
// Data plumbing for components: files as streams, a target file that
// disappears unless the conversion completes, whole-document reads and
// writes with progress, the probe window for detection, and UTF-8 text.
#include <windows.h>
#include <objidl.h>
#include <wrl/client.h>
#include <functional>
#include <string>

#include "vembro/kit/Runner.h"

namespace vembro::kit {

// How many bytes detection looks at, from the position it is given.
constexpr ULONG kProbeBytes = 4096;

Microsoft::WRL::ComPtr<IStream> OpenInputFile(const wchar_t* path);

// A new target file. Unless Commit is called, the destructor releases the
// stream and deletes the file again, so a failed or stopped run leaves no
// half-written document behind.
class OutputFile {
public:
    explicit OutputFile(const wchar_t* path);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();
    IStream* Stream() const noexcept { return m_stream.Get(); }
    void Commit();

private:
    std::wstring m_path;
    Microsoft::WRL::ComPtr<IStream> m_stream;
    bool m_bCommitted = false;
};

// Reads from the current position up to max bytes; the position is left
// where reading stopped (the caller of a probe restores it).
std::string ReadHead(IStream* stream, ULONG max = kProbeBytes);
std::string ReadFileHead(const wchar_t* path, ULONG max = kProbeBytes);

// Whole-document helpers. Progress runs 0..100: reading takes the first
// half, writing the second.
std::string ReadAll(IStream* stream, Progress& progress);
void WriteAll(IStream* stream, const std::string& bytes, Progress& progress);
void TransformDocument(IStream* in, IStream* out, Progress& progress,
                       const std::function<std::string(const std::string&)>& transform);

std::string Utf8FromWide(const wchar_t* text, size_t length);
std::wstring WideFromUtf8(const std::string& bytes);
bool IsValidUtf8(const std::string& bytes, bool allowTruncatedEnd) noexcept;
// The bytes without a leading UTF-8 byte order mark.
std::string WithoutUtf8Bom(const std::string& bytes);

Microsoft::WRL::ComPtr<IStream> NewMemoryStream();
// The whole content of a memory stream, whatever its position.
std::string ContentOf(IStream* stream);

} // namespace vembro::kit
