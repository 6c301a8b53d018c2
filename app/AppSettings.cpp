// The settings file "velk58.xml" beside the program, read once when the
// window is created and written once when it is destroyed, and the last list
// "last.sz7" written at the same time.
#include <windows.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "AnsiPath.h"
#include "App.h"
#include "ProgramInfo.h"
#include "qel_serialization.h"

namespace {

constexpr char kSection[] = "option";
constexpr char kPairName[] = "std::pair";

// The settings file's 8-bit name (the serialization archive takes no other):
// the program's folder exactly or in its short form; false when it has
// neither, and then there are no settings.
bool SettingsPath(std::string& path) {
    const qel::CPath folder(TheProgramInfo().m_folder.c_str(), L'\\');
    if (!AnsiPathOf(folder.c_str(), path))
        return false;
    path += "\\velk58.xml";
    return true;
}

// The whole file; false when it cannot be opened or read.
bool ReadBytes(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return in.good() || in.eof();
}

bool IsUtf8(const std::string& bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char lead = static_cast<unsigned char>(bytes[i]);
        size_t more = 0;
        if (lead >= 0xF0 && lead <= 0xF4)
            more = 3;
        else if (lead >= 0xE0 && lead <= 0xEF)
            more = 2;
        else if (lead >= 0xC2 && lead <= 0xDF)
            more = 1;
        else if (lead >= 0x80)
            return false;
        if (bytes.size() - i <= more)
            return false;
        for (size_t k = 1; k <= more; ++k) {
            if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += more + 1;
    }
    return true;
}

// Text that the reader would decode as other text without complaint:
// UTF-16 (a settings file has no NUL byte), or bytes that are no UTF-8 in a
// file that says it is UTF-8. Saving would replace the user's text with what
// was made of it.
bool IsMisencoded(const std::string& bytes) {
    if (bytes.find('\0') != std::string::npos)
        return true;
    if (bytes.compare(0, 5, "<?xml") != 0)
        return false;
    std::string declaration = bytes.substr(0, bytes.find("?>"));
    for (char& c : declaration)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return declaration.find("utf-8") != std::string::npos && !IsUtf8(bytes);
}

}  // namespace

void App::ReadSettings(DWORD& dwBkColor) {
    std::string path;
    if (!SettingsPath(path))
        return;
    // The defaults stay when the file cannot be read. One that is there all
    // the same holds bindings we do not know: it is the user's to mend, not
    // ours to overwrite at exit.
    std::string bytes;
    if (!ReadBytes(path, bytes) || IsMisencoded(bytes)) {
        m_bKeepSettingsFile = ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
        return;
    }
    try {
        qel::CSerializationReader ar(path.c_str(), kSection);
        ar.ReadInteger("bkColor.dwPixelCode", dwBkColor);
        ar.ReadBool("m_bWriteLastSz", m_bWriteLastSz);
        if (ar.BeginArray("m_keyAction") == 0) {
            // An empty array leaves no key bound at all.
            m_keyAction.clear();
            const int count = ar.GetCount();
            for (int i = 0; i < count; ++i) {
                // An item that cannot be read still binds (0, "None"), which
                // no key produces.
                std::pair<int, int> binding(0, kActionNone);
                if (ar.BeginObject(i, kPairName) == 0) {
                    ar.ReadEnum("first", binding.first, KeyNameTable());
                    ar.ReadEnum("second", binding.second, ActionNameTable());
                    ar.End();
                }
                m_keyAction.insert(binding);  // a key bound twice keeps its first action
            }
            ar.End();
        }
    } catch (...) {
        m_bKeepSettingsFile = true;
    }
}

void App::WriteSettings() {
    std::string path;
    if (m_bKeepSettingsFile || !SettingsPath(path))
        return;
    // Saved when the writer goes, through a new file swapped in.
    qel::CSerializationWriter ar(path.c_str(), kSection);
    ar.WriteInteger("bkColor.dwPixelCode", m_canvas.GetBkColor());
    ar.WriteBool("m_bWriteLastSz", m_bWriteLastSz);
    ar.BeginArray("m_keyAction");
    for (const auto& binding : m_keyAction) {  // in ascending order of key code
        ar.BeginObject(kPairName);
        ar.WriteEnum("first", binding.first, KeyNameTable());  // a code without a name: ""
        ar.WriteEnum("second", binding.second, ActionNameTable());
        ar.End();
    }
    ar.End();
}

void App::WriteLastList() {
    m_list.WriteList(m_lastListPath.c_str());
}
