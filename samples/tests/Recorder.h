#pragma once
// Event sinks for the kit's connection points: every report as one line
// ("state 5", "progress 50/100", "property EXPANSION=0"), and a wait for the
// report that ends a run.
#include <windows.h>
#include <wrl/client.h>
#include <string>
#include <vector>

#include "vembro/com/Resource.h"
#include "vembro/Vembro.h"

namespace kittest {

class Recorder {
public:
    Recorder();
    void Add(const std::string& line);
    std::vector<std::string> Lines();
    std::vector<std::string> States();
    // True once a final state (4, 5 or 6) arrived within the time given.
    bool WaitFinal(DWORD ms = 10000);
    // True once a line starting with prefix arrived within the time given.
    bool WaitFor(const std::string& prefix, DWORD ms = 10000);

private:
    vembro::CriticalSection m_cs;
    std::vector<std::string> m_lines;
    vembro::unique_handle m_changed;
};

// A sink object for either kind of component; holds no module lock.
Microsoft::WRL::ComPtr<ITolviFileConverterEvents> MakeConverterSink(Recorder& recorder);
Microsoft::WRL::ComPtr<ITolviFileTranslatorEvents> MakeTranslatorSink(Recorder& recorder);

// Connects sink to the component's connection point for iid.
DWORD Advise(IUnknown* component, const IID& iid, IUnknown* sink);
HRESULT Unadvise(IUnknown* component, const IID& iid, DWORD cookie);

// Files in a fresh folder under %TEMP%, removed with it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::wstring Path(const wchar_t* name) const;
    static std::string Read(const std::wstring& path);
    static void Write(const std::wstring& path, const std::string& bytes);
    static bool Exists(const std::wstring& path);

private:
    std::wstring m_dir;
};

// A memory stream holding bytes, positioned at 0.
Microsoft::WRL::ComPtr<IStream> StreamOf(const std::string& bytes);
std::string ReadDocument(const char* name);

// The references an interface holds right now.
ULONG RefCount(IUnknown* p);
// Waits up to a second for the module's objects (workers included) to go.
bool ModuleLocksReachZero();

} // namespace kittest
