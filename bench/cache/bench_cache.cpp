// lvCache's memory storage filled with chunks of 1000 bytes up to the total, then read back: the
// time per byte stays flat as the total grows, since the held buffer grows geometrically.
#include "lanvex/ftp/cache.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace
{

void BM_MemoryCacheFill(benchmark::State& state)
{
    const LONG nChunk = 1000;
    const int64_t nTotal = state.range(0);
    std::vector<BYTE> chunk(static_cast<size_t>(nChunk), 0x5a);
    std::vector<BYTE> back(static_cast<size_t>(nTotal));
    for (auto _ : state)
    {
        void* pv = nullptr;
        lanvex::CreateComponent<lanvex::lvCache>(nullptr, IID_IlvCache, &pv);
        auto* pCache = static_cast<IlvCache*>(pv);
        pCache->put_Type(lanvex::lvCache::kMemoryStorage);
        for (int64_t n = 0; n < nTotal; n += nChunk)
        {
            LONG nSize = nChunk;
            pCache->Write(chunk.data(), &nSize);
        }
        LONG nRead = static_cast<LONG>(nTotal);
        pCache->Read(back.data(), &nRead);
        benchmark::DoNotOptimize(back.data());
        pCache->Release();
    }
    state.SetBytesProcessed(state.iterations() * nTotal);
}
BENCHMARK(BM_MemoryCacheFill)->Arg(32000)->Arg(1000000)->Arg(16000000);

} // namespace

BENCHMARK_MAIN();
