// A scratch folder per test, under the system's temporary folder.
#pragma once

#include <windows.h>

#include <string>

class ScratchFolder {
public:
    ScratchFolder() {
        char szTemp[MAX_PATH + 1] = "";
        ::GetTempPathA(MAX_PATH, szTemp);
        m_path = std::string(szTemp) + "velk58_esl_" + std::to_string(::GetCurrentProcessId()) + "_" +
                 std::to_string(++Counter());
        ::CreateDirectoryA(m_path.c_str(), nullptr);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder() { RemoveTree(m_path); }

    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "\\" + name; }

    static void WriteBytes(const std::string& path, const std::string& bytes) {
        HANDLE h =
            ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return;
        DWORD done = 0;
        ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
        ::CloseHandle(h);
    }

    static std::string ReadBytes(const std::string& path) {
        HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return "<missing>";
        std::string bytes;
        char buffer[4096];
        DWORD done = 0;
        while (::ReadFile(h, buffer, sizeof(buffer), &done, nullptr) && done)
            bytes.append(buffer, done);
        ::CloseHandle(h);
        return bytes;
    }

private:
    static int& Counter() {
        static int n = 0;
        return n;
    }

    static void RemoveTree(const std::string& path) {
        WIN32_FIND_DATAA fd;
        HANDLE h = ::FindFirstFileA((path + "\\*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = fd.cFileName;
                if (name == "." || name == "..")
                    continue;
                const std::string child = path + "\\" + name;
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
