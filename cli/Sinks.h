#pragma once
// What the client hears during a run: a monitor that keeps the state and
// draws the progress bar, the two event sinks that feed it (called by DISPID
// through Invoke by the manager's chain translator, or through the vtable by
// components), and the Direction object handed to translators.
#include <windows.h>
#include <wrl/client.h>

#include "vembro/com/Resource.h"
#include "vembro/Vembro.h"

namespace cli {

class RunMonitor {
public:
    // converterRun: FTSTATE_READY also ends the run (converters may report it).
    RunMonitor(bool showProgress, bool converterRun);
    RunMonitor(const RunMonitor&) = delete;
    RunMonitor& operator=(const RunMonitor&) = delete;

    void OnState(long state) noexcept;
    void OnProgress(long progress, long maxProgress) noexcept;
    // Waits, pumping messages, for the state that ends the run and returns it.
    long WaitFinal() noexcept;
    // Ends the progress line.
    void Done() noexcept;

private:
    void Draw(int percent) noexcept;

    bool m_bShow;
    bool m_bConverterRun;
    vembro::CriticalSection m_cs;
    vembro::unique_handle m_done;
    long m_nFinal = -1;
    int m_nPercent = -1;
    bool m_bDrawn = false;
};

Microsoft::WRL::ComPtr<IUnknown> MakeTranslatorSink(RunMonitor& monitor);
Microsoft::WRL::ComPtr<IUnknown> MakeConverterSink(RunMonitor& monitor);
// A Direction object: read-only properties SourceFormat and TargetFormat.
Microsoft::WRL::ComPtr<IDispatch> MakeDirection(short source, short target);

} // namespace cli
