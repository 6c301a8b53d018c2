// The process's GDI+: started once, shut down at exit, and the set of file
// extensions its decoders accept.
#include <windows.h>

#include <gdiplus.h>

#include <set>
#include <vector>

#include "qel_path.h"
#include "qel_picture.h"

#define QEL_SOURCE "qel_picture"

namespace qel {
namespace GDIPlus {
namespace {

namespace flat = Gdiplus::DllExports;

// Made on first use, inside the application object's construction, so it
// is destroyed after every picture that could hold a GDI+ bitmap.
struct State {
    ULONG_PTR token = 0;
    std::set<CWString> extensions;  // ".BMP", dot included; ASCII case ignored

    ~State() {
        if (token != 0)
            Gdiplus::GdiplusShutdown(token);
    }
};

State& TheState() {
    static State state;
    return state;
}

// "*.BMP;*.DIB;*.RLE" gives .BMP, .DIB and .RLE: each item from its last dot.
void AddExtensions(const wchar_t* filter, std::set<CWString>& extensions) {
    const wchar_t* item = filter;
    const wchar_t* dot = nullptr;
    for (const wchar_t* p = filter;; ++p) {
        if (*p == L'.')
            dot = p;
        if (*p != L';' && *p != L'\0')
            continue;
        if (dot && dot >= item)
            extensions.insert(CWString(dot, static_cast<size_t>(p - dot)));
        if (*p == L'\0')
            return;
        item = p + 1;
    }
}

void CollectDecoderExtensions(std::set<CWString>& extensions) {
    UINT count = 0, bytes = 0;
    if (flat::GdipGetImageDecodersSize(&count, &bytes) != Gdiplus::Ok || count == 0 ||
        bytes < count * sizeof(Gdiplus::ImageCodecInfo))
        return;
    // ImageCodecInfo records first, then the texts they point to.
    std::vector<Gdiplus::ImageCodecInfo> table((bytes + sizeof(Gdiplus::ImageCodecInfo) - 1) /
                                               sizeof(Gdiplus::ImageCodecInfo));
    if (flat::GdipGetImageDecoders(count, bytes, table.data()) != Gdiplus::Ok)
        return;
    for (UINT i = 0; i < count; ++i) {
        if (table[i].FilenameExtension)
            AddExtensions(table[i].FilenameExtension, extensions);
    }
}

}  // namespace

void Startup() {
    State& state = TheState();
    if (state.token != 0)
        return;
    Gdiplus::GdiplusStartupInput input;  // version 1, no callback, background thread
    if (Gdiplus::GdiplusStartup(&state.token, &input, nullptr) != Gdiplus::Ok) {
        state.token = 0;
        return;
    }
    std::set<CWString> extensions;
    CollectDecoderExtensions(extensions);
    state.extensions.swap(extensions);
}

bool IsEnable() {
    return TheState().token != 0;
}

bool IsSupported(const CWString& path) {
    if (!IsEnable())
        return false;
    const CWString extension = CPath(path.c_str(), L'\\').Extension();
    const std::set<CWString>& extensions = TheState().extensions;
    return !extension.IsEmpty() && extensions.find(extension) != extensions.end();
}

}  // namespace GDIPlus
}  // namespace qel
