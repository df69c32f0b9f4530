#pragma once
// What converters and translators share behind their interfaces: detection
// on files, streams and text, the asynchronous and synchronous runs on files
// and streams, in-memory runs, properties and the one connection point. The
// Converter and Translator templates only map interface methods onto it.
#include <windows.h>
#include <ocidl.h>
#include <wrl/client.h>
#include <functional>
#include <string>

#include "vembro/Vembro.h"
#include "vembro/com/ConnectionPoint.h"
#include "vembro/kit/Properties.h"
#include "vembro/kit/Runner.h"

namespace vembro::kit {

// The author's conversion: read `in` from its current position, write `out`.
using ConvertFn = std::function<void(IStream* in, IStream* out, Progress& progress)>;
// The author's detection: S_OK when the probe window is in the source
// format, S_FALSE when it is not, anything else when it cannot tell.
using DetectFn = std::function<HRESULT(const std::string& head)>;
// How a BSTR maps to the bytes of a format and back (in-memory operations).
using TextToBytesFn = std::function<std::string(const std::wstring&)>;
using BytesToTextFn = std::function<std::wstring(const std::string&)>;

class ComponentCore : public RunReports {
public:
    ComponentCore(IConnectionPointContainer* owner, const IID& eventsIid, long workingState) noexcept
        : m_events(eventsIid, owner), m_runner(*this, owner, workingState) {}
    virtual ~ComponentCore() = default;

    HRESULT DetectFile_nothrow(BSTR file, const DetectFn& detect) noexcept;
    HRESULT DetectStream_nothrow(IUnknown* data, const DetectFn& detect) noexcept;
    HRESULT DetectText_nothrow(BSTR text, const DetectFn& detect, const TextToBytesFn& toBytes) noexcept;
    // The VARIANT form of translators' IsFormatAvailable.
    HRESULT DetectData_nothrow(const VARIANT& data, tagFILEDATATYPE type, const DetectFn& detect,
                       const TextToBytesFn& toBytes) noexcept;

    // `check`, when given, sees the input's head before the run starts and
    // refuses it with its own code: once the run is on its worker, a
    // converter's failure can only be reported as FTSTATE_ERROR, which a
    // chain passes on as E_FAIL.
    HRESULT StartFile_nothrow(BSTR in, BSTR out, ConvertFn convert, const DetectFn& check = {}) noexcept;
    HRESULT StartStream_nothrow(IUnknown* in, IUnknown* out, ConvertFn convert, const DetectFn& check = {}) noexcept;
    HRESULT SyncFile_nothrow(BSTR in, BSTR out, const ConvertFn& convert) noexcept;
    HRESULT SyncStream_nothrow(IUnknown* in, IUnknown* out, const ConvertFn& convert) noexcept;
    HRESULT Memory_nothrow(BSTR in, BSTR* out, const ConvertFn& convert, const TextToBytesFn& toBytes,
                   const BytesToTextFn& toText) noexcept;

    // "PRIORITY" must be a number from -2 to 2 and also sets the run priority.
    HRESULT PutProperty_nothrow(const VARIANT& name, const VARIANT& value) noexcept;

    Runner& Run() noexcept { return m_runner; }
    PropertyBag& Properties() noexcept { return m_properties; }
    // Components report on their worker threads, so sinks are called on
    // whatever thread fires: what the manager's inner sinks expect, and what
    // a client that talks to a component directly must be ready for (a
    // multithreaded apartment, or a free-threaded sink). Holding them
    // directly keeps a firing per progress step cheap.
    using EventSource = BasicConnectionPoint<SinkHolding::Direct>;
    EventSource& Events() noexcept { return m_events; }

private:
    static Microsoft::WRL::ComPtr<IStream> StreamOf(IUnknown* data);

    EventSource m_events;
    Runner m_runner;
    PropertyBag m_properties;
};

// Fires the events interface I of a component whose runs are in `working`.
template <class I, long working>
class EventsCore : public ComponentCore {
public:
    explicit EventsCore(IConnectionPointContainer* owner) noexcept : ComponentCore(owner, __uuidof(I), working) {}
    void OnState(long state) noexcept override { Fire([&](I* sink) { sink->StateChange(state); }); }
    void OnProgress(long progress, long maxProgress) noexcept override
    {
        Fire([&](I* sink) { sink->ProgressChange(progress, maxProgress); });
    }

protected:
    template <class Call>
    void Fire(Call&& call) noexcept { Events().template FireEach<I>(call); }
};

using ConverterCore = EventsCore<ITolviFileConverterEvents, FTSTATE_CONVERT>;

// Fires ITolviFileTranslatorEvents, PropertyChange included.
class TranslatorCore final : public EventsCore<ITolviFileTranslatorEvents, FTSTATE_TRANSLATE> {
public:
    using EventsCore::EventsCore;
    HRESULT PutPropertyAndNotify_nothrow(const VARIANT& name, const VARIANT& value) noexcept
    {
        HRESULT hr = PutProperty_nothrow(name, value);
        if (SUCCEEDED(hr))
            Fire([&](ITolviFileTranslatorEvents* sink) { sink->PropertyChange(name, value); });
        return hr;
    }
};

std::string Utf8TextToBytes(const std::wstring& text);
std::wstring Utf8BytesToText(const std::string& bytes);

} // namespace vembro::kit
