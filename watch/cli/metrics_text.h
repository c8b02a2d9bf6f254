// The Prometheus text exposition (and OpenMetrics) of the latest refresh of every host.
#pragma once

#include "watch/cli/host_pool.h"

#include <string>

class CMetricsText
{
  public:
    // Command labels are cut to this many bytes (never inside a character).
    static constexpr std::size_t kCommandLabelBytes = 128;

    // Adds one host; a host without a finished refresh yet has no series.
    void AddHost(const std::string& name, const HostSettings& host, const HostResult& result);
    // The whole page; OpenMetrics ends in "# EOF".
    std::string Text(bool openMetrics) const;

  private:
    std::string m_up, m_duration, m_timestamp, m_processes, m_cpu, m_resident;
};

// The content types of the two formats.
constexpr char kPrometheusTextType[] = "text/plain; version=0.0.4; charset=utf-8";
constexpr char kOpenMetricsType[] = "application/openmetrics-text; version=1.0.0; charset=utf-8";
