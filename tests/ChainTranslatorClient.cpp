#include "ChainTranslatorClient.h"

#include <objbase.h>
#include <cstdio>

#include "vembro/com/Resource.h"
#include "vembro/com/Strings.h"
#include "translator/ChainFactory.h"

using Microsoft::WRL::ComPtr;

namespace chaintest {

ComPtr<ClientSink> ClientSink::Create()
{
    ComPtr<ClientSink> sink = vembro::TakeOver(new ClientSink());
    vembro::ThrowIfFailed(::CoCreateFreeThreadedMarshaler(static_cast<IUnknown*>(sink.Get()),
                                                          &sink->m_spMarshaler));
    return sink;
}

Lines ClientSink::Events() const
{
    auto lock = m_cs.Lock();
    return m_events;
}

std::vector<DWORD> ClientSink::Threads() const
{
    auto lock = m_cs.Lock();
    return m_threads;
}

void ClientSink::Clear()
{
    auto lock = m_cs.Lock();
    m_events.clear();
    m_threads.clear();
}

void ClientSink::OnEvent(std::function<void(const std::string&)> hook)
{
    auto lock = m_cs.Lock();
    m_hook = std::move(hook);
}

bool ClientSink::WaitForEvents(size_t count, DWORD timeoutMs) const
{
    for (DWORD waited = 0;; waited += 10) {
        if (Events().size() >= count)
            return true;
        if (waited >= timeoutMs)
            return false;
        ::Sleep(10);
    }
}

void ClientSink::Record(const std::string& event)
{
    std::function<void(const std::string&)> hook;
    {
        auto lock = m_cs.Lock();
        m_events.push_back(event);
        m_threads.push_back(::GetCurrentThreadId());
        hook = m_hook;
    }
    if (hook)
        hook(event);
}

STDMETHODIMP ClientSink::QueryInterface(REFIID riid, void** ppv) noexcept
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (::IsEqualIID(riid, IID_ITolviFileTranslatorEvents) && m_eventQueries >= 0 &&
        ::InterlockedDecrement(&m_eventQueries) < 0)
        return E_NOINTERFACE;
    if (::IsEqualIID(riid, IID_IUnknown) || ::IsEqualIID(riid, IID_IDispatch) ||
        ::IsEqualIID(riid, IID_ITolviFileTranslatorEvents)) {
        AddRef();
        *ppv = static_cast<ITolviFileTranslatorEvents*>(this);
        return S_OK;
    }
    if (::IsEqualIID(riid, IID_IMarshal) && m_spMarshaler)
        return m_spMarshaler->QueryInterface(riid, ppv);
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ClientSink::AddRef() noexcept { return static_cast<ULONG>(::InterlockedIncrement(&m_ref)); }

STDMETHODIMP_(ULONG) ClientSink::Release() noexcept
{
    LONG n = ::InterlockedDecrement(&m_ref);
    if (n == 0)
        delete this;
    return static_cast<ULONG>(n);
}

STDMETHODIMP ClientSink::GetTypeInfoCount(UINT* count) noexcept
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP ClientSink::GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept
{
    if (info)
        *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP ClientSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept { return E_NOTIMPL; }

// The connection point fires through Invoke alone; the arguments are
// checked as strictly as a type-library dispatch would.
STDMETHODIMP ClientSink::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                UINT*) noexcept
{
    if (!::IsEqualIID(riid, IID_NULL) || flags != DISPATCH_METHOD || !params || params->cNamedArgs != 0)
        return E_INVALIDARG;
    auto arg = [params](UINT i) { return V_VT(&params->rgvarg[i]) == VT_I4 ? V_I4(&params->rgvarg[i]) : -999999; };
    if (id == 2 && params->cArgs == 1)
        return StateChange(arg(0));
    if (id == 3 && params->cArgs == 2)
        return ProgressChange(arg(1), arg(0));
    Record("Invoke(" + std::to_string(id) + ")");
    return DISP_E_MEMBERNOTFOUND;
}

STDMETHODIMP ClientSink::PropertyChange(VARIANT, VARIANT) noexcept
{
    Record("PropertyChange");
    return S_OK;
}

STDMETHODIMP ClientSink::StateChange(LONG state) noexcept
{
    Record("State(" + std::to_string(state) + ")");
    return S_OK;
}

STDMETHODIMP ClientSink::ProgressChange(LONG progress, LONG maxProgress) noexcept
{
    Record("Progress(" + std::to_string(progress) + "," + std::to_string(maxProgress) + ")");
    return S_OK;
}

namespace {
ComPtr<IConnectionPoint> PointOf(IUnknown* translator)
{
    ComPtr<IConnectionPointContainer> container;
    vembro::ThrowIfFailed(translator->QueryInterface(IID_PPV_ARGS(&container)));
    ComPtr<IConnectionPoint> point;
    vembro::ThrowIfFailed(container->FindConnectionPoint(IID_ITolviFileTranslatorEvents, &point));
    return point;
}
} // namespace

DWORD Connect(IUnknown* translator, IUnknown* sink)
{
    DWORD cookie = 0;
    vembro::ThrowIfFailed(PointOf(translator)->Advise(sink, &cookie));
    return cookie;
}

void Disconnect(IUnknown* translator, DWORD cookie) { vembro::ThrowIfFailed(PointOf(translator)->Unadvise(cookie)); }

vembro::CChain MakeChain(std::initializer_list<vembro::CChainItem> items)
{
    vembro::CChain chain;
    for (const auto& item : items)
        chain.Add(item);
    return chain;
}

ComPtr<ITolviFileTranslator> MakeTranslator(const vembro::CChain& chain)
{
    ComPtr<ITolviFileTranslator> translator;
    vembro::ThrowIfFailed(vembro::CreateChainTranslator(chain, &translator));
    return translator;
}

namespace {
class Direction final : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!::IsEqualIID(riid, IID_IUnknown) && !::IsEqualIID(riid, IID_IDispatch))
            return E_NOINTERFACE;
        AddRef();
        *ppv = this;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return static_cast<ULONG>(::InterlockedIncrement(&m_ref)); }
    STDMETHODIMP_(ULONG) Release() noexcept override
    {
        LONG n = ::InterlockedDecrement(&m_ref);
        if (n == 0)
            delete this;
        return static_cast<ULONG>(n);
    }
    STDMETHODIMP GetTypeInfoCount(UINT* c) noexcept override { return c ? (*c = 0, S_OK) : E_POINTER; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) noexcept override
    {
        return E_NOTIMPL;
    }

private:
    LONG volatile m_ref = 0;
};
} // namespace

ComPtr<IDispatch> MakeDirection() { return ComPtr<IDispatch>(new Direction()); }

ComPtr<IStream> MakeStream(const std::string& text)
{
    ComPtr<IStream> stream;
    vembro::ThrowIfFailed(::CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    if (!text.empty())
        vembro::ThrowIfFailed(stream->Write(text.data(), static_cast<ULONG>(text.size()), nullptr));
    LARGE_INTEGER zero{};
    vembro::ThrowIfFailed(stream->Seek(zero, STREAM_SEEK_SET, nullptr));
    return stream;
}

std::string StreamContent(IStream* stream)
{
    LARGE_INTEGER zero{};
    vembro::ThrowIfFailed(stream->Seek(zero, STREAM_SEEK_SET, nullptr));
    std::string result;
    char buffer[256];
    ULONG read = 0;
    while (SUCCEEDED(stream->Read(buffer, sizeof(buffer), &read)) && read > 0)
        result.append(buffer, read);
    return result;
}

std::string FileContent(const std::string& path)
{
    std::string result;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[256];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0)
            result.append(buffer, n);
        std::fclose(f);
    }
    return result;
}

void WriteTextFile(const std::string& path, const std::string& content)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        vembro::ThrowHr(E_FAIL);
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
}

bool FileExists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

Lines TempFilesIn(const std::string& folder)
{
    Lines names;
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((folder + "\\FTM*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        names.push_back(data.cFileName);
    } while (::FindNextFileA(find, &data));
    ::FindClose(find);
    return names;
}

std::string FolderOf(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

} // namespace chaintest
