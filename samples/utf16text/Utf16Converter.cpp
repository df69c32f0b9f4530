#include "utf16text/Utf16Converter.h"

#include "common/Sniff.h"
#include "utf16text/Utf16Decode.h"
#include "vembro/kit/Data.h"

namespace samples {

// {7AAAAFEC-E651-422C-84FB-0541F2136D87}
const CLSID CLSID_SampleUtf16Converter = {0x7aaaafec, 0xe651, 0x422c, {0x84, 0xfb, 0x05, 0x41, 0xf2, 0x13, 0x6d, 0x87}};

HRESULT CUtf16Converter::Detect(const std::string& head)
{
    return HasUtf16LeBom(head) ? S_OK : S_FALSE;
}

std::string CUtf16Converter::TextToSource(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

void CUtf16Converter::Convert(IStream* in, IStream* out, vembro::kit::Progress& progress)
{
    vembro::kit::TransformDocument(in, out, progress, &Utf16LeToUtf8);
}

} // namespace samples
