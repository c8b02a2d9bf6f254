// The kill and renice lines we send and how the host's answers are read, per process.
#include "watch/engine/process_action.h"

#include <gtest/gtest.h>

namespace
{
ProcessAction Term(std::vector<int32_t> pids)
{
    return {.Pids = std::move(pids)};
}
} // namespace

TEST(ProcessActionTest, SignalNamesAndChecks)
{
    struct Case
    {
        const char* Text;
        std::optional<ProcessSignal> Signal;
    };
    for (const Case& c : {Case{"TERM", ProcessSignal::Terminate},
                          {"sigkill", ProcessSignal::Kill},
                          {"15", ProcessSignal::Terminate},
                          {"9", ProcessSignal::Kill},
                          {"Hup", ProcessSignal::HangUp},
                          {"CONT", ProcessSignal::Continue},
                          {"SIG", std::nullopt},
                          {"TERM;reboot", std::nullopt},
                          {"", std::nullopt},
                          {"-9", std::nullopt},
                          {"99", std::nullopt}})
        EXPECT_EQ(SignalFromName(c.Text), c.Signal) << c.Text;

    EXPECT_EQ(CheckAction(Term({4711})), "");
    EXPECT_EQ(CheckAction(Term({})), "no process chosen");
    EXPECT_EQ(CheckAction(Term({12, -1})), "PID -1 is not a single process");
    EXPECT_EQ(CheckAction(Term({0})), "PID 0 is not a single process");
    EXPECT_EQ(CheckAction(Term(std::vector<int32_t>(kMaxActionPids + 1, 7))),
              "at most 128 processes at once");
    EXPECT_EQ(CheckAction({.Renice = true, .Nice = 20, .Pids = {1}}),
              "a nice value runs from -20 to 19");
}

TEST(ProcessActionTest, TheLineHoldsOnlyOurWordsAndNumbers)
{
    EXPECT_EQ(BuildActionCommand(Term({4711, 4712})),
              "_psv(){ echo \":psv<$1\";kill -TERM \"$1\" 2>&1;echo \":psv>$1:$?\";};_psv 4711;"
              "_psv 4712");
    EXPECT_EQ(BuildActionCommand({.Renice = true, .Nice = -5, .Pids = {9}}),
              "_psv(){ echo \":psv<$1\";renice -n -5 -p \"$1\" 2>&1;echo \":psv>$1:$?\";};_psv 9");
}

TEST(ProcessActionTest, AnswersAreReadPerProcess)
{
    const ProcessAction action = Term({4711, 1, 4713});
    // The echo of the line (wrapped by the terminal) comes first and never reads as an answer.
    const std::string reply = BuildActionCommand(action).substr(0, 70) + "\r\n" +
                              BuildActionCommand(action).substr(70) +
                              "\r\n:psv<4711\r\n:psv>4711:0\r\n"
                              ":psv<1\r\nbash: line 1: kill: (1) - Operation not permitted\r\n"
                              ":psv>1:1\r\n:psv<4713\r\n\x1b[31mno\x07 such\r\n$ ";
    const auto outcomes = ParseActionReply(reply, action.Pids);
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_TRUE(outcomes[0].Succeeded());
    EXPECT_EQ(outcomes[0].Message, "");
    EXPECT_EQ(outcomes[1].ExitStatus, 1);
    EXPECT_EQ(outcomes[1].Message, "bash: line 1: kill: (1) - Operation not permitted");
    EXPECT_EQ(outcomes[1].Reason, "Operation not permitted");
    EXPECT_FALSE(outcomes[2].ExitStatus); // cut off before its status came
    EXPECT_FALSE(outcomes[2].Succeeded());
    EXPECT_EQ(SummarizeOutcomes(action, outcomes),
              "TERM sent to 1 of 3 processes; 1: exit status 1, Operation not permitted; 4713: "
              "no answer from the host");
}

TEST(ProcessActionTest, SummariesSayWhatTheHostAnswered)
{
    struct Case
    {
        ProcessAction Action;
        std::string Reply;
        std::string Summary;
    };
    const Case cases[] = {
        {Term({4711}), ":psv<4711\n:psv>4711:0\n", "TERM sent to 4711 (exit status 0)"},
        {Term({4711}), ":psv<4711\nsh: 1: kill: No such process\n:psv>4711:1\n",
         "TERM to 4711: exit status 1, No such process"},
        {{.Renice = true, .Nice = 5, .Pids = {8}},
         ":psv<8\nrenice: failed to set priority for 8 (process ID): Permission denied\n"
         ":psv>8:1\n",
         "renice 5 to 8: exit status 1, Permission denied"},
        {{.Renice = true, .Nice = 5, .Pids = {8, 9}},
         ":psv<8\n8 (process ID) old priority 0, new priority 5\n:psv>8:0\n:psv<9\n:psv>9:0\n",
         "renice 5 done for 2 processes (exit status 0)"},
        // A shell without functions answers nothing we know: never taken for success.
        {Term({4711}), "_psv: Command not found.\n%", "TERM to 4711: no answer from the host"},
        // An answer for another PID, or a status outside its begin marker, counts for nothing.
        {Term({4711}), ":psv>4711:0\n:psv<12\n:psv>4711:0\n",
         "TERM to 4711: no answer from the host"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SummarizeOutcomes(c.Action, ParseActionReply(c.Reply, c.Action.Pids)), c.Summary)
            << c.Reply;
}
