#pragma once

// Checks of a 3MF model part's property references. Not part of the public interface.

#include <string>

#include "io/formats/3mf/model.h"

namespace hueslice::io::detail {

// Throws InputError "NAME: PART: ..." naming the element when an object or triangle of `part`
// refers to a property group the part does not define, or to an entry past the end of one; a
// triangle without a pid of its own refers to its object's. Dropping such a reference would
// lose the colours without a word. Linear in the part's objects and triangles.
void checkPropertyReferences(const ModelPart& part, const std::string& name);

}  // namespace hueslice::io::detail
