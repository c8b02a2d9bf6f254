// The description of the type library LANVEXLib that the server carries inside itself.
#include "lanvex/net/sessions/lanvex_typelib.h"

#include "lanvex/net/lanvex.h"

namespace lanvex
{

namespace
{

// A text property: get (out, retval) and put (in, unnamed) under one DISPID.
void AddProperty(TypeLibInterfaceDesc& itf, const char* pszName, MEMBERID id, SHORT getSlot,
                 VARTYPE type)
{
    const std::string help = std::string("property ") + pszName;
    itf.Funcs.push_back(TypeLibPropGet(pszName, id, getSlot, type, help));
    itf.Funcs.push_back(TypeLibPropPut(pszName, id, static_cast<SHORT>(getSlot + 1), type, help));
}

void AddMethod(TypeLibInterfaceDesc& itf, const char* pszName, MEMBERID id, SHORT slot,
               std::vector<TypeLibParamDesc> params = {}, const char* pszHelp = nullptr)
{
    itf.Funcs.push_back(TypeLibMethod(pszName, id, slot,
                                      pszHelp ? pszHelp : std::string("method ") + pszName,
                                      std::move(params)));
}

// Method parameters carry no direction attribute.
TypeLibParamDesc Param(const char* pszName, VARTYPE type, BYTE nPointers = 0)
{
    TypeLibParamDesc param;
    param.Name = pszName;
    param.Type = type;
    param.PointerLevel = nPointers;
    param.Flags = PARAMFLAG_NONE;
    return param;
}

TypeLibInterfaceDesc Interface(const char* pszName, REFIID iid)
{
    TypeLibInterfaceDesc itf;
    itf.Name = pszName;
    itf.Iid = iid;
    itf.HelpString = std::string(pszName) + " Interface";
    return itf;
}

TypeLibInterfaceDesc FtpClientInterface()
{
    TypeLibInterfaceDesc itf = Interface("IlvFTPClient", IID_IlvFTPClient);
    AddProperty(itf, "Username", 1, 7, VT_BSTR);
    AddProperty(itf, "Password", 2, 9, VT_BSTR);
    AddProperty(itf, "Address", 3, 11, VT_BSTR);
    AddMethod(itf, "Connect", 4, 13);
    AddProperty(itf, "Port", 5, 14, VT_I2);
    AddMethod(itf, "Disconnect", 6, 16);
    AddMethod(itf, "ChangeDir", 7, 17, {Param("bstrDir", VT_BSTR)});
    AddMethod(itf, "CreateDir", 8, 18, {Param("bstrDir", VT_BSTR)});
    AddMethod(itf, "ChangeDirUp", 9, 19);
    AddMethod(itf, "KeepLive", 10, 20);
    AddMethod(itf, "DeleteFile", 11, 21, {Param("bstrFile", VT_BSTR)});
    AddMethod(itf, "DeleteDir", 12, 22, {Param("bstrDir", VT_BSTR)});
    AddMethod(itf, "RenameFile", 13, 23, {Param("oldFile", VT_BSTR), Param("newFile", VT_BSTR)});
    AddProperty(itf, "DataPort", 14, 24, VT_I2);
    AddMethod(itf, "SetPassive", 15, 26);
    AddMethod(itf, "SetType", 17, 27, {Param("bbinary", VT_I4)});
    AddMethod(itf, "WriteFile", 20, 28,
              {Param("bstrLocalFile", VT_BSTR), Param("bstrRemoteFile", VT_BSTR)});
    AddMethod(itf, "ReadFile", 21, 29,
              {Param("bstrRemoteFile", VT_BSTR), Param("bstrLocalFile", VT_BSTR)});
    AddMethod(itf, "ReadCurrDir", 22, 30, {}, "method ReadDir");
    AddMethod(itf, "GetFileCount", 23, 31, {Param("pCount", VT_I2, 1)});
    AddMethod(itf, "GetFileName", 24, 32, {Param("lpFileName", VT_I1, 1), Param("nId", VT_I2)});
    AddMethod(itf, "GetFileSize", 25, 33, {Param("pSize", VT_I2, 1), Param("nId", VT_I2)});
    AddMethod(itf, "IsConnected", 26, 34);
    AddProperty(itf, "FileList", 27, 35, VT_I4);
    return itf;
}

// An out-parameter that scripts read as the call's value.
TypeLibParamDesc RetVal(const char* pszName, VARTYPE type)
{
    TypeLibParamDesc param;
    param.Name = pszName;
    param.Type = type;
    param.PointerLevel = 1;
    param.Flags = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
    return param;
}

TypeLibInterfaceDesc FtpClient2Interface()
{
    TypeLibInterfaceDesc itf = Interface("IlvFTPClient2", IID_IlvFTPClient2);
    itf.BaseName = "IlvFTPClient";
    itf.BaseIid = IID_IlvFTPClient;
    AddMethod(itf, "GetFileCount32", 28, 37, {RetVal("pCount", VT_I4)});
    AddMethod(itf, "GetEntryName", 29, 38, {Param("nId", VT_I4), RetVal("pName", VT_BSTR)});
    AddMethod(itf, "GetEntrySize", 30, 39, {Param("nId", VT_I4), RetVal("pSize", VT_I8)});
    AddMethod(itf, "GetEntryIsDirectory", 31, 40, {Param("nId", VT_I4), RetVal("pIsDir", VT_I4)});
    itf.Funcs.push_back(TypeLibPropGet("LastReplyCode", 32, 41, VT_I4, "property LastReplyCode"));
    itf.Funcs.push_back(TypeLibPropGet("LastReplyText", 33, 42, VT_BSTR, "property LastReplyText"));
    return itf;
}

TypeLibInterfaceDesc FtpClient3Interface()
{
    TypeLibInterfaceDesc itf = Interface("IlvFTPClient3", IID_IlvFTPClient3);
    itf.BaseName = "IlvFTPClient2";
    itf.BaseIid = IID_IlvFTPClient2;
    AddProperty(itf, "Security", 34, 43, VT_I4);
    AddProperty(itf, "TlsVerify", 35, 45, VT_I4);
    AddProperty(itf, "TlsCaFile", 36, 47, VT_BSTR);
    AddProperty(itf, "TlsPinnedSha256", 37, 49, VT_BSTR);
    itf.Funcs.push_back(
        TypeLibPropGet("TlsPeerFingerprint", 38, 51, VT_BSTR, "property TlsPeerFingerprint"));
    return itf;
}

TypeLibInterfaceDesc CacheInterface()
{
    TypeLibInterfaceDesc itf = Interface("IlvCache", IID_IlvCache);
    AddProperty(itf, "Type", 1, 7, VT_I2);
    AddMethod(itf, "Open", 2, 9);
    AddMethod(itf, "Close", 3, 10);
    AddProperty(itf, "CacheName", 4, 11, VT_BSTR);
    AddMethod(itf, "Write", 5, 13, {Param("lpszData", VT_UI1, 1), Param("nSize", VT_I4, 1)});
    AddMethod(itf, "Commit", 6, 14);
    AddMethod(itf, "RollBack", 7, 15);
    AddMethod(itf, "Read", 8, 16, {Param("lpszData", VT_UI1, 1), Param("nSize", VT_I4, 1)});
    AddMethod(itf, "GetEOF", 9, 17, {Param("bEOF", VT_I4, 1)});
    return itf;
}

TypeLibInterfaceDesc FtpShellFileInterface()
{
    TypeLibInterfaceDesc itf = Interface("IlvFTPShellFile", IID_IlvFTPShellFile);
    AddProperty(itf, "CreateDestDirectories", 1, 7, VT_I4);
    AddProperty(itf, "FilesOnly", 2, 9, VT_I4);
    AddProperty(itf, "Function", 3, 11, VT_I2);
    AddProperty(itf, "ShowDialog", 4, 13, VT_I4);
    AddProperty(itf, "From", 5, 15, VT_BSTR);
    AddProperty(itf, "To", 6, 17, VT_BSTR);
    AddMethod(itf, "Configure", 7, 19);
    AddMethod(itf, "Execute", 8, 20);
    AddProperty(itf, "Server", 9, 21, VT_BSTR);
    AddProperty(itf, "Username", 10, 23, VT_BSTR);
    AddProperty(itf, "Password", 11, 25, VT_BSTR);
    return itf;
}

TypeLibInterfaceDesc FtpShellFile2Interface()
{
    TypeLibInterfaceDesc itf = Interface("IlvFTPShellFile2", IID_IlvFTPShellFile2);
    itf.BaseName = "IlvFTPShellFile";
    itf.BaseIid = IID_IlvFTPShellFile;
    AddProperty(itf, "DownloadLimit", 12, 27, VT_I8);
    AddProperty(itf, "MinimumRate", 13, 29, VT_I4);
    return itf;
}

TypeLibInterfaceDesc TelnetInterface()
{
    TypeLibInterfaceDesc itf = Interface("IlvTelnet", IID_IlvTelnet);
    AddProperty(itf, "Address", 1, 7, VT_BSTR);
    AddProperty(itf, "Username", 2, 9, VT_BSTR);
    AddProperty(itf, "Password", 3, 11, VT_BSTR);
    AddProperty(itf, "Port", 4, 13, VT_I2);
    AddMethod(itf, "Connect", 5, 15);
    AddMethod(itf, "Disconnect", 6, 16);
    AddMethod(itf, "IsConnected", 7, 17);
    AddMethod(itf, "Execute", 8, 18, {Param("bstrCommand", VT_BSTR)});
    AddMethod(itf, "GetOutput", 9, 19, {Param("lpszOutput", VT_I1, 2), Param("nSize", VT_I2, 1)});
    return itf;
}

TypeLibInterfaceDesc Telnet2Interface()
{
    TypeLibInterfaceDesc itf = Interface("IlvTelnet2", IID_IlvTelnet2);
    itf.BaseName = "IlvTelnet";
    itf.BaseIid = IID_IlvTelnet;
    // The full length as a return value, so that scripts can read it too.
    TypeLibParamDesc size;
    size.Name = "pSize";
    size.Type = VT_I4;
    size.PointerLevel = 1;
    size.Flags = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
    AddMethod(itf, "GetOutputSize", 10, 20, {size});
    return itf;
}

TypeLibCoclassDesc Coclass(const char* pszName, REFCLSID clsid, std::vector<std::string> interfaces)
{
    TypeLibCoclassDesc coclass;
    coclass.Name = pszName;
    coclass.Clsid = clsid;
    coclass.HelpString = std::string(pszName) + " Class";
    coclass.Interfaces = std::move(interfaces);
    return coclass;
}

} // namespace

TypeLibDesc MakeLanvexTypeLibDesc()
{
    TypeLibDesc desc;
    desc.Name = "LANVEXLib";
    desc.Libid = LIBID_LANVEXLib;
    desc.MajorVersion = 1;
    desc.MinorVersion = 0;
    desc.Lcid = 0x0409;
    desc.SysKind = SYS_WIN32;
    desc.HelpString = "Lanvex 1.0 Type Library";
    desc.Imports.push_back({"stdole", LIBID_stdole, 2, 0});
    desc.Interfaces = {FtpClientInterface(),  CacheInterface(),        FtpShellFileInterface(),
                       TelnetInterface(),     Telnet2Interface(),      FtpClient2Interface(),
                       FtpClient3Interface(), FtpShellFile2Interface()};
    desc.Coclasses = {
        Coclass("lvFTPClient", CLSID_lvFTPClient,
                {"IlvFTPClient", "IlvFTPClient2", "IlvFTPClient3"}),
        Coclass("lvCache", CLSID_lvCache, {"IlvCache"}),
        Coclass("lvFTPShellFile", CLSID_lvFTPShellFile, {"IlvFTPShellFile", "IlvFTPShellFile2"}),
        Coclass("lvTelnet", CLSID_lvTelnet, {"IlvTelnet", "IlvTelnet2"}),
        Coclass("lvSecureShell", CLSID_lvSecureShell, {"IlvTelnet", "IlvTelnet2"})};
    return desc;
}

} // namespace lanvex
