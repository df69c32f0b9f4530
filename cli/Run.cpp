// translate and convert: a file or stream run, asynchronous with a progress
// bar fed by the events, or synchronous; Ctrl+C asks the run to stop.
#include <shlwapi.h>
#include <cstdio>

#include "Commands.h"
#include "Errors.h"
#include "Sinks.h"
#include "vembro/com/Resource.h"

namespace cli {

using Microsoft::WRL::ComPtr;

namespace {

// The run that Ctrl+C stops: one at a time in this client.
vembro::CriticalSection g_stopLock;
ComPtr<IUnknown> g_running;
bool g_bTranslating = true;

BOOL WINAPI OnConsoleControl(DWORD type) noexcept
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE;
    auto lock = g_stopLock.Lock();
    if (!g_running)
        return FALSE;
    HRESULT init = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    VARIANT missing = vembro::MissingArgument();
    HRESULT hr = E_NOINTERFACE;
    ComPtr<ITolviFileTranslator> translator;
    ComPtr<ITolviFileConverter> converter;
    if (g_bTranslating && SUCCEEDED(g_running.As(&translator)))
        hr = translator->Stop(missing);
    else if (SUCCEEDED(g_running.As(&converter)))
        hr = converter->Stop(missing);
    std::fprintf(stderr, "\nvembro: stopping (Stop: %s)\n", DescribeHr(hr).c_str());
    translator.Reset();
    converter.Reset();
    if (SUCCEEDED(init))
        ::CoUninitialize();
    return TRUE;
}

class RunningScope {
public:
    RunningScope(IUnknown* object, bool translating)
    {
        auto lock = g_stopLock.Lock();
        g_running = object;
        g_bTranslating = translating;
    }
    ~RunningScope()
    {
        auto lock = g_stopLock.Lock();
        g_running.Reset();
    }
};

// Connects a sink for the run's events and disconnects it at the end.
class Connection {
public:
    Connection(IUnknown* source, const IID& iid, IUnknown* sink)
    {
        ComPtr<IConnectionPointContainer> container;
        Check(source->QueryInterface(IID_PPV_ARGS(&container)), "QueryInterface(IConnectionPointContainer)");
        Check(container->FindConnectionPoint(iid, &m_point), "FindConnectionPoint");
        Check(m_point->Advise(sink, &m_dwCookie), "IConnectionPoint::Advise");
    }
    ~Connection() { m_point->Unadvise(m_dwCookie); }

private:
    ComPtr<IConnectionPoint> m_point;
    DWORD m_dwCookie = 0;
};

std::string ExtensionOf(const std::wstring& path)
{
    const wchar_t* ext = ::PathFindExtensionW(path.c_str());
    return ext && *ext == L'.' ? Utf8(ext + 1) : std::string();
}

std::string Names(const std::vector<FormatRef>& formats)
{
    std::string text;
    for (const auto& f : formats)
        text += "\n  " + Label(f);
    return text.empty() ? " none" : text;
}

FormatRef SourceFormat(Catalogue& catalogue, const RunOptions& o)
{
    if (o.from)
        return catalogue.Resolve(*o.from);
    auto detected = catalogue.DetectFile_nothrow(o.translate, o.input);
    if (detected.empty())
        throw UsageError("could not detect the format of " + Utf8(o.input) + "; give it with --from. Sources:" +
                         Names(o.translate ? catalogue.TranslateSources() : catalogue.ConvertSources()));
    return detected.front();
}

FormatRef TargetFormat(Catalogue& catalogue, const RunOptions& o, const FormatRef& source)
{
    if (o.to)
        return catalogue.Resolve(*o.to);
    std::string ext = ExtensionOf(o.output);
    auto matches = ext.empty() ? std::vector<FormatRef>() : catalogue.WithExtension(o.translate, source.id, ext);
    if (matches.empty())
        throw UsageError("no format reachable from " + source.name + " has the extension \"" + ext +
                         "\"; give the target with --to. Reachable:" +
                         Names(o.translate ? catalogue.TranslateTargets(source.id) : catalogue.ConvertTargets(source.id)));
    return matches.front();
}

VARIANT PropertyValue(const std::string& text)
{
    VARIANT v;
    ::VariantInit(&v);
    char* end = nullptr;
    long number = std::strtol(text.c_str(), &end, 10);
    if (!text.empty() && end && *end == '\0') {
        V_VT(&v) = VT_I4;
        V_I4(&v) = number;
    } else {
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = ::SysAllocString(Wide(text).c_str());
    }
    return v;
}

template <class Component>
void ApplyProperties(Component* component, const RunOptions& o)
{
    auto put = [&](const std::string& name, VARIANT value) {
        vembro::unique_variant key, held;
        V_VT(&key) = VT_BSTR;
        V_BSTR(&key) = ::SysAllocString(Wide(name).c_str());
        *static_cast<VARIANT*>(&held) = value;
        Check(component->put_Property(key, held), ("Property(\"" + name + "\")").c_str());
    };
    if (o.priority)
        put("PRIORITY", [&] {
            VARIANT v;
            ::VariantInit(&v);
            V_VT(&v) = VT_I4;
            V_I4(&v) = *o.priority;
            return v;
        }());
    for (const auto& p : o.properties)
        put(p.first, PropertyValue(p.second));
}

ComPtr<IStream> FileStream(const std::wstring& path, bool write)
{
    ComPtr<IStream> stream;
    Check(::SHCreateStreamOnFileEx(path.c_str(), write ? STGM_CREATE | STGM_WRITE : STGM_READ, FILE_ATTRIBUTE_NORMAL,
                                   write, nullptr, &stream),
          write ? "open target stream" : "open source stream");
    return stream;
}

// Sets a property of an automation object by name.
void PutByName(IDispatch* object, const wchar_t* name, const std::wstring& value)
{
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    std::string what = "Direction." + Utf8(name);
    Check(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), what.c_str());
    vembro::unique_variant argument;
    V_VT(&argument) = VT_BSTR;
    V_BSTR(&argument) = ::SysAllocString(value.c_str());
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&argument, &named, 1, 1};
    HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
    if (hr == E_INVALIDARG)
        throw UsageError("\"" + Utf8(value) + "\" is not a language tag (BCP 47, such as fr or fr-CA)");
    Check(hr, (what + " = \"" + Utf8(value) + "\"").c_str());
}

// The Direction of the localisation components, or the client's own
// description of the pair when no localisation option was given.
ComPtr<IDispatch> DirectionFor(const RunOptions& o, const FormatRef& source, const FormatRef& target)
{
    if (o.sourceLanguage.empty() && o.targetLanguage.empty() && o.memory.empty())
        return MakeDirection(source.id, target.id);
    CLSID clsid;
    HRESULT hr = ::CLSIDFromProgID(L"VembroSamples.Direction", &clsid);
    if (FAILED(hr))
        throw Failure("CLSIDFromProgID(VembroSamples.Direction)", hr,
                      "  --source-lang, --target-lang and --memory need the localisation components: regsvr32 l10n.dll");
    ComPtr<IDispatch> direction;
    Check(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&direction)),
          "CoCreateInstance(VembroSamples.Direction)");
    if (!o.sourceLanguage.empty())
        PutByName(direction.Get(), L"SourceLanguage", o.sourceLanguage);
    if (!o.targetLanguage.empty())
        PutByName(direction.Get(), L"TargetLanguage", o.targetLanguage);
    if (!o.memory.empty()) {
        // The components may run with another current folder than ours.
        wchar_t full[MAX_PATH];
        DWORD n = ::GetFullPathNameW(o.memory.c_str(), MAX_PATH, full, nullptr);
        PutByName(direction.Get(), L"Memory", n && n < MAX_PATH ? std::wstring(full) : o.memory);
    }
    return direction;
}

// Runs `start` (which starts or performs the run) and waits for its end.
// Returns the run's result; E_ABORT when it was stopped.
template <class Start, class ErrorOf>
HRESULT Drive(IUnknown* object, bool translating, bool sync, RunMonitor& monitor, Start start, ErrorOf errorOf,
              const char* operation)
{
    RunningScope scope(object, translating);
    HRESULT hr = start();
    if (sync || FAILED(hr)) {
        monitor.Done();
        if (FAILED(hr))
            throw Failure(operation, hr);
        return hr;
    }
    long final = monitor.WaitFinal();
    monitor.Done();
    if (final == FTSTATE_STOPPED)
        return E_ABORT;
    if (final == FTSTATE_ERROR) {
        HRESULT code = errorOf();
        throw Failure(std::string(operation) + " run", FAILED(code) ? code : E_FAIL);
    }
    return S_OK;
}

// What the target looked like before the run: a failed run removes only
// what it wrote, never a file that it did not touch.
struct FileStamp {
    bool exists = false;
    FILETIME written{};
    DWORD sizeLow = 0;

    static FileStamp Of(const std::wstring& path)
    {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        FileStamp stamp;
        if (::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
            stamp.exists = true;
            stamp.written = data.ftLastWriteTime;
            stamp.sizeLow = data.nFileSizeLow;
        }
        return stamp;
    }
    bool Same(const FileStamp& o) const
    {
        return exists == o.exists && sizeLow == o.sizeLow && ::CompareFileTime(&written, &o.written) == 0;
    }
};

void RemoveOutput(const std::wstring& path, const FileStamp& before)
{
    if (!before.Same(FileStamp::Of(path)))
        ::DeleteFileW(path.c_str());
}

int Translate(Catalogue& catalogue, const RunOptions& o, const FormatRef& source, const FormatRef& target)
{
    ComPtr<ITolviFileTranslator> translator;
    HRESULT hr = catalogue.Manager()->get_Translator(Catalogue::IdArgument(source.id), Catalogue::IdArgument(target.id),
                                                     &translator);
    if (FAILED(hr))
        throw Failure("Translator(" + source.name + ", " + target.name + ")", hr,
                      hr == E_INVALIDARG ? Reachability(catalogue, source, target) : std::string());
    ApplyProperties(translator.Get(), o);
    RunMonitor monitor(!o.quiet, false);
    auto sink = MakeTranslatorSink(monitor);
    Connection connection(translator.Get(), IID_ITolviFileTranslatorEvents, sink.Get());
    auto direction = DirectionFor(o, source, target);
    vembro::unique_bstr in(::SysAllocString(o.input.c_str())), out(::SysAllocString(o.output.c_str()));
    ComPtr<ITolviFileTranslator2> sync;
    if (o.sync)
        Check(translator.As(&sync), "QueryInterface(ITolviFileTranslator2)");
    ComPtr<IStream> inStream, outStream;
    if (o.stream) {
        inStream = FileStream(o.input, false);
        outStream = FileStream(o.output, true);
    }
    auto start = [&]() -> HRESULT {
        VARIANT missing = vembro::MissingArgument();
        if (o.stream)
            return o.sync ? sync->SyncTranslateStream(direction.Get(), inStream.Get(), outStream.Get(), missing)
                          : translator->TranslateStream(direction.Get(), inStream.Get(), outStream.Get(), missing);
        return o.sync ? sync->SyncTranslateFile(direction.Get(), in.get(), out.get(), missing)
                      : translator->TranslateFile(direction.Get(), in.get(), out.get(), missing);
    };
    auto errorOf = [&] {
        LONG code = E_FAIL;
        translator->get_Error(&code);
        return static_cast<HRESULT>(code);
    };
    const char* operation = o.stream ? (o.sync ? "SyncTranslateStream" : "TranslateStream")
                                     : (o.sync ? "SyncTranslateFile" : "TranslateFile");
    return Drive(translator.Get(), true, o.sync, monitor, start, errorOf, operation) == E_ABORT ? kExitStopped : kExitOk;
}

int Convert(Catalogue& catalogue, const RunOptions& o, const FormatRef& source, const FormatRef& target)
{
    ComPtr<ITolviFileConverter> converter;
    Check(catalogue.Manager()->get_Converter(Catalogue::IdArgument(source.id), Catalogue::IdArgument(target.id),
                                             &converter),
          ("Converter(" + source.name + ", " + target.name + ")").c_str());
    ComPtr<ITolviFileConverter3> sync;
    if (o.sync || o.priority || !o.properties.empty())
        Check(converter.As(&sync), "QueryInterface(ITolviFileConverter3)");
    if (sync)
        ApplyProperties(sync.Get(), o);
    RunMonitor monitor(!o.quiet, true);
    auto sink = MakeConverterSink(monitor);
    Connection connection(converter.Get(), IID_ITolviFileConverterEvents, sink.Get());
    vembro::unique_bstr in(::SysAllocString(o.input.c_str())), out(::SysAllocString(o.output.c_str()));
    ComPtr<IStream> inStream, outStream;
    if (o.stream) {
        inStream = FileStream(o.input, false);
        outStream = FileStream(o.output, true);
    }
    auto start = [&]() -> HRESULT {
        VARIANT missing = vembro::MissingArgument();
        if (o.stream)
            return o.sync ? sync->SyncConvertStream(inStream.Get(), outStream.Get(), missing)
                          : converter->ConvertStream(inStream.Get(), outStream.Get(), missing);
        return o.sync ? sync->SyncConvertFile(in.get(), out.get(), missing)
                      : converter->ConvertFile(in.get(), out.get(), missing);
    };
    auto errorOf = [] { return E_FAIL; }; // converters report no code of their own
    const char* operation = o.stream ? (o.sync ? "SyncConvertStream" : "ConvertStream")
                                     : (o.sync ? "SyncConvertFile" : "ConvertFile");
    return Drive(converter.Get(), false, o.sync, monitor, start, errorOf, operation) == E_ABORT ? kExitStopped : kExitOk;
}

} // namespace

int RunDocument(Catalogue& catalogue, const RunOptions& o)
{
    if (::GetFileAttributesW(o.input.c_str()) == INVALID_FILE_ATTRIBUTES)
        throw UsageError("cannot find " + Utf8(o.input));
    FormatRef source = SourceFormat(catalogue, o);
    FormatRef target = TargetFormat(catalogue, o, source);
    std::printf("%s %s (%s) -> %s (%s), %s%s\n", o.translate ? "Translating" : "Converting", Utf8(o.input).c_str(),
                source.name.c_str(), Utf8(o.output).c_str(), target.name.c_str(), o.sync ? "synchronously" : "asynchronously",
                o.stream ? " on streams" : "");
    std::fflush(stdout);
    ::SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
    FileStamp before = FileStamp::Of(o.output);
    int result;
    try {
        result = o.translate ? Translate(catalogue, o, source, target) : Convert(catalogue, o, source, target);
    } catch (...) {
        RemoveOutput(o.output, before); // a failed run leaves no partial document
        throw;
    }
    if (result == kExitStopped) {
        RemoveOutput(o.output, before);
        std::printf("Stopped; %s was not written.\n", Utf8(o.output).c_str());
        return result;
    }
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExW(o.output.c_str(), GetFileExInfoStandard, &data);
    std::printf("Done: %s (%lu bytes)\n", Utf8(o.output).c_str(), static_cast<unsigned long>(data.nFileSizeLow));
    return kExitOk;
}

} // namespace cli
