// Sorting a large folder's page names in natural order: the names alone as
// qel::CWString, the same names as full qel::CPath values, and beside them
// the floor of a plain wcscmp sort of the same texts.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <random>
#include <vector>

#include "qel_path.h"
#include "qel_string.h"
#include "bench_timing.h"

namespace {

constexpr int kNames = 100000;

// Page names as scanners, cameras and hand-numbered books make them.
std::vector<qel::CWString> MakeNames() {
    std::mt19937 rng(100000);
    std::vector<qel::CWString> names;
    names.reserve(kNames);
    wchar_t text[128];
    for (int i = 0; i < kNames; ++i) {
        unsigned a = rng() % 100000, b = rng() % 1000, c = rng() % 1000;
        switch (rng() % 6) {
        case 0:
            std::swprintf(text, 128, L"page%u.jpg", a);
            break;
        case 1:
            std::swprintf(text, 128, L"IMG_%04u.JPG", a % 10000);
            break;
        case 2:
            std::swprintf(text, 128, L"vol%02u_ch%03u_p%03u.png", b % 40, b, c);
            break;
        case 3:
            std::swprintf(text, 128, L"Scan %u (%u).jpg", b, c % 20);
            break;
        case 4:
            std::swprintf(text, 128, L"表紙%u.jpg", a % 500);
            break;
        default:
            std::swprintf(text, 128, L"%05u.bmp", a);
            break;
        }
        names.emplace_back(text);
    }
    return names;
}

// Sorts a fresh copy each run; only the sort is timed.
template <typename T, typename Less = std::less<T>>
double SortMs(const std::vector<T>& unsorted, Less less = Less()) {
    std::vector<T> v = unsorted;
    auto t0 = std::chrono::steady_clock::now();
    std::sort(v.begin(), v.end(), less);
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    if (!std::is_sorted(v.begin(), v.end(), less))
        std::printf("natural_sort_bench: result not sorted\n");
    return ms;
}

}  // namespace

int main() {
    std::vector<qel::CWString> names = MakeNames();
    std::printf("bench sort_natural_100000_ms %.1f\n", MedianOf(7, [&] { return SortMs(names); }));

    std::vector<const wchar_t*> texts;
    for (const qel::CWString& name : names)
        texts.push_back(name.c_str());
    auto plainLess = [](const wchar_t* x, const wchar_t* y) { return std::wcscmp(x, y) < 0; };
    std::printf("bench sort_wcscmp_100000_ms %.1f\n", MedianOf(7, [&] { return SortMs(texts, plainLess); }));

    std::vector<qel::CPath> paths;
    paths.reserve(names.size());
    qel::CPath folder(L"C:\\books\\vol1", L'\\');
    for (const qel::CWString& name : names)
        paths.push_back(folder / name.c_str());
    std::printf("bench sort_path_100000_ms %.1f\n", MedianOf(7, [&] { return SortMs(paths); }));
    return 0;
}
