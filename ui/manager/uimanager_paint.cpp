// The paint manager's painting: the layout pass, the off-screen bitmap, the
// layered-window output and the window-less road for memory DCs.
#include <algorithm>
#include <cstring>

#include "ui/control/uicontrol.h"
#include "ui/manager/uimanager.h"
#include "ui/manager/uimanager_state.h"
#include "ui/render/uiimage.h"
#include "ui/render/uirender.h"
#include "ui/window/uishadow.h"

namespace SkinUI {
namespace {

CControlUI* CALLBACK CollectUpdateNeeded(CControlUI* control, LPVOID data) {
    if (control->IsUpdateNeeded()) static_cast<std::vector<CControlUI*>*>(data)->push_back(control);
    return nullptr;
}

using UpdateLayeredWindowFn = BOOL(WINAPI*)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF, BLENDFUNCTION*, DWORD);

UpdateLayeredWindowFn UpdateLayered() {
    static const auto fn = reinterpret_cast<UpdateLayeredWindowFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "UpdateLayeredWindow")));
    return fn;
}

bool IsEmpty(const RECT& rc) { return rc.right <= rc.left || rc.bottom <= rc.top; }

}  // namespace

void CPaintManagerUI::Invalidate() {
    if (!hwnd_) return;
    if (IsLayered()) {
        RECT rc;
        ::GetClientRect(hwnd_, &rc);
        ::UnionRect(&layeredUpdate_, &layeredUpdate_, &rc);
    }
    ::InvalidateRect(hwnd_, nullptr, FALSE);
}

void CPaintManagerUI::Invalidate(const RECT& rc) {
    if (!hwnd_ || IsEmpty(rc)) return;
    if (IsLayered()) ::UnionRect(&layeredUpdate_, &layeredUpdate_, &rc);
    ::InvalidateRect(hwnd_, &rc, FALSE);
}

void CPaintManagerUI::DropOffscreen() {
    if (bmpOffscreen_) detail::CountGdi(-1);
    if (hdcOffscreen_) detail::CountGdi(-1);
    if (bmpBackground_) detail::CountGdi(-1);
    if (hdcBackground_) detail::CountGdi(-1);
    bmpOffscreen_.reset();
    hdcOffscreen_.reset();
    offscreenBits_ = nullptr;
    bmpBackground_.reset();
    hdcBackground_.reset();
    backgroundBits_ = nullptr;
}

bool CPaintManagerUI::EnsureOffscreen(const RECT& rcClient) {
    if (hdcOffscreen_ && bmpOffscreen_) return true;
    DropOffscreen();
    hdcOffscreen_.reset(::CreateCompatibleDC(hdcPaint_));
    if (!hdcOffscreen_) return false;
    detail::CountGdi(+1);
    bmpOffscreen_ = CreateDib32(hdcPaint_, rcClient.right - rcClient.left, rcClient.bottom - rcClient.top,
                                &offscreenBits_);
    if (!bmpOffscreen_) {
        DropOffscreen();
        return false;
    }
    detail::CountGdi(+1);
    return true;
}

// Lays the tree out over the client rectangle; true when the root itself was
// laid out (a full layout).
void CPaintManagerUI::LayoutPass(const RECT& rcClient) {
    if (!root_) return;
    if (root_->IsUpdateNeeded()) {
        DropOffscreen();
        RECT rc = rcClient;
        if (IsLayered()) {
            rc.left += layeredInset_.left;
            rc.top += layeredInset_.top;
            rc.right -= layeredInset_.right;
            rc.bottom -= layeredInset_.bottom;
        }
        root_->SetPos(rc, true);
        fullLayout_ = true;
    } else {
        std::vector<CControlUI*> pending;
        root_->FindControl(CollectUpdateNeeded, &pending, UIFIND_VISIBLE | UIFIND_ME_FIRST | UIFIND_UPDATETEST);
        for (CControlUI* control : pending) control->SetPos(control->GetPos(), true);
    }
}

void CPaintManagerUI::LayoutTo(const RECT& rc) {
    if (!root_) return;
    root_->SetUpdateNeeded(true);
    updateNeeded_ = true;
    PaintTo(nullptr, rc);
}

void CPaintManagerUI::PaintTo(HDC dc, const RECT& rc) {
    if (!root_) return;
    if (updateNeeded_) {
        updateNeeded_ = false;
        fullLayout_ = false;
        if (!IsEmpty(rc)) LayoutPass(rc);
        if (firstLayout_) {
            firstLayout_ = false;
            SendNotify(root_, L"windowinit");
        }
        if (fullLayout_) SendNotify(root_, L"windowsize", 0, 0, true);
    }
    if (!dc) return;
    painting_ = true;
    root_->Paint(dc, rc, nullptr);
    const auto postPaint = postPaint_;
    for (CControlUI* c : postPaint) c->DoPostPaint(dc, rc);
    painting_ = false;
}

void CPaintManagerUI::FinishLayered(const RECT& rcPaint, const RECT& rcClient) {
    const int width = rcClient.right - rcClient.left;
    const int height = rcClient.bottom - rcClient.top;
    BYTE* bits = offscreenBits_;
    if (!bits) return;
    const ImageInfo* mask = layeredImage_.empty() ? nullptr : GetImageEx(layeredImage_, L"", 0, false, nullptr);
    for (int y = std::max<int>(0, rcPaint.top); y < std::min<int>(height, rcPaint.bottom); ++y) {
        for (int x = std::max<int>(0, rcPaint.left); x < std::min<int>(width, rcPaint.right); ++x) {
            BYTE* px = bits + (static_cast<size_t>(y) * width + x) * 4;
            if (mask) {
                // The window's alpha comes from the layered image.
                BYTE a = 0;
                if (x < mask->width && y < mask->height && mask->bits)
                    a = mask->bits[(static_cast<size_t>(y) * mask->width + x) * 4 + 3];
                px[0] = static_cast<BYTE>(px[0] * a / 255);
                px[1] = static_cast<BYTE>(px[1] * a / 255);
                px[2] = static_cast<BYTE>(px[2] * a / 255);
                px[3] = a;
            } else if (px[3] == 0 && (px[0] | px[1] | px[2]) != 0) {
                // GDI drew it (GDI leaves alpha at 0): opaque.
                px[3] = 255;
            }
        }
    }
    UpdateLayeredWindowFn update = UpdateLayered();
    if (!update) return;
    RECT window;
    ::GetWindowRect(hwnd_, &window);
    POINT ptWindow = {window.left, window.top};
    SIZE size = {width, height};
    POINT ptSrc = {0, 0};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, layeredOpacity_, AC_SRC_ALPHA};
    update(hwnd_, hdcPaint_, &ptWindow, &size, hdcOffscreen_.get(), &ptSrc, 0, &blend, ULW_ALPHA);
}

void CPaintManagerUI::OnPaint() {
    PAINTSTRUCT ps = {};
    if (!root_) {
        // Nothing attached yet: opaque black.
        HDC dc = ::BeginPaint(hwnd_, &ps);
        if (dc) {
            nq::unique_hbrush black(::CreateSolidBrush(RGB(0, 0, 0)));
            ::FillRect(dc, &ps.rcPaint, black.get());
        }
        ::EndPaint(hwnd_, &ps);
        return;
    }

    // 1. What to paint.
    RECT rcClient = {};
    ::GetClientRect(hwnd_, &rcClient);
    RECT rcPaint = {};
    const bool layered = IsLayered();
    if (layered) {
        if (!::GetUpdateRect(hwnd_, &rcPaint, FALSE)) return;
    }
    HDC windowDC = ::BeginPaint(hwnd_, &ps);
    if (!layered) rcPaint = ps.rcPaint;
    if (IsEmpty(rcPaint) && !layered) {
        ::EndPaint(hwnd_, &ps);
        return;
    }

    // 2. Focus waiting for the layout.
    if (focusNeeded_) {
        focusNeeded_ = false;
        if (!updateNeeded_) SetNextTabControl();
    }
    painting_ = true;

    // 3. Layout.
    fullLayout_ = false;
    if (updateNeeded_) {
        updateNeeded_ = false;
        if (!IsEmpty(rcClient) && !::IsIconic(hwnd_)) LayoutPass(rcClient);
        if (firstLayout_) {
            firstLayout_ = false;
            SendNotify(root_, L"windowinit");
            if (layered && layeredChanged_) {
                Invalidate();
                painting_ = false;
                ::EndPaint(hwnd_, &ps);
                return;
            }
        }
        if (shadow_) shadow_->Update();
    } else if (layered && layeredChanged_) {
        // 4. The layered state changed without a layout.
        if (offscreenBits_)
            std::memset(offscreenBits_, 0,
                        static_cast<size_t>(rcClient.right - rcClient.left) * (rcClient.bottom - rcClient.top) * 4);
        RECT rc = rcClient;
        rc.left += layeredInset_.left;
        rc.top += layeredInset_.top;
        rc.right -= layeredInset_.right;
        rc.bottom -= layeredInset_.bottom;
        root_->SetPos(rc, true);
    }

    // 5. Layered windows paint everything they accumulated, off-screen.
    bool offscreen = offscreenPaint_;
    if (layered) {
        const LONG_PTR ex = ::GetWindowLongPtrW(hwnd_, GWL_EXSTYLE);
        if (!(ex & WS_EX_LAYERED)) ::SetWindowLongPtrW(hwnd_, GWL_EXSTYLE, ex | WS_EX_LAYERED);
        offscreen = true;
        ::UnionRect(&rcPaint, &rcPaint, &layeredUpdate_);
        layeredUpdate_ = {};
        ::IntersectRect(&rcPaint, &rcPaint, &rcClient);
    }

    if (offscreen) {
        // 6. Into the off-screen bitmap.
        if (!EnsureOffscreen(rcClient)) {
            painting_ = false;
            ::EndPaint(hwnd_, &ps);
            Invalidate();
            return;
        }
        {
            nq::scoped_select selected(hdcOffscreen_.get(), bmpOffscreen_.get());
            const int width = rcClient.right - rcClient.left;
            if (layered && offscreenBits_) {
                for (int y = std::max<int>(0, rcPaint.top); y < rcPaint.bottom; ++y)
                    std::memset(offscreenBits_ + (static_cast<size_t>(y) * width + rcPaint.left) * 4, 0,
                                static_cast<size_t>(rcPaint.right - rcPaint.left) * 4);
            }
            {
                CRenderClip clip;
                RenderEngine::GenerateClip(hdcOffscreen_.get(), rcPaint, clip);
                root_->Paint(hdcOffscreen_.get(), rcPaint, nullptr);
            }
            if (layered) {
                // Native child windows are printed into the layered image.
                for (auto it = nativeWindows_.begin(); it != nativeWindows_.end();) {
                    HWND child = it->second;
                    if (!::IsWindow(child)) {
                        it = nativeWindows_.erase(it);
                        continue;
                    }
                    ++it;
                    if (!::IsWindowVisible(child)) continue;
                    RECT rcChild;
                    ::GetWindowRect(child, &rcChild);
                    ::MapWindowPoints(HWND_DESKTOP, hwnd_, reinterpret_cast<LPPOINT>(&rcChild), 2);
                    const int cw = rcChild.right - rcChild.left, ch = rcChild.bottom - rcChild.top;
                    if (cw <= 0 || ch <= 0) continue;
                    nq::unique_hdc childDC(::CreateCompatibleDC(hdcPaint_));
                    BYTE* childBits = nullptr;
                    nq::unique_hbitmap childBmp = CreateDib32(hdcPaint_, cw, ch, &childBits);
                    if (!childDC || !childBmp || !childBits) continue;
                    nq::scoped_select sel(childDC.get(), childBmp.get());
                    ::SendMessageW(child, WM_PRINT, reinterpret_cast<WPARAM>(childDC.get()),
                                   PRF_CHECKVISIBLE | PRF_CLIENT | PRF_CHILDREN | PRF_OWNED);
                    for (int y = 0; y < ch; ++y) {
                        const int ty = rcChild.top + y;
                        if (ty < 0 || ty >= rcClient.bottom) continue;
                        for (int x = 0; x < cw; ++x) {
                            const int tx = rcChild.left + x;
                            if (tx < 0 || tx >= width) continue;
                            BYTE* src = childBits + (static_cast<size_t>(y) * cw + x) * 4;
                            if ((src[0] | src[1] | src[2] | src[3]) == 0) continue;
                            BYTE* dst = offscreenBits_ + (static_cast<size_t>(ty) * width + tx) * 4;
                            dst[0] = src[0];
                            dst[1] = src[1];
                            dst[2] = src[2];
                            dst[3] = 255;
                        }
                    }
                }
            }
            const auto postPaint = postPaint_;
            for (CControlUI* c : postPaint) c->DoPostPaint(hdcOffscreen_.get(), rcPaint);

            // 7. Out to the screen.
            if (layered) {
                FinishLayered(rcPaint, rcClient);
            } else {
                ::BitBlt(windowDC, rcPaint.left, rcPaint.top, rcPaint.right - rcPaint.left,
                         rcPaint.bottom - rcPaint.top, hdcOffscreen_.get(), rcPaint.left, rcPaint.top, SRCCOPY);
                if (showDirty_ && detail::Process().dirtyPen) {
                    nq::scoped_select pen(windowDC, detail::Process().dirtyPen.get());
                    nq::scoped_select brush(windowDC, ::GetStockObject(HOLLOW_BRUSH));
                    ::Rectangle(windowDC, rcPaint.left, rcPaint.top, rcPaint.right, rcPaint.bottom);
                }
            }
        }
    } else {
        // 8. Straight into the window DC.
        CRenderClip clip;
        RenderEngine::GenerateClip(windowDC, rcPaint, clip);
        root_->Paint(windowDC, rcPaint, nullptr);
        const auto postPaint = postPaint_;
        for (CControlUI* c : postPaint) c->DoPostPaint(windowDC, rcPaint);
    }

    // 9. Done.
    ::EndPaint(hwnd_, &ps);
    if (layered) ::ValidateRect(hwnd_, nullptr);
    painting_ = false;
    layeredChanged_ = false;
    if (updateNeeded_) ::InvalidateRect(hwnd_, nullptr, FALSE);
    if (fullLayout_) SendNotify(root_, L"windowsize", 0, 0, true);
}

}  // namespace SkinUI
