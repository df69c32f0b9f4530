#pragma once
// The one recording client for both event interfaces: every report as one
// line ("state 5", "progress 50/100", "property EXPANSION=0") with the thread
// it came on, and waits for the report that ends a run. The sinks are
// free-threaded, so a connection point hands them straight to whichever
// thread fires, through the virtual table or through Invoke.
#include <windows.h>
#include <wrl/client.h>
#include <functional>
#include <string>
#include <vector>

#include "vembro/com/Resource.h"
#include "vembro/Vembro.h"
#include "support/ComChecks.h"

namespace kittest {

class Recorder {
public:
    Recorder();
    void Add(const std::string& line);
    std::vector<std::string> Lines();
    std::vector<std::string> States();
    std::vector<DWORD> Threads(); // the thread of each line
    void Clear();
    // Runs inside every delivery, after its line has been recorded.
    void OnEvent(std::function<void(const std::string&)> hook);
    // True once a matching line arrived within the time given.
    bool WaitUntil(const std::function<bool(const std::string&)>& match, DWORD ms = 10000);
    bool WaitFinal(DWORD ms = 10000); // state 4, 5 or 6
    bool WaitFor(const std::string& prefix, DWORD ms = 10000);

private:
    vembro::CriticalSection m_cs;
    std::vector<std::string> m_lines;
    std::vector<DWORD> m_threads;
    std::function<void(const std::string&)> m_hook;
    vembro::unique_handle m_changed;
};

// A sink object for either kind of component; holds no module lock.
Microsoft::WRL::ComPtr<ITolviFileConverterEvents> MakeConverterSink(Recorder& recorder);
Microsoft::WRL::ComPtr<ITolviFileTranslatorEvents> MakeTranslatorSink(Recorder& recorder);

// Connects sink to the component's connection point for iid.
DWORD Advise(IUnknown* component, const IID& iid, IUnknown* sink);
HRESULT Unadvise(IUnknown* component, const IID& iid, DWORD cookie);

// A new folder under %TEMP%, removed with everything in it. Its name is
// unique: one made of the process id can belong to another live process.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::wstring Path(const wchar_t* name) const;
    std::string Folder() const; // with a trailing backslash
    std::vector<std::string> Names(const std::string& sub = "") const; // sorted
    static std::string Read(const std::wstring& path);
    static void Write(const std::wstring& path, const std::string& bytes);
    static bool Exists(const std::wstring& path);

private:
    std::wstring m_dir;
};

// A memory stream holding bytes, positioned at 0, and all a stream holds.
Microsoft::WRL::ComPtr<IStream> StreamOf(const std::string& bytes);
std::string ReadStream(IStream* stream);
std::string ReadDocument(const char* name);

// The references an interface holds right now.
using comtest::RefCount;
// Waits up to a second for the module's objects (workers included) to go.
bool ModuleLocksReachZero();

} // namespace kittest
