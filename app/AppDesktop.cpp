// The commands that reach outside the viewer: the screen as the desktop's
// wallpaper, the background colour chosen in the system's colour dialog, and
// the current page's file moved to the recycle bin.
#include <windows.h>

#include <shellapi.h>

#include <boost/make_shared.hpp>

#include "App.h"
#include "PageErase.h"
#include "ProgramInfo.h"
#include "qel_color_dialog.h"
#include "qel_file.h"

namespace {

// Only where a bin can take the file: without one (a drive that has none,
// Wine with an unusable trash) the shell would delete it for good.
bool RecycleBinTakes(const wchar_t* path) {
    wchar_t root[MAX_PATH] = {};
    if (!::GetVolumePathNameW(path, root, MAX_PATH))
        return false;
    SHQUERYRBINFO info{};
    info.cbSize = sizeof(info);
    return SUCCEEDED(::SHQueryRecycleBinW(root, &info));
}

}  // namespace

void App::SetWallPaper(HWND) {
    const qel::CPath path = qel::CPath(TheProgramInfo().m_folder.c_str(), L'\\') / L"wallpaper.bmp";
    // Neither a file that cannot be written nor a refused wallpaper is reported.
    m_canvas.SaveBitmap(path.c_str());
    ::SystemParametersInfoW(SPI_SETDESKWALLPAPER, 0, const_cast<wchar_t*>(path.c_str()),
                            SPIF_UPDATEINIFILE | SPIF_SENDCHANGE);
}

void App::ChangeBkColor(HWND hwnd) {
    // One dialog at a time.
    if (m_bInDialog)
        return;
    m_bInDialog = true;  // the cursor shows while the dialog is open
    qel::CChooseColorDlg dlg("背景色変更", m_canvas.GetBkColor());
    // The dialog must always have an owner, which it disables: without one the
    // viewer would take keys under it and could even close.
    HWND owner = ::GetActiveWindow();
    if (dlg.DoModal(owner ? owner : hwnd) == IDOK) {
        DWORD dwPixelCode = 0;  // the fourth byte is 0
        dlg.GetColor(dwPixelCode);
        m_canvas.SetBkColor(dwPixelCode);
        Render(hwnd);
        m_bPainted = false;
    }
    m_bInDialog = false;
}

void App::DeleteCurrent(HWND hwnd) {
    StopLoaders();
    const wchar_t* path = m_list.CurrentPath();
    // A page inside an archive is no file on disk and is never touched. A
    // file that the bin cannot take stays, but its page leaves the book.
    if (path && ::GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES && RecycleBinTakes(path))
        qel::RemoveFile(path, true);
    if (!EraseCurrentPage(m_list, m_slots, m_head, m_released, [] { return boost::make_shared<qel::CPicture>(); })) {
        // The last page is gone; the loaders stay stopped.
        ::PostMessageA(hwnd, WM_CLOSE, 0, 0);
        return;
    }
    StartLoaders();
    Layout(hwnd);
}
