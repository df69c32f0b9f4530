#pragma once
// The installation the chain translator tests share: converter A2B (1->2),
// translator B2C (2->3) and converter C2D (3->4), each with the behaviour a
// test gives it, a chain translator over them with a recording client, and a
// private folder for the documents and the temporary files.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <regex>

#include "catalogue/Converters.h"
#include "chains/Chain.h"
#include "chains/RealTranslators.h"
#include "translator/ChainFactory.h"
#include "support/Fakes.h"
#include "support/Recorder.h"
#include "support/Variants.h"

namespace chaintest {

using Microsoft::WRL::ComPtr;
using Lines = std::vector<std::string>;
using comtest::Bstr;
using comtest::Var;
using fakes::Behaviour;
using fakes::Finish;
using Misbehave = void (*)(Behaviour&); // what a table row does to one fake
enum class Mode { AsyncFile, AsyncStream, SyncFile_nothrow, SyncStream_nothrow };

const std::string kMissing = "VT_ERROR:80020004";
const char* const kNames[] = {"A2B", "B2C", "C2D"};
const char kFolders[] = "SOFTWARE\\Tolvi Labs\\TLVI9\\Folders";

inline vembro::CChain Chain(std::initializer_list<vembro::CChainItem> items)
{
    vembro::CChain chain;
    for (const auto& item : items)
        chain.Add(item);
    return chain;
}
inline vembro::CChainItem Conv(short s, short t) { return vembro::CChainItem(s, t, vembro::CHAINITEM_CONVERTER); }
inline vembro::CChainItem Tran(short s, short t) { return vembro::CChainItem(s, t, vembro::CHAINITEM_TRANSLATOR); }
inline vembro::CChain ThreeSteps() { return Chain({Conv(1, 2), Tran(2, 3), Conv(3, 4)}); }
inline std::string Joined(const Lines& lines)
{
    std::string all;
    for (const auto& line : lines)
        all += (all.empty() ? "" : ", ") + line;
    return all;
}
// The base folder of the temporary files is one machine-wide setting: a test
// that sets it holds this lock from its start to its end, or another process
// of a suite run in the same prefix at the same time changes it in between.
// At the end the test removes it, and each key level that holds nothing else.
struct TempSettingLock {
    TempSettingLock() { EXPECT_NE(WAIT_TIMEOUT, ::WaitForSingleObject(mutex.get(), 60000)); } // or abandoned
    ~TempSettingLock() { ::ReleaseMutex(mutex.get()); }
    vembro::unique_handle mutex{::CreateMutexW(nullptr, FALSE, L"Local\\VembroTests.TempSetting")};
};
inline void SetTempSetting(const std::string& folder, DWORD type = REG_SZ)
{
    vembro::unique_hkey key;
    ASSERT_EQ(0, ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kFolders, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr));
    ASSERT_EQ(0, ::RegSetValueExA(key.get(), "Temp", 0, type, reinterpret_cast<const BYTE*>(folder.c_str()),
                                  static_cast<DWORD>(folder.size() + 1)));
}
inline void RemoveTempSetting()
{
    ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kFolders, "Temp");
    for (const char* key : {kFolders, "SOFTWARE\\Tolvi Labs\\TLVI9", "SOFTWARE\\Tolvi Labs"})
        ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
}

class ChainRunTest : public comtest::ComTest {
protected:
    void SetUp() override
    {
        ComTest::SetUp();
        SetTempSetting(m_dir.Folder() + "tmp");
        kittest::TempDir::Write(m_dir.Path(L"in.a"), "doc\n");
        m_gate.reset(::CreateEventW(nullptr, TRUE, FALSE, fakes::kGateName));
        ASSERT_TRUE(m_gate);
    }
    void TearDown() override
    {
        m_rec.OnEvent(nullptr);
        Uninstall();
        m_translator.Reset();
        RemoveTempSetting();
        ComTest::TearDown();
    }
    // Installs the fakes and loads both registries (a gate in a class factory
    // open), so that the journal holds only what a run does.
    void Install(const Behaviour& a2b = {}, const Behaviour& b2c = {}, const Behaviour& c2d = {})
    {
        Uninstall();
        ::SetEvent(m_gate.get());
        m_inst = std::make_unique<fakes::Installation>();
        m_inst->Converter("A2B", {1, "A", "a", "a"}, {2, "B", "b", "b"}, a2b)
            .Translator("B2C", {2, "B", "b", "b"}, {3, "C", "c", "c"}, b2c)
            .Converter("C2D", {3, "C", "c", "c"}, {4, "D", "d", "d"}, c2d)
            .Install();
        {
            ComPtr<ITolviFileConverter> converter;
            ComPtr<ITolviFileTranslator> translator;
            ASSERT_EQ(S_OK, vembro::g_Converters.CreateConverter(1, 2, &converter));
            ASSERT_EQ(S_OK, vembro::g_RealTranslators.CreateTranslator(2, 3, &translator));
        }
        ::ResetEvent(m_gate.get());
        m_inst->ClearJournal();
    }
    // Ends what a test, or a row of it, left: every fake must be released.
    void Uninstall()
    {
        ::SetEvent(m_gate.get());
        if (!m_inst)
            return;
        m_translator.Reset();
        EXPECT_TRUE(m_inst->WaitIdle());
        EXPECT_EQ(0, m_inst->LiveObjects());
        m_inst.reset();
    }
    // A chain translator over `chain` with the recording client connected.
    void Make(const vembro::CChain& chain)
    {
        m_translator.Reset();
        ASSERT_EQ(S_OK, vembro::CreateChainTranslator_nothrow(chain, &m_translator));
        m_rec.Clear();
        kittest::Advise(T(), IID_ITolviFileTranslatorEvents, kittest::MakeTranslatorSink(m_rec).Get());
    }
    ITolviFileTranslator* T() const { return m_translator.Get(); }
    // A run from in.a (or "doc\n" at 2 in m_source) to out.d (or m_target).
    HRESULT Run(Mode mode)
    {
        m_source = kittest::StreamOf("..doc\n");
        LARGE_INTEGER at{};
        at.QuadPart = 2;
        m_source->Seek(at, STREAM_SEEK_SET, nullptr);
        m_target = kittest::StreamOf("");
        ComPtr<ITolviFileTranslator2> t2;
        vembro::ThrowIfFailed(m_translator.As(&t2));
        const auto in = Bstr(m_dir.Folder() + "in.a"), out = Bstr(m_dir.Folder() + "out.d");
        IDispatch* d = m_direction.Get();
        switch (mode) {
        case Mode::AsyncFile: return T()->TranslateFile(d, in.get(), out.get(), Var::I4(77));
        case Mode::SyncFile_nothrow: return t2->SyncTranslateFile(d, in.get(), out.get(), Var::I4(77));
        case Mode::AsyncStream: return T()->TranslateStream(d, m_source.Get(), m_target.Get(), Var::I4(77));
        default: return t2->SyncTranslateStream(d, m_source.Get(), m_target.Get(), Var::I4(77));
        }
    }
    std::string Output(Mode mode)
    {
        return mode == Mode::AsyncFile || mode == Mode::SyncFile_nothrow ? kittest::TempDir::Read(m_dir.Path(L"out.d"))
                                                                 : kittest::ReadStream(m_target.Get());
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
    std::string Events() { return Joined(m_rec.Lines()); }
    void WaitIdle() { ASSERT_TRUE(m_inst->WaitIdle()); }
    bool WaitForCall(const std::string& part) const // polls: the fakes signal nothing
    {
        for (int i = 0; i < 1000 && m_inst->Journal(part).empty(); ++i)
            ::Sleep(10);
        return !m_inst->Journal(part).empty();
    }
    // The journal without destructions, whose moment depends on who holds what.
    Lines Calls() const
    {
        Lines calls = m_inst->Journal("");
        calls.erase(std::remove_if(calls.begin(), calls.end(),
                                   [](const std::string& c) { return c.find(".Destroy") != std::string::npos; }),
                    calls.end());
        return calls;
    }
    // The components the runs created, in order: "A2B B2C".
    std::string Created() const
    {
        std::string names;
        for (auto& line : m_inst->Journal(".Create"))
            names += (names.empty() ? "" : " ") + line.substr(0, line.find('.'));
        return names;
    }
    // The value of `key=` in the first journal line that contains `part`.
    std::string Argument(const std::string& part, const std::string& key) const
    {
        std::smatch m;
        for (auto& line : m_inst->Journal(part))
            if (std::regex_search(line, m, std::regex(key + "=([^,)]*)")))
                return m[1];
        return std::string();
    }
    Lines TempFiles() const { return m_dir.Names("tmp"); }

    TempSettingLock m_lock;
    kittest::TempDir m_dir;
    std::unique_ptr<fakes::Installation> m_inst;
    kittest::Recorder m_rec, m_deaf; // m_deaf: what the Direction object would hear
    ComPtr<ITolviFileTranslator> m_translator;
    ComPtr<ITolviFileTranslatorEvents> m_direction = kittest::MakeTranslatorSink(m_deaf);
    ComPtr<IStream> m_source, m_target;
    vembro::unique_handle m_gate;
};

} // namespace chaintest
