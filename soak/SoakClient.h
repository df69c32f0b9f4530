#pragma once
// The soak's client side: COM set-up, Vembro.DLL's registration, the
// manager, client threads that run translations and what they count.
#include <windows.h>
#include <objbase.h>
#include <wrl/client.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "vembro/com/Resource.h"
#include "vembro/Vembro.h"

namespace soak {

// A run that has not ended after this long is stuck.
constexpr DWORD kRunBoundMs = 20000;

struct ComInit {
    explicit ComInit(bool sta) : hr(::CoInitializeEx(nullptr, sta ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED)) {}
    ~ComInit()
    {
        if (SUCCEEDED(hr))
            ::CoUninitialize();
    }
    HRESULT hr;
};

// DllRegisterServer of the Vembro.DLL next to the soak's folder, and
// DllUnregisterServer at the end.
struct Registration {
    Registration();
    ~Registration();
    bool ok = false;
};

void CheckHr(const char* what, HRESULT hr);
Microsoft::WRL::ComPtr<ITolviFTManager> CreateManager();
HRESULT Translator(ITolviFTManager* manager, short source, short target, ITolviFileTranslator** out);
VARIANT I2(short value);
// DllCanUnloadNow of the loaded Vembro.DLL (S_OK when it is not loaded).
HRESULT CanUnloadNow();
std::string TempFolder();
size_t TempFiles(const std::string& folder);
// Their names, each with its first line, for a report.
std::string TempFileNames(const std::string& folder);

// A thread with COM of its own for its whole life.
class Thread {
public:
    Thread(bool sta, std::function<void()> work);
    ~Thread() { Join(); }
    void Join();

private:
    static DWORD WINAPI Main(void* self);
    bool m_sta;
    std::function<void()> m_work;
    vembro::unique_handle m_thread;
};

// Waits for `event`; a single-threaded apartment keeps its messages moving.
bool Wait(HANDLE event, bool sta, DWORD timeoutMs);

struct Tally {
    std::atomic<long> runs{0}, files{0}, streams{0}, syncRuns{0}, steps[4]{};
    std::atomic<long> completed{0}, stopped{0}, failed{0}, endedSilently{0}, abandoned{0}, stopsSent{0};
    std::atomic<long> deadSinks{0}, unadvisedInside{0};
    std::atomic<long> endedTwice{0}, notEnded{0}, startRefused{0};
    void Print() const;
    bool Clean() const { return endedTwice == 0 && notEnded == 0 && startRefused == 0; }
};

struct Options {
    // Single-threaded clients' sinks reached through the type-library
    // marshaller (else they aggregate the free-threaded marshaler).
    bool marshalledSinks = false;
    // Some runs also get a client sink whose apartment has ended (implies
    // marshalled sinks).
    bool deadSinks = false;
};

struct ClientPlan {
    size_t family;
    const char* name;
    short a, b, c, d; // the family's four formats
    bool mustStop;    // its components wait for Stop
    bool abandons;    // they never answer it: the client lets go
};

class Client {
public:
    // onRun is told the number of runs done after each one.
    Client(int id, bool sta, int runs, Options options, const std::vector<ClientPlan>& plans, Tally& tally,
           std::function<void(int)> onRun);
    // Lets the thread leave its apartment, and waits for it.
    ~Client();
    bool Finished() const { return m_finished; }
    // A description of the current run when it has been going for longer
    // than boundMs, else empty.
    std::string StuckRun(DWORD boundMs) const;

private:
    void Main();
    void RunOnce(ITolviFTManager* manager, unsigned seed);

    int m_id;
    bool m_sta;
    int m_runs;
    Options m_options;
    const std::vector<ClientPlan>& m_plans;
    Tally& m_tally;
    std::function<void(int)> m_onRun;
    std::atomic<bool> m_finished{false};
    vembro::unique_handle m_leave{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<ULONGLONG> m_runStart{0};
    mutable vembro::CriticalSection m_cs;
    std::string m_current;
    std::string m_in;
    std::string m_out;
    Thread m_thread;
};

int RunHostile();

} // namespace soak
