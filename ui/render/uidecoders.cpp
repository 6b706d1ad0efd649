// The one translation unit that holds the stb_image and nanosvg implementations.
#include "ui/render/uidecoders.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_ONLY_GIF
#define STBI_NO_STDIO
#define STBI_MAX_DIMENSIONS 16384
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

// nanosvg reads colours with sscanf ("#%2x%2x%2x", "rgb(%u, %u, %u)" and the
// like): the system C library's sscanf reads these formats as the C99 one
// does, and the engine then carries no C99 scanner (16 KB).
#define sscanf __ms_sscanf
#define NANOSVG_IMPLEMENTATION
#include <nanosvg.h>
#define NANOSVGRAST_IMPLEMENTATION
#include <nanosvgrast.h>
#undef sscanf

namespace SkinUI {
namespace {

struct SvgImageDeleter {
    void operator()(NSVGimage* p) const { nsvgDelete(p); }
};
struct SvgRasterDeleter {
    void operator()(NSVGrasterizer* p) const { nsvgDeleteRasterizer(p); }
};

std::unique_ptr<NSVGimage, SvgImageDeleter> ParseSvg(const BYTE* data, size_t size) {
    if (!data || size == 0 || size > 0x7fffffff) return nullptr;
    // The parser works in place on a NUL-terminated copy.
    std::unique_ptr<char[]> text(new (std::nothrow) char[size + 1]);
    if (!text) return nullptr;
    std::memcpy(text.get(), data, size);
    text[size] = 0;
    return std::unique_ptr<NSVGimage, SvgImageDeleter>(nsvgParse(text.get(), "px", 96.0f));
}

}  // namespace

void DecodedPixelsFree::operator()(BYTE* p) const { stbi_image_free(p); }

bool DecodeRaster(const BYTE* data, size_t size, DecodedPixels& out) {
    out = DecodedPixels{};
    if (!data || size == 0 || size > 0x7fffffff) return false;
    int w = 0, h = 0, channels = 0;
    // Refuse oversized images before anything is allocated for them.
    if (!stbi_info_from_memory(data, static_cast<int>(size), &w, &h, &channels)) return false;
    if (w <= 0 || h <= 0 || static_cast<size_t>(w) * static_cast<size_t>(h) > kMaxImagePixels) return false;
    // The decoder's own buffer is handed on as it is.
    std::unique_ptr<BYTE[], DecodedPixelsFree> pixels(
        stbi_load_from_memory(data, static_cast<int>(size), &w, &h, &channels, 4));
    if (!pixels || w <= 0 || h <= 0) return false;
    if (static_cast<size_t>(w) * static_cast<size_t>(h) > kMaxImagePixels) return false;
    out.rgba = std::move(pixels);
    out.width = w;
    out.height = h;
    return true;
}

bool SvgIntrinsicSize(const BYTE* data, size_t size, float& width, float& height) {
    auto doc = ParseSvg(data, size);
    if (!doc) return false;
    width = doc->width;
    height = doc->height;
    return true;
}

bool DecodeSvg(const BYTE* data, size_t size, float scale, DecodedPixels& out) {
    out = DecodedPixels{};
    auto doc = ParseSvg(data, size);
    if (!doc || !(scale > 0.0f)) return false;
    // Target size: truncate(truncate(intrinsic) * scale).
    const double iw = std::trunc(static_cast<double>(doc->width));
    const double ih = std::trunc(static_cast<double>(doc->height));
    const double tw = std::trunc(iw * scale);
    const double th = std::trunc(ih * scale);
    if (!(tw >= 1.0 && th >= 1.0) || tw > kMaxImageSide || th > kMaxImageSide) return false;
    const int w = static_cast<int>(tw), h = static_cast<int>(th);
    if (static_cast<size_t>(w) * static_cast<size_t>(h) > kMaxImagePixels) return false;
    std::unique_ptr<NSVGrasterizer, SvgRasterDeleter> raster(nsvgCreateRasterizer());
    if (!raster) return false;
    const size_t bytes = static_cast<size_t>(w) * h * 4;
    out.rgba.reset(static_cast<BYTE*>(STBI_MALLOC(bytes)));  // freed as the raster decoder's pixels are
    if (!out.rgba) return false;
    std::memset(out.rgba.get(), 0, bytes);  // transparent background
    nsvgRasterize(raster.get(), doc.get(), 0, 0, scale, out.rgba.get(), w, h, w * 4);
    out.width = w;
    out.height = h;
    return true;
}

}  // namespace SkinUI
