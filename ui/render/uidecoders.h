// Raster and SVG decoders behind the skin image loader. Both produce
// straight-alpha RGBA pixels.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>

namespace SkinUI {

// Largest width or height of a decoded or rendered image.
constexpr int kMaxImageSide = 16384;
// Largest pixel count (width * height) of one image: 16 Mpixel (64 MiB of RGBA).
constexpr size_t kMaxImagePixels = 16u * 1024u * 1024u;

// Frees pixels with the decoders' allocator.
struct DecodedPixelsFree {
    void operator()(BYTE* p) const;
};

struct DecodedPixels {
    std::unique_ptr<BYTE[], DecodedPixelsFree> rgba;
    int width = 0;
    int height = 0;
};

// PNG, JPEG, BMP and GIF (first frame) to 8-bit RGBA.
bool DecodeRaster(const BYTE* data, size_t size, DecodedPixels& out);
// An SVG document rendered at `scale` times its intrinsic size on a
// transparent background: truncate(truncate(width) * scale) by the same for height.
bool DecodeSvg(const BYTE* data, size_t size, float scale, DecodedPixels& out);
// Intrinsic size of an SVG document; false when it cannot be parsed.
bool SvgIntrinsicSize(const BYTE* data, size_t size, float& width, float& height);

}  // namespace SkinUI
