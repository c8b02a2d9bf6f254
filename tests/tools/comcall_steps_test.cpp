// comcall's step syntax and value printing.
#include "tools/comcall_steps.h"

#include <gtest/gtest.h>

TEST(ComcallSteps, ParsesTheThreeForms)
{
    struct Case
    {
        const char* Text;
        StepKind Kind;
        const char* Name;
        std::vector<std::pair<bool, std::string>> Args; // quoted, text
    } cases[] = {
        {"Address", StepKind::Get, "Address", {}},
        {" Port = 23 ", StepKind::Put, "Port", {{false, "23"}}},
        {"Address=\"a=b, (c)\"", StepKind::Put, "Address", {{true, "a=b, (c)"}}},
        {"Password=", StepKind::Put, "Password", {{false, ""}}},
        {"Connect()", StepKind::Call, "Connect", {}},
        {"Execute(\"ps -ef | grep \\\"x\\\"\")",
         StepKind::Call,
         "Execute",
         {{true, "ps -ef | grep \"x\""}}},
        {"Add(1, -2,three)",
         StepKind::Call,
         "Add",
         {{false, "1"}, {false, "-2"}, {false, "three"}}},
    };
    for (const Case& c : cases)
    {
        Step step;
        std::string error;
        ASSERT_TRUE(ParseStep(c.Text, &step, &error)) << c.Text << ": " << error;
        EXPECT_EQ(step.Kind, c.Kind) << c.Text;
        EXPECT_EQ(step.Name, c.Name) << c.Text;
        ASSERT_EQ(step.Args.size(), c.Args.size()) << c.Text;
        for (size_t i = 0; i < c.Args.size(); ++i)
        {
            EXPECT_EQ(step.Args[i].Quoted, c.Args[i].first) << c.Text;
            EXPECT_EQ(step.Args[i].Text, c.Args[i].second) << c.Text;
        }
    }
}

TEST(ComcallSteps, RefusesMalformedSteps)
{
    for (const char* text : {"", "=3", "Add(1", "1abc", "Add(\"open)", "Add(\"a\"b)", "a b"})
    {
        Step step;
        std::string error;
        EXPECT_FALSE(ParseStep(text, &step, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(ComcallSteps, ArgumentsAndValuesAsPrinted)
{
    VARIANT v;
    ASSERT_EQ(StepArgToVariant({false, "-17"}, &v), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, -17);
    ASSERT_EQ(StepArgToVariant({true, "17"}, &v), S_OK); // quoted stays text
    EXPECT_EQ(v.vt, VT_BSTR);
    VariantClear(&v);
    ASSERT_EQ(StepArgToVariant({false, "99999999999"}, &v), S_OK); // too big for I4: text
    EXPECT_EQ(v.vt, VT_BSTR);
    VariantClear(&v);

    VARIANT b;
    VariantInit(&b);
    b.vt = VT_BOOL;
    b.boolVal = VARIANT_TRUE;
    EXPECT_EQ(FormatVariant(b), "True");
    b.vt = VT_I2;
    b.iVal = -5;
    EXPECT_EQ(FormatVariant(b), "-5");

    StepResult failed;
    failed.Hr = E_ABORT;
    failed.Description = "550 No such file";
    EXPECT_EQ(ResultLine(failed), "0x80004004 550 No such file");
    StepResult quiet;
    quiet.Hr = S_FALSE;
    EXPECT_EQ(ResultLine(quiet), "0x00000001");
}
