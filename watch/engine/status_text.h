// The texts the user sees for the engine's status notifications.
#pragma once

#include <ctime>
#include <string>

// "Refreshed  h:m:s AM\n" on a 12-hour clock without leading zeros, "Unable to connect",
// "Failed to execute ps command", or empty for any other result.
std::string RefreshResultText(long result, const std::tm& localTime);

// A refresh that failed, with its reason when one is known: "Unable to refresh: <reason>" when
// the command failed, "Unable to connect: <reason>" when the login did; without a reason the
// text of RefreshResultText.
std::string RefreshFailureText(long result, const std::string& reason);

// "%d sec." for the countdown.
std::string CountdownText(long seconds);
