#pragma once
// How the route registry hands a planned chain to a new chain translator
// without knowing the class: a new object with a copy of the chain, asked for
// ITolviFileTranslator. E_OUTOFMEMORY when the object cannot be made.
#include <windows.h>

#include "chains/Chain.h"
#include "vembro/Vembro.h"

namespace vembro {

HRESULT CreateChainTranslator_nothrow(const CChain& chain, ITolviFileTranslator** out) noexcept;

} // namespace vembro
