// Mutation fuzzer for the parsers that read skin bytes: the ZIP reader, the
// markup reader, the image decoders (raster and SVG) and the layout builder
// (markup to a control tree, laid out and painted).
//
//   ui_fuzz --target zip|markup|image|builder [--iterations N] [--seconds S] [--seed X]
//
// Inputs are mutations of a built-in seed corpus, drawn from a fixed-seed
// generator, so a run is reproducible. Every input sits at the very end of a
// readable page followed by an inaccessible one, and so does every output
// buffer of the ZIP reader: a read or write past the end faults at once. A
// fault or an input that takes longer than the hang limit writes the input to
// "ui_fuzz_<target>_failure.bin" and ends the run with a non-zero code.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "archive/qvrzip.h"
#include "nqpublic/nqbase/nqhandle.h"
#include "tests/common/ziputil.h"
#include "ui/builder/uibuilder.h"
#include "ui/control/uicontrol.h"
#include "ui/core/uimarkup.h"
#include "ui/manager/uimanager.h"
#include "ui/render/uidecoders.h"
#include "ui/render/uiimage.h"

namespace {

// ---------------------------------------------------------------------------
// Guarded buffers

class GuardedBuffer {
public:
    explicit GuardedBuffer(size_t size) : size_(size) {
        SYSTEM_INFO si;
        ::GetSystemInfo(&si);
        const size_t page = si.dwPageSize;
        const size_t span = (size + page - 1) / page * page;
        total_ = span + page;
        base_ = static_cast<BYTE*>(::VirtualAlloc(nullptr, total_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        if (!base_) return;
        DWORD old;
        ::VirtualProtect(base_ + span, page, PAGE_NOACCESS, &old);
        data_ = base_ + span - size;
    }
    ~GuardedBuffer() {
        if (base_) ::VirtualFree(base_, 0, MEM_RELEASE);
    }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;
    BYTE* data() const { return data_; }
    size_t size() const { return size_; }
    bool ok() const { return base_ != nullptr; }

private:
    BYTE* base_ = nullptr;
    BYTE* data_ = nullptr;
    size_t size_ = 0;
    size_t total_ = 0;
};

// ---------------------------------------------------------------------------
// Seed corpora

std::string Utf16(const std::string& utf8, bool bigEndian) {
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(n, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (wchar_t c : w) {
        out += static_cast<char>(bigEndian ? c >> 8 : c & 0xff);
        out += static_cast<char>(bigEndian ? c & 0xff : c >> 8);
    }
    return out;
}

std::vector<std::string> ZipSeeds() {
    using ziputil::Entry;
    std::vector<std::string> seeds;
    std::string text;
    for (int i = 0; i < 300; ++i) text += "<Button name=\"b" + std::to_string(i) + "\"/>\n";
    seeds.push_back(ziputil::BuildZip({{"Layout/Layout.xml", text}, {"font.xml", "<Window/>", false}}));
    Entry enc{"secret.txt", text, true, "pw"};
    Entry encStored{"s2", "stored and encrypted", false, "pw", true};
    seeds.push_back(ziputil::BuildZip({enc, encStored}));
    Entry ut{"times", "t", false};
    ut.centralExtra = ziputil::ExtendedTime(7, {1, 2, 3});
    ut.madeBy = 0x031E;
    ut.externalAttr = 0x41ED0010;
    seeds.push_back(ziputil::BuildZip({ut, {"C:\\a\\..\\b", "x", false}, {"", "", false}}, {"prefix", "comment"}));
    std::vector<Entry> many;
    for (int i = 0; i < 20; ++i) many.push_back({"Image/i" + std::to_string(i) + ".png", std::string(50 + i, 'a' + i), i % 2 == 0});
    seeds.push_back(ziputil::BuildZip(many));
    Entry desc{"descriptor", text.substr(0, 500), true};
    desc.descriptor = true;
    seeds.push_back(ziputil::BuildZip({desc}));
    return seeds;
}

std::vector<std::string> MarkupSeeds() {
    std::vector<std::string> seeds;
    const std::string layout =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!-- layout -->\n"
        "<Window size=\"600,460\" caption=\"0,0,0,66\" bktrans=\"true\">\n"
        "  <Include source=\"font.xml\" />\n"
        "  <Container><TabLayout name=\"TabMain\">\n"
        "    <VerticalLayout bkimage=\"Image/BkViewInit.png\">\n"
        "      <Button name=\"BtnInstall\" text=\"\xe5\xbf\xab\xe9\x80\x9f &amp; &lt;go&gt;\" "
        "normalimage=\"file='Image/BtnInstall.svg' source='0,0,216,44'\"/>\n"
        "      <Label text=\"a &quot;b&quot; &apos;c&apos;\">  some   text  </Label>\n"
        "    </VerticalLayout>\n  </TabLayout></Container>\n</Window>\n";
    seeds.push_back(layout);
    seeds.push_back("\xEF\xBB\xBF" + layout);
    seeds.push_back(Utf16(layout, false));
    seeds.push_back(Utf16(layout, true));
    seeds.push_back("<a><b><c><d x=\"1\" y=\"2\"/></c></b></a>");
    seeds.push_back("<!DOCTYPE x><?pi?><r a = \"v\"\n b=\"w\">t<s/>u</r>");
    return seeds;
}

std::vector<std::string> BuilderSeeds() {
    std::vector<std::string> seeds = MarkupSeeds();
    seeds.push_back(
        "<Window size=\"400,300\" caption=\"0,0,0,30\">"
        "<Font id=\"0\" name=\"Arial\" size=\"12\" default=\"true\"/><Font id=\"1\" name=\"Tahoma\" bold=\"true\"/>"
        "<Default name=\"Control\" value=\"bkcolor=&quot;#FF102030&quot; height=&quot;20&quot;\"/>"
        "<Style name=\"s\" value=\"bordersize=&quot;1&quot; bordercolor=&quot;#FF00FF00&quot; bkimage=&quot;s&quot;\"/>"
        "<Image name=\"Image/none.png\"/><Include source=\"none.xml\" count=\"3\"/>"
        "<VerticalLayout inset=\"4,4,4,4\" childpadding=\"3\" bkcolor=\"#FFFFFFFF\">"
        "<HorizontalLayout height=\"30\" childvalign=\"vcenter\" ExpandBalance=\"true\">"
        "<Control/><Control width=\"40\" padding=\"2,2,2,2\" minwidth=\"50\"/><Control maxwidth=\"10\"/>"
        "<Control float=\"true\" floatalign=\"right,vcenter\" width=\"20\" height=\"10\"/></HorizontalLayout>"
        "<TabLayout selectedid=\"1\"><Container/><VerticalLayout><Control text=\"s\" horzpaddingcenter=\"true\"/>"
        "</VerticalLayout></TabLayout><Container vscrollbar=\"true\"><Control float=\"0.1,0.2,0.5,0.5\" "
        "pos=\"1,2,30,40\" borderround=\"4,4\" bordersize=\"2\" bordercolor=\"#FF000000\"/></Container>"
        "<List><ListElement/></List><Bogus attr=\"1\"/></VerticalLayout></Window>");
    std::string deep = "<Window>";
    for (int i = 0; i < 400; ++i) deep += "<HorizontalLayout>";
    for (int i = 0; i < 400; ++i) deep += "</HorizontalLayout>";
    seeds.push_back(deep + "</Window>");
    return seeds;
}

std::vector<std::string> ImageSeeds() {
    std::vector<std::string> seeds;
    std::vector<uint8_t> rgba;
    for (int i = 0; i < 8 * 8; ++i) rgba.insert(rgba.end(), {static_cast<uint8_t>(i * 4), 100, 200, static_cast<uint8_t>(i * 3)});
    seeds.push_back(ziputil::EncodePng(8, 8, rgba));
    seeds.push_back(ziputil::EncodePng(1, 1, {1, 2, 3, 4}));
    seeds.push_back(ziputil::EncodeFlatGrayJpeg({0, 50, 128, 200, 255}));
    std::vector<uint8_t> rgb(5 * 3 * 3, 77);
    seeds.push_back(ziputil::EncodeBmp24(5, 3, rgb));
    seeds.push_back(std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\xff,\x00\x00\x00\x00\x01\x00\x01"
                                "\x00\x00\x02\x02\x44\x01\x00;",
                                35));
    seeds.push_back(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"24\" height=\"24\" viewBox=\"0 0 24 24\">"
        "<defs><linearGradient id=\"g\" x1=\"0\" y1=\"0\" x2=\"1\" y2=\"1\"><stop offset=\"0\" stop-color=\"#f00\"/>"
        "<stop offset=\"1\" stop-color=\"#00f\" stop-opacity=\"0.5\"/></linearGradient></defs>"
        "<rect x=\"1\" y=\"1\" width=\"22\" height=\"22\" rx=\"4\" fill=\"url(#g)\" stroke=\"#333\" stroke-width=\"1.5\"/>"
        "<path d=\"M4 12 L10 18 L20 6\" fill=\"none\" stroke=\"white\" stroke-width=\"2\" stroke-linecap=\"round\"/>"
        "<circle cx=\"12\" cy=\"12\" r=\"3\" transform=\"rotate(45 12 12)\" opacity=\"0.7\"/></svg>");
    seeds.push_back("<svg width=\"216\" height=\"44\"><g transform=\"translate(2,2) scale(0.5)\"><polygon points=\"0,0 "
                    "100,0 50,80\" fill=\"#4CAF50\"/><ellipse cx=\"50\" cy=\"40\" rx=\"30\" ry=\"10\" "
                    "style=\"fill:rgb(10,20,30);fill-opacity:0.5\"/></g></svg>");
    return seeds;
}

// ---------------------------------------------------------------------------
// Mutations

class Mutator {
public:
    explicit Mutator(uint32_t seed) : rng_(seed) {}
    uint32_t Next(uint32_t bound) { return bound ? std::uniform_int_distribution<uint32_t>(0, bound - 1)(rng_) : 0; }

    std::string Mutate(const std::vector<std::string>& corpus) {
        std::string s = corpus[Next(static_cast<uint32_t>(corpus.size()))];
        const int ops = 1 + static_cast<int>(Next(8));
        for (int i = 0; i < ops; ++i) {
            const uint32_t n = static_cast<uint32_t>(s.size());
            switch (Next(9)) {
            case 0:  // flip a bit
                if (n) s[Next(n)] ^= static_cast<char>(1 << Next(8));
                break;
            case 1:  // a random byte
                if (n) s[Next(n)] = static_cast<char>(Next(256));
                break;
            case 2: {  // an interesting byte
                static const uint8_t interesting[] = {0, 1, 0x7f, 0x80, 0xff, '<', '>', '"', '&', '=', '/', ' '};
                if (n) s[Next(n)] = static_cast<char>(interesting[Next(sizeof interesting)]);
                break;
            }
            case 3: {  // an interesting 16- or 32-bit value
                static const uint32_t values[] = {0, 1, 0x7fff, 0x8000, 0xffff, 0x10000, 0x7fffffff, 0x80000000, 0xffffffff, 12};
                const uint32_t v = values[Next(sizeof values / sizeof values[0])];
                const uint32_t width = Next(2) ? 4 : 2;
                if (n >= width) {
                    const uint32_t at = Next(n - width + 1);
                    std::memcpy(&s[at], &v, width);
                }
                break;
            }
            case 4: {  // insert random bytes
                const uint32_t len = 1 + Next(16);
                std::string ins;
                for (uint32_t k = 0; k < len; ++k) ins += static_cast<char>(Next(256));
                s.insert(Next(n + 1), ins);
                break;
            }
            case 5:  // delete a range
                if (n) {
                    const uint32_t at = Next(n);
                    s.erase(at, 1 + Next(std::min<uint32_t>(64, n - at)));
                }
                break;
            case 6:  // duplicate a range
                if (n) {
                    const uint32_t at = Next(n);
                    const std::string piece = s.substr(at, 1 + Next(std::min<uint32_t>(256, n - at)));
                    s.insert(Next(n + 1), piece);
                }
                break;
            case 7:  // truncate
                if (n) s.resize(Next(n));
                break;
            case 8: {  // splice in a part of another seed
                const std::string& other = corpus[Next(static_cast<uint32_t>(corpus.size()))];
                if (!other.empty() && n) {
                    const uint32_t from = Next(static_cast<uint32_t>(other.size()));
                    const std::string piece = other.substr(from, 1 + Next(128));
                    s.replace(Next(n), piece.size(), piece);
                }
                break;
            }
            }
        }
        return s;
    }

private:
    std::mt19937 rng_;
};

// ---------------------------------------------------------------------------
// Targets. Each returns a small "interesting outcome" count for the report.

int RunZip(const BYTE* data, size_t size) {
    int outcomes = 0;
    ZRESULT r = 0;
    const nq::unique_any<ZipHandle, &ZipClose> zip(ZipOpenMemory(data, static_cast<DWORD>(size), "pw", &r));
    const ZipHandle h = zip.get();
    if (!h) return 0;
    ++outcomes;
    ZipEntryInfo all;
    ZipGetItem(h, -1, &all);
    const int count = all.index < 64 ? all.index : 64;
    for (int i = 0; i < count; ++i) {
        ZipEntryInfo e;
        if (ZipGetItem(h, i, &e) != ZR_OK) continue;
        int index = -1;
        ZipFindItem(h, e.name, true, &index, nullptr);
        ZipFindItem(h, e.name, false, &index, &e);
        const DWORD cap = e.unc_size < 256 * 1024 ? e.unc_size : 256 * 1024;
        GuardedBuffer out(cap ? cap : 1);
        if (!out.ok()) continue;
        // Whole entry in pieces; a small first buffer exercises resumption.
        DWORD piece = cap > 7 ? 7 : cap;
        for (int call = 0; call < 64; ++call) {
            const ZRESULT u = ZipUnzipItem(h, i, out.data() + (cap - piece), piece);
            if (u == ZR_OK) ++outcomes;
            if (u != ZR_MORE) break;
            piece = cap;
        }
    }
    int index = -1;
    ZipFindItem(h, L"Layout/Layout.xml", true, &index, nullptr);
    ZipFindItem(h, L"secret.txt", false, &index, nullptr);
    return outcomes;
}

int RunMarkup(const BYTE* data, size_t size, int encoding) {
    SkinUI::CMarkup m;
    if (!m.LoadFromMemory(data, size, encoding)) {
        volatile size_t n = m.LastErrorMessage().size() + m.LastErrorLocation().size();
        (void)n;
        return 0;
    }
    size_t touched = 0;
    for (int i = 1; i < m.NodeCount(); ++i) {
        touched += std::wcslen(m.Name(i)) + std::wcslen(m.Value(i));
        for (int a = 0; a < m.AttributeCount(i); ++a)
            touched += std::wcslen(m.AttributeName(i, a)) + std::wcslen(m.AttributeValue(i, a));
        touched += std::wcslen(m.AttributeValue(i, L"name"));
    }
    for (SkinUI::CMarkupNode n = m.GetRoot(); n.IsValid(); n = n.GetChild()) touched += n.GetAttributeCount();
    return touched > 0 ? 1 : 0;
}

int RunBuilder(const BYTE* data, size_t size, int variant) {
    // A manager without a window: builds, lays out and paints into memory.
    SkinUI::CPaintManagerUI pm;
    if (variant == 1) pm.SetDpi(144);
    SkinUI::CLayoutBuilder builder;
    if (!builder.GetMarkup()->LoadFromMemory(data, size, SkinUI::XMLFILE_ENCODING_UTF8)) return 0;
    SkinUI::CControlUI* root = builder.Build(nullptr, &pm, nullptr);
    if (!root) return 0;
    pm.AttachRoot(root);
    static const nq::unique_hdc dc(::CreateCompatibleDC(nullptr));
    static BYTE* bits = nullptr;
    static const nq::unique_hbitmap bmp = SkinUI::CreateDib32(nullptr, 64, 48, &bits);
    {
        const nq::scoped_select selected(dc.get(), bmp.get());
        pm.PaintTo(dc.get(), RECT{0, 0, 64, 48});
        pm.LayoutTo(RECT{0, 0, 7, 300});
    }
    pm.ProcessQueuedWork();
    return 1;
}

int RunImage(const BYTE* data, size_t size, int variant) {
    int outcomes = 0;
    SkinUI::DecodedPixels pixels;
    if (SkinUI::DecodeRaster(data, size, pixels)) {
        ++outcomes;
        if (pixels.width * pixels.height <= 256 * 256)
            SkinUI::MakeImageFromRGBA(pixels.rgba.get(), pixels.width, pixels.height, 0xFF000000u);
    }
    float w = 0, h = 0;
    if (SkinUI::SvgIntrinsicSize(data, size, w, h)) {
        ++outcomes;
        // Rendering is bounded by the decoder's own limits; the fuzzer keeps
        // each render small so that many inputs fit in the time.
        const float scale = variant ? 1.5f : 1.0f;
        if (w * h * scale * scale <= 512.0f * 512.0f) {
            if (SkinUI::DecodeSvg(data, size, scale, pixels)) ++outcomes;
        }
    }
    return outcomes;
}

// ---------------------------------------------------------------------------
// Failure reporting

std::string g_target;
const std::string* g_current = nullptr;
std::atomic<DWORD> g_iterationStart{0};
std::atomic<bool> g_running{true};
DWORD g_hangLimitMs = 30000;

void SaveCurrent(const char* why) {
    const std::string name = "ui_fuzz_" + g_target + "_failure.bin";
    if (FILE* f = std::fopen(name.c_str(), "wb")) {
        if (g_current) std::fwrite(g_current->data(), 1, g_current->size(), f);
        std::fclose(f);
    }
    std::fprintf(stderr, "ui_fuzz: %s; input saved to %s (%u bytes)\n", why, name.c_str(),
                 g_current ? static_cast<unsigned>(g_current->size()) : 0u);
    std::fflush(stderr);
}

LONG WINAPI OnCrash(EXCEPTION_POINTERS* info) {
    char why[128];
    std::snprintf(why, sizeof why, "exception 0x%08lx at %p", info->ExceptionRecord->ExceptionCode,
                  info->ExceptionRecord->ExceptionAddress);
    SaveCurrent(why);
    ::ExitProcess(2);
}

DWORD WINAPI Watchdog(void*) {
    while (g_running.load()) {
        ::Sleep(200);
        const DWORD start = g_iterationStart.load();
        if (start && ::GetTickCount() - start > g_hangLimitMs) {
            SaveCurrent("input took longer than the hang limit");
            ::ExitProcess(3);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string target = "zip";
    unsigned long iterations = 1000, seconds = 5, seed = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--target") target = argv[i + 1];
        else if (key == "--iterations") iterations = std::strtoul(argv[i + 1], nullptr, 10);
        else if (key == "--seconds") seconds = std::strtoul(argv[i + 1], nullptr, 10);
        else if (key == "--seed") seed = std::strtoul(argv[i + 1], nullptr, 10);
        else if (key == "--hang-ms") g_hangLimitMs = std::strtoul(argv[i + 1], nullptr, 10);
    }
    std::vector<std::string> corpus;
    if (target == "zip") corpus = ZipSeeds();
    else if (target == "markup") corpus = MarkupSeeds();
    else if (target == "image") corpus = ImageSeeds();
    else if (target == "builder") corpus = BuilderSeeds();
    else {
        std::fprintf(stderr, "usage: ui_fuzz --target zip|markup|image|builder [--iterations N] [--seconds S] [--seed X]\n");
        return 64;
    }
    g_target = target;
    ::SetUnhandledExceptionFilter(OnCrash);
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    const nq::unique_handle watchdog(::CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr));

    Mutator mutator(static_cast<uint32_t>(seed));
    const DWORD begin = ::GetTickCount();
    unsigned long done = 0, outcomes = 0;
    DWORD slowest = 0;
    for (; done < iterations; ++done) {
        if (::GetTickCount() - begin >= seconds * 1000) break;
        // The unmutated seeds first, then mutations.
        const std::string input = done < corpus.size() ? corpus[done] : mutator.Mutate(corpus);
        g_current = &input;
        GuardedBuffer buf(input.size() ? input.size() : 1);
        if (!buf.ok()) continue;
        if (!input.empty()) std::memcpy(buf.data(), input.data(), input.size());
        const DWORD t0 = ::GetTickCount();
        g_iterationStart.store(t0 ? t0 : 1);
        if (target == "zip") outcomes += RunZip(buf.data(), input.size());
        else if (target == "markup") outcomes += RunMarkup(buf.data(), input.size(), static_cast<int>(done % 3));
        else if (target == "builder") outcomes += RunBuilder(buf.data(), input.size(), static_cast<int>(done % 2));
        else outcomes += RunImage(buf.data(), input.size(), static_cast<int>(done % 2));
        g_iterationStart.store(0);
        const DWORD took = ::GetTickCount() - t0;
        if (took > slowest) slowest = took;
    }
    g_running.store(false);
    if (watchdog) ::WaitForSingleObject(watchdog.get(), 2000);
    const DWORD elapsed = ::GetTickCount() - begin;
    std::printf("ui_fuzz target=%s seed=%lu iterations=%lu elapsed_ms=%lu slowest_ms=%lu outcomes=%lu\n",
                target.c_str(), seed, done, static_cast<unsigned long>(elapsed), static_cast<unsigned long>(slowest),
                outcomes);
    return 0;
}
