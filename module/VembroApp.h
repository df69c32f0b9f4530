#pragma once
// The application object: starts the COM module when the library is
// attached and stops it when the library is detached.
#include <windows.h>

namespace vembro {

class CVembroApp {
public:
    CVembroApp() = default;
    CVembroApp(const CVembroApp&) = delete;
    CVembroApp& operator=(const CVembroApp&) = delete;

    void SetInstanceHandle(HINSTANCE instance) noexcept { m_hInstance = instance; }
    BOOL InitInstance() noexcept;
    int ExitInstance() noexcept;

private:
    HINSTANCE m_hInstance = nullptr;
};

} // namespace vembro
