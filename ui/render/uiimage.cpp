#include "ui/render/uiimage.h"

#include <cstring>
#include <new>

#include "nqpublic/nqbase/log/nqbaselog.h"
#include "ui/core/uiskinfile.h"
#include "ui/core/uivalue.h"
#include "ui/render/uidecoders.h"
#include "ui/core/uitext.h"

namespace SkinUI {

// ---------------------------------------------------------------------------
// Attribute syntax

std::map<std::wstring, std::wstring> SplitImageAttribute(const std::wstring& s) {
    std::map<std::wstring, std::wstring> keys;
    const size_t n = s.size();
    size_t pos = 0;
    auto isQuote = [](wchar_t c) { return c == L'\'' || c == L'"'; };
    while (pos < n) {
        // 1. The key: quoted, or up to the next '='.
        size_t keyStart, keyEnd;
        if (isQuote(s[pos])) {
            keyStart = pos + 1;
            keyEnd = s.find(s[pos], keyStart);
        } else {
            keyStart = pos;
            keyEnd = s.find(L'=', pos);
        }
        if (keyEnd == std::wstring::npos) break;
        // 2. The value after the '='.
        const size_t eq = s.find(L'=', keyEnd);
        if (eq == std::wstring::npos || eq + 1 >= n) break;
        size_t v = eq + 1;
        std::wstring value;
        if (isQuote(s[v])) {
            if (v + 2 >= n) break;  // the quote is the last or next-to-last character
            const size_t end = s.find(s[v], v + 1);
            if (end == std::wstring::npos) break;
            value = s.substr(v + 1, end - v - 1);
            pos = end + 1;
            if (pos < n && s[pos] == L' ') ++pos;  // exactly one space after a quoted value
        } else {
            if (s[v] == L' ') ++v;  // one space right after '='
            size_t end = s.find(L' ', v);
            // An unquoted value may run to the end of the text: the last value
            // of "file=a.png fade=10" is kept, not lost for want of a space.
            if (end == std::wstring::npos) end = n;
            value = s.substr(v, end - v);
            pos = end + 1;
        }
        // 3. Store; a later duplicate replaces an earlier one.
        keys[s.substr(keyStart, keyEnd - keyStart)] = value;
    }
    return keys;
}

void ParseImageAttribute(ImageDrawInfo& info, const std::wstring& image, const std::wstring& modify,
                         const CDpiScale* dpi) {
    info = ImageDrawInfo{};
    // 1. Both texts; the name starts as the whole image text.
    info.imageString = image;
    info.modifyString = modify;
    info.imageName = image;
    const std::map<std::wstring, std::wstring> maps[2] = {SplitImageAttribute(image), SplitImageAttribute(modify)};

    // 2. "file" and "res" name the image.
    for (const auto& keys : maps)
        for (const auto& [key, value] : keys)
            if (key == L"file" || key == L"res") info.imageName = value;

    // 3. DPI selection: "a.png" at 150 % is "a@150.png" when that file exists;
    //    SVG names always take the scaled form (rendered at that scale).
    const int percent = dpi ? dpi->GetScale() : 100;
    if (dpi && percent != 100) {
        const size_t dot = info.imageName.find(L'.');
        if (dot != std::wstring::npos) {
            std::wstring scaled = info.imageName.substr(0, dot) + L"@" + SkinUI::DecimalText(percent) + L"." +
                                  info.imageName.substr(dot + 1);
            if (scaled.find(L".svg") != std::wstring::npos || CSkinPackage::SkinFileExists(scaled)) {
                info.imageName = std::move(scaled);
                info.dpiSelected = true;
            }
        }
    }

    // 4. The other keys, in key order, image text first; the percent-specific
    //    "dest%d"/"source%d" sort after their plain forms and so win.
    const std::wstring destKey = dpi ? L"dest" + SkinUI::DecimalText(percent) : std::wstring();
    const std::wstring sourceKey = dpi ? L"source" + SkinUI::DecimalText(percent) : std::wstring();
    for (const auto& keys : maps) {
        for (const auto& [key, value] : keys) {
            const wchar_t* v = value.c_str();
            if (key == L"restype") {
                info.resType = value;
            } else if (key == L"dest") {
                info.dest = ParseRect(v);
                if (dpi) info.dest = dpi->Scale(info.dest);
            } else if (dpi && key == destKey) {
                info.dest = ParseRect(v);
            } else if (key == L"source") {
                info.source = ParseRect(v);
                if (dpi && info.dpiSelected) info.source = dpi->Scale(info.source);
            } else if (dpi && key == sourceKey) {
                info.source = ParseRect(v);
            } else if (key == L"corner") {
                info.corner = ParseRect(v);
                if (dpi && info.dpiSelected) info.corner = dpi->Scale(info.corner);
            } else if (key == L"mask") {
                info.mask = ParseColor(v);
            } else if (key == L"fade") {
                info.fade = static_cast<BYTE>(ParseInt(v));
            } else if (key == L"hole") {
                info.hole = ParseBoolWord(v);
            } else if (key == L"xtiled") {
                info.xtiled = ParseBoolWord(v);
            } else if (key == L"ytiled") {
                info.ytiled = ParseBoolWord(v);
            } else if (key == L"hsl") {
                info.hsl = ParseBoolWord(v);
            } else if (key == L"iconsize") {
                info.iconSize = ParseSize(v);
            } else if (key == L"iconalign") {
                info.iconAlign = value;
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Decoding

nq::unique_hbitmap CreateDib32(HDC dc, int width, int height, BYTE** bits) {
    *bits = nullptr;
    if (width <= 0 || height <= 0) return nq::unique_hbitmap();
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;  // top-down
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* p = nullptr;
    nq::unique_hbitmap bitmap(::CreateDIBSection(dc, &bmi, DIB_RGB_COLORS, &p, nullptr, 0));
    if (!bitmap || !p) return nq::unique_hbitmap();
    *bits = static_cast<BYTE*>(p);
    return bitmap;
}

std::unique_ptr<ImageInfo> MakeImageFromRGBA(const BYTE* rgba, int width, int height, DWORD mask) {
    if (!rgba || width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide) return nullptr;
    BYTE* out = nullptr;
    nq::unique_hbitmap bitmap = CreateDib32(nullptr, width, height, &out);
    if (!bitmap) {
        TRACE_FAILURE("CreateDIBSection failed.");
        return nullptr;
    }
    auto image = std::make_unique<ImageInfo>();
    const size_t count = static_cast<size_t>(width) * height;
    bool alpha = false;
    for (size_t i = 0; i < count; ++i) {
        const BYTE* s = rgba + i * 4;
        BYTE* d = out + i * 4;
        const BYTE a = s[3];
        d[3] = a;
        if (a == 255) {
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
        } else {
            d[0] = static_cast<BYTE>(s[2] * a / 255);
            d[1] = static_cast<BYTE>(s[1] * a / 255);
            d[2] = static_cast<BYTE>(s[0] * a / 255);
            alpha = true;
        }
        DWORD pixel;
        std::memcpy(&pixel, d, 4);
        if (pixel == mask) {
            std::memset(d, 0, 4);
            alpha = true;
        }
    }
    image->bitmap = std::move(bitmap);
    image->bits = out;
    image->width = width;
    image->height = height;
    image->alpha = alpha;
    image->mask = mask;
    return image;
}

std::unique_ptr<ImageInfo> DecodeSkinImage(const BYTE* data, size_t size, bool svg, float svgScale, DWORD mask) {
    DecodedPixels pixels;
    const bool ok = svg ? DecodeSvg(data, size, svgScale, pixels) : DecodeRaster(data, size, pixels);
    if (!ok) return nullptr;
    return MakeImageFromRGBA(pixels.rgba.get(), pixels.width, pixels.height, mask);
}

std::unique_ptr<ImageInfo> LoadSkinImage(const std::wstring& nameIn, const std::wstring& resType, DWORD mask,
                                         HINSTANCE instance) {
    std::wstring name = nameIn;
    // 1. SVG names: "x@150.svg" is "x.svg" rendered at 1.5.
    const bool svg = name.find(L".svg") != std::wstring::npos;
    float scale = 1.0f;
    if (svg) {
        const size_t at = name.find(L'@');
        const size_t dot = name.find(L'.');
        if (at != std::wstring::npos && dot != std::wstring::npos && dot > at + 1) {
            const std::wstring percent = name.substr(at + 1, dot - at - 1);
            scale = static_cast<float>(ParseInt(percent.c_str())) / 100.0f;
            const std::wstring tag = L"@" + percent;
            for (size_t p; (p = name.find(tag)) != std::wstring::npos;) name.erase(p, tag.size());
        }
        if (scale <= 0.0f) return nullptr;
    }

    // 2. The bytes: a skin file, or a module resource by decimal id.
    SkinFileBytes file;
    const BYTE* data = nullptr;
    size_t size = 0;
    if (resType.empty()) {
        if (CSkinPackage::ReadSkinFile(name, SkinFileUse::Image, file)) {
            data = file.data.get();
            size = file.size;
        }
    } else {
        if (name.empty() || name[0] < L'0' || name[0] > L'9') return nullptr;
        // Resource ids are 16-bit: a larger number would wrap onto another id.
        unsigned id = 0;
        for (size_t i = 0; i < name.size() && name[i] >= L'0' && name[i] <= L'9' && id <= 0xFFFF; ++i)
            id = id * 10 + static_cast<unsigned>(name[i] - L'0');
        if (id == 0 || id > 0xFFFF) return nullptr;
        HRSRC res = ::FindResourceW(instance, MAKEINTRESOURCEW(id), resType.c_str());
        if (!res) return nullptr;
        HGLOBAL global = ::LoadResource(instance, res);
        const DWORD resSize = ::SizeofResource(instance, res);
        if (!global || !resSize) return nullptr;
        data = static_cast<const BYTE*>(::LockResource(global));
        size = resSize;
        if (!data) return nullptr;
    }

    // 3-5. Decode into a premultiplied DIB. (A file name the package lacks was
    //      already looked for on disk by ReadSkinFile, SVG or not.)
    if (!data) return nullptr;
    std::unique_ptr<ImageInfo> image = DecodeSkinImage(data, size, svg, scale, mask);
    if (image) image->resType = resType;
    return image;
}

// ---------------------------------------------------------------------------
// Caches

ImageInfo* CImageCache::Find(const std::wstring& name) const {
    const auto it = map_.find(name);
    return it == map_.end() ? nullptr : it->second.get();
}

ImageInfo* CImageCache::Add(const std::wstring& name, std::unique_ptr<ImageInfo> image) {
    if (!image) return nullptr;
    auto& slot = map_[name];
    slot = std::move(image);  // frees a record under the same name
    return slot.get();
}

bool CImageCache::Remove(const std::wstring& name) { return map_.erase(name) > 0; }

CImageCache& SharedImageCache() {
    static CImageCache shared;
    return shared;
}

const ImageDrawInfo& CDrawInfoCache::Get(const std::wstring& image, const std::wstring& modify, const CDpiScale* dpi) {
    std::wstring key;
    key.reserve(image.size() + modify.size() + 1);
    key += image;
    key += L'\x01';  // keeps ("ab", "c") apart from ("a", "bc")
    key += modify;
    auto& slot = map_[key];
    if (!slot) {
        slot = std::make_unique<ImageDrawInfo>();
        ParseImageAttribute(*slot, image, modify, dpi);
    }
    return *slot;
}

}  // namespace SkinUI
