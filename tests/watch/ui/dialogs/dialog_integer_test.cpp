// What the dialogs accept as an integer.
#include "watch/ui/dialogs/dialog_integer.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

namespace
{
struct IntegerCase
{
    std::string text;
    std::optional<int32_t> value; // nullopt: not an integer
};

void PrintTo(const IntegerCase& c, std::ostream* os)
{
    *os << '"' << c.text << '"';
}

class DialogIntegerTest : public ::testing::TestWithParam<IntegerCase>
{
};

TEST_P(DialogIntegerTest, Reads)
{
    const IntegerCase& c = GetParam();
    int32_t value = -777;
    const bool ok = ParseDialogInteger(c.text, value);
    ASSERT_EQ(ok, c.value.has_value()) << '"' << c.text << '"';
    if (ok)
        EXPECT_EQ(value, *c.value) << '"' << c.text << '"';
    else
        EXPECT_EQ(value, -777) << "a refused text must leave the value alone";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DialogIntegerTest,
    ::testing::Values(IntegerCase{"23", 23}, IntegerCase{"0", 0}, IntegerCase{"000", 0},
                      IntegerCase{" \t42\t ", 42}, IntegerCase{"-5", -5}, IntegerCase{"+7", 7},
                      IntegerCase{"007", 7}, IntegerCase{"", std::nullopt},
                      IntegerCase{"   ", std::nullopt}, IntegerCase{"23a", std::nullopt},
                      IntegerCase{"a23", std::nullopt}, IntegerCase{"2 3", std::nullopt},
                      IntegerCase{"-", std::nullopt}, IntegerCase{"-0", std::nullopt},
                      IntegerCase{"+0", std::nullopt}, IntegerCase{"0x10", std::nullopt},
                      IntegerCase{"1.5", std::nullopt},
                      // Beyond 32 bits the value saturates, so a range check still refuses it.
                      IntegerCase{"99999999999999999999", 2147483647},
                      IntegerCase{"-99999999999999999999", -2147483647 - 1},
                      IntegerCase{"2147483648", 2147483647}));
} // namespace
