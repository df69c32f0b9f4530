// The process-wide registries, defined in one translation unit so that they
// are constructed at load in this order and destroyed in the reverse order.
#include "catalogue/Converters.h"
#include "catalogue/FormatsInfo.h"
#include "chains/RealTranslators.h"
#include "chains/Translators.h"
#include "translator/ChainFileTranslator.h"

namespace vembro {

CConverters g_Converters;
CFormatsInfo g_FormatsInfo;
CRealTranslators g_RealTranslators;
CTranslators g_Translators(&CreateChainTranslator_nothrow);

} // namespace vembro
