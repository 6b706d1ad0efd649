#include "ui/window/uishadow.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

#include "nqpublic/nqbase/log/nqbaselog.h"
#include "nqpublic/nqbase/nqhandle.h"
#include "ui/manager/uimanager.h"
#include "ui/render/uirender.h"
#include "ui/core/uitext.h"

namespace SkinUI {

namespace {

constexpr wchar_t kShadowClass[] = L"QuillShadowWnd";

// Parent window -> its shadow and the procedure the filter replaced. An entry
// outlives its shadow object when the parent was subclassed again after us: it
// keeps passing messages to the former procedure until WM_NCDESTROY.
struct ParentEntry {
    CShadowUI* shadow;
    WNDPROC former;
};
std::map<HWND, ParentEntry>& ParentMap() {
    static std::map<HWND, ParentEntry> map;
    return map;
}

// Covered span [left, right] of each row of a window's shape (window coordinates).
struct RowSpan {
    int left = INT_MAX;
    int right = INT_MIN;
    bool Empty() const { return left > right; }
};

std::vector<RowSpan> ShapeRows(HWND parent, int width, int height) {
    std::vector<RowSpan> rows(static_cast<size_t>(std::max(height, 0)));
    nq::unique_hrgn region(::CreateRectRgn(0, 0, 0, 0));
    const int kind = region ? ::GetWindowRgn(parent, region.get()) : ERROR;
    if (kind == SIMPLEREGION || kind == COMPLEXREGION) {
        const DWORD bytes = ::GetRegionData(region.get(), 0, nullptr);
        std::vector<BYTE> buffer(bytes);
        if (bytes && ::GetRegionData(region.get(), bytes, reinterpret_cast<RGNDATA*>(buffer.data()))) {
            auto* data = reinterpret_cast<RGNDATA*>(buffer.data());
            const RECT* rects = reinterpret_cast<const RECT*>(data->Buffer);
            for (DWORD i = 0; i < data->rdh.nCount; ++i) {
                const RECT& r = rects[i];
                for (int y = std::max<LONG>(r.top, 0); y < std::min<LONG>(r.bottom, height); ++y) {
                    rows[y].left = std::min<int>(rows[y].left, std::max<LONG>(r.left, 0));
                    rows[y].right = std::max<int>(rows[y].right, std::min<LONG>(r.right, width) - 1);
                }
            }
            return rows;
        }
    }
    for (RowSpan& row : rows) row = {0, width - 1};  // no region: the whole rectangle
    return rows;
}

}  // namespace

struct CShadowUI::Impl {
    CPaintManagerUI* manager = nullptr;
    HWND hwnd = nullptr;
    HWND parent = nullptr;
    BYTE status = 0;
    bool imageMode = false;
    bool show = false;
    bool suspended = false;
    bool disabled = false;
    BYTE darkness = 150;
    BYTE sharpness = 5;
    signed char size = 0;
    signed char x = 0;
    signed char y = 0;
    SIZE lastParentSize = {};
    bool updatePending = false;
    COLORREF color = 0;
    std::wstring image;
    RECT corner = {};
    unsigned drawCount = 0;
};

CShadowUI::CShadowUI() : impl_(new Impl) {}

CShadowUI::~CShadowUI() {
    if (impl_->parent) {
        auto& map = ParentMap();
        auto it = map.find(impl_->parent);
        if (it != map.end()) {
            const auto current = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(impl_->parent, GWLP_WNDPROC));
            if (current == &CShadowUI::ParentProc) {
                ::SetWindowLongPtrW(impl_->parent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(it->second.former));
                map.erase(it);
            } else {
                it->second.shadow = nullptr;
            }
        }
    }
    if (impl_->hwnd && ::IsWindow(impl_->hwnd)) ::DestroyWindow(impl_->hwnd);
    delete impl_;
}

bool CShadowUI::Initialize(HINSTANCE instance) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kShadowClass;
    if (::RegisterClassExW(&wc) || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS) return true;
    TRACE_FAILURE("RegisterClassExW");
    return false;
}

void CShadowUI::Create(CPaintManagerUI* manager) {
    if (!manager || impl_->hwnd) return;
    HWND parent = manager->GetPaintWindow();
    if (!parent || !::IsWindow(parent) || ParentMap().count(parent)) return;
    impl_->manager = manager;
    const LONG_PTR parentStyle = ::GetWindowLongPtrW(parent, GWL_STYLE);
    impl_->hwnd = ::CreateWindowExW(WS_EX_LAYERED | WS_EX_TRANSPARENT, kShadowClass, nullptr,
                                    WS_POPUPWINDOW | (parentStyle & WS_DLGFRAME), CW_USEDEFAULT, 0, 0, 0, parent,
                                    nullptr, CPaintManagerUI::GetInstance(), nullptr);
    if (!impl_->hwnd) {
        TRACE_FAILURE("CreateWindowExW");
        return;
    }
    impl_->parent = parent;
    impl_->status = kEnabled;
    if (::IsWindowVisible(parent)) {
        impl_->status |= kParentVisible;
        if (!::IsIconic(parent) && !::IsZoomed(parent)) {
            impl_->status |= kVisible;
            ::ShowWindow(impl_->hwnd, SW_SHOWNOACTIVATE);
            Draw();
        }
    }
    const auto former = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(parent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CShadowUI::ParentProc)));
    ParentMap()[parent] = ParentEntry{this, former};
}

void CShadowUI::Update() {
    if (!impl_->hwnd || !(impl_->status & kVisible)) return;
    RECT rc = {};
    ::GetWindowRect(impl_->parent, &rc);
    const SIZE now = {rc.right - rc.left, rc.bottom - rc.top};
    if (now.cx != impl_->lastParentSize.cx || now.cy != impl_->lastParentSize.cy) Draw();
}

bool CShadowUI::IsCreated() const { return impl_->hwnd != nullptr; }
HWND CShadowUI::GetWindow() const { return impl_->hwnd; }
BYTE CShadowUI::GetStatus() const { return impl_->status; }
void CShadowUI::Suspend(bool suspend) { impl_->suspended = suspend; }
unsigned CShadowUI::DrawCount() const { return impl_->drawCount; }
void CShadowUI::ShowShadow(bool show) { impl_->show = show; }
bool CShadowUI::IsShowShadow() const { return impl_->show; }

void CShadowUI::DisableShadow(bool disable) {
    impl_->disabled = disable;
    if (!impl_->hwnd) return;
    if (disable) {
        impl_->status &= static_cast<BYTE>(~kEnabled);
        ShowWindowNow(false);
    } else {
        impl_->status |= kEnabled;
        if ((impl_->status & kParentVisible) && !::IsIconic(impl_->parent) && !::IsZoomed(impl_->parent)) {
            ShowWindowNow(true);
            Draw();
        }
    }
}

bool CShadowUI::IsDisableShadow() const { return impl_->disabled; }

// ---------------------------------------------------------------------------
// Settings

void CShadowUI::RedrawIfVisible() {
    if (impl_->hwnd && (impl_->status & kVisible)) Draw();
}

bool CShadowUI::SetSize(int size) {
    if (size < -35 || size > 35) return false;
    impl_->size = static_cast<signed char>(size);
    RedrawIfVisible();
    return true;
}
bool CShadowUI::SetSharpness(unsigned sharpness) {
    if (sharpness > 35) return false;
    impl_->sharpness = static_cast<BYTE>(sharpness);
    RedrawIfVisible();
    return true;
}
bool CShadowUI::SetDarkness(unsigned darkness) {
    if (darkness > 255) return false;
    impl_->darkness = static_cast<BYTE>(darkness);
    RedrawIfVisible();
    return true;
}
bool CShadowUI::SetPosition(int x, int y) {
    if (x < -35 || x > 35 || y < -35 || y > 35) return false;
    impl_->x = static_cast<signed char>(x);
    impl_->y = static_cast<signed char>(y);
    RedrawIfVisible();
    return true;
}
bool CShadowUI::SetColor(COLORREF color) {
    impl_->color = color & 0x00FFFFFF;
    RedrawIfVisible();
    return true;
}
bool CShadowUI::SetImage(const std::wstring& image) {
    impl_->image = image;
    impl_->imageMode = !image.empty();
    RedrawIfVisible();
    return true;
}
bool CShadowUI::SetShadowCorner(RECT corner) {
    if (corner.left < 0 || corner.top < 0 || corner.right < 0 || corner.bottom < 0) return false;
    impl_->corner = corner;
    RedrawIfVisible();
    return true;
}
int CShadowUI::GetSize() const { return impl_->size; }
unsigned CShadowUI::GetSharpness() const { return impl_->sharpness; }
unsigned CShadowUI::GetDarkness() const { return impl_->darkness; }
POINT CShadowUI::GetPosition() const { return POINT{impl_->x, impl_->y}; }
COLORREF CShadowUI::GetColor() const { return impl_->color; }
const std::wstring& CShadowUI::GetImage() const { return impl_->image; }
RECT CShadowUI::GetShadowCorner() const { return impl_->corner; }

// ---------------------------------------------------------------------------
// Drawing

BYTE CShadowUI::AlphaAt(double d, int size, unsigned sharpness, unsigned darkness) {
    const int radius = std::max(size, static_cast<int>(sharpness));
    const double core = std::max(size - static_cast<int>(sharpness), 0);
    if (d < core) return static_cast<BYTE>(darkness);
    if (d > radius) return 0;
    const double a = (1.0 - (d - core) / (sharpness + 1.0)) * darkness;
    return static_cast<BYTE>(std::lround(std::clamp(a, 0.0, 255.0)));
}

void CShadowUI::Reposition() {
    RECT rc = {};
    ::GetWindowRect(impl_->parent, &rc);
    const int dx = impl_->imageMode ? 0 : impl_->x;
    const int dy = impl_->imageMode ? 0 : impl_->y;
    ::SetWindowPos(impl_->hwnd, nullptr, rc.left + dx - impl_->size, rc.top + dy - impl_->size, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CShadowUI::ShowWindowNow(bool show) {
    if (show) {
        impl_->status |= kVisible;
        ::ShowWindow(impl_->hwnd, SW_SHOWNOACTIVATE);
    } else {
        impl_->status &= static_cast<BYTE>(~kVisible);
        ::ShowWindow(impl_->hwnd, SW_HIDE);
    }
}

void CShadowUI::Draw() {
    Impl& s = *impl_;
    if (!s.hwnd || (!s.imageMode && s.size == 0)) return;
    RECT rcParent = {};
    ::GetWindowRect(s.parent, &rcParent);
    const int pw = rcParent.right - rcParent.left;
    const int ph = rcParent.bottom - rcParent.top;
    s.lastParentSize = {pw, ph};
    const int width = pw + 2 * s.size;
    const int height = ph + 2 * s.size;
    if (pw <= 0 || ph <= 0 || width <= 0 || height <= 0) return;

    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;  // top-down
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    nq::unique_hdc memDC(::CreateCompatibleDC(nullptr));
    nq::unique_hbitmap bitmap(::CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!memDC || !bitmap || !bits) {
        TRACE_FAILURE("CreateDIBSection");
        return;
    }
    nq::scoped_select selected(memDC.get(), bitmap.get());
    auto* pixels = static_cast<DWORD*>(bits);
    std::fill(pixels, pixels + static_cast<size_t>(width) * height, 0u);

    if (s.imageMode) {
        // The image, stretched over the shadow with its corners kept.
        std::wstring description = s.image.find(L'=') == std::wstring::npos ? L"file='" + s.image + L"'" : s.image;
        description += L" corner='" + SkinUI::DecimalText(s.corner.left) + L"," + SkinUI::DecimalText(s.corner.top) + L"," +
                       SkinUI::DecimalText(s.corner.right) + L"," + SkinUI::DecimalText(s.corner.bottom) + L"'";
        const RECT rcAll = {0, 0, width, height};
        RenderEngine::DrawImageString(memDC.get(), s.manager, rcAll, rcAll, description);
    } else {
        // Alpha by distance from the window's outline, the colour premultiplied.
        const std::vector<RowSpan> rows = ShapeRows(s.parent, pw, ph);
        const int radius = std::max<int>(s.size, s.sharpness);
        const BYTE r = GetRValue(s.color), g = GetGValue(s.color), b = GetBValue(s.color);
        for (int cy = 0; cy < height; ++cy) {
            const int sy = cy - s.size;
            for (int cx = 0; cx < width; ++cx) {
                const int sx = cx - s.size;
                double best = radius + 1.0;
                for (int ry = std::max(sy - radius, 0); ry <= std::min(sy + radius, ph - 1) && best > 0; ++ry) {
                    const RowSpan& row = rows[ry];
                    if (row.Empty()) continue;
                    const int dx = sx < row.left ? row.left - sx : (sx > row.right ? sx - row.right : 0);
                    const int dy = ry - sy;
                    best = std::min(best, std::sqrt(static_cast<double>(dx) * dx + static_cast<double>(dy) * dy));
                }
                const BYTE a = AlphaAt(best, s.size, s.sharpness, s.darkness);
                if (!a) continue;
                pixels[static_cast<size_t>(cy) * width + cx] = (static_cast<DWORD>(a) << 24) |
                                                               (static_cast<DWORD>(r * a / 255) << 16) |
                                                               (static_cast<DWORD>(g * a / 255) << 8) |
                                                               static_cast<DWORD>(b * a / 255);
            }
        }
        // Nothing under the window itself (it may be partly transparent).
        const int ox = s.size - s.x;
        const int oy = s.size - s.y;
        for (int sy = 0; sy < ph; ++sy) {
            const int cy = sy + oy;
            if (cy < 0 || cy >= height || rows[sy].Empty()) continue;
            for (int sx = rows[sy].left; sx <= rows[sy].right; ++sx) {
                const int cx = sx + ox;
                if (cx >= 0 && cx < width) pixels[static_cast<size_t>(cy) * width + cx] = 0;
            }
        }
    }

    const int dx = s.imageMode ? 0 : s.x;
    const int dy = s.imageMode ? 0 : s.y;
    POINT dst = {rcParent.left + dx - s.size, rcParent.top + dy - s.size};
    SIZE sz = {width, height};
    POINT src = {0, 0};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    if (!::UpdateLayeredWindow(s.hwnd, nullptr, &dst, &sz, memDC.get(), &src, 0, &blend, ULW_ALPHA)) {
        TRACE_FAILURE("UpdateLayeredWindow");
        return;
    }
    ++s.drawCount;
}

// ---------------------------------------------------------------------------
// The parent's messages

LRESULT CALLBACK CShadowUI::ParentProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto& map = ParentMap();
    auto it = map.find(hwnd);
    if (it == map.end()) return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    const WNDPROC former = it->second.former;
    CShadowUI* self = it->second.shadow;
    if (msg == WM_NCDESTROY) {
        map.erase(it);
        if (self) self->impl_->parent = nullptr;
        return ::CallWindowProcW(former, hwnd, msg, wParam, lParam);
    }
    if (!self || self->impl_->suspended || !self->impl_->hwnd)
        return ::CallWindowProcW(former, hwnd, msg, wParam, lParam);

    Impl& s = *self->impl_;
    const bool enabled = (s.status & kEnabled) != 0;
    switch (msg) {
    case WM_DESTROY:
        ::DestroyWindow(s.hwnd);
        s.hwnd = nullptr;
        s.status = 0;
        break;
    case WM_MOVE:
        if (s.status & kVisible) self->Reposition();
        break;
    case WM_SIZE:
        if (!enabled) break;
        if (wParam == SIZE_MINIMIZED || wParam == SIZE_MAXIMIZED) {
            self->ShowWindowNow(false);
        } else if (s.status & kParentVisible) {
            const SIZE now = {LOWORD(lParam), HIWORD(lParam)};
            if (now.cx > s.lastParentSize.cx || now.cy > s.lastParentSize.cy) s.updatePending = true;
            else self->Draw();
            if (!(s.status & kVisible)) self->ShowWindowNow(true);
        }
        break;
    case WM_PAINT:
        if (s.updatePending) {
            s.updatePending = false;
            const LRESULT result = ::CallWindowProcW(former, hwnd, msg, wParam, lParam);
            auto again = ParentMap().find(hwnd);
            if (again != ParentMap().end() && again->second.shadow == self && s.hwnd) self->Draw();
            return result;
        }
        break;
    case WM_SHOWWINDOW:
        if (!enabled) break;
        if (wParam) {
            s.status |= kParentVisible;
            if (!::IsIconic(hwnd) && !::IsZoomed(hwnd)) {
                self->ShowWindowNow(true);
                self->Draw();
            }
        } else {
            s.status &= static_cast<BYTE>(~kParentVisible);
            self->ShowWindowNow(false);
        }
        break;
    case WM_ACTIVATEAPP:
    case WM_NCACTIVATE:
        ::SetWindowPos(s.hwnd, hwnd, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOREDRAW);
        break;
    case WM_WINDOWPOSCHANGED: {
        const auto* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
        if (!enabled) break;
        if (pos->flags & SWP_HIDEWINDOW) {
            s.status &= static_cast<BYTE>(~kParentVisible);
            self->ShowWindowNow(false);
        } else if ((pos->flags & SWP_SHOWWINDOW) && !::IsIconic(hwnd) && !::IsZoomed(hwnd)) {
            s.status |= kParentVisible;
            if (!(s.status & kVisible)) {
                self->ShowWindowNow(true);
                self->Draw();
            }
        }
        if (s.status & kVisible) self->Reposition();
        break;
    }
    case WM_EXITSIZEMOVE:
        if (s.status & kVisible) self->Draw();
        break;
    default:
        break;
    }
    return ::CallWindowProcW(former, hwnd, msg, wParam, lParam);
}

}  // namespace SkinUI
