#include "chains/RealTranslators.h"

#include <comcat.h>
#include <wrl/client.h>
#include <vector>

#include "catalogue/ComponentPairs.h"
#include "catalogue/Converters.h"
#include "catalogue/SLock.h"
#include "vembro/com/Error.h"

namespace vembro {

namespace {
// Translators declare the category whose identifier is that of
// ITolviFileTranslator2; required categories are not checked.
HRESULT FindTranslatorClasses_nothrow(std::vector<CLSID>& clsids) noexcept
{
    Microsoft::WRL::ComPtr<ICatInformation> manager;
    HRESULT hr = ::CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_ICatInformation, reinterpret_cast<void**>(manager.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    return EnumCategoryClasses(manager, clsids, &IID_ITolviFileTranslator2, 1, static_cast<ULONG>(-1));
}
} // namespace

CTranslatorClassesLookahead::CTranslatorClassesLookahead(bool start) noexcept
    : m_thread(start ? ::CreateThread(nullptr, 0, &Run, this, 0, nullptr) : nullptr)
{
}

CTranslatorClassesLookahead::~CTranslatorClassesLookahead()
{
    if (m_thread)
        ::WaitForSingleObject(m_thread.get(), INFINITE);
}

DWORD WINAPI CTranslatorClassesLookahead::Run(void* self) noexcept
{
    auto* lookahead = static_cast<CTranslatorClassesLookahead*>(self);
    HRESULT hr = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(hr)) {
        hr = FindTranslatorClasses_nothrow(lookahead->m_clsids);
        ::CoUninitialize();
    }
    lookahead->m_hr = hr;
    return 0;
}

bool CTranslatorClassesLookahead::Take(std::vector<CLSID>& clsids) noexcept
{
    if (!m_thread)
        return false;
    ::WaitForSingleObject(m_thread.get(), INFINITE);
    m_thread.reset();
    if (FAILED(m_hr))
        return false;
    clsids.swap(m_clsids);
    return true;
}

HRESULT CRealTranslators::Load(CTranslatorClassesLookahead* lookahead) noexcept
try {
    CSLock<CRealTranslators> lock(this);
    if (m_bLoaded)
        return S_OK;
    std::vector<CLSID> clsids;
    if (!lookahead || !lookahead->Take(clsids)) {
        HRESULT hr = FindTranslatorClasses_nothrow(clsids);
        if (FAILED(hr))
            return hr; // stays unloaded: the next caller asks again
    }
    LoadComponentPairs<ITolviFileTranslator>(*this, clsids);
    m_bLoaded = TRUE;
    return S_OK;
}
VEMBRO_CATCH_RETURN()

BOOL CRealTranslators::IsLoaded() noexcept
{
    CSLock<CRealTranslators> lock(this);
    return m_bLoaded;
}

BOOL CRealTranslators::HasTranslator(short src, short tgt) noexcept
{
    {
        CSLock<CRealTranslators> lock(this);
        if (!m_bLoaded && FAILED(Load()))
            return FALSE;
    }
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
