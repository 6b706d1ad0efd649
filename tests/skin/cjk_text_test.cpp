// Chinese text in the build's Wine prefix. The installer's message boxes use
// the system's dialog faces and its skinned window asks for "微软雅黑"; both
// must draw Chinese characters with real glyphs, not with the empty boxes a
// font without them shows. Two different strings of the same length drawn as
// boxes give the same pixels; drawn as glyphs they do not.
#include <windows.h>
#include <objidl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

// GDI+ wants min and max in its namespace (NOMINMAX is set).
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "nqpublic/nqbase/nqhandle.h"
#include "tests/common/testutil.h"
#include "tests/common/ziputil.h"

namespace {

// Eleven ideographs each, none shared between the two.
const wchar_t kTextA[] = L"\u5b89\u88c5\u8def\u5f84\u975e\u6cd5\u8bf7\u91cd\u65b0\u4fee\u6539";  // 安装路径非法请重新修改
const wchar_t kTextB[] = L"\u60a8\u786e\u5b9a\u8981\u9000\u51fa\u4e00\u4e2a\u5c0f\u7a97\u53e3";  // 您确定要退出一个小窗口
const wchar_t kYaHei[] = L"\u5fae\u8f6f\u96c5\u9ed1";                                              // 微软雅黑

// Pixels of a screen area as dark-on-light ink: true where the pixel is
// clearly darker than white.
struct Ink {
    int width = 0;
    int height = 0;
    std::vector<BYTE> rgba;  // for the artifact
    std::vector<bool> dark;

    int Count() const { return static_cast<int>(std::count(dark.begin(), dark.end(), true)); }
};

Ink InkOfBgra(const BYTE* bgra, int width, int height) {
    Ink ink;
    ink.width = width;
    ink.height = height;
    for (int i = 0; i < width * height; ++i) {
        const BYTE* p = bgra + i * 4;
        ink.rgba.insert(ink.rgba.end(), {p[2], p[1], p[0], 255});
        ink.dark.push_back((p[0] + p[1] + p[2]) / 3 < 128);
    }
    return ink;
}

// Reads a rectangle of the screen as the X server shows it.
Ink CaptureScreen(const RECT& rc) {
    int w = rc.right - rc.left, h = rc.bottom - rc.top;
    HDC screen = GetDC(nullptr);
    nq::unique_hdc mem(CreateCompatibleDC(screen));
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    nq::unique_hbitmap dib(CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    Ink ink;
    if (mem && dib) {
        HGDIOBJ old = SelectObject(mem.get(), dib.get());
        BitBlt(mem.get(), 0, 0, w, h, screen, rc.left, rc.top, SRCCOPY);
        GdiFlush();
        ink = InkOfBgra(static_cast<const BYTE*>(bits), w, h);
        SelectObject(mem.get(), old);
    }
    ReleaseDC(nullptr, screen);
    return ink;
}

void SaveArtifact(const Ink& ink, const std::wstring& name) {
    testutil::WriteFileBytes(name, ziputil::EncodePng(ink.width, ink.height, ink.rgba));
}

// Pixels where exactly one of two same-sized-or-not ink maps is dark, over
// the area they share, plus the dark pixels outside it.
int InkDifference(const Ink& a, const Ink& b) {
    int diff = 0;
    for (int y = 0; y < std::max(a.height, b.height); ++y) {
        for (int x = 0; x < std::max(a.width, b.width); ++x) {
            bool da = x < a.width && y < a.height && a.dark[y * a.width + x];
            bool db = x < b.width && y < b.height && b.dark[y * b.width + x];
            diff += da != db;
        }
    }
    return diff;
}

struct FindStatic {
    const wchar_t* text;
    HWND found;
};

BOOL CALLBACK FindStaticProc(HWND hwnd, LPARAM lp) {
    auto* f = reinterpret_cast<FindStatic*>(lp);
    wchar_t cls[32] = {}, text[256] = {};
    GetClassNameW(hwnd, cls, 32);
    GetWindowTextW(hwnd, text, 256);
    if (lstrcmpiW(cls, L"Static") == 0 && wcscmp(text, f->text) == 0) {
        f->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// Shows a message box with `text`, waits until it is drawn and captures the
// static control that holds the text, straight from the screen.
Ink MessageBoxInk(const wchar_t* caption, const wchar_t* text) {
    std::thread box([=] { MessageBoxW(nullptr, text, caption, MB_OK | MB_ICONWARNING | MB_TOPMOST | MB_SETFOREGROUND); });
    Ink ink;
    HWND dialog = testutil::WaitForTopWindow(caption, GetCurrentProcessId(), 20000);
    EXPECT_NE(dialog, nullptr) << "no message box appeared";
    if (dialog) {
        FindStatic f{text, nullptr};
        EnumChildWindows(dialog, &FindStaticProc, reinterpret_cast<LPARAM>(&f));
        EXPECT_NE(f.found, nullptr) << "no static control holds the text";
        if (f.found) {
            SetForegroundWindow(dialog);
            testutil::PumpFor(800);  // let it be painted and reach the X server
            RECT rc;
            GetWindowRect(f.found, &rc);
            ink = CaptureScreen(rc);
        }
        testutil::PressDialogButton(dialog, IDOK);
    }
    box.join();
    return ink;
}

TEST(ChineseText, MessageBoxesDrawGlyphsNotBoxes) {
    Ink a = MessageBoxInk(L"qvr-cjk-a", kTextA);
    Ink b = MessageBoxInk(L"qvr-cjk-b", kTextB);
    SaveArtifact(a, L"cjk_msgbox_a.png");
    SaveArtifact(b, L"cjk_msgbox_b.png");
    ASSERT_GT(a.width, 0);
    ASSERT_GT(b.width, 0);
    // Eleven characters at the dialog size leave a good deal of ink each.
    EXPECT_GT(a.Count(), 11 * 15) << "hardly any text drawn";
    EXPECT_GT(b.Count(), 11 * 15) << "hardly any text drawn";
    // The same eleven boxes would match pixel for pixel.
    EXPECT_GT(InkDifference(a, b), std::max(a.Count(), b.Count()) / 3)
        << "two different Chinese texts look alike: the characters are drawn as boxes";
}

// GDI: the skin's face exists under its Chinese name and has the characters.
TEST(ChineseText, SkinFaceIsAFontWithChineseGlyphs) {
    LOGFONTW lf = {};
    lf.lfHeight = -16;
    lf.lfCharSet = DEFAULT_CHARSET;
    wcscpy_s(lf.lfFaceName, kYaHei);
    nq::unique_hfont font(CreateFontIndirectW(&lf));
    ASSERT_TRUE(font);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font.get());
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    WORD glyphs[11] = {};
    DWORD n = GetGlyphIndicesW(dc, kTextA, 11, glyphs, GGI_MARK_NONEXISTING_GLYPHS);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    EXPECT_STREQ(face, kYaHei) << "the face is not known by its Chinese name";
    ASSERT_EQ(n, 11u);
    for (WORD g : glyphs) EXPECT_NE(g, 0xFFFF) << "a character without a glyph";
    EXPECT_NE(glyphs[0], glyphs[1]);
}

// GDI+ (the skinned window's text path): the family is found by name, and two
// different texts drawn with it differ.
TEST(ChineseText, GdiplusDrawsTheSkinFace) {
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
    {
        Gdiplus::FontFamily family(kYaHei);
        ASSERT_EQ(family.GetLastStatus(), Gdiplus::Ok) << "GDI+ does not know the family";
        Gdiplus::Font font(&family, 16, Gdiplus::FontStyleRegular, Gdiplus::UnitPixel);
        ASSERT_EQ(font.GetLastStatus(), Gdiplus::Ok);
        auto draw = [&](const wchar_t* text) {
            Gdiplus::Bitmap bmp(240, 28, PixelFormat32bppARGB);
            {
                Gdiplus::Graphics g(&bmp);
                g.Clear(Gdiplus::Color(255, 255, 255, 255));
                g.SetTextRenderingHint(Gdiplus::TextRenderingHintClearTypeGridFit);
                Gdiplus::SolidBrush brush(Gdiplus::Color(255, 0, 0, 0));
                g.DrawString(text, -1, &font, Gdiplus::PointF(2, 2), &brush);
            }
            Gdiplus::BitmapData data;
            Gdiplus::Rect all(0, 0, 240, 28);
            bmp.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data);
            std::vector<BYTE> px(240 * 28 * 4);
            for (int y = 0; y < 28; ++y) {
                memcpy(&px[y * 240 * 4], static_cast<BYTE*>(data.Scan0) + y * data.Stride, 240 * 4);
            }
            bmp.UnlockBits(&data);
            return InkOfBgra(px.data(), 240, 28);
        };
        Ink a = draw(kTextA), b = draw(kTextB);
        SaveArtifact(a, L"cjk_gdiplus_a.png");
        EXPECT_GT(a.Count(), 11 * 15);
        EXPECT_GT(InkDifference(a, b), std::max(a.Count(), b.Count()) / 3);
    }
    Gdiplus::GdiplusShutdown(token);
}

}  // namespace
