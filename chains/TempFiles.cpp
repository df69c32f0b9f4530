#include "chains/TempFiles.h"

#include <cstring>

#include "vembro/com/Resource.h"

namespace vembro {
namespace {

const char kSettingsKey[] = "SOFTWARE\\Tolvi Labs\\TLVI9\\Folders";
const char kTempValue[] = "Temp";
const char kProductSubfolder[] = "Tolvi Labs\\TLVI\\9.0\\";

// The configured base folder, or empty when there is no usable setting. A
// value too long for the buffer counts as missing.
std::string ConfiguredTempRoot()
{
    unique_hkey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return std::string();
    char data[260];
    DWORD size = sizeof(data);
    DWORD type = REG_NONE;
    const LONG error = ::RegQueryValueExA(key.get(), kTempValue, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    key.reset();
    // Only a plain string counts: an expandable one is not expanded, but
    // ignored like any other type.
    if (error != ERROR_SUCCESS || type != REG_SZ)
        return std::string();
    // The stored text need not be terminated.
    return std::string(data, ::strnlen(data, size));
}

} // namespace

std::string GetTempRoot()
{
    std::string root = ConfiguredTempRoot();
    if (!root.empty()) {
        if (root.back() != '\\')
            root += '\\';
        return root;
    }
    char temp[260];
    const DWORD length = ::GetTempPathA(sizeof(temp), temp);
    if (length > 0 && length < sizeof(temp))
        root.assign(temp, length);
    return root + kProductSubfolder;
}

std::string GetTempFolder(const char* subfolder)
{
    std::string folder = GetTempRoot();
    if (subfolder) {
        folder += subfolder;
        folder += '\\';
    }
    CreateDirectories(folder.c_str());
    return folder;
}

void CreateDirectories(const char* path)
{
    if (!path || !*path)
        return;
    std::string work(path);
    if (work.back() == '\\')
        work.pop_back();
    // Never ask for "C:" or "C:\": the search starts after the drive's root.
    const size_t start = work.size() >= 3 && work[1] == ':' ? 3 : 0;
    // Every failure is ignored: a level that exists already, or a prefix
    // that cannot be a directory (the empty text before a leading backslash).
    for (size_t pos = work.find('\\', start); pos != std::string::npos; pos = work.find('\\', pos + 1))
        ::CreateDirectoryA(work.substr(0, pos).c_str(), nullptr);
    ::CreateDirectoryA(work.c_str(), nullptr);
}

std::string MakeTempFileName(const char* folder, const char* prefix)
{
    // The system creates the (empty) file as it picks the unique name.
    char name[MAX_PATH + 1] = {};
    if (!::GetTempFileNameA(folder, prefix, 0, name))
        return std::string();
    return name;
}

BOOL DeleteTempFile(const char* path) noexcept
{
    if (!path)
        return FALSE;
    // Sharing nothing: a file that somebody else still has open is left alone.
    unique_file file(
        ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return file ? TRUE : FALSE;
}

const char* CTempFile::Create()
{
    Delete();
    m_strPath = MakeTempFileName(GetTempFolder(nullptr).c_str(), "FTM");
    return m_strPath.empty() ? nullptr : m_strPath.c_str();
}

void CTempFile::Delete() noexcept
{
    if (m_strPath.empty())
        return;
    DeleteTempFile(m_strPath.c_str());
    m_strPath.clear();
}

} // namespace vembro
