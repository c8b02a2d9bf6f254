// The registration scripts carried by the library, by resource number.
#include "lanvex/net/registration_scripts.h"

namespace lanvex
{

namespace
{

// REGISTRY 101: lvFTPClient
constexpr char kScript101[] = R"rgs(HKCR
{
    Lanvex.lvFTPClient.1 = s 'lvFTPClient Class'
    {
        CLSID = s '{E2057CB0-48B9-11D3-8C5A-02B3E4F6A719}'
    }
    Lanvex.lvFTPClient = s 'lvFTPClient Class'
    {
        CLSID = s '{E2057CB0-48B9-11D3-8C5A-02B3E4F6A719}'
        CurVer = s 'Lanvex.lvFTPClient.1'
    }
    NoRemove CLSID
    {
        ForceRemove {E2057CB0-48B9-11D3-8C5A-02B3E4F6A719} = s 'lvFTPClient Class'
        {
            ProgID = s 'Lanvex.lvFTPClient.1'
            VersionIndependentProgID = s 'Lanvex.lvFTPClient'
            ForceRemove 'Programmable'
            InprocServer32 = s '%MODULE%'
            {
                val ThreadingModel = s 'Apartment'
            }
            'TypeLib' = s '{E2057CA3-48B9-11D3-8C5A-02B3E4F6A719}'
        }
    }
}
)rgs";

// REGISTRY 103: lvCache
constexpr char kScript103[] = R"rgs(HKCR
{
    Lanvex.lvCache.1 = s 'lvCache Class'
    {
        CLSID = s '{3B6E1F08-6D25-11D3-9E41-02A95C7D8E16}'
    }
    Lanvex.lvCache = s 'lvCache Class'
    {
        CLSID = s '{3B6E1F08-6D25-11D3-9E41-02A95C7D8E16}'
        CurVer = s 'Lanvex.lvCache.1'
    }
    NoRemove CLSID
    {
        ForceRemove {3B6E1F08-6D25-11D3-9E41-02A95C7D8E16} = s 'lvCache Class'
        {
            ProgID = s 'Lanvex.lvCache.1'
            VersionIndependentProgID = s 'Lanvex.lvCache'
            ForceRemove 'Programmable'
            InprocServer32 = s '%MODULE%'
            {
                val ThreadingModel = s 'Apartment'
            }
            'TypeLib' = s '{E2057CA3-48B9-11D3-8C5A-02B3E4F6A719}'
        }
    }
}
)rgs";

// REGISTRY 104: lvFTPShellFile
constexpr char kScript104[] = R"rgs(HKCR
{
    Lanvex.lvFTPShellFile.1 = s 'lvFTPShellFile Class'
    {
        CLSID = s '{7D41B214-4E2C-11D3-8A37-02C4D18E5B90}'
    }
    Lanvex.lvFTPShellFile = s 'lvFTPShellFile Class'
    {
        CLSID = s '{7D41B214-4E2C-11D3-8A37-02C4D18E5B90}'
        CurVer = s 'Lanvex.lvFTPShellFile.1'
    }
    NoRemove CLSID
    {
        ForceRemove {7D41B214-4E2C-11D3-8A37-02C4D18E5B90} = s 'lvFTPShellFile Class'
        {
            ProgID = s 'Lanvex.lvFTPShellFile.1'
            VersionIndependentProgID = s 'Lanvex.lvFTPShellFile'
            ForceRemove 'Programmable'
            InprocServer32 = s '%MODULE%'
            {
                val ThreadingModel = s 'Apartment'
            }
            'TypeLib' = s '{E2057CA3-48B9-11D3-8C5A-02B3E4F6A719}'
        }
    }
}
)rgs";

// REGISTRY 105: lvFTPShellFileDlg
constexpr char kScript105[] = R"rgs(HKCR
{
    Lanvex.lvFTPShellFileDlg.1 = s 'lvFTPShellFileDlg Class'
    {
        CLSID = s '{7D41B216-4E2C-11D3-8A37-02C4D18E5B90}'
    }
    Lanvex.lvFTPShellFileDlg = s 'lvFTPShellFileDlg Class'
    {
        CLSID = s '{7D41B216-4E2C-11D3-8A37-02C4D18E5B90}'
        CurVer = s 'Lanvex.lvFTPShellFileDlg.1'
    }
    NoRemove CLSID
    {
        ForceRemove {7D41B216-4E2C-11D3-8A37-02C4D18E5B90} = s 'lvFTPShellFileDlg Class'
        {
            ProgID = s 'Lanvex.lvFTPShellFileDlg.1'
            VersionIndependentProgID = s 'Lanvex.lvFTPShellFileDlg'
            ForceRemove 'Programmable'
            InprocServer32 = s '%MODULE%'
            {
                val ThreadingModel = s 'Apartment'
            }
            'TypeLib' = s '{E2057CA3-48B9-11D3-8C5A-02B3E4F6A719}'
        }
    }
}
)rgs";

// REGISTRY 108: lvTelnet
constexpr char kScript108[] = R"rgs(HKCR
{
    Lanvex.lvTelnet.1 = s 'lvTelnet Class'
    {
        CLSID = s '{91F3E726-A6D1-11D3-B52E-0290F7C2A3D4}'
    }
    Lanvex.lvTelnet = s 'lvTelnet Class'
    {
        CLSID = s '{91F3E726-A6D1-11D3-B52E-0290F7C2A3D4}'
        CurVer = s 'Lanvex.lvTelnet.1'
    }
    NoRemove CLSID
    {
        ForceRemove {91F3E726-A6D1-11D3-B52E-0290F7C2A3D4} = s 'lvTelnet Class'
        {
            ProgID = s 'Lanvex.lvTelnet.1'
            VersionIndependentProgID = s 'Lanvex.lvTelnet'
            ForceRemove 'Programmable'
            InprocServer32 = s '%MODULE%'
            {
                val ThreadingModel = s 'Apartment'
            }
            'TypeLib' = s '{E2057CA3-48B9-11D3-8C5A-02B3E4F6A719}'
        }
    }
}
)rgs";

// REGISTRY 109: lvSecureShell
constexpr char kScript109[] = R"rgs(HKCR
{
    Lanvex.lvSecureShell.1 = s 'lvSecureShell Class'
    {
        CLSID = s '{46374BC6-5DEB-41DA-BAAC-755E548340F6}'
    }
    Lanvex.lvSecureShell = s 'lvSecureShell Class'
    {
        CLSID = s '{46374BC6-5DEB-41DA-BAAC-755E548340F6}'
        CurVer = s 'Lanvex.lvSecureShell.1'
    }
    NoRemove CLSID
    {
        ForceRemove {46374BC6-5DEB-41DA-BAAC-755E548340F6} = s 'lvSecureShell Class'
        {
            ProgID = s 'Lanvex.lvSecureShell.1'
            VersionIndependentProgID = s 'Lanvex.lvSecureShell'
            ForceRemove 'Programmable'
            InprocServer32 = s '%MODULE%'
            {
                val ThreadingModel = s 'Apartment'
            }
            'TypeLib' = s '{E2057CA3-48B9-11D3-8C5A-02B3E4F6A719}'
        }
    }
}
)rgs";

struct ScriptResource
{
    int Number;
    std::string_view Text;
};

constexpr ScriptResource kScripts[] = {
    {101, kScript101},
    {103, kScript103},
    {104, kScript104},
    {105, kScript105},
    {108, kScript108},
    {109, kScript109},
};

} // namespace

std::string_view LoadScriptResource(int nResource)
{
    for (const ScriptResource& script : kScripts)
        if (script.Number == nResource)
            return script.Text;
    return {};
}

} // namespace lanvex
