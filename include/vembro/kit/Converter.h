#pragma once
// Base of a converter component. The author derives, names the two formats
// and writes the detection and the conversion:
//
//     class CUpper : public vembro::kit::Converter<CUpper> {
//     public:
//         static constexpr vembro::kit::FormatSpec kSource{201, L"Lower", L"low", L"low", false};
//         static constexpr vembro::kit::FormatSpec kTarget{202, L"Upper", L"up", L"up", false};
//         static HRESULT Detect(const std::string& head);
//         void Convert(IStream* in, IStream* out, vembro::kit::Progress& progress);
//     };
//
// Optional: static CheckHead(head) refuses an input at the start of an
// asynchronous run with its own code. Optional: static TextToSource / TargetToText to say how ConvertMemory and
// IsFormatAvailableMemory see a BSTR (UTF-8 unless overridden). Convert runs
// on a worker thread for ConvertFile/ConvertStream and in the caller's thread
// for the synchronous and in-memory calls; it throws to fail.
#include <windows.h>
#include <string>

#include "vembro/Vembro.h"
#include "vembro/kit/Checks.h"
#include "vembro/kit/Component.h"

namespace vembro::kit {

template <class Derived>
using ConverterBase = Component<Derived, ITolviFileConverter3, ConverterCore,
                               &IID_ITolviFileConverter, &IID_ITolviFileConverter2, &IID_ITolviFileConverter3>;

template <class Derived>
class Converter : public ConverterBase<Derived> {
    using ConverterBase<Derived>::m_core;

public:
    // ITolviFileConverter
    STDMETHODIMP IsFormatAvailableStream(IUnknown* Stream) noexcept override
    {
        return m_core.DetectStream_nothrow(Stream, &Derived::Detect);
    }
    STDMETHODIMP IsFormatAvailableFile(BSTR File) noexcept override
    {
        return m_core.DetectFile_nothrow(File, &Derived::Detect);
    }
    STDMETHODIMP ConvertFile(BSTR InFile, BSTR OutFile, VARIANT) noexcept override

    try {
        return m_core.StartFile_nothrow(InFile, OutFile, Work(), HeadCheck());
    }
    VEMBRO_CATCH_RETURN()
    STDMETHODIMP ConvertStream(IUnknown* Source, IUnknown* Target, VARIANT) noexcept override

    try {
        return m_core.StartStream_nothrow(Source, Target, Work(), HeadCheck());
    }
    VEMBRO_CATCH_RETURN()
    STDMETHODIMP ConvertMemory(BSTR TextIn, BSTR* TextOut) noexcept override

    try {
        return m_core.Memory_nothrow(TextIn, TextOut, Work(), &Derived::TextToSource, &Derived::TargetToText);
    }
    VEMBRO_CATCH_RETURN()
    STDMETHODIMP IsFormatAvailableMemory(BSTR Text) noexcept override
    {
        return m_core.DetectText_nothrow(Text, &Derived::Detect, &Derived::TextToSource);
    }

    // ITolviFileConverter2
    STDMETHODIMP put_Property(VARIANT Prop, VARIANT newVal) noexcept override
    {
        return m_core.PutProperty_nothrow(Prop, newVal);
    }

    // ITolviFileConverter3
    STDMETHODIMP SyncConvertFile(BSTR InFile, BSTR OutFile, VARIANT) noexcept override

    try {
        return m_core.SyncFile_nothrow(InFile, OutFile, Work());
    }
    VEMBRO_CATCH_RETURN()
    STDMETHODIMP SyncConvertStream(IUnknown* Source, IUnknown* Target, VARIANT) noexcept override

    try {
        return m_core.SyncStream_nothrow(Source, Target, Work());
    }
    VEMBRO_CATCH_RETURN()
private:
    static DetectFn HeadCheck()
    {
        if constexpr (checks::HasCheckHead<Derived>::value)
            return &Derived::CheckHead;
        else
            return {};
    }
    ConvertFn Work()
    {
        return [this](IStream* in, IStream* out, Progress& progress) {
            static_cast<Derived*>(this)->Convert(in, out, progress);
        };
    }
};

} // namespace vembro::kit
