// Attribute lists: the text of `Default` and `Style` values and of
// `innerstyle`, written as name="value" pairs separated by spaces. A value is
// quoted with double or single quotes and runs to the next quote of the same
// kind, so a double-quoted value may hold single-quoted image keys.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace SkinUI {

// The pairs in order. Parsing stops at the first pair it cannot read (a name
// without '=' or a value without its closing quote); the pairs read before it
// are kept.
std::vector<std::pair<std::wstring, std::wstring>> ParseAttributeList(const std::wstring& list);

}  // namespace SkinUI
