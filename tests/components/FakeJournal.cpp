#include "components/FakeJournal.h"

#include <vector>

#include "vembro/com/Module.h"
#include "vembro/com/Resource.h"

namespace fakes {
namespace {

struct Entry {
    bool report;
    std::string text;
};

struct JournalStore {
    vembro::CriticalSection cs;
    std::vector<Entry> entries;
};

JournalStore& Store()
{
    static JournalStore store;
    return store;
}

struct WorkerCount {
    WorkerCount()
    {
        ::InitializeCriticalSection(&cs);
        ::InitializeConditionVariable(&idle);
    }
    ~WorkerCount() { ::DeleteCriticalSection(&cs); }
    CRITICAL_SECTION cs;
    CONDITION_VARIABLE idle;
    long running = 0;
};

WorkerCount& Workers()
{
    static WorkerCount workers;
    return workers;
}

void Append(bool report, const std::string& line)
{
    JournalStore& s = Store();
    auto lock = s.cs.Lock();
    s.entries.push_back({report, line});
}

} // namespace

void JournalCall(const std::string& line) { Append(false, line); }
void JournalReport(const std::string& line) { Append(true, line); }

void WorkerStarted() noexcept
{
    WorkerCount& w = Workers();
    ::EnterCriticalSection(&w.cs);
    ++w.running;
    ::LeaveCriticalSection(&w.cs);
}

void WorkerFinished() noexcept
{
    WorkerCount& w = Workers();
    ::EnterCriticalSection(&w.cs);
    if (--w.running == 0)
        ::WakeAllConditionVariable(&w.idle);
    ::LeaveCriticalSection(&w.cs);
}

} // namespace fakes

extern "C" {

void FakeJournalEnum(BOOL withReports, FakeJournalCallback callback, void* context)
{
    if (!callback)
        return;
    // Copied first: the callback must not run under the journal's lock.
    std::vector<fakes::Entry> copy;
    try {
        fakes::JournalStore& s = fakes::Store();
        auto lock = s.cs.Lock();
        copy = s.entries;
    } catch (...) {
        return;
    }
    for (const auto& e : copy) {
        if (withReports || !e.report)
            callback(e.text.c_str(), context);
    }
}

void FakeJournalClear()
{
    fakes::JournalStore& s = fakes::Store();
    auto lock = s.cs.Lock();
    s.entries.clear();
}

BOOL FakeWaitIdle(DWORD timeoutMs)
{
    fakes::WorkerCount& w = fakes::Workers();
    DWORD start = ::GetTickCount();
    ::EnterCriticalSection(&w.cs);
    while (w.running > 0) {
        DWORD elapsed = ::GetTickCount() - start;
        if (elapsed >= timeoutMs || !::SleepConditionVariableCS(&w.idle, &w.cs, timeoutMs - elapsed))
            break;
    }
    BOOL idle = w.running == 0;
    ::LeaveCriticalSection(&w.cs);
    return idle;
}

LONG FakeLiveObjects() { return vembro::ModuleLockCount(); }
}
