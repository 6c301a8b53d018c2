// A scratch folder per test, under the system's temporary folder.
#pragma once

#include <windows.h>

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
    ~ScratchFolder() { RemoveTree(m_path); }

    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "\\" + name; }

    static void WriteBytes(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size());
    }

private:
    static void RemoveTree(const std::string& path) {
        WIN32_FIND_DATAA fd;
        HANDLE h = ::FindFirstFileA((path + "\\*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = fd.cFileName, child = path + "\\" + name;
                if (name == "." || name == "..")
                    continue;
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveTree(child);
                else
                    ::DeleteFileA(child.c_str());
            } while (::FindNextFileA(h, &fd));
            ::FindClose(h);
        }
        ::RemoveDirectoryA(path.c_str());
    }

    std::string m_path;
};
