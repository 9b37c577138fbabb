// Throughput of the module CRC over memory, and of each CRC kernel the
// machine can run.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "module/crc16.h"
#include "module/crc16_kernels.h"

static std::vector<uint8_t> bench_bytes(size_t n)
{
    std::vector<uint8_t> data(n);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = uint8_t(i * 131 + 7);
    return data;
}

static void crc_over_memory(benchmark::State &state)
{
    size_t length = size_t(state.range(0));
    size_t misalign = size_t(state.range(1));
    std::vector<uint8_t> data = bench_bytes(length + 16);
    uint16_t crc = 0;
    for (auto _ : state) {
        crc = crc16_update(data.data() + misalign, length, crc);
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(length));
}
BENCHMARK(crc_over_memory)
    ->ArgsProduct({{16, 1024, 16384, 1 << 20}, {0, 1, 3}});

// One kernel, called directly; crc_kernel/<name>/<length>/<misalignment>.
static void crc_kernel_over_memory(benchmark::State &state, const CrcKernel *kernel)
{
    size_t length = size_t(state.range(0));
    size_t misalign = size_t(state.range(1));
    std::vector<uint8_t> data = bench_bytes(length + 64);
    uint16_t reg = 0;
    for (auto _ : state) {
        reg = kernel->run(reg, data.data() + misalign, length);
        benchmark::DoNotOptimize(reg);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(length));
    state.SetLabel(&crc16_chosen_kernel() == kernel ? "chosen" : "");
}

static const bool kernels_registered = [] {
    for (const CrcKernel &k : crc16_kernels())
        if (cpu_runs(k.needs))
            benchmark::RegisterBenchmark((std::string("crc_kernel/") + k.name).c_str(), crc_kernel_over_memory, &k)
                ->ArgsProduct({{256, 4096, 128 << 10, 1 << 20}, {0, 1}});
    return true;
}();
