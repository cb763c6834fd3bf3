#pragma once

// Checks of glTF input made before the glTF library sees it, for faults the library either
// reads past (GLB chunk lengths) or cannot survive (JSON nested deeper than its recursion can
// go). Not part of the public interface.

#include <cstddef>
#include <string>
#include <string_view>

namespace hueslice::io::gltf {

// Arrays and objects nested deeper than this are refused. The library converts JSON
// recursively, so a million levels exhaust the stack; glTF itself needs fewer than ten, and
// this leaves ample room for extensions and extras.
inline constexpr std::size_t kMaxJsonDepth = 512;

// For a GLB (`bytes` starting with the binary magic): the JSON chunk, after checking that the
// header is version 2 and that every chunk lies inside the length the header gives and the
// file holds. Throws InputError "NAME: ..." otherwise ("glTF 1.0 is not supported" for
// version 1).
std::string_view glbJson(std::string_view bytes, const std::string& name);

// Throws InputError "NAME: ..." when arrays and objects in `json` nest deeper than
// kMaxJsonDepth. Brackets inside strings do not count. Linear in the size of `json`.
void checkJsonDepth(std::string_view json, const std::string& name);

// The refusal for a file in glTF 1.0, whose layout (objects keyed by name where 2.0 has
// arrays) the reader does not take: true when `json` says it is 1.x in its asset version, or
// has no version and keeps its meshes in an object.
bool isGltf1(std::string_view json);

}  // namespace hueslice::io::gltf
