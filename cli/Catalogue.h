#pragma once
// The client's view of the manager: format lists as plain values, format
// names and IDs resolved against what the installed components report.
#include <windows.h>
#include <wrl/client.h>
#include <string>
#include <vector>

#include "vembro/Vembro.h"

namespace cli {

struct FormatRef {
    short id = -1;
    std::string name;        // UTF-8
    std::string defaultExt;
    std::string extensions;  // "htm.html"
    bool complex = false;
};

// "104 HTML (htm.html)"
std::string Label(const FormatRef& format);
std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);

class Catalogue {
public:
    // Creates the manager by its ProgID, as any client would.
    Catalogue();

    ITolviFTManager* Manager() const noexcept { return m_manager.Get(); }

    std::vector<FormatRef> ConvertSources();
    std::vector<FormatRef> TranslateSources();
    std::vector<FormatRef> ConvertTargets(short source);
    std::vector<FormatRef> TranslateTargets(short source);
    // Formats that the file is in, as the manager detects them.
    std::vector<FormatRef> DetectFile_nothrow(bool translation, const std::wstring& path);

    // A format given by the user: a name as the components spell it or a
    // numeric ID. Throws UsageError naming the known formats otherwise.
    FormatRef Resolve(const std::string& text);
    // Every format that appears in the conversion or translation lists.
    std::vector<FormatRef> Known();

    // The formats of a list that carry the extension (without its dot).
    std::vector<FormatRef> WithExtension(bool translation, short source, const std::string& ext);

    static VARIANT IdArgument(short id) noexcept;

private:
    std::vector<FormatRef> List(ITolviFileFormats* formats);

    Microsoft::WRL::ComPtr<ITolviFTManager> m_manager;
};

} // namespace cli
