// Image attributes, DPI-specific file selection, decoding into premultiplied
// DIBs and the image caches.
#include "ui/render/uiimage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/common/testutil.h"
#include "tests/common/ziputil.h"
#include "ui/core/uiskinfile.h"
#include "ui/render/uidecoders.h"
#include "ui/render/uirender.h"

namespace {

using namespace SkinUI;

std::string Png(int w, int h, const std::vector<uint8_t>& rgba) { return ziputil::EncodePng(w, h, rgba); }

std::string SolidSvg(int w, int h, const char* fill) {
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(w) + "\" height=\"" +
           std::to_string(h) + "\"><rect x=\"0\" y=\"0\" width=\"" + std::to_string(w) + "\" height=\"" +
           std::to_string(h) + "\" fill=\"" + fill + "\"/></svg>";
}

// The classic one-pixel GIF: one red pixel.
std::string OnePixelGif() {
    return std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\xff,\x00\x00\x00\x00\x01\x00\x01\x00\x00"
                       "\x02\x02\x44\x01\x00;",
                       35);
}

const std::string& SkinPackage() {
    static const std::string bytes = [] {
        std::vector<uint8_t> px = {200, 100, 50, 128, 255, 0, 0, 255, 0, 0, 255, 255, 10, 20, 30, 0};
        return ziputil::BuildZip({
            {"Image/logo.png", Png(2, 2, px)},
            {"Image/logo@150.png", Png(3, 3, std::vector<uint8_t>(36, 255))},
            {"Image/a.b.png", Png(1, 1, {1, 2, 3, 255})},
            {"Image/box.svg", SolidSvg(20, 10, "#ff0000")},
            {"Image/CheckLicence.svg", SolidSvg(84, 14, "#00ff00")},
            {"Image/opaque.png", Png(1, 1, {9, 8, 7, 255})},
            {"Image/pixel.gif", OnePixelGif()},
            {"Image/pixel.bmp", ziputil::EncodeBmp24(2, 1, {1, 2, 3, 250, 251, 252})},
            {"Image/grey.jpg", ziputil::EncodeFlatGrayJpeg({50, 200})},
            {"Image/broken.png", "\x89PNG not really"},
        });
    }();
    return bytes;
}

class ImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        CSkinPackage::Reset();
        const std::string& pkg = SkinPackage();
        CSkinPackage::SetResourceZipMemory(pkg.data(), static_cast<DWORD>(pkg.size()), L"", 0);
    }
    void TearDown() override { CSkinPackage::Reset(); }
};

CDpiScale AtPercent(int dpi) {
    CDpiScale s;
    s.SetDpi(dpi);
    return s;
}

bool SameRect(const RECT& r, LONG l, LONG t, LONG rr, LONG b) {
    return r.left == l && r.top == t && r.right == rr && r.bottom == b;
}

TEST(ImageAttribute, SplitIntoKeys) {
    using Map = std::map<std::wstring, std::wstring>;
    struct Case {
        const wchar_t* text;
        Map keys;
    } cases[] = {
        {L"Image/BkViewInit.png", {}},
        {L"file='Image/BtnInstall.svg' source='0,0,216,44'", {{L"file", L"Image/BtnInstall.svg"}, {L"source", L"0,0,216,44"}}},
        {L"file=\"a.png\" fade=\"128\"", {{L"file", L"a.png"}, {L"fade", L"128"}}},
        {L"'quoted key'='v'", {{L"quoted key", L"v"}}},
        {L"file=a.png fade=10", {{L"file", L"a.png"}, {L"fade", L"10"}}},  // unquoted values end at a space
        {L"file= a.png", {{L"file", L"a.png"}}},                          // one space after '=' is skipped
        {L"fade='1' fade='2'", {{L"fade", L"2"}}},
        {L"file='a.png'  fade='3'", {{L"file", L"a.png"}, {L" fade", L"3"}}},  // only one space is skipped
        {L"file='a.png", {}},                                               // no closing quote
        {L"a='1' b='", {{L"a", L"1"}}},                                     // quote at the very end
        {L"a='1' b=''", {{L"a", L"1"}}},                                    // quote next-to-last
        {L"a='x y' b='2'", {{L"a", L"x y"}, {L"b", L"2"}}},
    };
    for (const Case& c : cases) EXPECT_EQ(SplitImageAttribute(c.text), c.keys) << testutil::WideToUtf8(c.text);
}

TEST_F(ImageTest, DpiSelectionAndRectangleScaling) {
    const CDpiScale p100 = AtPercent(96), p125 = AtPercent(120), p150 = AtPercent(144), p115 = AtPercent(110);
    struct Case {
        const char* what;
        const wchar_t* image;
        const CDpiScale* dpi;
        const wchar_t* name;
        bool selected;
        RECT source, dest;
    } cases[] = {
        {"100 %: no selection, source125 ignored", L"file='Image/logo.png' source='0,0,10,10' source125='1,1,2,2' dest='0,0,10,10'",
         &p100, L"Image/logo.png", false, {0, 0, 10, 10}, {0, 0, 10, 10}},
        {"150 % with the file: source scaled", L"file='Image/logo.png' source='0,0,10,10' dest='2,2,12,12'", &p150,
         L"Image/logo@150.png", true, {0, 0, 15, 15}, {3, 3, 18, 18}},
        {"115 % without a file: source kept, dest scaled", L"file='Image/logo.png' source='0,0,10,10' dest='2,2,12,12'",
         &p115, L"Image/logo.png", false, {0, 0, 10, 10}, {2, 2, 14, 14}},
        {"bare name at 150 %", L"Image/logo.png", &p150, L"Image/logo@150.png", true, {0, 0, 0, 0}, {0, 0, 0, 0}},
        {"bare name, case differs from the entry", L"image/LOGO.png", &p150, L"image/LOGO@150.png", true, {}, {}},
        {"SVG at 125 %: percent key wins", L"file='Image/CheckLicence.svg' source='0,0,14,14' source125='0,0,18,18' "
                                           L"source175='0,0,25,25' dest='0,1,14,15'",
         &p125, L"Image/CheckLicence@125.svg", true, {0, 0, 18, 18}, {0, 1, 18, 19}},
        {"SVG at 150 % without source150: source scaled", L"file='Image/CheckLicence.svg' source='14,0,28,14' source125='18,0,36,18'",
         &p150, L"Image/CheckLicence@150.svg", true, {21, 0, 42, 21}, {}},
        {"SVG names are taken even when absent", L"Image/none.svg", &p150, L"Image/none@150.svg", true, {}, {}},
        {"two dots: only the first is replaced", L"Image/a.b.png", &p150, L"Image/a.b.png", false, {}, {}},
        {"no manager: no selection, no scaling", L"file='Image/logo.png' source='0,0,10,10' dest='2,2,12,12'", nullptr,
         L"Image/logo.png", false, {0, 0, 10, 10}, {2, 2, 12, 12}},
        {"dest with the percent is not scaled", L"file='Image/logo.png' dest='0,0,10,10' dest150='1,1,5,5'", &p150,
         L"Image/logo@150.png", true, {}, {1, 1, 5, 5}},
        {"source with spaces is all zero", L"file='Image/logo.png' source='0, 0, 216, 44'", &p100, L"Image/logo.png",
         false, {0, 0, 0, 0}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ImageDrawInfo info;
        ParseImageAttribute(info, c.image, L"", c.dpi);
        EXPECT_EQ(info.imageName, c.name);
        EXPECT_EQ(info.dpiSelected, c.selected);
        EXPECT_TRUE(SameRect(info.source, c.source.left, c.source.top, c.source.right, c.source.bottom))
            << info.source.left << "," << info.source.top << "," << info.source.right << "," << info.source.bottom;
        EXPECT_TRUE(SameRect(info.dest, c.dest.left, c.dest.top, c.dest.right, c.dest.bottom))
            << info.dest.left << "," << info.dest.top << "," << info.dest.right << "," << info.dest.bottom;
        EXPECT_EQ(info.imageString, c.image);
    }
}

TEST_F(ImageTest, OtherKeysAndTheModifyString) {
    const CDpiScale p150 = AtPercent(144);
    ImageDrawInfo info;
    ParseImageAttribute(info,
                        L"file='Image/logo.png' corner='1,2,3,4' mask='#FFFF00FF' fade='300' hole='TRUE' "
                        L"xtiled='yes' ytiled='0' hsl='1' iconsize='16,18' iconalign='left' restype='PNG'",
                        L"", &p150);
    EXPECT_TRUE(SameRect(info.corner, 2, 3, 5, 6));  // scaled: the 150 % file was selected
    EXPECT_EQ(info.mask, 0xFFFF00FFu);
    EXPECT_EQ(info.fade, 44);
    EXPECT_TRUE(info.hole);  // unknown words are true: boolean words are read exactly as written
    EXPECT_TRUE(info.xtiled);
    EXPECT_FALSE(info.ytiled);
    EXPECT_TRUE(info.hsl);
    EXPECT_EQ(info.iconSize.cx, 16);
    EXPECT_EQ(info.iconSize.cy, 18);
    EXPECT_EQ(info.iconAlign, L"left");
    EXPECT_EQ(info.resType, L"PNG");

    // The modify string's keys win; its file names the image.
    ParseImageAttribute(info, L"file='Image/logo.png' fade='100' hole='true'", L"file='Image/opaque.png' fade='200'",
                        nullptr);
    EXPECT_EQ(info.imageName, L"Image/opaque.png");
    EXPECT_EQ(info.fade, 200);
    EXPECT_TRUE(info.hole);
    EXPECT_EQ(info.modifyString, L"file='Image/opaque.png' fade='200'");
    ParseImageAttribute(info, L"res='123' restype='PNG' fade='-1'", L"", nullptr);
    EXPECT_EQ(info.imageName, L"123");
    EXPECT_EQ(info.fade, 255);
    ParseImageAttribute(info, L"hole='TRUE' xtiled='cancel'", L"", nullptr);
    EXPECT_TRUE(info.hole);
    EXPECT_FALSE(info.xtiled);
}

DWORD Pixel(const ImageInfo& img, int x, int y) {
    DWORD v;
    std::memcpy(&v, img.bits + (static_cast<size_t>(y) * img.width + x) * 4, 4);
    return v;  // 0xAARRGGBB as stored (B, G, R, A bytes)
}

TEST_F(ImageTest, DecodingIntoPremultipliedDibs) {
    auto img = LoadSkinImage(L"Image/logo.png", L"", 0, nullptr);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->width, 2);
    EXPECT_EQ(img->height, 2);
    EXPECT_TRUE(img->alpha);
    // (200, 100, 50, 128) is stored as blue 25, green 50, red 100, alpha 128.
    EXPECT_EQ(Pixel(*img, 0, 0), 0x80643219u);
    EXPECT_EQ(Pixel(*img, 1, 0), 0xFFFF0000u);  // opaque red copied
    EXPECT_EQ(Pixel(*img, 0, 1), 0xFF0000FFu);
    EXPECT_EQ(Pixel(*img, 1, 1), 0x00000000u);  // alpha 0: colour multiplied away
    DIBSECTION ds = {};
    ASSERT_EQ(::GetObjectW(img->hBitmap(), sizeof ds, &ds), static_cast<int>(sizeof ds));
    EXPECT_EQ(ds.dsBmih.biBitCount, 32);

    auto opaque = LoadSkinImage(L"Image/opaque.png", L"", 0, nullptr);
    ASSERT_TRUE(opaque);
    EXPECT_FALSE(opaque->alpha);
    EXPECT_EQ(Pixel(*opaque, 0, 0), 0xFF090807u);

    // A pixel equal to the mask, alpha included, becomes transparent.
    auto masked = LoadSkinImage(L"Image/opaque.png", L"", 0xFF090807u, nullptr);
    ASSERT_TRUE(masked);
    EXPECT_TRUE(masked->alpha);
    EXPECT_EQ(Pixel(*masked, 0, 0), 0u);
    EXPECT_EQ(masked->mask, 0xFF090807u);
    auto notMasked = LoadSkinImage(L"Image/opaque.png", L"", 0x00090807u, nullptr);
    EXPECT_FALSE(notMasked->alpha);

    auto gif = LoadSkinImage(L"Image/pixel.gif", L"", 0, nullptr);
    ASSERT_TRUE(gif);
    EXPECT_EQ(Pixel(*gif, 0, 0), 0xFFFF0000u);
    auto bmp = LoadSkinImage(L"Image/pixel.bmp", L"", 0, nullptr);
    ASSERT_TRUE(bmp);
    EXPECT_EQ(Pixel(*bmp, 0, 0), 0xFF010203u);
    EXPECT_EQ(Pixel(*bmp, 1, 0), 0xFFFAFBFCu);

    auto jpg = LoadSkinImage(L"Image/grey.jpg", L"", 0, nullptr);
    ASSERT_TRUE(jpg);
    EXPECT_EQ(jpg->width, 16);
    EXPECT_EQ(jpg->height, 8);
    EXPECT_FALSE(jpg->alpha);
    for (auto [x, grey] : {std::pair{0, 50}, {7, 50}, {8, 200}, {15, 200}}) {
        const DWORD p = Pixel(*jpg, x, 4);
        EXPECT_EQ(p >> 24, 0xFFu);
        EXPECT_NEAR(static_cast<int>(p & 0xff), grey, 1) << x;
        EXPECT_EQ(p & 0xff, (p >> 8) & 0xff);
    }

    EXPECT_FALSE(LoadSkinImage(L"Image/broken.png", L"", 0, nullptr));
    EXPECT_FALSE(LoadSkinImage(L"Image/absent.png", L"", 0, nullptr));
    EXPECT_FALSE(LoadSkinImage(L"Image/logo.png", L"PNG", 0, nullptr));  // a resource id must start with a digit
    EXPECT_FALSE(LoadSkinImage(L"4711", L"PNG", 0, nullptr));             // no such resource

    // A module resource by decimal id and type.
    auto res = LoadSkinImage(L"301", L"PNG", 0, ::GetModuleHandleW(nullptr));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->width, 2);
    EXPECT_EQ(Pixel(*res, 0, 0), 0xFF0A141Eu);
    EXPECT_EQ(Pixel(*res, 1, 0), 0x80643219u);
    EXPECT_EQ(res->resType, L"PNG");
    EXPECT_FALSE(LoadSkinImage(L"301", L"GIF", 0, ::GetModuleHandleW(nullptr)));
    // Resource ids are 16-bit: a larger number names no resource, not the id it
    // wraps to (65837 = 65536 + 301, 4294967597 = 2^32 + 301).
    for (const wchar_t* id : {L"65837", L"4294967597", L"0"})
        EXPECT_FALSE(LoadSkinImage(id, L"PNG", 0, ::GetModuleHandleW(nullptr))) << testutil::WideToUtf8(id);
}

TEST_F(ImageTest, SvgRenderedAtTheScaleOfItsName) {
    struct Case {
        const wchar_t* name;
        int w, h;
    } cases[] = {
        {L"Image/box.svg", 20, 10},
        {L"Image/box@150.svg", 30, 15},
        {L"Image/box@125.svg", 25, 12},  // truncated: 12.5 gives 12
        {L"Image/box@200.svg", 40, 20},
        {L"Image/CheckLicence@175.svg", 147, 24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testutil::WideToUtf8(c.name));
        auto img = LoadSkinImage(c.name, L"", 0, nullptr);
        ASSERT_TRUE(img);
        EXPECT_EQ(img->width, c.w);
        EXPECT_EQ(img->height, c.h);
        EXPECT_EQ(Pixel(*img, c.w / 2, c.h / 2) & 0xFF000000u, 0xFF000000u);
    }
    auto red = LoadSkinImage(L"Image/box@150.svg", L"", 0, nullptr);
    EXPECT_EQ(Pixel(*red, 15, 7), 0xFFFF0000u);
    // Straight-alpha rendering premultiplied on the way in.
    const std::string half = SolidSvg(4, 4, "#ff0000\" fill-opacity=\"0.5");
    auto translucent = DecodeSkinImage(reinterpret_cast<const BYTE*>(half.data()), half.size(), true, 1.0f, 0);
    ASSERT_TRUE(translucent);
    const DWORD p = Pixel(*translucent, 2, 2);
    EXPECT_NEAR(static_cast<int>(p >> 24), 128, 1);
    EXPECT_NEAR(static_cast<int>((p >> 16) & 0xff), 128, 1);
    EXPECT_TRUE(translucent->alpha);

    float w = 0, h = 0;
    const std::string doc = SolidSvg(84, 14, "#000");
    EXPECT_TRUE(SvgIntrinsicSize(reinterpret_cast<const BYTE*>(doc.data()), doc.size(), w, h));
    EXPECT_EQ(w, 84.0f);
    EXPECT_EQ(h, 14.0f);
    const std::string notSvg = "plain text";
    EXPECT_FALSE(DecodeSkinImage(reinterpret_cast<const BYTE*>(notSvg.data()), notSvg.size(), true, 1.0f, 0));
    const std::string huge = SolidSvg(20000, 10, "#000");
    EXPECT_FALSE(DecodeSkinImage(reinterpret_cast<const BYTE*>(huge.data()), huge.size(), true, 1.0f, 0));
}

TEST_F(ImageTest, DiskFallbackForImagesMissingFromThePackage) {
    const std::wstring dir = testutil::MakeTempDir(L"imgdisk");
    ASSERT_TRUE(testutil::WriteFileBytes(dir + L"\\disk.svg", SolidSvg(8, 6, "#0000ff")));
    ASSERT_TRUE(testutil::WriteFileBytes(dir + L"\\disk.png", Png(1, 1, {1, 1, 1, 255})));
    auto svg = LoadSkinImage(dir + L"\\disk@150.svg", L"", 0, nullptr);
    ASSERT_TRUE(svg);
    EXPECT_EQ(svg->width, 12);
    EXPECT_EQ(svg->height, 9);
    EXPECT_TRUE(LoadSkinImage(dir + L"\\disk.png", L"", 0, nullptr));
    testutil::RemoveTree(dir);
}

TEST_F(ImageTest, HostCachesImagesAndDrawInfos) {
    CRenderHost host;
    const ImageInfo* a = host.GetImageEx(L"Image/logo.png", L"", 0, false, nullptr);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(host.GetImageEx(L"Image/logo.png", L"", 0, false, nullptr), a);  // decoded once
    EXPECT_EQ(host.OwnImageCount(), 1u);
    EXPECT_EQ(host.GetImageEx(L"Image/absent.png", L"", 0, false, nullptr), nullptr);
    EXPECT_EQ(host.OwnImageCount(), 1u);  // nothing negative is cached

    const ImageDrawInfo* d1 = host.GetDrawInfo(L"file='Image/logo.png' dest='0,0,10,10'", L"");
    EXPECT_EQ(host.GetDrawInfo(L"file='Image/logo.png' dest='0,0,10,10'", L""), d1);
    EXPECT_NE(host.GetDrawInfo(L"file='Image/logo.png' dest='0,0,10,10'", L"fade='9'"), d1);
    EXPECT_EQ(host.DrawInfoCount(), 2u);
    EXPECT_EQ(d1->dest.right, 10);

    // A new DPI drops parsed rectangles and own images.
    host.SetDpi(144);
    EXPECT_EQ(host.DrawInfoCount(), 0u);
    EXPECT_EQ(host.OwnImageCount(), 0u);
    const ImageDrawInfo* d2 = host.GetDrawInfo(L"file='Image/logo.png' dest='0,0,10,10'", L"");
    EXPECT_EQ(d2->dest.right, 15);
    EXPECT_EQ(d2->imageName, L"Image/logo@150.png");

    // Shared images live in the process-wide map.
    const ImageInfo* shared = host.AddImage(L"Image/opaque.png", L"", 0, true, true, nullptr);
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(SharedImageCache().Find(L"Image/opaque.png"), shared);
    ASSERT_NE(shared->srcBits, nullptr);  // HSL keeps its own copy of the pixels
    EXPECT_EQ(std::memcmp(shared->srcBits.get(), shared->bits, 4), 0);
    CRenderHost other;
    EXPECT_EQ(other.GetImageEx(L"Image/opaque.png", L"", 0, false, nullptr), shared);
    // Adding under the same name replaces the record.
    const ImageInfo* again = host.AddImage(L"Image/opaque.png", L"", 0, false, true, nullptr);
    EXPECT_EQ(SharedImageCache().Find(L"Image/opaque.png"), again);
    SharedImageCache().Clear();
}

}  // namespace
