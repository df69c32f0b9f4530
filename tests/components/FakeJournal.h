#pragma once
// The record of everything the system did to the fakes, shared by every fake
// object of the process and read by the tests through the module's exports.
// Fakes report from worker threads, so every entry point is thread safe.
#include <windows.h>
#include <string>

namespace fakes {

// A call that the system made, e.g. "A2B.Stop(info=VT_ERROR:80020004)".
void JournalCall(const std::string& line);
// What a fake reported to its sinks, e.g. "A2B>StateChange(5)".
void JournalReport(const std::string& line);

// Worker threads in flight: counted so that tests can wait for quiet.
void WorkerStarted() noexcept;
void WorkerFinished() noexcept;

} // namespace fakes

// The test side finds these by name in the module that COM loaded.
extern "C" {
typedef void (*FakeJournalCallback)(const char* line, void* context);
void FakeJournalEnum(BOOL withReports, FakeJournalCallback callback, void* context);
void FakeJournalClear();
BOOL FakeWaitIdle(DWORD timeoutMs);
LONG FakeLiveObjects();
}
