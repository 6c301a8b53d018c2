// The archive plug-in as the tests call it: loaded with LoadLibrary and
// GetProcAddress (not through the host), with the archives the build made
// for it and what each must list.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <esl_handle.h>

#include "qel_spi.h"

namespace archive_test {

// A build-tree path as Windows sees it under Wine: 'Z:' and backslashes.
std::string WinPath(std::string path);

class Plugin {
public:
    Plugin();  // fails the test when the plug-in or an export is missing
    bool Loaded() const { return m_module.get() != nullptr; }

    SPI_GetPluginInfo GetPluginInfo = nullptr;
    SPI_IsSupported IsSupported = nullptr;
    SPI_GetArchiveInfo GetArchiveInfo = nullptr;
    SPI_GetFileInfo GetFileInfo = nullptr;
    SPI_GetFile GetFile = nullptr;

    // The records up to the terminating one; rc is GetArchiveInfo's result.
    // blockSize is LocalSize of the handle.
    std::vector<SpiFileInfo> List(const std::string& archive, int* rc = nullptr, size_t* blockSize = nullptr) const;
    // GetFile to memory; the bytes are the first size bytes of the block.
    int Extract(const std::string& archive, std::uint32_t position, std::uint32_t size, std::string& bytes,
                SPI_PROGRESS progress = nullptr, LONG_PTR data = 0) const;

private:
    esl::UniqueModule m_module;
};

// One entry that must be listed.
struct Expected {
    std::string flags;  // "cp932", "fail" or "-"
    std::string name;   // in the ANSI code page, '\' separated
    std::uint32_t size = 0;
    std::uint32_t crc = 0;
};

struct Fixtures {
    std::string folder;                                     // Windows form, ending in '\'
    std::map<std::string, std::vector<Expected>> manifest;  // by archive; "-" holds known contents only
    std::vector<std::string> hostile;
    std::string Path(const std::string& archive) const { return folder + archive; }
    std::string Read(const std::string& archive) const;
};

const Fixtures& GetFixtures();

std::uint32_t Crc(const std::string& bytes);
// Path field followed by file name: the entry's name as the host builds it.
std::string FullName(const SpiFileInfo& info);

}  // namespace archive_test
