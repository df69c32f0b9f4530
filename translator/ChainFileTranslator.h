#pragma once
// The translator that a client receives for a pair of formats that no single
// real translator handles: it runs a planned chain of two or three
// components, asynchronously with events or synchronously in the caller's
// thread, on files or on streams.
#include <windows.h>
#include <ocidl.h>
#include <wrl/client.h>
#include <atomic>
#include <memory>
#include <string>

#include "chains/Chain.h"
#include "chains/TempFiles.h"
#include "vembro/VembroDispatch.h"
#include "vembro/com/Object.h"
#include "vembro/com/PropertyList.h"
#include "vembro/com/Resource.h"
#include "events/ConnectionPoint.h"
#include "events/ItemSinks.h"
#include "translator/MemoryStream.h"
#include "vembro/Vembro.h"

namespace vembro {

// Named values that a client sets before a translator component exists; each
// translator step receives them all again (ApplyTo).
using CPropertyArray = PropertyList;

class CTolviChainFileTranslator : public CComObjectRootEx,
                                  public IConnectionPointContainer,
                                  public VembroDispatch<ITolviFileTranslator2>,
                                  public CItemListener {
public:
    CTolviChainFileTranslator();
    ~CTolviChainFileTranslator() override = default;

    static const QIEntry* QITable() noexcept;
    // Disconnects and releases the component of the current or last step.
    void FinalRelease() noexcept;

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
    bool TryAddRef() noexcept override;
    void ReleaseRef() noexcept override { static_cast<ITolviFileTranslator2*>(this)->Release(); }
    void OnItemProgress(int fromConverter, LONG progress, LONG maxProgress) noexcept override;
    void OnItemState(int fromConverter, LONG state) noexcept override;

private:
    // The index of the running step when it is of the kind of the sink, else
    // -1; `runId` receives the run it belongs to.
    LONG CurrentItemOf(int fromConverter, ULONG* runId = nullptr) noexcept;

    // The format at either end of the chain; State and Error, read under m_csRun.
    HRESULT EndFormat_nothrow(bool source, ITolviFileFormat** pVal) noexcept;
    HRESULT ReadRunField_nothrow(const LONG& field, LONG* pVal) noexcept;
    void SetState(LONG state) noexcept;
    // Ends run `runId` if it is still the one in progress (or, with
    // allowIdle, when no run has started since): its resources, m_nCurItem,
    // m_hrError and the state change in one step under m_csRun, so that no
    // new run can see half of it; then `first` and `second` are fired (-1:
    // nothing). A synchronous run is never ended from outside its own loop
    // (fromLoop): the ending is recorded for the loop and fired. Answers
    // whether this call ended the run.
    bool EndRun(ULONG runId, HRESULT hr, LONG first, LONG second = -1, bool allowIdle = false,
                bool fromLoop = false) noexcept;
    // The run in progress (0 when none) and whether `step` is still its current one.
    bool IsStepOf(ULONG runId, int step) noexcept;
    // The run's start (TranslateFile, TranslateStream, Sync*), called in the
    // same hold of m_csRun as the run's set-up: a Stop on an object that has
    // never run must find either no run or the whole of this one.
    ULONG BeginRun(bool sync) noexcept;

    // Where one step reads and writes: names in a file run, streams in a
    // stream run.
    struct CStepEnds {
        unique_bstr sourceName, targetName;
        Microsoft::WRL::ComPtr<IUnknown> source, target;
    };
    // The start shared by the four translate methods: a file run on the
    // names, or a stream run on the streams; a synchronous one returns when
    // it is over.
    HRESULT StartRun_nothrow(bool file, bool sync, IDispatch* direction, BSTR sourceName, BSTR targetName, IUnknown* source,
                     IUnknown* target) noexcept;
    HRESULT ActivateItem(int step) noexcept;
    // Calls the start of `step`'s component on `ends`: in a synchronous run
    // the one that does the whole work.
    HRESULT StartItem(int step, const CStepEnds& ends, bool sync);
    // Under the object lock and m_csRun: moves the run on by one step and
    // answers it (-1 after the last), with `ends` set and its intermediate
    // made; throws when that cannot be made.
    int NextItem(CStepEnds& ends);
    // Activates and starts one step of an asynchronous run; a failure ends
    // the run.
    HRESULT RunItem_nothrow(ULONG runId, int step, const CStepEnds& ends) noexcept;
    // After activation: false when the run has ended or was stopped meanwhile
    // (a stop then ends it here, once); the step is then not started.
    bool MayStart(ULONG runId, int step) noexcept;
    void StepToNextItem(ULONG runId, int finished) noexcept;
    template <class I>
    void ReleaseCurrent(Microsoft::WRL::ComPtr<I>& held, int fromConverter) noexcept;
    bool HasChain() const noexcept { return !m_Chain.IsEmpty(); }

    Microsoft::WRL::ComPtr<ITolviFileConverter> CurrentConverter() noexcept;
    Microsoft::WRL::ComPtr<ITolviFileTranslator> CurrentTranslator(Microsoft::WRL::ComPtr<IDispatch>* direction) noexcept;

    // The synchronous loop over the steps; returns when the run is over.
    enum class SyncEnd { Complete, EndedByEvent, Stopped };
    SyncEnd RunSyncSteps(CStepEnds ends);
    // Between two synchronous steps: raises a recorded failure, answers
    // whether the run was ended by a component's report.
    bool SyncStepEnded(int step);
    HRESULT FinishSyncRun_nothrow(ULONG runId, SyncEnd end, HRESULT raised) noexcept;

    // Constructed first and destroyed last: the client sinks outlive every
    // other member.
    CProxyITolviFileTranslatorEvents m_Events;
    // What the inner sinks reach this object through; cleared first when
    // the object goes away.
    std::shared_ptr<CItemOwner> m_spOwnerLink;
    // Guards the run's fields (m_nState, m_hrError, m_nCurItem, m_nRunId,
    // the component pointers and cookies, the run's resources, m_nPriority)
    // for moments only: nothing is called out while it is held. The object
    // lock m_cs is taken outside it and only serialises the starts of runs
    // and the steps from one item to the next, so Stop, the properties,
    // State and Error never wait for a component's start call.
    CriticalSection m_csRun;
    ULONG m_nRunId = 0;     // the latest run started; 0 before the first
    bool m_bSyncEnded = false; // a component's report ended the synchronous run

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

// How the route registry hands a planned chain to a new chain translator
// without knowing the class: a new object with a copy of the chain, asked for
// ITolviFileTranslator. E_OUTOFMEMORY when the object cannot be made.
HRESULT CreateChainTranslator_nothrow(const CChain& chain, ITolviFileTranslator** out) noexcept;

} // namespace vembro
