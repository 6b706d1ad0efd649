#include "ui/window/uishadow.h"

namespace SkinUI {

// The state the window layer draws from; kept here until the shadow window is built.
struct CShadowUI::Impl {
    CPaintManagerUI* manager = nullptr;
    HWND hwnd = nullptr;
    bool show = false;
    bool disabled = false;
    int size = 0;
    unsigned sharpness = 5;
    unsigned darkness = 150;
    POINT offset = {};
    COLORREF color = 0;
    std::wstring image;
    RECT corner = {};
};

CShadowUI::CShadowUI() : impl_(new Impl) {}
CShadowUI::~CShadowUI() { delete impl_; }

bool CShadowUI::Initialize(HINSTANCE) { return true; }
void CShadowUI::Create(CPaintManagerUI* manager) { impl_->manager = manager; }
void CShadowUI::Update() {}
bool CShadowUI::IsCreated() const { return impl_->hwnd != nullptr; }
HWND CShadowUI::GetWindow() const { return impl_->hwnd; }
void CShadowUI::ShowShadow(bool show) { impl_->show = show; }
bool CShadowUI::IsShowShadow() const { return impl_->show; }
void CShadowUI::DisableShadow(bool disable) { impl_->disabled = disable; }
bool CShadowUI::IsDisableShadow() const { return impl_->disabled; }

bool CShadowUI::SetSize(int size) {
    if (size < -35 || size > 35) return false;
    impl_->size = size;
    return true;
}
bool CShadowUI::SetSharpness(unsigned sharpness) {
    if (sharpness > 35) return false;
    impl_->sharpness = sharpness;
    return true;
}
bool CShadowUI::SetDarkness(unsigned darkness) {
    if (darkness > 255) return false;
    impl_->darkness = darkness;
    return true;
}
bool CShadowUI::SetPosition(int x, int y) {
    if (x < -35 || x > 35 || y < -35 || y > 35) return false;
    impl_->offset = {x, y};
    return true;
}
bool CShadowUI::SetColor(COLORREF color) {
    impl_->color = color & 0x00FFFFFF;
    return true;
}
bool CShadowUI::SetImage(const std::wstring& image) {
    impl_->image = image;
    return true;
}
bool CShadowUI::SetShadowCorner(RECT corner) {
    if (corner.left < 0 || corner.top < 0 || corner.right < 0 || corner.bottom < 0) return false;
    impl_->corner = corner;
    return true;
}
int CShadowUI::GetSize() const { return impl_->size; }
unsigned CShadowUI::GetSharpness() const { return impl_->sharpness; }
unsigned CShadowUI::GetDarkness() const { return impl_->darkness; }
POINT CShadowUI::GetPosition() const { return impl_->offset; }
COLORREF CShadowUI::GetColor() const { return impl_->color; }
const std::wstring& CShadowUI::GetImage() const { return impl_->image; }
RECT CShadowUI::GetShadowCorner() const { return impl_->corner; }

}  // namespace SkinUI
