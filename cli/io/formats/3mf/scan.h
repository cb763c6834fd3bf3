#pragma once

// A pass over a 3MF package's model parts before the 3MF library reads it: the checks the
// library leaves out or makes too late, and what the reader needs to know in advance. Not part
// of the public interface.

#include <string>
#include <string_view>

#include "io/formats/3mf/placement.h"
#include "io/formats/3mf/references.h"

namespace hueslice::io::detail {

struct PackageScan {
    PlacementTotals placed;           // what the build places, summed over the model parts
    ObjectIndexColours indexColours;  // see references.h
};

// Reads every model part of `package` with the checks of references.h and placement.h, which
// throw InputError naming `name` and the part. A package or part that cannot be opened or
// parsed is left to the library to refuse, in its own words.
PackageScan scanPackage(std::string_view package, const std::string& name);

// For a package the library could not open: the first part that a relationship names and the
// package does not hold, as the relationship names it; empty when every named part is there.
std::string missingPart(std::string_view package);

}  // namespace hueslice::io::detail
