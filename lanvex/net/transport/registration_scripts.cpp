// The registration scripts carried by the library, by resource number.
#include "lanvex/net/transport/registration_scripts.h"

#include <array>
#include <string>

namespace lanvex
{

namespace
{

// Every component registers the same shape of keys; only its name, class id and ProgID differ.
struct ScriptEntry
{
    int Number;
    std::string_view ClassName;
    std::string_view Clsid;
    std::string_view ProgId; // version-independent; the versioned one adds ".1"
};

constexpr ScriptEntry kScriptEntries[] = {
    {101, "lvFTPClient", "{E2057CB0-48B9-11D3-8C5A-02B3E4F6A719}", "Lanvex.lvFTPClient"},
    {103, "lvCache", "{3B6E1F08-6D25-11D3-9E41-02A95C7D8E16}", "Lanvex.lvCache"},
    {104, "lvFTPShellFile", "{7D41B214-4E2C-11D3-8A37-02C4D18E5B90}", "Lanvex.lvFTPShellFile"},
    {105, "lvFTPShellFileDlg", "{7D41B216-4E2C-11D3-8A37-02C4D18E5B90}",
     "Lanvex.lvFTPShellFileDlg"},
    {108, "lvTelnet", "{91F3E726-A6D1-11D3-B52E-0290F7C2A3D4}", "Lanvex.lvTelnet"},
    {109, "lvSecureShell", "{46374BC6-5DEB-41DA-BAAC-755E548340F6}", "Lanvex.lvSecureShell"},
};

// $CLASS$, $CLSID$ and $PROGID$ are filled from the table; %MODULE% is left for the registrar.
constexpr std::string_view kScriptTemplate = R"rgs(HKCR
{
    $PROGID$.1 = s '$CLASS$ Class'
    {
        CLSID = s '$CLSID$'
    }
    $PROGID$ = s '$CLASS$ Class'
    {
        CLSID = s '$CLSID$'
        CurVer = s '$PROGID$.1'
    }
    NoRemove CLSID
    {
        ForceRemove $CLSID$ = s '$CLASS$ Class'
        {
            ProgID = s '$PROGID$.1'
            VersionIndependentProgID = s '$PROGID$'
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

std::string BuildScript(const ScriptEntry& entry)
{
    std::string text;
    std::string_view rest = kScriptTemplate;
    for (size_t nStart = rest.find('$'); nStart != std::string_view::npos; nStart = rest.find('$'))
    {
        const size_t nEnd = rest.find('$', nStart + 1);
        const std::string_view field = rest.substr(nStart + 1, nEnd - nStart - 1);
        text += rest.substr(0, nStart);
        text += field == "CLASS" ? entry.ClassName : field == "CLSID" ? entry.Clsid : entry.ProgId;
        rest.remove_prefix(nEnd + 1);
    }
    return text += rest;
}

// Built once, so the views handed out stay valid for the life of the module.
const std::array<std::string, std::size(kScriptEntries)>& Scripts()
{
    static const auto scripts = []
    {
        std::array<std::string, std::size(kScriptEntries)> texts;
        for (size_t i = 0; i < texts.size(); ++i)
            texts[i] = BuildScript(kScriptEntries[i]);
        return texts;
    }();
    return scripts;
}

} // namespace

std::string_view LoadScriptResource(int nResource)
{
    for (size_t i = 0; i < std::size(kScriptEntries); ++i)
        if (kScriptEntries[i].Number == nResource)
            return Scripts()[i];
    return {};
}

} // namespace lanvex
