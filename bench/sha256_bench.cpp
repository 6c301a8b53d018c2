// SHA-256 throughput over 256 MB held in memory. bench/sha256sum.sh times the
// system's sha256sum on the same bytes in the same run.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "qel_hash.h"
#include "bench_timing.h"

namespace {

constexpr size_t kBlockBytes = 1 << 20;
constexpr size_t kBlocks = 256;

// 1 MiB from a fixed linear congruential generator, repeated 256 times; the
// shell companion builds the same bytes.
std::vector<uint8_t> MakePattern() {
    std::vector<uint8_t> bytes(kBlockBytes * kBlocks);
    uint32_t x = 12345;
    for (size_t i = 0; i < kBlockBytes; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = uint8_t(x >> 16);
    }
    for (size_t b = 1; b < kBlocks; ++b)
        std::copy(bytes.begin(), bytes.begin() + kBlockBytes, bytes.begin() + b * kBlockBytes);
    return bytes;
}

}  // namespace

int main() {
    std::vector<uint8_t> data = MakePattern();
    std::string digest;
    double ms = MedianMs(5, [&] {
        qel::CSHA256 sha;
        sha.Update(data.data(), data.size());
        qel::CHashValue value;
        sha.GetHash(value);
        digest = value.Text();
    });
    std::printf("bench sha256_mb_per_s %.1f\n", double(kBlocks) / (ms / 1000.0));
    // The companion compares its digest with this one, so that both are
    // known to have hashed the same bytes.
    if (const char* dir = std::getenv("VELK58_BENCH_DIR")) {
        std::string path = std::string(dir) + "/sha256_bench.digest";
        if (FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fprintf(f, "%s\n", digest.c_str());
            std::fclose(f);
        }
    }
    return 0;
}
