// The creatable classes of the server, in registration order, with their identities and scripts.
#include "lanvex/net/module/class_table.h"

#include "lanvex/ftp/cache.h"
#include "lanvex/ftp/ftp_client.h"
#include "lanvex/ftp/shell_file.h"
#include "lanvex/net/lanvex.h"
#include "lanvex/net/sessions/component_object.h"
#include "lanvex/net/sessions/secure_shell.h"
#include "lanvex/net/sessions/telnet_session.h"

namespace lanvex
{

namespace
{

ClassTableRow g_classes[] = {
    {&CLSID_lvFTPClient, "lvFTPClient", "Lanvex.lvFTPClient.1", "Lanvex.lvFTPClient", 101,
     &CreateComponent<lvFTPClient>, nullptr},
    {&CLSID_lvCache, "lvCache", "Lanvex.lvCache.1", "Lanvex.lvCache", 103,
     &CreateComponent<lvCache>, nullptr},
    {&CLSID_lvFTPShellFile, "lvFTPShellFile", "Lanvex.lvFTPShellFile.1", "Lanvex.lvFTPShellFile",
     104, &CreateComponent<lvFTPShellFile>, nullptr},
    {&CLSID_lvTelnet, "lvTelnet", "Lanvex.lvTelnet.1", "Lanvex.lvTelnet", 108,
     &CreateComponent<lvTelnet>, nullptr},
    {&CLSID_lvSecureShell, "lvSecureShell", "Lanvex.lvSecureShell.1", "Lanvex.lvSecureShell", 109,
     &CreateComponent<lvSecureShell>, nullptr},
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
