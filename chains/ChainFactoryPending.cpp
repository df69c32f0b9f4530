// TEMPORARY, to be deleted when the chain translator branch is merged: it
// provides the real CreateChainTranslator. Until then a planned chain cannot
// be handed out as an object, and the route registry answers E_NOTIMPL for
// every pair that no single translator handles.
#include "translator/ChainFactory.h"

namespace vembro {

HRESULT CreateChainTranslator(const CChain&, ITolviFileTranslator** out) noexcept
{
    if (out)
        *out = nullptr;
    return E_NOTIMPL;
}

} // namespace vembro
