#include "pseudoloc/PseudoTranslator.h"

#include "vembro/com/Error.h"
#include "common/Sniff.h"
#include "pseudoloc/Pseudo.h"
#include "vembro/kit/Data.h"

namespace samples {

// {EB073A97-6E24-4B59-A16D-3B59D7EBEBE2}
const CLSID CLSID_SamplePseudoTranslator = {0xeb073a97, 0x6e24, 0x4b59, {0xa1, 0x6d, 0x3b, 0x59, 0xd7, 0xeb, 0xeb, 0xe2}};

HRESULT CPseudoTranslator::Detect(const std::string& head)
{
    return LooksLikeHtml(head) ? S_OK : S_FALSE;
}

void CPseudoTranslator::Translate(IDispatch*, IStream* in, IStream* out, vembro::kit::Progress& progress)
{
    long expansion = kDefaultExpansion;
    if (Properties().GetLong(L"EXPANSION", expansion) && (expansion < 0 || expansion > 1000))
        vembro::ThrowHr(E_INVALIDARG);
    vembro::kit::TransformDocument(in, out, progress,
                                   [expansion](const std::string& html) { return PseudoLocaliseHtml(html, expansion); });
}

} // namespace samples
