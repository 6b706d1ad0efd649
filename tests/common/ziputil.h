// Builders of test archives and images, written in memory: ZIP packages with
// every knob the reader's edge cases need, PNG and BMP files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ziputil {

struct Entry {
    std::string name;                // stored bytes of the name
    std::string data;                // uncompressed content
    bool deflate = true;             // method 8, else 0 (stored)
    std::string password;            // non-empty: traditional encryption
    bool descriptor = false;         // general-purpose flag bit 3 (sizes in a data descriptor)
    uint16_t madeBy = 0x0014;        // host 0 (FAT), version 2.0
    uint32_t externalAttr = 0x20;    // archive
    uint16_t dosTime = 0x6000;       // 12:00:00
    uint16_t dosDate = 0x5821;       // 2024-01-01
    std::string centralExtra;        // extra field of the directory record
    std::string localExtra;          // extra field of the local header
    int methodOverride = -1;         // stored method number written instead of 0/8
    int localMethodOverride = -1;    // a different method in the local header only
    int64_t uncSizeOverride = -1;    // size claimed in both headers
    int64_t compSizeOverride = -1;
};

struct Options {
    std::string prefix;              // bytes in front of the archive
    std::string comment;             // archive comment
    int entryCountOverride = -1;     // "entries on this disk" field
    int diskNumber = 0;
};

std::string BuildZip(const std::vector<Entry>& entries, const Options& options = {});
std::string RawDeflate(const std::string& data);
// "UT" extended time stamp block with the given flag byte and times.
std::string ExtendedTime(uint8_t flags, const std::vector<uint32_t>& times);

// PNG (colour type 6, 8 bits) of straight-alpha RGBA pixels.
std::string EncodePng(int width, int height, const std::vector<uint8_t>& rgba);
// Baseline grey JPEG, 8 pixels high, of flat 8 x 8 blocks side by side (one
// value per block; DC coefficients only).
std::string EncodeFlatGrayJpeg(const std::vector<uint8_t>& blockValues);
// 24-bit BMP of RGB pixels.
std::string EncodeBmp24(int width, int height, const std::vector<uint8_t>& rgb);

}  // namespace ziputil
