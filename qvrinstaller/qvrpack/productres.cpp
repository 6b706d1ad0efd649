#include "productres.h"

#include <cwchar>

#include "lebytes.h"
#include "packerror.h"

namespace qvrpack {

using namespace le;

namespace {

constexpr uint16_t kRtIcon = 3, kRtGroupIcon = 14, kRtVersion = 16, kRtManifest = 24;
constexpr uint16_t kLangChinese = 0x0804;

void Pad4(Bytes& b) {
    while (b.size() % 4) b.push_back(0);
}

// One node of the version tree: header, key, value, children.
Bytes VersionNode(const std::wstring& key, const Bytes& value, uint16_t valueLength, bool text,
                  const std::vector<Bytes>& children) {
    Bytes n;
    Put16(n, 0);  // length, set below
    Put16(n, valueLength);
    Put16(n, text ? 1 : 0);
    for (wchar_t c : key) Put16(n, c);
    Put16(n, 0);
    Pad4(n);
    n.insert(n.end(), value.begin(), value.end());
    for (const Bytes& c : children) {
        Pad4(n);
        n.insert(n.end(), c.begin(), c.end());
    }
    n[0] = static_cast<uint8_t>(n.size());
    n[1] = static_cast<uint8_t>(n.size() >> 8);
    return n;
}

Bytes StringNode(const std::wstring& key, const std::wstring& text) {
    Bytes v;
    for (wchar_t c : text) Put16(v, c);
    Put16(v, 0);
    return VersionNode(key, v, static_cast<uint16_t>(text.size() + 1), true, {});
}

}  // namespace

std::vector<Resource> IconResources(const Bytes& ico, const std::string& what) {
    auto bad = [&] { return PackError(kExitInput, what + " is not an icon file (.ico)"); };
    if (ico.size() < 6 || Get16(ico, 0) != 0 || Get16(ico, 2) != 1) throw bad();
    const uint32_t count = Get16(ico, 4);
    if (count == 0 || 6 + 16 * count > ico.size()) throw bad();
    std::vector<Resource> out;
    Bytes group;
    Put16(group, 0);
    Put16(group, 1);
    Put16(group, count);
    for (uint32_t i = 0; i < count; i++) {
        const size_t e = 6 + 16 * i;
        const uint32_t size = Get32(ico, e + 8), offset = Get32(ico, e + 12);
        if (size == 0 || offset > ico.size() || size > ico.size() - offset) throw bad();
        Resource image{ResId::Number(kRtIcon), ResId::Number(static_cast<uint16_t>(i + 1)), kLangChinese,
                       Bytes(ico.begin() + offset, ico.begin() + offset + size)};
        out.push_back(std::move(image));
        group.insert(group.end(), ico.begin() + e, ico.begin() + e + 12);  // size, colours, planes, bits, bytes
        Put16(group, i + 1);
    }
    out.push_back(Resource{ResId::Number(kRtGroupIcon), ResId::Number(128), kLangChinese, group});
    return out;
}

Resource VersionResource(const VersionFields& f) {
    uint32_t parts[4] = {0, 0, 0, 0};
    {
        size_t i = 0, at = 0;
        const std::wstring& v = f.version;
        while (true) {
            size_t end = at;
            while (end < v.size() && v[end] >= L'0' && v[end] <= L'9') end++;
            if (end == at || end - at > 5 || i == 4)
                throw PackError(kExitUsage, "version " + WideToUtf8(v) + " is not one to four numbers such as 1.2.3.4");
            parts[i++] = static_cast<uint32_t>(std::wcstoul(v.substr(at, end - at).c_str(), nullptr, 10));
            if (parts[i - 1] > 0xFFFF)
                throw PackError(kExitUsage, "version " + WideToUtf8(v) + " has a number above 65535");
            if (end == v.size()) break;
            if (v[end] != L'.')
                throw PackError(kExitUsage, "version " + WideToUtf8(v) + " is not one to four numbers such as 1.2.3.4");
            at = end + 1;
        }
    }
    Bytes fixed;
    Put32(fixed, 0xFEEF04BD);
    Put32(fixed, 0x00010000);
    Put32(fixed, (parts[0] << 16) | parts[1]);  // file version
    Put32(fixed, (parts[2] << 16) | parts[3]);
    Put32(fixed, (parts[0] << 16) | parts[1]);  // product version
    Put32(fixed, (parts[2] << 16) | parts[3]);
    Put32(fixed, 0x3F);        // flags mask
    Put32(fixed, 0);           // flags
    Put32(fixed, 0x00040004);  // VOS_NT_WINDOWS32
    Put32(fixed, 1);           // VFT_APP
    Put32(fixed, 0);
    Put32(fixed, 0);
    Put32(fixed, 0);

    std::vector<Bytes> strings;
    auto add = [&](const wchar_t* key, const std::wstring& value) {
        if (!value.empty()) strings.push_back(StringNode(key, value));
    };
    add(L"CompanyName", f.company);
    add(L"FileDescription", f.description.empty() ? f.productName : f.description);
    add(L"FileVersion", f.version);
    add(L"LegalCopyright", f.copyright);
    add(L"OriginalFilename", f.originalFilename);
    add(L"ProductName", f.productName);
    add(L"ProductVersion", f.version);
    const Bytes table = VersionNode(L"080404b0", {}, 0, true, strings);
    const Bytes stringInfo = VersionNode(L"StringFileInfo", {}, 0, true, {table});
    Bytes translation;
    Put16(translation, kLangChinese);
    Put16(translation, 1200);
    const Bytes var = VersionNode(L"Translation", translation, 4, false, {});
    const Bytes varInfo = VersionNode(L"VarFileInfo", {}, 0, true, {var});
    Bytes root = VersionNode(L"VS_VERSION_INFO", fixed, static_cast<uint16_t>(fixed.size()), false, {stringInfo, varInfo});
    return Resource{ResId::Number(kRtVersion), ResId::Number(1), kLangChinese, root};
}

Resource ManifestResource(bool asInvoker) {
    const std::string level = asInvoker ? "asInvoker" : "requireAdministrator";
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
        "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">\r\n"
        "    <security>\r\n"
        "      <requestedPrivileges>\r\n"
        "        <requestedExecutionLevel level=\"" + level + "\" uiAccess=\"false\"/>\r\n"
        "      </requestedPrivileges>\r\n"
        "    </security>\r\n"
        "  </trustInfo>\r\n"
        "</assembly>\r\n";
    return Resource{ResId::Number(kRtManifest), ResId::Number(1), 0, Bytes(xml.begin(), xml.end())};
}

}  // namespace qvrpack
