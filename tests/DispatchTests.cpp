// The object layer: the QueryInterface table and the wrappers (identity,
// references, a failed creation leaves nothing behind), and IDispatch served
// from the registered type library on a format object with fixed values:
// every member by name and by DISPID against its slot, the loader's failure
// and the retry, and the first use from several threads.
#include <windows.h>
#include <oleauto.h>
#include <oleidl.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "vembro/VembroDispatch.h"
#include "vembro/com/Object.h"
#include "vembro/com/Strings.h"
#include "vembro/Vembro.h"
#include "support/ComChecks.h"

using Microsoft::WRL::ComPtr;
using comtest::RefCount;

namespace {

struct Lifecycle {
    int constructed = 0, finalReleases = 0, destroyed = 0;
    HRESULT finalConstruct = S_OK;
} g_life;

// Two faces at different offsets, so that the table's pointer adjustment shows.
class Probe : public vembro::CComObjectRootEx, public IPersist, public IOleWindow {
public:
    static const vembro::QIEntry* QITable() noexcept
    {
        static const vembro::QIEntry table[] = {VEMBRO_QI(Probe, IPersist), VEMBRO_QI(Probe, IOleWindow), VEMBRO_QI_END};
        return table;
    }
    Probe() noexcept { ++g_life.constructed; }
    ~Probe() override { ++g_life.destroyed; }
    HRESULT FinalConstruct() noexcept { return g_life.finalConstruct; }
    void FinalRelease() noexcept { ++g_life.finalReleases; }
    STDMETHODIMP GetClassID(CLSID*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetWindow(HWND*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) noexcept override { return E_NOTIMPL; }
};

class ComSupport : public comtest::ComTest {
protected:
    void TearDown() override
    {
        EXPECT_EQ(g_life.constructed, g_life.destroyed);
        EXPECT_EQ(g_life.constructed, g_life.finalReleases);
        ComTest::TearDown();
    }
};

TEST_F(ComSupport, TableHandsOutAdjustedFacesWithOneReferenceEach)
{
    ComPtr<IPersist> persist;
    ASSERT_EQ(S_OK, (vembro::CreateAndQuery_nothrow<vembro::CComObjectNoLock<Probe>>(IID_PPV_ARGS(&persist), [](Probe& p) {
        EXPECT_EQ(1u, RefCount(static_cast<IPersist*>(&p))); // alive across the initialiser
        return S_OK;
    })));
    EXPECT_EQ(0, vembro::ModuleLockCount()); // the unlocked wrapper never takes it
    IOleWindow* const window = static_cast<IOleWindow*>(static_cast<Probe*>(persist.Get()));
    const struct { const IID* iid; HRESULT hr; void* face; } rows[] = {
        {&IID_IPersist, S_OK, persist.Get()}, {&IID_IOleWindow, S_OK, window},
        {&IID_IUnknown, S_OK, persist.Get()}, // the first entry's face
        {&IID_IDispatch, E_NOINTERFACE, nullptr}};
    for (IUnknown* from : {static_cast<IUnknown*>(persist.Get()), static_cast<IUnknown*>(window)}) {
        for (const auto& row : rows) {
            void* pv = comtest::kPoison;
            EXPECT_EQ(row.hr, from->QueryInterface(*row.iid, &pv));
            EXPECT_EQ(row.face, pv);
            EXPECT_EQ(row.face ? 2u : 1u, RefCount(persist.Get()));
            if (pv)
                static_cast<IUnknown*>(pv)->Release();
        }
    }
    persist.Reset();
    EXPECT_EQ(1, g_life.destroyed);
    EXPECT_EQ(nullptr, vembro::CopyBstr_nothrow(nullptr)); // a null string stays null, not empty
}

TEST_F(ComSupport, FailedCreationDestroysTheObjectAndGivesTheLockBack)
{
    const struct {
        const char* what;
        HRESULT finalConstruct, expected;
        IID iid;
        HRESULT (*init)(Probe&);
    } rows[] = {
        {"construction fails: no initialiser", E_ACCESSDENIED, E_ACCESSDENIED, IID_IPersist, [](Probe&) -> HRESULT { throw 1; }},
        {"initialiser fails", S_OK, E_INVALIDARG, IID_IPersist, [](Probe&) -> HRESULT { return E_INVALIDARG; }},
        {"initialiser throws a code", S_OK, E_ABORT, IID_IPersist, [](Probe&) -> HRESULT { vembro::ThrowHr(E_ABORT); }},
        {"out of memory", S_OK, E_OUTOFMEMORY, IID_IPersist, [](Probe&) -> HRESULT { throw std::bad_alloc(); }},
        {"anything else", S_OK, E_FAIL, IID_IPersist, [](Probe&) -> HRESULT { throw std::runtime_error("x"); }},
        {"interface not offered", S_OK, E_NOINTERFACE, IID_IDispatch, [](Probe&) -> HRESULT { return S_OK; }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        g_life = Lifecycle{};
        g_life.finalConstruct = row.finalConstruct;
        void* pv = comtest::kPoison;
        EXPECT_EQ(row.expected, vembro::CreateAndQuery_nothrow<vembro::CComObject<Probe>>(row.iid, &pv, row.init));
        EXPECT_EQ(nullptr, pv);
        EXPECT_EQ(1, g_life.destroyed);
        EXPECT_EQ(1, g_life.finalReleases);
        EXPECT_EQ(0, vembro::ModuleLockCount());
    }
}

constexpr LCID kEnglish = 0x0409;

class FixedFileFormat : public vembro::CComObjectRootEx, public vembro::VembroDispatch<ITolviFileFormat> {
public:
    static const vembro::QIEntry* QITable() noexcept
    {
        static const vembro::QIEntry table[] = {VEMBRO_QI(FixedFileFormat, ITolviFileFormat), VEMBRO_QI_END};
        return table;
    }
    STDMETHODIMP get_Name(BSTR* p) noexcept override { return Text(L"Rich Text Format", p); }
    STDMETHODIMP get_DefaultExtention(BSTR* p) noexcept override { return Text(L"rtf", p); }
    STDMETHODIMP get_Extentions(BSTR* p) noexcept override { return Text(L"rtf;wri", p); }
    STDMETHODIMP get_ID(short* p) noexcept override { return *p = 42, S_OK; }
    STDMETHODIMP get_IsComplex(VARIANT_BOOL* p) noexcept override { return *p = VARIANT_TRUE, S_OK; }

    static HRESULT Text(const wchar_t* value, BSTR* p) noexcept { return (*p = ::SysAllocString(value)) ? S_OK : E_OUTOFMEMORY; }
};

HRESULT RegisterLibrary()
{
    ComPtr<ITypeLib> lib;
    return ::LoadTypeLibEx(L"" VEMBRO_TLB_PATH, REGKIND_REGISTER, &lib);
}

class DispatchObject : public comtest::ComTest {
protected:
    void SetUp() override
    {
        ComTest::SetUp();
        // Start unregistered, under any locale, and with nothing cached, whatever ran before.
        vembro::TypeInfoHolder::ReleaseAll();
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"TypeLib\\" + vembro::GuidString(LIBID_VEMBROLib)).c_str());
        ASSERT_EQ(S_OK, (vembro::CreateAndQuery_nothrow<vembro::CComObject<FixedFileFormat>>(
                            IID_PPV_ARGS(&m_format), [](FixedFileFormat&) { return S_OK; })));
    }
    void TearDown() override
    {
        m_format.Reset();
        vembro::TypeInfoHolder::ReleaseAll();
        ::UnRegisterTypeLib(LIBID_VEMBROLib, 1, 0, kEnglish, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
        ComTest::TearDown();
    }
    HRESULT Invoke(DISPID id, VARIANT* result, REFIID riid = IID_NULL)
    {
        DISPPARAMS none{};
        return m_format->Invoke(id, riid, kEnglish, DISPATCH_PROPERTYGET, &none, result, nullptr, nullptr);
    }

    ComPtr<ITolviFileFormat> m_format;
};

TEST_F(DispatchObject, UnregisteredLibraryGivesTheLoadersErrorAndIsTriedAgain)
{
    ITypeInfo* info = comtest::Poisoned<ITypeInfo>();
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, m_format->GetTypeInfo(0, kEnglish, &info));
    EXPECT_EQ(nullptr, info);
    LPOLESTR name = const_cast<LPOLESTR>(L"Name");
    DISPID id = 0;
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, m_format->GetIDsOfNames(IID_NULL, &name, 1, kEnglish, &id));
    vembro::unique_variant result;
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, Invoke(0x60020000, &result));

    // The failure was not remembered: once registered, the next call loads,
    // also for a caller that asks for the neutral locale, as script engines do.
    ASSERT_EQ(S_OK, RegisterLibrary());
    EXPECT_EQ(S_OK, m_format->GetIDsOfNames(IID_NULL, &name, 1, LANG_NEUTRAL, &id));
    EXPECT_EQ(0x60020000, id);
}

TEST_F(DispatchObject, EveryMemberByNameAndByDispidEqualsItsSlot)
{
    ASSERT_EQ(S_OK, RegisterLibrary());
    using Slot = std::function<HRESULT(ITolviFileFormat*, VARIANT*)>;
    auto text = [](HRESULT (STDMETHODCALLTYPE ITolviFileFormat::*get)(BSTR*)) -> Slot {
        return [get](ITolviFileFormat* p, VARIANT* v) { return V_VT(v) = VT_BSTR, (p->*get)(&V_BSTR(v)); };
    };
    const struct { const wchar_t* name; DISPID id; Slot slot; } rows[] = {
        {L"Name", 0x60020000, text(&ITolviFileFormat::get_Name)},
        {L"DefaultExtention", 0x60020001, text(&ITolviFileFormat::get_DefaultExtention)},
        {L"Extentions", 0x60020002, text(&ITolviFileFormat::get_Extentions)},
        {L"ID", 0x60020003, [](ITolviFileFormat* p, VARIANT* v) { return V_VT(v) = VT_I2, p->get_ID(&V_I2(v)); }},
        {L"IsComplex", 0x60020004,
         [](ITolviFileFormat* p, VARIANT* v) { return V_VT(v) = VT_BOOL, p->get_IsComplex(&V_BOOL(v)); }},
        // Dispatch clients find the members only under the library's spellings.
        {L"DefaultExtension", DISPID_UNKNOWN, nullptr},
        {L"Extensions", DISPID_UNKNOWN, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(row.name)));
        LPOLESTR name = const_cast<LPOLESTR>(row.name);
        DISPID id = 0;
        EXPECT_EQ(row.slot ? S_OK : DISP_E_UNKNOWNNAME, m_format->GetIDsOfNames(IID_NULL, &name, 1, kEnglish, &id));
        EXPECT_EQ(row.id, id);
        if (!row.slot)
            continue;
        vembro::unique_variant direct, invoked;
        ASSERT_EQ(S_OK, row.slot(m_format.Get(), &direct));
        ASSERT_EQ(S_OK, Invoke(row.id, &invoked));
        ASSERT_EQ(V_VT(&direct), V_VT(&invoked));
        EXPECT_EQ(static_cast<HRESULT>(VARCMP_EQ), ::VarCmp(&direct, &invoked, kEnglish, 0));
    }
    // Members answer from 0x60020000 upward and to nothing else; only IID_NULL is served.
    for (DISPID id : {0, 1, 0x60020005}) {
        vembro::unique_variant result;
        EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Invoke(id, &result)) << id;
        EXPECT_EQ(VT_EMPTY, V_VT(&result));
    }
    vembro::unique_variant result;
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, Invoke(0x60020000, &result, IID_ITolviFileFormat));
    UINT count = 0;
    EXPECT_EQ(S_OK, m_format->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(1u, RefCount(m_format.Get())); // dispatching kept no reference
    EXPECT_EQ(1, vembro::ModuleLockCount());
}

// The first use of the cached description from several threads at once: all
// succeed with the one description, and the copies that lost the race are
// given back (its count ends where a single load leaves it).
TEST_F(DispatchObject, FirstUseFromSeveralThreadsSharesOneDescription)
{
    ASSERT_EQ(S_OK, RegisterLibrary());
    auto countAfterOneLoad = [&] {
        ComPtr<ITypeInfo> info;
        EXPECT_EQ(S_OK, m_format->GetTypeInfo(0, kEnglish, &info));
        const ULONG count = info ? RefCount(info.Get()) : 0;
        return info.Reset(), vembro::TypeInfoHolder::ReleaseAll(), count;
    };
    const ULONG single = countAfterOneLoad();
    for (int round = 0; round < 10; ++round) {
        HANDLE go = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ITypeInfo* got[6] = {};
        HRESULT hr[6] = {};
        std::vector<std::thread> threads;
        for (int i = 0; i < 6; ++i)
            threads.emplace_back([&, i] { ::WaitForSingleObject(go, INFINITE), hr[i] = m_format->GetTypeInfo(0, kEnglish, &got[i]); });
        ::SetEvent(go);
        for (int i = 0; i < 6; ++i) {
            threads[i].join();
            EXPECT_EQ(S_OK, hr[i]) << round;
            EXPECT_EQ(got[0], got[i]) << round;
        }
        for (ITypeInfo* info : got)
            info->Release();
        ::CloseHandle(go);
        vembro::TypeInfoHolder::ReleaseAll();
    }
    EXPECT_EQ(single, countAfterOneLoad());
}

} // namespace
