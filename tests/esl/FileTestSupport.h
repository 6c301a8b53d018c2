// A scratch folder per test, under the system's temporary folder.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

class ScratchFolder {
public:
    ScratchFolder() {
        static int counter = 0;
        char szTemp[MAX_PATH + 1] = "";
        ::GetTempPathA(MAX_PATH, szTemp);
        m_path = std::string(szTemp) + "velk58_esl_" + std::to_string(::GetCurrentProcessId()) + "_" +
                 std::to_string(++counter);
        ::CreateDirectoryA(m_path.c_str(), nullptr);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder() { std::filesystem::remove_all(m_path, m_error); }

    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "\\" + name; }

    static void WriteBytes(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size());
    }

private:
    std::string m_path;
    std::error_code m_error;
};
