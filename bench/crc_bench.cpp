// Throughput of the module CRC over memory.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "module/crc16.h"

static void crc_over_memory(benchmark::State &state)
{
    size_t length = size_t(state.range(0));
    size_t misalign = size_t(state.range(1));
    std::vector<uint8_t> data(length + 16);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = uint8_t(i * 131 + 7);
    uint16_t crc = 0;
    for (auto _ : state) {
        crc = crc16_update(data.data() + misalign, length, crc);
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(length));
}
BENCHMARK(crc_over_memory)
    ->ArgsProduct({{16, 1024, 16384, 1 << 20}, {0, 1, 3}});
