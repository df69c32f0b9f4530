#pragma once
// The converter registry g_Converters: the catalogue under
// HKLM\Software\Tolvi Labs\Devevi9\FTM\Converters, each converter asked once
// per process for its pair.
#include <windows.h>
#include <comcat.h>
#include <wrl/client.h>
#include <string>
#include <vector>

#include "catalogue/FormatPairs.h"
#include "vembro/com/Resource.h"
#include "vembro/Vembro.h"

namespace vembro {

extern const char kConvertersKeyPath[]; // "Software\\Tolvi Labs\\Devevi9\\FTM\\Converters"

HRESULT ClsidFromName(const char* name, CLSID& clsid) noexcept;
bool CheckConverterKey(const char* keyPath, const char* name, CLSID& clsid) noexcept;
HRESULT EnumConverterClsids(std::vector<CLSID>& clsids) noexcept;
HRESULT EnumCategoryClasses(Microsoft::WRL::ComPtr<ICatInformation>& manager, std::vector<CLSID>& clsids,
                            const CATID* implemented, ULONG implementedCount, ULONG requiredCount) noexcept;
std::string ReadRegString(HKEY key, const char* valueName, const char* defaultText = "");

// Asks a converter whether the stream behind `data` is in its source format
// and puts the stream back where it was, also when the converter fails or
// throws. An object without IStream, a stream whose position cannot be read,
// and a probe that throws all count as "cannot tell" (a failure code), so
// that the next converter of the format is asked.
HRESULT ProbeStream_nothrow(ITolviFileConverter* converter, IUnknown* data) noexcept;
// One converter's answer in a detection, on data that CheckDetectionData_nothrow has
// accepted for `type`; a stream is put back where it was.
HRESULT ProbeConverter_nothrow(ITolviFileConverter* converter, const VARIANT& data, tagFILEDATATYPE type) noexcept;

class CConverters : public CFormatPairs {
public:
    HRESULT Load() noexcept;
    HRESULT CreateConverter(short src, short tgt, ITolviFileConverter** out) noexcept;
    HRESULT GetAvailableFormats(const VARIANT& data, tagFILEDATATYPE type, CFormatIDs& out) noexcept;

    BOOL m_bLoaded = FALSE;
    CriticalSection m_cs;
};

extern CConverters g_Converters;

} // namespace vembro
