#pragma once

// The ZIP side of a 3MF package: finding its model parts and parsing each as it is inflated.
// Not part of the public interface.

#include <string>
#include <string_view>

#include "io/formats/3mf/model.h"

namespace hueslice::io::detail {

// Parses the package's root model part (the one its root relationships name) and every part a
// component or build item names by path, each once, checking their property references.
// Throws InputError "NAME: cannot read 3mf: ..." for bytes that are not a ZIP package, a
// package without a root model part, a part that cannot be inflated, and a part that a
// relationship or a path names but the package lacks; the parser's errors otherwise. Linear in
// the size of the parts read; no part's text is held whole.
Package readPackage(std::string_view bytes, const std::string& name);

}  // namespace hueslice::io::detail
