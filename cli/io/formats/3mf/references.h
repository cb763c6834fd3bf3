#pragma once

// A check of a 3MF package that its reader leaves out. Not part of the public interface.

#include <string>
#include <string_view>

namespace hueslice::io::detail {

// Throws InputError naming `name`, the model part and the element when an object or triangle
// of any model part refers to a property resource that part does not define, or to an entry
// past the end of one. The reader drops such references silently, which would lose the
// colours without a word. A package that cannot be opened is left to the reader to refuse.
void checkPropertyReferences(std::string_view package, const std::string& name);

}  // namespace hueslice::io::detail
