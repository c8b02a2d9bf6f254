// The wire trace on a 1.5 MB ps reply in 4 KB receives: off (the cost on every send and
// receive when LANVEX_TRACE is unset), and on, writing to /dev/null.
#include "lanvex/net/transport/wire_trace.h"

#include <benchmark/benchmark.h>

#include <string>

namespace
{
std::string MakeReply()
{
    std::string text = "\xFF\xFD\x01\xFF\xFB\x03";
    while (text.size() < 1500000)
        text += "daemon     4711  0.3  1.2 123456 45678 ?        Ss   10:02AM   0:12.34 "
                "/usr/lib/some/service/binary --config /etc/service/x.conf --verbose\r\n";
    return text;
}

void Trace(benchmark::State& state, const char* target)
{
    lanvex::ConfigureWireTrace(target);
    const std::string reply = MakeReply();
    constexpr std::size_t kChunk = 4096;
    for (auto _ : state)
        for (std::size_t at = 0; at < reply.size(); at += kChunk)
            lanvex::TraceWireBytes("lvTelnet", lanvex::ETraceDirection::Receive,
                                   lanvex::ETraceFormat::Telnet, reply.data() + at,
                                   std::min(kChunk, reply.size() - at));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply.size()));
    lanvex::ConfigureWireTrace(nullptr);
}

void TraceOff(benchmark::State& state)
{
    Trace(state, nullptr);
}
void TraceOn(benchmark::State& state)
{
    Trace(state, "/dev/null");
}
} // namespace

BENCHMARK(TraceOff);
BENCHMARK(TraceOn)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
