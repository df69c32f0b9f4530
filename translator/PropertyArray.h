#pragma once
// Named values that a client sets on a chain translator before a translator
// component exists; each translator step receives them all again (ApplyTo).
#include "vembro/com/PropertyList.h"

namespace vembro {

using CPropertyArray = PropertyList;

} // namespace vembro
