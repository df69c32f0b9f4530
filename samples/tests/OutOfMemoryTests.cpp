// Each kit call that allocates in its caller's thread, failed at each of its
// allocations in turn: it answers E_OUTOFMEMORY and loses nothing, and the
// host process lives on. Only the test's thread is failed: the workers run
// their conversions whole.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>
#include <new>

#include "Recorder.h"
#include "markdown/MarkdownConverter.h"
#include "pseudoloc/PseudoTranslator.h"
#include "support/Variants.h"
#include "vembro/kit/Module.h"

static thread_local long t_allowed = -1; // allocations before the one that fails; -1: none fails
static thread_local bool t_failed = false;

// The runtime's array and nothrow forms of new come through this one, so they fail alike.
void* operator new(std::size_t size)
{
    if (t_allowed == 0) {
        t_allowed = -1; // one failure: the clean-up after it may allocate again
        t_failed = true;
        throw std::bad_alloc();
    }
    t_allowed -= t_allowed > 0;
    void* p = std::malloc(size ? size : 1);
    return p ? p : throw std::bad_alloc();
}
#pragma GCC diagnostic ignored "-Wmismatched-new-delete" // free is what pairs with the malloc above
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {
using Microsoft::WRL::ComPtr;
using comtest::Var;

// What the calls are given, all made before any allocation fails.
struct Env {
    kittest::TempDir dir;
    ComPtr<ITolviFileConverter3> c;
    ComPtr<ITolviFileTranslator2> t;
    ComPtr<IStream> in = kittest::StreamOf("<p>Hi</p>"), out = kittest::StreamOf("");
    vembro::unique_bstr inFile = vembro::MakeBstr(dir.Path(L"in.htm").c_str()),
                        outFile = vembro::MakeBstr(dir.Path(L"out.htm").c_str()), text = vembro::MakeBstr(L"<p>Hi</p>");
    Var priority = Var::Str("PRIORITY"), expansion = Var::Str("EXPANSION"), one = Var::I4(1),
        stream = Var::Unknown(in.Get()), none = Var::Missing();
    void* got = nullptr; // a BSTR or an interface
};
void FreeText(void* p) { ::SysFreeString(static_cast<BSTR>(p)); }
void FreeObject(void* p) { static_cast<IUnknown*>(p)->Release(); }
template <class T> T** As(void*& out) { return reinterpret_cast<T**>(&out); }

const struct Row {
    const char* name;
    HRESULT (*call)(Env&);
    HRESULT result; // once no allocation fails
    void (*freeOut)(void*) = nullptr;
} kRows[] = {
    {"create", [](Env& e) { return vembro::kit::CreateComponent_nothrow<samples::CPseudoTranslator>(IID_IUnknown, As<void>(e.got)); }, S_OK, FreeObject},
    {"SourceFormat", [](Env& e) { return e.c->get_SourceFormat(As<ITolviFileFormat>(e.got)); }, S_OK, FreeObject},
    {"EnumConnectionPoints", [](Env& e) { ComPtr<IConnectionPointContainer> points;
        return e.t.As(&points), points->EnumConnectionPoints(As<IEnumConnectionPoints>(e.got)); }, S_OK, FreeObject},
    {"IsFormatAvailableFile", [](Env& e) { return e.c->IsFormatAvailableFile(e.inFile.get()); }, S_FALSE},
    {"IsFormatAvailableStream", [](Env& e) { return e.c->IsFormatAvailableStream(e.in.Get()); }, S_FALSE},
    {"IsFormatAvailableMemory", [](Env& e) { return e.c->IsFormatAvailableMemory(e.text.get()); }, S_FALSE},
    {"IsFormatAvailable", [](Env& e) { return e.t->IsFormatAvailable(e.stream, FILEDATATYPE_STREAM); }, S_OK},
    {"ConvertFile", [](Env& e) { return e.c->ConvertFile(e.inFile.get(), e.outFile.get(), e.none); }, S_OK},
    {"ConvertStream", [](Env& e) { return e.c->ConvertStream(e.in.Get(), e.out.Get(), e.none); }, S_OK},
    {"TranslateFile", [](Env& e) { return e.t->TranslateFile(nullptr, e.inFile.get(), e.outFile.get(), e.none); }, S_OK},
    {"TranslateStream", [](Env& e) { return e.t->TranslateStream(nullptr, e.in.Get(), e.out.Get(), e.none); }, S_OK},
    {"SyncConvertFile", [](Env& e) { return e.c->SyncConvertFile(e.inFile.get(), e.outFile.get(), e.none); }, S_OK},
    {"SyncConvertStream", [](Env& e) { return e.c->SyncConvertStream(e.in.Get(), e.out.Get(), e.none); }, S_OK},
    {"SyncTranslateFile", [](Env& e) { return e.t->SyncTranslateFile(nullptr, e.inFile.get(), e.outFile.get(), e.none); }, S_OK},
    {"SyncTranslateStream", [](Env& e) { return e.t->SyncTranslateStream(nullptr, e.in.Get(), e.out.Get(), e.none); }, S_OK},
    {"ConvertMemory", [](Env& e) { return e.c->ConvertMemory(e.text.get(), As<OLECHAR>(e.got)); }, S_OK, FreeText},
    {"TranslateText", [](Env& e) { return e.t->TranslateText(nullptr, e.text.get(), As<OLECHAR>(e.got)); }, S_OK, FreeText},
    {"put_Property", [](Env& e) { return e.t->put_Property(e.priority, e.one); }, S_OK},
};

class OutOfMemory : public comtest::ComTest {};
} // namespace

TEST_F(OutOfMemory, EachCallAnswersItAtEachOfItsAllocationsAndLosesNothing)
{
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        Env e;
        kittest::TempDir::Write(e.dir.Path(L"in.htm"), "<p>Hi</p>");
        ASSERT_EQ(S_OK, vembro::kit::CreateComponent_nothrow<samples::CMarkdownConverter>(IID_PPV_ARGS(&e.c)));
        ASSERT_EQ(S_OK, vembro::kit::CreateComponent_nothrow<samples::CPseudoTranslator>(IID_PPV_ARGS(&e.t)));
        ASSERT_EQ(S_OK, e.t->put_Property(e.expansion, e.one)); // the translations read it
        for (long n = 0; !HasFailure(); ++n) {
            e.got = comtest::kPoison;
            ASSERT_EQ(S_OK, e.in->Seek({}, STREAM_SEEK_SET, nullptr));
            t_failed = false;
            t_allowed = n;
            const HRESULT hr = row.call(e);
            t_allowed = -1;
            EXPECT_EQ(t_failed ? E_OUTOFMEMORY : row.result, hr) << "at allocation " << n;
            if (FAILED(hr)) {
                EXPECT_EQ(row.freeOut ? nullptr : comtest::kPoison, e.got) << n;
                EXPECT_EQ(std::vector<std::string>{"in.htm"}, e.dir.Names()) << n;
            } else if (row.freeOut) {
                row.freeOut(e.got);
            }
            LONG c = 0, t = 0; // a started run ends; the component of the other kind never runs (READY, 0)
            for (int i = 0; i < 2000 && (e.c->get_State(&c), e.t->get_State(&t), c == FTSTATE_CONVERT || t == FTSTATE_TRANSLATE); ++i)
                ::Sleep(5);
            EXPECT_TRUE(FAILED(hr) || std::max(c, t) == FTSTATE_READY || std::max(c, t) == FTSTATE_TRANSLATE_COMPLETE) << c << t;
            ::DeleteFileW(e.outFile.get());
            EXPECT_EQ(2u, comtest::RefCount(e.in.Get())) << n; // ours and the VARIANT's
            EXPECT_EQ(1u, comtest::RefCount(e.out.Get())) << n;
            if (!t_failed)
                break;
        }
    }
}
