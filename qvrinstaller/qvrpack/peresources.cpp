#include "peresources.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <map>

#include "lebytes.h"
#include "packerror.h"

namespace qvrpack {

using namespace le;

namespace {

uint32_t Align(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

// Named entries first, sorted by name; then numbered ones, ascending.
bool Before(const ResId& a, const ResId& b) {
    const bool an = !a.name.empty(), bn = !b.name.empty();
    if (an != bn) return an;
    return an ? a.name < b.name : a.id < b.id;
}

struct Tree {  // type -> name -> language -> resource index
    std::vector<std::pair<ResId, std::vector<std::pair<ResId, std::vector<std::pair<uint16_t, size_t>>>>>> types;
};

}  // namespace

ResId ResId::Text(const std::wstring& s) {
    ResId r;
    r.name = s;
    for (wchar_t& c : r.name) c = static_cast<wchar_t>(std::towupper(c));
    return r;
}

Bytes BuildResourceSection(const std::vector<Resource>& resources, uint32_t sectionRva) {
    Tree tree;
    for (size_t i = 0; i < resources.size(); i++) {
        const Resource& r = resources[i];
        auto t = std::find_if(tree.types.begin(), tree.types.end(), [&](auto& e) {
            return !Before(e.first, r.type) && !Before(r.type, e.first);
        });
        if (t == tree.types.end()) t = tree.types.insert(tree.types.end(), {r.type, {}});
        auto n = std::find_if(t->second.begin(), t->second.end(), [&](auto& e) {
            return !Before(e.first, r.name) && !Before(r.name, e.first);
        });
        if (n == t->second.end()) n = t->second.insert(t->second.end(), {r.name, {}});
        n->second.push_back({r.language, i});
    }
    std::sort(tree.types.begin(), tree.types.end(), [](auto& a, auto& b) { return Before(a.first, b.first); });
    for (auto& t : tree.types) {
        std::sort(t.second.begin(), t.second.end(), [](auto& a, auto& b) { return Before(a.first, b.first); });
        for (auto& n : t.second) std::sort(n.second.begin(), n.second.end());
    }

    // Layout: all directory tables (root, types, names), then the name strings,
    // then the data entries, then the data, each piece 8-byte aligned.
    auto dirSize = [](size_t entries) { return 16 + 8 * entries; };
    uint32_t size = static_cast<uint32_t>(dirSize(tree.types.size()));
    std::vector<uint32_t> typeDir, nameDir;
    for (auto& t : tree.types) {
        typeDir.push_back(size);
        size += static_cast<uint32_t>(dirSize(t.second.size()));
    }
    for (auto& t : tree.types)
        for (auto& n : t.second) {
            nameDir.push_back(size);
            size += static_cast<uint32_t>(dirSize(n.second.size()));
        }
    std::map<std::wstring, uint32_t> strings;
    for (auto& t : tree.types) {
        if (!t.first.name.empty()) strings[t.first.name] = 0;
        for (auto& n : t.second)
            if (!n.first.name.empty()) strings[n.first.name] = 0;
    }
    for (auto& s : strings) {
        s.second = size;
        size += static_cast<uint32_t>(2 + 2 * s.first.size());
    }
    size = Align(size, 8);
    const uint32_t dataEntries = size;
    size += static_cast<uint32_t>(16 * resources.size());
    std::vector<uint32_t> dataAt(resources.size());
    for (size_t i = 0; i < resources.size(); i++) {
        size = Align(size, 8);
        dataAt[i] = size;
        size += static_cast<uint32_t>(resources[i].data.size());
    }
    Bytes out(Align(size, 8), 0);

    auto writeDir = [&](uint32_t at, size_t named, size_t numbered) {
        // characteristics, time stamp and version stay 0
        Set16(out, at + 12, static_cast<uint32_t>(named));
        Set16(out, at + 14, static_cast<uint32_t>(numbered));
    };
    auto writeEntry = [&](uint32_t at, const ResId& id, uint32_t offset, bool subdir) {
        Set32(out, at, id.name.empty() ? id.id : (0x80000000u | strings[id.name]));
        Set32(out, at + 4, offset | (subdir ? 0x80000000u : 0));
    };
    auto counts = [](auto& list) {
        size_t named = 0;
        for (auto& e : list) named += !e.first.name.empty();
        return std::make_pair(named, list.size() - named);
    };
    auto c = counts(tree.types);
    writeDir(0, c.first, c.second);
    size_t nameIndex = 0;
    for (size_t ti = 0; ti < tree.types.size(); ti++) {
        auto& t = tree.types[ti];
        writeEntry(16 + 8 * static_cast<uint32_t>(ti), t.first, typeDir[ti], true);
        auto cn = counts(t.second);
        writeDir(typeDir[ti], cn.first, cn.second);
        for (size_t ni = 0; ni < t.second.size(); ni++, nameIndex++) {
            auto& n = t.second[ni];
            const uint32_t ld = nameDir[nameIndex];
            writeEntry(typeDir[ti] + 16 + 8 * static_cast<uint32_t>(ni), n.first, ld, true);
            writeDir(ld, 0, n.second.size());
            for (size_t li = 0; li < n.second.size(); li++) {
                const size_t r = n.second[li].second;
                writeEntry(ld + 16 + 8 * static_cast<uint32_t>(li), ResId::Number(n.second[li].first),
                           dataEntries + 16 * static_cast<uint32_t>(r), false);
            }
        }
    }
    for (auto& s : strings) {
        Set16(out, s.second, static_cast<uint32_t>(s.first.size()));
        for (size_t i = 0; i < s.first.size(); i++) Set16(out, s.second + 2 + 2 * static_cast<uint32_t>(i), s.first[i]);
    }
    for (size_t i = 0; i < resources.size(); i++) {
        const uint32_t e = dataEntries + 16 * static_cast<uint32_t>(i);
        Set32(out, e, sectionRva + dataAt[i]);
        Set32(out, e + 4, static_cast<uint32_t>(resources[i].data.size()));
        if (!resources[i].data.empty())
            std::memcpy(out.data() + dataAt[i], resources[i].data.data(), resources[i].data.size());
    }
    return out;
}

Bytes AttachResources(const Bytes& stub, const std::vector<Resource>& resources, uint32_t timeStamp) {
    auto bad = [](const std::string& why) { return PackError(kExitInput, "the engine " + why); };
    if (stub.size() < 0x200 || Get16(stub, 0) != 0x5A4D) throw bad("is not a Windows program");
    const uint32_t pe = Get32(stub, 0x3C);
    if (pe + 24 > stub.size() || Get32(stub, pe) != 0x00004550) throw bad("is not a Windows program");
    const uint32_t fileHeader = pe + 4;
    const uint32_t sections = Get16(stub, fileHeader + 2);
    const uint32_t optSize = Get16(stub, fileHeader + 16);
    const uint32_t opt = fileHeader + 20;
    if (opt + optSize > stub.size() || Get16(stub, opt) != 0x10B) throw bad("is not a 32-bit Windows program");
    const uint32_t sectionAlign = Get32(stub, opt + 32), fileAlign = Get32(stub, opt + 36);
    const uint32_t sizeOfHeaders = Get32(stub, opt + 60);
    const uint32_t numDirs = Get32(stub, opt + 92);
    if (numDirs < 5 || sectionAlign == 0 || fileAlign == 0) throw bad("has damaged headers");
    const uint32_t resDir = opt + 96 + 2 * 8, certDir = opt + 96 + 4 * 8;
    if (Get32(stub, resDir) || Get32(stub, resDir + 4)) throw bad("already carries resources");
    if (Get32(stub, certDir) || Get32(stub, certDir + 4)) throw bad("is signed; sign the installer instead");
    const uint32_t table = opt + optSize;
    if (table + 40 * (sections + 1) > sizeOfHeaders) throw bad("has no room for another section");
    uint32_t imageEnd = 0, fileEnd = sizeOfHeaders;
    for (uint32_t i = 0; i < sections; i++) {
        const uint32_t s = table + 40 * i;
        imageEnd = std::max(imageEnd, Get32(stub, s + 12) + std::max(Get32(stub, s + 8), Get32(stub, s + 16)));
        if (!Get32(stub, s + 16)) continue;
        // Counted wide: an offset and size that wrap past 4 GiB would pass as a small end.
        const uint64_t end = uint64_t{Get32(stub, s + 20)} + Get32(stub, s + 16);
        if (end > stub.size()) throw bad("is cut short");
        fileEnd = std::max(fileEnd, static_cast<uint32_t>(end));
        if (Get32(stub, s + 20) < sizeOfHeaders) throw bad("has damaged headers");
    }
    // A stripped program keeps the COFF string table (long section names such
    // as ".gnu_debuglink") after its last section; it moves behind the new one.
    const uint32_t symbols = Get32(stub, fileHeader + 8);
    if (symbols && Get32(stub, fileHeader + 12) != 0) throw bad("still carries a symbol table");
    if (fileEnd > stub.size()) throw bad("is cut short");
    if (symbols && symbols != fileEnd) throw bad("has damaged headers");
    const Bytes strings(stub.begin() + std::min<size_t>(fileEnd, stub.size()), stub.end());
    if (!symbols && !strings.empty()) throw bad("carries data after its last section");

    // Every section's bytes start on a page boundary of the file, the new one
    // too: a loader that maps the image from the file (Wine does so for
    // sections at page-aligned offsets, and reads the others whole into
    // memory) then keeps only the pages the run touches, and never the whole
    // payload. The sections' places in memory do not change.
    const uint32_t page = std::max<uint32_t>(fileAlign, 0x1000);
    std::vector<uint32_t> placed;  // section headers with file bytes, in file order
    for (uint32_t i = 0; i < sections; i++)
        if (Get32(stub, table + 40 * i + 16)) placed.push_back(table + 40 * i);
    std::sort(placed.begin(), placed.end(),
              [&](uint32_t a, uint32_t b) { return Get32(stub, a + 20) < Get32(stub, b + 20); });
    uint32_t laidOut = sizeOfHeaders;
    for (uint32_t h : placed) laidOut = Align(laidOut, page) + Get32(stub, h + 16);

    const uint32_t rva = Align(imageEnd, sectionAlign);
    const Bytes section = BuildResourceSection(resources, rva);
    const uint32_t raw = Align(laidOut, page);
    const uint32_t rawSize = Align(static_cast<uint32_t>(section.size()), fileAlign);
    if (uint64_t{raw} + rawSize > 0x7FFFFFFF || uint64_t{rva} + section.size() > 0x7FFFFFFF)
        throw PackError(kExitPayload, "the installer would exceed the 2 GiB a Windows program may have");
    Bytes out;
    out.reserve(size_t{raw} + rawSize + strings.size());  // one allocation: the section may be hundreds of MiB
    out.assign(stub.begin(), stub.begin() + sizeOfHeaders);
    for (uint32_t h : placed) {
        const uint32_t from = Get32(stub, h + 20), size = Get32(stub, h + 16);
        out.resize(Align(static_cast<uint32_t>(out.size()), page), 0);
        Set32(out, h + 20, static_cast<uint32_t>(out.size()));
        out.insert(out.end(), stub.begin() + from, stub.begin() + from + size);
    }
    out.resize(raw, 0);
    out.insert(out.end(), section.begin(), section.end());
    out.resize(raw + rawSize, 0);
    if (symbols) {
        Set32(out, fileHeader + 8, static_cast<uint32_t>(out.size()));
        out.insert(out.end(), strings.begin(), strings.end());
    }

    const uint32_t s = table + 40 * sections;
    std::memset(out.data() + s, 0, 40);
    std::memcpy(out.data() + s, ".rsrc", 5);
    Set32(out, s + 8, static_cast<uint32_t>(section.size()));
    Set32(out, s + 12, rva);
    Set32(out, s + 16, rawSize);
    Set32(out, s + 20, raw);
    Set32(out, s + 36, 0x40000040);  // initialised data, readable
    Set16(out, fileHeader + 2, sections + 1);
    if (timeStamp) Set32(out, fileHeader + 4, timeStamp);
    Set32(out, opt + 8, Get32(out, opt + 8) + rawSize);  // size of initialised data
    Set32(out, opt + 56, Align(rva + static_cast<uint32_t>(section.size()), sectionAlign));
    Set32(out, resDir, rva);
    Set32(out, resDir + 4, static_cast<uint32_t>(section.size()));

    // The image checksum, as the system computes it (the field itself counts as 0).
    const uint32_t checksumAt = opt + 64;
    Set32(out, checksumAt, 0);
    uint64_t sum = 0;
    for (size_t i = 0; i + 1 < out.size(); i += 2) {
        sum += Get16(out, i);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    if (out.size() & 1) {
        sum += out.back();
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    Set32(out, checksumAt, static_cast<uint32_t>(sum + out.size()));
    return out;
}

}  // namespace qvrpack
