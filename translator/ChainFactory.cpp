#include "translator/ChainFactory.h"

#include "translator/ChainFileTranslator.h"

namespace vembro {

HRESULT CreateChainTranslator_nothrow(const CChain& chain, ITolviFileTranslator** out) noexcept
{
    return CreateAndQuery_nothrow<CComObject<CTolviChainFileTranslator>>(
        IID_ITolviFileTranslator, reinterpret_cast<void**>(out),
        [&chain](CTolviChainFileTranslator& object) { return object.SetChainOf(chain); });
}

} // namespace vembro
