#include "ui/core/uiattrlist.h"

namespace SkinUI {

std::vector<std::pair<std::wstring, std::wstring>> ParseAttributeList(const std::wstring& list) {
    std::vector<std::pair<std::wstring, std::wstring>> pairs;
    const size_t n = list.size();
    size_t i = 0;
    for (;;) {
        while (i < n && list[i] <= L' ') ++i;
        if (i >= n) break;
        const size_t nameStart = i;
        while (i < n && list[i] != L'=' && list[i] > L' ') ++i;
        const std::wstring name = list.substr(nameStart, i - nameStart);
        while (i < n && list[i] <= L' ') ++i;
        if (i >= n || list[i] != L'=' || name.empty()) break;
        ++i;
        while (i < n && list[i] <= L' ') ++i;
        if (i >= n || (list[i] != L'"' && list[i] != L'\'')) break;
        const wchar_t quote = list[i++];
        const size_t end = list.find(quote, i);
        if (end == std::wstring::npos) break;
        pairs.emplace_back(name, list.substr(i, end - i));
        i = end + 1;
    }
    return pairs;
}

}  // namespace SkinUI
