// Temporary folders and files: where the base folder comes from, which
// directories get made, and the life of a CTempFile's file.
#include <gtest/gtest.h>
#include <windows.h>
#include <filesystem>
#include <string>
#include <vector>

#include "chains/TempFiles.h"

using namespace vembro;
namespace fs = std::filesystem;

namespace {

const char kKeyLevels[][40] = {"SOFTWARE\\Tolvi Labs", "SOFTWARE\\Tolvi Labs\\TLVI9",
                               "SOFTWARE\\Tolvi Labs\\TLVI9\\Folders"};
const char* const kSettingsKey = kKeyLevels[2];

bool KeyExists(const char* path)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}

bool IsDirectory(const std::string& path)
{
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const std::string& path)
{
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string SystemTemp()
{
    char buffer[MAX_PATH + 1] = {};
    const DWORD n = ::GetTempPathA(sizeof(buffer), buffer);
    return std::string(buffer, n);
}

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

// Saves the "Temp" setting (and which of its keys exist) and puts it all
// back afterwards; gives each test a private folder under the Wine temporary
// folder and removes it with everything in it.
class TempFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int i = 0; i < 3; ++i)
            m_bKeyExisted[i] = KeyExists(kKeyLevels[i]);
        if (m_bKeyExisted[2]) {
            HKEY key = nullptr;
            ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key));
            DWORD size = 0;
            if (::RegQueryValueExA(key, "Temp", nullptr, &m_dwSavedType, nullptr, &size) == ERROR_SUCCESS) {
                m_saved.resize(size);
                m_bValueExisted = ::RegQueryValueExA(key, "Temp", nullptr, &m_dwSavedType,
                                                     m_saved.data(), &size) == ERROR_SUCCESS;
                m_saved.resize(size);
            }
            ::RegCloseKey(key);
        }
        m_dir = SystemTemp() + "vembro-tempfiles-" + std::to_string(::GetCurrentProcessId()) + "\\";
        fs::remove_all(m_dir);
        ASSERT_TRUE(::CreateDirectoryA(m_dir.c_str(), nullptr));
    }

    void TearDown() override
    {
        if (m_bTempRedirected) {
            ::SetEnvironmentVariableA("TMP", m_savedTmp.empty() ? nullptr : m_savedTmp.c_str());
            ::SetEnvironmentVariableA("TEMP", m_savedTemp.empty() ? nullptr : m_savedTemp.c_str());
        }
        if (m_bValueExisted) {
            HKEY key = nullptr;
            ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0,
                                                       KEY_SET_VALUE, nullptr, &key, nullptr));
            EXPECT_EQ(ERROR_SUCCESS, ::RegSetValueExA(key, "Temp", 0, m_dwSavedType, m_saved.data(),
                                                      static_cast<DWORD>(m_saved.size())));
            ::RegCloseKey(key);
        } else if (KeyExists(kSettingsKey)) {
            ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSettingsKey, "Temp");
        }
        for (int i = 2; i >= 0; --i) {
            if (!m_bKeyExisted[i])
                ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKeyLevels[i]);
        }
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
        EXPECT_FALSE(IsDirectory(m_dir)) << "something in the test folder is still open";
    }

    void SetTemp(DWORD type, const std::string& text)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE,
                                                   nullptr, &key, nullptr));
        EXPECT_EQ(ERROR_SUCCESS, ::RegSetValueExA(key, "Temp", 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                                                  static_cast<DWORD>(text.size() + 1)));
        ::RegCloseKey(key);
    }

    void RemoveSettingsKey()
    {
        ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSettingsKey, "Temp");
        ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsKey);
        ASSERT_FALSE(KeyExists(kSettingsKey));
    }

    // The system temporary folder becomes `folder` for this process.
    void RedirectSystemTemp(const std::string& folder)
    {
        char buffer[MAX_PATH + 1] = {};
        m_savedTmp.assign(buffer, ::GetEnvironmentVariableA("TMP", buffer, sizeof(buffer)));
        m_savedTemp.assign(buffer, ::GetEnvironmentVariableA("TEMP", buffer, sizeof(buffer)));
        m_bTempRedirected = true;
        ::SetEnvironmentVariableA("TMP", folder.c_str());
        ::SetEnvironmentVariableA("TEMP", folder.c_str());
    }

    std::string m_dir; // ends with a backslash

private:
    bool m_bKeyExisted[3] = {};
    bool m_bValueExisted = false;
    DWORD m_dwSavedType = REG_NONE;
    std::vector<BYTE> m_saved;
    bool m_bTempRedirected = false;
    std::string m_savedTmp, m_savedTemp;
};

// ---- the base folder ---------------------------------------------------------

TEST_F(TempFilesTest, TempValueGetsATrailingBackslashAndNoProductFolder)
{
    SetTemp(REG_SZ, m_dir + "Work");
    EXPECT_EQ(m_dir + "Work\\", GetTempRoot());
}

TEST_F(TempFilesTest, TempValueEndingInBackslashIsTakenUnchanged)
{
    SetTemp(REG_SZ, m_dir + "Work\\");
    EXPECT_EQ(m_dir + "Work\\", GetTempRoot());
}

TEST_F(TempFilesTest, UnusableTempValuesFallBackToTheSystemFolder)
{
    const std::string fallback = SystemTemp() + "Tolvi Labs\\TLVI\\9.0\\";
    SetTemp(REG_EXPAND_SZ, m_dir + "Expand");
    EXPECT_EQ(fallback, GetTempRoot()) << "REG_EXPAND_SZ";
    SetTemp(REG_SZ, "");
    EXPECT_EQ(fallback, GetTempRoot()) << "empty";
    SetTemp(REG_BINARY, m_dir + "Binary");
    EXPECT_EQ(fallback, GetTempRoot()) << "REG_BINARY";
    SetTemp(REG_SZ, std::string(300, 'x')); // longer than the buffer
    EXPECT_EQ(fallback, GetTempRoot()) << "too long";
    ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSettingsKey, "Temp");
    EXPECT_EQ(fallback, GetTempRoot()) << "no value";
}

TEST_F(TempFilesTest, NoSettingsKeyFallsBackToTheSystemFolder)
{
    RemoveSettingsKey();
    EXPECT_EQ(SystemTemp() + "Tolvi Labs\\TLVI\\9.0\\", GetTempRoot());
}

TEST_F(TempFilesTest, FallbackFolderIsCreatedLevelByLevelWhenAFileIsMade)
{
    RemoveSettingsKey();
    RedirectSystemTemp(m_dir + "sys");
    ASSERT_TRUE(::CreateDirectoryA((m_dir + "sys").c_str(), nullptr));
    const std::string root = m_dir + "sys\\Tolvi Labs\\TLVI\\9.0\\";
    ASSERT_EQ(root, GetTempRoot());
    ASSERT_FALSE(IsDirectory(m_dir + "sys\\Tolvi Labs"));
    {
        CTempFile file;
        ASSERT_FALSE(file.Path().empty());
        EXPECT_TRUE(IsDirectory(m_dir + "sys\\Tolvi Labs"));
        EXPECT_TRUE(IsDirectory(m_dir + "sys\\Tolvi Labs\\TLVI"));
        EXPECT_TRUE(IsDirectory(m_dir + "sys\\Tolvi Labs\\TLVI\\9.0"));
        EXPECT_EQ(root, file.Path().substr(0, root.size()));
    }
    // The folder stays; only the file goes.
    EXPECT_TRUE(FilesIn(root).empty());
}

TEST_F(TempFilesTest, TempFolderAppendsASubfolderAndCreatesIt)
{
    SetTemp(REG_SZ, m_dir + "Base");
    EXPECT_EQ(m_dir + "Base\\", GetTempFolder(nullptr));
    EXPECT_TRUE(IsDirectory(m_dir + "Base"));
    EXPECT_EQ(m_dir + "Base\\Sub\\", GetTempFolder("Sub"));
    EXPECT_TRUE(IsDirectory(m_dir + "Base\\Sub"));
}

// ---- directories ---------------------------------------------------------------

TEST_F(TempFilesTest, CreateDirectoriesMakesEveryLevel)
{
    ASSERT_EQ(':', m_dir[1]); // a drive-letter path: the drive itself is never asked for
    CreateDirectories((m_dir + "a\\b\\c").c_str());
    EXPECT_TRUE(IsDirectory(m_dir + "a"));
    EXPECT_TRUE(IsDirectory(m_dir + "a\\b"));
    EXPECT_TRUE(IsDirectory(m_dir + "a\\b\\c"));
    CreateDirectories((m_dir + "x\\y\\").c_str());
    EXPECT_TRUE(IsDirectory(m_dir + "x\\y"));
    CreateDirectories((m_dir + "a\\b\\d").c_str()); // existing levels are fine
    EXPECT_TRUE(IsDirectory(m_dir + "a\\b\\d"));
}

TEST_F(TempFilesTest, CreateDirectoriesWithoutDriveStartsAtTheFirstCharacter)
{
    char saved[MAX_PATH + 1] = {};
    ASSERT_NE(0u, ::GetCurrentDirectoryA(sizeof(saved), saved));
    ASSERT_TRUE(::SetCurrentDirectoryA(m_dir.c_str()));
    CreateDirectories("rel\\one\\");
    ::SetCurrentDirectoryA(saved);
    EXPECT_TRUE(IsDirectory(m_dir + "rel\\one"));
}

TEST_F(TempFilesTest, CreateDirectoriesIgnoresWhatCannotBeMade)
{
    CreateDirectories(nullptr);
    CreateDirectories("");
    const std::string file = m_dir + "plain";
    HANDLE h = ::CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    ::CloseHandle(h);
    CreateDirectories((file + "\\under\\deeper").c_str());
    EXPECT_TRUE(IsFile(file));
    EXPECT_FALSE(IsDirectory(file + "\\under"));
    EXPECT_EQ(std::vector<std::string>{"plain"}, FilesIn(m_dir));
}

// ---- files -----------------------------------------------------------------------

TEST_F(TempFilesTest, MakeTempFileNameCreatesAnEmptyFile)
{
    const std::string name = MakeTempFileName(m_dir.c_str(), "FTM");
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(m_dir + "FTM", name.substr(0, m_dir.size() + 3));
    EXPECT_EQ(".tmp", name.substr(name.size() - 4));
    EXPECT_TRUE(IsFile(name));
    EXPECT_EQ(0u, fs::file_size(name));
    EXPECT_NE(name, MakeTempFileName(m_dir.c_str(), "FTM"));
    EXPECT_EQ(std::string(), MakeTempFileName((m_dir + "missing").c_str(), "FTM"));
}

TEST_F(TempFilesTest, TempFileLivesFromConstructionToDestruction)
{
    SetTemp(REG_SZ, m_dir + "Files");
    std::string path;
    {
        CTempFile file;
        path = file.Path();
        ASSERT_FALSE(path.empty());
        const std::vector<std::string> names = FilesIn(m_dir + "Files");
        ASSERT_EQ(1u, names.size());
        EXPECT_EQ(m_dir + "Files\\" + names[0], path);
        EXPECT_EQ("FTM", names[0].substr(0, 3));
        EXPECT_EQ(".tmp", names[0].substr(names[0].size() - 4));
        EXPECT_EQ(0u, fs::file_size(path));
    }
    EXPECT_FALSE(IsFile(path));
    EXPECT_TRUE(FilesIn(m_dir + "Files").empty());
}

TEST_F(TempFilesTest, CreateReplacesTheFileAndDeleteEmptiesThePath)
{
    SetTemp(REG_SZ, m_dir + "Files");
    CTempFile file;
    const std::string first = file.Path();
    const char* second = file.Create();
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(file.Path(), second);
    EXPECT_NE(first, file.Path());
    EXPECT_FALSE(IsFile(first));
    EXPECT_TRUE(IsFile(file.Path()));
    EXPECT_EQ(1u, FilesIn(m_dir + "Files").size());
    const std::string last = file.Path();
    file.Delete();
    EXPECT_TRUE(file.Path().empty());
    EXPECT_FALSE(IsFile(last));
    file.Delete(); // nothing left to delete
    EXPECT_TRUE(file.Path().empty());
}

TEST_F(TempFilesTest, CreateGivesNullWhenTheFolderCannotBeMade)
{
    const std::string blocker = m_dir + "blocker";
    HANDLE h = ::CreateFileA(blocker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    ::CloseHandle(h);
    SetTemp(REG_SZ, blocker + "\\Files");
    CTempFile file;
    EXPECT_TRUE(file.Path().empty());
    EXPECT_EQ(nullptr, file.Create());
    EXPECT_EQ(std::vector<std::string>{"blocker"}, FilesIn(m_dir));
}

TEST_F(TempFilesTest, FileHeldOpenWithoutDeleteSharingIsNotDeleted)
{
    const std::string name = MakeTempFileName(m_dir.c_str(), "FTM");
    ASSERT_FALSE(name.empty());
    HANDLE held = ::CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_FALSE(DeleteTempFile(name.c_str()));
    ::CloseHandle(held);
    EXPECT_TRUE(IsFile(name)); // not even once the other handle has gone
    EXPECT_TRUE(DeleteTempFile(name.c_str()));
    EXPECT_FALSE(IsFile(name));
    EXPECT_FALSE(DeleteTempFile(name.c_str())); // already gone
    EXPECT_FALSE(DeleteTempFile(nullptr));
}

TEST_F(TempFilesTest, TempFileHeldOpenElsewhereStaysButThePathIsEmptied)
{
    SetTemp(REG_SZ, m_dir + "Files");
    CTempFile file;
    const std::string path = file.Path();
    HANDLE held = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    file.Delete();
    EXPECT_TRUE(file.Path().empty());
    ::CloseHandle(held);
    EXPECT_TRUE(IsFile(path));
    EXPECT_TRUE(DeleteTempFile(path.c_str()));
}

} // namespace
