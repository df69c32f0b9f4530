// Temporary folders and files: where the base folder comes from, which
// directories get made, and the life of a CTempFile's file. Each test works
// in a folder of its own, and holds the lock of the machine-wide setting
// while it runs.
#include "ChainTranslatorFixture.h"
#include "chains/TempFiles.h"

using namespace chaintest;
using namespace vembro;

namespace {

class TempFilesTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        RemoveTempSetting();
        ::SetEnvironmentVariableA("TMP", m_tmp.c_str());
    }
    std::string SystemTemp() const
    {
        char buffer[MAX_PATH + 1] = {};
        return std::string(buffer, ::GetTempPathA(sizeof(buffer), buffer));
    }
    TempSettingLock m_lock;
    kittest::TempDir m_dir;
    std::string m_tmp = std::getenv("TMP");
};

TEST_F(TempFilesTest, BaseFolderIsAPlainStringSettingOrTheSystemFolder)
{
    const std::string work = m_dir.Folder() + "Work", fallback = SystemTemp() + "Tolvi Labs\\TLVI\\9.0\\";
    const struct {
        DWORD type;
        std::string value, root;
    } rows[] = {{REG_SZ, work, work + "\\"},          {REG_SZ, work + "\\", work + "\\"},
                {REG_EXPAND_SZ, work, fallback},      {REG_BINARY, work, fallback},
                {REG_SZ, "", fallback},               {REG_SZ, std::string(300, 'x'), fallback}};
    for (const auto& row : rows) {
        SetTempSetting(row.value, row.type);
        EXPECT_EQ(row.root, GetTempRoot()) << row.type << " " << row.value;
    }
    RemoveTempSetting();
    EXPECT_EQ(fallback, GetTempRoot());
}

TEST_F(TempFilesTest, FallbackFolderIsCreatedLevelByLevelWhenAFileIsMade)
{
    ::SetEnvironmentVariableA("TMP", (m_dir.Folder() + "sys").c_str());
    const std::string root = m_dir.Folder() + "sys\\Tolvi Labs\\TLVI\\9.0\\";
    ASSERT_EQ(root, GetTempRoot());
    ASSERT_TRUE(::CreateDirectoryA((m_dir.Folder() + "sys").c_str(), nullptr));
    {
        CTempFile file;
        EXPECT_EQ(root, file.Path().substr(0, root.size()));
        EXPECT_EQ(Lines{file.Path().substr(root.size())}, m_dir.Names("sys\\Tolvi Labs\\TLVI\\9.0"));
        EXPECT_EQ("FTM", file.Path().substr(root.size(), 3));
    }
    EXPECT_EQ(Lines{}, m_dir.Names("sys\\Tolvi Labs\\TLVI\\9.0")); // the folder stays; only the file goes
}

// One file at a time; one that somebody else holds open without delete
// sharing stays on disk, even once the other handle has gone.
TEST_F(TempFilesTest, TempFileDeletesOnlyWhatNobodyElseHoldsOpen)
{
    SetTempSetting(m_dir.Folder() + "Files");
    CTempFile file;
    const std::string first = file.Path();
    ASSERT_NE(nullptr, file.Create());
    const std::string path = file.Path();
    EXPECT_NE(first, path);
    EXPECT_EQ(Lines{path.substr(path.rfind('\\') + 1)}, m_dir.Names("Files"));
    HANDLE held = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    file.Delete();
    EXPECT_EQ("", file.Path());
    ::CloseHandle(held);
    EXPECT_EQ(1u, m_dir.Names("Files").size());
    EXPECT_TRUE(DeleteTempFile(path.c_str()));
    EXPECT_FALSE(DeleteTempFile(path.c_str()));
}

} // namespace
