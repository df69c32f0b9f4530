#include "chains/RealTranslators.h"

#include <comcat.h>
#include <wrl/client.h>
#include <vector>

#include "catalogue/ComponentPairs.h"
#include "catalogue/Converters.h"
#include "catalogue/SLock.h"
#include "vembro/com/Error.h"

namespace vembro {

HRESULT CRealTranslators::Load() noexcept
try {
    CSLock<CRealTranslators> lock(this);
    if (m_bLoaded)
        return S_OK;
    // Translators declare the category whose identifier is that of
    // ITolviFileTranslator2; required categories are not checked.
    Microsoft::WRL::ComPtr<ICatInformation> manager;
    std::vector<CLSID> clsids;
    HRESULT hr = EnumCategoryClasses(manager, clsids, &IID_ITolviFileTranslator2, 1, static_cast<ULONG>(-1));
    if (FAILED(hr))
        return hr; // stays unloaded: the next caller asks again
    LoadComponentPairs<ITolviFileTranslator>(*this, clsids);
    m_bLoaded = TRUE;
    return S_OK;
}
VEMBRO_CATCH_RETURN()

BOOL CRealTranslators::HasTranslator(short src, short tgt) noexcept
{
    if (FAILED(Load()))
        return FALSE;
    CLSID clsid;
    return FindPair(src, tgt, clsid);
}

HRESULT CRealTranslators::CreateTranslator(short src, short tgt, ITolviFileTranslator** out) noexcept
try {
    return CreateComponentForPair(*this, src, tgt, out);
}
VEMBRO_CATCH_RETURN()

HRESULT CRealTranslators::GetAvailableFormats(const VARIANT& data, tagFILEDATATYPE type, CFormatIDs& out) noexcept
{
    // Translators get the normalised copy by value; a stream is handed over
    // as it is, and its position is the translator's business.
    return DetectFormats_nothrow<ITolviFileTranslator>(
        *this, data, type, out, [type](ITolviFileTranslator* translator, const VARIANT& copy) {
            return translator->IsFormatAvailable(copy, type);
        });
}

} // namespace vembro
