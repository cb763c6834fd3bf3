#pragma once

// Scene files: the node's parameter values as JSON, saved and applied.

#include <string>
#include <string_view>

#include "OP_Parameters.h"
#include "io/io.h"

namespace hueslice::io {

// Most instances a multi-list count may ask for in a short scene (and on the command line). A
// longer scene may ask for one per 64 of its bytes, fewer than any saved entry takes, so every
// scene the program saves loads again while a short file cannot make it allocate much.
inline constexpr int kMaxEntries = 100000;

// Applies the parameter values of a scene file to `node`: list counts first, then the rest.
// The scene is checked in full before anything is set, so a bad scene leaves `node` as it was.
// Text values holding a NUL are refused, as names are in every reader.
void applyScene(std::string_view text, const std::string& name, OP_Parameters& node);

// Every parameter of `node` with a value (buttons have none) as scene JSON, keyframes included,
// numbers exact. Instances of lists are made on the way, as the host's allParms() does. Throws
// OutputError for text that is not valid UTF-8.
std::string saveScene(OP_Parameters& node);

}  // namespace hueslice::io
