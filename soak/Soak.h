#pragma once
// What the soak's hostile pass shares with the rest of the soak.
#include <windows.h>
#include <wrl/client.h>

#include <stdexcept>
#include <string>

#include "vembro/com/Resource.h"
#include "vembro/com/Strings.h"
#include "vembro/Vembro.h"

namespace soak {

// Throws for a failure, naming what failed.
void CheckHr(const char* what, HRESULT hr);
Microsoft::WRL::ComPtr<ITolviFTManager> CreateManager();
HRESULT Translator(ITolviFTManager* manager, short source, short target, ITolviFileTranslator** out);
// DllCanUnloadNow of the loaded Vembro.DLL (S_OK when it is not loaded).
HRESULT CanUnloadNow();
// The system's temporary files now.
long TempFiles();
int RunHostile();

} // namespace soak
