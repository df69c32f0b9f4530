// The object layer: the QueryInterface table and the wrappers (identity, references, a failed creation leaves nothing
// behind), and IDispatch served from the registered type library on the format object: every member by name and by
// DISPID against its slot, the loader's failure and the retry, and the first use from several threads.
#include "vembro/FormatObject.h"
#include "vembro/com/Dispatch.h"
#include "vembro/com/Object.h"
#include "vembro/com/Strings.h"
#include "support/ComChecks.h"
#include "support/Variants.h"

using Microsoft::WRL::ComPtr;
using comtest::RefCount;

namespace {

int g_destroyed = 0;

// Two faces at different offsets, so that the table's pointer adjustment shows.
class Probe : public vembro::CComObjectRootEx, public IPersist, public IOleWindow {
public:
    static const vembro::QIEntry* QITable() noexcept
    {
        static const vembro::QIEntry table[] = {VEMBRO_QI(Probe, IPersist), VEMBRO_QI(Probe, IOleWindow), VEMBRO_QI_END};
        return table;
    }
    ~Probe() override { ++g_destroyed; }
    STDMETHODIMP GetClassID(CLSID*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetWindow(HWND*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) noexcept override { return E_NOTIMPL; }
};

using ComSupport = comtest::ComTest;

TEST_F(ComSupport, TableHandsOutAdjustedFacesWithOneReferenceEach)
{
    void* failed = comtest::kPoison; // a failed creation leaves nothing behind
    EXPECT_EQ(E_ABORT, vembro::CreateAndQuery_nothrow<vembro::CComObject<Probe>>(IID_IPersist, &failed, [](Probe&) { return E_ABORT; }));
    EXPECT_EQ(nullptr, failed);
    EXPECT_EQ(1, g_destroyed);
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
    EXPECT_EQ(2, g_destroyed);
    EXPECT_EQ(nullptr, vembro::CopyBstr_nothrow(nullptr)); // a null string stays null, not empty
}

constexpr LCID kEnglish = 0x0409;

class DispatchObject : public comtest::ComTest {
protected:
    void SetUp() override
    {
        ComTest::SetUp();
        // Start unregistered, under any locale, and with nothing cached, whatever ran before.
        vembro::TypeInfoHolder::ReleaseAll();
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"TypeLib\\" + vembro::GuidString(LIBID_VEMBROLib)).c_str());
        ASSERT_EQ(S_OK, vembro::CreateFormatObject_nothrow({42, comtest::Bstr("Rich Text Format").get(), L"rtf", L"rtf;wri", true}, &m_format));
    }
    void TearDown() override
    {
        m_format.Reset(), m_lib.Reset();
        vembro::TypeInfoHolder::ReleaseAll();
        ::UnRegisterTypeLib(LIBID_VEMBROLib, 1, 0, kEnglish, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
        ComTest::TearDown();
    }
    HRESULT Invoke(DISPID id, VARIANT* result)
    {
        DISPPARAMS none{};
        return m_format->Invoke(id, IID_NULL, kEnglish, DISPATCH_PROPERTYGET, &none, result, nullptr, nullptr);
    }
    HRESULT RegisterLibrary() { return ::LoadTypeLibEx(L"" VEMBRO_TLB_PATH, REGKIND_REGISTER, &m_lib); }

    ComPtr<ITolviFileFormat> m_format;
    ComPtr<ITypeLib> m_lib;
};

// An unregistered library gives the loader's error, which is not remembered: once registered, the next call loads.
// Each slot answers a value that no other slot gives, so a DISPID that reaches the wrong slot shows.
TEST_F(DispatchObject, EveryMemberByNameAndDispidEqualsItsSlotOnceRegisteredAndThreadsShareOneDescription)
{
    ITypeInfo* info = comtest::Poisoned<ITypeInfo>();
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, m_format->GetTypeInfo(0, kEnglish, &info));
    EXPECT_EQ(nullptr, info);
    ASSERT_EQ(S_OK, RegisterLibrary());
    const struct { const wchar_t* name; DISPID id; const char* value; } rows[] = {
        {L"Name", 0x60020000, "VT_BSTR:Rich Text Format"}, {L"DefaultExtention", 0x60020001, "VT_BSTR:rtf"},
        {L"Extentions", 0x60020002, "VT_BSTR:rtf;wri"}, {L"ID", 0x60020003, "VT_I2:42"}, {L"IsComplex", 0x60020004, "VT_BOOL:-1"},
        // Dispatch clients find the members only under the library's spellings,
        // and nothing answers outside the members' DISPIDs.
        {L"DefaultExtension", DISPID_UNKNOWN, "VT_EMPTY"}, {L"Extensions", DISPID_UNKNOWN, "VT_EMPTY"},
        {nullptr, 0, "VT_EMPTY"}, {nullptr, 1, "VT_EMPTY"}, {nullptr, 0x60020005, "VT_EMPTY"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.id);
        const bool member = std::string(row.value) != "VT_EMPTY";
        LPOLESTR name = const_cast<LPOLESTR>(row.name);
        DISPID id = 0;
        if (row.name) { // the first under the neutral locale, as script engines ask
            const LCID lcid = row.id == 0x60020000 ? LANG_NEUTRAL : kEnglish;
            EXPECT_EQ(member ? S_OK : DISP_E_UNKNOWNNAME, m_format->GetIDsOfNames(IID_NULL, &name, 1, lcid, &id));
            EXPECT_EQ(row.id, id);
        }
        comtest::Var result;
        EXPECT_EQ(member ? S_OK : DISP_E_MEMBERNOTFOUND, Invoke(row.id, &result));
        EXPECT_EQ(row.value, comtest::VariantText(result));
    }
    EXPECT_EQ(1u, RefCount(m_format.Get())); // dispatching kept no reference
    EXPECT_EQ(1, vembro::ModuleLockCount());

    // The first use of the cached description from several threads at once: all succeed with the one description,
    // and the copies that lost the race are given back (its count ends where a single load leaves it).
    vembro::TypeInfoHolder::ReleaseAll();
    auto countAfterOneLoad = [&] {
        ComPtr<ITypeInfo> info;
        EXPECT_EQ(S_OK, m_format->GetTypeInfo(0, kEnglish, &info));
        const ULONG count = info ? RefCount(info.Get()) : 0;
        return info.Reset(), vembro::TypeInfoHolder::ReleaseAll(), count;
    };
    const ULONG single = countAfterOneLoad();
    for (int round = 0; round < 10; ++round) {
        ComPtr<ITypeInfo> got[6];
        HRESULT hr[6] = {};
        comtest::RunTogether(6, [&](int i) { hr[i] = m_format->GetTypeInfo(0, kEnglish, &got[i]); });
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(S_OK, hr[i]) << round;
            EXPECT_EQ(got[0], got[i]) << round;
        }
        vembro::TypeInfoHolder::ReleaseAll();
    }
    EXPECT_EQ(single, countAfterOneLoad());
}

} // namespace
