// The texts the user sees for the engine's status notifications.
#include "watch/engine/status_text.h"

#include <cstdio>

std::string RefreshResultText(long result, const std::tm& localTime)
{
    switch (result)
    {
    case 0:
    {
        int hour = localTime.tm_hour % 12;
        if (hour == 0)
            hour = 12;
        char text[64];
        std::snprintf(text, sizeof text, "Refreshed  %d:%d:%d %s\n", hour, localTime.tm_min,
                      localTime.tm_sec, localTime.tm_hour < 12 ? "AM" : "PM");
        return text;
    }
    case 1:
        return "Unable to connect";
    case 2:
        return "Failed to execute ps command";
    default:
        return {};
    }
}

std::string RefreshFailureText(long result, const std::string& reason)
{
    if (result == 2 && !reason.empty())
        return "Unable to refresh: " + reason;
    std::string text = RefreshResultText(result, {});
    if (!text.empty() && !reason.empty())
        text += ": " + reason;
    return text;
}

std::string CountdownText(long seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%ld sec.", seconds);
    return text;
}
