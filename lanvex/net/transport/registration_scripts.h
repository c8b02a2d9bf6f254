// The registration scripts carried by the library, by resource number.
#pragma once

#include <string_view>

namespace lanvex
{

// The script text of resource nResource, or an empty view when there is none.
std::string_view LoadScriptResource(int nResource);

} // namespace lanvex
