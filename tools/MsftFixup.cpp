#include "tools/MsftFixup.h"

#include <oaidl.h>

#include <cstdint>
#include <cstring>

#include "com/Error.h"
#include "com/Resource.h"

namespace vembro::tools {
namespace {

// Layout of the file: a fixed header, one DWORD per type (plus one when a
// help string DLL is named), the segment directory whose first entry is the
// type table, then fixed-size type records.
constexpr std::size_t kHeaderSize = 0x54;
constexpr std::size_t kMagicOffset = 0x00;
constexpr std::size_t kVarFlagsOffset = 0x14;
constexpr std::size_t kTypeCountOffset = 0x20;
constexpr std::uint32_t kMagic = 0x5446534D; // "MSFT"
constexpr std::uint32_t kHelpDllFlag = 0x100;
constexpr std::size_t kTypeRecordSize = 0x64;
constexpr std::size_t kRecordKindOffset = 0x00;
constexpr std::size_t kRecordFlagsOffset = 0x30;
constexpr std::size_t kRecordVftOffset = 0x4E;

std::uint32_t ReadU32(const std::vector<char>& data, std::size_t at)
{
    if (at + 4 > data.size())
        ThrowHr(TYPE_E_INVDATAREAD);
    std::uint32_t v = 0;
    std::memcpy(&v, data.data() + at, sizeof v);
    return v;
}

} // namespace

void FixVtableSizes(const wchar_t* path, const std::vector<VtableSize>& sizes)
{
    unique_file file(::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        ThrowHr(TYPE_E_IOERROR);
    LARGE_INTEGER length{};
    if (!::GetFileSizeEx(file.get(), &length) || length.QuadPart > 0x1000000)
        ThrowHr(TYPE_E_IOERROR);
    std::vector<char> data(static_cast<std::size_t>(length.QuadPart));
    DWORD done = 0;
    if (!::ReadFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &done, nullptr)
        || done != data.size())
        ThrowHr(TYPE_E_IOERROR);
    if (ReadU32(data, kMagicOffset) != kMagic)
        ThrowHr(TYPE_E_INVDATAREAD);
    const std::uint32_t types = ReadU32(data, kTypeCountOffset);
    std::size_t segdir = kHeaderSize + types * 4;
    if (ReadU32(data, kVarFlagsOffset) & kHelpDllFlag)
        segdir += 4;
    const std::size_t table = ReadU32(data, segdir);

    for (const VtableSize& size : sizes) {
        if (size.index >= types || size.bytes > 0x7FFF)
            ThrowHr(TYPE_E_ELEMENTNOTFOUND);
        const std::size_t record = table + size.index * kTypeRecordSize;
        // Only a dual interface record may be touched.
        if ((ReadU32(data, record + kRecordKindOffset) & 0xF) != TKIND_DISPATCH
            || !(ReadU32(data, record + kRecordFlagsOffset) & TYPEFLAG_FDUAL))
            ThrowHr(TYPE_E_BADMODULEKIND);
        const std::int16_t bytes = static_cast<std::int16_t>(size.bytes);
        std::memcpy(data.data() + record + kRecordVftOffset, &bytes, sizeof bytes);
    }

    if (::SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER
        || !::WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &done, nullptr)
        || done != data.size())
        ThrowHr(TYPE_E_IOERROR);
}

} // namespace vembro::tools
