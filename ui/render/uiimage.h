// Skin images: the image attribute syntax, DPI-specific file selection, the
// decoding of SVG, PNG, JPEG, BMP and GIF into premultiplied 32-bit DIBs, and
// the caches a paint manager keeps of both.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <unordered_map>

#include "nqpublic/nqbase/nqhandle.h"
#include "ui/core/uidpi.h"

namespace SkinUI {

// One parsed image attribute ("Image/a.png" or "file='Image/a.svg' source='0,0,14,14' ...").
struct ImageDrawInfo {
    std::wstring imageString;   // the attribute text as written
    std::wstring modifyString;  // a second text whose keys override the first
    std::wstring imageName;     // file name (or resource id text) after DPI selection
    std::wstring resType;       // non-empty: a module resource of this type
    RECT dest = {};             // relative to the control; all zero = the control rectangle
    RECT source = {};           // part of the image; all zero = whole image
    RECT corner = {};           // nine-grid widths: left, top, right, bottom
    DWORD mask = 0;             // pixel value made transparent on load
    BYTE fade = 255;            // constant alpha of the blit
    bool hole = false;          // skip the middle of the nine-grid
    bool xtiled = false;        // tile the middle instead of stretching it
    bool ytiled = false;
    bool hsl = false;
    SIZE iconSize = {};
    std::wstring iconAlign;
    bool dpiSelected = false;   // imageName is the DPI-specific variant
};

// One decoded image.
struct ImageInfo {
    nq::unique_hbitmap bitmap;          // 32-bit top-down DIB, premultiplied BGRA
    BYTE* bits = nullptr;               // the DIB's pixels
    std::unique_ptr<BYTE[]> srcBits;    // unadjusted copy kept for HSL adjustment
    int width = 0;
    int height = 0;
    bool alpha = false;                 // some pixel is not opaque (or was masked)
    bool useHSL = false;
    std::wstring resType;
    DWORD mask = 0;

    HBITMAP hBitmap() const { return bitmap.get(); }
};

// Splits an image attribute into its keys (sorted, case-sensitive; a later
// duplicate replaces an earlier one). A bare file name gives an empty map.
std::map<std::wstring, std::wstring> SplitImageAttribute(const std::wstring& text);

// Fills `info` from the two attribute texts. `dpi` (the manager's scale; null
// without a manager) selects DPI-specific files and scales rectangles.
void ParseImageAttribute(ImageDrawInfo& info, const std::wstring& image, const std::wstring& modify,
                         const CDpiScale* dpi);

// Loads and decodes one image: a skin file name (read through the skin package
// with the disk fallbacks), or a decimal resource id when `resType` is given.
// Names containing ".svg" are rendered; "name@150.svg" renders "name.svg" at 1.5.
// Null when the bytes cannot be read or decoded.
std::unique_ptr<ImageInfo> LoadSkinImage(const std::wstring& name, const std::wstring& resType, DWORD mask,
                                         HINSTANCE instance);

// Decoding of bytes already in memory (for tests and callers with their own
// bytes). `svgScale` is used for SVG data only.
std::unique_ptr<ImageInfo> DecodeSkinImage(const BYTE* data, size_t size, bool svg, float svgScale, DWORD mask);

// A 32-bit top-down DIB section (compatible with `dc`, or with the screen when
// null); `bits` receives its pixels. Empty on failure, with `bits` null.
nq::unique_hbitmap CreateDib32(HDC dc, int width, int height, BYTE** bits);

// Converts straight-alpha RGBA pixels into a new premultiplied BGRA DIB and
// applies the mask.
std::unique_ptr<ImageInfo> MakeImageFromRGBA(const BYTE* rgba, int width, int height, DWORD mask);

// Images keyed by name exactly as requested (after DPI selection).
class CImageCache {
public:
    ImageInfo* Find(const std::wstring& name) const;
    // Stores the record, freeing any record under the same name.
    ImageInfo* Add(const std::wstring& name, std::unique_ptr<ImageInfo> image);
    bool Remove(const std::wstring& name);
    void Clear() { map_.clear(); }
    size_t Size() const { return map_.size(); }

private:
    std::unordered_map<std::wstring, std::unique_ptr<ImageInfo>> map_;
};

// The process-wide shared images (freed by the framework's shutdown).
CImageCache& SharedImageCache();

// Parsed attributes keyed by image string and modify string. Rectangles are
// already DPI-scaled, so the cache is emptied whenever the DPI changes.
class CDrawInfoCache {
public:
    const ImageDrawInfo& Get(const std::wstring& image, const std::wstring& modify, const CDpiScale* dpi);
    void Clear() { map_.clear(); }
    size_t Size() const { return map_.size(); }

private:
    std::unordered_map<std::wstring, std::unique_ptr<ImageDrawInfo>> map_;
};

}  // namespace SkinUI
