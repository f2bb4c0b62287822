// Throughput of the readers every loader sits on: gzip streams through DataFile, the formatted
// read, and PNG and J7 decoding from memory.
#include <benchmark/benchmark.h>

#include <string.h>

#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include "common/mem.h"
#include "render/image/image.h"
#include "vfs/vfs.h"

static std::string gzip_of(const std::string &plain)
{
    z_stream z = {};
    deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, plain.size()), '\0');
    z.next_in = (Bytef *)plain.data();
    z.avail_in = (uInt)plain.size();
    z.next_out = (Bytef *)out.data();
    z.avail_out = (uInt)out.size();
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

static std::string track_text(int lines)
{
    std::string s;
    std::mt19937 gen(1);
    for (int i = 0; i < lines; i++)
        s += "[ " + std::to_string(gen() % 1000) + ".25 " + std::to_string(gen() % 100) + " -3.5 ] name" +
             std::to_string(i) + "\n";
    return s;
}

static void BM_GzipRead(benchmark::State &state)
{
    std::string z = gzip_of(track_text(20000));
    std::vector<char> buf(65536);
    size_t total = 0;
    for (auto _ : state) {
        DataFile *f = open_memory_data_file(z.data(), z.size(), true);
        size_t n;
        while ((n = data_read(f, buf.data(), buf.size())) > 0)
            total += n;
        close_data_file(f);
    }
    state.SetBytesProcessed((int64_t)total);
}
BENCHMARK(BM_GzipRead);

static void BM_ScanVectors(benchmark::State &state)
{
    std::string text = track_text(5000);
    for (auto _ : state) {
        DataFile *f = open_memory_data_file(text.data(), text.size(), false);
        float x, y, z;
        char name[64];
        while (data_scanf(f, " [ %f %f %f ] %63s", &x, &y, &z, name) == 4)
            benchmark::DoNotOptimize(x);
        close_data_file(f);
    }
    state.SetItemsProcessed(state.iterations() * 5000);
}
BENCHMARK(BM_ScanVectors);

static void BM_J7Decode(benchmark::State &state)
{
    std::string j7 = "J7 512 512\n" + std::string(512 * 512 * 4, '\1');
    for (auto _ : state) {
        Image img;
        jpred_decode_memory((const unsigned char *)j7.data(), j7.size(), "bench", &img);
        image_free(&img);
    }
    state.SetBytesProcessed(state.iterations() * 512 * 512 * 4);
}
BENCHMARK(BM_J7Decode);

BENCHMARK_MAIN();
