#include "support/Fakes.h"

#include <oleauto.h>
#include <wrl/client.h>
#include <algorithm>
#include <set>
#include <stdexcept>
#include <tuple>

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

void Check(const std::string& what, LONG error)
{
    if (error != ERROR_SUCCESS)
        throw std::runtime_error("fakes: " + what + " failed with " + std::to_string(error));
}

std::wstring Wide(const std::string& text) { return vembro::WideFromAnsi(text.c_str()); }

vembro::unique_hkey CreateKey(HKEY root, const std::wstring& path)
{
    vembro::unique_hkey key;
    Check("creating " + vembro::AnsiFromWide(path.c_str()),
          ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
    return key;
}

// Creates (or opens) HKCR\path and sets its value `name` (default: its own).
void SetString(const std::wstring& path, const std::wstring& value, const wchar_t* name = nullptr)
{
    Check("writing " + vembro::AnsiFromWide(path.c_str()), ::RegSetKeyValueW(HKEY_CLASSES_ROOT, path.c_str(), name, REG_SZ, value.c_str(),
                                                                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
}

bool KeyExists(HKEY root, const std::wstring& path)
{
    vembro::unique_hkey key;
    return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

// Declaration order is also the registry's alphabetical order.
CLSID FakeClsid(size_t index)
{
    return {0xFA4E0000u + static_cast<unsigned long>(index), 0x7E57, 0x4FA4, {0x80, 0, 0, 0, 0, 0, 0xF4, 0xCE}};
}

using Lines = std::vector<std::string>;

using RawCurVer = std::tuple<std::string, DWORD, std::vector<BYTE>>; // ProgID, value type, value

} // namespace

struct Installation::Impl {
    std::vector<std::pair<Config, CLSID>> fakes;
    std::vector<std::wstring> catalogueEntries;
    std::vector<std::pair<std::string, std::string>> progIds; // ProgID, fake name
    std::vector<RawCurVer> curVers;

    // What Install wrote, so that the destructor removes exactly that.
    std::set<std::wstring> classesKeys; // under HKCR, removed as trees
    bool wroteCatalogue = false;
    bool createdVendorKey = false;
    bool registeredTypeLib = false;
    TLIBATTR typeLibAttr{};
    HMODULE module = nullptr;
    ModuleApi* api = nullptr; // the fake module's, once it is loaded

    std::pair<Config, CLSID>& Find(const std::string& name)
    {
        for (auto& d : fakes) {
            if (d.first.name == name)
                return d;
        }
        throw std::invalid_argument("fakes: no fake named " + name);
    }

    void Add(Kind kind, const std::string& name, const Format& source, const Format& target, const Behaviour& b)
    {
        fakes.push_back({{kind, name, source, target, b}, FakeClsid(fakes.size() + 1)});
    }

    std::wstring FakeModulePath() const
    {
        std::wstring exe = vembro::ModulePath(nullptr);
        return exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"fakecomponents.dll";
    }

    void Install();
    void RegisterTypeLibrary();
    void Uninstall() noexcept;
};

void Installation::Impl::RegisterTypeLibrary()
{
    // The build hands the type library's location over as a host path; Wine sees the host's root as drive Z:.
    std::wstring path = Wide(VEMBRO_TLB_PATH);
    if (!path.empty() && path[0] == L'/') {
        std::replace(path.begin(), path.end(), L'/', L'\\');
        path = L"Z:" + path;
    }
    Microsoft::WRL::ComPtr<ITypeLib> lib;
    Check("loading the type library", ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib));
    TLIBATTR* attr = nullptr;
    Check("reading the type library", lib->GetLibAttr(&attr));
    typeLibAttr = *attr;
    lib->ReleaseTLibAttr(attr);
    // A registration that was there before stays after us.
    vembro::unique_bstr previous;
    bool wasRegistered = SUCCEEDED(::QueryPathOfRegTypeLib(typeLibAttr.guid, typeLibAttr.wMajorVerNum,
                                                           typeLibAttr.wMinorVerNum, typeLibAttr.lcid, previous.put()));
    std::wstring folder = path.substr(0, path.find_last_of(L'\\') + 1);
    Check("registering the type library", ::RegisterTypeLib(lib.Get(), &path[0], &folder[0]));
    registeredTypeLib = !wasRegistered;
}

void Installation::Impl::Install()
{
    // What a test that died before its destructor ran may have left behind.
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kCatalogueKey);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestsRoot);
    for (size_t i = 1; i <= std::max(kMaxFakes, fakes.size()); ++i)
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + vembro::GuidString(FakeClsid(i))).c_str());
    RegisterTypeLibrary();

    // Translators in the category that their second interface names.
    const std::wstring category = vembro::GuidString(IID_ITolviFileTranslator2);
    const std::wstring modulePath = FakeModulePath();
    for (const auto& [config, clsid] : fakes) {
        const std::wstring id = vembro::GuidString(clsid), classKey = L"CLSID\\" + id;
        const std::wstring title = L"Vembro test fake " + Wide(config.name), progId = Wide(config.behaviour.progId);
        Check("writing the configuration of " + config.name, WriteConfig(id, config));
        classesKeys.insert(classKey);
        SetString(classKey, title);
        SetString(classKey + L"\\InprocServer32", modulePath);
        SetString(classKey + L"\\InprocServer32", L"Both", L"ThreadingModel");
        if (!progId.empty()) {
            classesKeys.insert(progId);
            SetString(classKey + L"\\ProgID", progId);
            SetString(progId, title);
            SetString(progId + L"\\CLSID", id);
        }
        if (config.kind == Kind::Translator && !config.behaviour.unlisted) {
            CreateKey(HKEY_CLASSES_ROOT, classKey + L"\\Implemented Categories\\" + category);
            if (!KeyExists(HKEY_CLASSES_ROOT, L"Component Categories\\" + category)) {
                classesKeys.insert(L"Component Categories\\" + category);
                SetString(L"Component Categories\\" + category, L"Vembro test translators", L"409");
            }
        }
    }
    for (const auto& [progId, fake] : progIds) {
        classesKeys.insert(Wide(progId));
        SetString(Wide(progId) + L"\\CLSID", vembro::GuidString(Find(fake).second));
    }
    for (const auto& [progId, type, data] : curVers) {
        classesKeys.insert(Wide(progId));
        Check("writing CurVer of " + progId, ::RegSetValueExW(CreateKey(HKEY_CLASSES_ROOT, Wide(progId) + L"\\CurVer").get(), nullptr, 0,
                                                              type, data.data(), static_cast<DWORD>(data.size())));
    }
    createdVendorKey = !KeyExists(HKEY_LOCAL_MACHINE, kVendorKey);
    wroteCatalogue = true;
    vembro::unique_hkey catalogue = CreateKey(HKEY_LOCAL_MACHINE, kCatalogueKey);
    for (const auto& [config, clsid] : fakes) {
        if (config.kind == Kind::Converter && !config.behaviour.unlisted)
            CreateKey(catalogue.get(), config.behaviour.progId.empty() ? vembro::GuidString(clsid) : Wide(config.behaviour.progId));
    }
    for (const auto& name : catalogueEntries)
        CreateKey(catalogue.get(), name);
}

void Installation::Impl::Uninstall() noexcept
{
    if (!module)
        return; // nothing was installed
    for (const auto& k : classesKeys)
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, k.c_str());
    if (wroteCatalogue)
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, createdVendorKey ? kVendorKey : kCatalogueKey);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestsRoot);
    if (registeredTypeLib)
        ::UnRegisterTypeLib(typeLibAttr.guid, typeLibAttr.wMajorVerNum, typeLibAttr.wMinorVerNum, typeLibAttr.lcid, typeLibAttr.syskind);
}

Installation::Installation() : m_impl(std::make_unique<Impl>()) {}

Installation::~Installation()
{
    WaitIdle(10000); // a worker still reporting would find its registrations gone
    m_impl->Uninstall();
    if (m_impl->module)
        ::FreeLibrary(m_impl->module);
}

Installation& Installation::Converter(const std::string& name, const Format& source, const Format& target, const Behaviour& b)
{
    return m_impl->Add(Kind::Converter, name, source, target, b), *this;
}

Installation& Installation::Translator(const std::string& name, const Format& source, const Format& target, const Behaviour& b)
{
    return m_impl->Add(Kind::Translator, name, source, target, b), *this;
}

Installation& Installation::CatalogueEntry(const std::string& subkey) { return CatalogueEntry(Wide(subkey)); }

Installation& Installation::CatalogueEntry(const std::wstring& subkey) { return m_impl->catalogueEntries.push_back(subkey), *this; }

Installation& Installation::ProgId(const std::string& progId, const std::string& fakeName)
{
    return m_impl->progIds.emplace_back(progId, fakeName), *this;
}

Installation& Installation::CurVer(const std::string& progId, const std::string& curVer)
{
    std::wstring wide = Wide(curVer);
    const BYTE* bytes = reinterpret_cast<const BYTE*>(wide.c_str());
    return CurVerRaw(progId, REG_SZ, std::vector<BYTE>(bytes, bytes + (wide.size() + 1) * sizeof(wchar_t)));
}

Installation& Installation::CurVerRaw(const std::string& progId, DWORD type, const std::vector<BYTE>& data)
{
    return m_impl->curVers.emplace_back(progId, type, data), *this;
}

void Installation::Install()
{
    if (!m_impl->module) {
        if (!(m_impl->module = ::LoadLibraryW(m_impl->FakeModulePath().c_str())))
            Check("loading fakecomponents.dll", static_cast<LONG>(::GetLastError()));
        auto module = reinterpret_cast<ModuleApi* (*)()>(reinterpret_cast<void*>(::GetProcAddress(m_impl->module, "FakeModule")));
        m_impl->api = module ? module() : nullptr;
        if (!m_impl->api)
            Check("finding FakeModule", ERROR_PROC_NOT_FOUND);
    }
    ClearJournal();
    m_impl->Install();
}

void Installation::Change(const std::string& name, const Behaviour& behaviour)
{
    auto& fake = m_impl->Find(name);
    fake.first.behaviour = behaviour;
    Check("writing the configuration of " + name, WriteConfig(vembro::GuidString(fake.second), fake.first));
}

CLSID Installation::ClsidOf(const std::string& name) const { return m_impl->Find(name).second; }

std::vector<std::string> Installation::Journal() const { return m_impl->api ? m_impl->api->Journal() : Lines(); }

std::vector<std::string> Installation::Journal(const std::string& part) const
{
    std::vector<std::string> lines = Journal();
    lines.erase(std::remove_if(lines.begin(), lines.end(), [&](const std::string& line) { return line.find(part) == std::string::npos; }),
                lines.end());
    return lines;
}

void Installation::ClearJournal() { if (m_impl->api) m_impl->api->ClearJournal(); }

bool Installation::WaitIdle(DWORD timeoutMs) const { return !m_impl->api || m_impl->api->WaitIdle(timeoutMs); }

long Installation::LiveObjects() const { return m_impl->api ? m_impl->api->LiveObjects() : 0; }

long Installation::Report(const std::string& name, long state) const { return m_impl->api ? m_impl->api->Fire(name, 0, state, 0) : 0; }

long Installation::ReportProgress(const std::string& name, long progress, long maxProgress) const
{
    return m_impl->api ? m_impl->api->Fire(name, 1, progress, maxProgress) : 0;
}

} // namespace fakes
