#pragma once
// The translator registry g_RealTranslators: every class in the component
// category whose identifier equals IID_ITolviFileTranslator2, each asked once
// per process for its pair.
#include <windows.h>

#include <vector>

#include "catalogue/FormatPairs.h"
#include "vembro/com/Resource.h"
#include "vembro/Vembro.h"

namespace vembro {

// Finding the translator classes reads every class registration of the
// machine, which takes as long as creating a hundred components. While the
// converters load, a worker thread looks the classes up, so that the first
// plan does not wait for the two in turn. Nothing is observable from it: no
// component is created and nothing is entered anywhere before Load takes
// the list.
class CTranslatorClassesLookahead {
public:
    explicit CTranslatorClassesLookahead(bool start) noexcept;
    ~CTranslatorClassesLookahead();
    CTranslatorClassesLookahead(const CTranslatorClassesLookahead&) = delete;
    CTranslatorClassesLookahead& operator=(const CTranslatorClassesLookahead&) = delete;
    // Waits for the worker; false when it could not find the classes, and
    // the caller then looks them up itself, with its own result code.
    bool Take(std::vector<CLSID>& clsids) noexcept;

private:
    static DWORD WINAPI Run(void* self) noexcept;
    unique_handle m_thread;
    HRESULT m_hr = E_FAIL;
    std::vector<CLSID> m_clsids;
};

class CRealTranslators : public CFormatPairs {
public:
    HRESULT Load(CTranslatorClassesLookahead* lookahead = nullptr) noexcept;
    BOOL IsLoaded() noexcept;
    BOOL HasTranslator(short src, short tgt) noexcept;
    HRESULT CreateTranslator(short src, short tgt, ITolviFileTranslator** out) noexcept;
    HRESULT GetAvailableFormats(const VARIANT& data, tagFILEDATATYPE type, CFormatIDs& out) noexcept;

    BOOL m_bLoaded = FALSE;
    CriticalSection m_cs;
};

extern CRealTranslators g_RealTranslators;

} // namespace vembro
