#include "l10n/Components.h"

#include <shlwapi.h>

#include "vembro/com/Error.h"
#include "vembro/com/Resource.h"
#include "common/Sniff.h"
#include "l10n/Direction.h"
#include "l10n/Errors.h"
#include "l10n/Extract.h"
#include "l10n/Fill.h"
#include "l10n/Merge.h"
#include "vembro/kit/Data.h"

namespace samples {
namespace {

// The probe window as UTF-8, whichever of UTF-8 and UTF-16 it is in.
std::string HeadAsUtf8(const std::string& head)
{
    if (head.size() < 2 || !(HasUtf16LeBom(head) || (static_cast<unsigned char>(head[0]) == 0xFE &&
                                                      static_cast<unsigned char>(head[1]) == 0xFF)))
        return head;
    std::wstring encoding;
    return HtmlAsUtf8(head, encoding, true);
}

// The document's file name for <file original>, when the stream knows it.
std::wstring OriginalName(IStream* in)
{
    STATSTG stat{};
    std::wstring name = L"document.html";
    if (SUCCEEDED(in->Stat(&stat, STATFLAG_DEFAULT)) && stat.pwcsName) {
        if (*stat.pwcsName)
            name = ::PathFindFileNameW(stat.pwcsName);
        ::CoTaskMemFree(stat.pwcsName);
    }
    return name;
}

} // namespace

// {F265DF2E-4A73-4CD7-BA66-950CF9B77E17}
const CLSID CLSID_HtmlToXliff = {0xf265df2e, 0x4a73, 0x4cd7, {0xba, 0x66, 0x95, 0x0c, 0xf9, 0xb7, 0x7e, 0x17}};
// {BD37766C-96C5-4131-8B7D-30807DF8D85B}
const CLSID CLSID_MemoryTranslator = {0xbd37766c, 0x96c5, 0x4131, {0x8b, 0x7d, 0x30, 0x80, 0x7d, 0xf8, 0xd8, 0x5b}};
// {27BEDB69-1754-4E07-87BB-921944C3C44C}
const CLSID CLSID_XliffToHtml = {0x27bedb69, 0x1754, 0x4e07, {0x87, 0xbb, 0x92, 0x19, 0x44, 0xc3, 0xc4, 0x4c}};

bool LooksLikeXliff(const std::string& head)
{
    try {
        return HeadAsUtf8(head).find("<xliff") != std::string::npos;
    } catch (...) {
        return false;
    }
}

HRESULT CHtmlToXliff::Detect(const std::string& head)
{
    try {
        return LooksLikeHtml(HeadAsUtf8(head)) ? S_OK : S_FALSE;
    } catch (...) {
        return S_FALSE;
    }
}

void CHtmlToXliff::Convert(IStream* in, IStream* out, vembro::kit::Progress& progress)
{
    ExtractXliff(in, out, progress, OriginalName(in));
}

HRESULT CHtmlToXliff::CheckHead(const std::string& head)
try {
    std::wstring encoding;
    HtmlAsUtf8(head, encoding, true);
    return S_OK;
}
VEMBRO_CATCH_RETURN()

HRESULT CMemoryTranslator::Detect(const std::string& head)
{
    return LooksLikeXliff(head) ? S_OK : S_FALSE;
}

void CMemoryTranslator::Translate(IDispatch* direction, IStream* in, IStream* out, vembro::kit::Progress& progress)
{
    FillSettings settings;
    long fuzzy = kDefaultFuzzy;
    if (Properties().GetLong(L"FUZZY", fuzzy) && (fuzzy < 1 || fuzzy > 100))
        vembro::ThrowHr(E_INVALIDARG);
    settings.threshold = static_cast<int>(fuzzy);
    settings.memory = Properties().GetText(L"MEMORY", L"");
    if (settings.memory.empty())
        settings.memory = DirectionText(direction, L"Memory");
    settings.sourceLanguage = DirectionText(direction, L"SourceLanguage");
    settings.targetLanguage = DirectionText(direction, L"TargetLanguage");
    FillXliff(in, out, progress, settings);
}

HRESULT CXliffToHtml::Detect(const std::string& head)
{
    return LooksLikeXliff(head) ? S_OK : S_FALSE;
}

HRESULT CXliffToHtml::CheckHead(const std::string& head)
try {
    std::string text = HeadAsUtf8(head);
    size_t root = text.find("<xliff");
    size_t close = text.find('>', root);
    size_t version = text.find("version=", root);
    if (root == std::string::npos || close == std::string::npos || version > close)
        return S_OK; // the run itself says what is wrong
    char quote = text[version + 8];
    return text.compare(version + 9, 4, "1.2" + std::string(1, quote)) == 0 ? S_OK : L10N_E_NOT_XLIFF12;
}
VEMBRO_CATCH_RETURN()

void CXliffToHtml::Convert(IStream* in, IStream* out, vembro::kit::Progress& progress)
{
    MergeXliff(in, out, progress);
}

} // namespace samples
