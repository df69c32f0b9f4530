#include "vembro/kit/Runner.h"

#include "vembro/com/Error.h"
#include "vembro/Vembro.h"

namespace vembro::kit {
namespace {

// Thrown through the author's code when Stop has been asked for.
struct StopSignal {};

int ThreadPriorityOf(long priority) noexcept
{
    static const int map[] = {THREAD_PRIORITY_LOWEST, THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                              THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST};
    return map[priority + 2];
}

} // namespace

void Progress::Report(long done, long total)
{
    Checkpoint();
    if (m_runner)
        m_runner->m_reports.OnProgress(done, total);
}

void Progress::Checkpoint()
{
    if (!m_runner)
        return;
    m_runner->WaitWhileSuspended();
    if (StopRequested())
        throw StopSignal{};
}

bool Progress::StopRequested() const noexcept
{
    return m_runner && m_runner->m_bStopRequested != 0;
}

Runner::Runner(RunReports& reports, IUnknown* owner, long workingState) noexcept
    : m_reports(reports), m_owner(owner), m_nWorkingState(workingState),
      m_resumeEvent(::CreateEventW(nullptr, TRUE, TRUE, nullptr))
{
}

bool Runner::BeginRun() noexcept
{
    auto lock = m_cs.Lock();
    if (m_bRunning)
        return false;
    m_bRunning = true;
    m_bSuspended = false;
    ::InterlockedExchange(&m_bStopRequested, 0);
    ::SetEvent(m_resumeEvent.get());
    m_nState = m_nWorkingState;
    return true;
}

HRESULT Runner::Start(Work work) noexcept
try {
    if (!m_resumeEvent)
        return E_OUTOFMEMORY;
    if (!BeginRun())
        return E_UNEXPECTED;
    try {
        m_thread.reset(); // a finished worker needs nothing more from us
        m_pending = std::move(work);
        // The worker keeps the component and this module loaded until it has
        // returned, whoever releases them meanwhile.
        HMODULE module = nullptr;
        if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                  reinterpret_cast<LPCWSTR>(&Runner::ThreadMain), &module))
            ThrowHr(HResultFromWin32(static_cast<LONG>(::GetLastError())));
        m_owner->AddRef();
        m_thread.reset(::CreateThread(nullptr, 0, &Runner::ThreadMain, this, CREATE_SUSPENDED, nullptr));
        if (!m_thread) {
            HRESULT hr = HResultFromWin32(static_cast<LONG>(::GetLastError()));
            m_owner->Release();
            ::FreeLibrary(module);
            ThrowHr(hr);
        }
        ::SetThreadPriority(m_thread.get(), ThreadPriorityOf(m_nPriority));
        m_reports.OnState(m_nWorkingState);
        ::ResumeThread(m_thread.get());
        return S_OK;
    } catch (...) {
        m_pending = nullptr;
        auto lock = m_cs.Lock();
        m_bRunning = false;
        m_nState = FTSTATE_READY;
        throw;
    }
}
VEMBRO_CATCH_RETURN()

DWORD WINAPI Runner::ThreadMain(void* param) noexcept
{
    auto* self = static_cast<Runner*>(param);
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&Runner::ThreadMain), &module);
    HRESULT init = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        Work work = std::move(self->m_pending);
        self->m_pending = nullptr;
        HRESULT hr = SUCCEEDED(init) ? self->Execute(work) : init;
        work = nullptr; // the streams the work holds go before COM does
        self->Finish(hr);
    }
    IUnknown* owner = self->m_owner;
    owner->Release(); // may destroy self
    if (SUCCEEDED(init))
        ::CoUninitialize();
    ::FreeLibraryAndExitThread(module, 0);
}

// Once Stop has been asked for, the run ends stopped whatever the author's
// code made of the signal: caught and turned into an error of its own,
// swallowed, or let through.
HRESULT Runner::Execute(const Work& work) noexcept
{
    HRESULT hr = S_OK;
    try {
        Progress progress(this);
        work(progress);
    } catch (const StopSignal&) {
        hr = kStoppedResult;
    } catch (...) {
        hr = ResultFromCaughtException();
    }
    return m_bStopRequested ? kStoppedResult : hr;
}

void Runner::Finish(HRESULT hr) noexcept
{
    auto reportLock = m_reportCs.Lock();
    long state;
    {
        auto lock = m_cs.Lock();
        m_bRunning = false;
        m_bSuspended = false;
        m_nState = hr == kStoppedResult ? FTSTATE_STOPPED : FAILED(hr) ? FTSTATE_ERROR : FTSTATE_TRANSLATE_COMPLETE;
        m_hrError = hr == kStoppedResult ? S_OK : hr;
        state = m_nState;
    }
    m_reports.OnState(state);
}

HRESULT Runner::RunSync_nothrow(const Work& work) noexcept
{
    if (!BeginRun())
        return E_UNEXPECTED;
    m_reports.OnState(m_nWorkingState);
    int previous = ::GetThreadPriority(::GetCurrentThread());
    ::SetThreadPriority(::GetCurrentThread(), ThreadPriorityOf(m_nPriority));
    HRESULT hr = Execute(work);
    ::SetThreadPriority(::GetCurrentThread(), previous);
    Finish(hr);
    return hr;
}

HRESULT Runner::Stop() noexcept
{
    {
        auto lock = m_cs.Lock();
        ::InterlockedExchange(&m_bStopRequested, 1);
        if (m_bRunning) {
            ::SetEvent(m_resumeEvent.get()); // a suspended run must wake up to stop
            return S_OK;
        }
        // Nothing runs: the caller still waits for the stopped report.
        m_nState = FTSTATE_STOPPED;
    }
    m_reports.OnState(FTSTATE_STOPPED);
    return S_OK;
}

HRESULT Runner::Suspend() noexcept
{
    {
        auto lock = m_cs.Lock();
        if (!m_bRunning)
            return E_UNEXPECTED;
        if (m_bSuspended)
            return S_FALSE;
        m_bSuspended = true;
        m_nState = FTSTATE_SUSPEND;
        ::ResetEvent(m_resumeEvent.get());
    }
    ReportIfStill(FTSTATE_SUSPEND);
    return S_OK;
}

HRESULT Runner::Resume() noexcept
{
    {
        auto lock = m_cs.Lock();
        if (!m_bSuspended)
            return S_FALSE;
        m_bSuspended = false;
        m_nState = m_nWorkingState;
    }
    // Sinks hear that the run goes on before the worker can report again.
    ReportIfStill(m_nWorkingState);
    auto lock = m_cs.Lock();
    if (!m_bSuspended) // unless a Suspend came in meanwhile
        ::SetEvent(m_resumeEvent.get());
    return S_OK;
}

// Suspend and Resume report after letting go of the run's lock, so that a
// sink may call back in; the report lock keeps such a report from overtaking
// the run's final one, and a run that has ended meanwhile reports nothing more.
void Runner::ReportIfStill(long state) noexcept
{
    auto reportLock = m_reportCs.Lock();
    {
        auto lock = m_cs.Lock();
        if (!m_bRunning || m_nState != state)
            return;
    }
    m_reports.OnState(state);
}

HRESULT Runner::SetPriority_nothrow(long priority) noexcept
{
    if (priority < -2 || priority > 2)
        return E_INVALIDARG;
    auto lock = m_cs.Lock();
    m_nPriority = priority;
    if (m_bRunning && m_thread)
        ::SetThreadPriority(m_thread.get(), ThreadPriorityOf(priority));
    return S_OK;
}

} // namespace vembro::kit
