// One process line of a ps reply, with its merge state.
#pragma once

#include <cstdint>
#include <type_traits>

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
};

static_assert(std::is_trivially_copyable_v<ProcessRow>);

// Merge states.
constexpr int32_t kRowNew = 0;
constexpr int32_t kRowUpdated = 1;
constexpr int32_t kRowGone = 2;
