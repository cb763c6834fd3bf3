#pragma once

// Checks and readings of a 3MF model part's property references that the 3MF library leaves
// out. Not part of the public interface.

#include <array>
#include <string>
#include <unordered_map>

#include <pugixml.hpp>

namespace hueslice::io::detail {

// Throws InputError "NAME: PART: ..." naming the element when an object or triangle of `model`
// (the <model> element of part `partName`) refers to a property resource the part does not
// define, or to an entry past the end of one; a triangle without a pid of its own refers to its
// object's. The library drops such references silently, which would lose the colours without a
// word.
void checkPropertyReferences(const pugi::xml_node& model, const std::string& partName,
                             const std::string& name);

// Colours of the triangles that give an entry (p1) of their object's property group without
// naming the group (no pid): by the object's place among the part's objects (from 0; the
// library numbers resources anew, so their ids cannot be matched), then by triangle number. The
// library reads such a triangle as having no property of its own, though p1 overrides the
// object's pindex.
using ObjectIndexColours =
    std::unordered_map<std::size_t, std::unordered_map<std::size_t, std::array<float, 3>>>;

// Adds to `out` those colours for `model` (the package's root model part) where the object's group
// is a base material group (display colours) or a colour group.
void collectObjectIndexColours(const pugi::xml_node& model, ObjectIndexColours& out);

}  // namespace hueslice::io::detail
