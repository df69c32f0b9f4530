#pragma once
// Failures inside an operation travel as exceptions carrying an HRESULT; each
// interface method is one noexcept function-try-block that ends in
// VEMBRO_CATCH_RETURN, so no exception ever crosses a vtable.
#include <windows.h>
#include <exception>
#include <new>

namespace vembro {

class ComError : public std::exception {
public:
    explicit ComError(HRESULT hr) noexcept : m_hr(hr) {}
    HRESULT Code() const noexcept { return m_hr; }
    const char* what() const noexcept override { return "COM failure"; }

private:
    HRESULT m_hr;
};

[[noreturn]] inline void ThrowHr(HRESULT hr) { throw ComError(hr); }

// Throws for a failure code, hands success codes (S_FALSE included) back.
inline HRESULT ThrowIfFailed(HRESULT hr)
{
    if (FAILED(hr))
        ThrowHr(hr);
    return hr;
}

inline HRESULT HResultFromWin32(LONG error) noexcept
{
    return HRESULT_FROM_WIN32(static_cast<unsigned long>(error));
}

inline void ThrowIfWin32Failed(LONG error)
{
    if (error != ERROR_SUCCESS)
        ThrowHr(HResultFromWin32(error));
}

template <typename T>
T* ThrowIfNull(T* p, HRESULT hr = E_POINTER)
{
    if (!p)
        ThrowHr(hr);
    return p;
}

// Clears an [out] pointer before any work is done, so that it is null on
// every failure; false for a null one, which the caller answers with E_POINTER.
template <typename T>
bool ClearOut(T** out) noexcept
{
    if (out)
        *out = nullptr;
    return out != nullptr;
}

// A property's answer: E_POINTER for a null [out] pointer, else the value.
template <typename T, typename V>
HRESULT SetOut_nothrow(T* out, const V& value) noexcept
{
    if (!out)
        return E_POINTER;
    *out = value;
    return S_OK;
}

// Only meaningful inside a catch block: maps the exception in flight back to
// an HRESULT. `other` is what an exception without a code turns into.
inline HRESULT ResultFromCaughtException(HRESULT other = E_FAIL) noexcept
{
    try {
        throw;
    } catch (const ComError& e) {
        return e.Code();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return other;
    }
}

} // namespace vembro

#define VEMBRO_CATCH_RETURN() \
    catch (...) { return ::vembro::ResultFromCaughtException(); }
#define VEMBRO_CATCH_RETURN_OR(other) \
    catch (...) { return ::vembro::ResultFromCaughtException(other); }
