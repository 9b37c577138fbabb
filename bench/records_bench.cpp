// Throughput of the record path: hex decoding, decode_record, and
// load_records and copy_with_crc over generated S-record files.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "records/hex.h"
#include "records/hex_kernels.h"
#include "records/patch_copy.h"
#include "records/record_loader.h"
#include "records/record_reader.h"
#include "driver/run.h"
#include "state.h"

namespace {

// One S3 line (without its line feed) of the bytes at address.
std::string s3_line(uint32_t address, const uint8_t *data, size_t n)
{
    static const char digits[] = "0123456789ABCDEF";
    std::vector<uint8_t> bytes = {uint8_t(n + 5), uint8_t(address >> 24), uint8_t(address >> 16),
                                  uint8_t(address >> 8), uint8_t(address)};
    bytes.insert(bytes.end(), data, data + n);
    unsigned sum = 0;
    for (uint8_t b : bytes)
        sum += b;
    bytes.push_back(uint8_t(0xFF - (sum & 0xFF)));
    std::string line = "S3";
    for (uint8_t b : bytes) {
        line.push_back(digits[b >> 4]);
        line.push_back(digits[b & 0xF]);
    }
    return line;
}

// A module of size bytes (header, name, varied data, trailer; CRC unset).
std::vector<uint8_t> make_module(uint32_t size)
{
    static const uint8_t head[] = {0xFF, 0xFF, 0x7F, 0xFF, 0x87, 0xCD, 0xF0, 0x0F, 0, 0, 0, 0,
                                   0, 0, 0, 0, 0, 0, 1, 0, 'B', 'E', 'N', 'C', 'H', 'M', 'O', 'D',
                                   0, 0, 0, 36, 0, 0, 0, 40, 'b', 0, 0, 0};
    std::vector<uint8_t> m(head, head + sizeof head);
    m[8] = uint8_t(size >> 24);
    m[9] = uint8_t(size >> 16);
    m[10] = uint8_t(size >> 8);
    m[11] = uint8_t(size);
    for (uint32_t i = uint32_t(m.size()); i < size - 4; i++)
        m.push_back(uint8_t(i * 2654435761u >> 24));
    for (uint8_t b : {0x5A, 0x69, 0x0F, 0xF0})
        m.push_back(b);
    return m;
}

// The module as S3 records of 32 data bytes at link address 0x8000.
std::string s3_file(const std::vector<uint8_t> &module)
{
    std::string text;
    for (size_t at = 0; at < module.size(); at += 32) {
        size_t n = module.size() - at < 32 ? module.size() - at : 32;
        text += s3_line(uint32_t(0x8000 + at), module.data() + at, n) + "\n";
    }
    return text;
}

// A fresh directory in the system's temporary directory, removed at the end.
struct ScratchDir {
    std::filesystem::path path;
    ScratchDir()
    {
        path = std::filesystem::temp_directory_path() /
               ("tarvel-bench-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(path);
    }
    ~ScratchDir() { std::filesystem::remove_all(path); }
    std::string file(const char *name) const { return (path / name).string(); }
};

void write_text(const std::string &path, const std::string &text)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0)
        std::perror(path.c_str());
}

}  // namespace

// Hex characters of one S3 line of 32 data bytes to bytes, as the decoder
// converts them (in place, one position behind).
static void hex_decoding(benchmark::State &state)
{
    uint8_t data[32];
    for (int i = 0; i < 32; i++)
        data[i] = uint8_t(i * 37);
    std::string line = s3_line(0x8000, data, sizeof data);
    std::vector<uint8_t> work(line.begin(), line.end());
    int n = int(line.size()) - 4;
    for (auto _ : state) {
        std::memcpy(work.data(), line.data(), line.size());
        benchmark::DoNotOptimize(hex_to_bytes(n, work.data() + 4, work.data() + 3));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * n);
}
BENCHMARK(hex_decoding);

// One hex kernel, called directly on text of the given number of bytes;
// hex_kernel/<name>/<bytes>.
static void hex_kernel_over_text(benchmark::State &state, const HexKernel *kernel)
{
    size_t bytes = size_t(state.range(0));
    std::vector<uint8_t> text(2 * bytes), out(bytes);
    for (size_t i = 0; i < text.size(); i++)
        text[i] = uint8_t("0123456789ABCDEF"[(i * 7) % 16]);
    for (auto _ : state) {
        kernel->run(text.data(), out.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

static const bool hex_kernels_registered = [] {
    for (const HexKernel &k : hex_kernels())
        if (cpu_runs(k.needs))
            benchmark::RegisterBenchmark((std::string("hex_kernel/") + k.name).c_str(),
                                         hex_kernel_over_text, &k)
                ->Arg(37)
                ->Arg(255)
                ->Arg(4096);
    return true;
}();

// decode_record on S3 lines of 16, 32 and 250 data bytes (checksum, type,
// address, data), from a fresh copy of the line each time.
static void decode_s3_record(benchmark::State &state)
{
    std::vector<uint8_t> data(size_t(state.range(0)));
    for (size_t i = 0; i < data.size(); i++)
        data[i] = uint8_t(i * 37);
    std::string line = s3_line(0x8000, data.data(), data.size());
    std::vector<uint8_t> work(line.begin(), line.end());
    DecodeState decoded = {};
    for (auto _ : state) {
        std::memcpy(work.data(), line.data(), line.size());
        benchmark::DoNotOptimize(decode_record(&decoded, work.data(), int32_t(line.size())));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(line.size()));
}
BENCHMARK(decode_s3_record)->Arg(16)->Arg(32)->Arg(250);

// load_records over an S3 file of a module of range(0) bytes, 32 data bytes
// a line; the file stays in the page cache. Bytes are bytes of the file.
static void load_s3_file(benchmark::State &state)
{
    ScratchDir dir;
    auto size = uint32_t(state.range(0));
    std::string text = s3_file(make_module(size));
    write_text(dir.file("modu.abs"), text);
    init_state();
    link_address = 0x8000;
    uint32_t capacity = uint32_t(text.size() / 2);
    std::vector<uint8_t> block(capacity + 32, 0xFF);
    RecordLoad found = {};
    for (auto _ : state) {
        if (load_records(&found, dir.file("modu.abs").c_str(), block.data(), capacity,
                         uint32_t(block.size())) != 0)
            state.SkipWithError("load_records failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
    init_state();
}
BENCHMARK(load_s3_file)->Arg(1 << 20)->Arg(8 << 20)->Unit(benchmark::kMillisecond);

// copy_with_crc of the same files with the link record first, as the main
// job runs it after loading. Each copy ends with an fsync of the new file, so
// this also measures the disk.
static void copy_s3_file(benchmark::State &state)
{
    ScratchDir dir;
    std::string text = s3_file(make_module(uint32_t(state.range(0))));
    write_text(dir.file("modu.abs"), text);
    init_state();
    link_record = 1;
    RecordLoad found = {};
    found.crcs[0] = 0x3DBB;
    for (auto _ : state) {
        if (copy_with_crc(dir.file("modu.abs").c_str(), dir.file("modu.new").c_str(), found) != 0)
            state.SkipWithError("copy_with_crc failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
    init_state();
}
BENCHMARK(copy_s3_file)->Arg(1 << 20)->Arg(8 << 20)->Unit(benchmark::kMillisecond);
