#pragma once
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Catalogue.h"

namespace cli {

struct RunOptions {
    bool translate = true;            // false: one converter
    std::wstring input, output;
    std::optional<std::string> from, to;
    bool sync = false;
    bool stream = false;
    bool quiet = false;               // no progress bar
    std::optional<long> priority;
    std::vector<std::pair<std::string, std::string>> properties;
    // The localisation components' Direction object ("VembroSamples.Direction"),
    // made when any of these is given.
    std::wstring sourceLanguage, targetLanguage, memory;
};

int ListFormats(Catalogue& catalogue, bool conversion, bool translation);
int DetectFormats_nothrow(Catalogue& catalogue, const std::wstring& path);
int ShowTranslator(Catalogue& catalogue, const std::string& source, const std::string& target);
int ShowRoute(Catalogue& catalogue, const std::string& source, const std::string& target);
int RunDocument(Catalogue& catalogue, const RunOptions& options);

// Where the source can go and what can reach the target, for a pair
// without a route (several lines, each starting with two spaces).
std::string Reachability(Catalogue& catalogue, const FormatRef& source, const FormatRef& target);

} // namespace cli
