#pragma once
// Test-side view of the configurable fake components (tests/components). A
// test declares the installation it needs, installs it into Wine's registry,
// runs the system and reads back the journal of every call the system made
// to the fakes; the destructor removes everything it wrote. Converters are
// listed in the catalogue, and translators in the category, in declaration
// order (their CLSIDs sort in that order too). The CLSIDs are the same in
// every test, so one installation exists at a time; Install first removes
// what an earlier test that died early may have left.
//
// Journal lines, one per call, "<name>.<call>(<arguments>)": A2B.Create,
// A2B.Destroy (class factory, last Release), A2B.SourceFormat, B2C.Error,
// A2B.IsFormatAvailableStream(stream=@3) (a stream by its position),
// B2C.IsFormatAvailable(data=VT_BSTR:C:\x.b, type=0),
// A2B.ConvertFile(in=C:\x.a, out=C:\t1, info=VT_ERROR:80020004),
// B2C.TranslateStream(direction=set, in=@0, out=@0, info=...),
// B2C.put_Property(PRIORITY=VT_I4:0), A2B.Stop(info=...),
// A2B.Advise(cookie=1) or A2B.Advise(refused), A2B.Unadvise(cookie=1).
// A null BSTR is "<null>", a null pointer "null". Reports, in Trace() only:
// "A2B>StateChange(5)", "A2B>ProgressChange(1,2)", "B2C>PropertyChange(N=VT_I4:1)".
//
// A run (Convert*/Translate*): startResult < 0 is returned at once with
// nothing done. Otherwise the copy is made (Complete and Ready only), the
// progress reported, then the finish state; inside the call, or, with
// `worker`, from a new MTA thread that holds the component until it is done
// (WaitIdle waits for it). Stop reports stopReport the same way unless
// stopResult < 0. Sync* calls report inside the call and return syncResult
// (or the copy's failure); syncResult < 0 does nothing. Sinks are called in
// Advise order; with dispatchEvents through Invoke with the locale 0x409.
#include <windows.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace fakes {

struct Format {
    short id = -1;
    std::string name;
    std::string defaultExt;
    std::string exts;
    bool complex = false;
};

enum class Finish {
    Complete,  // reports FTSTATE_TRANSLATE_COMPLETE (5)
    Ready,     // reports FTSTATE_READY (0)
    Error,     // reports FTSTATE_ERROR (6); a translator's Error gives errorCode
    Stopped,   // reports FTSTATE_STOPPED (4)
    Suspend,   // reports FTSTATE_SUSPEND (3) and then nothing more until Stop
    Nothing    // reports nothing until Stop (then FTSTATE_STOPPED)
};

// Where a fake waits for the test's gate, the named event kGateName (at most
// kGateTimeoutMs), writing "<name>.Gate(open)" or "<name>.Gate(timeout)".
enum class Gate { None, Create, Start, Work };
inline constexpr wchar_t kGateName[] = L"Local\\VembroTests.Gate";
inline constexpr DWORD kGateTimeoutMs = 3000;

struct Behaviour {
    HRESULT detect = S_FALSE;            // answer of every IsFormatAvailable* probe ...
    std::string detectIfContains;        // ... unless set: S_OK if the data contains it, else S_FALSE
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

// What the fakes write: a copy of the input followed by one line naming the
// component, so the output shows the route a document took. A failing copy
// (an unreadable input, say) is reported as FTSTATE_ERROR with its HRESULT.
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
    // Leaves the catalogue key out entirely (the "missing key" installation).
    Installation& WithoutCatalogueKey();
    // Raw registry pieces for the catalogue's edge cases: a catalogue subkey
    // of any name, HKCR\<progId>\CLSID naming a declared fake, and
    // HKCR\<progId>\CurVer holding a string or any registry type and content.
    Installation& CatalogueEntry(const std::string& subkey);
    Installation& CatalogueEntry(const std::wstring& subkey);
    Installation& ProgId(const std::string& progId, const std::string& fakeName);
    Installation& CurVer(const std::string& progId, const std::string& curVer);
    Installation& CurVerRaw(const std::string& progId, DWORD type, const std::vector<BYTE>& data);

    CLSID ClsidOf(const std::string& name) const;
    std::wstring ClsidStringOf(const std::string& name) const;
    // Every call that the fakes received since Install or ClearJournal; only
    // the lines that contain `part`; the calls with the reports among them.
    std::vector<std::string> Journal() const;
    std::vector<std::string> Journal(const std::string& part) const;
    std::vector<std::string> Trace() const;
    void ClearJournal();

    // Waits until no fake has a worker thread running (their reports, and
    // whatever the receivers did inside them, are over). False on timeout.
    bool WaitIdle(DWORD timeoutMs = 10000) const;
    // Fake objects alive in this process (components, formats), and those of one fake.
    long LiveObjects() const;
    long LiveInstances(const std::string& name) const;
    // Makes every live object of the fake report now, on this thread, to its
    // sinks (e.g. a late report from the last step of a finished run);
    // answers how many objects did.
    long Report(const std::string& name, long state) const;
    long ReportProgress(const std::string& name, long progress, long maxProgress) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace fakes
