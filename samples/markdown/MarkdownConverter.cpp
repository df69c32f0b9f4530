#include "markdown/MarkdownConverter.h"

#include "common/Sniff.h"
#include "markdown/MarkdownToHtml.h"
#include "vembro/kit/Data.h"

namespace samples {

// {4EDA6745-2CE4-449D-95A1-4D2FFB69373C}
const CLSID CLSID_SampleMarkdownConverter = {0x4eda6745, 0x2ce4, 0x449d, {0x95, 0xa1, 0x4d, 0x2f, 0xfb, 0x69, 0x37, 0x3c}};

HRESULT CMarkdownConverter::Detect(const std::string& head)
{
    return LooksLikeMarkdown(head) ? S_OK : S_FALSE;
}

void CMarkdownConverter::Convert(IStream* in, IStream* out, vembro::kit::Progress& progress)
{
    vembro::kit::TransformDocument(in, out, progress, &MarkdownToHtml);
}

} // namespace samples
