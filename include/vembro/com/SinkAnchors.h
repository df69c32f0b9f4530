#pragma once
// Keeps the platform's stub of every connected client sink in place between
// firings.
//
// Each firing unmarshals every sink from its slot and marshals it back. When
// the unmarshal takes the slot's last external reference, the platform tears
// the sink's stub down, and the re-marshal builds it again from the type
// library; under Wine that costs milliseconds per sink and event. A table
// registration of the sink in the process's global interface table, held
// for as long as the connection lasts, keeps the stub alive, and the
// unmarshal/re-marshal pair then finds it ready. The registration is never
// used to reach the sink: events still go through the slot's stream.
//
// Indexed by cookie like the slots of the sink list and, like them, read and
// written only under the sink list's lock. Registering and revoking happen
// outside that lock, because both may call into the sink's apartment.
#include <windows.h>
#include <unknwn.h>
#include <vector>

namespace vembro {

class CSinkAnchors {
public:
    CSinkAnchors() = default;
    CSinkAnchors(const CSinkAnchors&) = delete;
    CSinkAnchors& operator=(const CSinkAnchors&) = delete;

    // Registers the sink; 0 when the table is unavailable or refuses it, in
    // which case the connection simply goes without an anchor.
    static DWORD Register_nothrow(IUnknown* sink) noexcept;
    // Revokes a registration; 0 is ignored.
    static void Revoke(DWORD anchor) noexcept;

    // Records the anchor of a new connection. FALSE when there is no memory
    // to record it; the anchor then stays the caller's.
    BOOL Set(DWORD cookie, DWORD anchor) noexcept;
    // Takes the anchor of a connection out (0 when it has none).
    DWORD Take(DWORD cookie) noexcept;
    // Takes every anchor out, for revocation before the slots are released.
    std::vector<DWORD> TakeAll() noexcept;

private:
    std::vector<DWORD> m_anchors; // [cookie - 1]
};

} // namespace vembro
