#include "Recorder.h"

#include <shellapi.h>
#include <fstream>
#include <sstream>

#include "vembro/com/Module.h"
#include "vembro/com/Object.h"
#include "vembro/kit/Data.h"

namespace kittest {

using Microsoft::WRL::ComPtr;

Recorder::Recorder() : m_changed(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

void Recorder::Add(const std::string& line)
{
    {
        auto lock = m_cs.Lock();
        m_lines.push_back(line);
    }
    ::SetEvent(m_changed.get());
}

std::vector<std::string> Recorder::Lines()
{
    auto lock = m_cs.Lock();
    return m_lines;
}

std::vector<std::string> Recorder::States()
{
    std::vector<std::string> states;
    for (const auto& line : Lines())
        if (line.rfind("state ", 0) == 0)
            states.push_back(line);
    return states;
}

bool Recorder::WaitFor(const std::string& prefix, DWORD ms)
{
    DWORD deadline = ::GetTickCount() + ms;
    for (;;) {
        for (const auto& line : Lines())
            if (line.rfind(prefix, 0) == 0)
                return true;
        DWORD now = ::GetTickCount();
        if (now >= deadline || ::WaitForSingleObject(m_changed.get(), deadline - now) == WAIT_TIMEOUT) {
            for (const auto& line : Lines())
                if (line.rfind(prefix, 0) == 0)
                    return true;
            return false;
        }
    }
}

bool Recorder::WaitFinal(DWORD ms)
{
    DWORD deadline = ::GetTickCount() + ms;
    for (;;) {
        for (const auto& line : Lines())
            if (line == "state 4" || line == "state 5" || line == "state 6")
                return true;
        DWORD now = ::GetTickCount();
        if (now >= deadline)
            return false;
        ::WaitForSingleObject(m_changed.get(), deadline - now);
    }
}

namespace {

// Records the events both event interfaces share; ignores IDispatch, since
// the kit calls its sinks through their virtual tables.
template <class Iface>
class CRecordingSink : public vembro::CComObjectRootEx, public Iface {
public:
    static const vembro::QIEntry* QITable() noexcept
    {
        static const vembro::QIEntry table[] = {
            VEMBRO_QI_AS(CRecordingSink, IID_IUnknown, Iface),
            VEMBRO_QI(CRecordingSink, Iface),
            VEMBRO_QI_END,
        };
        return table;
    }
    Recorder* m_pRecorder = nullptr;
    STDMETHODIMP GetTypeInfoCount(UINT*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) noexcept override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP ProgressChange(LONG p, LONG max) noexcept override
    {
        m_pRecorder->Add("progress " + std::to_string(p) + "/" + std::to_string(max));
        return S_OK;
    }
    STDMETHODIMP StateChange(LONG state) noexcept override
    {
        m_pRecorder->Add("state " + std::to_string(state));
        return S_OK;
    }
};

using CConverterSink = CRecordingSink<ITolviFileConverterEvents>;

class CTranslatorSink : public CRecordingSink<ITolviFileTranslatorEvents> {
public:
    STDMETHODIMP PropertyChange(VARIANT prop, VARIANT value) noexcept override
    {
        vembro::unique_variant name, text;
        ::VariantChangeType(&name, &prop, 0, VT_BSTR);
        ::VariantChangeType(&text, &value, 0, VT_BSTR);
        m_pRecorder->Add("property " + vembro::kit::Utf8FromWide(V_BSTR(&name), ::SysStringLen(V_BSTR(&name))) +
                         "=" + vembro::kit::Utf8FromWide(V_BSTR(&text), ::SysStringLen(V_BSTR(&text))));
        return S_OK;
    }
};

template <class Sink, class Iface>
ComPtr<Iface> MakeSink(Recorder& recorder, const IID& iid)
{
    ComPtr<Iface> sink;
    vembro::ThrowIfFailed(vembro::CreateAndQuery_nothrow<vembro::CComObjectNoLock<Sink>>(
        iid, reinterpret_cast<void**>(sink.GetAddressOf()), [&](Sink& s) {
            s.m_pRecorder = &recorder;
            return S_OK;
        }));
    return sink;
}

} // namespace

ComPtr<ITolviFileConverterEvents> MakeConverterSink(Recorder& recorder)
{
    return MakeSink<CConverterSink, ITolviFileConverterEvents>(recorder, IID_ITolviFileConverterEvents);
}

ComPtr<ITolviFileTranslatorEvents> MakeTranslatorSink(Recorder& recorder)
{
    return MakeSink<CTranslatorSink, ITolviFileTranslatorEvents>(recorder, IID_ITolviFileTranslatorEvents);
}

DWORD Advise(IUnknown* component, const IID& iid, IUnknown* sink)
{
    ComPtr<IConnectionPointContainer> container;
    vembro::ThrowIfFailed(component->QueryInterface(IID_PPV_ARGS(&container)));
    ComPtr<IConnectionPoint> point;
    vembro::ThrowIfFailed(container->FindConnectionPoint(iid, &point));
    DWORD cookie = 0;
    vembro::ThrowIfFailed(point->Advise(sink, &cookie));
    return cookie;
}

HRESULT Unadvise(IUnknown* component, const IID& iid, DWORD cookie)
{
    ComPtr<IConnectionPointContainer> container;
    vembro::ThrowIfFailed(component->QueryInterface(IID_PPV_ARGS(&container)));
    ComPtr<IConnectionPoint> point;
    vembro::ThrowIfFailed(container->FindConnectionPoint(iid, &point));
    return point->Unadvise(cookie);
}

TempDir::TempDir()
{
    wchar_t base[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, base);
    m_dir = std::wstring(base) + L"kittest" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
            std::to_wstring(::GetTickCount());
    ::CreateDirectoryW(m_dir.c_str(), nullptr);
}

TempDir::~TempDir()
{
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((m_dir + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                ::DeleteFileW((m_dir + L"\\" + data.cFileName).c_str());
        } while (::FindNextFileW(find, &data));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(m_dir.c_str());
}

std::wstring TempDir::Path(const wchar_t* name) const { return m_dir + L"\\" + name; }

std::string TempDir::Read(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

void TempDir::Write(const std::wstring& path, const std::string& bytes)
{
    std::ofstream out(path.c_str(), std::ios::binary);
    out << bytes;
}

bool TempDir::Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

ComPtr<IStream> StreamOf(const std::string& bytes)
{
    ComPtr<IStream> stream = vembro::kit::NewMemoryStream();
    ULONG written = 0;
    stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return stream;
}

std::string ReadDocument(const char* name)
{
    std::string path = std::string(VEMBRO_DOCUMENTS_DIR) + "/" + name;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

ULONG RefCount(IUnknown* p)
{
    p->AddRef();
    return p->Release();
}

bool ModuleLocksReachZero()
{
    for (int i = 0; i < 100 && vembro::ModuleLockCount() != 0; ++i)
        ::Sleep(10);
    return vembro::ModuleLockCount() == 0;
}

} // namespace kittest
