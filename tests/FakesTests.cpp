// The fake components are the ground every system test stands on: these
// tests pin down what an installation writes, what the fakes answer, what
// they report and what the journal says about it.
#include <gtest/gtest.h>

#include <windows.h>
#include <comcat.h>
#include <olectl.h>
#include <wrl/client.h>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vembro/VembroDispatch.h"
#include "vembro/com/Object.h"
#include "vembro/com/Resource.h"
#include "support/Fakes.h"
#include "vembro/Vembro.h"

using Microsoft::WRL::ComPtr;
using fakes::Behaviour;
using fakes::Finish;
using fakes::Format;
using fakes::Installation;
using Lines = std::vector<std::string>;

namespace {

const Format kA{1, "A", "a", "a"};
const Format kB{2, "B", "b", "b;bb", true};
const Format kC{3, "C", "c", "c"};
constexpr wchar_t kCatalogue[] = L"Software\\Tolvi Labs\\Devevi9\\FTM\\Converters";
const std::string kMissing = "VT_ERROR:80020004";

// What a sink received, in order, and on which threads.
struct Recorder {
    vembro::CriticalSection cs;
    Lines events;
    std::vector<DWORD> threads;
    LONG volatile invokes = 0;
    // Called after a StateChange has been recorded, on the reporting thread.
    std::function<void(LONG)> onState;

    void Add(const std::string& e)
    {
        auto lock = cs.Lock();
        events.push_back(e);
        threads.push_back(::GetCurrentThreadId());
    }
    Lines Events()
    {
        auto lock = cs.Lock();
        return events;
    }
};

template <class Iface>
class SinkBase : public vembro::CComObjectRootEx, public vembro::VembroDispatch<Iface> {
public:
    static const vembro::QIEntry* QITable() noexcept
    {
        static const vembro::QIEntry table[] = {
            VEMBRO_QI(SinkBase, Iface),
            VEMBRO_QI_AS(SinkBase, IID_IDispatch, Iface),
            VEMBRO_QI_END,
        };
        return table;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argErr) noexcept override
    {
        ::InterlockedIncrement(&m_rec->invokes);
        return vembro::VembroDispatch<Iface>::Invoke(id, riid, lcid, flags, params, result, excep, argErr);
    }
    Recorder* m_rec = nullptr;
};

class ConverterSink : public SinkBase<ITolviFileConverterEvents> {
public:
    STDMETHODIMP ProgressChange(LONG p, LONG max) noexcept override
    {
        m_rec->Add("Progress(" + std::to_string(p) + "," + std::to_string(max) + ")");
        return S_OK;
    }
    STDMETHODIMP StateChange(LONG s) noexcept override
    {
        m_rec->Add("State(" + std::to_string(s) + ")");
        if (m_rec->onState)
            m_rec->onState(s);
        return S_OK;
    }
};

class TranslatorSink : public SinkBase<ITolviFileTranslatorEvents> {
public:
    STDMETHODIMP PropertyChange(VARIANT, VARIANT v) noexcept override
    {
        m_rec->Add("Property(" + std::to_string(V_VT(&v) == VT_I4 ? V_I4(&v) : -999) + ")");
        return S_OK;
    }
    STDMETHODIMP StateChange(LONG s) noexcept override
    {
        m_rec->Add("State(" + std::to_string(s) + ")");
        return S_OK;
    }
    STDMETHODIMP ProgressChange(LONG p, LONG max) noexcept override
    {
        m_rec->Add("Progress(" + std::to_string(p) + "," + std::to_string(max) + ")");
        return S_OK;
    }
};

template <class Sink>
ComPtr<IUnknown> MakeSink(Recorder& rec)
{
    vembro::CComObjectNoLock<Sink>* p = nullptr;
    EXPECT_EQ(S_OK, vembro::CComObjectNoLock<Sink>::CreateInstance(&p));
    ComPtr<IUnknown> sink;
    if (p) {
        p->m_rec = &rec;
        p->QueryInterface(IID_PPV_ARGS(&sink));
    }
    return sink;
}

// A file in the temporary folder, deleted at the end of the test.
class TempFile {
public:
    explicit TempFile(const std::string& content = std::string(), bool create = true)
    {
        wchar_t folder[MAX_PATH] = {}, name[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, folder);
        ::GetTempFileNameW(folder, L"fk", 0, name);
        m_path = name;
        if (create)
            Write(content);
        else
            ::DeleteFileW(m_path.c_str());
    }
    ~TempFile() { ::DeleteFileW(m_path.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    void Write(const std::string& content) const
    {
        vembro::unique_file f(::CreateFileW(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        ::WriteFile(f.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    }
    std::string Read() const
    {
        vembro::unique_file f(::CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                            nullptr));
        if (!f)
            return "<missing>";
        std::string data(4096, '\0');
        DWORD read = 0;
        ::ReadFile(f.get(), &data[0], static_cast<DWORD>(data.size()), &read, nullptr);
        data.resize(read);
        return data;
    }
    BSTR Bstr()
    {
        m_bstr = vembro::MakeBstr(m_path.c_str());
        return m_bstr.get();
    }
    std::string Name() const
    {
        char text[MAX_PATH] = {};
        ::WideCharToMultiByte(CP_ACP, 0, m_path.c_str(), -1, text, MAX_PATH, nullptr, nullptr);
        return text;
    }

private:
    std::wstring m_path;
    vembro::unique_bstr m_bstr;
};

ComPtr<IStream> MemoryStream(const std::string& content, ULONG position)
{
    ComPtr<IStream> s;
    EXPECT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, &s));
    ULONG written = 0;
    s->Write(content.data(), static_cast<ULONG>(content.size()), &written);
    LARGE_INTEGER to{};
    to.QuadPart = position;
    s->Seek(to, STREAM_SEEK_SET, nullptr);
    return s;
}

ULONGLONG Position(IStream* s)
{
    LARGE_INTEGER zero{};
    ULARGE_INTEGER pos{};
    s->Seek(zero, STREAM_SEEK_CUR, &pos);
    return pos.QuadPart;
}

std::string Content(IStream* s)
{
    LARGE_INTEGER zero{};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    std::string data(4096, '\0');
    ULONG read = 0;
    s->Read(&data[0], static_cast<ULONG>(data.size()), &read);
    data.resize(read);
    return data;
}

bool KeyExists(HKEY root, const std::wstring& path)
{
    vembro::unique_hkey key;
    return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::wstring DefaultValue(HKEY root, const std::wstring& path, const wchar_t* name = nullptr)
{
    wchar_t text[512] = {};
    DWORD size = sizeof text;
    if (::RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
        return L"<none>";
    return text;
}

std::vector<std::wstring> Subkeys(HKEY root, const std::wstring& path)
{
    std::vector<std::wstring> names;
    vembro::unique_hkey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return names;
    wchar_t name[256];
    for (DWORD i = 0; ::RegEnumKeyW(key.get(), i, name, 256) == ERROR_SUCCESS; ++i)
        names.push_back(name);
    return names;
}

std::vector<CLSID> TranslatorCategory()
{
    std::vector<CLSID> classes;
    ComPtr<ICatInformation> info;
    if (FAILED(::CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ICatInformation, reinterpret_cast<void**>(info.GetAddressOf()))))
        return classes;
    CATID catid = IID_ITolviFileTranslator2;
    ComPtr<IEnumCLSID> e;
    if (FAILED(info->EnumClassesOfCategories(1, &catid, static_cast<ULONG>(-1), nullptr, &e)))
        return classes;
    CLSID clsid;
    ULONG fetched = 0;
    while (e->Next(1, &clsid, &fetched) == S_OK)
        classes.push_back(clsid);
    return classes;
}

template <class I>
HRESULT Create(const Installation& inst, const std::string& name, ComPtr<I>& out)
{
    return ::CoCreateInstance(inst.ClsidOf(name), nullptr, CLSCTX_INPROC_SERVER, __uuidof(I),
                              reinterpret_cast<void**>(out.ReleaseAndGetAddressOf()));
}

HRESULT Advise(IUnknown* component, const IID& iid, IUnknown* sink, DWORD* cookie)
{
    ComPtr<IConnectionPointContainer> cpc;
    HRESULT hr = component->QueryInterface(IID_PPV_ARGS(&cpc));
    if (FAILED(hr))
        return hr;
    ComPtr<IConnectionPoint> cp;
    hr = cpc->FindConnectionPoint(iid, &cp);
    return FAILED(hr) ? hr : cp->Advise(sink, cookie);
}

HRESULT Unadvise(IUnknown* component, const IID& iid, DWORD cookie)
{
    ComPtr<IConnectionPointContainer> cpc;
    HRESULT hr = component->QueryInterface(IID_PPV_ARGS(&cpc));
    if (FAILED(hr))
        return hr;
    ComPtr<IConnectionPoint> cp;
    hr = cpc->FindConnectionPoint(iid, &cp);
    return FAILED(hr) ? hr : cp->Unadvise(cookie);
}

VARIANT Missing() { return vembro::MissingArgument(); }

VARIANT I4(LONG value)
{
    VARIANT v;
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return v;
}

class FakesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }
    void TearDown() override { ::CoUninitialize(); }
};

// ---------------------------------------------------------------------------
// Installation

TEST_F(FakesTest, InstallRegistersClassesCatalogueAndCategoryInDeclarationOrder)
{
    Installation inst;
    Behaviour byProgId;
    byProgId.progId = "Vembro.FakeB2A";
    inst.Converter("A2B", kA, kB).Converter("B2A", kB, kA, byProgId).Translator("B2C", kB, kC)
        .Translator("C2A", kC, kA).Install();

    std::wstring a2b = inst.ClsidStringOf("A2B");
    EXPECT_LT(a2b, inst.ClsidStringOf("B2A"));
    EXPECT_LT(inst.ClsidStringOf("B2A"), inst.ClsidStringOf("B2C"));
    EXPECT_LT(inst.ClsidStringOf("B2C"), inst.ClsidStringOf("C2A"));

    EXPECT_EQ(L"Both", DefaultValue(HKEY_CLASSES_ROOT, L"CLSID\\" + a2b + L"\\InprocServer32", L"ThreadingModel"));
    std::wstring server = DefaultValue(HKEY_CLASSES_ROOT, L"CLSID\\" + a2b + L"\\InprocServer32");
    EXPECT_NE(std::wstring::npos, server.find(L"fakecomponents.dll"));
    EXPECT_EQ(inst.ClsidStringOf("B2A"), DefaultValue(HKEY_CLASSES_ROOT, L"Vembro.FakeB2A\\CLSID"));

    EXPECT_EQ((std::vector<std::wstring>{L"Vembro.FakeB2A", a2b}), Subkeys(HKEY_LOCAL_MACHINE, kCatalogue));
    std::vector<CLSID> category = TranslatorCategory();
    ASSERT_EQ(2u, category.size());
    EXPECT_TRUE(::IsEqualCLSID(inst.ClsidOf("B2C"), category[0]));
    EXPECT_TRUE(::IsEqualCLSID(inst.ClsidOf("C2A"), category[1]));

    CLSID viaProgId{};
    EXPECT_EQ(S_OK, ::CLSIDFromProgID(L"Vembro.FakeB2A", &viaProgId));
    EXPECT_TRUE(::IsEqualCLSID(inst.ClsidOf("B2A"), viaProgId));
    ComPtr<ITolviFileTranslator> translator;
    EXPECT_EQ(S_OK, Create(inst, "C2A", translator));
}

bool TypeLibraryRegistered()
{
    ITypeLib* lib = nullptr;
    if (FAILED(::LoadRegTypeLib(LIBID_VEMBROLib, 1, 0, 0x409, &lib)))
        return false;
    lib->Release();
    return true;
}

TEST_F(FakesTest, DestructionRemovesEverythingItWrote)
{
    // What was there before the installation stays.
    bool vendorKeyBefore = KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Tolvi Labs");
    bool typeLibBefore = TypeLibraryRegistered();
    CLSID converter{}, translator{};
    {
        Installation inst;
        Behaviour byProgId;
        byProgId.progId = "Vembro.FakeGone";
        inst.Converter("A2B", kA, kB, byProgId).Translator("B2C", kB, kC).Install();
        converter = inst.ClsidOf("A2B");
        translator = inst.ClsidOf("B2C");
        EXPECT_TRUE(TypeLibraryRegistered());
    }
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kCatalogue));
    EXPECT_EQ(vendorKeyBefore, KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Tolvi Labs"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Vembro.FakeGone"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Vembro Tests"));
    EXPECT_TRUE(TranslatorCategory().empty());
    ComPtr<IUnknown> unk;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, ::CoCreateInstance(converter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                                      reinterpret_cast<void**>(unk.GetAddressOf())));
    EXPECT_EQ(REGDB_E_CLASSNOTREG, ::CoCreateInstance(translator, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                                      reinterpret_cast<void**>(unk.GetAddressOf())));
    EXPECT_EQ(typeLibBefore, TypeLibraryRegistered());
}

TEST_F(FakesTest, InstallRemovesWhatADeadTestLeftBehind)
{
    const std::wstring stale = L"CLSID\\{FA4E0005-7E57-4FA4-8000-00000000F4CE}";
    const std::wstring category = L"\\Implemented Categories\\{EAB6510A-A57F-46AB-9347-0970BF4DE763}";
    for (const std::wstring& path : {stale + category, std::wstring(kCatalogue) + L"\\Stale"}) {
        vembro::unique_hkey key;
        HKEY root = path.compare(0, 5, L"CLSID") == 0 ? HKEY_CLASSES_ROOT : HKEY_LOCAL_MACHINE;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                                   key.put(), nullptr));
    }
    ASSERT_EQ(1u, TranslatorCategory().size()); // the dead test's translator
    Installation inst;
    inst.Converter("A2B", kA, kB).Translator("B2C", kB, kC).Install();
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, stale));
    EXPECT_EQ((std::vector<std::wstring>{inst.ClsidStringOf("A2B")}), Subkeys(HKEY_LOCAL_MACHINE, kCatalogue));
    ASSERT_EQ(1u, TranslatorCategory().size());
    EXPECT_TRUE(::IsEqualCLSID(inst.ClsidOf("B2C"), TranslatorCategory()[0]));
}

TEST_F(FakesTest, EmptyInstallationHasAnEmptyCatalogueKey)
{
    Installation inst;
    inst.Install();
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kCatalogue));
    EXPECT_TRUE(Subkeys(HKEY_LOCAL_MACHINE, kCatalogue).empty());
}

TEST_F(FakesTest, WithoutCatalogueKeyWritesNoCatalogue)
{
    Installation inst;
    inst.Converter("A2B", kA, kB).WithoutCatalogueKey().Install();
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kCatalogue));
    ComPtr<ITolviFileConverter> c;
    EXPECT_EQ(S_OK, Create(inst, "A2B", c));
}

TEST_F(FakesTest, UnlistedFakesAreClassesOutsideCatalogueAndCategory)
{
    Installation inst;
    Behaviour unlisted;
    unlisted.unlisted = true;
    inst.Converter("A2B", kA, kB, unlisted).Translator("B2C", kB, kC, unlisted).Install();
    EXPECT_TRUE(Subkeys(HKEY_LOCAL_MACHINE, kCatalogue).empty());
    EXPECT_TRUE(TranslatorCategory().empty());
    ComPtr<ITolviFileConverter> c;
    EXPECT_EQ(S_OK, Create(inst, "A2B", c));
}

TEST_F(FakesTest, RawEntriesBuildProgIdChainsAndOddCatalogueNames)
{
    Installation inst;
    inst.Converter("A2B", kA, kB)
        .CatalogueEntry("Not.A.Class")
        .CatalogueEntry(std::string("Vembro.Old"))
        .ProgId("Vembro.New", "A2B")
        .CurVer("Vembro.Old", "Vembro.New")
        .CurVer("Vembro.Empty", "")
        .CurVerRaw("Vembro.Number", REG_DWORD, {1, 0, 0, 0})
        .Install();
    EXPECT_EQ((std::vector<std::wstring>{L"Not.A.Class", L"Vembro.Old", inst.ClsidStringOf("A2B")}),
              Subkeys(HKEY_LOCAL_MACHINE, kCatalogue));
    EXPECT_EQ(L"Vembro.New", DefaultValue(HKEY_CLASSES_ROOT, L"Vembro.Old\\CurVer"));
    EXPECT_EQ(L"", DefaultValue(HKEY_CLASSES_ROOT, L"Vembro.Empty\\CurVer"));
    DWORD type = 0;
    EXPECT_EQ(ERROR_SUCCESS, ::RegGetValueW(HKEY_CLASSES_ROOT, L"Vembro.Number\\CurVer", nullptr, RRF_RT_ANY, &type,
                                            nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    CLSID clsid{};
    EXPECT_EQ(S_OK, ::CLSIDFromProgID(L"Vembro.New", &clsid));
    EXPECT_TRUE(::IsEqualCLSID(inst.ClsidOf("A2B"), clsid));
}

TEST_F(FakesTest, UnknownOrRepeatedFakeNamesAreRefused)
{
    Installation inst;
    inst.Converter("A2B", kA, kB);
    EXPECT_THROW(inst.ClsidOf("nothing"), std::invalid_argument);
    EXPECT_THROW(inst.Translator("A2B", kB, kC), std::invalid_argument);
}

// ---------------------------------------------------------------------------
// Identity, formats and the journal

TEST_F(FakesTest, FormatsReportTheConfiguredRecord)
{
    Installation inst;
    inst.Translator("B2C", kB, kC).Install();
    ComPtr<ITolviFileTranslator> t;
    ASSERT_EQ(S_OK, Create(inst, "B2C", t));
    ComPtr<ITolviFileFormat> f;
    ASSERT_EQ(S_OK, t->get_SourceFormat(&f));
    short id = 0;
    VARIANT_BOOL complex = VARIANT_FALSE;
    vembro::unique_bstr name, def, exts;
    EXPECT_EQ(S_OK, f->get_ID(&id));
    EXPECT_EQ(S_OK, f->get_Name(name.put()));
    EXPECT_EQ(S_OK, f->get_DefaultExtention(def.put()));
    EXPECT_EQ(S_OK, f->get_Extentions(exts.put()));
    EXPECT_EQ(S_OK, f->get_IsComplex(&complex));
    EXPECT_EQ(2, id);
    EXPECT_STREQ(L"B", name.get());
    EXPECT_STREQ(L"b", def.get());
    EXPECT_STREQ(L"b;bb", exts.get());
    EXPECT_EQ(VARIANT_TRUE, complex);
    ComPtr<ITolviFileFormat> target;
    ASSERT_EQ(S_OK, t->get_TargetFormat(&target));
    EXPECT_EQ(S_OK, target->get_ID(&id));
    EXPECT_EQ(3, id);
}

TEST_F(FakesTest, JournalRecordsLifetimeAndCallsExactly)
{
    Installation inst;
    inst.Converter("A2B", kA, kB).Install();
    {
        ComPtr<ITolviFileConverter> c;
        ASSERT_EQ(S_OK, Create(inst, "A2B", c));
        ComPtr<ITolviFileFormat> f;
        c->get_SourceFormat(&f);
        c->get_TargetFormat(&f);
        vembro::unique_bstr file = vembro::MakeBstr(L"C:\\x.a");
        c->IsFormatAvailableFile(file.get());
        c->Stop(Missing());
    }
    EXPECT_EQ((Lines{"A2B.Create", "A2B.SourceFormat", "A2B.TargetFormat", "A2B.IsFormatAvailableFile(file=C:\\x.a)",
                     "A2B.Stop(info=" + kMissing + ")", "A2B.Destroy"}),
              inst.Journal());
    EXPECT_EQ((Lines{"A2B.Stop(info=" + kMissing + ")"}), inst.Journal(".Stop("));
    EXPECT_EQ(0, inst.LiveObjects());
    inst.ClearJournal();
    EXPECT_TRUE(inst.Journal().empty());
}

TEST_F(FakesTest, PropertiesAreJournalledStoredAndAnswered)
{
    Installation inst;
    inst.Translator("B2C", kB, kC).Install();
    ComPtr<ITolviFileTranslator> t;
    ASSERT_EQ(S_OK, Create(inst, "B2C", t));
    vembro::unique_variant name;
    V_VT(&name) = VT_BSTR;
    V_BSTR(&name) = vembro::MakeBstr(L"PRIORITY").release();
    EXPECT_EQ(S_OK, t->put_Property(name, I4(0)));
    vembro::unique_variant other;
    V_VT(&other) = VT_I2;
    V_I2(&other) = 7;
    EXPECT_EQ(S_OK, t->put_Property(other, Missing()));
    vembro::unique_variant value;
    V_VT(&value) = VT_I2;
    EXPECT_EQ(S_OK, t->get_Property(name, value.put()));
    EXPECT_EQ(VT_I4, V_VT(&value));
    EXPECT_EQ(0, V_I4(&value));
    vembro::unique_variant unknown;
    V_VT(&unknown) = VT_BSTR;
    V_BSTR(&unknown) = vembro::MakeBstr(L"NOPE").release();
    EXPECT_EQ(E_INVALIDARG, t->get_Property(unknown, value.put()));
    EXPECT_EQ(VT_EMPTY, V_VT(&value));
    EXPECT_EQ((Lines{"B2C.put_Property(PRIORITY=VT_I4:0)", "B2C.put_Property(VT_I2:7=" + kMissing + ")",
                     "B2C.get_Property(PRIORITY)", "B2C.get_Property(NOPE)"}),
              inst.Journal("Property"));
}

TEST_F(FakesTest, PropertyResultFailsBothWaysAfterJournalling)
{
    Installation inst;
    Behaviour b;
    b.propertyResult = E_ACCESSDENIED;
    inst.Converter("A2B", kA, kB, b).Install();
    ComPtr<ITolviFileConverter2> c;
    ASSERT_EQ(S_OK, Create(inst, "A2B", c));
    vembro::unique_variant value;
    V_VT(&value) = VT_I4;
    EXPECT_EQ(E_ACCESSDENIED, c->put_Property(I4(1), I4(2)));
    EXPECT_EQ(E_ACCESSDENIED, c->get_Property(I4(1), value.put()));
    EXPECT_EQ(VT_EMPTY, V_VT(&value));
    EXPECT_EQ((Lines{"A2B.put_Property(VT_I4:1=VT_I4:2)", "A2B.get_Property(VT_I4:1)"}), inst.Journal("Property"));
}

// ---------------------------------------------------------------------------
// Detection

TEST_F(FakesTest, FixedDetectionAnswersEveryProbe)
{
    Installation inst;
    Behaviour b;
    b.detect = E_UNEXPECTED;
    inst.Converter("A2B", kA, kB, b).Install();
    ComPtr<ITolviFileConverter> c;
    ASSERT_EQ(S_OK, Create(inst, "A2B", c));
    vembro::unique_bstr text = vembro::MakeBstr(L"anything");
    ComPtr<IStream> s = MemoryStream("0123456789", 4);
    EXPECT_EQ(E_UNEXPECTED, c->IsFormatAvailableFile(text.get()));
    EXPECT_EQ(E_UNEXPECTED, c->IsFormatAvailableMemory(text.get()));
    EXPECT_EQ(E_UNEXPECTED, c->IsFormatAvailableStream(s.Get()));
    EXPECT_EQ(10u, Position(s.Get())); // a probe moves the position, whatever it answers
    EXPECT_EQ((Lines{"A2B.IsFormatAvailableFile(file=anything)", "A2B.IsFormatAvailableMemory(text=anything)",
                     "A2B.IsFormatAvailableStream(stream=@4)"}),
              inst.Journal("IsFormat"));
}

TEST_F(FakesTest, ContentDetectionLooksAtFilesTextsAndStreams)
{
    Installation inst;
    Behaviour b;
    b.detectIfContains = "MAGIC";
    inst.Converter("A2B", kA, kB, b).Install();
    ComPtr<ITolviFileConverter> c;
    ASSERT_EQ(S_OK, Create(inst, "A2B", c));
    TempFile yes("xxMAGICxx"), no("plain");
    TempFile missing("", false);
    EXPECT_EQ(S_OK, c->IsFormatAvailableFile(yes.Bstr()));
    EXPECT_EQ(S_FALSE, c->IsFormatAvailableFile(no.Bstr()));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), c->IsFormatAvailableFile(missing.Bstr()));
    vembro::unique_bstr magic = vembro::MakeBstr(L"a MAGIC text"), plain = vembro::MakeBstr(L"a text");
    EXPECT_EQ(S_OK, c->IsFormatAvailableMemory(magic.get()));
    EXPECT_EQ(S_FALSE, c->IsFormatAvailableMemory(plain.get()));
    // Only what lies after the current position is looked at.
    ComPtr<IStream> after = MemoryStream("MAGIC and more", 0), before = MemoryStream("MAGIC and more", 2);
    EXPECT_EQ(S_OK, c->IsFormatAvailableStream(after.Get()));
    EXPECT_EQ(S_FALSE, c->IsFormatAvailableStream(before.Get()));
    EXPECT_EQ(E_POINTER, c->IsFormatAvailableStream(nullptr));
}

TEST_F(FakesTest, TranslatorDetectionTakesTheDataByItsType)
{
    Installation inst;
    Behaviour b;
    b.detectIfContains = "MAGIC";
    inst.Translator("B2C", kB, kC, b).Install();
    ComPtr<ITolviFileTranslator> t;
    ASSERT_EQ(S_OK, Create(inst, "B2C", t));
    TempFile file("MAGIC");
    vembro::unique_variant name;
    V_VT(&name) = VT_BSTR;
    V_BSTR(&name) = vembro::MakeBstr(file.Bstr()).release();
    EXPECT_EQ(S_OK, t->IsFormatAvailable(name, FILEDATATYPE_FILENAME));
    EXPECT_EQ(S_FALSE, t->IsFormatAvailable(name, FILEDATATYPE_TEXT)); // the name is not the content
    EXPECT_EQ(E_INVALIDARG, t->IsFormatAvailable(name, FILEDATATYPE_STREAM));
    EXPECT_EQ(E_INVALIDARG, t->IsFormatAvailable(name, static_cast<tagFILEDATATYPE>(3)));
    VARIANT byRef;
    V_VT(&byRef) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&byRef) = &V_BSTR(&name);
    EXPECT_EQ(S_OK, t->IsFormatAvailable(byRef, FILEDATATYPE_FILENAME));
    ComPtr<IStream> s = MemoryStream("xMAGIC", 1);
    VARIANT stream;
    V_VT(&stream) = VT_UNKNOWN;
    V_UNKNOWN(&stream) = s.Get();
    EXPECT_EQ(S_OK, t->IsFormatAvailable(stream, FILEDATATYPE_STREAM));
    EXPECT_EQ(6u, Position(s.Get()));
    EXPECT_EQ((Lines{"B2C.IsFormatAvailable(data=VT_BSTR:" + file.Name() + ", type=0)",
                     "B2C.IsFormatAvailable(data=VT_BSTR:" + file.Name() + ", type=2)",
                     "B2C.IsFormatAvailable(data=VT_BSTR:" + file.Name() + ", type=1)",
                     "B2C.IsFormatAvailable(data=VT_BSTR:" + file.Name() + ", type=3)",
                     "B2C.IsFormatAvailable(data=VT_BYREF|VT_BSTR:" + file.Name() + ", type=0)",
                     "B2C.IsFormatAvailable(data=VT_UNKNOWN:@1, type=1)"}),
              inst.Journal("IsFormat"));
}
// ---------------------------------------------------------------------------
// Runs and reports

// One converter with a sink connected, ready to run.
struct ConverterRun {
    ConverterRun(const Behaviour& b)
    {
        inst.Converter("A2B", kA, kB, b).Install();
        EXPECT_EQ(S_OK, Create(inst, "A2B", converter));
        sink = MakeSink<ConverterSink>(rec);
        EXPECT_EQ(S_OK, Advise(converter.Get(), IID_ITolviFileConverterEvents, sink.Get(), &cookie));
    }
    ~ConverterRun()
    {
        inst.WaitIdle();
        if (converter)
            Unadvise(converter.Get(), IID_ITolviFileConverterEvents, cookie);
    }
    Installation inst;
    ComPtr<ITolviFileConverter> converter;
    Recorder rec;
    ComPtr<IUnknown> sink;
    DWORD cookie = 0;
};

TEST_F(FakesTest, InlineRunCopiesAndReportsBeforeReturning)
{
    Behaviour b;
    b.progress = {{1, 2}, {2, 2}};
    ConverterRun run(b);
    TempFile in("doc\n"), out("poison");
    EXPECT_EQ(S_OK, run.converter->ConvertFile(in.Bstr(), out.Bstr(), Missing()));
    EXPECT_EQ((Lines{"Progress(1,2)", "Progress(2,2)", "State(5)"}), run.rec.Events());
    EXPECT_EQ(std::vector<DWORD>(3, ::GetCurrentThreadId()), run.rec.threads);
    EXPECT_EQ("doc\n[A2B]\n", out.Read());
    EXPECT_EQ(0, run.rec.invokes);
    EXPECT_EQ((Lines{"A2B.Create", "A2B.Advise(cookie=1)",
                     "A2B.ConvertFile(in=" + in.Name() + ", out=" + out.Name() + ", info=" + kMissing + ")",
                     "A2B>ProgressChange(1,2)", "A2B>ProgressChange(2,2)", "A2B>StateChange(5)"}),
              run.inst.Trace());
    LONG state = -1;
    EXPECT_EQ(S_OK, run.converter->get_State(&state));
    EXPECT_EQ(FTSTATE_TRANSLATE_COMPLETE, state);
}

TEST_F(FakesTest, WorkerRunReportsFromAnotherThread)
{
    Behaviour b;
    b.worker = true;
    b.finish = Finish::Ready;
    b.progress = {{30, 60}};
    ConverterRun run(b);
    TempFile in("doc\n"), out("poison");
    EXPECT_EQ(S_OK, run.converter->ConvertFile(in.Bstr(), out.Bstr(), I4(9)));
    ASSERT_TRUE(run.inst.WaitIdle(5000));
    EXPECT_EQ((Lines{"Progress(30,60)", "State(0)"}), run.rec.Events());
    ASSERT_EQ(2u, run.rec.threads.size());
    EXPECT_NE(::GetCurrentThreadId(), run.rec.threads[0]);
    EXPECT_EQ("doc\n[A2B]\n", out.Read());
    EXPECT_EQ((Lines{"A2B.ConvertFile(in=" + in.Name() + ", out=" + out.Name() + ", info=VT_I4:9)"}),
              run.inst.Journal(".Convert"));
}

TEST_F(FakesTest, WaitIdleCoversWorkStartedFromInsideAReport)
{
    // As a chain does: the next step starts from the previous step's report.
    Behaviour b;
    b.worker = true;
    ConverterRun run(b);
    ComPtr<ITolviFileConverter> next;
    ASSERT_EQ(S_OK, Create(run.inst, "A2B", next));
    TempFile in("doc\n"), middle, out("poison");
    BSTR middleName = middle.Bstr(), outName = out.Bstr();
    run.rec.onState = [&](LONG state) {
        if (state == FTSTATE_TRANSLATE_COMPLETE) {
            ::Sleep(50);
            next->ConvertFile(middleName, outName, Missing());
        }
    };
    EXPECT_EQ(S_OK, run.converter->ConvertFile(in.Bstr(), middleName, Missing()));
    ASSERT_TRUE(run.inst.WaitIdle(5000));
    EXPECT_EQ("doc\n[A2B]\n[A2B]\n", out.Read());
    run.rec.onState = nullptr;
}

TEST_F(FakesTest, ConcurrentWorkersKeepTheJournalWhole)
{
    Installation inst;
    Behaviour b;
    b.worker = true;
    for (LONG i = 1; i <= 20; ++i)
        b.progress.emplace_back(i, 20);
    inst.Converter("A2B", kA, kB, b).Install();
    constexpr int kRuns = 8;
    std::vector<ComPtr<ITolviFileConverter>> converters(kRuns);
    std::vector<std::unique_ptr<TempFile>> outs;
    TempFile in("doc\n");
    for (auto& c : converters) {
        ASSERT_EQ(S_OK, Create(inst, "A2B", c));
        outs.push_back(std::make_unique<TempFile>());
        EXPECT_EQ(S_OK, c->ConvertFile(in.Bstr(), outs.back()->Bstr(), Missing()));
    }
    converters.clear();
    ASSERT_TRUE(inst.WaitIdle(10000));
    Lines trace = inst.Trace();
    auto count = [&](const std::string& part) {
        return std::count_if(trace.begin(), trace.end(),
                             [&](const std::string& l) { return l.find(part) != std::string::npos; });
    };
    EXPECT_EQ(kRuns * 20, count("A2B>ProgressChange("));
    EXPECT_EQ(kRuns, count("A2B>StateChange(5)"));
    EXPECT_EQ(static_cast<size_t>(kRuns), inst.Journal("A2B.Destroy").size());
    for (const auto& out : outs)
        EXPECT_EQ("doc\n[A2B]\n", out->Read());
    EXPECT_EQ(0, inst.LiveObjects());
}

TEST_F(FakesTest, WorkerKeepsTheComponentAliveUntilItHasReported)
{
    Behaviour b;
    b.worker = true;
    Installation inst;
    inst.Converter("A2B", kA, kB, b).Install();
    TempFile in("doc\n"), out;
    {
        ComPtr<ITolviFileConverter> c;
        ASSERT_EQ(S_OK, Create(inst, "A2B", c));
        EXPECT_EQ(S_OK, c->ConvertFile(in.Bstr(), out.Bstr(), Missing()));
    }
    ASSERT_TRUE(inst.WaitIdle(5000));
    EXPECT_EQ("doc\n[A2B]\n", out.Read());
    EXPECT_EQ(0, inst.LiveObjects());
    Lines trace = inst.Trace();
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ("A2B.Destroy", trace.back());
}

TEST_F(FakesTest, DispatchEventsGoThroughInvoke)
{
    Behaviour b;
    b.dispatchEvents = true;
    b.progress = {{5, 10}};
    ConverterRun run(b);
    TempFile in("doc\n"), out;
    EXPECT_EQ(S_OK, run.converter->ConvertFile(in.Bstr(), out.Bstr(), Missing()));
    EXPECT_EQ((Lines{"Progress(5,10)", "State(5)"}), run.rec.Events());
    EXPECT_EQ(2, run.rec.invokes);
}

TEST_F(FakesTest, TranslatorEventsUseTheirOwnDispids)
{
    Installation inst;
    Behaviour b;
    b.dispatchEvents = true;
    b.propertyEvents = true;
    b.progress = {{1, 4}};
    inst.Translator("B2C", kB, kC, b).Install();
    ComPtr<ITolviFileTranslator> t;
    ASSERT_EQ(S_OK, Create(inst, "B2C", t));
    Recorder rec;
    ComPtr<IUnknown> sink = MakeSink<TranslatorSink>(rec);
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, Advise(t.Get(), IID_ITolviFileTranslatorEvents, sink.Get(), &cookie));
    EXPECT_EQ(S_OK, t->put_Property(I4(1), I4(42)));
    TempFile in("doc\n"), out;
    EXPECT_EQ(S_OK, t->TranslateFile(nullptr, in.Bstr(), out.Bstr(), Missing()));
    EXPECT_EQ((Lines{"Property(42)", "Progress(1,4)", "State(5)"}), rec.Events());
    EXPECT_EQ(3, rec.invokes);
    EXPECT_EQ(S_OK, Unadvise(t.Get(), IID_ITolviFileTranslatorEvents, cookie));
}

TEST_F(FakesTest, SeveralSinksAreCalledInAdviseOrder)
{
    ConverterRun run(Behaviour{});
    Recorder second;
    ComPtr<IUnknown> sink2 = MakeSink<ConverterSink>(second);
    DWORD cookie2 = 0;
    ASSERT_EQ(S_OK, Advise(run.converter.Get(), IID_ITolviFileConverterEvents, sink2.Get(), &cookie2));
    EXPECT_EQ(2u, cookie2);
    TempFile in("doc\n"), out;
    EXPECT_EQ(S_OK, run.converter->ConvertFile(in.Bstr(), out.Bstr(), Missing()));
    EXPECT_EQ((Lines{"State(5)"}), run.rec.Events());
    EXPECT_EQ((Lines{"State(5)"}), second.Events());
    EXPECT_EQ(S_OK, Unadvise(run.converter.Get(), IID_ITolviFileConverterEvents, cookie2));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, Unadvise(run.converter.Get(), IID_ITolviFileConverterEvents, cookie2));
}

TEST_F(FakesTest, TestsCanCountLiveObjectsAndMakeThemReport)
{
    ConverterRun run(Behaviour{});
    ComPtr<ITolviFileConverter> second;
    ASSERT_EQ(S_OK, Create(run.inst, "A2B", second));
    EXPECT_EQ(2, run.inst.LiveInstances("A2B"));
    EXPECT_EQ(0, run.inst.LiveInstances("B2C"));
    // Both objects report; only the first has a sink.
    EXPECT_EQ(2, run.inst.Report("A2B", FTSTATE_SUSPEND));
    EXPECT_EQ(2, run.inst.ReportProgress("A2B", 3, 4));
    EXPECT_EQ((Lines{"State(3)", "Progress(3,4)"}), run.rec.Events());
    LONG state = 0;
    EXPECT_EQ(S_OK, second->get_State(&state));
    EXPECT_EQ(FTSTATE_SUSPEND, state);
    second.Reset();
    EXPECT_EQ(1, run.inst.LiveInstances("A2B"));
    EXPECT_EQ(0, run.inst.Report("nothing", 5));
}

TEST_F(FakesTest, ConnectionPointAcceptsOnlyItsEventInterface)
{
    Installation inst;
    inst.Converter("A2B", kA, kB).Install();
    ComPtr<ITolviFileConverter> c;
    ASSERT_EQ(S_OK, Create(inst, "A2B", c));
    Recorder rec;
    ComPtr<IUnknown> wrongSink = MakeSink<TranslatorSink>(rec);
    DWORD cookie = 7;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, Advise(c.Get(), IID_ITolviFileConverterEvents, wrongSink.Get(), &cookie));
    EXPECT_EQ(0u, cookie);
    EXPECT_EQ(CONNECT_E_NOCONNECTION, Advise(c.Get(), IID_ITolviFileTranslatorEvents, wrongSink.Get(), &cookie));
}

TEST_F(FakesTest, StreamRunCopiesFromThePositionAndJournalsPositions)
{
    ConverterRun run(Behaviour{});
    ComPtr<IStream> in = MemoryStream("skip|doc\n", 5), out = MemoryStream("", 0);
    EXPECT_EQ(S_OK, run.converter->ConvertStream(in.Get(), out.Get(), Missing()));
    EXPECT_EQ("doc\n[A2B]\n", Content(out.Get()));
    EXPECT_EQ((Lines{"A2B.ConvertStream(in=@5, out=@0, info=" + kMissing + ")"}), run.inst.Journal(".Convert"));
    EXPECT_EQ(E_POINTER, run.converter->ConvertStream(nullptr, out.Get(), Missing()));
}

TEST_F(FakesTest, UnreadableInputEndsInError)
{
    Installation inst;
    inst.Translator("B2C", kB, kC).Install();
    ComPtr<ITolviFileTranslator> t;
    ASSERT_EQ(S_OK, Create(inst, "B2C", t));
    TempFile missing("", false), out("poison");
    EXPECT_EQ(S_OK, t->TranslateFile(nullptr, missing.Bstr(), out.Bstr(), Missing()));
    LONG error = 0, state = 0;
    EXPECT_EQ(S_OK, t->get_Error(&error));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), error);
    EXPECT_EQ(S_OK, t->get_State(&state));
    EXPECT_EQ(FTSTATE_ERROR, state);
    EXPECT_EQ("poison", out.Read());
}

TEST_F(FakesTest, FinishStatesAreReportedAsConfigured)
{
    const std::pair<Finish, Lines> cases[] = {
        {Finish::Complete, {"State(5)"}}, {Finish::Ready, {"State(0)"}},   {Finish::Error, {"State(6)"}},
        {Finish::Stopped, {"State(4)"}},  {Finish::Suspend, {"State(3)"}}, {Finish::Nothing, {}},
    };
    for (const auto& c : cases) {
        Behaviour b;
        b.finish = c.first;
        ConverterRun run(b);
        TempFile in("doc\n"), out("poison");
        EXPECT_EQ(S_OK, run.converter->ConvertFile(in.Bstr(), out.Bstr(), Missing()));
        EXPECT_EQ(c.second, run.rec.Events()) << static_cast<int>(c.first);
        bool completes = c.first == Finish::Complete || c.first == Finish::Ready;
        EXPECT_EQ(completes ? "doc\n[A2B]\n" : "poison", out.Read()) << static_cast<int>(c.first);
    }
}

TEST_F(FakesTest, TranslatorErrorCarriesTheConfiguredCode)
{
    Installation inst;
    Behaviour b;
    b.finish = Finish::Error;
    b.errorCode = E_ACCESSDENIED;
    inst.Translator("B2C", kB, kC, b).Install();
    ComPtr<ITolviFileTranslator> t;
    ASSERT_EQ(S_OK, Create(inst, "B2C", t));
    inst.ClearJournal();
    LONG error = -1;
    EXPECT_EQ(S_OK, t->get_Error(&error));
    EXPECT_EQ(S_OK, error);
    TempFile in("doc\n"), out;
    EXPECT_EQ(S_OK, t->TranslateFile(nullptr, in.Bstr(), out.Bstr(), Missing()));
    EXPECT_EQ(S_OK, t->get_Error(&error));
    EXPECT_EQ(E_ACCESSDENIED, error);
    EXPECT_EQ((Lines{"B2C.Error",
                     "B2C.TranslateFile(direction=null, in=" + in.Name() + ", out=" + out.Name() + ", info=" +
                         kMissing + ")",
                     "B2C>StateChange(6)", "B2C.Error"}),
              inst.Trace());
}
TEST_F(FakesTest, StopReportsStoppedAndAnswersStopResult)
{
    Behaviour b;
    b.finish = Finish::Suspend;
    b.stopResult = S_FALSE;
    ConverterRun run(b);
    TempFile in("doc\n"), out;
    EXPECT_EQ(S_OK, run.converter->ConvertFile(in.Bstr(), out.Bstr(), Missing()));
    EXPECT_EQ(S_FALSE, run.converter->Stop(I4(3)));
    EXPECT_EQ((Lines{"State(3)", "State(4)"}), run.rec.Events());
    EXPECT_EQ((Lines{"A2B.Stop(info=VT_I4:3)"}), run.inst.Journal(".Stop"));
}

TEST_F(FakesTest, WorkerStopReportsFromAnotherThread)
{
    Behaviour b;
    b.worker = true;
    b.finish = Finish::Nothing;
    ConverterRun run(b);
    TempFile in("doc\n"), out("poison");
    EXPECT_EQ(S_OK, run.converter->ConvertFile(in.Bstr(), out.Bstr(), Missing()));
    ASSERT_TRUE(run.inst.WaitIdle(5000));
    EXPECT_TRUE(run.rec.Events().empty());
    EXPECT_EQ(S_OK, run.converter->Stop(Missing()));
    ASSERT_TRUE(run.inst.WaitIdle(5000));
    EXPECT_EQ((Lines{"State(4)"}), run.rec.Events());
    EXPECT_NE(::GetCurrentThreadId(), run.rec.threads.at(0));
    EXPECT_EQ("poison", out.Read());
}

TEST_F(FakesTest, FailingStopReportsNothing)
{
    Behaviour b;
    b.stopResult = E_ACCESSDENIED;
    ConverterRun run(b);
    EXPECT_EQ(E_ACCESSDENIED, run.converter->Stop(Missing()));
    EXPECT_TRUE(run.rec.Events().empty());
}

TEST_F(FakesTest, StartResultDecidesWhetherTheRunStarts)
{
    {
        Behaviour b;
        b.startResult = E_ACCESSDENIED;
        ConverterRun run(b);
        TempFile in("doc\n"), out("poison");
        EXPECT_EQ(E_ACCESSDENIED, run.converter->ConvertFile(in.Bstr(), out.Bstr(), Missing()));
        EXPECT_TRUE(run.rec.Events().empty());
        EXPECT_EQ("poison", out.Read());
    }
    {
        Behaviour b;
        b.startResult = S_FALSE;
        ConverterRun run(b);
        TempFile in("doc\n"), out("poison");
        EXPECT_EQ(S_FALSE, run.converter->ConvertFile(in.Bstr(), out.Bstr(), Missing()));
        EXPECT_EQ((Lines{"State(5)"}), run.rec.Events());
        EXPECT_EQ("doc\n[A2B]\n", out.Read());
    }
}

TEST_F(FakesTest, NullFileNamesAreRefused)
{
    ConverterRun run(Behaviour{});
    TempFile in("doc\n");
    EXPECT_EQ(E_POINTER, run.converter->ConvertFile(in.Bstr(), nullptr, Missing()));
    EXPECT_EQ((Lines{"A2B.ConvertFile(in=" + in.Name() + ", out=<null>, info=" + kMissing + ")"}),
              run.inst.Journal(".Convert"));
    EXPECT_TRUE(run.rec.Events().empty());
}

TEST_F(FakesTest, CreateResultFailsTheClassFactory)
{
    Installation inst;
    Behaviour b;
    b.createResult = E_OUTOFMEMORY;
    inst.Converter("A2B", kA, kB, b).Install();
    ComPtr<ITolviFileConverter> c;
    EXPECT_EQ(E_OUTOFMEMORY, Create(inst, "A2B", c));
    EXPECT_EQ(nullptr, c.Get());
    EXPECT_EQ((Lines{"A2B.Create"}), inst.Journal());
    EXPECT_EQ(0, inst.LiveObjects());
}

TEST_F(FakesTest, FormatFailuresAreConfigurable)
{
    Installation inst;
    Behaviour failing, nullSource;
    failing.sourceFormatResult = E_UNEXPECTED;
    failing.targetFormatResult = E_ACCESSDENIED;
    nullSource.nullSourceFormat = true;
    inst.Converter("A2B", kA, kB, failing).Translator("B2C", kB, kC, nullSource).Install();
    ComPtr<ITolviFileConverter> c;
    ComPtr<ITolviFileTranslator> t;
    ASSERT_EQ(S_OK, Create(inst, "A2B", c));
    ASSERT_EQ(S_OK, Create(inst, "B2C", t));
    ITolviFileFormat* poisoned = reinterpret_cast<ITolviFileFormat*>(1);
    EXPECT_EQ(E_UNEXPECTED, c->get_SourceFormat(&poisoned));
    EXPECT_EQ(nullptr, poisoned);
    poisoned = reinterpret_cast<ITolviFileFormat*>(1);
    EXPECT_EQ(E_ACCESSDENIED, c->get_TargetFormat(&poisoned));
    EXPECT_EQ(nullptr, poisoned);
    poisoned = reinterpret_cast<ITolviFileFormat*>(1);
    EXPECT_EQ(S_OK, t->get_SourceFormat(&poisoned));
    EXPECT_EQ(nullptr, poisoned);
    ComPtr<ITolviFileFormat> target;
    EXPECT_EQ(S_OK, t->get_TargetFormat(&target));
    EXPECT_NE(nullptr, target.Get());
}

TEST_F(FakesTest, OfferedInterfacesFollowNoSyncAndNoEvents)
{
    Installation inst;
    Behaviour none;
    none.noSync = true;
    none.noEvents = true;
    inst.Converter("Full", kA, kB).Converter("Bare", kA, kB, none).Translator("FullT", kB, kC)
        .Translator("BareT", kB, kC, none).Install();
    ComPtr<IUnknown> full, bare, fullT, bareT;
    ASSERT_EQ(S_OK, Create(inst, "Full", full));
    ASSERT_EQ(S_OK, Create(inst, "Bare", bare));
    ASSERT_EQ(S_OK, Create(inst, "FullT", fullT));
    ASSERT_EQ(S_OK, Create(inst, "BareT", bareT));
    ComPtr<IUnknown> face;
    EXPECT_EQ(S_OK, full->QueryInterface(IID_ITolviFileConverter3, &face));
    EXPECT_EQ(S_OK, full->QueryInterface(IID_IConnectionPointContainer, &face));
    EXPECT_EQ(E_NOINTERFACE, bare->QueryInterface(IID_ITolviFileConverter3, &face));
    EXPECT_EQ(E_NOINTERFACE, bare->QueryInterface(IID_IConnectionPointContainer, &face));
    EXPECT_EQ(S_OK, bare->QueryInterface(IID_ITolviFileConverter2, &face));
    EXPECT_EQ(S_OK, bare->QueryInterface(IID_IDispatch, &face));
    EXPECT_EQ(S_OK, fullT->QueryInterface(IID_ITolviFileTranslator2, &face));
    EXPECT_EQ(S_OK, fullT->QueryInterface(IID_IConnectionPointContainer, &face));
    EXPECT_EQ(E_NOINTERFACE, fullT->QueryInterface(IID_ITolviFileTranslator3, &face));
    EXPECT_EQ(E_NOINTERFACE, bareT->QueryInterface(IID_ITolviFileTranslator2, &face));
    EXPECT_EQ(E_NOINTERFACE, bareT->QueryInterface(IID_IConnectionPointContainer, &face));
    EXPECT_EQ(S_OK, bareT->QueryInterface(IID_ITolviFileTranslator, &face));
    EXPECT_EQ(E_NOINTERFACE, fullT->QueryInterface(IID_ITolviFileConverter, &face));
}

TEST_F(FakesTest, DispatchIsServedFromTheTypeLibrary)
{
    Installation inst;
    inst.Converter("A2B", kA, kB).Install();
    ComPtr<IDispatch> d;
    ASSERT_EQ(S_OK, Create(inst, "A2B", d));
    OLECHAR name[] = L"State";
    LPOLESTR names[] = {name};
    DISPID id = 0;
    ASSERT_EQ(S_OK, d->GetIDsOfNames(IID_NULL, names, 1, 0x409, &id));
    EXPECT_EQ(6, id);
    DISPPARAMS none{};
    vembro::unique_variant state;
    ASSERT_EQ(S_OK, d->Invoke(id, IID_NULL, 0x409, DISPATCH_PROPERTYGET, &none, &state, nullptr, nullptr));
    EXPECT_EQ(VT_I4, V_VT(&state));
    EXPECT_EQ(FTSTATE_READY, V_I4(&state));
    EXPECT_EQ((Lines{"A2B.State"}), inst.Journal(".State"));
}

TEST_F(FakesTest, SyncCallsWorkAndReportInsideTheCall)
{
    Installation inst;
    Behaviour b;
    b.worker = true; // has no say over synchronous calls
    b.syncResult = S_FALSE;
    b.progress = {{1, 1}};
    inst.Translator("B2C", kB, kC, b).Install();
    ComPtr<ITolviFileTranslator2> t;
    ASSERT_EQ(S_OK, Create(inst, "B2C", t));
    Recorder rec;
    ComPtr<IUnknown> sink = MakeSink<TranslatorSink>(rec);
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, Advise(t.Get(), IID_ITolviFileTranslatorEvents, sink.Get(), &cookie));
    TempFile in("doc\n"), out("poison");
    ComPtr<IDispatch> someDirection;
    ASSERT_EQ(S_OK, t.As(&someDirection));
    EXPECT_EQ(S_FALSE, t->SyncTranslateFile(someDirection.Get(), in.Bstr(), out.Bstr(), Missing()));
    EXPECT_EQ((Lines{"Progress(1,1)", "State(5)"}), rec.Events());
    EXPECT_EQ(std::vector<DWORD>(2, ::GetCurrentThreadId()), rec.threads);
    EXPECT_EQ("doc\n[B2C]\n", out.Read());
    ComPtr<IStream> sin = MemoryStream("x\n", 0), sout = MemoryStream("", 0);
    EXPECT_EQ(S_FALSE, t->SyncTranslateStream(someDirection.Get(), sin.Get(), sout.Get(), I4(1)));
    EXPECT_EQ("x\n[B2C]\n", Content(sout.Get()));
    EXPECT_EQ((Lines{"B2C.SyncTranslateFile(direction=set, in=" + in.Name() + ", out=" + out.Name() +
                         ", reserved=" + kMissing + ")",
                     "B2C.SyncTranslateStream(direction=set, in=@0, out=@0, reserved=VT_I4:1)"}),
              inst.Journal(".Sync"));
    EXPECT_EQ(S_OK, Unadvise(t.Get(), IID_ITolviFileTranslatorEvents, cookie));
}

TEST_F(FakesTest, FailingSyncCallDoesNoWork)
{
    Installation inst;
    Behaviour b;
    b.syncResult = E_ACCESSDENIED;
    inst.Converter("A2B", kA, kB, b).Install();
    ComPtr<ITolviFileConverter3> c;
    ASSERT_EQ(S_OK, Create(inst, "A2B", c));
    TempFile in("doc\n"), out("poison");
    EXPECT_EQ(E_ACCESSDENIED, c->SyncConvertFile(in.Bstr(), out.Bstr(), Missing()));
    EXPECT_EQ("poison", out.Read());
    EXPECT_TRUE(inst.Journal(">").empty());
}

TEST_F(FakesTest, SyncErrorIsReportedWhileTheCallSucceeds)
{
    Installation inst;
    Behaviour b;
    b.finish = Finish::Error;
    b.errorCode = E_ACCESSDENIED;
    inst.Translator("B2C", kB, kC, b).Install();
    ComPtr<ITolviFileTranslator2> t;
    ASSERT_EQ(S_OK, Create(inst, "B2C", t));
    TempFile in("doc\n"), out("poison");
    EXPECT_EQ(S_OK, t->SyncTranslateFile(nullptr, in.Bstr(), out.Bstr(), Missing()));
    LONG error = 0;
    EXPECT_EQ(S_OK, t->get_Error(&error));
    EXPECT_EQ(E_ACCESSDENIED, error);
    Lines trace = inst.Trace();
    EXPECT_EQ("B2C>StateChange(6)", trace.at(trace.size() - 2));
}

TEST_F(FakesTest, TextCallsAppendTheRouteLine)
{
    Installation inst;
    inst.Converter("A2B", kA, kB).Translator("B2C", kB, kC).Install();
    ComPtr<ITolviFileConverter> c;
    ComPtr<ITolviFileTranslator> t;
    ASSERT_EQ(S_OK, Create(inst, "A2B", c));
    ASSERT_EQ(S_OK, Create(inst, "B2C", t));
    vembro::unique_bstr in = vembro::MakeBstr(L"doc\n"), converted, translated;
    EXPECT_EQ(S_OK, c->ConvertMemory(in.get(), converted.put()));
    EXPECT_EQ(S_OK, t->TranslateText(nullptr, converted.get(), translated.put()));
    EXPECT_STREQ(L"doc\n[A2B]\n[B2C]\n", translated.get());
    EXPECT_EQ(E_POINTER, c->ConvertMemory(in.get(), nullptr));
}

} // namespace
