#pragma once
// RAII holders for the handles the system juggles. One generic template, one
// alias per handle type, so every close path looks the same.
#include <windows.h>
#include <oleauto.h>
#include <objbase.h>
#include <wrl/client.h>
#include <mutex>
#include <utility>

#include "vembro/com/Error.h"

namespace vembro {

template <typename T>
constexpr T DefaultInvalid() noexcept { return T{}; }
inline HANDLE InvalidHandleValue() noexcept { return INVALID_HANDLE_VALUE; }

// Close frees a held value; InvalidFn gives the value that means "none".
template <typename T, auto Close, auto InvalidFn = &DefaultInvalid<T>>
class unique_any {
    static T Invalid() noexcept { return InvalidFn(); }

public:
    unique_any() noexcept : m_value(Invalid()) {}
    explicit unique_any(T value) noexcept : m_value(value) {}
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : m_value(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~unique_any() { reset(); }

    T get() const noexcept { return m_value; }
    explicit operator bool() const noexcept { return m_value != Invalid(); }
    T release() noexcept { return std::exchange(m_value, Invalid()); }
    void reset() noexcept { reset(Invalid()); }
    void reset(T value) noexcept
    {
        T old = std::exchange(m_value, value);
        if (old != Invalid())
            Close(old);
    }
    // For out-parameters: frees what is held and hands out the slot.
    T* put() noexcept
    {
        reset();
        return &m_value;
    }

private:
    T m_value;
};

namespace detail {
inline void CloseKey(HKEY key) noexcept { ::RegCloseKey(key); }
inline void CloseHandle(HANDLE h) noexcept { ::CloseHandle(h); }
inline void FreeBstr(BSTR s) noexcept { ::SysFreeString(s); }
} // namespace detail

using unique_hkey = unique_any<HKEY, detail::CloseKey>;
using unique_handle = unique_any<HANDLE, detail::CloseHandle>;
using unique_file = unique_any<HANDLE, detail::CloseHandle, &InvalidHandleValue>;
using unique_bstr = unique_any<BSTR, detail::FreeBstr>;

// A copy of a BSTR byte for byte, so that embedded NULs and an odd length
// survive; null for null, and null when out of memory.
inline BSTR CopyBstr_nothrow(BSTR text) noexcept
{
    return text ? ::SysAllocStringByteLen(reinterpret_cast<LPCSTR>(text), ::SysStringByteLen(text)) : nullptr;
}

// The same, throwing E_OUTOFMEMORY when a string could not be copied.
inline unique_bstr CopyBstr(BSTR text)
{
    unique_bstr copy(CopyBstr_nothrow(text));
    if (text && !copy)
        ThrowHr(E_OUTOFMEMORY);
    return copy;
}

inline unique_bstr MakeBstr(const wchar_t* text)
{
    unique_bstr s(::SysAllocString(text ? text : L""));
    if (!s)
        ThrowHr(E_OUTOFMEMORY);
    return s;
}

// A VARIANT that clears itself. Moving hands the value over bit for bit (a
// VARIANT owns what it points to, so the source is left empty); copying is
// explicit, through VariantCopy, because it can fail.
class unique_variant : public VARIANT {
public:
    unique_variant() noexcept { ::VariantInit(this); }
    // Takes over a VARIANT that the caller owns.
    explicit unique_variant(const VARIANT& adopt) noexcept : VARIANT(adopt) {}
    unique_variant(const unique_variant&) = delete;
    unique_variant& operator=(const unique_variant&) = delete;
    unique_variant(unique_variant&& other) noexcept : VARIANT(other.Detach()) {}
    unique_variant& operator=(unique_variant&& other) noexcept
    {
        if (this != &other) {
            ::VariantClear(this);
            static_cast<VARIANT&>(*this) = other.Detach();
        }
        return *this;
    }
    ~unique_variant() { ::VariantClear(this); }
    void reset() noexcept { ::VariantClear(this); }
    VARIANT* put() noexcept
    {
        ::VariantClear(this);
        return this;
    }
    VARIANT Detach() noexcept
    {
        VARIANT v = *this;
        ::VariantInit(this);
        return v;
    }
};

// The value that stands for an omitted optional argument.
inline VARIANT MissingArgument() noexcept
{
    VARIANT v;
    ::VariantInit(&v);
    V_VT(&v) = VT_ERROR;
    V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
    return v;
}

// A recursive critical section. Lock() hands out a guard that must be kept.
class CriticalSection {
public:
    class [[nodiscard]] Guard {
    public:
        explicit Guard(CriticalSection& cs) noexcept : m_cs(&cs) { m_cs->Enter(); }
        Guard(CriticalSection& cs, std::adopt_lock_t) noexcept : m_cs(&cs) {} // already entered
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;
        Guard(Guard&& other) noexcept : m_cs(std::exchange(other.m_cs, nullptr)) {}
        ~Guard() { Release(); }
        void Release() noexcept
        {
            if (m_cs)
                std::exchange(m_cs, nullptr)->Leave();
        }

    private:
        CriticalSection* m_cs;
    };

    CriticalSection()
    {
        if (!::InitializeCriticalSectionAndSpinCount(&m_cs, 0))
            throw std::bad_alloc();
    }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    ~CriticalSection() { ::DeleteCriticalSection(&m_cs); }

    void Enter() noexcept { ::EnterCriticalSection(&m_cs); }
    [[nodiscard]] bool TryEnter() noexcept { return ::TryEnterCriticalSection(&m_cs) != FALSE; }
    void Leave() noexcept { ::LeaveCriticalSection(&m_cs); }
    [[nodiscard]] Guard Lock() noexcept { return Guard(*this); }

private:
    CRITICAL_SECTION m_cs;
};

// Takes over a reference that the caller already owns (a fresh object's
// first reference, or one handed out by QueryInterface). MinGW's
// ComPtr::Attach adds a reference of its own, unlike the original, so using it
// for this leaks one.
template <class T>
Microsoft::WRL::ComPtr<T> TakeOver(T* owned) noexcept
{
    Microsoft::WRL::ComPtr<T> p;
    *p.GetAddressOf() = owned;
    return p;
}

} // namespace vembro
