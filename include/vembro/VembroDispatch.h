#pragma once
// IDispatch for the interfaces of Vembro's own type library, which the
// server, the kit's components and the clients' sinks all implement.
#include "vembro/Vembro.h"
#include "vembro/com/Dispatch.h"

namespace vembro {

template <class Iface>
using VembroDispatch = IDispatchImpl<Iface, &LIBID_VEMBROLib, 1, 0>;

} // namespace vembro
