// The creatable classes of the server, in registration order, with their identities and scripts.
#pragma once

#include "lanvex/net/sessions/class_factory.h"

#include "platform/com/guid.h"

#include <cstddef>

namespace lanvex
{

struct ClassTableRow
{
    const CLSID* Clsid;
    const char* ClassName;         // description string is ClassName + " Class"
    const char* ProgID;            // "Lanvex.<class>.1"
    const char* IndependentProgID; // "Lanvex.<class>"
    int ScriptResource;            // registration script number
    PFNCREATEINSTANCE CreateInstance;
    CClassFactory* ClassObject; // created on first use, kept until unload
};

ClassTableRow* ClassTable();
size_t ClassTableSize();
// The row of clsid, or null.
ClassTableRow* FindClass(REFCLSID clsid);
// Releases the class objects the table holds (at unload).
void ReleaseClassObjects();

} // namespace lanvex
