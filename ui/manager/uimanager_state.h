// Process-wide state of the framework, shared by the manager's source files.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/manager/uimanager.h"

namespace SkinUI {
namespace detail {

struct ProcessState {
    HINSTANCE instance = nullptr;
    bool initialised = false;
    std::vector<CPaintManagerUI*> managers;
    std::vector<IMessageFilterUI*> hotKeyFilters;
    std::map<int, std::unique_ptr<TFontInfo>> sharedFonts;
    std::map<std::wstring, std::wstring> sharedDefaultAttributes;
    std::map<std::wstring, std::wstring> sharedStyles;
    // The process default font (DEFAULT_GUI_FONT's face at the process scale)
    // and a shared default set by a skin's `Font default="true" shared="true"`.
    std::unique_ptr<TFontInfo> defaultFont;
    int dpi = 96;
    nq::unique_hpen dirtyPen;
    DWORD disabledColor = 0xFFA7A6AA;
    DWORD fontColor = 0xFF000000;
    DWORD linkColor = 0xFF0000FF;
    DWORD linkHoverColor = 0xFFD3215F;
    DWORD selectedBkColor = 0xFFBAE4FF;
    long liveGdi = 0;
};

ProcessState& Process();

// Creates a font record: DEFAULT_GUI_FONT's LOGFONT with the face (up to 31
// characters), height -scaled(size), weight and flags; metrics measured on `dc`
// (the screen when null). Null when the font cannot be made.
std::unique_ptr<TFontInfo> MakeFont(const std::wstring& face, int size, bool bold, bool underline, bool italic,
                                    const CDpiScale* dpi, HDC dc);

// Bookkeeping of GDI objects the framework made (see LiveGdiObjects).
inline void CountGdi(long delta) { Process().liveGdi += delta; }

}  // namespace detail
}  // namespace SkinUI
