#pragma once
// The members that converters and translators declare alike (formats,
// Property, State, Stop, Suspend, Resume), implemented once over the dual
// interface of each kind, and the choice of the QueryInterface table that
// the configuration asks for.
#include "vembro/VembroDispatch.h"
#include "vembro/com/Object.h"
#include "components/FakeComponent.h"
#include "components/FakeLive.h"
#include "components/FakeText.h"

namespace fakes {

// Four QueryInterface tables: with and without the synchronous interface,
// with and without the connection point container.
class FaceTables {
public:
    FaceTables(std::initializer_list<vembro::QIEntry> always, vembro::QIEntry sync, vembro::QIEntry events) noexcept
    {
        for (int i = 0; i < 4; ++i) {
            int n = 0;
            for (const auto& e : always)
                m_tables[i][n++] = e;
            if (!(i & 1))
                m_tables[i][n++] = sync;
            if (!(i & 2))
                m_tables[i][n++] = events;
            m_tables[i][n] = VEMBRO_QI_END;
        }
    }
    const vembro::QIEntry* Get(bool noSync, bool noEvents) const noexcept
    {
        return m_tables[(noSync ? 1 : 0) | (noEvents ? 2 : 0)];
    }

private:
    vembro::QIEntry m_tables[4][8];
};

template <class Iface>
class FakeDual : public vembro::CComObjectRootEx, public vembro::VembroDispatch<Iface>, public FakeComponent {
public:
    // Leaves the live list while TryAddRef can still be answered.
    ~FakeDual() override { UnlistLive(this); }

    bool TryAddRef() noexcept override
    {
        for (LONG n = m_dwRef; n > 0; n = m_dwRef) {
            if (::InterlockedCompareExchange(&m_dwRef, n + 1, n) == n)
                return true;
        }
        return false;
    }

    STDMETHODIMP get_SourceFormat(ITolviFileFormat** pVal) noexcept override
    try {
        return FormatOf(true, pVal);
    }
    VEMBRO_CATCH_RETURN()

    STDMETHODIMP get_TargetFormat(ITolviFileFormat** pVal) noexcept override
    try {
        return FormatOf(false, pVal);
    }
    VEMBRO_CATCH_RETURN()

    STDMETHODIMP get_Property(VARIANT Prop, VARIANT* pVal) noexcept override
    try {
        return DoGetProperty(Prop, pVal);
    }
    VEMBRO_CATCH_RETURN()

    STDMETHODIMP put_Property(VARIANT Prop, VARIANT newVal) noexcept override
    try {
        return DoPutProperty(Prop, newVal);
    }
    VEMBRO_CATCH_RETURN()

    STDMETHODIMP get_State(LONG* pVal) noexcept override
    try {
        Call("State");
        if (!pVal)
            return E_POINTER;
        *pVal = StateValue();
        return S_OK;
    }
    VEMBRO_CATCH_RETURN()

    STDMETHODIMP Stop(VARIANT Info) noexcept override
    try {
        Call("Stop(info=" + VariantText(Info) + ")");
        return DoStop();
    }
    VEMBRO_CATCH_RETURN()

    STDMETHODIMP Suspend() noexcept override
    try {
        Call("Suspend");
        SetState(FTSTATE_SUSPEND);
        return S_OK;
    }
    VEMBRO_CATCH_RETURN()

    STDMETHODIMP Resume() noexcept override
    try {
        Call("Resume");
        SetState(WorkingState());
        return S_OK;
    }
    VEMBRO_CATCH_RETURN()
};

} // namespace fakes
