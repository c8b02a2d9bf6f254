// The status texts: a 12-hour clock without leading zeros, and the fixed failure texts.
#include "watch/engine/status_text.h"

#include <gtest/gtest.h>

namespace
{
std::tm At(int hour, int minute, int second)
{
    std::tm t{};
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}
} // namespace

TEST(StatusText, RefreshResults)
{
    EXPECT_EQ(RefreshResultText(0, At(12, 30, 0)), "Refreshed  12:30:0 PM\n");
    EXPECT_EQ(RefreshResultText(0, At(0, 30, 0)), "Refreshed  12:30:0 AM\n");
    EXPECT_EQ(RefreshResultText(0, At(13, 5, 9)), "Refreshed  1:5:9 PM\n");
    EXPECT_EQ(RefreshResultText(0, At(11, 59, 59)), "Refreshed  11:59:59 AM\n");
    EXPECT_EQ(RefreshResultText(1, {}), "Unable to connect");
    EXPECT_EQ(RefreshResultText(2, {}), "Failed to execute ps command");
    EXPECT_EQ(RefreshResultText(3, {}), "");
    EXPECT_EQ(RefreshFailureText(2, "the command did not end within 60 s"),
              "Unable to refresh: the command did not end within 60 s");
    EXPECT_EQ(RefreshFailureText(2, ""), "Failed to execute ps command");
    EXPECT_EQ(RefreshFailureText(1, "Login incorrect"), "Unable to connect: Login incorrect");
    EXPECT_EQ(CountdownText(0), "0 sec.");
    EXPECT_EQ(CountdownText(9), "9 sec.");
}
