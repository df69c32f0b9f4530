#include "Recorder.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "vembro/com/Error.h"
#include "vembro/com/Module.h"
#include "vembro/com/Strings.h"
#include "vembro/kit/Data.h"

namespace kittest {

using Microsoft::WRL::ComPtr;

void Recorder::Add(const std::string& line)
{
    std::function<void(const std::string&)> hook;
    {
        auto lock = m_cs.Lock();
        m_lines.push_back(line);
        hook = m_hook;
    }
    ::SetEvent(m_changed.get());
    if (hook)
        hook(line);
}

std::vector<std::string> Recorder::Lines() { auto lock = m_cs.Lock(); return m_lines; }

std::vector<std::string> Recorder::States()
{
    auto lines = Lines();
    lines.erase(std::remove_if(lines.begin(), lines.end(), [](auto& l) { return l.rfind("state ", 0) != 0; }), lines.end());
    return lines;
}

void Recorder::Clear() { auto lock = m_cs.Lock(); m_lines.clear(); }

void Recorder::OnEvent(std::function<void(const std::string&)> hook) { auto lock = m_cs.Lock(); m_hook.swap(hook); }

bool Recorder::WaitUntil(const std::function<bool(const std::string&)>& match, DWORD ms)
{
    const DWORD deadline = ::GetTickCount() + ms;
    for (DWORD now = ::GetTickCount();; now = ::GetTickCount()) {
        const auto lines = Lines();
        if (std::any_of(lines.begin(), lines.end(), match))
            return true;
        if (now >= deadline)
            return false;
        ::WaitForSingleObject(m_changed.get(), deadline - now);
    }
}

bool Recorder::WaitFinal(DWORD ms) { return WaitUntil([](auto& l) { return l == "state 4" || l == "state 5" || l == "state 6"; }, ms); }

bool Recorder::WaitFor(const std::string& prefix, DWORD ms) { return WaitUntil([&](auto& l) { return l.rfind(prefix, 0) == 0; }, ms); }

namespace {

// Through the virtual table (the kit) or Invoke (the chain translator, whose
// arguments are checked as strictly as a type-library dispatch would).
template <class Iface>
class CRecordingSink : public Iface {
public:
    explicit CRecordingSink(Recorder& recorder) : m_recorder(recorder) {}
    virtual ~CRecordingSink() = default;
    HRESULT Init() { return ::CoCreateFreeThreadedMarshaler(this, &m_spMarshaler); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        *ppv = nullptr;
        if (::IsEqualIID(riid, IID_IMarshal))
            return m_spMarshaler->QueryInterface(riid, ppv);
        if (!::IsEqualIID(riid, __uuidof(Iface)) && !::IsEqualIID(riid, IID_IUnknown) && !::IsEqualIID(riid, IID_IDispatch))
            return E_NOINTERFACE;
        *ppv = static_cast<Iface*>(this);
        return AddRef(), S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return static_cast<ULONG>(::InterlockedIncrement(&m_ref)); }
    STDMETHODIMP_(ULONG) Release() noexcept override
    {
        const LONG n = ::InterlockedDecrement(&m_ref);
        if (n == m_nLetGoAt)
            m_recorder.Add("let go");
        return n == 0 ? (delete this, 0u) : static_cast<ULONG>(n);
    }
    STDMETHODIMP GetTypeInfoCount(UINT*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) noexcept override
    {
        if (!::IsEqualIID(riid, IID_NULL) || flags != DISPATCH_METHOD || !params || params->cNamedArgs != 0)
            return E_INVALIDARG;
        auto arg = [params](UINT i) { return V_VT(&params->rgvarg[i]) == VT_I4 ? V_I4(&params->rgvarg[i]) : -999; };
        if (id == 2 && params->cArgs == 1)
            return StateChange(arg(0));
        return id == 3 && params->cArgs == 2 ? ProgressChange(arg(1), arg(0)) : DISP_E_MEMBERNOTFOUND;
    }
    STDMETHODIMP ProgressChange(LONG p, LONG max) noexcept override
    {
        return m_recorder.Add("progress " + std::to_string(p) + "/" + std::to_string(max)), S_OK;
    }
    STDMETHODIMP StateChange(LONG state) noexcept override { return m_recorder.Add("state " + std::to_string(state)), S_OK; }

    LONG m_nLetGoAt = -1; // the count its maker alone holds, if noted

protected:
    Recorder& m_recorder;

private:
    LONG volatile m_ref = 1;
    ComPtr<IUnknown> m_spMarshaler;
};

class CTranslatorSink : public CRecordingSink<ITolviFileTranslatorEvents> {
public:
    using CRecordingSink::CRecordingSink;
    STDMETHODIMP PropertyChange(VARIANT prop, VARIANT value) noexcept override
    {
        vembro::unique_variant text[2];
        ::VariantChangeType(&text[0], &prop, 0, VT_BSTR);
        ::VariantChangeType(&text[1], &value, 0, VT_BSTR);
        auto utf8 = [](const VARIANT& v) { return vembro::kit::Utf8FromWide(V_BSTR(&v), ::SysStringLen(V_BSTR(&v))); };
        return m_recorder.Add("property " + utf8(text[0]) + "=" + utf8(text[1])), S_OK;
    }
};

template <class Sink> ComPtr<Sink> MakeSink(Recorder& recorder)
{
    ComPtr<Sink> sink;
    sink.Attach(new Sink(recorder));
    vembro::ThrowIfFailed(sink->Init());
    return sink;
}

} // namespace

ComPtr<ITolviFileConverterEvents> MakeConverterSink(Recorder& r) { return MakeSink<CRecordingSink<ITolviFileConverterEvents>>(r); }

ComPtr<ITolviFileTranslatorEvents> MakeTranslatorSink(Recorder& recorder, bool noteLetGo)
{
    ComPtr<ITolviFileTranslatorEvents> sink = MakeSink<CTranslatorSink>(recorder);
    if (noteLetGo)
        static_cast<CTranslatorSink*>(sink.Get())->m_nLetGoAt = static_cast<LONG>(RefCount(sink.Get()));
    return sink;
}

DWORD Advise(IUnknown* component, const IID& iid, IUnknown* sink)
{
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    vembro::ThrowIfFailed(component->QueryInterface(IID_PPV_ARGS(&container)));
    vembro::ThrowIfFailed(container->FindConnectionPoint(iid, &point));
    vembro::ThrowIfFailed(point->Advise(sink, &cookie));
    return cookie;
}

TempDir::TempDir()
{
    GUID guid{};
    vembro::ThrowIfFailed(::CoCreateGuid(&guid));
    m_dir = (std::filesystem::temp_directory_path() / (L"kittest" + vembro::GuidString(guid))).wstring();
    if (!::CreateDirectoryW(m_dir.c_str(), nullptr))
        vembro::ThrowHr(HRESULT_FROM_WIN32(::GetLastError()));
}

TempDir::~TempDir() { std::error_code ignored; std::filesystem::remove_all(m_dir, ignored); }

std::wstring TempDir::Path(const wchar_t* name) const { return m_dir + L"\\" + name; }

std::string TempDir::Folder() const { return std::filesystem::path(m_dir).string() + "\\"; }

std::vector<std::string> TempDir::Names(const std::string& sub) const
{
    std::vector<std::string> names;
    std::error_code none; // a folder that is not there holds nothing
    for (const auto& entry : std::filesystem::directory_iterator(Folder() + sub, none))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string TempDir::Read(const std::wstring& path)
{
    std::ostringstream all;
    all << std::ifstream(path.c_str(), std::ios::binary).rdbuf();
    return all.str();
}

void TempDir::Write(const std::wstring& path, const std::string& bytes) { std::ofstream(path.c_str(), std::ios::binary) << bytes; }

ComPtr<IStream> StreamOf(const std::string& bytes, LONGLONG at)
{
    ComPtr<IStream> stream = vembro::kit::NewMemoryStream();
    vembro::ThrowIfFailed(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr));
    LARGE_INTEGER to;
    to.QuadPart = at;
    vembro::ThrowIfFailed(stream->Seek(to, STREAM_SEEK_SET, nullptr));
    return stream;
}

ULONGLONG Position(IStream* stream)
{
    ULARGE_INTEGER at{};
    vembro::ThrowIfFailed(stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &at));
    return at.QuadPart;
}

std::string ReadDocument(const char* name)
{
    return TempDir::Read(std::filesystem::path(std::string(VEMBRO_DOCUMENTS_DIR) + "/" + name).wstring());
}

bool ModuleLocksReachZero()
{
    for (int i = 0; i < 100 && vembro::ModuleLockCount() != 0; ++i)
        ::Sleep(10); // the workers signal nothing when they are gone
    return vembro::ModuleLockCount() == 0;
}

} // namespace kittest
