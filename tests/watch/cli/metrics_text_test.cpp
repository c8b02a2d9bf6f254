// What Prometheus and JSON readers get: valid UTF-8, escaped labels, cut commands, the series
// of each host, and the back-off of a host that is down.
#include "watch/cli/export_text.h"
#include "watch/cli/host_pool.h"
#include "watch/cli/metrics_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace
{
struct TextCase
{
    const char* Label;
    std::string In;
    std::string LabelText;
    std::string Json;
};

const TextCase kTexts[] = {
    {"Plain", "sshd -D", "sshd -D", "\"sshd -D\""},
    {"Escapes", "a\\b\"c\nd", "a\\\\b\\\"c\\nd", "\"a\\\\b\\\"c\\u000ad\""},
    {"Control", "a\tb\x1b", "a\tb\x1b", "\"a\\u0009b\\u001b\""},
    {"BadBytes", "a\xff\xc3(", "a\xEF\xBF\xBD\xEF\xBF\xBD(", "\"a\xEF\xBF\xBD\xEF\xBF\xBD(\""},
    {"Overlong", "\xc0\xaf", "\xEF\xBF\xBD\xEF\xBF\xBD", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
    {"Accents", "caf\xc3\xa9", "caf\xc3\xa9", "\"caf\xc3\xa9\""},
};

TEST(ExportText, LabelsAndJsonStringsAreValidAndEscaped)
{
    for (const TextCase& c : kTexts)
    {
        SCOPED_TRACE(c.Label);
        EXPECT_EQ(LabelValue(c.In), c.LabelText);
        EXPECT_EQ(JsonString(c.In), c.Json);
    }
    // A cut never ends inside a character.
    EXPECT_EQ(CutUtf8("ab\xc3\xa9", 3), "ab");
    EXPECT_EQ(CutUtf8("ab\xc3\xa9", 4), "ab\xc3\xa9");
    EXPECT_EQ(CutUtf8("\xe2\x82\xac\xe2\x82\xac", 5), "\xe2\x82\xac");
}

TEST(HostPool, BackoffGrowsToEightIntervals)
{
    const int expected[] = {10, 10, 20, 40, 80, 80, 80};
    for (int failures = 0; failures < 7; ++failures)
        EXPECT_EQ(CHostPool::BackoffSeconds(10, failures), expected[failures]) << failures;
}

ProcessRow Row(int pid, const char* cpu, const std::string& command)
{
    ProcessRow row{};
    std::snprintf(row.User, sizeof row.User, "root");
    std::snprintf(row.PidText, sizeof row.PidText, "%d", pid);
    row.Pid = pid;
    std::snprintf(row.CpuUsage, sizeof row.CpuUsage, "%s", cpu);
    std::snprintf(row.Command, sizeof row.Command, "%s", command.c_str());
    return row;
}

TEST(MetricsText, SeriesPerHostAndPerFilteredProcess)
{
    HostSettings filtered;
    filtered.FilterMode = kFilterByExpression;
    HostSettings all; // no filter: no series per process
    HostResult up;
    up.Done = true;
    up.Result = kRefreshOk;
    up.DurationSeconds = 0.25;
    up.TimestampSeconds = 1700000000.5;
    // 126 ASCII bytes, then a two-byte character that would end past byte 128.
    const std::string longCommand = std::string(127, 'x') + "\xc3\xa9tail";
    up.Rows = {Row(7, "1.5", "a\"b"), Row(8, "", "sysv row"), Row(9, "0.0", longCommand)};
    std::snprintf(up.Rows[0].Rss, sizeof up.Rows[0].Rss, "2048"); // KiB, as ps gives it
    HostResult down;
    down.Done = true;
    down.Result = kRefreshNoConnection;
    HostResult never; // no refresh yet: no series

    CMetricsText text;
    text.AddHost("local:", filtered, up);
    text.AddHost("db\"1", all, up);
    text.AddHost("gone", filtered, down);
    text.AddHost("new", filtered, never);
    const std::string page = text.Text(false);
    for (const char* line :
         {"psvigil_up{host=\"local:\"} 1\n", "psvigil_up{host=\"db\\\"1\"} 1\n",
          "psvigil_up{host=\"gone\"} 0\n", "psvigil_processes{host=\"local:\"} 3\n",
          "psvigil_refresh_duration_seconds{host=\"local:\"} 0.250000\n",
          "psvigil_last_refresh_timestamp_seconds{host=\"local:\"} 1700000000.500\n",
          "psvigil_process_cpu_percent{host=\"local:\",pid=\"7\",user=\"root\",command=\"a\\\"b\"} "
          "1.5\n",
          "psvigil_process_resident_bytes{host=\"local:\",pid=\"7\",user=\"root\",command="
          "\"a\\\"b\"} 2097152\n"})
        EXPECT_NE(page.find(line), std::string::npos) << line << page;
    EXPECT_NE(page.find("command=\"" + std::string(127, 'x') + "\"} 0\n"), std::string::npos);
    EXPECT_EQ(page.find("sysv row"), std::string::npos); // no %CPU, no series
    EXPECT_EQ(page.find("host=\"new\""), std::string::npos);
    EXPECT_EQ(page.find("host=\"db\\\"1\",pid"), std::string::npos);
    EXPECT_EQ(page.find("# EOF"), std::string::npos);
    EXPECT_EQ(text.Text(true).substr(page.size()), "# EOF\n");
}
} // namespace
