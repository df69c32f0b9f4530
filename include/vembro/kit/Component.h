#pragma once
// What a converter and a translator component answer alike: their formats,
// the run's state and its Stop/Suspend/Resume, properties, the one
// connection point. Converter<Derived> and Translator<Derived> add the runs.
#include <windows.h>
#include <ocidl.h>
#include <string>

#include "vembro/VembroDispatch.h"
#include "vembro/com/Object.h"
#include "vembro/Vembro.h"
#include "vembro/kit/ComponentCore.h"
#include "vembro/kit/Format.h"

namespace vembro::kit {

// Iface is the newest interface of the kind; Ids are the IIDs it answers
// for besides IUnknown, IDispatch and IConnectionPointContainer.
template <class Derived, class Iface, class Core, const IID*... Ids>
class Component : public CComObjectRootEx, public VembroDispatch<Iface>, public IConnectionPointContainer {
public:
    Component() noexcept : m_core(this) {}

    static const QIEntry* QITable() noexcept
    {
        static const QIEntry table[] = {
            VEMBRO_QI_AS(Derived, IID_IUnknown, Iface),
            VEMBRO_QI_AS(Derived, IID_IDispatch, Iface),
            VEMBRO_QI_AS(Derived, *Ids, Iface)...,
            VEMBRO_QI_AS(Derived, IID_IConnectionPointContainer, IConnectionPointContainer),
            VEMBRO_QI_END,
        };
        return table;
    }

    static std::string TextToSource(const std::wstring& text) { return Utf8TextToBytes(text); }
    static std::wstring TargetToText(const std::string& bytes) { return Utf8BytesToText(bytes); }

    STDMETHODIMP get_SourceFormat(ITolviFileFormat** pVal) noexcept override
    {
        return CreateFormatObject(Derived::kSource, pVal);
    }
    STDMETHODIMP get_TargetFormat(ITolviFileFormat** pVal) noexcept override
    {
        return CreateFormatObject(Derived::kTarget, pVal);
    }
    STDMETHODIMP get_State(LONG* pVal) noexcept override { return SetOut_nothrow(pVal, m_core.Run().State()); }
    STDMETHODIMP Stop(VARIANT) noexcept override { return m_core.Run().Stop(); }
    STDMETHODIMP Suspend() noexcept override { return m_core.Run().Suspend(); }
    STDMETHODIMP Resume() noexcept override { return m_core.Run().Resume(); }
    STDMETHODIMP get_Property(VARIANT Prop, VARIANT* pVal) noexcept override { return m_core.Properties().Get(Prop, pVal); }

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** ppEnum) noexcept override
    {
        return EnumSingleConnectionPoint_nothrow(&m_core.Events(), ppEnum);
    }
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) noexcept override
    {
        return FindSingleConnectionPoint_nothrow(&m_core.Events(), riid, ppCP);
    }

protected:
    PropertyBag& Properties() noexcept { return m_core.Properties(); }

    Core m_core;
};

} // namespace vembro::kit
