// The creatable classes of the server, in registration order, with their identities and scripts.
#include "lanvex/net/class_table.h"

#include "lanvex/ftp/ftp_client.h"
#include "lanvex/net/component_object.h"
#include "lanvex/net/lanvex.h"
#include "lanvex/net/telnet_session.h"

namespace lanvex
{

namespace
{

// Rows of the cache (103) and file operation (104) come between the FTP client and lvTelnet
// as those components join the library.
ClassTableRow g_classes[] = {
    {&CLSID_lvFTPClient, "lvFTPClient", "Lanvex.lvFTPClient.1", "Lanvex.lvFTPClient", 101,
     &CreateComponent<lvFTPClient>, nullptr},
    {&CLSID_lvTelnet, "lvTelnet", "Lanvex.lvTelnet.1", "Lanvex.lvTelnet", 108,
     &CreateComponent<lvTelnet>, nullptr},
};

} // namespace

ClassTableRow* ClassTable()
{
    return g_classes;
}

size_t ClassTableSize()
{
    return sizeof g_classes / sizeof g_classes[0];
}

ClassTableRow* FindClass(REFCLSID clsid)
{
    for (ClassTableRow& row : g_classes)
        if (IsEqualCLSID(*row.Clsid, clsid))
            return &row;
    return nullptr;
}

void ReleaseClassObjects()
{
    for (ClassTableRow& row : g_classes)
    {
        if (row.ClassObject != nullptr)
        {
            row.ClassObject->Release();
            row.ClassObject = nullptr;
        }
    }
}

} // namespace lanvex
