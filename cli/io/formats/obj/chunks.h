#pragma once

// An OBJ file's lines, read a chunk at a time, with a helper thread that can read the positions
// and plain faces of the chunks ahead of the one being scanned.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "io/formats/obj/lines.h"
#include "io/formats/obj/source.h"

namespace hueslice::io::detail {

// Reads every line of `source` in chunks of whole lines, in order: `readLines(lines, parsed)`
// for each, then `reserve(bytesLeft)` with the bytes not yet given. `parsed` is what parseChunk
// read of the chunk on a helper thread when `source.helperThread`, else null. A UTF-8 byte order
// mark is skipped. Throws InputError naming `objName` for an empty file or UTF-16 text, and
// passes on what `source.read` and the callbacks throw, the helper thread stopped.
void readObjChunks(const ObjSource& source, const std::string& objName,
                   const std::function<void(std::string_view, const ChunkParse*)>& readLines,
                   const std::function<void(std::size_t)>& reserve);

}  // namespace hueslice::io::detail
