// The test server's type library description.
#include "tests/tools/probe_server.h"

TypeLibDesc MakeProbeTypeLibDesc()
{
    TypeLibDesc lib;
    lib.Name = "ProbeLib";
    lib.Libid = LIBID_ProbeLib;
    lib.Lcid = 0x0409;
    lib.HelpString = "Probe 1.0 Type Library";
    lib.Imports.push_back({"stdole", LIBID_stdole, 2, 0});

    TypeLibInterfaceDesc itf;
    itf.Name = "IProbe";
    itf.Iid = IID_IProbe;
    itf.HelpString = "IProbe Interface";
    itf.Funcs = {
        TypeLibPropGet("Name", 1, 7, VT_BSTR, "property Name"),
        TypeLibPropPut("Name", 1, 8, VT_BSTR, "property Name"),
        TypeLibPropGet("Count", 2, 9, VT_I2, "property Count"),
        TypeLibPropPut("Count", 2, 10, VT_I2, "property Count"),
        TypeLibPropGet("Total", 3, 11, VT_I4, "property Total"),
        TypeLibPropPut("Total", 3, 12, VT_I4, "property Total"),
        TypeLibPropGet("Enabled", 4, 13, VT_BOOL, "property Enabled"),
        TypeLibPropPut("Enabled", 4, 14, VT_BOOL, "property Enabled"),
        TypeLibMethod(
            "Add", 5, 15, "method Add",
            {{"a", VT_I2}, {"b", VT_I4}, {"sum", VT_I4, 1, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}),
        TypeLibMethod("Concat", 6, 16, "method Concat",
                      {{"a", VT_BSTR},
                       {"b", VT_BSTR},
                       {"joined", VT_BSTR, 1, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}),
        TypeLibMethod("Fail", 7, 17, "method Fail", {{"description", VT_BSTR}}),
        TypeLibMethod("IsReady", 8, 18, "method IsReady"),
        TypeLibMethod("GetBuffer", 9, 19, "method GetBuffer",
                      {{"text", VT_I1, 2}, {"size", VT_I2, 1}}),
        TypeLibMethod("Sum7", 10, 20, "method Sum7",
                      {{"a", VT_I4},
                       {"b", VT_I4},
                       {"c", VT_I4},
                       {"d", VT_I4},
                       {"e", VT_I4},
                       {"f", VT_I4},
                       {"g", VT_I4},
                       {"sum", VT_I4, 1, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}),
        TypeLibMethod("Twice", 11, 21, "method Twice", {{"value", VT_I2, 1}}),
        TypeLibMethod("Scale", 12, 22, "method Scale",
                      {{"n", VT_I2},
                       {"factor", VT_R8},
                       {"pad", VT_I4},
                       {"offset", VT_R4},
                       {"result", VT_R8, 1, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}),
        TypeLibPropGet("Ratio", 13, 23, VT_R4, "property Ratio"),
        TypeLibPropPut("Ratio", 13, 24, VT_R4, "property Ratio"),
    };
    lib.Interfaces.push_back(itf);

    TypeLibCoclassDesc co;
    co.Name = "Probe";
    co.Clsid = CLSID_Probe;
    co.HelpString = "Probe Class";
    co.Interfaces = {"IProbe"};
    lib.Coclasses.push_back(co);
    return lib;
}
