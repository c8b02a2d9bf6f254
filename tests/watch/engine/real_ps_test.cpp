// This machine's own ps output, framed as a host would send it, read back row for row.
#include "watch/engine/ps_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace
{
std::vector<std::string> RunPs(const char* command)
{
    std::vector<std::string> lines;
    FILE* pipe = popen(command, "r");
    if (!pipe)
        return lines;
    std::string current;
    for (int c; (c = std::fgetc(pipe)) != EOF;)
    {
        if (c == '\n')
        {
            lines.push_back(current);
            current.clear();
        }
        else
            current += static_cast<char>(c);
    }
    pclose(pipe);
    return lines;
}

struct Expected
{
    std::string User;
    int Pid;
    std::string Command;
    std::vector<std::string> Fields; // the columns before the command
};

// Splits "USER PID f3 .. fN command..." by hand: std::regex recurses per character and a long
// command line (CI harnesses have them) overflows the stack.
bool SplitPsLine(const std::string& line, int fieldsBefore, Expected* pOut)
{
    std::size_t pos = 0;
    std::vector<std::string> fields;
    for (int i = 0; i < fieldsBefore; ++i)
    {
        pos = line.find_first_not_of(" \t", pos);
        if (pos == std::string::npos)
            return false;
        const std::size_t end = std::min(line.find_first_of(" \t", pos), line.size());
        fields.push_back(line.substr(pos, end - pos));
        pos = end;
    }
    pos = line.find_first_not_of(" \t", pos);
    const std::string& pid = fields[1];
    if (pid.empty() || pid.size() > 9 || pid.find_first_not_of("0123456789") != std::string::npos)
        return false;
    pOut->User = fields[0];
    pOut->Pid = std::stoi(pid);
    pOut->Command = pos == std::string::npos ? std::string() : line.substr(pos, 255);
    pOut->Fields = fields;
    return true;
}

// The fields a flavour reads, in the order ps prints its columns before the command; null
// where the parser keeps nothing of a column (SysV's C).
std::vector<const char*> ColumnFields(const ProcessRow& row, int32_t flavour)
{
    switch (flavour)
    {
    case kFlavourBsd:
        return {row.User, row.PidText, row.CpuUsage,     row.MemUsage,  row.Vsz,
                row.Rss,  row.Term,    row.ProcessState, row.StartTime, row.CpuTime};
    case kFlavourSysV:
        return {row.User, row.PidText, row.PpidText, nullptr, row.StartTime, row.Term, row.CpuTime};
    default:
        return {row.User, row.PidText,      row.PpidText, row.CpuUsage,  row.MemUsage, row.Vsz,
                row.Rss,  row.ProcessState, row.Term,     row.StartTime, row.CpuTime};
    }
}

// Frames ps output as a host's reply, parses it, and compares every process line, field by
// field, with what a plain split of the same line says.
void CheckAgainstPs(const char* command, const char* echo, int32_t flavour)
{
    const std::vector<std::string> lines = RunPs(command);
    ASSERT_GE(lines.size(), 3u) << command << " printed too little";
    const int fieldsBefore = static_cast<int>(ColumnFields(ProcessRow{}, flavour).size());

    std::vector<Expected> expected;
    std::string reply = std::string(echo) + "\r\n";
    for (std::size_t i = 0; i < lines.size(); ++i)
    {
        reply += lines[i] + "\r\n";
        if (i == 0)
            continue; // the header
        Expected e;
        ASSERT_TRUE(SplitPsLine(lines[i], fieldsBefore, &e)) << lines[i].substr(0, 300);
        expected.push_back(e);
    }
    reply += "user@host:~$ ";

    std::vector<char> buffer(reply.begin(), reply.end());
    COwningPtrArray<ProcessRow> rows;
    ParsePsReply(rows, buffer.data(), static_cast<int32_t>(buffer.size()), flavour, kFilterShowAll);
    ASSERT_EQ(rows.GetSize(), static_cast<int32_t>(expected.size()));
    bool sawSelf = false;
    for (int32_t i = 0; i < rows.GetSize(); ++i)
    {
        const ProcessRow& row = *rows.GetAt(i);
        const Expected& e = expected[static_cast<std::size_t>(i)];
        EXPECT_EQ(row.Pid, e.Pid);
        EXPECT_EQ(std::to_string(row.Pid), row.PidText);
        EXPECT_EQ(std::string(row.Command), e.Command.substr(0, std::string(row.Command).size()));
        EXPECT_GE(std::string(row.Command).size() + 3,
                  std::min<std::size_t>(e.Command.size(), 255));
        // This machine's ps prints each start time as one word: every column in its own field.
        const std::vector<const char*> fields = ColumnFields(row, flavour);
        for (std::size_t f = 0; f < fields.size(); ++f)
        {
            if (fields[f] != nullptr)
            {
                EXPECT_EQ(fields[f], e.Fields[f].substr(0, 19)) << "column " << f;
            }
        }
        if (flavour != kFlavourBsd)
        {
            EXPECT_EQ(std::to_string(row.Ppid), row.PpidText);
        }
        sawSelf = sawSelf || row.Pid == static_cast<int>(getpid());
    }
    EXPECT_TRUE(sawSelf) << "the test process itself is missing";
}
} // namespace

TEST(RealPs, BsdOutputOfThisMachine)
{
    CheckAgainstPs("ps auxw", "ps auxw ", kFlavourBsd);
}

TEST(RealPs, SysVOutputOfThisMachine)
{
    CheckAgainstPs("ps -ef", "ps -ef ", kFlavourSysV);
}

TEST(RealPs, PosixOutputOfThisMachine)
{
    CheckAgainstPs(kPosixPsCommand, kPosixPsCommand, kFlavourPosix);
}
