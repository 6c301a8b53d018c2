// The settings file "velk58.xml" beside the program, read once when the
// window is created and written once when it is destroyed, and the last list
// "last.sz7" written at the same time.
#include <windows.h>

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

}  // namespace

void App::ReadSettings(DWORD& dwBkColor) {
    std::string path;
    if (!SettingsPath(path))
        return;
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
        // The defaults stay. A file that is there but cannot be read holds
        // bindings we do not know: it is the user's to mend, not ours to
        // overwrite at exit.
        m_bKeepSettingsFile = ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
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
