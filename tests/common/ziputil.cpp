#include "tests/common/ziputil.h"

#include <zlib.h>

namespace ziputil {
namespace {

void Put16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xff);
    s += static_cast<char>((v >> 8) & 0xff);
}
void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xffff);
    Put16(s, v >> 16);
}

class Keys {
public:
    explicit Keys(const std::string& password) {
        for (char c : password) Update(static_cast<uint8_t>(c));
    }
    uint8_t Encrypt(uint8_t plain) {
        const uint16_t t = static_cast<uint16_t>((k2_ & 0xffff) | 2);
        const uint8_t c = static_cast<uint8_t>(plain ^ static_cast<uint8_t>((t * (t ^ 1)) >> 8));
        Update(plain);
        return c;
    }

private:
    void Update(uint8_t c) {
        const z_crc_t* table = get_crc_table();
        k0_ = table[(k0_ ^ c) & 0xff] ^ (k0_ >> 8);
        k1_ = (k1_ + (k0_ & 0xff)) * 134775813u + 1;
        k2_ = table[(k2_ ^ static_cast<uint8_t>(k1_ >> 24)) & 0xff] ^ (k2_ >> 8);
    }
    uint32_t k0_ = 0x12345678, k1_ = 0x23456789, k2_ = 0x34567890;
};

}  // namespace

std::string RawDeflate(const std::string& data) {
    z_stream zs = {};
    deflateInit2(&zs, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, static_cast<uLong>(data.size())) + 16, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

std::string ExtendedTime(uint8_t flags, const std::vector<uint32_t>& times) {
    std::string block;
    Put16(block, 0x5455);
    Put16(block, static_cast<uint32_t>(1 + 4 * times.size()));
    block += static_cast<char>(flags);
    for (uint32_t t : times) Put32(block, t);
    return block;
}

std::string BuildZip(const std::vector<Entry>& entries, const Options& options) {
    std::string archive;  // without the prefix: offsets count from here
    std::string central;
    for (const Entry& e : entries) {
        const uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size()));
        std::string body = e.deflate ? RawDeflate(e.data) : e.data;
        uint16_t flags = 0;
        if (e.descriptor) flags |= 0x08;
        if (!e.password.empty()) {
            flags |= 0x01;
            Keys keys(e.password);
            std::string enc;
            for (int i = 0; i < 11; ++i) enc += static_cast<char>(keys.Encrypt(static_cast<uint8_t>(0x5a + 7 * i)));
            const uint8_t check = e.descriptor ? static_cast<uint8_t>(e.dosTime >> 8) : static_cast<uint8_t>(crc >> 24);
            enc += static_cast<char>(keys.Encrypt(check));
            for (char c : body) enc += static_cast<char>(keys.Encrypt(static_cast<uint8_t>(c)));
            body = enc;
        }
        const uint16_t method = static_cast<uint16_t>(e.methodOverride >= 0 ? e.methodOverride : (e.deflate ? 8 : 0));
        const uint16_t localMethod = static_cast<uint16_t>(e.localMethodOverride >= 0 ? e.localMethodOverride : method);
        const uint32_t compSize = static_cast<uint32_t>(e.compSizeOverride >= 0 ? e.compSizeOverride : body.size());
        const uint32_t uncSize = static_cast<uint32_t>(e.uncSizeOverride >= 0 ? e.uncSizeOverride : e.data.size());
        const uint32_t localOffset = static_cast<uint32_t>(archive.size());

        Put32(archive, 0x04034b50);
        Put16(archive, 20);
        Put16(archive, flags);
        Put16(archive, localMethod);
        Put16(archive, e.dosTime);
        Put16(archive, e.dosDate);
        Put32(archive, e.descriptor ? 0 : crc);
        Put32(archive, e.descriptor ? 0 : compSize);
        Put32(archive, e.descriptor ? 0 : uncSize);
        Put16(archive, static_cast<uint32_t>(e.name.size()));
        Put16(archive, static_cast<uint32_t>(e.localExtra.size()));
        archive += e.name;
        archive += e.localExtra;
        archive += body;
        if (e.descriptor) {
            Put32(archive, 0x08074b50);
            Put32(archive, crc);
            Put32(archive, compSize);
            Put32(archive, uncSize);
        }

        Put32(central, 0x02014b50);
        Put16(central, e.madeBy);
        Put16(central, 20);
        Put16(central, flags);
        Put16(central, method);
        Put16(central, e.dosTime);
        Put16(central, e.dosDate);
        Put32(central, crc);
        Put32(central, compSize);
        Put32(central, uncSize);
        Put16(central, static_cast<uint32_t>(e.name.size()));
        Put16(central, static_cast<uint32_t>(e.centralExtra.size()));
        Put16(central, 0);  // comment
        Put16(central, 0);  // disk
        Put16(central, 0);  // internal attributes
        Put32(central, e.externalAttr);
        Put32(central, localOffset);
        central += e.name;
        central += e.centralExtra;
    }
    const uint32_t dirOffset = static_cast<uint32_t>(archive.size());
    archive += central;
    Put32(archive, 0x06054b50);
    Put16(archive, static_cast<uint32_t>(options.diskNumber));
    Put16(archive, 0);
    Put16(archive, static_cast<uint32_t>(options.entryCountOverride >= 0 ? options.entryCountOverride : entries.size()));
    Put16(archive, static_cast<uint32_t>(entries.size()));
    Put32(archive, static_cast<uint32_t>(central.size()));
    Put32(archive, dirOffset);
    Put16(archive, static_cast<uint32_t>(options.comment.size()));
    archive += options.comment;
    return options.prefix + archive;
}

std::string EncodePng(int width, int height, const std::vector<uint8_t>& rgba) {
    auto chunk = [](std::string& out, const char* type, const std::string& data) {
        std::string c;
        c += type;
        c += data;
        std::string len;
        const uint32_t n = static_cast<uint32_t>(data.size());
        len += static_cast<char>(n >> 24);
        len += static_cast<char>(n >> 16);
        len += static_cast<char>(n >> 8);
        len += static_cast<char>(n);
        const uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(c.data()), static_cast<uInt>(c.size()));
        out += len;
        out += c;
        out += static_cast<char>(crc >> 24);
        out += static_cast<char>(crc >> 16);
        out += static_cast<char>(crc >> 8);
        out += static_cast<char>(crc);
    };
    auto be32 = [](uint32_t v) {
        std::string s;
        s += static_cast<char>(v >> 24);
        s += static_cast<char>(v >> 16);
        s += static_cast<char>(v >> 8);
        s += static_cast<char>(v);
        return s;
    };
    std::string png("\x89PNG\r\n\x1a\n", 8);
    std::string ihdr = be32(static_cast<uint32_t>(width)) + be32(static_cast<uint32_t>(height));
    ihdr += static_cast<char>(8);  // bit depth
    ihdr += static_cast<char>(6);  // RGBA
    ihdr += std::string(3, '\0');
    chunk(png, "IHDR", ihdr);
    std::string raw;
    for (int y = 0; y < height; ++y) {
        raw += '\0';
        raw.append(reinterpret_cast<const char*>(rgba.data()) + static_cast<size_t>(y) * width * 4,
                   static_cast<size_t>(width) * 4);
    }
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::string z(size, '\0');
    compress(reinterpret_cast<Bytef*>(z.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
             static_cast<uLong>(raw.size()));
    z.resize(size);
    chunk(png, "IDAT", z);
    chunk(png, "IEND", "");
    return png;
}

std::string EncodeFlatGrayJpeg(const std::vector<uint8_t>& blockValues) {
    // The standard DC luminance table; the AC table holds only end-of-block ("0").
    const uint8_t dcCounts[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
    const uint8_t acCounts[16] = {1};
    uint32_t dcCode[12];
    int dcLength[12];
    for (int length = 1, code = 0, symbol = 0; length <= 16; ++length, code <<= 1)
        for (int k = 0; k < dcCounts[length - 1]; ++k, ++code, ++symbol) {
            dcCode[symbol] = static_cast<uint32_t>(code);
            dcLength[symbol] = length;
        }
    std::vector<int> bits;
    auto put = [&](uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) bits.push_back((v >> i) & 1);
    };
    int previous = 0;
    for (uint8_t value : blockValues) {
        const int dc = 8 * (value - 128);  // the DC coefficient of a flat block, quantiser 1
        const int diff = dc - previous;
        previous = dc;
        int category = 0;
        for (int a = diff < 0 ? -diff : diff; a; a >>= 1) ++category;
        put(dcCode[category], dcLength[category]);
        if (category) put(static_cast<uint32_t>(diff > 0 ? diff : diff + (1 << category) - 1), category);
        put(0, 1);  // end of block
    }
    while (bits.size() % 8) bits.push_back(1);
    std::string scan;
    for (size_t i = 0; i < bits.size(); i += 8) {
        int b = 0;
        for (int k = 0; k < 8; ++k) b = (b << 1) | bits[i + k];
        scan += static_cast<char>(b);
        if (b == 0xff) scan += '\0';
    }
    auto segment = [](uint8_t marker, const std::string& payload) {
        std::string s("\xff", 1);
        s += static_cast<char>(marker);
        const size_t n = payload.size() + 2;
        s += static_cast<char>(n >> 8);
        s += static_cast<char>(n & 0xff);
        return s + payload;
    };
    const int width = static_cast<int>(blockValues.size()) * 8;
    std::string jpeg("\xff\xd8", 2);
    jpeg += segment(0xdb, std::string(1, '\0') + std::string(64, '\1'));
    std::string sof = "\x08";
    sof += std::string("\x00\x08", 2);
    sof += static_cast<char>(width >> 8);
    sof += static_cast<char>(width & 0xff);
    sof += std::string("\x01\x01\x11\x00", 4);
    jpeg += segment(0xc0, sof);
    std::string dht(1, '\0');
    dht.append(reinterpret_cast<const char*>(dcCounts), 16);
    for (char v = 0; v < 12; ++v) dht += v;
    jpeg += segment(0xc4, dht);
    std::string aht(1, '\x10');
    aht.append(reinterpret_cast<const char*>(acCounts), 16);
    aht += '\0';
    jpeg += segment(0xc4, aht);
    jpeg += segment(0xda, std::string("\x01\x01\x00\x00\x3f\x00", 6));
    jpeg += scan;
    jpeg += std::string("\xff\xd9", 2);
    return jpeg;
}

std::string EncodeBmp24(int width, int height, const std::vector<uint8_t>& rgb) {
    const int stride = (width * 3 + 3) & ~3;
    std::string bmp = "BM";
    Put32(bmp, static_cast<uint32_t>(54 + stride * height));
    Put32(bmp, 0);
    Put32(bmp, 54);
    Put32(bmp, 40);
    Put32(bmp, static_cast<uint32_t>(width));
    Put32(bmp, static_cast<uint32_t>(height));
    Put16(bmp, 1);
    Put16(bmp, 24);
    Put32(bmp, 0);
    Put32(bmp, static_cast<uint32_t>(stride * height));
    Put32(bmp, 2835);
    Put32(bmp, 2835);
    Put32(bmp, 0);
    Put32(bmp, 0);
    for (int y = height - 1; y >= 0; --y) {  // bottom-up rows of BGR
        std::string row;
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = rgb.data() + (static_cast<size_t>(y) * width + x) * 3;
            row += static_cast<char>(p[2]);
            row += static_cast<char>(p[1]);
            row += static_cast<char>(p[0]);
        }
        row.resize(static_cast<size_t>(stride), '\0');
        bmp += row;
    }
    return bmp;
}

}  // namespace ziputil
