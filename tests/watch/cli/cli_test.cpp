// psvigil-cli run as a separate program: parse, hosts, log, and once against a real host.
#include "tests/watch/sleep_as.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <netinet/in.h>
#include <pwd.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace
{
struct Result
{
    int Status = -1;
    std::string Out;
};

// Runs a shell command line and collects its standard output and exit status.
Result RunShell(const std::string& command)
{
    Result result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return result;
    std::array<char, 4096> chunk;
    for (std::size_t n; (n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0;)
        result.Out.append(chunk.data(), n);
    const int status = pclose(pipe);
    result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string Cli()
{
    return CLI_PATH;
}

class CliTest : public testing::Test
{
  protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("psvigil-cli-test-" + std::to_string(getpid()));
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string Write(const std::string& name, const std::string& bytes)
    {
        const fs::path path = m_dir / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    fs::path m_dir;
};

std::string Int32(int32_t v)
{
    return std::string(reinterpret_cast<const char*>(&v), 4);
}
} // namespace

TEST_F(CliTest, ParseReadsARawReplyFromStandardInput)
{
    const std::string reply =
        Write("reply", "ps auxw \r\nUSER PID %CPU %MEM VSZ RSS TT STAT STARTED TIME COMMAND\r\n"
                       "alice 4711 0.0 0.3 1520 980 p1 S 10:02AM 0:00.05 vi notes.txt\r\n$ ");
    Result r = RunShell(Cli() + " parse < " + reply);
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out, "alice\t4711\t4711\t0.0\tp1\t10:02AM\t0:00.05\tvi notes.txt\n");

    const std::string sysv =
        Write("sysv", "ps -ef | grep x\r\n   x 12 1 0 10:02:33 pts/1 0:00 grep x\r\n$ ");
    r = RunShell(Cli() + " parse --sysv --filter 1 < " + sysv);
    EXPECT_EQ(r.Out, "x\t12\t12\t\tpts/1\t10:02:33\t0:00\tgrep x\n");

    // Bad or empty input: no rows, no crash.
    EXPECT_EQ(RunShell(Cli() + " parse < /dev/null").Out, "");
    EXPECT_EQ(RunShell("head -c 100000 /dev/urandom | " + Cli() + " parse --sysv").Status, 0);
    EXPECT_EQ(RunShell(Cli() + " parse --filter 9 < /dev/null 2>/dev/null").Status, 2);
}

TEST_F(CliTest, HostsListsTheConfigurationWithoutPasswords)
{
    std::string record(252, '\0');
    auto put32 = [&](std::size_t at, int32_t v) { record.replace(at, 4, Int32(v)); };
    put32(0, 0);
    put32(4, 1);
    put32(8, 30);
    record.replace(12, 9, "db.local\0", 9);
    record.replace(140, 6, "alice\0", 6);
    record.replace(160, 7, "SECRET\0", 7);
    put32(180, 2323);
    put32(224, 1);
    put32(228, 2);
    record.replace(232, 5, "sshd\0", 5);
    // The count promises two records; the second is cut short and keeps its defaults.
    const std::string cfg = Write("psvigil.cfg", Int32(1) + record);
    Result r = RunShell(Cli() + " hosts " + cfg);
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out, "db.local\t2323\talice\t30\t0\t1\t1\t2\tsshd\n");
    EXPECT_EQ(r.Out.find("SECRET"), std::string::npos);

    // Run from the directory that holds psvigil.cfg, the default file is used.
    EXPECT_EQ(RunShell("cd " + m_dir.string() + " && " + Cli() + " hosts").Out, r.Out);

    // A short file lists what psvigil loads from it (the missing records as defaults) and says
    // so on standard error.
    const std::string shortFile = Write("short.cfg", Int32(3) + record + record.substr(0, 100));
    r = RunShell(Cli() + " hosts " + shortFile + " 2>" + (m_dir / "err").string());
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out, "db.local\t2323\talice\t30\t0\t1\t1\t2\tsshd\n"
                     "db.local\t23\t\t30\t0\t1\t0\t0\t\n"
                     "\t23\t\t10\t0\t1\t0\t0\t\n");
    EXPECT_NE(RunShell("cat " + (m_dir / "err").string()).Out.find("is short"), std::string::npos);

    // A control character in a text field cannot forge a line or reach the terminal.
    std::string forged = record;
    forged.replace(12, 11,
                   "a\nb\tc\x1b\xc2\x9b"
                   "\xc3\xa9\0",
                   11); // ESC, CSI (C1), e acute
    r = RunShell(Cli() + " hosts " + Write("forged.cfg", Int32(1) + forged));
    EXPECT_EQ(r.Out, "a\\nb\\tc\\x1b\\xc2\\x9b\xc3\xa9\t2323\talice\t30\t0\t1\t1\t2\tsshd\n");

    EXPECT_EQ(
        RunShell(Cli() + " hosts " + (m_dir / "missing.cfg").string() + " 2>/dev/null").Status, 1);
}

// Files the command line reads must be regular files; nothing it is pointed at can hang it or
// make it read without end.
TEST_F(CliTest, OnlyRegularFilesAreRead)
{
    const std::string fifo = (m_dir / "fifo").string();
    ASSERT_EQ(RunShell("mkfifo " + fifo).Status, 0);
    for (const std::string& path : {std::string("/dev/zero"), fifo, m_dir.string()})
    {
        SCOPED_TRACE(path);
        EXPECT_EQ(RunShell("timeout 10 " + Cli() + " hosts " + path + " 2>/dev/null").Status, 1);
        EXPECT_EQ(RunShell("timeout 10 " + Cli() + " log " + path + " 2>/dev/null").Status, 1);
        // Refused before any connection is tried (a usage error).
        EXPECT_EQ(RunShell("timeout 10 " + Cli() + " once 127.0.0.1 --port 1 --password-file " +
                           path + " 2>/dev/null")
                      .Status,
                  2);
        EXPECT_EQ(RunShell("timeout 10 " + Cli() + " watch 127.0.0.1 --port 1 --alerts " + path +
                           " 2>/dev/null")
                      .Status,
                  2);
    }
}

TEST_F(CliTest, HelpAndVersionAnswerOnStandardOutput)
{
    Result r = RunShell(Cli() + " --help");
    EXPECT_EQ(r.Status, 0);
    EXPECT_NE(r.Out.find("usage: psvigil-cli"), std::string::npos);
    r = RunShell(Cli() + " --version");
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out.rfind("psvigil-cli ", 0), 0u);
}

TEST_F(CliTest, LogPrintsAWatchLogAndRejectsADamagedOne)
{
    auto str = [](const std::string& s) { return std::string(1, static_cast<char>(s.size())) + s; };
    const std::string row = str("alice") + str("4711") + Int32(4711) + str("0.0") + str("p1") +
                            str("10:02AM") + str("0:00.05") + str("vi notes.txt");
    const std::string log = Write("a.pvg", Int32(100) + Int32(1) + row);
    Result r = RunShell(Cli() + " log " + log);
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out, "alice\t4711\t4711\t0.0\tp1\t10:02AM\t0:00.05\tvi notes.txt\n");

    // Version 2 says where and when; the rows print as before.
    const std::string v2 = Int32(100) + Int32(-2) + str("db.local") + Int32(23) + Int32(0) +
                           Int32(0) + Int32(1796779425) + Int32(0) + Int32(1) + row + str("0.3") +
                           str("1520") + str("980") + str("S") + str("") + Int32(0);
    r = RunShell(Cli() + " log " + Write("v2.pvg", v2));
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out, "# host db.local, port 23, telnet, flavour BSD, refreshed "
                     "2026-12-09T01:23:45Z\n"
                     "alice\t4711\t4711\t0.0\tp1\t10:02AM\t0:00.05\tvi notes.txt\n");

    for (const std::string& damaged : {Int32(100) + Int32(2) + row, Int32(100) + Int32(-1),
                                       v2.substr(0, v2.size() - 1), v2 + "x"})
    {
        r = RunShell(Cli() + " log " + Write("damaged.pvg", damaged) + " 2>&1");
        EXPECT_EQ(r.Status, 1);
        EXPECT_NE(r.Out.find("Unexpected file format."), std::string::npos);
    }
}

// What --format csv and json write is read back by Python's own csv and json modules.
TEST_F(CliTest, CsvAndJsonAreReadByPython)
{
    // A command with a comma, quotes, a bare line feed, an escape and a byte that is not UTF-8.
    const std::string reply = Write(
        "reply", "ps auxw \r\nUSER PID %CPU %MEM VSZ RSS TT STAT STARTED TIME COMMAND\r\n"
                 "alice 4711 0.5 1.2 1520 980 p1 Z+ 10:02AM 0:00.05 vi \"a,b\"\nc\x1b\xff\r\n$ ");
    const std::string check = Write("check.py", R"(import csv, json, sys
rows = list(csv.reader(open(sys.argv[1], newline='', encoding='utf-8')))
assert rows[0] == ['user', 'pid', 'ppid', 'cpu', 'mem', 'vsz', 'rss', 'stat', 'tty', 'start',
                   'time', 'command'], rows[0]
assert rows[1] == ['alice', '4711', '', '0.5', '1.2', '1520', '980', 'Z+', 'p1', '10:02AM',
                   '0:00.05', 'vi "a,b"\nc\x1b\ufffd'], rows[1]
assert len(rows) == 2
table = json.loads(open(sys.argv[2], encoding='utf-8').read())
p = table['processes'][0]
assert p == {'user': 'alice', 'pid': 4711, 'ppid': None, 'cpu': 0.5, 'mem': 1.2, 'vsz': 1520,
             'rss': 980, 'stat': 'Z+', 'tty': 'p1', 'start': '10:02AM', 'time': '0:00.05',
             'command': 'vi "a,b"\nc\x1b\ufffd'}, p
log = json.loads(open(sys.argv[3], encoding='utf-8').read())
assert (log['host'], log['transport'], log['flavour'], log['time']) == \
    ('db.local', 'ssh', 'POSIX (-o)', '2026-12-09T01:23:45Z'), log
assert log['processes'][0]['rss'] == 980 and log['processes'][0]['ppid'] == 1
print('ok')
)");
    auto str = [](const std::string& s) { return std::string(1, static_cast<char>(s.size())) + s; };
    const std::string log =
        Write("v2.pvg", Int32(100) + Int32(-2) + str("db.local") + Int32(22) + Int32(1) + Int32(2) +
                            Int32(1796779425) + Int32(0) + Int32(1) + str("alice") + str("4711") +
                            Int32(4711) + str("0.0") + str("p1") + str("10:02") + str("0:00") +
                            str("vi") + str("0.3") + str("1520") + str("980") + str("S") +
                            str("1") + Int32(1));
    const std::string csv = (m_dir / "out.csv").string(), json = (m_dir / "out.json").string(),
                      logJson = (m_dir / "log.json").string();
    ASSERT_EQ(RunShell(Cli() + " parse --format csv < " + reply + " > " + csv).Status, 0);
    ASSERT_EQ(RunShell(Cli() + " parse --format json < " + reply + " > " + json).Status, 0);
    ASSERT_EQ(RunShell(Cli() + " log " + log + " --format json > " + logJson).Status, 0);
    EXPECT_EQ(RunShell("python3 " + check + " " + csv + " " + json + " " + logJson + " 2>&1").Out,
              "ok\n");
}

// Ctrl+C or SIGTERM ends watch at once, even while it waits for a host that says nothing.
TEST_F(CliTest, WatchEndsPromptlyOnSigterm)
{
    const std::string env = "COMRT_REGISTRY=" + (m_dir / "registry.reg").string() + " ";
    ASSERT_EQ(RunShell(env + COMREG_PATH + " " + LANVEX_MODULE_PATH + " >/dev/null").Status, 0);
    // A listener that never accepts: the connection is made, then nothing is ever sent.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
    const std::string port = std::to_string(ntohs(address.sin_port));

    const Result r =
        RunShell(env + Cli() + " watch 127.0.0.1 --port " + port +
                 " --user x 2>/dev/null & p=$!; sleep 1; s=$(date +%s%N); "
                 "kill -TERM $p; wait $p; echo $? $(( ($(date +%s%N) - s) / 1000000 ))");
    ::close(listener);
    int status = -1;
    long elapsedMs = -1;
    ASSERT_EQ(std::sscanf(r.Out.c_str(), "%d %ld", &status, &elapsedMs), 2) << r.Out;
    EXPECT_EQ(status, 0);
    EXPECT_LT(elapsedMs, 2000);
}

class CliAgainstRealHost : public CliTest
{
  protected:
    void SetUp() override
    {
        CliTest::SetUp();
        const char* port = std::getenv("VIGIL_TELNET_PORT");
        const char* user = std::getenv("VIGIL_TELNET_USER");
        const char* password = std::getenv("VIGIL_TELNET_PASSWORD");
        if (!port || !user || !password)
            GTEST_SKIP() << "no telnet peer: run the tests through scripts/test as root "
                            "(scripts/peers serves the standard telnet server)";
        m_port = port;
        m_user = user;
        m_passwordFile = Write("password", password);
        m_env = "COMRT_REGISTRY=" + (m_dir / "registry.reg").string() + " ";
        ASSERT_EQ(RunShell(m_env + COMREG_PATH + " " + LANVEX_MODULE_PATH + " >/dev/null").Status,
                  0);
    }

    Result Once(const std::string& passwordFile, const std::string& extra = "")
    {
        return RunShell(m_env + "PSVIGIL_PASSWORD= " + Cli() + " once 127.0.0.1 --port " + m_port +
                        " --user " + m_user + " --password-file " + passwordFile + " " + extra +
                        " 2>" + (m_dir / "stderr").string());
    }

    std::string Stderr()
    {
        std::ifstream in(m_dir / "stderr");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string m_port, m_user, m_passwordFile, m_env;
};

TEST_F(CliAgainstRealHost, OnceListsThisVeryTestProcess)
{
    const Result r = Once(m_passwordFile);
    ASSERT_EQ(r.Status, 0) << Stderr();
    EXPECT_EQ(Stderr().rfind("Refreshed  ", 0), 0u) << Stderr();
    // Our own row: user, PID twice, and the command that started us.
    const std::string pid = std::to_string(getpid());
    const std::string self = "\t" + pid + "\t" + pid + "\t";
    const std::size_t at = r.Out.find(self);
    ASSERT_NE(at, std::string::npos) << r.Out;
    const std::size_t lineStart =
        r.Out.rfind('\n', at) == std::string::npos ? 0 : r.Out.rfind('\n', at) + 1;
    const std::string line = r.Out.substr(lineStart, r.Out.find('\n', at) - lineStart);
    EXPECT_EQ(line.substr(0, line.find('\t')), "root") << line;
    EXPECT_NE(line.find("cli_tests"), std::string::npos) << line;

    // The same through the SysV reading of ps -ef.
    const Result sysv = Once(m_passwordFile, "--sysv");
    ASSERT_EQ(sysv.Status, 0) << Stderr();
    EXPECT_NE(sysv.Out.find(self), std::string::npos) << sysv.Out;
}

// Splits a CSV record that holds no quoted field.
std::vector<std::string> SplitCsv(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t comma; (comma = line.find(',', start)) != std::string::npos; start = comma + 1)
        fields.push_back(line.substr(start, comma - start));
    fields.push_back(line.substr(start, line.find_first_of("\r\n", start) - start));
    return fields;
}

// Every flavour over each peer, telnet and SSH: the row of a process we started is, field by
// field, what this machine's own ps -o says of the same PID, and its long command line arrives
// whole (the host prints full-width lines).
TEST_F(CliAgainstRealHost, EveryFlavourReadsAProcessAsPsDoes)
{
    const std::string marker =
        "vigil-long-" + std::to_string(getpid()) + "-" + std::string(180, 'x');
    const Result started = RunShell("sh -c 'sleep 60' " + marker + " >/dev/null 2>&1 & echo $!");
    const std::string pid = started.Out.substr(0, started.Out.find('\n'));
    ASSERT_FALSE(pid.empty());
    // user,pid,ppid,cpu,mem,vsz,rss,stat,tty,start,time and the command, as psvigil-cli's CSV.
    const Result local = RunShell("ps -o user=,pid=,ppid=,pcpu=,pmem=,vsz=,rss=,stat=,tty=,"
                                  "stime=,time=,args= -p " +
                                  pid);
    std::vector<std::string> ps;
    std::istringstream words(local.Out);
    for (std::string word; ps.size() < 11 && words >> word;)
        ps.push_back(word);
    ASSERT_EQ(ps.size(), 11u) << local.Out;
    ps.push_back("sh -c sleep 60 " + marker);

    // The columns each flavour reads; the others stay empty. BSD prints TIME in its own way.
    struct FlavourCase
    {
        const char* Option;
        std::vector<int> Columns;
    };
    const FlavourCase flavours[] = {{"--flavour bsd", {0, 1, 3, 4, 5, 6, 7, 8, 9, 11}},
                                    {"--sysv", {0, 1, 2, 8, 9, 10, 11}},
                                    {"--flavour posix", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}}};
    std::vector<std::string> peers = {"127.0.0.1 --port " + m_port + " --user " + m_user +
                                      " --password-file " + m_passwordFile};
    const char* sshPort = std::getenv("VIGIL_SSH_PORT");
    const char* sshUser = std::getenv("VIGIL_SSH_USER");
    const char* sshPassword = std::getenv("VIGIL_SSH_PASSWORD");
    if (sshPort && sshUser && sshPassword)
        peers.push_back("ssh://127.0.0.1 --port " + std::string(sshPort) + " --user " + sshUser +
                        " --password-file " + Write("ssh-password", sshPassword));
    else
        std::cerr << "no SSH peer: only telnet is compared\n";
    for (const std::string& peer : peers)
    {
        for (const FlavourCase& flavour : flavours)
        {
            SCOPED_TRACE(peer.substr(0, peer.find(' ')) + " " + flavour.Option);
            // A home of its own, so the SSH host key is recorded there and nowhere else.
            const Result r = RunShell(
                m_env + "HOME=" + m_dir.string() + " PSVIGIL_PASSWORD= " + Cli() + " once " + peer +
                " " + flavour.Option + " --format csv 2>" + (m_dir / "stderr").string());
            ASSERT_EQ(r.Status, 0) << Stderr();
            const std::size_t at = r.Out.find("\n" + ps[0] + "," + pid + ",");
            ASSERT_NE(at, std::string::npos) << r.Out.substr(0, 2000);
            const std::vector<std::string> row =
                SplitCsv(r.Out.substr(at + 1, r.Out.find('\n', at + 1) - at - 1));
            ASSERT_EQ(row.size(), 12u);
            for (std::size_t column = 0; column < row.size(); ++column)
            {
                const bool read = std::count(flavour.Columns.begin(), flavour.Columns.end(),
                                             static_cast<int>(column)) > 0;
                const bool bsdTime = column == 10 && flavour.Option == flavours[0].Option;
                if (!bsdTime)
                {
                    EXPECT_EQ(row[column], read ? ps[column] : "") << "column " << column;
                }
            }
        }
    }
    RunShell("kill " + pid);
}

// watch --format json writes one JSON Lines object per refresh: where, when, what changed.
TEST_F(CliAgainstRealHost, WatchWritesAJsonLinePerRefresh)
{
    const std::string out = (m_dir / "watch.jsonl").string();
    RunShell(m_env + "PSVIGIL_PASSWORD= timeout -s TERM 12 " + Cli() + " watch 127.0.0.1 --port " +
             m_port + " --user " + m_user + " --password-file " + m_passwordFile +
             " --refresh 1 --format json > " + out + " 2>/dev/null");
    const std::string check = Write("check.py", R"(import json, sys
lines = [json.loads(line) for line in open(sys.argv[1], encoding='utf-8')]
assert len(lines) >= 2, len(lines)
for line in lines:
    assert line['host'] == '127.0.0.1' and line['transport'] == 'telnet', line
    assert line['time'].endswith('Z') and line['count'] > 0, line
assert len(lines[0]['appeared']) == lines[0]['count'] and not lines[0]['gone']
assert any(p['pid'] == int(sys.argv[2]) for p in lines[0]['appeared'])
print('ok')
)");
    EXPECT_EQ(
        RunShell("python3 " + check + " " + out + " " + std::to_string(getpid()) + " 2>&1").Out,
        "ok\n");
}

TEST_F(CliAgainstRealHost, AWrongPasswordIsUnableToConnectWithTheHostsReason)
{
    const auto start = std::chrono::steady_clock::now();
    const Result r = Once(Write("wrong", "not-the-password"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(Stderr(), "Unable to connect: Login incorrect\n");
}

TEST_F(CliAgainstRealHost, ARefusedPortIsUnableToConnect)
{
    const Result r = RunShell(m_env + Cli() + " once 127.0.0.1 --port 1 --user x 2>" +
                              (m_dir / "stderr").string());
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(Stderr().find("Unable to connect"), std::string::npos) << Stderr();
}

// This computer needs no peer: our own row in every flavour, read as a host's reply would be.
TEST_F(CliTest, OnceLocalListsThisVeryTestProcessInEveryFlavour)
{
    const std::string pid = std::to_string(getpid());
    const std::string user = getpwuid(geteuid())->pw_name;
    const struct
    {
        std::string Options;
        std::string GrepLine; // the grep process's own row ends so; empty without a filter
    } flavours[] = {{"", ""},
                    {"--sysv", ""},
                    {"--filter-user", "\tgrep " + user + "\n"},
                    {"--sysv --filter cli_tests", "\tgrep cli_tests\n"}};
    for (const auto& flavour : flavours)
    {
        SCOPED_TRACE(flavour.Options);
        const Result r = RunShell(Cli() + " once local " + flavour.Options + " 2>/dev/null");
        ASSERT_EQ(r.Status, 0);
        const std::size_t at = r.Out.find("\t" + pid + "\t" + pid + "\t");
        ASSERT_NE(at, std::string::npos) << r.Out;
        const std::string line = r.Out.substr(at, r.Out.find('\n', at) - at);
        EXPECT_NE(line.find(TEST_PROGRAM_NAME), std::string::npos) << line;
        if (!flavour.GrepLine.empty())
        {
            EXPECT_NE(r.Out.find(flavour.GrepLine), std::string::npos) << r.Out;
        }
    }
}

// The filter reaches grep as one argument: shell characters are matched, never run.
TEST_F(CliTest, OnceLocalMatchesAShellFilterLiterally)
{
    const Result r = RunShell("cd " + m_dir.string() + " && " + Cli() +
                              " once local --filter '; touch x' 2>/dev/null");
    EXPECT_EQ(r.Status, 0);
    EXPECT_NE(r.Out.find("\tgrep ; touch x\n"), std::string::npos) << r.Out;
    EXPECT_FALSE(fs::exists(m_dir / "x"));
}

// Every host of a list at once, one JSON line each: this computer's table with our own row,
// and a host that cannot be reached, with the delay before it is tried again.
TEST_F(CliTest, OnceAllAnswersForEveryHostOfTheList)
{
    auto record =
        [](const std::string& address, int32_t port, int32_t mode, const std::string& expr)
    {
        std::string r(252, '\0');
        r.replace(4, 4, Int32(1));
        r.replace(8, 4, Int32(5));
        r.replace(12, address.size(), address);
        r.replace(180, 4, Int32(port));
        r.replace(228, 4, Int32(mode));
        r.replace(232, expr.size(), expr);
        return r;
    };
    const std::string cfg = Write("all.cfg", Int32(2) + record("local:", 23, 2, "cli_tests") +
                                                 record("127.0.0.1", 1, 0, ""));
    const Result r = RunShell("COMRT_REGISTRY=" + (m_dir / "empty.reg").string() + " " + Cli() +
                              " once --all --hosts " + cfg + " --format json --jobs 1");
    EXPECT_EQ(r.Status, 1); // one host failed
    const std::size_t local = r.Out.find("{\"host\":\"local:\"");
    const std::size_t down = r.Out.find("{\"host\":\"127.0.0.1\"");
    ASSERT_NE(local, std::string::npos) << r.Out;
    ASSERT_NE(down, std::string::npos) << r.Out;
    const std::string localLine = r.Out.substr(local, r.Out.find('\n', local) - local);
    EXPECT_NE(localLine.find("\"ok\":true"), std::string::npos) << localLine;
    EXPECT_NE(localLine.find("\"pid\":" + std::to_string(getpid()) + ","), std::string::npos);
    const std::string downLine = r.Out.substr(down, r.Out.find('\n', down) - down);
    EXPECT_NE(downLine.find("\"ok\":false"), std::string::npos) << downLine;
    EXPECT_NE(downLine.find("\"retry_seconds\":5"), std::string::npos) << downLine;

    // The single-host forms with the host first ("text" is the older name of tsv).
    const struct
    {
        const char* Format;
        std::string Head, Row;
    } forms[] = {{"csv", "host,user,pid,", "local:,"}, {"text", "", "local:\t"}};
    for (const auto& form : forms)
    {
        const Result t =
            RunShell("COMRT_REGISTRY=" + (m_dir / "empty.reg").string() + " " + Cli() +
                     " once --all --hosts " + cfg + " --format " + form.Format + " 2>/dev/null");
        EXPECT_EQ(t.Out.rfind(form.Head, 0), 0u) << t.Out;
        const char separator = form.Row.back();
        const std::size_t at = t.Out.find(separator + std::to_string(getpid()) + separator);
        ASSERT_NE(at, std::string::npos) << t.Out;
        EXPECT_EQ(t.Out.compare(t.Out.rfind('\n', at) + 1, form.Row.size(), form.Row), 0) << t.Out;
    }
}

namespace
{
// Whether the process has ended (reaping it when it has).
bool Ended(pid_t pid)
{
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == pid;
}

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool WaitForText(const fs::path& path, const std::string& text, std::chrono::seconds limit)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until)
    {
        if (ReadAll(path).find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}
} // namespace

// signal over both sessions: our own sleep is terminated, a process of root is refused as the
// host says, and the exit status is 0 only when every PID was signalled.
TEST_F(CliAgainstRealHost, SignalTerminatesAProcessAndReportsARefusal)
{
    struct Transport
    {
        const char* Host;
        const char* PortVariable;
    };
    for (const Transport& t : {Transport{"127.0.0.1", "VIGIL_TELNET_PORT"},
                               Transport{"ssh://127.0.0.1", "VIGIL_SSH_PORT"}})
    {
        SCOPED_TRACE(t.Host);
        const char* port = std::getenv(t.PortVariable);
        if (port == nullptr)
            continue;
        const pid_t sleeper = vigil::test::StartSleepAs(m_user.c_str(), 300);
        ASSERT_GT(sleeper, 0);
        const std::string signal = m_env + "PSVIGIL_PASSWORD= " + Cli() + " signal " + t.Host +
                                   " --port " + port + " --user " + m_user + " --password-file " +
                                   m_passwordFile;
        Result r = RunShell(signal + " " + std::to_string(sleeper) + " --signal TERM 2>" +
                            (m_dir / "stderr").string());
        EXPECT_EQ(r.Status, 0) << Stderr();
        EXPECT_EQ(r.Out, std::to_string(sleeper) + "\tTERM\t0\t\n");
        EXPECT_EQ(Stderr(), "TERM sent to " + std::to_string(sleeper) + " (exit status 0)\n");
        int status = 0;
        EXPECT_EQ(::waitpid(sleeper, &status, 0), sleeper);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);

        // This test runs as root: its own process is not the peer account's to signal.
        const std::string self = std::to_string(getpid());
        r = RunShell(signal + " " + self + " --signal CONT 2>" + (m_dir / "stderr").string());
        EXPECT_EQ(r.Status, 1);
        EXPECT_EQ(r.Out, self + "\tCONT\t1\tOperation not permitted\n");
        EXPECT_EQ(Stderr(), "CONT to " + self + ": exit status 1, Operation not permitted\n");
    }
    EXPECT_EQ(RunShell(Cli() + " signal 127.0.0.1 0 2>/dev/null").Status, 2);
    EXPECT_EQ(RunShell(Cli() + " signal 127.0.0.1 5 --signal BOGUS 2>/dev/null").Status, 2);
}

// watch --alerts: a sleep appears and fires once, goes (signalled from the command line) and
// fires once; --exec gets the details in its environment.
TEST_F(CliAgainstRealHost, WatchAlertsWhenAProcessAppearsAndGoes)
{
    const long seconds = 100000 + getpid();
    const std::string pattern = "^sleep " + std::to_string(seconds) + "$";
    const std::string rules =
        Write("rules.ini", "[rule 1]\nhost = 127.0.0.1\nname = sleeper "
                           "up\nwhen = appears\ncommand = " +
                               pattern + "\n[rule 2]\nhost = *\nwhen = goes\ncommand = " + pattern +
                               "\n[rule 3]\nhost = elsewhere\n"
                               "when = appears\n");
    const fs::path out = m_dir / "watch.out", ran = m_dir / "exec.out";
    const std::string exec =
        "sh " + Write("exec.sh", "printf '%s|%s|%s|%s\\n' \"$PSVIGIL_ALERT_WHEN\" "
                                 "\"$PSVIGIL_ALERT_PID\" \"$PSVIGIL_ALERT_RULE\" "
                                 "\"$PSVIGIL_ALERT_HOST\" >> " +
                                     ran.string());
    const Result started = RunShell(
        m_env + "PSVIGIL_PASSWORD= timeout 60 " + Cli() + " watch 127.0.0.1 --port " + m_port +
        " --user " + m_user + " --password-file " + m_passwordFile + " --refresh 1 --alerts " +
        rules + " --exec \"" + exec + "\" >" + out.string() + " 2>/dev/null & echo $!");
    const std::string watcher = started.Out.substr(0, started.Out.find('\n'));
    ASSERT_TRUE(WaitForText(out, "\n+\t", std::chrono::seconds(20))) << ReadAll(out);

    const pid_t sleeper = vigil::test::StartSleepAs(m_user.c_str(), seconds);
    ASSERT_GT(sleeper, 0);
    const std::string pid = std::to_string(sleeper);
    // procps cuts user names longer than 8 characters ("vigilte+").
    EXPECT_TRUE(WaitForText(out,
                            "\tsleeper up\tappears\t" + pid + "\t" +
                                (m_user.size() > 8 ? m_user.substr(0, 7) + "+" : m_user) +
                                "\tsleep " + std::to_string(seconds) + "\tappeared\n",
                            std::chrono::seconds(20)))
        << ReadAll(out);
    EXPECT_EQ(RunShell(m_env + "PSVIGIL_PASSWORD= " + Cli() + " signal 127.0.0.1 " + pid +
                       " --port " + m_port + " --user " + m_user + " --password-file " +
                       m_passwordFile + " >/dev/null 2>&1")
                  .Status,
              0);
    EXPECT_TRUE(WaitForText(out, "\tgoes\t" + pid + "\t", std::chrono::seconds(20)))
        << ReadAll(out);
    EXPECT_TRUE(Ended(sleeper) || ::waitpid(sleeper, nullptr, 0) == sleeper);
    EXPECT_TRUE(WaitForText(ran, "goes|" + pid, std::chrono::seconds(10)));
    RunShell("kill -TERM " + watcher + "; wait " + watcher);

    // Each change fired once, and the other host's rule never.
    // Alert lines start with "!\t"; a process row's command may hold a '!' of its own.
    const std::string lines = "\n" + ReadAll(out);
    std::size_t alerts = 0;
    for (std::size_t at = lines.find("\n!\t"); at != std::string::npos;
         at = lines.find("\n!\t", at + 1))
        ++alerts;
    EXPECT_EQ(alerts, 2u) << lines;
    EXPECT_EQ(ReadAll(ran), "appears|" + pid + "|sleeper up|127.0.0.1\n" + "goes|" + pid +
                                "|no process matching \"" + pattern + "\" left|127.0.0.1\n");
}
