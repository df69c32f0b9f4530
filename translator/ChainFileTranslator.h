#pragma once
// The translator that a client receives for a pair of formats that no single
// real translator handles: it runs a planned chain of two or three
// components, asynchronously with events or synchronously in the caller's
// thread, on files or on streams.
#include <windows.h>
#include <ocidl.h>
#include <wrl/client.h>
#include <atomic>
#include <string>

#include "chains/Chain.h"
#include "chains/TempFiles.h"
#include "vembro/VembroDispatch.h"
#include "vembro/com/Object.h"
#include "events/ConnectionPoint.h"
#include "translator/MemoryStream.h"
#include "translator/PropertyArray.h"
#include "vembro/Vembro.h"

namespace vembro {

class CTolviChainFileTranslator : public CComObjectRootEx,
                                  public IConnectionPointContainer,
                                  public VembroDispatch<ITolviFileTranslator2> {
public:
    CTolviChainFileTranslator();
    ~CTolviChainFileTranslator() override = default;

    static const QIEntry* QITable() noexcept;
    // Disconnects and releases the component of the current or last step.
    void FinalRelease() noexcept;

    // Replaces the chain by a copy of `chain`.
    HRESULT SetChainOf(const CChain& chain) noexcept;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** ppEnum) noexcept override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) noexcept override;

    // ITolviFileTranslator (ChainFileTranslator.cpp, ChainRun.cpp)
    STDMETHODIMP get_SourceFormat(ITolviFileFormat** pVal) noexcept override;
    STDMETHODIMP get_TargetFormat(ITolviFileFormat** pVal) noexcept override;
    STDMETHODIMP get_Property(VARIANT Prop, VARIANT* pVal) noexcept override;
    STDMETHODIMP put_Property(VARIANT Prop, VARIANT newVal) noexcept override;
    STDMETHODIMP get_State(LONG* pVal) noexcept override;
    STDMETHODIMP TranslateText(IDispatch* Direction, BSTR Text, BSTR* Result) noexcept override;
    STDMETHODIMP TranslateFile(IDispatch* Direction, BSTR Source, BSTR Target, VARIANT Info) noexcept override;
    STDMETHODIMP TranslateStream(IDispatch* Direction, IUnknown* Source, IUnknown* Target,
                                 VARIANT Info) noexcept override;
    STDMETHODIMP Stop(VARIANT Info) noexcept override;
    STDMETHODIMP Suspend() noexcept override;
    STDMETHODIMP Resume() noexcept override;
    STDMETHODIMP get_Error(LONG* pVal) noexcept override;
    STDMETHODIMP IsFormatAvailable(VARIANT varData, tagFILEDATATYPE type) noexcept override;

    // ITolviFileTranslator2 (ChainSync.cpp)
    STDMETHODIMP SyncTranslateFile(IDispatch* Direction, BSTR Source, BSTR Target, VARIANT Reserved) noexcept override;
    STDMETHODIMP SyncTranslateStream(IDispatch* Direction, IUnknown* Source, IUnknown* Target,
                                     VARIANT Reserved) noexcept override;

    // Inner connections and the calls of the inner sinks (events/).
    // fromConverter is 1 for a converter sink, 0 for a translator sink.
    HRESULT AdviseItem(int fromConverter, IUnknown* component) noexcept;
    HRESULT UnadviseItem(int fromConverter, IUnknown* component) noexcept;
    bool IsCurrentItem(int fromConverter) noexcept;
    void OnItemProgress(int fromConverter, LONG progress, LONG maxProgress) noexcept;
    void OnItemState(int fromConverter, LONG state) noexcept;

private:
    // The index of the running step when it is of the kind of the sink, else -1.
    LONG CurrentItemOf(int fromConverter) noexcept;

    void SetState(LONG state) noexcept;
    void EndRun(HRESULT hr) noexcept;
    // EndRun without the result and the state: what every end of a run frees.
    void ReleaseRunResources() noexcept;

    HRESULT ActivateItem(int step) noexcept;
    HRESULT RunFileItem(int step, const char* source, const char* target, const VARIANT& info) noexcept;
    HRESULT RunStreamItem(int step, IUnknown* source, IUnknown* target, const VARIANT& info) noexcept;
    void StepToNextItem() noexcept;
    void ReleaseCurrentConverter() noexcept;
    void ReleaseCurrentTranslator() noexcept;
    bool HasChain() const noexcept { return !m_Chain.IsEmpty(); }

    // The synchronous loop over the steps; returns when the run is over.
    enum class SyncEnd { Complete, EndedByEvent };
    SyncEnd RunSyncFileSteps(IDispatch* direction, BSTR source, const std::string& firstTarget);
    SyncEnd RunSyncStreamSteps(IDispatch* direction, IUnknown* source, IStream* firstTarget);
    HRESULT FinishSyncRun(SyncEnd end, HRESULT raised, bool clearSyncFlagFirst) noexcept;

    // Constructed first and destroyed last: the client sinks outlive every
    // other member.
    CProxyITolviFileTranslatorEvents m_Events;

    std::atomic<bool> m_bStopRequested{false};
    LONG m_nState = FTSTATE_READY;
    LONG m_nPriority = 0;
    HRESULT m_hrError = S_OK;
    std::atomic<bool> m_bSyncRun{false};
    CChain m_Chain;
    LONG m_nCurItem = -1;
    Microsoft::WRL::ComPtr<ITolviFileConverter> m_spConverter;
    Microsoft::WRL::ComPtr<ITolviFileTranslator> m_spTranslator;
    CMemoryStream m_Stream1;
    CMemoryStream m_Stream2;
    CMemoryStream* m_pCurStream = nullptr;
    Microsoft::WRL::ComPtr<IDispatch> m_spDirection;
    Microsoft::WRL::ComPtr<IUnknown> m_spTargetStream;
    CTempFile m_Temp1;
    CTempFile m_Temp2;
    std::string m_strTarget;
    std::string m_strLastInput;
    BOOL m_bFileMode = TRUE;
    DWORD m_dwConverterCookie = 0;
    DWORD m_dwTranslatorCookie = 0;
    CPropertyArray m_Properties;
};

} // namespace vembro
