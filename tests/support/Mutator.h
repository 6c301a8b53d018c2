// Deterministic mutation fuzzing for readers of outside input: seed inputs
// mutated (bit flips, insertions, deletions, splices, repeats, boundary values,
// truncation), each checked with a caller's invariant; a failure replays from
// the seed it prints. scripts/fuzz sets VELK58_FUZZ_SECONDS (run that long) and
// VELK58_FUZZ_SEED (a fresh base) for the tests named "Mutated..."; the seed
// alone replays input N first.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace fuzz {

// splitmix64: tiny, fast, and the same on every compiler.
class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 .. n-1; 0 when n is 0.
    std::size_t Below(std::size_t n) { return n ? static_cast<std::size_t>(Next() % n) : 0; }

private:
    std::uint64_t m_state;
};

// One to four mutations of input; splices draw from the corpus.
inline std::string Mutate(Random& rnd, std::string data, const std::vector<std::string>& corpus) {
    static const std::uint32_t kBoundary[] = {0,      1,      0x7F,       0x80,        0xFF,
                                              0x7FFF, 0xFFFF, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};
    for (int i = 0, ops = 1 + static_cast<int>(rnd.Below(4)); i < ops; ++i) {
        std::size_t at = rnd.Below(data.size() + 1);
        switch (rnd.Below(7)) {
        case 0:  // flip bits of one byte
            if (!data.empty())
                data[rnd.Below(data.size())] ^= static_cast<char>(1u << rnd.Below(8) | rnd.Below(256));
            break;
        case 1:  // insert random bytes
            data.insert(at, std::string(1 + rnd.Below(16), static_cast<char>(rnd.Below(256))));
            break;
        case 2:  // delete a run
            data.erase(at, 1 + rnd.Below(32));
            break;
        case 3: {  // splice a piece of another input
            if (corpus.empty())
                break;
            const std::string& other = corpus[rnd.Below(corpus.size())];
            std::size_t from = rnd.Below(other.size() + 1);
            data.insert(at, other.substr(from, 1 + rnd.Below(64)));
            break;
        }
        case 4: {  // repeat a chunk
            std::string chunk = data.substr(at, 1 + rnd.Below(64));
            for (std::size_t n = 1 + rnd.Below(8); n > 0; --n)
                data.insert(at, chunk);
            break;
        }
        case 5: {  // overwrite with a boundary value, little or big endian
            std::uint32_t v = kBoundary[rnd.Below(sizeof(kBoundary) / sizeof(kBoundary[0]))];
            std::size_t width = std::size_t(1) << rnd.Below(3);
            bool big = rnd.Below(2) != 0;
            for (std::size_t b = 0; b < width && at + b < data.size(); ++b) {
                std::size_t shift = 8 * (big ? width - 1 - b : b);
                data[at + b] = static_cast<char>(shift < 32 ? (v >> shift) & 0xFF : 0);
            }
            break;
        }
        default:  // truncate
            data.resize(rnd.Below(data.size() + 1));
            break;
        }
    }
    return data;
}

// Printable form of an input for a failure report, cut at max bytes.
inline std::string Hex(const std::string& data, std::size_t max = 512) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < data.size() && i < max; ++i)
        out += {kDigits[static_cast<unsigned char>(data[i]) >> 4], kDigits[static_cast<unsigned char>(data[i]) & 15]};
    return data.size() > max ? out + "..." : out;
}

struct Report {
    std::size_t inputs = 0, failures = 0;
};

// The invariant answers an empty text when the input passed, else what broke.
using Check = std::function<std::string(const std::string& input)>;

// The input being checked, so that a crash still names it.
struct Current {
    const char* name;
    std::uint64_t seed;
    const std::string* input;
};
inline Current* g_current = nullptr;

inline LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info) {
    if (const Current* c = g_current)
        std::printf("fuzz %s crash 0x%08lX seed %llu\n  input %s\n", c->name,
                    static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
                    static_cast<unsigned long long>(c->seed), Hex(*c->input).c_str());
    std::fflush(stdout);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Input i is made from seed (base + i), so "seed N" in a report replays it:
// Mutate(Random(N), corpus[N % corpus.size()], corpus).
inline Report Run(const char* name, std::uint64_t base, std::size_t count, const std::vector<std::string>& corpus,
                  const Check& check) {
    const char* seconds = std::getenv("VELK58_FUZZ_SECONDS");
    const char* seed = std::getenv("VELK58_FUZZ_SEED");
    if (seed)
        base = std::strtoull(seed, nullptr, 10);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds ? std::atoi(seconds) : 0);
    Report report;
    Current current{name, 0, nullptr};
    g_current = &current;
    LPTOP_LEVEL_EXCEPTION_FILTER previous = ::SetUnhandledExceptionFilter(ReportCrash);
    for (std::uint64_t i = 0; !corpus.empty(); ++i) {
        if (seconds ? std::chrono::steady_clock::now() >= deadline : i >= count)
            break;
        std::uint64_t s = base + i;
        Random rnd(s);
        std::string input = Mutate(rnd, corpus[s % corpus.size()], corpus);
        current.seed = s;
        current.input = &input;
        std::string broken;
        try {
            broken = check(input);
        } catch (...) {
            broken = "an exception escaped";
        }
        ++report.inputs;
        if (!broken.empty() && ++report.failures <= 5)
            std::printf("fuzz %s failure seed %llu: %s\n  input %s\n", name, static_cast<unsigned long long>(s),
                        broken.c_str(), Hex(input).c_str());
    }
    ::SetUnhandledExceptionFilter(previous);
    g_current = nullptr;
    std::printf("fuzz %s inputs %zu failures %zu\n", name, report.inputs, report.failures);
    std::fflush(stdout);
    return report;
}

}  // namespace fuzz
