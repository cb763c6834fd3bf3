#pragma once

// Reading a 3MF model part's XML directly, for the checks made before the 3MF library reads the
// package. Not part of the public interface.

#include <charconv>
#include <cstring>
#include <string_view>

#include <pugixml.hpp>

namespace hueslice::io::detail {

// The element's name without its namespace prefix.
inline std::string_view localName(const pugi::xml_node& node) {
    std::string_view full = node.name();
    const auto colon = full.find(':');
    return colon == std::string_view::npos ? full : full.substr(colon + 1);
}

// The last child of `node` called `name` (any prefix); an empty node when there is none.
inline pugi::xml_node childNamed(const pugi::xml_node& node, std::string_view name) {
    pugi::xml_node found;
    for (pugi::xml_node child : node.children()) {
        if (localName(child) == name)
            found = child;
    }
    return found;
}

// A non-negative integer attribute; false when absent or not a number.
inline bool number(const pugi::xml_node& node, const char* attribute, unsigned long long& out) {
    const char* text = node.attribute(attribute).value();
    if (!*text)
        return false;
    const char* end = text + std::strlen(text);
    const auto r = std::from_chars(text, end, out);
    return r.ec == std::errc() && r.ptr == end;
}

}  // namespace hueslice::io::detail
