#pragma once
// The localisation components' own failures. They travel as the run's
// error code (FTSTATE_ERROR, the translator's Error, the synchronous
// calls' result); vembro.exe knows their meanings.
#include <windows.h>

namespace samples {

constexpr HRESULT L10nError(unsigned code) noexcept
{
    return static_cast<HRESULT>(MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, code));
}

inline constexpr HRESULT L10N_E_MALFORMED_XML = L10nError(0x0301);     // 0x80040301
inline constexpr HRESULT L10N_E_NOT_XLIFF12 = L10nError(0x0302);       // 0x80040302
inline constexpr HRESULT L10N_E_MEMORY_UNREADABLE = L10nError(0x0303); // 0x80040303
inline constexpr HRESULT L10N_E_LANGUAGE_NOT_IN_MEMORY = L10nError(0x0304);
inline constexpr HRESULT L10N_E_UNKNOWN_ENCODING = L10nError(0x0305);
inline constexpr HRESULT L10N_E_NO_SKELETON = L10nError(0x0306);
inline constexpr HRESULT L10N_E_NO_LANGUAGE = L10nError(0x0307);
inline constexpr HRESULT L10N_E_NO_MEMORY = L10nError(0x0308);
inline constexpr HRESULT L10N_E_NO_XMLLITE = L10nError(0x0309);

} // namespace samples
