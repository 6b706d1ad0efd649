// Drawing layer of the framework: images (nine-grid with alpha, fade, hole and
// tiling), colour and gradient fills, lines, rectangles, clipping and text.
// Controls decide what to draw; these operations decide how.
#pragma once

#include <windows.h>

#include <string>

#include "nqpublic/nqbase/nqhandle.h"
#include "ui/core/uidpi.h"
#include "ui/render/uiimage.h"

namespace Gdiplus {
class Font;
}

namespace SkinUI {

class CControlUI;

// What drawing needs from the window it draws for: its DPI, its image caches,
// its fonts and its text options. The paint manager provides it; CRenderHost
// below holds the image side of it.
class IRenderHost {
public:
    virtual ~IRenderHost() = default;
    virtual const CDpiScale* GetDpiScale() const = 0;
    virtual const ImageDrawInfo* GetDrawInfo(const std::wstring& image, const std::wstring& modify) = 0;
    virtual const ImageInfo* GetImageEx(const std::wstring& name, const std::wstring& resType, DWORD mask,
                                        bool useHSL, HINSTANCE instance) = 0;
    virtual HINSTANCE GetResourceInstance() const = 0;
    // Per-pixel-alpha (layered) window: every image is blended.
    virtual bool IsLayered() const = 0;
    // GDI font of an id (the default font when the id is unknown).
    virtual HFONT GetFont(int id) = 0;
    // A GDI+ font registered for the id, or null.
    virtual Gdiplus::Font* GetGdiplusFont(int id) = 0;
    // Text options of the window.
    virtual bool IsUseGdiplusText() const = 0;
    virtual int GetGdiplusTextRenderingHint() const = 0;
    virtual bool IsUseTextDesigner() const = 0;
    virtual bool IsTextRenderDouble() const = 0;
    // True when `control` answers the "Edit" interface query.
    virtual bool IsEditControl(CControlUI* control) const = 0;
};

// The image caches and options of one window, ready to be owned (or derived
// from) by a paint manager: the draw-info cache, the own image map and the
// process-wide shared map.
class CRenderHost : public IRenderHost {
public:
    CRenderHost();
    ~CRenderHost() override;

    // IRenderHost
    const CDpiScale* GetDpiScale() const override { return &dpi_; }
    const ImageDrawInfo* GetDrawInfo(const std::wstring& image, const std::wstring& modify) override;
    const ImageInfo* GetImageEx(const std::wstring& name, const std::wstring& resType, DWORD mask, bool useHSL,
                                HINSTANCE instance) override;
    HINSTANCE GetResourceInstance() const override { return instance_; }
    bool IsLayered() const override { return layered_; }
    HFONT GetFont(int id) override;
    Gdiplus::Font* GetGdiplusFont(int) override { return nullptr; }
    bool IsUseGdiplusText() const override { return gdiplusText_; }
    int GetGdiplusTextRenderingHint() const override { return textRenderingHint_; }
    bool IsUseTextDesigner() const override { return textDesigner_; }
    bool IsTextRenderDouble() const override { return textRenderDouble_; }
    bool IsEditControl(CControlUI*) const override { return false; }

    // Loads an image into the own map (or the shared map with `shared` or when
    // every image is shared), replacing a record of the same name.
    const ImageInfo* AddImage(const std::wstring& name, const std::wstring& resType, DWORD mask, bool useHSL,
                              bool shared, HINSTANCE instance);
    const ImageInfo* GetImage(const std::wstring& name) const;
    void RemoveImage(const std::wstring& name, bool shared = false);
    void SetAllImagesShared(bool shared) { allShared_ = shared; }

    CDpiScale& GetDpiObject() { return dpi_; }
    // A new DPI: parsed rectangles and the own images are dropped.
    void SetDpi(int dpi);
    void ResetImages();

    void SetResourceInstance(HINSTANCE instance) { instance_ = instance; }
    void SetLayered(bool layered) { layered_ = layered; }
    void SetFont(int id, HFONT font) { fonts_[id] = font; }
    void SetUseGdiplusText(bool on) { gdiplusText_ = on; }
    void SetGdiplusTextRenderingHint(int hint) { textRenderingHint_ = hint; }
    void SetUseTextDesigner(bool on) { textDesigner_ = on; }
    void SetTextRenderDouble(bool on) { textRenderDouble_ = on; }

    size_t DrawInfoCount() const { return drawInfos_.Size(); }
    size_t OwnImageCount() const { return images_.Size(); }

private:
    CDpiScale dpi_;
    CDrawInfoCache drawInfos_;
    CImageCache images_;
    bool allShared_ = false;
    HINSTANCE instance_ = nullptr;
    bool layered_ = false;
    bool gdiplusText_ = false;
    int textRenderingHint_ = 0;
    bool textDesigner_ = false;
    bool textRenderDouble_ = false;
    std::map<int, HFONT> fonts_;  // not owned
};

// Clip region of a DC for one scope: restores the previous clip and frees
// both regions when it ends.
class CRenderClip {
public:
    CRenderClip() = default;
    ~CRenderClip();
    CRenderClip(const CRenderClip&) = delete;
    CRenderClip& operator=(const CRenderClip&) = delete;

private:
    friend class RenderEngine;
    HDC hDC_ = nullptr;
    RECT rcItem_ = {};
    bool hadRegion_ = false;
    nq::unique_hrgn oldRgn_;
    nq::unique_hrgn rgn_;
};

// Middle-ellipsis bit of RenderText's style ("abc...xyz").
constexpr UINT DT_MIDDLE_ELLIPSIS_UI = 0x80000000u;

class RenderEngine {
public:
    // Image loading (the free function of the same name in uiimage.h).
    static std::unique_ptr<ImageInfo> LoadSkinImage(const std::wstring& name, const std::wstring& resType, DWORD mask,
                                                    HINSTANCE instance);

    // Draws an image attribute inside the control rectangle `rcItem`.
    static bool DrawImageString(HDC hDC, IRenderHost* host, const RECT& rcItem, const RECT& rcPaint,
                                const std::wstring& image, const std::wstring& modify = L"",
                                HINSTANCE instance = nullptr);
    static bool DrawImageInfo(HDC hDC, IRenderHost* host, const RECT& rcItem, const RECT& rcPaint,
                              const ImageDrawInfo* info, HINSTANCE instance = nullptr);
    // Destination of an image inside the control rectangle for a dest value
    // (all zero = the control rectangle; negative right/bottom count from the far edge).
    static RECT ImageDestination(const RECT& rcItem, const RECT& dest);

    // Nine-grid blit of `hBitmap`'s part `rcBmpPart` into `rc`, limited to the parts
    // that touch `rcPaint`.
    static void DrawImage(HDC hDC, HBITMAP hBitmap, const RECT& rc, const RECT& rcPaint, const RECT& rcBmpPart,
                          const RECT& rcCorners, bool alpha, BYTE fade = 255, bool hole = false, bool xtiled = false,
                          bool ytiled = false);

    static void DrawColor(HDC hDC, const RECT& rc, DWORD color, int rx = 0, int ry = 0);
    static void DrawGradient(HDC hDC, const RECT& rc, DWORD first, DWORD second, bool vertical, int steps);
    static void DrawLine(HDC hDC, const RECT& rc, int size, DWORD color, int style = PS_SOLID);
    static void DrawRect(HDC hDC, const RECT& rc, int size, DWORD color, int style = PS_SOLID);
    static void DrawRoundRect(HDC hDC, const RECT& rc, int size, int width, int height, DWORD color,
                              int style = PS_SOLID);

    // Text through GDI, GDI+ or outline paths chosen from the host's options.
    // With DT_CALCRECT only `rc` is updated.
    static void RenderText(HDC hDC, IRenderHost* host, RECT& rc, const wchar_t* text, int length, DWORD color,
                           int font, UINT style, CControlUI* control = nullptr, bool exactMeasure = false);

    static void GenerateClip(HDC hDC, const RECT& rc, CRenderClip& clip);
    static void GenerateRoundClip(HDC hDC, const RECT& rc, const RECT& rcItem, int width, int height,
                                  CRenderClip& clip);

    // Blending without msimg32 (used automatically when it is missing; tests
    // switch it on to compare both).
    static void SetSoftwareBlending(bool on);
    static bool IsSoftwareBlending();
};

}  // namespace SkinUI
