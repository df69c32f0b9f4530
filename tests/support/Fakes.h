#pragma once
// The configurable fake components (tests/components), seen from a test: it declares an installation, installs it into
// the registry, runs the system and reads back the journal of the calls the fakes received; the destructor removes
// what Install wrote. Converters enter the catalogue, and translators the category, in declaration order. CLSIDs are
// the same in every test (one installation at a time); Install first clears leftovers.
// Journal lines, one per call: "A2B.Create", "A2B.Destroy", "A2B.SourceFormat", "A2B.IsFormatAvailableStream(stream=@3)",
// "B2C.IsFormatAvailable(data=VT_BSTR:C:\x.b, type=0)", "A2B.ConvertFile(in=C:\x.a, out=C:\t1, info=VT_ERROR:80020004)",
// "B2C.TranslateStream(direction=set, in=@0, out=@0, info=...)", "B2C.put_Property(PRIORITY=VT_I4:0)",
// "A2B.Stop(info=...)", "A2B.Advise(cookie=1)" or "(refused)", "A2B.Unadvise(cookie=1)".
// A run: startResult < 0 returns at once. Otherwise the copy (Complete and Ready only), the progress, then the finish
// state; inside the call, or with `worker` from a new thread (WaitIdle waits for it). Sync* calls do the same inside
// the call and return syncResult or the copy's failure.
#include <windows.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace fakes {

struct Format { short id = -1; std::string name, defaultExt, exts; bool complex = false; };

enum class Finish {
    Complete,  // reports FTSTATE_TRANSLATE_COMPLETE (5)
    Ready,     // reports FTSTATE_READY (0)
    Error,     // reports FTSTATE_ERROR (6); a translator's Error gives errorCode
    Stopped,   // reports FTSTATE_STOPPED (4)
    Suspend,   // reports FTSTATE_SUSPEND (3) and then nothing more until Stop
    Nothing    // reports nothing until Stop (then FTSTATE_STOPPED)
};

// Where a fake waits (at most kGateTimeoutMs) for the event kGateName,
// journalling "<name>.Gate(open)" or "<name>.Gate(timeout)".
enum class Gate { None, Create, Work };
inline constexpr wchar_t kGateName[] = L"Local\\VembroTests.Gate";
inline constexpr DWORD kGateTimeoutMs = 3000;

struct Behaviour {
    HRESULT detect = S_FALSE;            // answer of every IsFormatAvailable* probe
    HRESULT createResult = S_OK;         // class factory failure when negative
    HRESULT sourceFormatResult = S_OK;   // get_SourceFormat failure when negative
    HRESULT targetFormatResult = S_OK;   // get_TargetFormat failure when negative
    bool nullSourceFormat = false;       // get_SourceFormat answers S_OK with null
    HRESULT startResult = S_OK;          // result of ConvertFile/ConvertStream/TranslateFile/TranslateStream
    HRESULT syncResult = S_OK;           // result of the Sync* calls when non-negative work was done
    HRESULT stopResult = S_OK;           // result of Stop
    Finish finish = Finish::Complete;
    HRESULT errorCode = E_FAIL;          // a translator's Error property after Finish::Error
    bool worker = false;                 // report from a worker thread, not inside the start call
    std::vector<std::pair<long, long>> progress; // ProgressChange reports before the final state
    bool noSync = false;                 // no ITolviFileConverter3 / ITolviFileTranslator2
    bool noEvents = false;               // no IConnectionPointContainer
    std::string progId;                  // converters: list under this ProgID instead of the braced CLSID
    bool dispatchEvents = false;         // call the sinks through IDispatch::Invoke, not their vtable
    HRESULT propertyResult = S_OK;       // result of get_Property/put_Property when negative
    bool propertyEvents = false;         // translators: fire PropertyChange for every put_Property
    bool unlisted = false;               // registered as a class, but not in the catalogue or category
    long stopReport = 4;                 // what Stop reports: FTSTATE_STOPPED, or 5 / 0 (it finished), -1 nothing
    Gate gate = Gate::None;              // in the class factory, in the start call, or before the work
};

// A fake's output: the input and this line, so it shows the route taken. A
// failing copy ends as FTSTATE_ERROR with its HRESULT.
inline std::string RouteLine(const std::string& name) { return "[" + name + "]\n"; }

class Installation {
public:
    Installation();
    ~Installation();
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    Installation& Converter(const std::string& name, const Format& source, const Format& target,
                            const Behaviour& behaviour = {});
    Installation& Translator(const std::string& name, const Format& source, const Format& target,
                             const Behaviour& behaviour = {});
    // Writes the classes, the converter catalogue (even when empty) and the category.
    void Install();
    // After Install: what the fake's class objects made from now on do.
    void Change(const std::string& name, const Behaviour& behaviour);
    // Raw registry pieces: a catalogue subkey, HKCR\<progId>\CLSID naming a
    // fake, HKCR\<progId>\CurVer as a string or any type and content.
    Installation& CatalogueEntry(const std::string& subkey);
    Installation& CatalogueEntry(const std::wstring& subkey);
    Installation& ProgId(const std::string& progId, const std::string& fakeName);
    Installation& CurVer(const std::string& progId, const std::string& curVer);
    Installation& CurVerRaw(const std::string& progId, DWORD type, const std::vector<BYTE>& data);

    CLSID ClsidOf(const std::string& name) const;
    // The calls since Install or ClearJournal; only those containing `part`.
    std::vector<std::string> Journal() const;
    std::vector<std::string> Journal(const std::string& part) const;
    void ClearJournal();

    // Until no fake's worker thread runs; false on timeout.
    bool WaitIdle(DWORD timeoutMs = 10000) const;
    // Fake objects alive (components, formats).
    long LiveObjects() const;
    // Every live object of the fake reports now, on this thread; answers how many did.
    long Report(const std::string& name, long state) const;
    long ReportProgress(const std::string& name, long progress, long maxProgress) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace fakes
