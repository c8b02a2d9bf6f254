// The Prometheus text exposition (and OpenMetrics) of the latest refresh of every host.
#include "watch/cli/metrics_text.h"

#include "watch/cli/export_text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace
{
std::string Number(double value, const char* format)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// A numeric column (%CPU, RSS) as a number, or false when the flavour leaves it empty or it is
// not one.
bool NumberField(const char* text, double& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && errno == 0;
}

void Family(std::string& out, const char* name, const char* help, const std::string& samples)
{
    out += std::string("# HELP ") + name + " " + help + "\n";
    out += std::string("# TYPE ") + name + " gauge\n";
    out += samples;
}
} // namespace

void CMetricsText::AddHost(const std::string& name, const HostSettings& host,
                           const HostResult& result)
{
    if (!result.Done)
        return;
    const std::string hostLabel = "{host=\"" + LabelValue(name) + "\"} ";
    const bool up = result.Result == kRefreshOk;
    m_up += "psvigil_up" + hostLabel + (up ? "1\n" : "0\n");
    m_duration += "psvigil_refresh_duration_seconds" + hostLabel +
                  Number(result.DurationSeconds, "%.6f") + "\n";
    m_timestamp += "psvigil_last_refresh_timestamp_seconds" + hostLabel +
                   Number(result.TimestampSeconds, "%.3f") + "\n";
    m_processes += "psvigil_processes" + hostLabel + std::to_string(result.Rows.size()) + "\n";
    // Only the processes the host's filter keeps, and only while they are current: every
    // process of every host would be a series each, a cardinality no server wants.
    if (!up || host.FilterMode == kFilterShowAll)
        return;
    for (const ProcessRow& row : result.Rows)
    {
        const std::string command(CutUtf8(FieldText(row.Command), kCommandLabelBytes));
        const std::string labels = "{host=\"" + LabelValue(name) + "\",pid=\"" +
                                   LabelValue(FieldText(row.PidText)) + "\",user=\"" +
                                   LabelValue(FieldText(row.User)) + "\",command=\"" +
                                   LabelValue(command) + "\"} ";
        double value = 0;
        if (NumberField(row.CpuUsage, value))
            m_cpu += "psvigil_process_cpu_percent" + labels + Number(value, "%g") + "\n";
        // ps gives RSS in KiB; only the flavours that send it have it.
        if (NumberField(row.Rss, value))
            m_resident +=
                "psvigil_process_resident_bytes" + labels + Number(value * 1024.0, "%.0f") + "\n";
    }
}

std::string CMetricsText::Text(bool openMetrics) const
{
    std::string out;
    Family(out, "psvigil_up", "Whether the last refresh of the host worked (1) or not (0).", m_up);
    Family(out, "psvigil_refresh_duration_seconds", "How long the last refresh of the host took.",
           m_duration);
    Family(out, "psvigil_last_refresh_timestamp_seconds",
           "When the last refresh of the host ended, in seconds since the epoch.", m_timestamp);
    Family(out, "psvigil_processes",
           "Processes in the host's table after its last refresh that worked (its filter applied).",
           m_processes);
    Family(out, "psvigil_process_cpu_percent",
           "Processor share of each process the host's filter keeps, as its ps reports it.", m_cpu);
    if (!m_resident.empty())
        Family(out, "psvigil_process_resident_bytes",
               "Resident memory of each process the host's filter keeps, where its ps reports it.",
               m_resident);
    if (openMetrics)
        out += "# EOF\n";
    return out;
}
