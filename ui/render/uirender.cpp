#include "ui/render/uirender.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <memory>
#include <vector>

namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "nqpublic/nqbase/log/nqbaselog.h"
#include "ui/core/uivalue.h"

namespace SkinUI {
namespace {

// ---------------------------------------------------------------------------
// msimg32 entry points, looked up once.

using AlphaBlendFn = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int, BLENDFUNCTION);
using GradientFillFn = BOOL(WINAPI*)(HDC, PTRIVERTEX, ULONG, PVOID, ULONG, ULONG);

struct Msimg32 {
    AlphaBlendFn alphaBlend = nullptr;
    GradientFillFn gradientFill = nullptr;
};

const Msimg32& Msimg() {
    static const Msimg32 entries = [] {
        Msimg32 m;
        // Kept loaded for the life of the process.
        if (HMODULE h = ::LoadLibraryW(L"msimg32.dll")) {
            m.alphaBlend = reinterpret_cast<AlphaBlendFn>(::GetProcAddress(h, "AlphaBlend"));
            m.gradientFill = reinterpret_cast<GradientFillFn>(::GetProcAddress(h, "GradientFill"));
        }
        return m;
    }();
    return entries;
}

std::atomic<bool> g_softwareBlending{false};

inline int Width(const RECT& r) { return r.right - r.left; }
inline int Height(const RECT& r) { return r.bottom - r.top; }
inline bool IsEmptyRect(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }
inline bool Touches(const RECT& a, const RECT& b) {
    RECT t;
    return ::IntersectRect(&t, &a, &b) != FALSE;
}
inline COLORREF ToColorRef(DWORD argb) {
    return RGB((argb >> 16) & 0xff, (argb >> 8) & 0xff, argb & 0xff);
}

// A 32-bit top-down DIB section with its own memory DC.
struct DibSurface {
    nq::unique_hdc dc;
    nq::unique_hbitmap bitmap;
    BYTE* bits = nullptr;
    HGDIOBJ old = nullptr;
    int width = 0, height = 0;

    bool Create(HDC compatible, int w, int h) {
        BYTE* p = nullptr;
        bitmap = CreateDib32(compatible, w, h, &p);
        if (!bitmap) return false;
        dc.reset(::CreateCompatibleDC(compatible));
        if (!dc) return false;
        old = ::SelectObject(dc.get(), bitmap.get());
        bits = p;
        width = w;
        height = h;
        return true;
    }
    ~DibSurface() {
        if (dc && old) ::SelectObject(dc.get(), old);
    }
};

// Source-over blend of premultiplied pixels, the arithmetic of AlphaBlend:
// with per-pixel alpha, dst = src * ca / 255 + dst * (255 - srcAlpha * ca / 255) / 255.
bool SoftwareAlphaBlend(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, int sw, int sh,
                        BLENDFUNCTION bf) {
    if (w <= 0 || h <= 0 || sw <= 0 || sh <= 0) return false;
    DibSurface under, over;
    if (!under.Create(dst, w, h) || !over.Create(dst, w, h)) return false;
    ::BitBlt(under.dc.get(), 0, 0, w, h, dst, x, y, SRCCOPY);
    ::SetStretchBltMode(over.dc.get(), COLORONCOLOR);
    ::StretchBlt(over.dc.get(), 0, 0, w, h, src, sx, sy, sw, sh, SRCCOPY);
    ::GdiFlush();
    const unsigned ca = bf.SourceConstantAlpha;
    const bool perPixel = (bf.AlphaFormat & AC_SRC_ALPHA) != 0;
    const size_t count = static_cast<size_t>(w) * h;
    for (size_t i = 0; i < count; ++i) {
        BYTE* d = under.bits + i * 4;
        const BYTE* s = over.bits + i * 4;
        const unsigned sa = perPixel ? s[3] * ca / 255 : ca;
        for (int c = 0; c < 4; ++c) {
            const unsigned sc = s[c] * ca / 255;
            const unsigned v = sc + d[c] * (255 - sa) / 255;
            d[c] = static_cast<BYTE>(v > 255 ? 255 : v);
        }
    }
    return ::BitBlt(dst, x, y, w, h, under.dc.get(), 0, 0, SRCCOPY) != FALSE;
}

void Blend(HDC dst, const RECT& d, HDC src, const RECT& s, BYTE fade) {
    BLENDFUNCTION bf = {AC_SRC_OVER, 0, fade, AC_SRC_ALPHA};
    const AlphaBlendFn alphaBlend = Msimg().alphaBlend;
    if (alphaBlend && !g_softwareBlending.load())
        alphaBlend(dst, d.left, d.top, Width(d), Height(d), src, s.left, s.top, Width(s), Height(s), bf);
    else
        SoftwareAlphaBlend(dst, d.left, d.top, Width(d), Height(d), src, s.left, s.top, Width(s), Height(s), bf);
}

// Two-colour linear ramp without msimg32.
void SoftwareGradient(HDC hDC, const RECT& rc, DWORD first, DWORD second, bool vertical) {
    DibSurface ramp;
    const int w = Width(rc), h = Height(rc);
    if (!ramp.Create(hDC, w, h)) return;
    const int span = vertical ? h : w;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int pos = vertical ? y : x;
            BYTE* p = ramp.bits + (static_cast<size_t>(y) * w + x) * 4;
            for (int c = 0; c < 3; ++c) {
                const int a = (first >> (8 * c)) & 0xff, b = (second >> (8 * c)) & 0xff;
                p[c] = static_cast<BYTE>(span > 1 ? a + (b - a) * pos / (span - 1) : a);
            }
            p[3] = 255;
        }
    }
    ::BitBlt(hDC, rc.left, rc.top, w, h, ramp.dc.get(), 0, 0, SRCCOPY);
}

void FillGradient(HDC hDC, const RECT& rc, DWORD first, DWORD second, bool vertical) {
    const GradientFillFn gradientFill = Msimg().gradientFill;
    if (!gradientFill || g_softwareBlending.load()) {
        SoftwareGradient(hDC, rc, first, second, vertical);
        return;
    }
    // Opaque corner colours, 8 bits each widened to the 16 of TRIVERTEX.
    auto vertex = [](LONG x, LONG y, DWORD argb) {
        return TRIVERTEX{x, y, static_cast<COLOR16>(((argb >> 16) & 0xff) << 8),
                         static_cast<COLOR16>(((argb >> 8) & 0xff) << 8), static_cast<COLOR16>((argb & 0xff) << 8),
                         0xff00};
    };
    TRIVERTEX v[2] = {vertex(rc.left, rc.top, first), vertex(rc.right, rc.bottom, second)};
    GRADIENT_RECT r = {0, 1};
    gradientFill(hDC, v, 2, &r, 1, vertical ? GRADIENT_FILL_RECT_V : GRADIENT_FILL_RECT_H);
}

Gdiplus::Color ToGdiplusColor(DWORD argb) { return Gdiplus::Color(static_cast<Gdiplus::ARGB>(argb)); }

}  // namespace

// ---------------------------------------------------------------------------
// CRenderHost

CRenderHost::CRenderHost() = default;
CRenderHost::~CRenderHost() = default;

const ImageDrawInfo* CRenderHost::GetDrawInfo(const std::wstring& image, const std::wstring& modify) {
    return &drawInfos_.Get(image, modify, &dpi_);
}

const ImageInfo* CRenderHost::GetImageEx(const std::wstring& name, const std::wstring& resType, DWORD mask,
                                         bool useHSL, HINSTANCE instance) {
    if (const ImageInfo* own = images_.Find(name)) return own;
    if (const ImageInfo* shared = SharedImageCache().Find(name)) return shared;
    return AddImage(name, resType, mask, useHSL, false, instance);
}

const ImageInfo* CRenderHost::AddImage(const std::wstring& name, const std::wstring& resType, DWORD mask,
                                       bool useHSL, bool shared, HINSTANCE instance) {
    if (name.empty()) return nullptr;
    std::unique_ptr<ImageInfo> image = LoadSkinImage(name, resType, mask, instance ? instance : instance_);
    if (!image) return nullptr;  // nothing negative is cached
    image->useHSL = useHSL;
    image->resType = resType;
    image->mask = mask;
    if (useHSL) {
        const size_t bytes = static_cast<size_t>(image->width) * image->height * 4;
        image->srcBits.reset(new (std::nothrow) BYTE[bytes]);
        if (image->srcBits) std::memcpy(image->srcBits.get(), image->bits, bytes);
    }
    CImageCache& target = (shared || allShared_) ? SharedImageCache() : images_;
    return target.Add(name, std::move(image));
}

const ImageInfo* CRenderHost::GetImage(const std::wstring& name) const {
    if (const ImageInfo* own = images_.Find(name)) return own;
    return SharedImageCache().Find(name);
}

void CRenderHost::RemoveImage(const std::wstring& name, bool shared) {
    if (shared)
        SharedImageCache().Remove(name);
    else
        images_.Remove(name);
}

void CRenderHost::SetDpi(int dpi) {
    dpi_.SetDpi(dpi);
    drawInfos_.Clear();
    images_.Clear();
}

void CRenderHost::ResetImages() {
    drawInfos_.Clear();
    images_.Clear();
}

HFONT CRenderHost::GetFont(int id) {
    const auto it = fonts_.find(id);
    if (it != fonts_.end() && it->second) return it->second;
    return static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
}

// ---------------------------------------------------------------------------
// CRenderClip

CRenderClip::~CRenderClip() {
    if (!hDC_) return;
    // Back to the region that was there before (or to none).
    ::SelectClipRgn(hDC_, hadRegion_ ? oldRgn_.get() : nullptr);
}

void RenderEngine::GenerateClip(HDC hDC, const RECT& rc, CRenderClip& clip) {
    RECT box = {};
    ::GetClipBox(hDC, &box);
    clip.oldRgn_.reset(::CreateRectRgnIndirect(&box));
    clip.hadRegion_ = clip.oldRgn_ && ::GetClipRgn(hDC, static_cast<HRGN>(clip.oldRgn_.get())) == 1;
    if (!clip.hadRegion_ && clip.oldRgn_) ::SetRectRgn(clip.oldRgn_.get(), box.left, box.top, box.right, box.bottom);
    clip.rgn_.reset(::CreateRectRgnIndirect(&rc));
    if (clip.rgn_ && clip.oldRgn_) ::CombineRgn(clip.rgn_.get(), clip.rgn_.get(), clip.oldRgn_.get(), RGN_AND);
    clip.hDC_ = hDC;
    clip.rcItem_ = rc;
    ::SelectClipRgn(hDC, clip.rgn_.get());
}

void RenderEngine::GenerateRoundClip(HDC hDC, const RECT& rc, const RECT& rcItem, int width, int height,
                                     CRenderClip& clip) {
    GenerateClip(hDC, rc, clip);
    nq::unique_hrgn round(::CreateRoundRectRgn(rcItem.left, rcItem.top, rcItem.right + 1, rcItem.bottom + 1, width, height));
    if (round && clip.rgn_) {
        ::CombineRgn(clip.rgn_.get(), clip.rgn_.get(), round.get(), RGN_AND);
        ::SelectClipRgn(hDC, clip.rgn_.get());
    }
}

void RenderEngine::SetSoftwareBlending(bool on) { g_softwareBlending.store(on); }
bool RenderEngine::IsSoftwareBlending() { return g_softwareBlending.load() || !Msimg().alphaBlend; }

// ---------------------------------------------------------------------------
// Images

std::unique_ptr<ImageInfo> RenderEngine::LoadSkinImage(const std::wstring& name, const std::wstring& resType,
                                                       DWORD mask, HINSTANCE instance) {
    return SkinUI::LoadSkinImage(name, resType, mask, instance);
}

RECT RenderEngine::ImageDestination(const RECT& rcItem, const RECT& dest) {
    if (dest.left == 0 && dest.top == 0 && dest.right == 0 && dest.bottom == 0) return rcItem;
    RECT d;
    d.left = rcItem.left + dest.left;
    d.top = rcItem.top + dest.top;
    d.right = std::min<LONG>(rcItem.right, rcItem.left + dest.right);
    d.bottom = std::min<LONG>(rcItem.bottom, rcItem.top + dest.bottom);
    if (d.right < rcItem.left) {  // negative right: counted from the right edge
        d.left = rcItem.right + dest.left;
        d.right = rcItem.right + dest.right;
    }
    if (d.bottom < rcItem.top) {
        d.top = rcItem.bottom + dest.top;
        d.bottom = rcItem.bottom + dest.bottom;
    }
    return d;
}

bool RenderEngine::DrawImageString(HDC hDC, IRenderHost* host, const RECT& rcItem, const RECT& rcPaint,
                                   const std::wstring& image, const std::wstring& modify, HINSTANCE instance) {
    if (!hDC || !host || image.empty()) return false;
    return DrawImageInfo(hDC, host, rcItem, rcPaint, host->GetDrawInfo(image, modify), instance);
}

bool RenderEngine::DrawImageInfo(HDC hDC, IRenderHost* host, const RECT& rcItem, const RECT& rcPaint,
                                 const ImageDrawInfo* info, HINSTANCE instance) {
    if (!hDC || !host || !info) return false;
    // 1. The image.
    if (info->imageName.empty()) return false;
    const ImageInfo* image = host->GetImageEx(info->imageName, info->resType, info->mask, false, instance);
    if (!image || !image->hBitmap()) return false;
    const RECT dest = ImageDestination(rcItem, info->dest);
    // 2. The source part, clipped to the image.
    RECT source = info->source;
    if (source.left == 0 && source.top == 0 && source.right == 0 && source.bottom == 0)
        source = RECT{0, 0, image->width, image->height};
    source.right = std::min<LONG>(source.right, image->width);
    source.bottom = std::min<LONG>(source.bottom, image->height);
    // 3. Nothing to do outside the control or the paint rectangle.
    if (!Touches(dest, rcItem) || !Touches(dest, rcPaint)) return true;
    // 4. Blit.
    const bool alpha = host->IsLayered() ? true : image->alpha;
    DrawImage(hDC, image->hBitmap(), dest, rcPaint, source, info->corner, alpha, info->fade, info->hole, info->xtiled,
              info->ytiled);
    return true;
}

void RenderEngine::DrawImage(HDC hDC, HBITMAP hBitmap, const RECT& rc, const RECT& rcPaint, const RECT& rcBmpPart,
                             const RECT& rcCorners, bool alpha, BYTE fade, bool hole, bool xtiled, bool ytiled) {
    if (!hDC || !hBitmap || IsEmptyRect(rc) || IsEmptyRect(rcBmpPart)) return;
    // 1. The bitmap in a memory DC.
    nq::unique_hdc memDC(::CreateCompatibleDC(hDC));
    if (!memDC) return;
    nq::scoped_select selected(memDC.get(), hBitmap);
    ::SetStretchBltMode(hDC, COLORONCOLOR);

    // 2. Blended or copied.
    const bool blend = alpha || fade < 255;
    auto part = [&](const RECT& d, const RECT& s) {
        if (IsEmptyRect(d) || IsEmptyRect(s) || !Touches(d, rcPaint)) return;
        if (blend)
            Blend(hDC, d, memDC.get(), s, fade);
        else
            ::StretchBlt(hDC, d.left, d.top, Width(d), Height(d), memDC.get(), s.left, s.top, Width(s), Height(s),
                         SRCCOPY);
    };
    const RECT& c = rcCorners;
    const bool noCorners = c.left == 0 && c.top == 0 && c.right == 0 && c.bottom == 0;
    if (!blend && !hole && noCorners && Width(rc) == Width(rcBmpPart) && Height(rc) == Height(rcBmpPart)) {
        RECT t;
        if (::IntersectRect(&t, &rc, &rcPaint))
            ::BitBlt(hDC, t.left, t.top, Width(t), Height(t), memDC.get(), rcBmpPart.left + t.left - rc.left,
                     rcBmpPart.top + t.top - rc.top, SRCCOPY);
        return;
    }

    // 3. The middle, unless it is a hole.
    const RECT dm = {rc.left + c.left, rc.top + c.top, rc.right - c.right, rc.bottom - c.bottom};
    const RECT sm = {rcBmpPart.left + c.left, rcBmpPart.top + c.top, rcBmpPart.right - c.right,
                     rcBmpPart.bottom - c.bottom};
    if (!hole && !IsEmptyRect(dm) && !IsEmptyRect(sm) && Touches(dm, rcPaint)) {
        if (!xtiled && !ytiled) {
            part(dm, sm);
        } else {
            // 4. Tiling: tiles of the source middle's size in each tiled
            //    direction (stretched over the whole middle in the other); the
            //    last tile is cut, and so is its source.
            const int stepX = xtiled ? Width(sm) : Width(dm);
            const int stepY = ytiled ? Height(sm) : Height(dm);
            // The first tile that reaches the paint rectangle (a middle that
            // starts far outside it, as in a scrolled list, is not walked tile by tile).
            auto firstTile = [](LONG start, LONG paintStart, int step) {
                return paintStart > start ? static_cast<int>(start + (paintStart - start) / step * step)
                                          : static_cast<int>(start);
            };
            for (int y = firstTile(dm.top, rcPaint.top, stepY); y < dm.bottom; y += stepY) {
                const int h = std::min(stepY, static_cast<int>(dm.bottom) - y);
                if (y + h <= rcPaint.top) continue;
                if (y >= rcPaint.bottom) break;
                const int srcH = ytiled ? h : Height(sm);
                for (int x = firstTile(dm.left, rcPaint.left, stepX); x < dm.right; x += stepX) {
                    const int w = std::min(stepX, static_cast<int>(dm.right) - x);
                    if (x + w <= rcPaint.left) continue;
                    if (x >= rcPaint.right) break;
                    const int srcW = xtiled ? w : Width(sm);
                    part(RECT{x, y, x + w, y + h}, RECT{sm.left, sm.top, sm.left + srcW, sm.top + srcH});
                }
            }
        }
    }

    // Corners (both widths set), then edges (their width set).
    const RECT& s = rcBmpPart;
    if (c.left > 0 && c.top > 0)
        part(RECT{rc.left, rc.top, rc.left + c.left, rc.top + c.top}, RECT{s.left, s.top, s.left + c.left, s.top + c.top});
    if (c.right > 0 && c.top > 0)
        part(RECT{rc.right - c.right, rc.top, rc.right, rc.top + c.top},
             RECT{s.right - c.right, s.top, s.right, s.top + c.top});
    if (c.left > 0 && c.bottom > 0)
        part(RECT{rc.left, rc.bottom - c.bottom, rc.left + c.left, rc.bottom},
             RECT{s.left, s.bottom - c.bottom, s.left + c.left, s.bottom});
    if (c.right > 0 && c.bottom > 0)
        part(RECT{rc.right - c.right, rc.bottom - c.bottom, rc.right, rc.bottom},
             RECT{s.right - c.right, s.bottom - c.bottom, s.right, s.bottom});
    if (c.left > 0)
        part(RECT{rc.left, rc.top + c.top, rc.left + c.left, rc.bottom - c.bottom},
             RECT{s.left, s.top + c.top, s.left + c.left, s.bottom - c.bottom});
    if (c.top > 0)
        part(RECT{rc.left + c.left, rc.top, rc.right - c.right, rc.top + c.top},
             RECT{s.left + c.left, s.top, s.right - c.right, s.top + c.top});
    if (c.right > 0)
        part(RECT{rc.right - c.right, rc.top + c.top, rc.right, rc.bottom - c.bottom},
             RECT{s.right - c.right, s.top + c.top, s.right, s.bottom - c.bottom});
    if (c.bottom > 0)
        part(RECT{rc.left + c.left, rc.bottom - c.bottom, rc.right - c.right, rc.bottom},
             RECT{s.left + c.left, s.bottom - c.bottom, s.right - c.right, s.bottom});
    // 5. The memory DC is restored and freed by its guards.
}

// ---------------------------------------------------------------------------
// Fills, lines, rectangles

void RenderEngine::DrawColor(HDC hDC, const RECT& rc, DWORD color, int rx, int ry) {
    if (!hDC || color < 0x01000000 || IsEmptyRect(rc)) return;
    Gdiplus::Graphics g(hDC);
    Gdiplus::SolidBrush brush(ToGdiplusColor(color));
    if (rx == 0 && ry == 0) {
        g.FillRectangle(&brush, static_cast<INT>(rc.left), static_cast<INT>(rc.top), Width(rc), Height(rc));
        return;
    }
    // Right and bottom edges one pixel inside.
    const int x = rc.left, y = rc.top, w = Width(rc) - 1, h = Height(rc) - 1;
    Gdiplus::GraphicsPath path;
    if (2 * rx < w || 2 * ry < h) {
        const int dx = 2 * rx, dy = 2 * ry;
        path.AddLine(x + rx, y, x + w - rx, y);
        path.AddArc(x + w - dx, y, dx, dy, 270, 90);
        path.AddLine(x + w, y + ry, x + w, y + h - ry);
        path.AddArc(x + w - dx, y + h - dy, dx, dy, 0, 90);
        path.AddLine(x + w - rx, y + h, x + rx, y + h);
        path.AddArc(x, y + h - dy, dx, dy, 90, 90);
        path.AddLine(x, y + h - ry, x, y + ry);
        path.AddArc(x, y, dx, dy, 180, 90);
        path.CloseFigure();
    } else {
        path.AddEllipse(x, y, w, h);
    }
    g.SetSmoothingMode(Gdiplus::SmoothingModeHighQuality);
    Gdiplus::Pen pen(ToGdiplusColor(color), 1.0f);
    g.DrawPath(&pen, &path);
    g.FillPath(&brush, &path);
}

void RenderEngine::DrawGradient(HDC hDC, const RECT& rc, DWORD first, DWORD second, bool vertical, int steps) {
    (void)steps;  // the ramp is continuous; steps only matter to banded replacements
    if (!hDC || IsEmptyRect(rc)) return;
    // 1. The averaged alpha; 0 draws nothing.
    const BYTE alpha = static_cast<BYTE>(((first >> 24) + (second >> 24)) / 2);
    if (alpha == 0) return;
    if (alpha == 255) {
        FillGradient(hDC, rc, first, second, vertical);
        return;
    }
    // 2-4. Below 255 the ramp is painted apart (opaque) and blended with the averaged alpha.
    DibSurface ramp;
    if (!ramp.Create(hDC, Width(rc), Height(rc))) return;
    const RECT local = {0, 0, Width(rc), Height(rc)};
    FillGradient(ramp.dc.get(), local, first, second, vertical);
    ::GdiFlush();
    const size_t count = static_cast<size_t>(ramp.width) * ramp.height;
    for (size_t i = 0; i < count; ++i) ramp.bits[i * 4 + 3] = 255;
    Blend(hDC, rc, ramp.dc.get(), local, alpha);
}

void RenderEngine::DrawLine(HDC hDC, const RECT& rc, int size, DWORD color, int style) {
    if (!hDC) return;
    LOGPEN lp = {};
    lp.lopnStyle = static_cast<UINT>(style);
    lp.lopnWidth.x = size;
    lp.lopnColor = ToColorRef(color);
    nq::unique_hpen pen(::CreatePenIndirect(&lp));
    if (!pen) return;
    nq::scoped_select selected(hDC, pen.get());
    POINT old;
    ::MoveToEx(hDC, rc.left, rc.top, &old);
    ::LineTo(hDC, rc.right, rc.bottom);
    ::MoveToEx(hDC, old.x, old.y, nullptr);
}

void RenderEngine::DrawRect(HDC hDC, const RECT& rc, int size, DWORD color, int style) {
    (void)style;
    if (!hDC) return;
    nq::unique_hpen pen(::CreatePen(PS_SOLID | PS_INSIDEFRAME, size, ToColorRef(color)));
    if (!pen) return;
    nq::scoped_select selectedPen(hDC, pen.get());
    nq::scoped_select selectedBrush(hDC, ::GetStockObject(NULL_BRUSH));
    ::Rectangle(hDC, rc.left, rc.top, rc.right, rc.bottom);
}

void RenderEngine::DrawRoundRect(HDC hDC, const RECT& rc, int size, int width, int height, DWORD color, int style) {
    if (!hDC) return;
    nq::unique_hpen pen(::CreatePen(style, size, ToColorRef(color)));
    if (!pen) return;
    nq::scoped_select selectedPen(hDC, pen.get());
    nq::scoped_select selectedBrush(hDC, ::GetStockObject(NULL_BRUSH));
    ::RoundRect(hDC, rc.left, rc.top, rc.right, rc.bottom, width, height);
}

// ---------------------------------------------------------------------------
// Text

namespace {

void GdiText(HDC hDC, IRenderHost* host, RECT& rc, const wchar_t* text, int length, DWORD color, int font, UINT style) {
    ::SetBkMode(hDC, TRANSPARENT);
    ::SetTextColor(hDC, ToColorRef(color));
    nq::scoped_select selected(hDC, host->GetFont(font));
    style &= ~DT_MIDDLE_ELLIPSIS_UI;
    const std::wstring s(text, static_cast<size_t>(length));
    const size_t entity = s.find(L"&#x");
    if (entity != std::wstring::npos) {
        // One character given by its code: at most four characters, without a
        // trailing space and then a trailing ';'.
        std::wstring code = s.substr(entity + 3, 4);
        if (!code.empty() && code.back() == L' ') code.pop_back();
        if (!code.empty() && code.back() == L';') code.pop_back();
        const wchar_t ch = static_cast<wchar_t>(ParseColor(code.c_str()));
        ::DrawTextW(hDC, &ch, 1, &rc, style);
        return;
    }
    ::DrawTextW(hDC, s.c_str(), length, &rc, style);
}

struct GdiplusTextSetup {
    Gdiplus::Graphics graphics;
    nq::scoped_select selected;
    std::unique_ptr<Gdiplus::Font> ownFont;
    Gdiplus::Font* font = nullptr;
    std::unique_ptr<Gdiplus::StringFormat> format;

    GdiplusTextSetup(HDC hDC, IRenderHost* host, int fontId, UINT style)
        : graphics(hDC), selected(hDC, host->GetFont(fontId)) {
        font = host->GetGdiplusFont(fontId);
        if (!font) {
            ownFont.reset(new Gdiplus::Font(hDC, host->GetFont(fontId)));
            font = ownFont.get();
        }
        const int hint = host->GetGdiplusTextRenderingHint();
        graphics.SetTextRenderingHint(
            static_cast<Gdiplus::TextRenderingHint>(hint >= 1 && hint <= 5 ? hint : 0));
        graphics.SetSmoothingMode(Gdiplus::SmoothingModeHighQuality);
        graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
        format.reset(Gdiplus::StringFormat::GenericTypographic()->Clone());
        if (style & DT_END_ELLIPSIS) format->SetTrimming(Gdiplus::StringTrimmingEllipsisCharacter);
        INT flags = 0;
        if (style & DT_NOCLIP) flags |= Gdiplus::StringFormatFlagsNoClip;
        if (style & DT_SINGLELINE)
            flags |= Gdiplus::StringFormatFlagsNoWrap | Gdiplus::StringFormatFlagsMeasureTrailingSpaces;
        else
            flags |= Gdiplus::StringFormatFlagsMeasureTrailingSpaces;
        format->SetFormatFlags(flags);
        if (style & DT_CENTER)
            format->SetAlignment(Gdiplus::StringAlignmentCenter);
        else if (style & DT_RIGHT)
            format->SetAlignment(Gdiplus::StringAlignmentFar);
        else
            format->SetAlignment(Gdiplus::StringAlignmentNear);
        if (style & DT_VCENTER)
            format->SetLineAlignment(Gdiplus::StringAlignmentCenter);
        else if (style & DT_BOTTOM)
            format->SetLineAlignment(Gdiplus::StringAlignmentFar);
        else
            format->SetLineAlignment(Gdiplus::StringAlignmentNear);
    }

    Gdiplus::RectF Measure(const std::wstring& s, const Gdiplus::RectF& layout) {
        Gdiplus::RectF bound;
        graphics.MeasureString(s.c_str(), static_cast<INT>(s.size()), font, layout, format.get(), &bound);
        return bound;
    }
};

void GdiplusText(HDC hDC, IRenderHost* host, RECT& rc, const wchar_t* text, int length, DWORD color, int font,
                 UINT style, bool exact) {
    GdiplusTextSetup t(hDC, host, font, style);
    if (!t.font || !t.format) return;
    const Gdiplus::RectF layout(static_cast<Gdiplus::REAL>(rc.left), static_cast<Gdiplus::REAL>(rc.top),
                                static_cast<Gdiplus::REAL>(Width(rc)), static_cast<Gdiplus::REAL>(Height(rc)));
    std::wstring shown(text, static_cast<size_t>(length));
    if (style & DT_CALCRECT) {
        const Gdiplus::RectF bound = t.Measure(shown, layout);
        if (exact) {
            rc.bottom = rc.top + static_cast<LONG>(std::lround(bound.Height));
            rc.right = rc.left + static_cast<LONG>(std::lround(bound.Width));
        } else {
            rc.bottom = rc.top + static_cast<LONG>(bound.Height + 0.5f) + 1;
            rc.right = rc.left + static_cast<LONG>(bound.Width + 0.5f) + 1;
        }
        return;
    }
    if (style & DT_MIDDLE_ELLIPSIS_UI) {
        // Natural widths, measured without a width limit.
        const Gdiplus::RectF open(layout.X, layout.Y, 0.0f, 0.0f);
        auto width = [&](const std::wstring& s) { return static_cast<int>(t.Measure(s, open).Width + 0.5f) + 1; };
        const int available = Width(rc);
        if (available < width(shown)) {
            const std::wstring whole = shown;
            const int n = static_cast<int>(whole.size());
            int k = n / 2, j = k + 1;
            while (j < n) {
                --k;
                if (k < 0) break;
                std::wstring candidate = whole.substr(0, k) + L"..." + whole.substr(j + 1);
                if (available >= width(candidate)) {
                    shown = std::move(candidate);
                    break;
                }
                ++j;
            }
        }
    }
    Gdiplus::SolidBrush brush(ToGdiplusColor(color));
    t.graphics.DrawString(shown.c_str(), static_cast<INT>(shown.size()), t.font, layout, t.format.get(), &brush);
    if (host->IsTextRenderDouble())
        t.graphics.DrawString(shown.c_str(), static_cast<INT>(shown.size()), t.font, layout, t.format.get(), &brush);
}

// Outline strategy: the glyph outlines as a path, filled and traced in the colour.
void OutlineText(HDC hDC, IRenderHost* host, RECT& rc, const wchar_t* text, int length, DWORD color, int font,
                 UINT style) {
    GdiplusTextSetup t(hDC, host, font, style);
    if (!t.font || !t.format) return;
    Gdiplus::FontFamily family;
    if (t.font->GetFamily(&family) != Gdiplus::Ok) return;
    const INT fontStyle = t.font->GetStyle();
    const UINT16 em = family.GetEmHeight(fontStyle);
    const UINT16 spacing = family.GetLineSpacing(fontStyle);
    if (!em || !spacing) return;
    const Gdiplus::REAL emSize = t.font->GetHeight(&t.graphics) * em / spacing;
    const Gdiplus::RectF layout(static_cast<Gdiplus::REAL>(rc.left), static_cast<Gdiplus::REAL>(rc.top),
                                static_cast<Gdiplus::REAL>(Width(rc)), static_cast<Gdiplus::REAL>(Height(rc)));
    Gdiplus::GraphicsPath path;
    path.AddString(text, length, &family, fontStyle, emSize, layout, t.format.get());
    Gdiplus::SolidBrush brush(ToGdiplusColor(color));
    Gdiplus::Pen pen(ToGdiplusColor(color), 1.0f);
    t.graphics.FillPath(&brush, &path);
    t.graphics.DrawPath(&pen, &path);
}

}  // namespace

void RenderEngine::RenderText(HDC hDC, IRenderHost* host, RECT& rc, const wchar_t* text, int length, DWORD color,
                              int font, UINT style, CControlUI* control, bool exactMeasure) {
    if (!hDC || !host) return;
    if (!text) text = L"";
    if (length < 0) length = static_cast<int>(std::wcslen(text));
    const bool calc = (style & DT_CALCRECT) != 0;
    if (length == 0 && !calc) return;
    // 1. Outline text.
    if (host->IsUseTextDesigner() && !calc) {
        OutlineText(hDC, host, rc, text, length, color, font, style);
        return;
    }
    // 2. GDI+ for layered windows and, with gdiplustext, for everything but
    //    measuring inside an edit box.
    const bool gdiplus = host->IsLayered() ||
                         (host->IsUseGdiplusText() && (!control || !host->IsEditControl(control) || !calc));
    if (gdiplus)
        GdiplusText(hDC, host, rc, text, length, color, font, style, exactMeasure);
    else
        GdiText(hDC, host, rc, text, length, color, font, style);  // 3. GDI
}

}  // namespace SkinUI
