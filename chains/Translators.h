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
    // Makes the chain translator for a planned chain. The route registry does
    // not know that class: the module hands its maker over at construction.
    using ChainMaker = HRESULT (*)(const CChain& chain, ITolviFileTranslator** out) noexcept;
    explicit CTranslators(ChainMaker makeChain) noexcept : m_pfnMakeChain(makeChain) {}

    HRESULT Build();   // lets failures thrown during planning pass to the caller
    void GetSourceIDs(CFormatIDs& out) const;
    void GetTargetIDs(short src, CFormatIDs& out) const;
    BOOL HasRoute(short src, short tgt);
    HRESULT CreateTranslator(short src, short tgt, ITolviFileTranslator** out) noexcept;
    HRESULT GetAvailableFormats(const VARIANT& data, tagFILEDATATYPE type, CFormatIDs& out);

    BOOL m_bBuilt = FALSE;
    CriticalSection m_cs;
    CPairChains m_PairChains;

private:
    ChainMaker m_pfnMakeChain;
};

extern CTranslators g_Translators;

} // namespace vembro
