#include "vembro/kit/ComponentCore.h"

#include <olectl.h>
#include <wrl/client.h>
#include <memory>

#include "vembro/com/Resource.h"
#include "vembro/com/StreamPosition.h"
#include "vembro/kit/Data.h"

namespace vembro::kit {

using Microsoft::WRL::ComPtr;

namespace {

// A stream handed from the caller's thread to the worker: kept in the global
// interface table so that the worker gets a pointer valid in its apartment.
class StreamHandOver {
public:
    explicit StreamHandOver(IStream* stream)
    {
        ThrowIfFailed(::CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_PPV_ARGS(&m_git)));
        ThrowIfFailed(m_git->RegisterInterfaceInGlobal(stream, IID_IStream, &m_dwCookie));
    }
    StreamHandOver(const StreamHandOver&) = delete;
    StreamHandOver& operator=(const StreamHandOver&) = delete;
    ~StreamHandOver() { m_git->RevokeInterfaceFromGlobal(m_dwCookie); }
    ComPtr<IStream> Get() const
    {
        ComPtr<IStream> stream;
        ThrowIfFailed(m_git->GetInterfaceFromGlobal(m_dwCookie, IID_PPV_ARGS(&stream)));
        return stream;
    }

private:
    ComPtr<IGlobalInterfaceTable> m_git;
    DWORD m_dwCookie = 0;
};

const wchar_t* CheckName(BSTR name)
{
    if (!name)
        ThrowHr(E_POINTER);
    if (!*name)
        ThrowHr(E_INVALIDARG);
    return name;
}

} // namespace

std::string Utf8TextToBytes(const std::wstring& text) { return Utf8FromWide(text.data(), text.size()); }
std::wstring Utf8BytesToText(const std::string& bytes) { return WideFromUtf8(WithoutUtf8Bom(bytes)); }

ComPtr<IStream> ComponentCore::StreamOf(IUnknown* data)
{
    ThrowIfNull(data);
    ComPtr<IStream> stream;
    ThrowIfFailed(data->QueryInterface(IID_PPV_ARGS(stream.GetAddressOf())));
    return stream;
}

HRESULT ComponentCore::DetectFile_nothrow(BSTR file, const DetectFn& detect) noexcept
try {
    return detect(ReadFileHead(CheckName(file)));
}
VEMBRO_CATCH_RETURN()

HRESULT ComponentCore::DetectStream_nothrow(IUnknown* data, const DetectFn& detect) noexcept
try {
    return detect(ReadHead(StreamOf(data).Get()));
}
VEMBRO_CATCH_RETURN()

HRESULT ComponentCore::DetectText_nothrow(BSTR text, const DetectFn& detect, const TextToBytesFn& toBytes) noexcept
try {
    if (!text)
        return E_POINTER;
    std::string bytes = toBytes(std::wstring(text, ::SysStringLen(text)));
    return detect(bytes.substr(0, kProbeBytes));
}
VEMBRO_CATCH_RETURN()

HRESULT ComponentCore::DetectData_nothrow(const VARIANT& data, tagFILEDATATYPE type, const DetectFn& detect,
                                  const TextToBytesFn& toBytes) noexcept
try {
    unique_variant value;
    ThrowIfFailed(::VariantCopyInd(&value, const_cast<VARIANT*>(&data)));
    switch (type) {
    case FILEDATATYPE_FILENAME:
    case FILEDATATYPE_TEXT:
        if (V_VT(&value) != VT_BSTR)
            return E_INVALIDARG;
        return type == FILEDATATYPE_FILENAME ? DetectFile_nothrow(V_BSTR(&value), detect)
                                             : DetectText_nothrow(V_BSTR(&value), detect, toBytes);
    case FILEDATATYPE_STREAM:
        if (V_VT(&value) != VT_UNKNOWN && V_VT(&value) != VT_DISPATCH)
            return E_INVALIDARG;
        return DetectStream_nothrow(V_UNKNOWN(&value), detect);
    default:
        return E_INVALIDARG;
    }
}
VEMBRO_CATCH_RETURN()

namespace {

// Runs the author's start check on the input's head and puts the input back
// where it was, so that the run reads it whole.
void CheckHead(IStream* input, const DetectFn& check)
{
    if (!check)
        return;
    StreamPositionKeeper keeper(input);
    std::string head = ReadHead(input);
    ThrowIfFailed(keeper.Restore_nothrow());
    ThrowIfFailed(check(head));
}

// A run on files: the target is kept only when the conversion completes.
Work FileWork(ComPtr<IStream> source, std::wstring target, ConvertFn convert)
{
    return [source, target, convert](Progress& progress) {
        OutputFile file(target.c_str());
        convert(source.Get(), file.Stream(), progress);
        file.Commit();
    };
}

} // namespace

HRESULT ComponentCore::StartFile_nothrow(BSTR in, BSTR out, ConvertFn convert, const DetectFn& check) noexcept
try {
    // The source is opened now, so that a missing one fails the start.
    ComPtr<IStream> source = OpenInputFile(CheckName(in));
    std::wstring target = CheckName(out);
    CheckHead(source.Get(), check);
    if (m_runner.Running())
        return E_UNEXPECTED;
    return m_runner.Start(FileWork(source, target, convert));
}
VEMBRO_CATCH_RETURN()

HRESULT ComponentCore::StartStream_nothrow(IUnknown* in, IUnknown* out, ConvertFn convert, const DetectFn& check) noexcept
try {
    ComPtr<IStream> source = StreamOf(in), target = StreamOf(out);
    CheckHead(source.Get(), check);
    auto inHandOver = std::make_shared<StreamHandOver>(source.Get());
    auto outHandOver = std::make_shared<StreamHandOver>(target.Get());
    return m_runner.Start([inHandOver, outHandOver, convert](Progress& progress) {
        convert(inHandOver->Get().Get(), outHandOver->Get().Get(), progress);
    });
}
VEMBRO_CATCH_RETURN()

HRESULT ComponentCore::SyncFile_nothrow(BSTR in, BSTR out, const ConvertFn& convert) noexcept
try {
    ComPtr<IStream> source = OpenInputFile(CheckName(in));
    std::wstring target = CheckName(out);
    return m_runner.RunSync_nothrow(FileWork(source, target, convert));
}
VEMBRO_CATCH_RETURN()

HRESULT ComponentCore::SyncStream_nothrow(IUnknown* in, IUnknown* out, const ConvertFn& convert) noexcept
try {
    ComPtr<IStream> source = StreamOf(in), target = StreamOf(out);
    return m_runner.RunSync_nothrow([&](Progress& progress) { convert(source.Get(), target.Get(), progress); });
}
VEMBRO_CATCH_RETURN()

HRESULT ComponentCore::Memory_nothrow(BSTR in, BSTR* out, const ConvertFn& convert, const TextToBytesFn& toBytes,
                              const BytesToTextFn& toText) noexcept
try {
    if (!ClearOut(out))
        return E_POINTER;
    if (!in)
        return E_POINTER;
    ComPtr<IStream> source = NewMemoryStream();
    std::string bytes = toBytes(std::wstring(in, ::SysStringLen(in)));
    ULONG written = 0;
    ThrowIfFailed(source->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written));
    LARGE_INTEGER zero{};
    ThrowIfFailed(source->Seek(zero, STREAM_SEEK_SET, nullptr));
    ComPtr<IStream> target = NewMemoryStream();
    Progress silent(nullptr);
    convert(source.Get(), target.Get(), silent);
    std::wstring text = toText(ContentOf(target.Get()));
    *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}
VEMBRO_CATCH_RETURN()

HRESULT ComponentCore::PutProperty_nothrow(const VARIANT& name, const VARIANT& value) noexcept
try {
    if (VariantsEqual(PropertyBag::KeyOf(name), PropertyBag::KeyOf(L"PRIORITY"))) {
        unique_variant number;
        if (FAILED(::VariantChangeType(&number, const_cast<VARIANT*>(&value), 0, VT_I4)))
            return E_INVALIDARG;
        ThrowIfFailed(m_runner.SetPriority_nothrow(V_I4(&number)));
    }
    return m_properties.Put(name, value);
}
VEMBRO_CATCH_RETURN()

} // namespace vembro::kit
