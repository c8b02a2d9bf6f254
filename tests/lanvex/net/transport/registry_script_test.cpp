// Registration scripts: the library's own scripts parse to the expected keys; bad text fails
// cleanly.
#include "lanvex/net/transport/registration_scripts.h"
#include "lanvex/net/transport/registry_script.h"

#include <gtest/gtest.h>

namespace lanvex
{
namespace
{

const RegScriptKey* Child(const RegScriptKey& key, const std::string& name)
{
    for (const RegScriptKey& sub : key.Subkeys)
        if (sub.Name == name)
            return &sub;
    return nullptr;
}

TEST(RegistryScript, TelnetScriptDescribesItsKeys)
{
    std::string expanded, error;
    ASSERT_TRUE(ExpandScriptMacros(LoadScriptResource(108), {{"MODULE", "/opt/it's/libLanvex.so"}},
                                   &expanded, &error))
        << error;
    RegScript script;
    ASSERT_TRUE(ParseRegScript(expanded, &script, &error)) << error;
    ASSERT_EQ(script.Roots.size(), 1u);
    const RegScriptKey& root = script.Roots[0];
    EXPECT_EQ(root.Name, "HKEY_CLASSES_ROOT");
    ASSERT_EQ(root.Subkeys.size(), 3u);

    const RegScriptKey* pVersioned = Child(root, "Lanvex.lvTelnet.1");
    ASSERT_NE(pVersioned, nullptr);
    EXPECT_EQ(pVersioned->Default, "lvTelnet Class");
    ASSERT_NE(Child(*pVersioned, "CLSID"), nullptr);
    EXPECT_EQ(Child(*pVersioned, "CLSID")->Default, "{91F3E726-A6D1-11D3-B52E-0290F7C2A3D4}");

    const RegScriptKey* pIndependent = Child(root, "Lanvex.lvTelnet");
    ASSERT_NE(pIndependent, nullptr);
    ASSERT_NE(Child(*pIndependent, "CurVer"), nullptr);
    EXPECT_EQ(Child(*pIndependent, "CurVer")->Default, "Lanvex.lvTelnet.1");

    const RegScriptKey* pClsidRoot = Child(root, "CLSID");
    ASSERT_NE(pClsidRoot, nullptr);
    EXPECT_TRUE(pClsidRoot->NoRemove);
    EXPECT_FALSE(pClsidRoot->HasDefault);
    const RegScriptKey* pClass = Child(*pClsidRoot, "{91F3E726-A6D1-11D3-B52E-0290F7C2A3D4}");
    ASSERT_NE(pClass, nullptr);
    EXPECT_TRUE(pClass->ForceRemove);
    EXPECT_EQ(pClass->Default, "lvTelnet Class");
    EXPECT_EQ(Child(*pClass, "ProgID")->Default, "Lanvex.lvTelnet.1");
    EXPECT_EQ(Child(*pClass, "VersionIndependentProgID")->Default, "Lanvex.lvTelnet");
    ASSERT_NE(Child(*pClass, "Programmable"), nullptr);
    EXPECT_TRUE(Child(*pClass, "Programmable")->ForceRemove);
    EXPECT_FALSE(Child(*pClass, "Programmable")->HasDefault);
    const RegScriptKey* pInproc = Child(*pClass, "InprocServer32");
    ASSERT_NE(pInproc, nullptr);
    EXPECT_EQ(pInproc->Default, "/opt/it's/libLanvex.so"); // the quote survives intact
    ASSERT_EQ(pInproc->Values.size(), 1u);
    EXPECT_EQ(pInproc->Values[0].first, "ThreadingModel");
    EXPECT_EQ(pInproc->Values[0].second, "Apartment");
    EXPECT_EQ(Child(*pClass, "TypeLib")->Default, "{E2057CA3-48B9-11D3-8C5A-02B3E4F6A719}");
}

// The scripts are generated from one table; the text keeps the layout of the hand-written ones.
TEST(RegistryScript, TelnetScriptTextIsExact)
{
    EXPECT_EQ(LoadScriptResource(108), R"rgs(HKCR
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
)rgs");
}

TEST(RegistryScript, EveryCarriedScriptParses)
{
    for (int nResource : {101, 103, 104, 105, 108})
    {
        std::string expanded, error;
        RegScript script;
        ASSERT_TRUE(ExpandScriptMacros(LoadScriptResource(nResource), {{"MODULE", "/x"}}, &expanded,
                                       &error));
        EXPECT_TRUE(ParseRegScript(expanded, &script, &error)) << nResource << ": " << error;
    }
    EXPECT_TRUE(LoadScriptResource(102).empty());
}

TEST(RegistryScript, MacroExpansion)
{
    std::string out, error;
    ASSERT_TRUE(ExpandScriptMacros("a '%MODULE%' 100%% b", {{"MODULE", "o'k"}}, &out, &error));
    EXPECT_EQ(out, "a 'o''k' 100% b");
    EXPECT_FALSE(ExpandScriptMacros("%OTHER%", {{"MODULE", "x"}}, &out, &error));
    EXPECT_FALSE(ExpandScriptMacros("50%", {}, &out, &error));
}

TEST(RegistryScript, BadTextFailsWithTheLine)
{
    const struct
    {
        const char* Text;
        const char* Line;
    } cases[] = {
        {"HKCR\n{\n  Key = s 'unterminated\n}\n", "line 3"},
        {"HKCR\n{\n  Key = s 'v'\n", "line 4"},
        {"HKLM\n{\n}\n", "line 1"},
        {"HKCR\n{\n  Key = d '5'\n}\n", "line 3"},
        {"HKCR\n{\n  Key = s\n}\n", "line 4"},
        {"HKCR\n{\n  val = s 'x'\n}\n", "line 3"},
        {"HKCR\n{\n  Delete Key\n}\n", "line 3"},
        {"HKCR\n{\n  'a\\b' = s 'x'\n}\n", "line 3"},
        {"HKCR\n{\n  }\n}\n", "line 4"},
    };
    for (const auto& c : cases)
    {
        RegScript script;
        std::string error;
        EXPECT_FALSE(ParseRegScript(c.Text, &script, &error)) << c.Text;
        EXPECT_NE(error.find(c.Line), std::string::npos) << c.Text << " -> " << error;
    }
    std::string deep = "HKCR\n";
    for (int i = 0; i < 100; ++i)
        deep += "{ k ";
    RegScript script;
    std::string error;
    EXPECT_FALSE(ParseRegScript(deep, &script, &error));
}

TEST(RegistryScript, QuotedNamesAndCompactBlocks)
{
    RegScript script;
    std::string error;
    ASSERT_TRUE(ParseRegScript("HKCU{'it''s'{a=s''}NoRemove ForceRemove b{val 'v w'=s 'x'}}",
                               &script, &error))
        << error;
    const RegScriptKey& root = script.Roots.at(0);
    EXPECT_EQ(root.Name, "HKEY_CURRENT_USER");
    ASSERT_EQ(root.Subkeys.size(), 2u);
    EXPECT_EQ(root.Subkeys[0].Name, "it's");
    EXPECT_TRUE(root.Subkeys[0].Subkeys.at(0).HasDefault);
    EXPECT_EQ(root.Subkeys[0].Subkeys.at(0).Default, "");
    EXPECT_TRUE(root.Subkeys[1].NoRemove && root.Subkeys[1].ForceRemove);
    EXPECT_EQ(root.Subkeys[1].Values.at(0).first, "v w");
}

} // namespace
} // namespace lanvex
