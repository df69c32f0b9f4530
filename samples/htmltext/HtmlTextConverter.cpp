#include "htmltext/HtmlTextConverter.h"

#include "common/Sniff.h"
#include "htmltext/HtmlToText.h"
#include "vembro/kit/Data.h"

namespace samples {

// {A6E43B56-FE60-4AC9-8C6C-FF0C56F67251}
const CLSID CLSID_SampleHtmlTextConverter = {0xa6e43b56, 0xfe60, 0x4ac9, {0x8c, 0x6c, 0xff, 0x0c, 0x56, 0xf6, 0x72, 0x51}};

HRESULT CHtmlTextConverter::Detect(const std::string& head)
{
    return LooksLikeHtml(head) ? S_OK : S_FALSE;
}

void CHtmlTextConverter::Convert(IStream* in, IStream* out, vembro::kit::Progress& progress)
{
    vembro::kit::TransformDocument(in, out, progress, &HtmlToText);
}

} // namespace samples
