// Script clients under the platform's console script host: they create the
// manager by its ProgID and walk its collections late-bound.
#include <gtest/gtest.h>

#include <string>

#include "ModuleDll.h"
#include "support/Fakes.h"

using namespace moduletest;

namespace {

// The scripts sit next to this source file; the build tree's Unix paths
// are seen through Wine's drive Z:.
std::wstring ScriptPath(const char* name)
{
    std::string dir = __FILE__;
    dir.resize(dir.find_last_of('/'));
    std::wstring path = L"Z:";
    for (char c : dir + "/scripts/" + name)
        path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return path;
}

std::string WithoutCarriageReturns(std::string text)
{
    std::string out;
    for (char c : text)
        if (c != '\r')
            out += c;
    return out;
}

class Scripts : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dll.Loaded());
        m_inst.Converter("A2B", {1, "Alpha", "a", "a.aa"}, {2, "Beta", "b", "b", true}).Install();
        ASSERT_EQ(S_OK, m_dll.Register());
    }
    void TearDown() override { EXPECT_EQ(S_OK, m_dll.Unregister()); }

    std::string Run(const char* script)
    {
        std::string output;
        EXPECT_EQ(0, RunProcess(L"cscript.exe //nologo \"" + ScriptPath(script) + L"\"", &output)) << output;
        return WithoutCarriageReturns(output);
    }

    fakes::Installation m_inst;
    VembroDll m_dll;
};

TEST_F(Scripts, VBScriptWalksTheFormats)
{
    EXPECT_EQ("sources 1\n"
              "1|Alpha|a|a.aa|False\n"
              "targets 1\n"
              "2|Beta|b|b|True\n"
              "byext 1\n"
              "1|Alpha|a|a.aa|False\n"
              "converter True False\n",
              Run("walk.vbs"));
}

TEST_F(Scripts, JScriptWalksTheFormats)
{
    EXPECT_EQ("sources 1\n"
              "1|Alpha|a|a.aa|false\n"
              "targets 1\n"
              "2|Beta|b|b|true\n"
              "byext 1\n"
              "1|Alpha|a|a.aa|false\n"
              "converter object false\n",
              Run("walk.js"));
}

} // namespace
