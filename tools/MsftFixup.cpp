#include "tools/MsftFixup.h"

#include <oaidl.h>

#include <cstdint>
#include <cstring>

#include "vembro/com/Error.h"
#include "vembro/com/Resource.h"

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
constexpr std::size_t kRecordSizeOffset = 0x50;

unique_file Open(const wchar_t* path, DWORD access, DWORD disposition)
{
    unique_file file(::CreateFileW(path, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        ThrowHr(TYPE_E_IOERROR);
    return file;
}

} // namespace

MsftFile::MsftFile(const wchar_t* path) : m_path(path)
{
    unique_file file = Open(path, GENERIC_READ, OPEN_EXISTING);
    LARGE_INTEGER length{};
    if (!::GetFileSizeEx(file.get(), &length) || length.QuadPart > 0x1000000)
        ThrowHr(TYPE_E_IOERROR);
    m_data.resize(static_cast<std::size_t>(length.QuadPart));
    DWORD done = 0;
    if (!::ReadFile(file.get(), m_data.data(), static_cast<DWORD>(m_data.size()), &done, nullptr)
        || done != m_data.size())
        ThrowHr(TYPE_E_IOERROR);

    auto read = [this](std::size_t at) {
        if (at + 4 > m_data.size())
            ThrowHr(TYPE_E_INVDATAREAD);
        std::uint32_t v = 0;
        std::memcpy(&v, m_data.data() + at, sizeof v);
        return v;
    };
    if (read(kMagicOffset) != kMagic)
        ThrowHr(TYPE_E_INVDATAREAD);
    m_types = read(kTypeCountOffset);
    std::size_t segdir = kHeaderSize + m_types * 4;
    if (read(kVarFlagsOffset) & kHelpDllFlag)
        segdir += 4;
    m_table = read(segdir);
    if (m_table + m_types * kTypeRecordSize > m_data.size())
        ThrowHr(TYPE_E_INVDATAREAD);
}

std::size_t MsftFile::Record(std::size_t index, TYPEKIND kind) const
{
    if (index >= m_types)
        ThrowHr(TYPE_E_ELEMENTNOTFOUND);
    const std::size_t record = m_table + index * kTypeRecordSize;
    std::uint32_t storedKind = 0;
    std::uint32_t flags = 0;
    std::memcpy(&storedKind, m_data.data() + record + kRecordKindOffset, sizeof storedKind);
    std::memcpy(&flags, m_data.data() + record + kRecordFlagsOffset, sizeof flags);
    // A dual interface is stored as its dispatch half.
    const bool matches = kind == TKIND_DISPATCH
        ? (storedKind & 0xF) == TKIND_DISPATCH && (flags & TYPEFLAG_FDUAL)
        : (storedKind & 0xF) == static_cast<std::uint32_t>(kind);
    if (!matches)
        ThrowHr(TYPE_E_BADMODULEKIND);
    return record;
}

void MsftFile::SetVtableSize(std::size_t index, UINT bytes)
{
    if (bytes > 0x7FFF)
        ThrowHr(TYPE_E_SIZETOOBIG);
    const std::int16_t value = static_cast<std::int16_t>(bytes);
    std::memcpy(m_data.data() + Record(index, TKIND_DISPATCH) + kRecordVftOffset, &value, sizeof value);
}

void MsftFile::SetInstanceSize(std::size_t index, UINT bytes)
{
    const std::int32_t value = static_cast<std::int32_t>(bytes);
    std::memcpy(m_data.data() + Record(index, TKIND_ENUM) + kRecordSizeOffset, &value, sizeof value);
}

void MsftFile::Save() const
{
    unique_file file = Open(m_path, GENERIC_WRITE, CREATE_ALWAYS);
    DWORD done = 0;
    if (!::WriteFile(file.get(), m_data.data(), static_cast<DWORD>(m_data.size()), &done, nullptr)
        || done != m_data.size())
        ThrowHr(TYPE_E_IOERROR);
}

} // namespace vembro::tools
