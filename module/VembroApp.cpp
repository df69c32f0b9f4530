#include "module/VembroApp.h"

#include "vembro/com/Dispatch.h"
#include "module/ComModule.h"

namespace vembro {

BOOL CVembroApp::InitInstance() noexcept
{
    g_Module.Init(m_hInstance);
    return TRUE;
}

int CVembroApp::ExitInstance() noexcept
{
    // The cached class factory goes first; the cached type descriptions
    // would otherwise outlive the module that asked for them.
    g_Module.Term();
    TypeInfoHolder::ReleaseAll();
    return 0;
}

} // namespace vembro
