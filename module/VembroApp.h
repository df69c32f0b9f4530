#pragma once
// The application object: starts the COM module when the library is
// attached and stops it when the library is detached.
#include <windows.h>

#include "module/ComModule.h"
#include "vembro/com/Dispatch.h"

namespace vembro {

class CVembroApp {
public:
    CVembroApp() = default;
    CVembroApp(const CVembroApp&) = delete;
    CVembroApp& operator=(const CVembroApp&) = delete;

    void SetInstanceHandle(HINSTANCE instance) noexcept { m_hInstance = instance; }
    BOOL InitInstance() noexcept
    {
        g_Module.Init(m_hInstance);
        return TRUE;
    }
    int ExitInstance() noexcept
    {
        // The cached class factory goes first; the cached type descriptions
        // would otherwise outlive the module that asked for them.
        g_Module.Term();
        TypeInfoHolder::ReleaseAll();
        return 0;
    }

private:
    HINSTANCE m_hInstance = nullptr;
};

} // namespace vembro
