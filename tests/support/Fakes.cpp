#include "support/Fakes.h"

#include <comcat.h>
#include <objbase.h>
#include <oleauto.h>
#include <wrl/client.h>
#include <algorithm>
#include <stdexcept>

#include "vembro/com/Resource.h"
#include "vembro/com/Strings.h"
#include "components/FakeConfig.h"
#include "vembro/Vembro.h"

namespace fakes {
namespace {

constexpr wchar_t kCatalogueKey[] = L"Software\\Tolvi Labs\\Devevi9\\FTM\\Converters";
constexpr wchar_t kVendorKey[] = L"Software\\Tolvi Labs";
// More fakes than any test declares; their CLSIDs are cleaned up front, and
// as many as an installation declares when it declares more (the benchmark).
constexpr size_t kMaxFakes = 64;

[[noreturn]] void Fail(const std::string& what, LONG code)
{
    char hex[16];
    wsprintfA(hex, "%08lX", static_cast<unsigned long>(code));
    throw std::runtime_error("fakes: " + what + " failed with " + hex);
}

void Check(const std::string& what, LONG error)
{
    if (error != ERROR_SUCCESS)
        Fail(what, error);
}

void CheckHr(const std::string& what, HRESULT hr)
{
    if (FAILED(hr))
        Fail(what, hr);
}

std::wstring Wide(const std::string& text) { return vembro::WideFromAnsi(text.c_str()); }

std::wstring GuidText(const GUID& guid)
{
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

bool KeyExists(HKEY root, const std::wstring& path)
{
    vembro::unique_hkey key;
    return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

// Creates (or opens) root\path and optionally sets its default value.
vembro::unique_hkey CreateKey(HKEY root, const std::wstring& path)
{
    vembro::unique_hkey key;
    Check("creating " + vembro::AnsiFromWide(path.c_str()),
          ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
    return key;
}

void SetDefault(HKEY key, const std::wstring& value, const wchar_t* name = nullptr)
{
    Check("writing a registry value",
          ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
}

std::wstring ModuleFolder()
{
    wchar_t path[MAX_PATH] = {};
    DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path, n);
    return text.substr(0, text.find_last_of(L"\\/") + 1);
}

// The build hands the type library's location over as a host path; Wine
// sees the host's root as drive Z:.
std::wstring TypeLibraryPath()
{
    std::wstring path = Wide(VEMBRO_TLB_PATH);
    if (!path.empty() && path[0] == L'/') {
        for (auto& c : path) {
            if (c == L'/')
                c = L'\\';
        }
        path = L"Z:" + path;
    }
    return path;
}

// COM for the duration of one registration step, whatever the thread had.
class ComScope {
public:
    ComScope() : m_hr(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComScope()
    {
        if (SUCCEEDED(m_hr))
            ::CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    HRESULT m_hr;
};

struct Declared {
    Config config;
    CLSID clsid;
};

struct RawCurVer {
    std::string progId;
    DWORD type;
    std::vector<BYTE> data;
};

void CollectLine(const char* line, void* context)
{
    static_cast<std::vector<std::string>*>(context)->push_back(line);
}

} // namespace

struct Installation::Impl {
    std::vector<Declared> fakes;
    std::vector<std::wstring> catalogueEntries;
    std::vector<std::pair<std::string, std::string>> progIds; // ProgID, fake name
    std::vector<RawCurVer> curVers;
    bool withoutCatalogue = false;

    // What Install wrote, so that the destructor removes exactly that.
    std::vector<std::wstring> classesKeys; // under HKCR, removed as trees
    bool wroteConfig = false;
    bool wroteCatalogue = false;
    bool createdVendorKey = false;
    std::vector<CLSID> categorised;
    bool registeredCategory = false;
    bool registeredTypeLib = false;
    TLIBATTR typeLibAttr{};
    HMODULE module = nullptr;

    const Declared& Find(const std::string& name) const
    {
        for (const auto& d : fakes) {
            if (d.config.name == name)
                return d;
        }
        throw std::invalid_argument("fakes: no fake named " + name);
    }

    void Add(Kind kind, const std::string& name, const Format& source, const Format& target, const Behaviour& b)
    {
        for (const auto& d : fakes) {
            if (d.config.name == name)
                throw std::invalid_argument("fakes: two fakes named " + name);
        }
        Declared d;
        d.config.kind = kind;
        d.config.name = name;
        d.config.source = source;
        d.config.target = target;
        d.config.behaviour = b;
        d.clsid = FakeClsid(fakes.size() + 1);
        fakes.push_back(d);
    }

    // Declaration order is also the registry's alphabetical order.
    static CLSID FakeClsid(size_t index)
    {
        return {0xFA4E0000u + static_cast<unsigned long>(index), 0x7E57, 0x4FA4,
                {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF4, 0xCE}};
    }

    void RememberClassesKey(const std::wstring& path)
    {
        for (const auto& k : classesKeys) {
            if (_wcsicmp(k.c_str(), path.c_str()) == 0)
                return;
        }
        classesKeys.push_back(path);
    }

    std::wstring FakeModulePath() const { return ModuleFolder() + L"fakecomponents.dll"; }

    void RemoveLeftovers();
    void RegisterTypeLibrary();
    void WriteConfigs();
    void WriteClasses();
    void WriteCatalogue();
    void RegisterCategories();
    void Uninstall() noexcept;

    template <typename F>
    F Export(const char* name) const
    {
        return module ? reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name))) : nullptr;
    }
};

// What a test that died before its destructor ran may have left behind:
// the catalogue, the configurations and fake classes (possibly still in the
// translator category). Every installation starts from a clean registry.
void Installation::Impl::RemoveLeftovers()
{
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kCatalogueKey);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestsRoot);
    for (size_t i = 1; i <= std::max(kMaxFakes, fakes.size()); ++i)
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidText(FakeClsid(i))).c_str());
}

void Installation::Impl::RegisterTypeLibrary()
{
    std::wstring path = TypeLibraryPath();
    Microsoft::WRL::ComPtr<ITypeLib> lib;
    CheckHr("loading the type library", ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib));
    TLIBATTR* attr = nullptr;
    CheckHr("reading the type library", lib->GetLibAttr(&attr));
    typeLibAttr = *attr;
    lib->ReleaseTLibAttr(attr);
    // A registration that was there before stays after us.
    BSTR previous = nullptr;
    bool wasRegistered = SUCCEEDED(::QueryPathOfRegTypeLib(typeLibAttr.guid, typeLibAttr.wMajorVerNum,
                                                           typeLibAttr.wMinorVerNum, typeLibAttr.lcid, &previous));
    ::SysFreeString(previous);
    std::wstring folder = path.substr(0, path.find_last_of(L'\\') + 1);
    CheckHr("registering the type library", ::RegisterTypeLib(lib.Get(), const_cast<wchar_t*>(path.c_str()), const_cast<wchar_t*>(folder.c_str())));
    registeredTypeLib = !wasRegistered;
}

void Installation::Impl::WriteConfigs()
{
    wroteConfig = true;
    for (const auto& d : fakes) {
        vembro::unique_hkey key = CreateKey(HKEY_CURRENT_USER, std::wstring(kConfigRoot) + L"\\" + GuidText(d.clsid));
        Check("writing the configuration of " + d.config.name, WriteConfig(key.get(), d.config));
    }
}

void Installation::Impl::WriteClasses()
{
    std::wstring module = FakeModulePath();
    for (const auto& d : fakes) {
        std::wstring clsid = GuidText(d.clsid);
        std::wstring classKey = L"CLSID\\" + clsid;
        RememberClassesKey(classKey);
        SetDefault(CreateKey(HKEY_CLASSES_ROOT, classKey).get(), L"Vembro test fake " + Wide(d.config.name));
        vembro::unique_hkey server = CreateKey(HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32");
        SetDefault(server.get(), module);
        SetDefault(server.get(), L"Both", L"ThreadingModel");
        const std::string& progId = d.config.behaviour.progId;
        if (!progId.empty()) {
            SetDefault(CreateKey(HKEY_CLASSES_ROOT, classKey + L"\\ProgID").get(), Wide(progId));
            RememberClassesKey(Wide(progId));
            SetDefault(CreateKey(HKEY_CLASSES_ROOT, Wide(progId)).get(), L"Vembro test fake " + Wide(d.config.name));
            SetDefault(CreateKey(HKEY_CLASSES_ROOT, Wide(progId) + L"\\CLSID").get(), clsid);
        }
    }
    for (const auto& p : progIds) {
        RememberClassesKey(Wide(p.first));
        SetDefault(CreateKey(HKEY_CLASSES_ROOT, Wide(p.first) + L"\\CLSID").get(), GuidText(Find(p.second).clsid));
    }
    for (const auto& c : curVers) {
        RememberClassesKey(Wide(c.progId));
        vembro::unique_hkey key = CreateKey(HKEY_CLASSES_ROOT, Wide(c.progId) + L"\\CurVer");
        Check("writing CurVer of " + c.progId,
              ::RegSetValueExW(key.get(), nullptr, 0, c.type, c.data.data(), static_cast<DWORD>(c.data.size())));
    }
}

void Installation::Impl::WriteCatalogue()
{
    if (withoutCatalogue)
        return;
    createdVendorKey = !KeyExists(HKEY_LOCAL_MACHINE, kVendorKey);
    wroteCatalogue = true;
    vembro::unique_hkey catalogue = CreateKey(HKEY_LOCAL_MACHINE, kCatalogueKey);
    for (const auto& d : fakes) {
        if (d.config.kind != Kind::Converter || d.config.behaviour.unlisted)
            continue;
        const std::string& progId = d.config.behaviour.progId;
        CreateKey(catalogue.get(), progId.empty() ? GuidText(d.clsid) : Wide(progId));
    }
    for (const auto& name : catalogueEntries)
        CreateKey(catalogue.get(), name);
}

void Installation::Impl::RegisterCategories()
{
    std::vector<CLSID> translators;
    for (const auto& d : fakes) {
        if (d.config.kind == Kind::Translator && !d.config.behaviour.unlisted)
            translators.push_back(d.clsid);
    }
    if (translators.empty())
        return;
    Microsoft::WRL::ComPtr<ICatRegister> categories;
    CheckHr("creating the categories manager",
            ::CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                               reinterpret_cast<void**>(categories.GetAddressOf())));
    CATID catid = IID_ITolviFileTranslator2;
    if (!KeyExists(HKEY_CLASSES_ROOT, L"Component Categories\\" + GuidText(catid))) {
        CATEGORYINFO info{};
        info.catid = catid;
        info.lcid = 0x409;
        lstrcpynW(info.szDescription, L"Vembro test translators", 128);
        CheckHr("registering the translator category", categories->RegisterCategories(1, &info));
        registeredCategory = true;
    }
    for (const CLSID& clsid : translators) {
        CheckHr("registering a translator in the category", categories->RegisterClassImplCategories(clsid, 1, &catid));
        categorised.push_back(clsid);
    }
}

void Installation::Impl::Uninstall() noexcept
{
    ComScope com;
    if (!categorised.empty() || registeredCategory) {
        Microsoft::WRL::ComPtr<ICatRegister> categories;
        if (SUCCEEDED(::CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_ICatRegister, reinterpret_cast<void**>(categories.GetAddressOf())))) {
            CATID catid = IID_ITolviFileTranslator2;
            for (const CLSID& clsid : categorised)
                categories->UnRegisterClassImplCategories(clsid, 1, &catid);
            if (registeredCategory)
                categories->UnRegisterCategories(1, &catid);
        }
    }
    categorised.clear();
    registeredCategory = false;
    for (const auto& k : classesKeys)
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, k.c_str());
    classesKeys.clear();
    if (wroteCatalogue)
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, createdVendorKey ? kVendorKey : kCatalogueKey);
    wroteCatalogue = false;
    if (wroteConfig)
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestsRoot);
    wroteConfig = false;
    if (registeredTypeLib)
        ::UnRegisterTypeLib(typeLibAttr.guid, typeLibAttr.wMajorVerNum, typeLibAttr.wMinorVerNum, typeLibAttr.lcid,
                            typeLibAttr.syskind);
    registeredTypeLib = false;
}

Installation::Installation() : m_impl(std::make_unique<Impl>()) {}

Installation::~Installation()
{
    // A worker still reporting would find its registrations gone.
    WaitIdle(10000);
    m_impl->Uninstall();
    if (m_impl->module)
        ::FreeLibrary(m_impl->module);
}

Installation& Installation::Converter(const std::string& name, const Format& source, const Format& target,
                                      const Behaviour& behaviour)
{
    m_impl->Add(Kind::Converter, name, source, target, behaviour);
    return *this;
}

Installation& Installation::Translator(const std::string& name, const Format& source, const Format& target,
                                       const Behaviour& behaviour)
{
    m_impl->Add(Kind::Translator, name, source, target, behaviour);
    return *this;
}

Installation& Installation::WithoutCatalogueKey()
{
    m_impl->withoutCatalogue = true;
    return *this;
}

Installation& Installation::CatalogueEntry(const std::string& subkey) { return CatalogueEntry(Wide(subkey)); }

Installation& Installation::CatalogueEntry(const std::wstring& subkey)
{
    m_impl->catalogueEntries.push_back(subkey);
    return *this;
}

Installation& Installation::ProgId(const std::string& progId, const std::string& fakeName)
{
    m_impl->progIds.emplace_back(progId, fakeName);
    return *this;
}

Installation& Installation::CurVer(const std::string& progId, const std::string& curVer)
{
    std::wstring wide = Wide(curVer);
    const BYTE* bytes = reinterpret_cast<const BYTE*>(wide.c_str());
    return CurVerRaw(progId, REG_SZ, std::vector<BYTE>(bytes, bytes + (wide.size() + 1) * sizeof(wchar_t)));
}

Installation& Installation::CurVerRaw(const std::string& progId, DWORD type, const std::vector<BYTE>& data)
{
    m_impl->curVers.push_back({progId, type, data});
    return *this;
}

void Installation::Install()
{
    ComScope com;
    if (!m_impl->module) {
        m_impl->module = ::LoadLibraryW(m_impl->FakeModulePath().c_str());
        if (!m_impl->module)
            Fail("loading fakecomponents.dll", static_cast<LONG>(::GetLastError()));
    }
    ClearJournal();
    m_impl->RemoveLeftovers();
    m_impl->RegisterTypeLibrary();
    m_impl->WriteConfigs();
    m_impl->WriteClasses();
    m_impl->WriteCatalogue();
    m_impl->RegisterCategories();
}

CLSID Installation::ClsidOf(const std::string& name) const { return m_impl->Find(name).clsid; }

std::wstring Installation::ClsidStringOf(const std::string& name) const { return GuidText(ClsidOf(name)); }

std::vector<std::string> Installation::Journal() const
{
    std::vector<std::string> lines;
    if (auto read = m_impl->Export<void (*)(BOOL, void (*)(const char*, void*), void*)>("FakeJournalEnum"))
        read(FALSE, &CollectLine, &lines);
    return lines;
}

std::vector<std::string> Installation::Journal(const std::string& part) const
{
    std::vector<std::string> lines;
    for (auto& line : Journal()) {
        if (line.find(part) != std::string::npos)
            lines.push_back(std::move(line));
    }
    return lines;
}

std::vector<std::string> Installation::Trace() const
{
    std::vector<std::string> lines;
    if (auto read = m_impl->Export<void (*)(BOOL, void (*)(const char*, void*), void*)>("FakeJournalEnum"))
        read(TRUE, &CollectLine, &lines);
    return lines;
}

void Installation::ClearJournal()
{
    if (auto clear = m_impl->Export<void (*)()>("FakeJournalClear"))
        clear();
}

bool Installation::WaitIdle(DWORD timeoutMs) const
{
    auto wait = m_impl->Export<BOOL (*)(DWORD)>("FakeWaitIdle");
    return !wait || wait(timeoutMs) != FALSE;
}

long Installation::LiveObjects() const
{
    auto live = m_impl->Export<LONG (*)()>("FakeLiveObjects");
    return live ? live() : 0;
}

long Installation::LiveInstances(const std::string& name) const
{
    auto count = m_impl->Export<LONG (*)(const char*)>("FakeCountLive");
    return count ? count(name.c_str()) : 0;
}

long Installation::Report(const std::string& name, long state) const
{
    auto fire = m_impl->Export<LONG (*)(const char*, LONG, LONG, LONG)>("FakeFire");
    return fire ? fire(name.c_str(), 0, state, 0) : 0;
}

long Installation::ReportProgress(const std::string& name, long progress, long maxProgress) const
{
    auto fire = m_impl->Export<LONG (*)(const char*, LONG, LONG, LONG)>("FakeFire");
    return fire ? fire(name.c_str(), 1, progress, maxProgress) : 0;
}

} // namespace fakes
