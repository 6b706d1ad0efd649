// The shipped skin, read the way the installer window reads it: from the
// sample installer's "ZIP" 249 resource, through the framework's package
// reader, markup reader and image loader, at each DPI step the window uses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "archive/qvrzip.h"
#include "nqpublic/nqbase/nqhandle.h"
#include "tests/common/testutil.h"
#include "tests/common/ziputil.h"
#include "ui/core/uidpi.h"
#include "ui/core/uimarkup.h"
#include "ui/core/uiskinfile.h"
#include "ui/render/uidecoders.h"
#include "ui/render/uiimage.h"

namespace {

using namespace SkinUI;

const int kPercents[] = {100, 125, 150, 175, 200};

// PNG pictures: size at 100 %; with variants, name@125 ... name@200 too.
struct Picture {
    const wchar_t* name;
    int width;
    int height;
    bool variants;
};
const Picture kPictures[] = {
    {L"Image/BkViewInit.png", 600, 460, true},  {L"Image/BkViewComplete.png", 600, 460, true},
    {L"Image/InstallBk0.png", 600, 460, true},  {L"Image/InstallBk1.png", 600, 460, true},
    {L"Image/InstallBk2.png", 600, 460, true},  {L"Image/InstallBk3.png", 600, 460, true},
    {L"Image/Fy_pic.png", 320, 144, true},      {L"Image/Fy_txt.png", 320, 144, true},
    {L"Image/Fy_doc.png", 320, 144, true},      {L"Image/logo.png", 96, 96, true},
    {L"Image/QuickMark.png", 16, 16, false},
};

// SVG images: intrinsic size and the number of equal cells side by side.
struct Vector {
    const wchar_t* name;
    int width;
    int height;
    int cells;
};
const Vector kVectors[] = {
    {L"Image/BtnInstall.svg", 864, 44, 4},   {L"Image/BnOpen.svg", 808, 46, 4},
    {L"Image/CheckLicence.svg", 84, 14, 6},  {L"Image/BkPath.svg", 999, 32, 2},
    {L"Image/BtnSelectPath.svg", 152, 32, 4}, {L"Image/BtnMin.svg", 24, 24, 1},
    {L"Image/BtnClose.svg", 24, 24, 1},      {L"Image/ProgressFg.svg", 400, 10, 1},
    {L"Image/ProgressFg100.svg", 400, 10, 1}, {L"Image/ProgressFg0.svg", 400, 10, 1},
    {L"Image/Progress.svg", 400, 10, 1},     {L"Image/EditPathBk.svg", 500, 34, 1},
    {L"Image/Finish.svg", 64, 64, 1},
};

// Largest mean difference per colour channel (premultiplied, 0..255) between
// the engine's render of an SVG and the reference render: antialiasing of
// edges stays well below it.
constexpr double kRenderTolerance = 4.0;

const Vector* FindVector(const std::wstring& name) {
    for (const Vector& v : kVectors) {
        if (name == v.name) return &v;
    }
    return nullptr;
}

// "Image/a.png" at 150 -> "Image/a@150.png".
std::wstring VariantName(const std::wstring& name, int percent) {
    if (percent == 100) return name;
    size_t dot = name.find(L'.');
    return name.substr(0, dot) + L"@" + std::to_wstring(percent) + name.substr(dot);
}

std::string Narrow(const std::wstring& s) { return testutil::WideToUtf8(s); }

// The skin bytes from the built installer's resources, installed as the
// framework's memory package for the whole test program.
class SkinPackageEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        std::wstring exe = testutil::ExeDir() + L"\\ContosoTranslatorSetup.exe";
        module_.reset(LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
        ASSERT_TRUE(module_) << "cannot load " << Narrow(exe);
        HRSRC res = FindResourceW(module_.get(), MAKEINTRESOURCEW(249), L"ZIP");
        ASSERT_NE(res, nullptr) << "the installer has no \"ZIP\" 249 resource";
        HGLOBAL data = LoadResource(module_.get(), res);
        ASSERT_NE(data, nullptr);
        CSkinPackage::Reset();
        CSkinPackage::SetResourceZipMemory(LockResource(data), SizeofResource(module_.get(), res), L"", 0);
        ASSERT_NE(CSkinPackage::GetResourceZipHandle(), nullptr) << "the skin resource is no readable ZIP";
    }
    void TearDown() override { CSkinPackage::Reset(); }

private:
    nq::unique_hmodule module_;
};

std::vector<std::wstring> PackageEntries() {
    std::vector<std::wstring> names;
    ZipHandle zip = CSkinPackage::GetResourceZipHandle();
    ZipEntryInfo info;
    if (ZipGetItem(zip, -1, &info) != ZR_OK) return names;
    int count = info.index;
    for (int i = 0; i < count; ++i) {
        if (ZipGetItem(zip, i, &info) == ZR_OK) names.push_back(info.name);
    }
    return names;
}

// Decoded once per name for the whole program (as the window's image cache
// does); null when the name does not load.
const ImageInfo* Load(const std::wstring& name) {
    static std::map<std::wstring, std::unique_ptr<ImageInfo>> cache;
    auto it = cache.find(name);
    if (it == cache.end()) it = cache.emplace(name, LoadSkinImage(name, L"", 0, nullptr)).first;
    return it->second.get();
}

BYTE AlphaAt(const ImageInfo& img, int x, int y) { return img.bits[(static_cast<size_t>(y) * img.width + x) * 4 + 3]; }

// Pixels of a rectangle (clipped to the image), for comparing cells.
std::vector<BYTE> Crop(const ImageInfo& img, RECT rc) {
    std::vector<BYTE> out;
    for (int y = std::max<LONG>(rc.top, 0); y < std::min<LONG>(rc.bottom, img.height); ++y) {
        for (int x = std::max<LONG>(rc.left, 0); x < std::min<LONG>(rc.right, img.width); ++x) {
            const BYTE* p = img.bits + (static_cast<size_t>(y) * img.width + x) * 4;
            out.insert(out.end(), p, p + 4);
        }
    }
    return out;
}

// With QVR_SKIN_RENDERS set to a folder, the engine's renders of the SVG
// images are written there as PNG, for looking at them.
void KeepRender(const ImageInfo& img, const std::wstring& name, int percent) {
    wchar_t folder[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"QVR_SKIN_RENDERS", folder, MAX_PATH)) return;
    std::vector<uint8_t> rgba(static_cast<size_t>(img.width) * img.height * 4);
    for (size_t i = 0; i < rgba.size(); i += 4) {
        const BYTE* p = img.bits + i;  // premultiplied BGRA
        BYTE a = p[3];
        for (int c = 0; c < 3; ++c) rgba[i + c] = a ? static_cast<uint8_t>(std::min(255, p[2 - c] * 255 / a)) : 0;
        rgba[i + 3] = a;
    }
    std::wstring file = name.substr(name.find(L'/') + 1);
    file = file.substr(0, file.find(L'.')) + L"@" + std::to_wstring(percent) + L".png";
    testutil::WriteFileBytes(std::wstring(folder) + L"\\" + file, ziputil::EncodePng(img.width, img.height, rgba));
}

// Every image the layout names: (control name or element, attribute, value).
struct ImageUse {
    std::wstring control;
    std::wstring attribute;
    std::wstring value;
};

void CollectImageUses(CMarkupNode node, std::vector<ImageUse>& uses) {
    for (; node.IsValid(); node = node.GetSibling()) {
        std::wstring control = node.GetAttributeValue(L"name");
        if (control.empty()) control = node.GetName();
        for (int i = 0; i < node.GetAttributeCount(); ++i) {
            std::wstring attr = node.GetAttributeName(i);
            std::wstring lower = attr;
            std::transform(lower.begin(), lower.end(), lower.begin(), ::towlower);
            if (lower.size() >= 5 && lower.compare(lower.size() - 5, 5, L"image") == 0) {
                uses.push_back({control, attr, node.GetAttributeValue(i)});
            }
        }
        CollectImageUses(node.GetChild(), uses);
    }
}

std::vector<ImageUse> LayoutImageUses() {
    std::vector<ImageUse> uses;
    for (const wchar_t* file : {L"Layout/Layout.xml", L"font.xml"}) {
        CMarkup markup;
        EXPECT_TRUE(markup.LoadFromFile(file)) << Narrow(file) << ": " << Narrow(markup.LastErrorMessage());
        CollectImageUses(markup.GetRoot(), uses);
    }
    // The window sets these itself while it runs.
    uses.push_back({L"ProgressInstall", L"foreimage (100 %)", L"file='Image/ProgressFg100.svg'"});
    for (int i = 0; i < 4; ++i) {
        uses.push_back({L"VertInstallView", L"bkimage (rotation)", L"Image/InstallBk" + std::to_wstring(i) + L".png"});
    }
    return uses;
}

CDpiScale ScaleFor(int percent) {
    CDpiScale dpi;
    dpi.SetDpi(MulDiv(96, percent, 100));
    return dpi;
}

TEST(SkinPackage, HoldsExactlyTheShippedEntries) {
    std::set<std::wstring> expected = {L"font.xml", L"Layout/Layout.xml"};
    for (const Picture& p : kPictures) {
        for (int percent : kPercents) {
            if (percent == 100 || p.variants) expected.insert(VariantName(p.name, percent));
        }
    }
    for (const Vector& v : kVectors) expected.insert(v.name);

    std::vector<std::wstring> entries = PackageEntries();
    std::set<std::wstring> actual(entries.begin(), entries.end());
    EXPECT_EQ(actual.size(), entries.size()) << "an entry is stored twice";
    for (const std::wstring& name : expected) EXPECT_TRUE(actual.count(name)) << "missing: " << Narrow(name);
    for (const std::wstring& name : actual) EXPECT_TRUE(expected.count(name)) << "unexpected: " << Narrow(name);
}

TEST(SkinPackage, PicturesHaveTheirPixelSizeAtEveryDpi) {
    for (const Picture& p : kPictures) {
        for (int percent : kPercents) {
            std::wstring name = VariantName(p.name, percent);
            SCOPED_TRACE(Narrow(name));
            if (percent != 100 && !p.variants) {
                EXPECT_FALSE(CSkinPackage::SkinFileExists(name));
                continue;
            }
            auto img = Load(name);
            ASSERT_TRUE(img);
            EXPECT_EQ(img->width, p.width * percent / 100);
            EXPECT_EQ(img->height, p.height * percent / 100);
        }
    }
}

TEST(SkinPackage, VectorsHaveTheirSizeAndRenderAtEveryDpi) {
    for (const Vector& v : kVectors) {
        SCOPED_TRACE(Narrow(v.name));
        SkinFileBytes bytes;
        ASSERT_TRUE(CSkinPackage::ReadSkinFile(v.name, SkinFileUse::Image, bytes));
        float w = 0, h = 0;
        ASSERT_TRUE(SvgIntrinsicSize(bytes.data.get(), bytes.size, w, h));
        EXPECT_EQ(w, static_cast<float>(v.width));
        EXPECT_EQ(h, static_cast<float>(v.height));
        for (int percent : kPercents) {
            // The engine's own scaled name: "Image/BtnInstall@150.svg".
            auto img = Load(VariantName(v.name, percent));
            ASSERT_TRUE(img) << percent;
            KeepRender(*img, v.name, percent);
            EXPECT_EQ(img->width, v.width * percent / 100) << percent;
            EXPECT_EQ(img->height, v.height * percent / 100) << percent;
            // Every cell is drawn: no state shows an empty image.
            for (int cell = 0; cell < v.cells; ++cell) {
                int x0 = img->width * cell / v.cells, x1 = img->width * (cell + 1) / v.cells;
                int ink = 0;
                for (int y = 0; y < img->height; ++y) {
                    for (int x = x0; x < x1; ++x) ink += AlphaAt(*img, x, y) > 0;
                }
                EXPECT_GT(ink, 0) << "empty cell " << cell << " at " << percent << " %";
            }
        }
    }
}

// The engine draws each SVG as any SVG renderer does: its render matches the
// build's reference render (rsvg-convert, tests/skin/CMakeLists.txt) of the
// same file at the same scale, up to antialiasing. An SVG feature the engine's
// renderer reads differently (a gradient drawn flat, a shape left out)
// shows here.
TEST(SkinPackage, VectorsRenderAsReferenceRenderer) {
    WIN32_FIND_DATAW fd;
    nq::unique_hfind find(FindFirstFileW(L"reference\\*.png", &fd));
    ASSERT_TRUE(find) << "no reference renders in reference\\";
    int compared = 0;
    do {
        std::wstring file = fd.cFileName;  // BtnInstall@150.png
        size_t at = file.find(L'@');
        ASSERT_NE(at, std::wstring::npos) << Narrow(file);
        std::wstring name = L"Image/" + file.substr(0, at) + L".svg";
        int percent = _wtoi(file.c_str() + at + 1);
        SCOPED_TRACE(Narrow(name) + " at " + std::to_string(percent));
        ASSERT_NE(FindVector(name), nullptr) << "a reference for an image the package does not have";
        std::string bytes;
        ASSERT_TRUE(testutil::ReadFileBytes(L"reference\\" + file, bytes));
        DecodedPixels ref;
        ASSERT_TRUE(DecodeRaster(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size(), ref));
        const ImageInfo* img = Load(VariantName(name, percent));
        ASSERT_TRUE(img);
        // Premultiplied colour of both over the area they share.
        int w = std::min(img->width, ref.width), h = std::min(img->height, ref.height);
        double total = 0;
        int inked = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const BYTE* e = img->bits + (static_cast<size_t>(y) * img->width + x) * 4;  // BGRA
                const BYTE* r = ref.rgba.get() + (static_cast<size_t>(y) * ref.width + x) * 4;  // RGBA
                if (e[3] == 0 && r[3] == 0) continue;
                ++inked;
                for (int c = 0; c < 3; ++c) total += std::abs(e[2 - c] - r[c] * r[3] / 255);
                total += std::abs(e[3] - r[3]);
            }
        }
        ASSERT_GT(inked, 0);
        double mean = total / (inked * 4.0);
        EXPECT_LT(mean, kRenderTolerance) << "mean difference per channel " << mean;
        ++compared;
    } while (FindNextFileW(find.get(), &fd));
    EXPECT_GE(compared, static_cast<int>(std::size(kVectors)));
}

// One control the window looks up: its element, the page it must sit on
// (empty: anywhere) and its user data (the script global it feeds; null:
// not checked).
struct Expected {
    const wchar_t* name;
    const wchar_t* element;
    const wchar_t* page;
    const wchar_t* userdata;
};
const Expected kControls[] = {
    {L"TabMain", L"TabLayout", L"", nullptr},
    {L"VertInitView", L"VerticalLayout", L"", nullptr},
    {L"VertInstallView", L"VerticalLayout", L"", nullptr},
    {L"VertCompleteView", L"VerticalLayout", L"", nullptr},
    {L"HorizCaptionBtn", L"HorizontalLayout", L"", nullptr},
    {L"BtnInstall", L"Button", L"VertInitView", nullptr},
    {L"CheckLicence", L"Option", L"VertInitView", L"LicenceChk"},
    {L"BtnLicenceLink", L"Button", L"VertInitView", nullptr},
    {L"EditInstallPath", L"RichEdit", L"VertInitView", L"InstallPath"},
    {L"BtnSelectPath", L"Button", L"VertInitView", nullptr},
    {L"StartMenuShortcutChk", L"Option", L"VertInitView", L"StartMenuShortcutChk"},
    {L"ShouldStartWithWindowsChk", L"Option", L"VertInitView", L"ShouldStartWithWindowsChk"},
    {L"ProgressInstall", L"Progress", L"VertInstallView", nullptr},
    {L"Fy_pic", L"Button", L"VertCompleteView", nullptr},
    {L"Fy_txt", L"Button", L"VertCompleteView", nullptr},
    {L"Fy_doc", L"Button", L"VertCompleteView", nullptr},
    {L"BtnStart", L"Button", L"VertCompleteView", nullptr},
    {L"minbtn", L"Button", L"HorizCaptionBtn", nullptr},
    {L"BtnClose", L"Button", L"HorizCaptionBtn", nullptr},
};

struct Found {
    std::wstring element;
    std::vector<std::wstring> ancestors;
    std::wstring userdata;
    int count = 0;
};

void IndexControls(CMarkupNode node, std::vector<std::wstring>& path, std::map<std::wstring, Found>& found) {
    for (; node.IsValid(); node = node.GetSibling()) {
        std::wstring name = node.GetAttributeValue(L"name");
        if (!name.empty()) {
            Found& f = found[name];
            f.element = node.GetName();
            f.ancestors = path;
            f.userdata = node.GetAttributeValue(L"userdata");
            ++f.count;
        }
        path.push_back(name);
        IndexControls(node.GetChild(), path, found);
        path.pop_back();
    }
}

TEST(SkinLayout, ParsesAndHoldsEveryControlTheWindowFinds) {
    CMarkup markup;
    ASSERT_TRUE(markup.LoadFromFile(L"Layout/Layout.xml")) << Narrow(markup.LastErrorMessage());
    CMarkupNode root = markup.GetRoot();
    ASSERT_STREQ(root.GetName(), L"Window");
    EXPECT_STREQ(root.GetAttributeValue(L"size"), L"600,460");
    EXPECT_STREQ(root.GetAttributeValue(L"caption"), L"0,0,0,66");
    EXPECT_STREQ(root.GetAttributeValue(L"bktrans"), L"true");
    EXPECT_STREQ(root.GetAttributeValue(L"autodpi"), L"true");
    CMarkupNode include = root.GetChild();
    ASSERT_STREQ(include.GetName(), L"Include");
    EXPECT_STREQ(include.GetAttributeValue(L"source"), L"font.xml");

    std::map<std::wstring, Found> found;
    std::vector<std::wstring> path;
    IndexControls(root.GetChild(), path, found);
    for (const Expected& e : kControls) {
        SCOPED_TRACE(Narrow(e.name));
        auto it = found.find(e.name);
        ASSERT_NE(it, found.end()) << "missing";
        EXPECT_EQ(it->second.count, 1) << "named twice";
        EXPECT_EQ(it->second.element, e.element);
        if (*e.page) {
            const auto& a = it->second.ancestors;
            EXPECT_NE(std::find(a.begin(), a.end(), e.page), a.end()) << "not under " << Narrow(e.page);
        }
        if (e.userdata) {
            EXPECT_EQ(it->second.userdata, e.userdata);
        }
    }
    // Controls the window looks up but this skin leaves out on purpose.
    for (const wchar_t* absent : {L"CheckDesktopLaunch", L"CheckAutoStartup", L"LabelInstallValue", L"HorizNumber",
                                  L"InstallSearchServer"}) {
        EXPECT_EQ(found.count(absent), 0u) << Narrow(absent);
    }
    // The install path edit shows the script's folder through its token.
    CMarkupNode edit;
    std::vector<CMarkupNode> stack = {root};
    while (!stack.empty() && !edit.IsValid()) {
        CMarkupNode n = stack.back();
        stack.pop_back();
        for (; n.IsValid(); n = n.GetSibling()) {
            if (std::wstring(n.GetAttributeValue(L"name")) == L"EditInstallPath") edit = n;
            if (std::wstring(n.GetAttributeValue(L"name")) == L"VertInstallView") {
                EXPECT_STREQ(n.GetAttributeValue(L"Tag"), L"2000");
            }
            if (n.HasChildren()) stack.push_back(n.GetChild());
        }
    }
    ASSERT_TRUE(edit.IsValid());
    EXPECT_STREQ(edit.GetAttributeValue(L"text"), L"$global_install_path$");
}

TEST(SkinLayout, FontTableIsTheWindowsFaceInEverySize) {
    struct FontRow {
        int id, size;
        bool bold, underline, shared, isDefault;
    };
    const FontRow rows[] = {
        {0, 12, false, false, false, true},  {1, 14, false, false, false, false}, {2, 16, false, false, false, false},
        {3, 22, false, false, false, false}, {4, 12, true, false, false, false},  {5, 14, true, false, false, false},
        {6, 16, true, false, false, false},  {7, 18, false, false, false, false}, {8, 15, false, false, false, false},
        {9, 10, false, false, false, false}, {10, 18, true, false, false, false}, {11, 24, true, false, false, false},
        {14, 14, false, true, false, false}, {15, 20, false, false, false, false}, {16, 20, true, false, false, false},
        {17, 12, false, true, false, false}, {18, 26, false, false, false, false}, {1000, 14, false, false, true, false},
        {1001, 12, false, false, true, false},
    };
    CMarkup markup;
    ASSERT_TRUE(markup.LoadFromFile(L"font.xml")) << Narrow(markup.LastErrorMessage());
    ASSERT_STREQ(markup.GetRoot().GetName(), L"Window");
    auto flag = [](CMarkupNode n, const wchar_t* attr) { return std::wstring(n.GetAttributeValue(attr)) == L"true"; };
    std::map<int, CMarkupNode> fonts;
    for (CMarkupNode n = markup.GetRoot().GetChild(); n.IsValid(); n = n.GetSibling()) {
        ASSERT_STREQ(n.GetName(), L"Font");
        EXPECT_STREQ(n.GetAttributeValue(L"name"), L"\u5fae\u8f6f\u96c5\u9ed1");  // 微软雅黑
        int id = _wtoi(n.GetAttributeValue(L"id"));
        EXPECT_EQ(fonts.count(id), 0u) << "font " << id << " twice";
        fonts[id] = n;
    }
    EXPECT_EQ(fonts.size(), std::size(rows));
    for (const FontRow& r : rows) {
        SCOPED_TRACE("font " + std::to_string(r.id));
        ASSERT_EQ(fonts.count(r.id), 1u);
        CMarkupNode n = fonts[r.id];
        EXPECT_EQ(_wtoi(n.GetAttributeValue(L"size")), r.size);
        EXPECT_EQ(flag(n, L"bold"), r.bold);
        EXPECT_EQ(flag(n, L"underline"), r.underline);
        EXPECT_EQ(flag(n, L"shared"), r.shared);
        EXPECT_EQ(flag(n, L"default"), r.isDefault);
        EXPECT_FALSE(flag(n, L"italic"));
    }
}

TEST(SkinLayout, EveryImageItNamesLoadsAtEveryDpi) {
    std::vector<ImageUse> uses = LayoutImageUses();
    ASSERT_GT(uses.size(), 20u);
    for (const ImageUse& use : uses) {
        for (int percent : kPercents) {
            SCOPED_TRACE(Narrow(use.control + L" " + use.attribute + L"=" + use.value) + " at " +
                         std::to_string(percent));
            CDpiScale dpi = ScaleFor(percent);
            ImageDrawInfo info;
            ParseImageAttribute(info, use.value, L"", &dpi);
            ImageDrawInfo plain;
            ParseImageAttribute(plain, use.value, L"", nullptr);
            EXPECT_TRUE(CSkinPackage::SkinFileExists(plain.imageName)) << "not in the package";
            // PNG pictures come in their own file at every step; SVGs render at it.
            EXPECT_TRUE(info.dpiSelected || percent == 100);
            auto img = Load(info.imageName);
            ASSERT_TRUE(img) << "does not load: " << Narrow(info.imageName);
            if (const Vector* v = FindVector(plain.imageName)) {
                EXPECT_EQ(img->width, v->width * percent / 100);
            }
        }
    }
}

// Where a layout cuts a cell out of a sheet, the cut holds that cell's whole
// drawing and nothing of its neighbours', at every DPI step (the check box
// sheet is cut in steps of its own at 125 % and 175 %).
TEST(SkinLayout, CellCutsHoldTheirWholeStateAndNothingElse) {
    int checked = 0;
    for (const ImageUse& use : LayoutImageUses()) {
        ImageDrawInfo plain;
        ParseImageAttribute(plain, use.value, L"", nullptr);
        const Vector* v = FindVector(plain.imageName);
        if (!v || v->cells < 2) continue;
        for (int percent : kPercents) {
            SCOPED_TRACE(Narrow(use.control + L" " + use.attribute + L"=" + use.value) + " at " +
                         std::to_string(percent));
            CDpiScale dpi = ScaleFor(percent);
            ImageDrawInfo info;
            ParseImageAttribute(info, use.value, L"", &dpi);
            auto img = Load(info.imageName);
            ASSERT_TRUE(img);
            RECT src = info.source;
            src.right = std::min<LONG>(src.right, img->width);
            src.bottom = std::min<LONG>(src.bottom, img->height);
            ASSERT_LT(src.left, src.right);
            // The cell as drawn in the sheet at this scale.
            double cellWidth = static_cast<double>(img->width) / v->cells;
            int cell = static_cast<int>(std::lround(src.left / cellWidth));
            int cellLeft = static_cast<int>(std::ceil(cell * cellWidth));
            int cellRight = static_cast<int>(std::floor((cell + 1) * cellWidth));
            int inkInside = 0;
            for (int y = 0; y < img->height; ++y) {
                for (int x = 0; x < img->width; ++x) {
                    bool inCell = x >= cellLeft && x < cellRight;
                    bool inCut = x >= src.left && x < src.right && y >= src.top && y < src.bottom;
                    BYTE a = AlphaAt(*img, x, y);
                    if (inCell && inCut) inkInside += a > 0;
                    if (inCell && !inCut) {
                        ASSERT_EQ(a, 0) << "cell " << cell << " cut off at x=" << x << " y=" << y;
                    }
                    if (!inCell && inCut && x >= cellRight) {
                        ASSERT_EQ(a, 0) << "the cut takes the next cell's pixel x=" << x << " y=" << y;
                    }
                    if (!inCell && inCut && x < cellLeft) {
                        ASSERT_EQ(a, 0) << "the cut takes the previous cell's pixel x=" << x << " y=" << y;
                    }
                }
            }
            EXPECT_GT(inkInside, 0);
            ++checked;
        }
    }
    EXPECT_GT(checked, 40);
}

// A control's states are told apart on screen: different cuts of one sheet
// show different pixels.
TEST(SkinLayout, StatesOfAControlLookDifferent) {
    std::map<std::wstring, std::vector<ImageUse>> byControl;
    for (const ImageUse& use : LayoutImageUses()) byControl[use.control].push_back(use);
    for (const auto& [control, uses] : byControl) {
        for (size_t i = 0; i < uses.size(); ++i) {
            for (size_t j = i + 1; j < uses.size(); ++j) {
                ImageDrawInfo a, b;
                ParseImageAttribute(a, uses[i].value, L"", nullptr);
                ParseImageAttribute(b, uses[j].value, L"", nullptr);
                if (a.imageName != b.imageName || EqualRect(&a.source, &b.source)) continue;
                SCOPED_TRACE(Narrow(control + L": " + uses[i].attribute + L" / " + uses[j].attribute));
                auto img = Load(a.imageName);
                ASSERT_TRUE(img);
                EXPECT_NE(Crop(*img, a.source), Crop(*img, b.source));
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new SkinPackageEnvironment);
    return RUN_ALL_TESTS();
}
