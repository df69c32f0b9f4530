#pragma once
// What the converter registry and the translator registry do alike: learn
// every component's pair once, and ask the components of each source format
// in turn whether given data is in that format. I is ITolviFileConverter or
// ITolviFileTranslator.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>
#include <utility>
#include <vector>

#include "catalogue/FormatPairs.h"
#include "catalogue/FormatsInfo.h"
#include "catalogue/SLock.h"
#include "vembro/com/Variant.h"
#include "vembro/com/Error.h"
#include "vembro/Vembro.h"

namespace vembro {

// Components are always created in-process and asked directly for I.
constexpr DWORD kComponentContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;

template <class I>
HRESULT CreateComponent_nothrow(const CLSID& clsid, I** out) noexcept
{
    return ::CoCreateInstance(clsid, nullptr, kComponentContext, __uuidof(I), reinterpret_cast<void**>(out));
}

// The record of the format that `get` (SourceFormat or TargetFormat) reports,
// entered into g_FormatsInfo; false when the component gives none.
template <class I>
bool AddReportedFormat(I* component, HRESULT (STDMETHODCALLTYPE I::*get)(ITolviFileFormat**), CFormatInfo& out)
{
    Microsoft::WRL::ComPtr<ITolviFileFormat> format;
    if (FAILED((component->*get)(format.GetAddressOf())) || !format)
        return false;
    return SUCCEEDED(g_FormatsInfo.Add(format.Get(), &out));
}

// Creates each class once, in list order, and records its pair; a class that
// cannot be created or cannot report both formats is skipped without a word.
// Of two classes for one pair the later one stays. Entries are counted in 16
// bits: a longer list fails the load with E_FAIL.
template <class I>
void LoadComponentPairs(CFormatPairs& pairs, const std::vector<CLSID>& clsids)
{
    if (clsids.size() > 32767)
        ThrowHr(E_FAIL);
    for (short index = 0; index < static_cast<short>(clsids.size()); ++index) {
        const CLSID& clsid = clsids[static_cast<size_t>(index)];
        Microsoft::WRL::ComPtr<I> component;
        if (FAILED(CreateComponent_nothrow(clsid, component.GetAddressOf())) || !component)
            continue;
        CFormatInfo source, target;
        if (!AddReportedFormat<I>(component.Get(), &I::get_SourceFormat, source))
            continue;
        if (!AddReportedFormat<I>(component.Get(), &I::get_TargetFormat, target))
            continue;
        pairs.AddPair(source.ID, target.ID, clsid); // a pair that cannot be stored is skipped
    }
}

// Resets *out (releasing what it held), makes sure that the registry is
// loaded (its Load holds the lock only for that), and creates the component
// of the pair: E_INVALIDARG when the pair is unknown. The pair table does not
// change after the load, so it is read without the lock.
template <class Registry, class I>
HRESULT CreateComponentForPair(Registry& registry, short src, short tgt, I** out)
{
    if (!out)
        return E_POINTER;
    if (I* held = std::exchange(*out, nullptr))
        held->Release();
    HRESULT hr = registry.Load();
    if (FAILED(hr))
        return hr;
    CLSID clsid;
    if (!registry.FindPair(src, tgt, clsid))
        return E_INVALIDARG;
    return CreateComponent_nothrow(clsid, out);
}

// A detection argument after NormalizeVariant: file names and texts are
// strings, streams are objects.
inline HRESULT CheckDetectionData_nothrow(const VARIANT& data, tagFILEDATATYPE type) noexcept
{
    switch (type) {
    case FILEDATATYPE_FILENAME:
    case FILEDATATYPE_TEXT:
        if (V_VT(&data) != VT_BSTR)
            return E_INVALIDARG;
        return V_BSTR(&data) ? S_OK : E_POINTER;
    case FILEDATATYPE_STREAM:
        if (V_VT(&data) != VT_UNKNOWN)
            return E_INVALIDARG;
        return V_UNKNOWN(&data) ? S_OK : E_POINTER;
    default:
        return E_INVALIDARG;
    }
}

// For each source format, asks its components (the one from the source to
// itself first) until one answers S_OK (the source is listed) or S_FALSE (it
// is not); any other answer, or a failure, passes to the next component.
// probe(I*) -> HRESULT.
template <class I, class Probe>
void DetectSourceFormats(const CFormatPairs& pairs, Probe&& probe, CFormatIDs& out)
{
    CFormatIDs sources = pairs.GetSourceIDs();
    for (short source : sources.Items()) {
        CFormatIDs targets = pairs.GetTargetIDsSourceFirst(source);
        for (short target : targets.Items()) {
            CLSID clsid;
            if (!pairs.FindPair(source, target, clsid))
                continue;
            HRESULT answer = E_FAIL;
            try {
                Microsoft::WRL::ComPtr<I> component;
                if (FAILED(CreateComponent_nothrow(clsid, component.GetAddressOf())) || !component)
                    continue;
                answer = probe(component.Get());
            } catch (...) {
                answer = E_FAIL; // cannot tell
            }
            if (answer == S_OK)
                out.Add(source);
            if (answer == S_OK || answer == S_FALSE)
                break;
        }
    }
}

// A whole detection under the registry's lock: load, the normalised copy of
// the data checked for its kind, the components asked, complex formats first.
// probe(I*, const VARIANT& copy) -> HRESULT. `out` is empty on failure.
template <class I, class Registry, class Probe>
HRESULT DetectFormats_nothrow(Registry& registry, const VARIANT& data, tagFILEDATATYPE type, CFormatIDs& out,
                      Probe&& probe) noexcept
try {
    out.RemoveAll();
    CSLock<Registry> lock(&registry);
    HRESULT hr = registry.Load();
    if (FAILED(hr))
        return hr;
    unique_variant copy;
    hr = NormalizeVariant(&data, &copy);
    if (FAILED(hr))
        return hr;
    hr = CheckDetectionData_nothrow(copy, type);
    if (FAILED(hr))
        return hr;
    DetectSourceFormats<I>(registry, [&](I* component) { return probe(component, copy); }, out);
    out.SortComplexFirst();
    return S_OK;
} catch (...) {
    out.RemoveAll();
    return ResultFromCaughtException();
}

} // namespace vembro
