#pragma once
// The installation that the run tests share: converter A2B (1->2),
// translator B2C (2->3) and converter C2D (3->4), each with the behaviour a
// test gives it, and a chain translator over them with a recording client.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <regex>

#include "ChainTranslatorClient.h"
#include "catalogue/Converters.h"
#include "chains/RealTranslators.h"
#include "chains/TempFiles.h"
#include "vembro/com/Module.h"
#include "support/Fakes.h"

namespace chaintest {

const std::string kMissing = "VT_ERROR:80020004";

inline vembro::CChainItem Conv(short s, short t) { return vembro::CChainItem(s, t, vembro::CHAINITEM_CONVERTER); }
inline vembro::CChainItem Tran(short s, short t) { return vembro::CChainItem(s, t, vembro::CHAINITEM_TRANSLATOR); }
inline vembro::CChain ThreeSteps() { return MakeChain({Conv(1, 2), Tran(2, 3), Conv(3, 4)}); }

class ChainRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_HRESULT_SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        char folder[MAX_PATH];
        ASSERT_NE(0u, ::GetTempPathA(MAX_PATH, folder));
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_'); // parameterised names
        m_in = std::string(folder) + "chaintr_" + name + ".a";
        m_out = std::string(folder) + "chaintr_" + name + ".d";
        WriteTextFile(m_in, "doc\n");
        ::DeleteFileA(m_out.c_str());
    }

    void TearDown() override
    {
        if (m_translator && m_cookie)
            Disconnect(m_translator.Get(), m_cookie);
        m_translator.Reset();
        m_sink.Reset();
        if (m_inst) {
            EXPECT_TRUE(m_inst->WaitIdle());
            EXPECT_EQ(0, m_inst->LiveObjects());
            m_inst.reset();
        }
        EXPECT_EQ(0, vembro::ModuleLockCount());
        ::DeleteFileA(m_in.c_str());
        ::DeleteFileA(m_out.c_str());
        ::CoUninitialize();
    }

    // Installs the three fakes and loads both registries, so that the
    // journal holds only what a run does.
    void Install(const fakes::Behaviour& a2b = {}, const fakes::Behaviour& b2c = {},
                 const fakes::Behaviour& c2d = {})
    {
        m_inst = std::make_unique<fakes::Installation>();
        m_inst->Converter("A2B", {1, "A", "a", "a"}, {2, "B", "b", "b"}, a2b)
            .Translator("B2C", {2, "B", "b", "b"}, {3, "C", "c", "c"}, b2c)
            .Converter("C2D", {3, "C", "c", "c"}, {4, "D", "d", "d"}, c2d)
            .Install();
        Microsoft::WRL::ComPtr<ITolviFileConverter> converter;
        Microsoft::WRL::ComPtr<ITolviFileTranslator> translator;
        ASSERT_EQ(S_OK, vembro::g_Converters.CreateConverter(1, 2, &converter));
        ASSERT_EQ(S_OK, vembro::g_RealTranslators.CreateTranslator(2, 3, &translator));
        converter.Reset();
        translator.Reset();
        m_inst->ClearJournal();
    }

    // A chain translator over `chain` with the recording client connected.
    void Make(const vembro::CChain& chain)
    {
        m_translator = MakeTranslator(chain);
        m_sink = ClientSink::Create();
        m_cookie = Connect(m_translator.Get(), m_sink.Get());
    }

    ITolviFileTranslator* T() const { return m_translator.Get(); }
    Microsoft::WRL::ComPtr<ITolviFileTranslator2> T2() const
    {
        Microsoft::WRL::ComPtr<ITolviFileTranslator2> t2;
        vembro::ThrowIfFailed(m_translator.As(&t2));
        return t2;
    }

    HRESULT TranslateFile()
    {
        return T()->TranslateFile(m_direction.Get(), Bstr(m_in).get(), Bstr(m_out).get(), Var::I4(77));
    }
    HRESULT SyncTranslateFile()
    {
        return T2()->SyncTranslateFile(m_direction.Get(), Bstr(m_in).get(), Bstr(m_out).get(), Var::I4(77));
    }

    LONG State() const
    {
        LONG state = -1;
        EXPECT_EQ(S_OK, m_translator->get_State(&state));
        return state;
    }
    LONG Error() const
    {
        LONG error = 0x5EED;
        EXPECT_EQ(S_OK, m_translator->get_Error(&error));
        return error;
    }

    // Waits until every fake worker has finished (and with it whatever the
    // chain translator did on its thread).
    void WaitIdle() { ASSERT_TRUE(m_inst->WaitIdle()); }

    // The journal without the components' destruction, whose moment depends
    // on which stack still holds them.
    Lines Journal() const
    {
        Lines lines;
        for (auto& line : m_inst->Journal()) {
            if (line.size() < 8 || line.compare(line.size() - 8, 8, ".Destroy") != 0)
                lines.push_back(line);
        }
        return lines;
    }
    // The value of `key=` in the first journal line that contains `part`.
    std::string Argument(const std::string& part, const std::string& key) const
    {
        for (auto& line : m_inst->Journal(part)) {
            std::smatch m;
            if (std::regex_search(line, m, std::regex(key + "=([^,)]*)")))
                return m[1];
        }
        return std::string();
    }
    // The folder in which the chain translator makes its temporary files.
    static std::string TempFolder()
    {
        vembro::CTempFile probe;
        return FolderOf(probe.Path());
    }
    // FTM files that exist now in `folder` beyond `before`.
    static Lines NewTempFiles(const std::string& folder, const Lines& before)
    {
        Lines added;
        for (auto& name : TempFilesIn(folder)) {
            if (std::find(before.begin(), before.end(), name) == before.end())
                added.push_back(name);
        }
        return added;
    }

    std::unique_ptr<fakes::Installation> m_inst;
    Microsoft::WRL::ComPtr<ITolviFileTranslator> m_translator;
    Microsoft::WRL::ComPtr<ClientSink> m_sink;
    Microsoft::WRL::ComPtr<IDispatch> m_direction = MakeDirection();
    DWORD m_cookie = 0;
    std::string m_in;
    std::string m_out;
};

} // namespace chaintest
