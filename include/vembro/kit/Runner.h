#pragma once
// The life of one component's job: asynchronous on a worker thread of its
// own or synchronous in the caller's thread, with the state machine that the
// manager's chain listens to (working state, then COMPLETE, STOPPED or ERROR),
// progress reports, Stop, Suspend and Resume, and the run priority.
#include <windows.h>
#include <functional>

#include "vembro/com/Resource.h"

namespace vembro::kit {

// Where the runner reports; the component turns these into its events.
class RunReports {
public:
    virtual void OnState(long state) noexcept = 0;
    virtual void OnProgress(long progress, long maxProgress) noexcept = 0;

protected:
    ~RunReports() = default;
};

class Runner;

// What the author's conversion sees of the run.
class Progress {
public:
    explicit Progress(Runner* runner) noexcept : m_runner(runner) {}
    // Reports done out of total (total > 0); also a checkpoint.
    void Report(long done, long total);
    // Throws the stop signal once Stop has been asked for, and waits here
    // while the run is suspended.
    void Checkpoint();
    bool StopRequested() const noexcept;

private:
    Runner* m_runner; // null: a run without reports (ConvertMemory, TranslateText)
};

using Work = std::function<void(Progress&)>;

// The result of a synchronous run that Stop ended.
constexpr HRESULT kStoppedResult = E_ABORT;

class Runner {
public:
    // workingState: FTSTATE_CONVERT for converters, FTSTATE_TRANSLATE for
    // translators. owner is kept alive while a worker thread runs.
    Runner(RunReports& reports, IUnknown* owner, long workingState) noexcept;
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;
    // The worker holds the owner, so a runner is destroyed either by its own
    // worker dropping the last reference or after the worker has dropped it;
    // past that point the worker touches nothing of the runner. Nobody waits
    // for it: it keeps the module loaded until it has returned.
    ~Runner() = default;

    // E_UNEXPECTED while a run is in progress; otherwise the thread is
    // started and S_OK returned: the outcome arrives as state reports.
    HRESULT Start(Work work) noexcept;
    // The whole run in this thread, with the same reports; returns its result.
    HRESULT RunSync_nothrow(const Work& work) noexcept;

    HRESULT Stop() noexcept;
    HRESULT Suspend() noexcept;
    HRESULT Resume() noexcept;
    long State() noexcept { auto lock = m_cs.Lock(); return m_nState; }
    HRESULT Error() noexcept { auto lock = m_cs.Lock(); return m_hrError; }
    bool Running() noexcept { auto lock = m_cs.Lock(); return m_bRunning; }
    // -2 (lowest) to 2 (highest); applies to the running and later runs.
    HRESULT SetPriority_nothrow(long priority) noexcept;

private:
    friend class Progress;
    static DWORD WINAPI ThreadMain(void* param) noexcept;
    HRESULT Execute(const Work& work) noexcept;
    void Finish(HRESULT hr) noexcept;
    bool BeginRun() noexcept;
    void WaitWhileSuspended() noexcept { ::WaitForSingleObject(m_resumeEvent.get(), INFINITE); }
    void ReportIfStill(long state) noexcept;

    RunReports& m_reports;
    IUnknown* m_owner;
    const long m_nWorkingState;
    CriticalSection m_cs;
    CriticalSection m_reportCs; // orders Suspend's and Resume's reports with the final one
    long m_nState = 0;          // FTSTATE_READY
    HRESULT m_hrError = S_OK;
    long m_nPriority = 0;
    bool m_bRunning = false;
    bool m_bSuspended = false;
    LONG volatile m_bStopRequested = 0;
    unique_handle m_resumeEvent;
    unique_handle m_thread;
    Work m_pending;
};

} // namespace vembro::kit
