#pragma once
// Base of a translator component, the counterpart of Converter<Derived>:
//
//     class CShout : public vembro::kit::Translator<CShout> {
//     public:
//         static constexpr vembro::kit::FormatSpec kSource{...}, kTarget{...};
//         static HRESULT Detect(const std::string& head);
//         void Translate(IDispatch* direction, IStream* in, IStream* out, vembro::kit::Progress& progress);
//     };
//
// `direction` is the client's object, passed on as it came (possibly null
// for TranslateText). Properties() holds what the client or the chain put,
// "PRIORITY" included, which also sets the worker's thread priority.
#include <windows.h>
#include <wrl/client.h>
#include <string>

#include "vembro/Vembro.h"
#include "vembro/kit/Component.h"

namespace vembro::kit {

template <class Derived>
using TranslatorBase = Component<Derived, ITolviFileTranslator2, TranslatorCore,
                               &IID_ITolviFileTranslator, &IID_ITolviFileTranslator2>;

template <class Derived>
class Translator : public TranslatorBase<Derived> {
    using TranslatorBase<Derived>::m_core;

public:
    // ITolviFileTranslator
    STDMETHODIMP put_Property(VARIANT Prop, VARIANT newVal) noexcept override
    {
        return m_core.PutPropertyAndNotify_nothrow(Prop, newVal);
    }
    STDMETHODIMP TranslateText(IDispatch* Direction, BSTR Text, BSTR* Result) noexcept override

    try {
        if (!ClearOut(Result)) // before the run is made, which may fail
            return E_POINTER;
        return m_core.Memory_nothrow(Text, Result, Work(Direction), &Derived::TextToSource, &Derived::TargetToText);
    }
    VEMBRO_CATCH_RETURN()
    STDMETHODIMP TranslateFile(IDispatch* Direction, BSTR Source, BSTR Target, VARIANT) noexcept override

    try {
        return m_core.StartFile_nothrow(Source, Target, Work(Direction));
    }
    VEMBRO_CATCH_RETURN()
    STDMETHODIMP TranslateStream(IDispatch* Direction, IUnknown* Source, IUnknown* Target, VARIANT) noexcept override

    try {
        return m_core.StartStream_nothrow(Source, Target, Work(Direction));
    }
    VEMBRO_CATCH_RETURN()
    STDMETHODIMP get_Error(LONG* pVal) noexcept override { return SetOut_nothrow(pVal, m_core.Run().Error()); }
    STDMETHODIMP IsFormatAvailable(VARIANT varData, tagFILEDATATYPE type) noexcept override
    {
        return m_core.DetectData_nothrow(varData, type, &Derived::Detect, &Derived::TextToSource);
    }

    // ITolviFileTranslator2
    STDMETHODIMP SyncTranslateFile(IDispatch* Direction, BSTR Source, BSTR Target, VARIANT) noexcept override

    try {
        return m_core.SyncFile_nothrow(Source, Target, Work(Direction));
    }
    VEMBRO_CATCH_RETURN()
    STDMETHODIMP SyncTranslateStream(IDispatch* Direction, IUnknown* Source, IUnknown* Target,
                                     VARIANT) noexcept override

    try {
        return m_core.SyncStream_nothrow(Source, Target, Work(Direction));
    }
    VEMBRO_CATCH_RETURN()

private:
    ConvertFn Work(IDispatch* direction)
    {
        Microsoft::WRL::ComPtr<IDispatch> held(direction);
        return [this, held](IStream* in, IStream* out, Progress& progress) {
            static_cast<Derived*>(this)->Translate(held.Get(), in, out, progress);
        };
    }
};

} // namespace vembro::kit
