#pragma once
// The translator registry g_RealTranslators: every class in the component
// category whose identifier equals IID_ITolviFileTranslator2, each asked once
// per process for its pair.
#include <windows.h>

#include "catalogue/FormatPairs.h"
#include "vembro/com/Resource.h"
#include "vembro/Vembro.h"

namespace vembro {

class CRealTranslators : public CFormatPairs {
public:
    HRESULT Load() noexcept;
    BOOL HasTranslator(short src, short tgt) noexcept;
    HRESULT CreateTranslator(short src, short tgt, ITolviFileTranslator** out) noexcept;
    HRESULT GetAvailableFormats(const VARIANT& data, tagFILEDATATYPE type, CFormatIDs& out) noexcept;

    BOOL m_bLoaded = FALSE;
    CriticalSection m_cs;
};

extern CRealTranslators g_RealTranslators;

} // namespace vembro
