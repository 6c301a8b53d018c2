// A cached archive looked up again, as every page read out of an archive
// does: the archive manager's hit path, with the test archive plug-in.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "bench_timing.h"
#include "qel_archive.h"
#include "qel_susie.h"

namespace {

std::wstring ExeFolder() {
    wchar_t exe[MAX_PATH] = L"";
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring folder(exe);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

}  // namespace

int main() {
    const std::wstring plugin = ExeFolder() + L"..\\tests\\spi\\spi_archive" + (sizeof(void*) == 8 ? L".sph" : L".spi");
    qel::CSpiManager::Instance().RegisterPlugin(plugin.c_str());

    char temp[MAX_PATH + 1] = "";
    ::GetTempPathA(MAX_PATH, temp);
    const std::string book = std::string(temp) + "velk58_archive_bench.tqa";
    {
        std::ofstream out(book, std::ios::binary);
        for (int i = 0; i < 200; ++i)
            out << "e\ttst\t-\t-\timg\\\t" << i << ".jpg\t-\t*100\n";
    }
    const std::wstring path(book.begin(), book.end());
    qel::CArchiveManager& manager = qel::CArchiveManager::Instance();
    if (!manager.GetArchive(path.c_str())) {
        std::fprintf(stderr, "the test archive plug-in did not open %s\n", book.c_str());
        return 1;
    }
    const int kHits = 200000;
    const double ns = MedianOf(7, [&] {
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < kHits; ++i) {
            if (!manager.GetArchive(path.c_str()))
                std::abort();
        }
        return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count() / kHits;
    });
    std::printf("bench archive_cache_hit_ns %.1f\n", ns);
    ::DeleteFileA(book.c_str());
    return 0;
}
