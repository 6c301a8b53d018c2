#include "ArchivePlugin.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <sstream>

namespace archive_test {

namespace {

std::string Utf8ToAnsi(const std::string& utf8) {
    int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(n, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], n);
    int m = ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(m, '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &ansi[0], m, nullptr, nullptr);
    ansi.resize(m - 1);
    for (char& c : ansi)
        c = c == '/' ? '\\' : c;
    return ansi;
}

Fixtures LoadFixtures() {
    Fixtures f;
    f.folder = WinPath(VELK58_ARCHIVE_FIXTURES) + "\\";
    std::istringstream manifest(f.Read("manifest.txt"));
    std::string line;
    while (std::getline(manifest, line)) {
        std::istringstream fields(line);
        std::string archive, flags, name, size, crc;
        if (!std::getline(fields, archive, '\t') || !std::getline(fields, flags, '\t') ||
            !std::getline(fields, name, '\t') || !std::getline(fields, size, '\t') || !std::getline(fields, crc))
            continue;
        f.manifest[archive].push_back({flags, Utf8ToAnsi(name), static_cast<std::uint32_t>(std::stoul(size)),
                                       static_cast<std::uint32_t>(std::stoul(crc, nullptr, 16))});
    }
    std::istringstream hostile(f.Read("hostile.txt"));
    while (std::getline(hostile, line))
        if (!line.empty())
            f.hostile.push_back(line);
    return f;
}

template <class Fn>
void Resolve(HMODULE module, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    EXPECT_NE(nullptr, fn) << name;
}

}  // namespace

std::string WinPath(std::string path) {
    for (char& c : path)
        c = c == '/' ? '\\' : c;
    return path.size() > 1 && path[0] == '\\' ? "Z:" + path : path;
}

Plugin::Plugin() : m_module(::LoadLibraryA(WinPath(VELK58_ARCHIVE_PLUGIN).c_str())) {
    EXPECT_TRUE(m_module) << VELK58_ARCHIVE_PLUGIN;
    if (!m_module)
        return;
    Resolve(m_module.get(), "GetPluginInfo", GetPluginInfo);
    Resolve(m_module.get(), "IsSupported", IsSupported);
    Resolve(m_module.get(), "GetArchiveInfo", GetArchiveInfo);
    Resolve(m_module.get(), "GetFileInfo", GetFileInfo);
    Resolve(m_module.get(), "GetFile", GetFile);
}

std::vector<SpiFileInfo> Plugin::List(const std::string& archive, int* rc, size_t* blockSize) const {
    esl::UniqueLocal block;
    int r = GetArchiveInfo(archive.c_str(), 0, 0, block.put());
    if (rc)
        *rc = r;
    std::vector<SpiFileInfo> records;
    if (r != 0 || !block)
        return records;
    size_t size = ::LocalSize(block.get());
    if (blockSize)
        *blockSize = size;
    esl::LocalLockGuard<const SpiFileInfo> lock(block.get());
    for (size_t k = 0; (k + 1) * sizeof(SpiFileInfo) <= size && lock.get()[k].method[0]; ++k)
        records.push_back(lock.get()[k]);
    return records;
}

int Plugin::Extract(const std::string& archive, std::uint32_t position, std::uint32_t size, std::string& bytes,
                    SPI_PROGRESS progress, LONG_PTR data) const {
    esl::UniqueLocal block;
    int r = GetFile(archive.c_str(), position, reinterpret_cast<LPSTR>(block.put()), 0x0100, progress, data);
    bytes.clear();
    if (r != 0)
        return r;
    if (!block || ::LocalSize(block.get()) < size) {
        ADD_FAILURE() << "GetFile answered 0 with a block of " << (block ? ::LocalSize(block.get()) : 0)
                      << " bytes for " << size;
        return -100;
    }
    esl::LocalLockGuard<const char> lock(block.get());
    bytes.assign(lock.get(), size);
    return r;
}

std::string Fixtures::Read(const std::string& archive) const {
    std::ifstream in(Path(archive), std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

const Fixtures& GetFixtures() {
    static const Fixtures fixtures = LoadFixtures();
    return fixtures;
}

std::uint32_t Crc(const std::string& bytes) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

std::string FullName(const SpiFileInfo& info) {
    return std::string(info.path, strnlen(info.path, sizeof info.path)) +
           std::string(info.filename, strnlen(info.filename, sizeof info.filename));
}

}  // namespace archive_test
