// The drop shadow of a skinned window: a layered, click-through pop-up owned by
// the window, redrawn from the window's region (or from an image) and kept
// behind it by a filter on the window's procedure. One per paint manager.
#pragma once

#include <windows.h>

#include <string>

namespace SkinUI {

class CPaintManagerUI;

class CShadowUI {
public:
    CShadowUI();
    ~CShadowUI();
    CShadowUI(const CShadowUI&) = delete;
    CShadowUI& operator=(const CShadowUI&) = delete;

    // Registers the shadow window class (once per process).
    static bool Initialize(HINSTANCE instance);

    // Creates the shadow window for the manager's window when ShowShadow is on.
    void Create(CPaintManagerUI* manager);
    // Redraws when the window's size changed since the last drawing.
    void Update();
    bool IsCreated() const;
    HWND GetWindow() const;
    // Status bits: 1 enabled, 2 shadow visible, 4 parent visible.
    enum : BYTE { kEnabled = 1, kVisible = 2, kParentVisible = 4 };
    BYTE GetStatus() const;
    // Passes every message of the parent straight through while set.
    void Suspend(bool suspend);
    // How many times the shadow bitmap was drawn (0 while nothing is drawn).
    unsigned DrawCount() const;

    // The `showshadow` window attribute.
    void ShowShadow(bool show);
    bool IsShowShadow() const;
    // Hides or shows the shadow window without destroying it.
    void DisableShadow(bool disable);
    bool IsDisableShadow() const;

    // Setters refuse values outside their range (false, nothing changes).
    bool SetSize(int size);                 // -35..35
    bool SetSharpness(unsigned sharpness);  // 0..35
    bool SetDarkness(unsigned darkness);    // 0..255
    bool SetPosition(int x, int y);         // each -35..35
    bool SetColor(COLORREF color);          // 0x00RRGGBB (an ARGB value's alpha is dropped)
    bool SetImage(const std::wstring& image);
    bool SetShadowCorner(RECT corner);      // components >= 0

    int GetSize() const;
    unsigned GetSharpness() const;
    unsigned GetDarkness() const;
    POINT GetPosition() const;
    COLORREF GetColor() const;
    const std::wstring& GetImage() const;
    RECT GetShadowCorner() const;

    // The alpha (0..255) of the computed shadow at distance `d` pixels from
    // the window's outline (0 inside it).
    static BYTE AlphaAt(double d, int size, unsigned sharpness, unsigned darkness);

private:
    struct Impl;
    static LRESULT CALLBACK ParentProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void Draw();
    void Reposition();
    void ShowWindowNow(bool show);
    void RedrawIfVisible();
    Impl* impl_;
};

}  // namespace SkinUI
