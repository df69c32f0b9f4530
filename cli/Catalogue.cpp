#include "Catalogue.h"

#include <algorithm>
#include <cctype>

#include "Errors.h"
#include "vembro/com/Resource.h"

namespace cli {

using Microsoft::WRL::ComPtr;

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& utf8)
{
    if (utf8.empty())
        return {};
    int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string Label(const FormatRef& format)
{
    return std::to_string(format.id) + " " + format.name + " (" + format.extensions + ")";
}

Catalogue::Catalogue()
{
    CLSID clsid{};
    Check(::CLSIDFromProgID(L"Vembro.FileTranslateManager", &clsid), "CLSIDFromProgID(\"Vembro.FileTranslateManager\")");
    Check(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&m_manager)),
          "CoCreateInstance(Vembro.FileTranslateManager)");
}

VARIANT Catalogue::IdArgument(short id) noexcept
{
    VARIANT v;
    ::VariantInit(&v);
    V_VT(&v) = VT_I2;
    V_I2(&v) = id;
    return v;
}

std::vector<FormatRef> Catalogue::List(ITolviFileFormats* formats)
{
    short count = 0;
    Check(formats->get_Count(&count), "ITolviFileFormats::Count");
    std::vector<FormatRef> list;
    for (short i = 0; i < count; ++i) {
        ComPtr<ITolviFileFormat> format;
        Check(formats->get_FileFormat(i, &format), "ITolviFileFormats::FileFormat");
        FormatRef ref;
        vembro::unique_bstr name, def, exts;
        VARIANT_BOOL complex = VARIANT_FALSE;
        Check(format->get_ID(&ref.id), "ITolviFileFormat::ID");
        Check(format->get_Name(name.put()), "ITolviFileFormat::Name");
        Check(format->get_DefaultExtention(def.put()), "ITolviFileFormat::DefaultExtention");
        Check(format->get_Extentions(exts.put()), "ITolviFileFormat::Extentions");
        Check(format->get_IsComplex(&complex), "ITolviFileFormat::IsComplex");
        ref.name = Utf8(name.get() ? name.get() : L"");
        ref.defaultExt = Utf8(def.get() ? def.get() : L"");
        ref.extensions = Utf8(exts.get() ? exts.get() : L"");
        ref.complex = complex != VARIANT_FALSE;
        list.push_back(ref);
    }
    return list;
}

std::vector<FormatRef> Catalogue::ConvertSources()
{
    ComPtr<ITolviFileFormats> formats;
    Check(m_manager->get_ConvertSourceFormats(&formats), "ConvertSourceFormats");
    return List(formats.Get());
}

std::vector<FormatRef> Catalogue::TranslateSources()
{
    ComPtr<ITolviFileFormats> formats;
    Check(m_manager->get_TranslateSourceFormats(&formats), "TranslateSourceFormats");
    return List(formats.Get());
}

std::vector<FormatRef> Catalogue::ConvertTargets(short source)
{
    ComPtr<ITolviFileFormats> formats;
    Check(m_manager->get_ConvertTargetFormats(IdArgument(source), &formats), "ConvertTargetFormats");
    return List(formats.Get());
}

std::vector<FormatRef> Catalogue::TranslateTargets(short source)
{
    ComPtr<ITolviFileFormats> formats;
    Check(m_manager->get_TranslateTargetFormats(IdArgument(source), &formats), "TranslateTargetFormats");
    return List(formats.Get());
}

std::vector<FormatRef> Catalogue::DetectFile_nothrow(bool translation, const std::wstring& path)
{
    vembro::unique_variant data;
    V_VT(&data) = VT_BSTR;
    V_BSTR(&data) = ::SysAllocString(path.c_str());
    ComPtr<ITolviFileFormats> formats;
    if (translation)
        Check(m_manager->get_TranslateAvailableFormats(data, FILEDATATYPE_FILENAME, &formats), "TranslateAvailableFormats");
    else
        Check(m_manager->get_ConvertAvailableFormats(data, FILEDATATYPE_FILENAME, &formats), "ConvertAvailableFormats");
    return List(formats.Get());
}

std::vector<FormatRef> Catalogue::Known()
{
    std::vector<FormatRef> all;
    auto add = [&](const std::vector<FormatRef>& list) {
        for (const auto& f : list)
            if (std::none_of(all.begin(), all.end(), [&](const FormatRef& k) { return k.id == f.id; }))
                all.push_back(f);
    };
    for (const auto& s : ConvertSources()) {
        add({s});
        add(ConvertTargets(s.id));
    }
    for (const auto& s : TranslateSources()) {
        add({s});
        add(TranslateTargets(s.id));
    }
    return all;
}

FormatRef Catalogue::Resolve(const std::string& text)
{
    auto known = Known();
    bool numeric = !text.empty() && std::all_of(text.begin() + (text[0] == '-' ? 1 : 0), text.end(),
                                                [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
    for (const auto& f : known)
        if (f.name == text || (numeric && text.size() < 7 && std::to_string(f.id) == text))
            return f;
    std::string message = "unknown format \"" + text + "\"";
    for (const auto& f : known)
        if (_stricmp(f.name.c_str(), text.c_str()) == 0)
            message += " (names are case-sensitive: did you mean \"" + f.name + "\"?)";
    message += "\nknown formats:";
    for (const auto& f : known)
        message += "\n  " + Label(f);
    if (known.empty())
        message += " none (are the components registered?)";
    throw UsageError(message);
}

std::vector<FormatRef> Catalogue::WithExtension(bool translation, short source, const std::string& ext)
{
    ComPtr<ITolviFileFormats> targets, matching;
    if (translation)
        Check(m_manager->get_TranslateTargetFormats(IdArgument(source), &targets), "TranslateTargetFormats");
    else
        Check(m_manager->get_ConvertTargetFormats(IdArgument(source), &targets), "ConvertTargetFormats");
    vembro::unique_bstr bext(::SysAllocString(Wide(ext).c_str()));
    Check(targets->get_FileFormatFromExt(bext.get(), &matching), "ITolviFileFormats::FileFormatFromExt");
    return List(matching.Get());
}

} // namespace cli
