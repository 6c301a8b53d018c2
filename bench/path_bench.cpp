// Normalising a long path, as a list file or an archive may hand one over:
// 32,000 units of short components with '.' and '..' among them.
#include <cstdio>
#include <string>

#include "qel_path.h"
#include "bench_timing.h"

int main() {
    std::wstring text = L"C:";
    for (int i = 0; text.size() < 32000; ++i)
        text += (i % 4 == 3) ? L"\\.." : (i % 4 == 2) ? L"\\." : L"\\p" + std::to_wstring(i % 100);
    text.resize(32000);
    std::size_t count = 0;
    const double ms = MedianMs(5, [&] { count += qel::CPath(text.c_str(), L'\\').Count(); });
    std::printf("bench path_normalise_32000_units_us %.0f\n", ms * 1000.0);
    return count == 0;
}
