// Drawing into a 32-bit DIB and reading the pixels back.
#include "ui/render/uirender.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "tests/common/ziputil.h"
#include "ui/core/uiskinfile.h"

namespace {

using namespace SkinUI;

class GdiplusEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
    }
    void TearDown() override { Gdiplus::GdiplusShutdown(token_); }

private:
    ULONG_PTR token_ = 0;
};
::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

// A 32-bit top-down DIB selected into its own DC.
class Canvas {
public:
    Canvas(int w, int h, DWORD fill = 0xFF000000) : w_(w), h_(h) {
        BYTE* bits = nullptr;
        bmp_ = CreateDib32(nullptr, w, h, &bits);
        bits_ = reinterpret_cast<DWORD*>(bits);
        dc_.reset(::CreateCompatibleDC(nullptr));
        if (!bmp_ || !dc_) {
            ADD_FAILURE() << "no " << w << " x " << h << " canvas";
            spare_.assign(static_cast<size_t>(w) * h, 0);  // the reads below stay in bounds
            bits_ = spare_.data();
            return;
        }
        old_ = ::SelectObject(dc_.get(), bmp_.get());
        Fill(fill);
    }
    ~Canvas() {
        if (old_) ::SelectObject(dc_.get(), old_);
    }
    HDC dc() const { return dc_.get(); }
    RECT all() const { return RECT{0, 0, w_, h_}; }
    void Fill(DWORD argb) {
        ::GdiFlush();
        std::fill(bits_, bits_ + static_cast<size_t>(w_) * h_, argb);
    }
    // Colour without alpha (GDI does not keep alpha).
    DWORD At(int x, int y) const {
        ::GdiFlush();
        return bits_[static_cast<size_t>(y) * w_ + x] & 0xFFFFFF;
    }
    std::vector<DWORD> Snapshot() const {
        ::GdiFlush();
        std::vector<DWORD> v(bits_, bits_ + static_cast<size_t>(w_) * h_);
        for (DWORD& p : v) p &= 0xFFFFFF;
        return v;
    }

private:
    int w_, h_;
    nq::unique_hbitmap bmp_;  // outlives the DC it is selected into
    nq::unique_hdc dc_;
    DWORD* bits_ = nullptr;
    std::vector<DWORD> spare_;
    HGDIOBJ old_ = nullptr;
};

int R(DWORD c) { return (c >> 16) & 0xff; }
int G(DWORD c) { return (c >> 8) & 0xff; }
int B(DWORD c) { return c & 0xff; }

// 6 x 6 image whose pixel (x, y) is red 40x, green 40y, opaque.
std::unique_ptr<ImageInfo> CoordinateImage(int w = 6, int h = 6, uint8_t alpha = 255) {
    std::vector<uint8_t> rgba;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) rgba.insert(rgba.end(), {static_cast<uint8_t>(40 * x), static_cast<uint8_t>(40 * y), 0, alpha});
    return MakeImageFromRGBA(rgba.data(), w, h, 0);
}

// Which source pixel a canvas pixel shows: (x, y) from red and green.
std::pair<int, int> SourceOf(DWORD c) { return {R(c) / 40, G(c) / 40}; }

const DWORD kBackground = 0xFF0000FF;  // blue: never a colour of the coordinate image

class NineGrid : public ::testing::TestWithParam<bool> {};  // param: blended path

TEST_P(NineGrid, CornersEdgesAndMiddle) {
    auto img = CoordinateImage();
    Canvas c(40, 40, kBackground);
    const bool alpha = GetParam();
    RenderEngine::DrawImage(c.dc(), img->hBitmap(), RECT{10, 10, 30, 30}, c.all(), RECT{0, 0, 6, 6}, RECT{2, 2, 2, 2},
                            alpha);
    struct Probe {
        int x, y, sx, sy;
    } probes[] = {
        {10, 10, 0, 0}, {11, 11, 1, 1}, {29, 10, 5, 0}, {28, 11, 4, 1},   // top corners, 1:1
        {10, 29, 0, 5}, {29, 29, 5, 5}, {28, 28, 4, 4},                   // bottom corners
        {12, 10, 2, 0}, {27, 11, 3, 1},                                   // top edge stretched from columns 2..3
        {10, 12, 0, 2}, {11, 27, 1, 3},                                   // left edge
        {29, 20, 5, 3}, {20, 29, 3, 5},                                   // right and bottom edges
        {12, 12, 2, 2}, {27, 27, 3, 3}, {19, 19, 2, 2}, {20, 20, 3, 3},   // middle: 2 x 2 stretched over 16 x 16
    };
    for (const Probe& p : probes) {
        const auto s = SourceOf(c.At(p.x, p.y));
        EXPECT_EQ(s.first, p.sx) << p.x << "," << p.y;
        EXPECT_EQ(s.second, p.sy) << p.x << "," << p.y;
    }
    for (auto [x, y] : {std::pair{9, 9}, {30, 30}, {9, 20}, {20, 30}}) EXPECT_EQ(c.At(x, y), kBackground & 0xFFFFFF);
}

TEST_P(NineGrid, HoleLeavesTheMiddle) {
    auto img = CoordinateImage();
    Canvas c(40, 40, kBackground);
    RenderEngine::DrawImage(c.dc(), img->hBitmap(), RECT{10, 10, 30, 30}, c.all(), RECT{0, 0, 6, 6}, RECT{2, 2, 2, 2},
                            GetParam(), 255, true);
    EXPECT_EQ(c.At(20, 20), kBackground & 0xFFFFFF);
    EXPECT_EQ(c.At(12, 12), kBackground & 0xFFFFFF);
    EXPECT_EQ(SourceOf(c.At(11, 11)), std::make_pair(1, 1));
    EXPECT_EQ(SourceOf(c.At(20, 10)), std::make_pair(3, 0));
}

TEST_P(NineGrid, TilingCutsTheLastTile) {
    auto img = CoordinateImage();
    struct Case {
        bool x, y;
    } cases[] = {{true, false}, {false, true}, {true, true}};
    for (const Case& t : cases) {
        SCOPED_TRACE(std::to_string(t.x) + std::to_string(t.y));
        Canvas c(40, 40, kBackground);
        // Middle 17 x 17 (12..29): eight 2-pixel tiles and a last one of 1 pixel.
        RenderEngine::DrawImage(c.dc(), img->hBitmap(), RECT{10, 10, 31, 31}, c.all(), RECT{0, 0, 6, 6},
                                RECT{2, 2, 2, 2}, GetParam(), 255, false, t.x, t.y);
        for (int i = 0; i < 17; ++i) {
            const auto s = SourceOf(c.At(12 + i, 12 + i));
            if (t.x) { EXPECT_EQ(s.first, 2 + i % 2) << i; }
            if (t.y) { EXPECT_EQ(s.second, 2 + i % 2) << i; }
        }
        // The untiled direction is stretched: first half column 2, second half column 3.
        if (!t.x) {
            EXPECT_EQ(SourceOf(c.At(12, 12)).first, 2);
            EXPECT_EQ(SourceOf(c.At(28, 12)).first, 3);
        }
        EXPECT_EQ(SourceOf(c.At(29, 29)), std::make_pair(4, 4));  // the corner is untouched by tiling
        EXPECT_EQ(c.At(31, 20), kBackground & 0xFFFFFF);
    }
}

TEST_P(NineGrid, OnlyPartsTouchingThePaintRectangle) {
    auto img = CoordinateImage();
    Canvas c(40, 40, kBackground);
    RenderEngine::DrawImage(c.dc(), img->hBitmap(), RECT{10, 10, 30, 30}, RECT{0, 0, 12, 12}, RECT{0, 0, 6, 6},
                            RECT{2, 2, 2, 2}, GetParam());
    EXPECT_EQ(SourceOf(c.At(10, 10)), std::make_pair(0, 0));
    EXPECT_EQ(c.At(29, 29), kBackground & 0xFFFFFF);  // bottom-right corner not touched
    EXPECT_EQ(c.At(20, 20), kBackground & 0xFFFFFF);  // middle starts at 12: not touched
}

TEST_P(NineGrid, TilesInsideAPaintRectangleKeepTheirPhase) {
    auto img = CoordinateImage();
    Canvas c(40, 40, kBackground);
    // Middle 12..28 in 2-pixel tiles of source columns/rows 2 and 3; the paint
    // rectangle starts inside the tile at 20 and ends inside the one at 26.
    RenderEngine::DrawImage(c.dc(), img->hBitmap(), RECT{10, 10, 30, 30}, RECT{21, 21, 27, 27}, RECT{0, 0, 6, 6},
                            RECT{2, 2, 2, 2}, GetParam(), 255, false, true, true);
    for (int i = 21; i < 27; ++i) EXPECT_EQ(SourceOf(c.At(i, i)), std::make_pair(2 + i % 2, 2 + i % 2)) << i;
    EXPECT_EQ(c.At(19, 19), kBackground & 0xFFFFFF);  // tiles wholly before the paint rectangle: not drawn
    EXPECT_EQ(c.At(28, 28), kBackground & 0xFFFFFF);  // the corner does not reach it either
}

INSTANTIATE_TEST_SUITE_P(CopyAndBlend, NineGrid, ::testing::Values(false, true));

TEST(DrawImage, OneToOneCopyOfThePaintRectangle) {
    auto img = CoordinateImage();
    Canvas c(20, 20, kBackground);
    RenderEngine::DrawImage(c.dc(), img->hBitmap(), RECT{4, 4, 8, 8}, RECT{5, 5, 20, 20}, RECT{1, 1, 5, 5},
                            RECT{0, 0, 0, 0}, false);
    EXPECT_EQ(c.At(4, 4), kBackground & 0xFFFFFF);  // outside the paint rectangle
    EXPECT_EQ(SourceOf(c.At(5, 5)), std::make_pair(2, 2));
    EXPECT_EQ(SourceOf(c.At(7, 7)), std::make_pair(4, 4));
    EXPECT_EQ(c.At(8, 8), kBackground & 0xFFFFFF);
}

// Blended results, by AlphaBlend and by the software replacement.
class Blending : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { RenderEngine::SetSoftwareBlending(GetParam()); }
    void TearDown() override { RenderEngine::SetSoftwareBlending(false); }
};

TEST_P(Blending, AlphaAndFade) {
    const uint8_t px[4] = {200, 100, 50, 128};  // stored premultiplied as (100, 50, 25, 128)
    auto translucent = MakeImageFromRGBA(px, 1, 1, 0);
    const uint8_t white[4] = {255, 255, 255, 255};
    auto opaque = MakeImageFromRGBA(white, 1, 1, 0);
    struct Case {
        const char* what;
        const ImageInfo* img;
        bool alpha;
        BYTE fade;
        DWORD background;
        int r, g, b;
    } cases[] = {
        {"translucent over white", translucent.get(), true, 255, 0xFFFFFFFF, 227, 177, 152},
        {"translucent over black", translucent.get(), true, 255, 0xFF000000, 100, 50, 25},
        {"opaque white faded to half over black", opaque.get(), false, 128, 0xFF000000, 128, 128, 128},
        {"opaque white faded to 44 over black", opaque.get(), false, 44, 0xFF000000, 44, 44, 44},
        {"translucent faded over white", translucent.get(), true, 128, 0xFFFFFFFF, 241, 216, 203},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Canvas c(8, 8, k.background);
        RenderEngine::DrawImage(c.dc(), k.img->hBitmap(), RECT{0, 0, 8, 8}, c.all(), RECT{0, 0, 1, 1}, RECT{},
                                k.alpha, k.fade);
        const DWORD p = c.At(4, 4);
        EXPECT_NEAR(R(p), k.r, 2);
        EXPECT_NEAR(G(p), k.g, 2);
        EXPECT_NEAR(B(p), k.b, 2);
    }
}

TEST_P(Blending, GradientsWithAlpha) {
    struct Case {
        const char* what;
        DWORD first, second;
        bool vertical;
        DWORD background;
        int x, y, r, g, b;
    } cases[] = {
        {"left end", 0xFF000000, 0xFFFFFFFF, false, 0xFF0000FF, 0, 5, 0, 0, 0},
        {"right end", 0xFF000000, 0xFFFFFFFF, false, 0xFF0000FF, 99, 5, 255, 255, 255},
        {"middle", 0xFF000000, 0xFFFFFFFF, false, 0xFF0000FF, 50, 5, 129, 129, 129},
        {"vertical top", 0xFFFF0000, 0xFF00FF00, true, 0xFF0000FF, 5, 0, 255, 0, 0},
        {"vertical bottom", 0xFFFF0000, 0xFF00FF00, true, 0xFF0000FF, 5, 99, 0, 255, 0},
        {"averaged alpha 128 over white", 0x80FF0000, 0x80FF0000, false, 0xFFFFFFFF, 50, 5, 255, 127, 127},
        {"alphas 0xFF and 0x01 average to 128", 0xFF000000, 0x01000000, true, 0xFFFFFFFF, 5, 50, 127, 127, 127},
        {"averaged alpha 0 draws nothing", 0x00FF0000, 0x01FF0000, false, 0xFF0000FF, 50, 5, 0, 0, 255},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Canvas c(100, 100, k.background);
        RenderEngine::DrawGradient(c.dc(), RECT{0, 0, 100, 100}, k.first, k.second, k.vertical, 64);
        const DWORD p = c.At(k.x, k.y);
        EXPECT_NEAR(R(p), k.r, 4);
        EXPECT_NEAR(G(p), k.g, 4);
        EXPECT_NEAR(B(p), k.b, 4);
    }
}

INSTANTIATE_TEST_SUITE_P(Msimg32AndSoftware, Blending, ::testing::Values(false, true));

TEST(DrawColor, SolidTranslucentAndRounded) {
    Canvas c(40, 40, 0xFFFFFFFF);
    RenderEngine::DrawColor(c.dc(), RECT{0, 0, 10, 10}, 0xFF00FF00);
    EXPECT_EQ(c.At(0, 0), 0x00FF00u);
    EXPECT_EQ(c.At(9, 9), 0x00FF00u);
    EXPECT_EQ(c.At(10, 10), 0xFFFFFFu);
    RenderEngine::DrawColor(c.dc(), RECT{20, 0, 30, 10}, 0x80FF0000);
    EXPECT_NEAR(R(c.At(25, 5)), 255, 2);
    EXPECT_NEAR(G(c.At(25, 5)), 127, 3);
    RenderEngine::DrawColor(c.dc(), RECT{30, 30, 40, 40}, 0x00FF0000);  // alpha 0: nothing
    EXPECT_EQ(c.At(35, 35), 0xFFFFFFu);

    Canvas r(40, 40, 0xFFFFFFFF);
    RenderEngine::DrawColor(r.dc(), RECT{0, 0, 40, 40}, 0xFFFF0000, 10, 10);
    EXPECT_EQ(r.At(0, 0), 0xFFFFFFu);    // outside the rounded corner
    EXPECT_EQ(r.At(38, 38), 0xFFFFFFu);
    EXPECT_EQ(r.At(20, 20), 0xFF0000u);  // middle
    EXPECT_EQ(r.At(20, 0), 0xFF0000u);   // straight top edge
    EXPECT_EQ(r.At(0, 20), 0xFF0000u);
    EXPECT_EQ(r.At(39, 0), 0xFFFFFFu);

    Canvas e(40, 40, 0xFFFFFFFF);
    RenderEngine::DrawColor(e.dc(), RECT{0, 0, 40, 20}, 0xFF0000FF, 20, 10);  // radii too large: an ellipse
    EXPECT_EQ(e.At(1, 1), 0xFFFFFFu);
    EXPECT_EQ(e.At(20, 10), 0x0000FFu);
    EXPECT_EQ(e.At(20, 25), 0xFFFFFFu);
}

TEST(DrawShapes, LinesRectanglesAndRoundRectangles) {
    Canvas c(40, 40, 0xFFFFFFFF);
    RenderEngine::DrawLine(c.dc(), RECT{0, 5, 20, 5}, 1, 0xFFFF0000);
    EXPECT_EQ(c.At(10, 5), 0xFF0000u);
    EXPECT_EQ(c.At(10, 4), 0xFFFFFFu);
    EXPECT_EQ(c.At(25, 5), 0xFFFFFFu);
    RenderEngine::DrawRect(c.dc(), RECT{5, 10, 15, 20}, 1, 0xFF00FF00);
    EXPECT_EQ(c.At(5, 15), 0x00FF00u);
    EXPECT_EQ(c.At(14, 15), 0x00FF00u);  // inside frame: the pen stays within the rectangle
    EXPECT_EQ(c.At(10, 15), 0xFFFFFFu);  // null brush
    EXPECT_EQ(c.At(15, 15), 0xFFFFFFu);
    RenderEngine::DrawRoundRect(c.dc(), RECT{20, 20, 40, 40}, 1, 6, 6, 0xFF0000FF);
    EXPECT_EQ(c.At(30, 20), 0x0000FFu);
    EXPECT_EQ(c.At(20, 20), 0xFFFFFFu);  // rounded corner
    EXPECT_EQ(c.At(30, 30), 0xFFFFFFu);
}

TEST(Clip, RectangleAndRoundClipsAreRestored) {
    Canvas c(40, 40, 0xFFFFFFFF);
    const nq::unique_hbrush redBrush(::CreateSolidBrush(RGB(255, 0, 0)));
    const nq::unique_hbrush greenBrush(::CreateSolidBrush(RGB(0, 255, 0)));
    const HBRUSH red = redBrush.get(), green = greenBrush.get();
    const RECT all = c.all();
    {
        CRenderClip clip;
        RenderEngine::GenerateClip(c.dc(), RECT{10, 10, 20, 20}, clip);
        ::FillRect(c.dc(), &all, red);
        {
            CRenderClip inner;  // nested: limited to the outer clip as well
            RenderEngine::GenerateClip(c.dc(), RECT{15, 15, 30, 30}, inner);
            ::FillRect(c.dc(), &all, green);
        }
        EXPECT_EQ(c.At(12, 12), 0xFF0000u);
        EXPECT_EQ(c.At(17, 17), 0x00FF00u);
        EXPECT_EQ(c.At(25, 25), 0xFFFFFFu);
        EXPECT_EQ(c.At(5, 5), 0xFFFFFFu);
    }
    ::FillRect(c.dc(), &all, green);  // no clip left behind
    EXPECT_EQ(c.At(5, 5), 0x00FF00u);
    c.Fill(0xFFFFFFFF);
    {
        CRenderClip clip;
        RenderEngine::GenerateRoundClip(c.dc(), all, RECT{0, 0, 39, 39}, 16, 16, clip);
        ::FillRect(c.dc(), &all, red);
    }
    EXPECT_EQ(c.At(0, 0), 0xFFFFFFu);
    EXPECT_EQ(c.At(20, 20), 0xFF0000u);
    EXPECT_EQ(c.At(20, 0), 0xFF0000u);
}

TEST(ImageString, DestinationsInsideTheControl) {
    struct Case {
        RECT dest;
        RECT expected;
    } cases[] = {
        {{0, 0, 0, 0}, {100, 10, 300, 50}},
        {{-24, 0, -4, 20}, {276, 10, 296, 30}},
        {{10, 5, 30, 25}, {110, 15, 130, 35}},
        {{10, 5, 500, 500}, {110, 15, 300, 50}},  // right and bottom limited to the control
        {{0, -20, 10, -5}, {100, 30, 110, 45}},
    };
    for (const Case& k : cases) {
        const RECT r = RenderEngine::ImageDestination(RECT{100, 10, 300, 50}, k.dest);
        EXPECT_EQ(r.left, k.expected.left);
        EXPECT_EQ(r.top, k.expected.top);
        EXPECT_EQ(r.right, k.expected.right);
        EXPECT_EQ(r.bottom, k.expected.bottom);
    }
}

TEST(ImageString, DrawsFromThePackageThroughTheHost) {
    std::vector<uint8_t> rgba;
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) rgba.insert(rgba.end(), {static_cast<uint8_t>(40 * x), static_cast<uint8_t>(40 * y), 0, 255});
    static const std::string pkg = ziputil::BuildZip({{"Image/cells.png", ziputil::EncodePng(6, 6, rgba)}});
    CSkinPackage::Reset();
    CSkinPackage::SetResourceZipMemory(pkg.data(), static_cast<DWORD>(pkg.size()), L"", 0);
    CRenderHost host;
    Canvas c(40, 40, kBackground);
    const RECT item = {0, 0, 40, 40};
    EXPECT_TRUE(RenderEngine::DrawImageString(c.dc(), &host, item, c.all(),
                                              L"file='Image/cells.png' source='2,2,4,4' dest='-10,0,-2,8'"));
    EXPECT_EQ(SourceOf(c.At(30, 0)), std::make_pair(2, 2));
    EXPECT_EQ(SourceOf(c.At(37, 7)), std::make_pair(3, 3));
    EXPECT_EQ(c.At(29, 0), kBackground & 0xFFFFFF);
    // Source parts past the image are clipped to it.
    c.Fill(kBackground);
    EXPECT_TRUE(RenderEngine::DrawImageString(c.dc(), &host, RECT{0, 0, 8, 8}, c.all(),
                                              L"file='Image/cells.png' source='4,4,100,100'"));
    EXPECT_EQ(SourceOf(c.At(0, 0)), std::make_pair(4, 4));
    EXPECT_EQ(SourceOf(c.At(7, 7)), std::make_pair(5, 5));
    // Outside the paint rectangle: true without drawing; missing image: false.
    c.Fill(kBackground);
    EXPECT_TRUE(RenderEngine::DrawImageString(c.dc(), &host, item, RECT{0, 0, 5, 5},
                                              L"file='Image/cells.png' dest='20,20,30,30'"));
    EXPECT_EQ(c.At(25, 25), kBackground & 0xFFFFFF);
    EXPECT_FALSE(RenderEngine::DrawImageString(c.dc(), &host, item, c.all(), L"Image/absent.png"));
    EXPECT_FALSE(RenderEngine::DrawImageString(c.dc(), &host, item, c.all(), L""));
    CSkinPackage::Reset();
}

// Text: which path draws, measuring, the glyph code and the middle ellipsis.
class TextHost : public CRenderHost {
public:
    TextHost() {
        LOGFONTW lf = {};
        lf.lfHeight = -14;
        wcscpy_s(lf.lfFaceName, L"Tahoma");
        font_.reset(::CreateFontIndirectW(&lf));
        SetFont(0, font_.get());
    }
    bool IsEditControl(CControlUI* control) const override { return control != nullptr; }

private:
    nq::unique_hfont font_;
};

std::vector<DWORD> Draw(TextHost& host, const wchar_t* text, RECT rc, UINT style, int w = 200, int h = 40) {
    Canvas c(w, h, 0xFFFFFFFF);
    RenderEngine::RenderText(c.dc(), &host, rc, text, -1, 0xFF000000, 0, style);
    return c.Snapshot();
}

bool AnyInk(const std::vector<DWORD>& px) {
    return std::any_of(px.begin(), px.end(), [](DWORD p) { return p != 0xFFFFFF; });
}

TEST(RenderText, GdiPathDrawsOneCharacterGivenByItsCode) {
    TextHost host;  // no GDI+ text: the GDI path
    const UINT style = DT_SINGLELINE | DT_LEFT | DT_TOP;
    const auto glyph = Draw(host, L"&#x41; and more words", RECT{0, 0, 200, 40}, style);
    const auto a = Draw(host, L"A", RECT{0, 0, 200, 40}, style);
    EXPECT_TRUE(AnyInk(a));
    EXPECT_EQ(glyph, a);
    EXPECT_EQ(Draw(host, L"&#x41 ;rest", RECT{0, 0, 200, 40}, style), a);  // four characters "41 ;": the ";" goes, "41 " reads as 0x41
    RECT calc = {0, 0, 0, 0};
    Canvas c(10, 10);
    RenderEngine::RenderText(c.dc(), &host, calc, L"&#x41;", -1, 0xFF000000, 0, style | DT_CALCRECT);
    RECT plain = {0, 0, 0, 0};
    RenderEngine::RenderText(c.dc(), &host, plain, L"A", -1, 0xFF000000, 0, style | DT_CALCRECT);
    EXPECT_EQ(calc.right, plain.right);
    EXPECT_GT(plain.right, 0);
    EXPECT_FALSE(AnyInk(Draw(host, L"", RECT{0, 0, 200, 40}, style)));
}

TEST(RenderText, GdiplusPathMeasuresAndShortensInTheMiddle) {
    TextHost host;
    host.SetUseGdiplusText(true);
    host.SetGdiplusTextRenderingHint(5);
    Canvas c(10, 10);
    RECT exact = {0, 0, 1000, 100}, loose = {0, 0, 1000, 100};
    RenderEngine::RenderText(c.dc(), &host, exact, L"Hello world", -1, 0xFF000000, 0, DT_SINGLELINE | DT_CALCRECT,
                             nullptr, true);
    RenderEngine::RenderText(c.dc(), &host, loose, L"Hello world", -1, 0xFF000000, 0, DT_SINGLELINE | DT_CALCRECT);
    EXPECT_GT(exact.right, 20);
    EXPECT_GT(exact.bottom, 5);
    EXPECT_EQ(loose.right, exact.right + 1);
    EXPECT_EQ(loose.bottom, exact.bottom + 1);

    const UINT style = DT_SINGLELINE | DT_VCENTER;
    const RECT wide = {0, 0, 400, 40};
    // A text that fits is drawn unchanged.
    EXPECT_EQ(Draw(host, L"short", wide, style | DT_MIDDLE_ELLIPSIS_UI, 400), Draw(host, L"short", wide, style, 400));
    // One that never fits is drawn unshortened.
    const RECT tiny = {0, 0, 2, 40};
    EXPECT_EQ(Draw(host, L"C:\\Program Files\\Product", tiny, style | DT_MIDDLE_ELLIPSIS_UI, 400),
              Draw(host, L"C:\\Program Files\\Product", tiny, style, 400));
    // One that is too long for its box loses its middle.
    RECT full = {0, 0, 1000, 40};
    RenderEngine::RenderText(c.dc(), &host, full, L"C:\\Program Files\\Some Product\\Folder", -1, 0xFF000000, 0,
                             style | DT_CALCRECT);
    const RECT narrow = {0, 0, full.right * 2 / 3, 40};
    const auto shortened =
        Draw(host, L"C:\\Program Files\\Some Product\\Folder", narrow, style | DT_MIDDLE_ELLIPSIS_UI, 400);
    EXPECT_TRUE(AnyInk(shortened));
    EXPECT_NE(shortened, Draw(host, L"C:\\Program Files\\Some Product\\Folder", narrow, style, 400));

    // Layered windows use GDI+ even without the option; measuring inside an
    // edit box uses GDI.
    TextHost layered;
    layered.SetLayered(true);
    EXPECT_EQ(Draw(layered, L"Hello", wide, style, 400), Draw(host, L"Hello", wide, style, 400));
    RECT editGdi = {0, 0, 0, 0}, plainGdi = {0, 0, 0, 0};
    TextHost gdi;
    RenderEngine::RenderText(c.dc(), &host, editGdi, L"Hello", -1, 0xFF000000, 0, DT_SINGLELINE | DT_CALCRECT,
                             reinterpret_cast<CControlUI*>(&c));
    RenderEngine::RenderText(c.dc(), &gdi, plainGdi, L"Hello", -1, 0xFF000000, 0, DT_SINGLELINE | DT_CALCRECT);
    EXPECT_EQ(editGdi.right, plainGdi.right);
}

TEST(RenderText, OutlinePathDraws) {
    TextHost host;
    host.SetUseTextDesigner(true);
    EXPECT_TRUE(AnyInk(Draw(host, L"Outline", RECT{0, 0, 200, 40}, DT_SINGLELINE)));
}

}  // namespace
