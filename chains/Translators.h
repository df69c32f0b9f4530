#pragma once
// The route registry g_Translators: plans, once per process, every route of
// up to three steps and hands out the translator for a pair.
#include <windows.h>

#include "chains/Chain.h"
#include "vembro/com/Resource.h"
#include "vembro/Vembro.h"

namespace vembro {

class CTranslators {
public:
    HRESULT Build();   // lets failures thrown during planning pass to the caller
    void GetSourceIDs(CFormatIDs& out) const;
    void GetTargetIDs(short src, CFormatIDs& out) const;
    BOOL HasRoute(short src, short tgt);
    HRESULT CreateTranslator(short src, short tgt, ITolviFileTranslator** out) noexcept;
    HRESULT GetAvailableFormats(const VARIANT& data, tagFILEDATATYPE type, CFormatIDs& out);

    BOOL m_bBuilt = FALSE;
    CriticalSection m_cs;
    CPairChains m_PairChains;
};

extern CTranslators g_Translators;

} // namespace vembro
