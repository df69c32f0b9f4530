#pragma once
// What converters and translators of the fake module have in common: the
// configuration, the journal, the connection point, the work (a copy that
// appends the route line) and how it is reported, inside the start call or
// from a worker thread.
#include <windows.h>
#include <ocidl.h>
#include <wrl/client.h>
#include <functional>
#include <map>
#include <string>

#include "vembro/com/Resource.h"
#include "components/FakeConfig.h"
#include "components/FakeEvents.h"
#include "vembro/Vembro.h"

namespace fakes {

// One conversion or translation: two file names or two streams.
struct Job {
    bool onStreams = false;
    std::wstring in;
    std::wstring out;
    Microsoft::WRL::ComPtr<IStream> inStream;
    Microsoft::WRL::ComPtr<IStream> outStream;

    // Input copied to the output with the route line appended.
    HRESULT Copy_nothrow(const std::string& name) const noexcept;
};

// Waits at the test's gate and journals the outcome as "<name>.Gate(...)".
void WaitAtGate(const std::string& name);

class FakeComponent : public IConnectionPointContainer {
public:
    FakeComponent() = default;
    FakeComponent(const FakeComponent&) = delete;
    FakeComponent& operator=(const FakeComponent&) = delete;
    virtual ~FakeComponent();

    // Called once by the class factory, before anyone else sees the object;
    // lists the object among the live ones.
    void Configure(const Config& config);

    const std::string& Name() const noexcept { return m_config.name; }
    // A reference unless the count has already reached zero.
    virtual bool TryAddRef() noexcept = 0;
    // A report that the test asks for: kind 0 StateChange(a), 1 ProgressChange(a, b).
    void Inject(LONG kind, LONG a, LONG b);

    // The system never enumerates connection points.
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** ppEnum) noexcept override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) noexcept override;

protected:
    const Config& Cfg() const noexcept { return m_config; }
    const Behaviour& Does() const noexcept { return m_config.behaviour; }
    // Writes "<name>.<text>" to the journal.
    void Call(const std::string& text) const;

    HRESULT FormatOf(bool source, ITolviFileFormat** pVal);
    HRESULT DetectFile_nothrow(BSTR file);
    HRESULT DetectStream_nothrow(IUnknown* stream);
    HRESULT DetectText_nothrow(BSTR text);
    // A translator's IsFormatAvailable: the data by its FILEDATATYPE.
    HRESULT DetectData_nothrow(const VARIANT& data, tagFILEDATATYPE type);

    // Job builders: E_POINTER for null names or streams.
    static Job FileJob(BSTR in, BSTR out);
    static Job StreamJob(IUnknown* in, IUnknown* out);

    // ConvertFile/ConvertStream/TranslateFile/TranslateStream after their
    // journal line: startResult, then the work reported inline or by a worker.
    HRESULT Start(const Job& job);
    // The Sync* operations: the same work and reports in the caller's thread.
    HRESULT RunSync_nothrow(const Job& job);
    HRESULT DoStop();
    HRESULT DoGetProperty(const VARIANT& name, VARIANT* pVal);
    HRESULT DoPutProperty(const VARIANT& name, const VARIANT& value);
    HRESULT AppendRoute(BSTR text, BSTR* result) const;

    // FTSTATE_CONVERT for converters, FTSTATE_TRANSLATE for translators.
    long WorkingState() const noexcept;
    long StateValue();
    HRESULT ErrorValue();
    void SetState(long state);

private:
    // The configured answer for data; no journal line.
    HRESULT ProbeFile(BSTR file);
    HRESULT ProbeStream_nothrow(IUnknown* unknown);
    HRESULT ProbeText(BSTR text);
    // The work of a run, then the configured reports. Answers the copy's
    // failure, S_OK otherwise.
    HRESULT Perform(const Job& job);
    void Report(long state);
    void SetError(HRESULT hr);
    // Runs `work` on a new MTA thread that holds this object and the module.
    HRESULT Launch(std::function<void()> work);
    static DWORD WINAPI WorkerProc(void* param);

    Config m_config;
    FakeConnectionPoint m_cp;
    vembro::CriticalSection m_csState;
    long m_nState = 0;
    HRESULT m_hrError = S_OK;
    std::map<std::string, vembro::unique_variant> m_properties;
};

} // namespace fakes
