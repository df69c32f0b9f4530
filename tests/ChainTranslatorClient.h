#pragma once
// A client of the chain translator for the tests: a sink of
// ITolviFileTranslatorEvents that records what it is told, chains made by
// hand, and small VARIANT and BSTR helpers.
#include <windows.h>
#include <ocidl.h>
#include <wrl/client.h>
#include <functional>
#include <string>
#include <vector>

#include "chains/Chain.h"
#include "vembro/com/Resource.h"
#include "vembro/Vembro.h"
#include "support/Variants.h"

namespace chaintest {

using Lines = std::vector<std::string>;

// Records "State(n)" and "Progress(p,max)" in arrival order. The sink is
// free-threaded, so the connection point hands it straight to whatever
// thread fires. OnEvent, when set, runs inside each delivery.
class ClientSink final : public ITolviFileTranslatorEvents {
public:
    static Microsoft::WRL::ComPtr<ClientSink> Create();

    Lines Events() const;
    // The thread of each event, in the same order.
    std::vector<DWORD> Threads() const;
    void Clear();
    // Runs inside every delivery, after the event has been recorded.
    void OnEvent(std::function<void(const std::string&)> hook);
    // From now on only `n` more queries for the event interface succeed (the
    // platform's unmarshalling and re-marshalling each make one).
    void LimitEventQueries(LONG n) { m_eventQueries = n; }
    // Waits until `count` events have arrived; false on timeout.
    bool WaitForEvents(size_t count, DWORD timeoutMs = 10000) const;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override;
    STDMETHODIMP_(ULONG) Release() noexcept override;
    STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) noexcept override;
    STDMETHODIMP PropertyChange(VARIANT, VARIANT) noexcept override;
    STDMETHODIMP StateChange(LONG state) noexcept override;
    STDMETHODIMP ProgressChange(LONG progress, LONG maxProgress) noexcept override;

private:
    ClientSink() = default;
    ~ClientSink() = default;
    void Record(const std::string& event);

    LONG volatile m_ref = 1;
    LONG volatile m_eventQueries = -1; // -1: unlimited
    Microsoft::WRL::ComPtr<IUnknown> m_spMarshaler;
    mutable vembro::CriticalSection m_cs;
    Lines m_events;
    std::vector<DWORD> m_threads;
    std::function<void(const std::string&)> m_hook;
};

// Connects `sink` to the translator's one connection point; the cookie.
DWORD Connect(IUnknown* translator, IUnknown* sink);
void Disconnect(IUnknown* translator, DWORD cookie);

vembro::CChain MakeChain(std::initializer_list<vembro::CChainItem> items);
Microsoft::WRL::ComPtr<ITolviFileTranslator> MakeTranslator(const vembro::CChain& chain);

using comtest::Bstr;
using comtest::Var;
using comtest::VariantText;

// A do-nothing Direction object.
Microsoft::WRL::ComPtr<IDispatch> MakeDirection();

// A growable memory stream holding `text`, positioned at 0.
Microsoft::WRL::ComPtr<IStream> MakeStream(const std::string& text = std::string());
std::string StreamContent(IStream* stream);
std::string FileContent(const std::string& path);
void WriteTextFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);
// Files whose names begin with "FTM" in `folder`.
Lines TempFilesIn(const std::string& folder);
std::string FolderOf(const std::string& path);

} // namespace chaintest
