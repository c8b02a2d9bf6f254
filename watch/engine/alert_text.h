// An alert as text: its time, a JSON object, and the environment a command run for it gets.
#pragma once

#include "watch/engine/alert_evaluator.h"

#include <ctime>
#include <string>
#include <utility>
#include <vector>

// "2026-12-09 01:45:12" in local time.
std::string AlertTimeText(std::time_t time);

// {"alert":{"time":...,"host":...,"rule":...,"when":...,"pid":...,"user":...,"command":...,
// "detail":...}} on one line; texts escaped for JSON, bytes that are not UTF-8 as U+FFFD.
std::string AlertEventJson(const AlertEvent& event);

// PSVIGIL_ALERT_TIME, _HOST, _RULE, _WHEN, _PID, _USER, _COMMAND, _DETAIL with their values,
// control characters blanked.
std::vector<std::pair<std::string, std::string>> AlertEnvironment(const AlertEvent& event);
