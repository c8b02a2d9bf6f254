// One process line of a ps reply, with its merge state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

// A plain fixed-size record: the first nine fields keep the layout every earlier reader knew,
// and the fields ps also sends (memory, state, parent) follow State, so nothing moves.
struct ProcessRow
{
    char User[20] = {};
    char PidText[20] = {};
    int32_t Pid = 0;
    char CpuUsage[15] = {};
    char Term[15] = {};
    char StartTime[26] = {};
    char CpuTime[20] = {};
    char Command[256] = {};
    int32_t State = 0;
    // As ps printed them; empty where the host's flavour does not send them.
    char MemUsage[16] = {};     // %MEM
    char Vsz[20] = {};          // virtual size, KiB
    char Rss[20] = {};          // resident size, KiB
    char ProcessState[16] = {}; // STAT: R, S, D, Z, T and modifiers
    char PpidText[20] = {};     // parent PID as printed
    int32_t Ppid = 0;           // decimal value of PpidText, 0 when empty
};

static_assert(std::is_standard_layout_v<ProcessRow>);
static_assert(std::is_trivially_copyable_v<ProcessRow>);
static_assert(sizeof(ProcessRow) == 476);
static_assert(offsetof(ProcessRow, User) == 0 && sizeof(ProcessRow::User) == 20);
static_assert(offsetof(ProcessRow, PidText) == 20 && sizeof(ProcessRow::PidText) == 20);
static_assert(offsetof(ProcessRow, Pid) == 40);
static_assert(offsetof(ProcessRow, CpuUsage) == 44 && sizeof(ProcessRow::CpuUsage) == 15);
static_assert(offsetof(ProcessRow, Term) == 59 && sizeof(ProcessRow::Term) == 15);
static_assert(offsetof(ProcessRow, StartTime) == 74 && sizeof(ProcessRow::StartTime) == 26);
static_assert(offsetof(ProcessRow, CpuTime) == 100 && sizeof(ProcessRow::CpuTime) == 20);
static_assert(offsetof(ProcessRow, Command) == 120 && sizeof(ProcessRow::Command) == 256);
static_assert(offsetof(ProcessRow, State) == 376);
static_assert(offsetof(ProcessRow, MemUsage) == 380 && sizeof(ProcessRow::MemUsage) == 16);
static_assert(offsetof(ProcessRow, Vsz) == 396 && sizeof(ProcessRow::Vsz) == 20);
static_assert(offsetof(ProcessRow, Rss) == 416 && sizeof(ProcessRow::Rss) == 20);
static_assert(offsetof(ProcessRow, ProcessState) == 436 && sizeof(ProcessRow::ProcessState) == 16);
static_assert(offsetof(ProcessRow, PpidText) == 452 && sizeof(ProcessRow::PpidText) == 20);
static_assert(offsetof(ProcessRow, Ppid) == 472);

// Merge states.
constexpr int32_t kRowNew = 0;
constexpr int32_t kRowUpdated = 1;
constexpr int32_t kRowGone = 2;
