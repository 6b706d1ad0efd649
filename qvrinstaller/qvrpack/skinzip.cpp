#include "skinzip.h"

#include <zlib.h>

#include <cstring>

#include "lebytes.h"
#include "packerror.h"

namespace qvrpack {

using namespace le;

namespace {

Bytes RawDeflate(const Bytes& data) {
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw PackError(kExitInput, "cannot start the skin compressor");
    Bytes out(deflateBound(&z, static_cast<uLong>(data.size())));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) throw PackError(kExitInput, "cannot compress the skin");
    return out;
}

}  // namespace

Bytes ZipFolder(const std::wstring& root, uint32_t dosDateTime) {
    Bytes zip, directory;
    uint32_t count = 0;
    for (const FolderEntry& e : ListFolder(root)) {
        if (e.directory) continue;
        const Bytes data = ReadWholeFile(e.full, "skin file");
        const std::string name = WideToUtf8(e.relative);
        if (name.size() > 0xFFFF || data.size() > 0x7FFFFFFF)
            throw PackError(kExitInput, "skin file " + name + " is too large for a skin package");
        const uint32_t crc = crc32(0, data.data(), static_cast<uInt>(data.size()));
        Bytes packed = RawDeflate(data);
        const bool stored = packed.size() >= data.size();
        if (stored) packed = data;
        const uint32_t offset = static_cast<uint32_t>(zip.size());
        for (Bytes* h : {&zip, &directory}) {
            const bool central = h == &directory;
            Put32(*h, central ? 0x02014b50 : 0x04034b50);
            if (central) Put16(*h, 20);  // made by: MS-DOS attributes, version 2.0
            Put16(*h, 20);               // needed to extract
            Put16(*h, 0x0800);           // names in UTF-8
            Put16(*h, stored ? 0 : 8);
            Put32(*h, dosDateTime);
            Put32(*h, crc);
            Put32(*h, static_cast<uint32_t>(packed.size()));
            Put32(*h, static_cast<uint32_t>(data.size()));
            Put16(*h, static_cast<uint32_t>(name.size()));
            Put16(*h, 0);  // extra
            if (central) {
                Put16(*h, 0);     // comment
                Put16(*h, 0);     // disk
                Put16(*h, 0);     // internal attributes
                Put32(*h, 0x20);  // archive
                Put32(*h, offset);
            }
            h->insert(h->end(), name.begin(), name.end());
        }
        zip.insert(zip.end(), packed.begin(), packed.end());
        if (zip.size() > 0x7FFFFFFF) throw PackError(kExitInput, "the skin is too large for a skin package");
        count++;
    }
    if (count == 0) throw PackError(kExitInput, "skin folder " + WideToUtf8(root) + " holds no files");
    if (count > 0xFFFF) throw PackError(kExitInput, "the skin holds too many files for a skin package");
    const uint32_t dirOffset = static_cast<uint32_t>(zip.size());
    zip.insert(zip.end(), directory.begin(), directory.end());
    Put32(zip, 0x06054b50);
    Put16(zip, 0);
    Put16(zip, 0);
    Put16(zip, count);
    Put16(zip, count);
    Put32(zip, static_cast<uint32_t>(directory.size()));
    Put32(zip, dirOffset);
    Put16(zip, 0);
    return zip;
}

std::vector<std::string> ZipEntryNames(const Bytes& zip, const std::string& what) {
    // The end record: the last signature within the last 64 KiB.
    size_t end = std::string::npos;
    const size_t lowest = zip.size() > 65557 ? zip.size() - 65557 : 0;
    for (size_t at = zip.size() >= 22 ? zip.size() - 22 + 1 : 0; at-- > lowest;) {
        if (Get32(zip, at) == 0x06054b50) {
            end = at;
            break;
        }
    }
    if (end == std::string::npos) throw PackError(kExitInput, what + " is not a ZIP package");
    const uint32_t entries = Get16(zip, end + 10), dirSize = Get32(zip, end + 12), dirOffset = Get32(zip, end + 16);
    if (Get16(zip, end + 4) != 0 || Get16(zip, end + 6) != 0 || entries != Get16(zip, end + 8) ||
        dirOffset == 0xFFFFFFFF || uint64_t{dirOffset} + dirSize > end)
        throw PackError(kExitInput, what + " is a ZIP package the installer cannot read (multi-volume or ZIP64)");
    // Data in front of the package shifts every offset; the reader allows for it.
    size_t at = end - dirSize;
    std::vector<std::string> names;
    for (uint32_t i = 0; i < entries; i++) {
        if (at + 46 > end || Get32(zip, at) != 0x02014b50)
            throw PackError(kExitInput, what + " has a damaged ZIP directory");
        const uint32_t method = Get16(zip, at + 10);
        const size_t nameLen = Get16(zip, at + 28), extraLen = Get16(zip, at + 30), commentLen = Get16(zip, at + 32);
        if (at + 46 + nameLen > end) throw PackError(kExitInput, what + " has a damaged ZIP directory");
        std::string name(reinterpret_cast<const char*>(zip.data() + at + 46), nameLen);
        if (method != 0 && method != 8)
            throw PackError(kExitInput, what + ": entry " + name + " is compressed with method " + std::to_string(method) +
                                            "; the installer reads stored and deflated entries");
        names.push_back(std::move(name));
        at += 46 + nameLen + extraLen + commentLen;
    }
    return names;
}

}  // namespace qvrpack
