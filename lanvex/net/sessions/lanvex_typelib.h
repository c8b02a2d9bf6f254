// The description of the type library LANVEXLib that the server carries inside itself.
#pragma once

#include "platform/com/typelib_model.h"

namespace lanvex
{

TypeLibDesc MakeLanvexTypeLibDesc();

} // namespace lanvex
