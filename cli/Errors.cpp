#include "Errors.h"

#include <olectl.h>
#include <cstdio>

namespace cli {
namespace {

struct KnownCode {
    HRESULT hr;
    const char* name;
    const char* meaning; // what the code means when the translation manager answers it
};

const KnownCode kKnown[] = {
    {S_FALSE, "S_FALSE", "nothing found"},
    {E_NOTIMPL, "E_NOTIMPL", "the object does not offer this operation"},
    {E_NOINTERFACE, "E_NOINTERFACE", "the object lacks the interface (a component without synchronous support?)"},
    {E_POINTER, "E_POINTER", "a required argument was missing"},
    {E_ABORT, "E_ABORT", "the run was stopped"},
    {E_FAIL, "E_FAIL", "a component failed without saying why"},
    {E_UNEXPECTED, "E_UNEXPECTED", "the translator is busy, or no temporary file could be made"},
    {E_INVALIDARG, "E_INVALIDARG", "no converter or route for this pair, or an unknown format"},
    {E_OUTOFMEMORY, "E_OUTOFMEMORY", nullptr},
    {CLASS_E_NOAGGREGATION, "CLASS_E_NOAGGREGATION", nullptr},
    {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE", "the DLL does not provide this class"},
    {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG", "class not registered: run regsvr32 on Vembro.DLL and the components"},
    {CO_E_CLASSSTRING, "CO_E_CLASSSTRING", "the ProgID is not registered: run regsvr32 on Vembro.DLL"},
    {CONNECT_E_NOCONNECTION, "CONNECT_E_NOCONNECTION", nullptr},
    {CONNECT_E_ADVISELIMIT, "CONNECT_E_ADVISELIMIT", nullptr},
    {CONNECT_E_CANNOTCONNECT, "CONNECT_E_CANNOTCONNECT", nullptr},
    {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)",
     "a file is missing, or the converter catalogue key is not in the registry"},
    {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), "HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)", nullptr},
    {HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), "HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)", nullptr},
    {STG_E_FILENOTFOUND, "STG_E_FILENOTFOUND", nullptr},
    // The localisation sample components' own codes (samples/l10n/Errors.h).
    {static_cast<HRESULT>(0x80040301), "L10N_E_MALFORMED_XML", "the XML document is not well formed"},
    {static_cast<HRESULT>(0x80040302), "L10N_E_NOT_XLIFF12", "the document is not XLIFF 1.2"},
    {static_cast<HRESULT>(0x80040303), "L10N_E_MEMORY_UNREADABLE", "the translation memory is missing or is not a readable TMX file"},
    {static_cast<HRESULT>(0x80040304), "L10N_E_LANGUAGE_NOT_IN_MEMORY", "the translation memory has no units in this pair of languages"},
    {static_cast<HRESULT>(0x80040305), "L10N_E_UNKNOWN_ENCODING", "the document is in an encoding the components do not read"},
    {static_cast<HRESULT>(0x80040306), "L10N_E_NO_SKELETON", "the XLIFF file has no usable embedded skeleton to merge into"},
    {static_cast<HRESULT>(0x80040307), "L10N_E_NO_LANGUAGE", "no source or target language: give --source-lang / --target-lang"},
    {static_cast<HRESULT>(0x80040308), "L10N_E_NO_MEMORY", "no translation memory: give --memory or the property MEMORY"},
    {static_cast<HRESULT>(0x80040309), "L10N_E_NO_XMLLITE", "the system's XML reader and writer (xmllite.dll) cannot be loaded"},
};

std::string SystemMessage(HRESULT hr)
{
    wchar_t* text = nullptr;
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string message;
    if (n && text) {
        int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
        message.resize(static_cast<size_t>(bytes));
        ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), message.data(), bytes, nullptr, nullptr);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
            message.pop_back();
    }
    if (text)
        ::LocalFree(text);
    return message;
}

} // namespace

HRESULT Check(HRESULT hr, const char* operation)
{
    if (FAILED(hr))
        throw Failure(operation, hr);
    return hr;
}

std::string DescribeHr(HRESULT hr)
{
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    std::string text = code;
    const KnownCode* known = nullptr;
    for (const auto& k : kKnown)
        if (k.hr == hr)
            known = &k;
    if (known)
        text += std::string(" ") + known->name;
    std::string message = SystemMessage(hr);
    if (!message.empty())
        text += ": " + message;
    if (known && known->meaning)
        text += std::string(" (") + known->meaning + ")";
    return text;
}

} // namespace cli
