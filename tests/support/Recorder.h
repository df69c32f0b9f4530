#pragma once
// The one recording client for both event interfaces: every report as a line ("state 5", "progress 50/100", "property
// EXPANSION=0"); its sinks are free-threaded: whichever thread fires reaches them directly.
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
    void Add(const std::string& line);
    std::vector<std::string> Lines();
    std::vector<std::string> States();
    void Clear();
    void OnEvent(std::function<void(const std::string&)> hook); // runs after each line is recorded
    bool WaitFinal(DWORD ms = 10000); // true once state 4, 5 or 6 arrived in time
    bool WaitFor(const std::string& prefix, DWORD ms = 10000); // or a line with that prefix

private:
    bool WaitUntil(const std::function<bool(const std::string&)>& match, DWORD ms);
    vembro::CriticalSection m_cs;
    std::vector<std::string> m_lines;
    std::function<void(const std::string&)> m_hook;
    vembro::unique_handle m_changed{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
};

// A sink object for either kind of component; holds no module lock. `noteLetGo`: records "let go" each time
// its count falls back to what its maker holds: whoever it was lent to let go.
Microsoft::WRL::ComPtr<ITolviFileConverterEvents> MakeConverterSink(Recorder& recorder);
Microsoft::WRL::ComPtr<ITolviFileTranslatorEvents> MakeTranslatorSink(Recorder& recorder, bool noteLetGo = false);

DWORD Advise(IUnknown* component, const IID& iid, IUnknown* sink);

// A new folder under %TEMP% with a unique name, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::wstring Path(const wchar_t* name) const;
    std::string Folder() const; // with a trailing backslash
    std::vector<std::string> Names(const std::string& sub = "") const; // sorted
    static std::string Read(const std::wstring& path);
    static void Write(const std::wstring& path, const std::string& bytes);

private:
    std::wstring m_dir;
};

// A memory stream holding bytes, at position `at`; where a stream is.
Microsoft::WRL::ComPtr<IStream> StreamOf(const std::string& bytes, LONGLONG at = 0);
ULONGLONG Position(IStream* stream);
std::string ReadDocument(const char* name);

using comtest::RefCount;
// Waits up to a second for the module's objects (workers included) to go.
bool ModuleLocksReachZero();

} // namespace kittest
