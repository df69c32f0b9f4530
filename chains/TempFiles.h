#pragma once
// Temporary folders and files for the intermediate data of file runs.
// Settings: HKLM\SOFTWARE\Tolvi Labs\TLVI9\Folders, value "Temp" (REG_SZ);
// fallback: the system temporary folder + "Tolvi Labs\TLVI\9.0\".
#include <windows.h>
#include <string>

namespace vembro {

std::string GetTempRoot();
std::string GetTempFolder(const char* subfolder);
void CreateDirectories(const char* path);
std::string MakeTempFileName(const char* folder, const char* prefix);
BOOL DeleteTempFile(const char* path) noexcept;

class CTempFile {
public:
    CTempFile() { Create(); }
    CTempFile(const CTempFile&) = delete;
    CTempFile& operator=(const CTempFile&) = delete;
    ~CTempFile() { Delete(); }
    const char* Create();              // null when no file could be made
    void Delete() noexcept;
    const std::string& Path() const noexcept { return m_strPath; }

private:
    std::string m_strPath;
};

} // namespace vembro
