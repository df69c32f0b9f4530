#pragma once
// Test-side view of the configurable fake components (tests/components).
//
// A test declares exactly the installation it needs, installs it into Wine's
// registry, runs the system, and reads back the journal of every call the
// system made to the fakes. The destructor removes everything it wrote.
//
//     fakes::Installation inst;
//     inst.Converter("A2B", {1, "A", "a", "a"}, {2, "B", "b", "b"})
//         .Translator("B2C", {2, "B", "b", "b"}, {3, "C", "c", "c"}).Install();
//     ... run ...
//     EXPECT_EQ(expected, inst.Journal());
//
// Converters are listed in the catalogue, and translators registered in the
// category, in declaration order; their CLSIDs sort in that order too, so the
// registry enumerates them as declared.
#include <windows.h>
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
};

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
    // Writes the class registrations, the converter catalogue (created even
    // when empty) and the category registrations.
    void Install();
    // Leaves the catalogue key out entirely (the "missing key" installation).
    Installation& WithoutCatalogueKey();

    CLSID ClsidOf(const std::string& name) const;
    std::wstring ClsidStringOf(const std::string& name) const;
    // Every call that the fakes received since Install or ClearJournal, one
    // line each, e.g. "A2B.ConvertFile(in=C:\\x.a, out=..., info=VT_ERROR:80020004)".
    std::vector<std::string> Journal() const;
    void ClearJournal();
};

} // namespace fakes
