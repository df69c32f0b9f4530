#pragma once
// The chain translator's sinks are kept marshalled into streams.
#include "vembro/com/SinkList.h"

namespace vembro {

using CComDynamicUnkArrayEx = SinkSlots<IStream>;

} // namespace vembro
