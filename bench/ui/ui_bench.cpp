// Timings of the skin layer on a package shaped like the installer's own skin:
// 70 entries (a font table, the layout, page backgrounds and buttons in five
// DPI variants, SVG sprites), read in place from memory.
//
//   1. lookup and inflate of every entry, as the skin loaders do it;
//   2. lookups alone (the central-directory walk);
//   3. parsing a layout like the shipped one, and a 4 MiB layout;
//   4. decoding a page background PNG and rendering an SVG sprite at 150 %.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/qvrzip.h"
#include "tests/common/ziputil.h"
#include "ui/core/uimarkup.h"
#include "ui/core/uiskinfile.h"
#include "ui/render/uiimage.h"

namespace {

double Now() {
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

// A picture with gradients and a little noise, so the PNG compresses like artwork.
std::string Picture(int w, int h, uint32_t seed) {
    std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4);
    uint32_t x = seed * 2654435761u + 1;
    for (int y = 0; y < h; ++y)
        for (int i = 0; i < w; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            uint8_t* p = &rgba[(static_cast<size_t>(y) * w + i) * 4];
            p[0] = static_cast<uint8_t>(i * 255 / w + ((x & 15) == 0 ? (x >> 8) & 7 : 0));
            p[1] = static_cast<uint8_t>(y * 255 / h);
            p[2] = static_cast<uint8_t>(((i + y) * 3) & 0xff);
            p[3] = 255;
        }
    return ziputil::EncodePng(w, h, rgba);
}

std::string Sprite(int w, int h, int cells) {
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(w) + "\" height=\"" +
                      std::to_string(h) + "\">";
    const int cw = w / cells;
    for (int c = 0; c < cells; ++c)
        svg += "<rect x=\"" + std::to_string(c * cw + 1) + "\" y=\"1\" width=\"" + std::to_string(cw - 2) +
               "\" height=\"" + std::to_string(h - 2) + "\" rx=\"" + std::to_string(h / 2) + "\" fill=\"#" +
               (c % 2 ? "832FFF" : "4A90E2") + "\" stroke=\"#333\" stroke-width=\"1\"/>";
    return svg + "</svg>";
}

const char* kFontXml =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Window>\n"
    "  <Font id=\"0\" name=\"\xe5\xbe\xae\xe8\xbd\xaf\xe9\x9b\x85\xe9\xbb\x91\" size=\"12\" default=\"true\" />\n"
    "  <Font id=\"1\" name=\"\xe5\xbe\xae\xe8\xbd\xaf\xe9\x9b\x85\xe9\xbb\x91\" size=\"14\" />\n"
    "  <Font id=\"2\" name=\"\xe5\xbe\xae\xe8\xbd\xaf\xe9\x9b\x85\xe9\xbb\x91\" size=\"16\" />\n"
    "  <Font id=\"1000\" name=\"\xe5\xbe\xae\xe8\xbd\xaf\xe9\x9b\x85\xe9\xbb\x91\" size=\"14\" shared=\"true\" />\n"
    "</Window>\n";

std::string CheckImages() {
    static const char* states[] = {"normalimage", "hotimage", "pushedimage", "selectedimage", "selectedhotimage",
                                   "selectedpushedimage"};
    std::string s;
    for (int i = 0; i < 6; ++i) {
        s += std::string(" ") + states[i] + "=\"file='Image/CheckLicence.svg' source='" + std::to_string(14 * i) +
             ",0," + std::to_string(14 * i + 14) + ",14' source125='" + std::to_string(18 * i) + ",0," +
             std::to_string(18 * i + 18) + ",18' source175='" + std::to_string(25 * i) + ",0," +
             std::to_string(25 * i + 25) + ",25' dest='0,1,14,15'\"";
    }
    return s;
}

// The installer window's layout: the same elements and attributes.
std::string Layout() {
    const std::string check = CheckImages();
    std::string x =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<Window tooltipbkcolor=\"#FFFFFFFF\" tooltiptextcolor=\"#FF8B8989\" outlinetext=\"true\" size=\"600,460\" "
        "mininfo=\"600,460\" normaltab=\"false\" caption=\"0,0,0,66\" bktrans=\"true\" sizebox=\"0,0,0,0\" "
        "sizeboxinset=\"0,0,0,0\" gdiplustext=\"true\" textrenderinghint=\"5\" autodpi=\"true\" showshadow=\"true\" "
        "KillFocusSendButtonUp=\"false\">\n"
        "  <Include source=\"font.xml\" />\n"
        "  <Container DPIInset=\"false\">\n"
        "    <TabLayout name=\"TabMain\">\n"
        "      <VerticalLayout name=\"VertInitView\" bkimage=\"Image/BkViewInit.png\">\n"
        "        <HorizontalLayout padding=\"0,180,0,0\" height=\"44\">\n"
        "          <Button name=\"BtnInstall\" width=\"216\" height=\"44\" horzpaddingcenter=\"true\" "
        "userdata=\"InstallBtn\" text=\"\xe5\xbf\xab\xe9\x80\x9f\xe5\xae\x89\xe8\xa3\x85\" font=\"2\" "
        "textcolor=\"0xffffffff\" align=\"center\" valign=\"vcenter\" TabSuppot=\"true\" "
        "normalimage=\"file='Image/BtnInstall.svg' source='0,0,216,44'\" hotimage=\"file='Image/BtnInstall.svg' "
        "source='216,0,432,44'\" pushedimage=\"file='Image/BtnInstall.svg' source='432,0,648,44'\" "
        "disabledimage=\"file='Image/BtnInstall.svg' source='648,0,864,44'\" />\n"
        "        </HorizontalLayout>\n"
        "        <HorizontalLayout padding=\"0,27,0,0\" height=\"16\">\n"
        "          <Control />\n"
        "          <Option name=\"CheckLicence\" width=\"100\" text=\"\xe6\x88\x91\xe5\xb7\xb2\xe9\x98\x85\xe8\xaf\xbb\" "
        "textpadding=\"17,0,0,0\" valign=\"vcenter\" textcolor=\"#FF333333\" userdata=\"LicenceChk\" selected=\"true\" "
        "TabSuppot=\"true\"" + check + " />\n"
        "          <Button name=\"BtnLicenceLink\" autocalcwidth=\"true\" userdata=\"LicenceLnk\" text=\"licence\" "
        "textcolor=\"#FF832FFF\" valign=\"vcenter\" hotfont=\"17\" TabSuppot=\"true\" />\n"
        "          <Control />\n"
        "        </HorizontalLayout>\n"
        "        <HorizontalLayout padding=\"0,60,0,0\" width=\"500\" height=\"34\" horzpaddingcenter=\"true\">\n"
        "          <RichEdit name=\"EditInstallPath\" align=\"left\" text=\"$global_install_path$\" userdata=\"InstallPath\" "
        "textcolor=\"#FF333333\" textpadding=\"15,8,0,8\" RichEditDpiTextPadding=\"true\" autoselall=\"false\" "
        "multiline=\"false\" rich=\"false\" CaretFollowTextColor=\"true\" autohscroll=\"true\" transparent=\"true\" "
        "wantreturn=\"false\" valign=\"vcenter\" EditWndUseCtrlBk=\"true\" nativebkcolor=\"#FF333333\" "
        "normalimage=\"file='Image/BkPath.svg' source='0,0,500,34'\" hotimage=\"file='Image/BkPath.svg' "
        "source='500,0,1000,34'\" focusedimage=\"file='Image/BkPath.svg' source='500,0,1000,34'\" "
        "pushedimage=\"file='Image/BkPath.svg' source='500,0,1000,34'\" />\n"
        "          <Button name=\"BtnSelectPath\" float=\"true\" floatalign=\"right,vcenter\" width=\"38\" height=\"34\" "
        "userdata=\"SelectDirBtn\" TabSuppot=\"true\" normalimage=\"file='Image/BtnSelectPath.svg' source='0,0,38,34'\" "
        "hotimage=\"file='Image/BtnSelectPath.svg' source='38,0,76,34'\" pushedimage=\"file='Image/BtnSelectPath.svg' "
        "source='76,0,114,34'\" />\n"
        "        </HorizontalLayout>\n"
        "        <HorizontalLayout padding=\"0,18,0,0\" height=\"16\">\n"
        "          <Option name=\"StartMenuShortcutChk\" padding=\"50,0,0,0\" width=\"180\" text=\"start menu\" "
        "textpadding=\"17,0,0,0\" align=\"left\" textcolor=\"#FF333333\" userdata=\"StartMenuShortcutChk\" "
        "selected=\"true\" TabSuppot=\"true\"" + check + " />\n"
        "          <Option name=\"ShouldStartWithWindowsChk\" padding=\"0,0,50,0\" width=\"180\" text=\"autostart\" "
        "textpadding=\"17,0,0,0\" align=\"left\" textcolor=\"#FF333333\" userdata=\"ShouldStartWithWindowsChk\" "
        "selected=\"true\" TabSuppot=\"true\"" + check + " />\n"
        "        </HorizontalLayout>\n"
        "      </VerticalLayout>\n"
        "      <VerticalLayout name=\"VertInstallView\" bkimage=\"Image/InstallBk0.png\" Tag=\"2000\">\n"
        "        <Control />\n"
        "        <Progress name=\"ProgressInstall\" height=\"10\" foreimage=\"file='Image/ProgressFg.svg'\" />\n"
        "      </VerticalLayout>\n"
        "      <VerticalLayout name=\"VertCompleteView\" bkimage=\"Image/BkViewComplete.png\">\n"
        "        <HorizontalLayout padding=\"45,140,45,0\" childpadding=\"15\" height=\"144\">\n";
    for (const char* b : {"Fy_pic", "Fy_txt", "Fy_doc"})
        x += std::string("          <Button name=\"") + b + "\" width=\"160\" height=\"144\" text=\"\" font=\"2\" "
             "stateimage=\"file='Image/" + b + ".png'\" statecount=\"2\" userdata=\"FyBtn\" TabSuppot=\"true\" />\n";
    x += "        </HorizontalLayout>\n"
         "        <Button name=\"BtnStart\" padding=\"0,76,0,54\" width=\"202\" height=\"46\" horzpaddingcenter=\"true\" "
         "userdata=\"InstallBtn\" text=\"start\" font=\"2\" textcolor=\"0xffffffff\" align=\"center\" TabSuppot=\"true\" "
         "normalimage=\"file='Image/BnOpen.svg' source='0,0,202,46'\" hotimage=\"file='Image/BnOpen.svg' "
         "source='202,0,404,46'\" pushedimage=\"file='Image/BnOpen.svg' source='404,0,606,46'\" />\n"
         "      </VerticalLayout>\n"
         "    </TabLayout>\n"
         "  </Container>\n"
         "  <HorizontalLayout name=\"HorizCaptionBtn\" float=\"true\" pos=\"0,10,0,0\" width=\"600\" height=\"24\">\n"
         "    <Control />\n"
         "    <Button name=\"minbtn\" width=\"24\" height=\"24\" vertpaddingcenter=\"true\" tooltip=\"min\" "
         "TabSuppot=\"false\" normalimage=\"file='Image/BtnMin.svg' source='0,0,24,24'\" hotimage=\"file='Image/BtnMin.svg' "
         "source='0,0,24,24'\" pushedimage=\"file='Image/BtnMin.svg' source='0,0,24,24'\" />\n"
         "    <Button name=\"BtnClose\" padding=\"2,0,10,0\" width=\"24\" height=\"24\" vertpaddingcenter=\"true\" "
         "tooltip=\"close\" TabSuppot=\"false\" normalimage=\"file='Image/BtnClose.svg' source='0,0,24,24'\" "
         "hotimage=\"file='Image/BtnClose.svg' source='0,0,24,24'\" pushedimage=\"file='Image/BtnClose.svg' "
         "source='0,0,24,24'\" />\n"
         "  </HorizontalLayout>\n"
         "</Window>\n";
    return x;
}

struct Package {
    std::string bytes;
    std::vector<std::wstring> names;
};

Package MakePackage() {
    std::vector<ziputil::Entry> entries;
    Package p;
    auto add = [&](const std::string& name, std::string data, bool deflate = true) {
        entries.push_back({name, std::move(data), deflate});
        p.names.push_back(std::wstring(name.begin(), name.end()));
    };
    add("font.xml", kFontXml);
    add("Layout/Layout.xml", Layout());
    const struct {
        const char* tag;
        int percent;
    } variants[] = {{"", 100}, {"@125", 125}, {"@150", 150}, {"@175", 175}, {"@200", 200}};
    uint32_t seed = 1;
    for (const char* page : {"BkViewInit", "BkViewComplete", "InstallBk0", "InstallBk1", "InstallBk2", "InstallBk3"})
        for (const auto& v : variants)
            add(std::string("Image/") + page + v.tag + ".png", Picture(600 * v.percent / 100, 460 * v.percent / 100, seed++));
    for (const char* button : {"Fy_pic", "Fy_txt", "Fy_doc", "logo"})
        for (const auto& v : variants)
            add(std::string("Image/") + button + v.tag + ".png", Picture(320 * v.percent / 100, 144 * v.percent / 100, seed++));
    add("Image/QuickMark.png", Picture(64, 64, seed++));
    add("Image/BtnInstall.svg", Sprite(864, 44, 4));
    add("Image/BnOpen.svg", Sprite(808, 46, 4));
    add("Image/CheckLicence.svg", Sprite(84, 14, 6));
    add("Image/BkPath.svg", Sprite(999, 32, 2));
    add("Image/BtnSelectPath.svg", Sprite(152, 32, 4));
    add("Image/BtnMin.svg", Sprite(24, 24, 1));
    add("Image/BtnClose.svg", Sprite(24, 24, 1));
    add("Image/ProgressFg.svg", Sprite(400, 10, 1));
    add("Image/ProgressFg100.svg", Sprite(400, 10, 1));
    add("Image/EditPathBk.svg", Sprite(500, 34, 1));
    add("Image/Finish.svg", Sprite(64, 64, 1));
    add("Image/Progress.svg", Sprite(400, 10, 1));
    add("Image/ProgressFg0.svg", Sprite(400, 10, 1));
    add("Image/Shadow.png", Picture(32, 32, seed++));
    add("Image/Caption.png", Picture(600, 66, seed++));
    add("Image/Icon.png", Picture(48, 48, seed++));
    add("Image/Banner.png", Picture(600, 120, seed++));
    p.bytes = ziputil::BuildZip(entries);
    return p;
}

}  // namespace

int main() {
    std::printf("building the package...\n");
    std::fflush(stdout);
    const Package pkg = MakePackage();
    uint64_t unpacked = 0;
    SkinUI::CSkinPackage::SetResourceZipMemory(pkg.bytes.data(), static_cast<DWORD>(pkg.bytes.size()), L"", 0);
    std::printf("package: %zu entries, %zu bytes\n", pkg.names.size(), pkg.bytes.size());

    // 1. Lookup and inflate of every entry, the way the skin loaders read them.
    const int passes = 5;
    std::vector<double> passMs;
    for (int pass = 0; pass < passes; ++pass) {
        unpacked = 0;
        const double t0 = Now();
        for (const std::wstring& name : pkg.names) {
            SkinUI::SkinFileBytes bytes;
            if (!SkinUI::CSkinPackage::ReadSkinFile(name, SkinUI::SkinFileUse::Image, bytes)) {
                std::printf("missing %ls\n", name.c_str());
                return 1;
            }
            unpacked += bytes.size;
        }
        passMs.push_back((Now() - t0) * 1000.0);
    }
    std::sort(passMs.begin(), passMs.end());
    std::printf("lookup+inflate of all %zu entries (%.1f MiB unpacked): median %.1f ms per pass (min %.1f, max %.1f), "
                "%.2f ms per entry, %.1f MiB/s\n",
                pkg.names.size(), unpacked / 1048576.0, passMs[passes / 2], passMs.front(), passMs.back(),
                passMs[passes / 2] / pkg.names.size(), unpacked / 1048576.0 / (passMs[passes / 2] / 1000.0));

    // 2. Lookups alone.
    ZipHandle h = SkinUI::CSkinPackage::GetResourceZipHandle();
    const int lookupRounds = 200;
    double t0 = Now();
    for (int r = 0; r < lookupRounds; ++r)
        for (const std::wstring& name : pkg.names) {
            int index = -1;
            ZipFindItem(h, name.c_str(), true, &index, nullptr);
        }
    const double lookupUs = (Now() - t0) * 1e6 / (lookupRounds * pkg.names.size());
    std::printf("lookup alone: %.1f us per name (linear walk of %zu records)\n", lookupUs, pkg.names.size());

    // 3. Layout parsing.
    const std::string layout = Layout();
    const int parses = 500;
    t0 = Now();
    int nodes = 0;
    for (int i = 0; i < parses; ++i) {
        SkinUI::CMarkup m;
        m.LoadFromMemory(reinterpret_cast<const BYTE*>(layout.data()), layout.size());
        nodes = m.NodeCount() - 1;
    }
    const double parseUs = (Now() - t0) * 1e6 / parses;
    std::printf("layout parse: %zu bytes, %d elements: %.1f us per parse\n", layout.size(), nodes, parseUs);
    std::string big;
    while (big.size() + layout.size() < SkinUI::kMaxMarkupFileSize - 64) big += layout.substr(layout.find("<Window"));
    big = "<Root>" + big;
    big.resize(std::min(big.size(), SkinUI::kMaxMarkupFileSize - 8));
    big = big.substr(0, big.rfind("</Window>") + 9) + "</Root>";
    t0 = Now();
    SkinUI::CMarkup m;
    const bool ok = m.LoadFromMemory(reinterpret_cast<const BYTE*>(big.data()), big.size());
    std::printf("large layout parse: %.2f MiB, %d elements, %s: %.1f ms\n", big.size() / 1048576.0, m.NodeCount() - 1,
                ok ? "ok" : "failed", (Now() - t0) * 1000.0);

    // 4. Image decoding.
    t0 = Now();
    auto bk = SkinUI::LoadSkinImage(L"Image/BkViewInit@150.png", L"", 0, nullptr);
    const double pngMs = (Now() - t0) * 1000.0;
    t0 = Now();
    auto svg = SkinUI::LoadSkinImage(L"Image/BtnInstall@150.svg", L"", 0, nullptr);
    const double svgMs = (Now() - t0) * 1000.0;
    std::printf("decode Image/BkViewInit@150.png (%dx%d): %.1f ms; render Image/BtnInstall.svg at 150%% (%dx%d): %.1f ms\n",
                bk ? bk->width : 0, bk ? bk->height : 0, pngMs, svg ? svg->width : 0, svg ? svg->height : 0, svgMs);
    SkinUI::CSkinPackage::Reset();
    return 0;
}
