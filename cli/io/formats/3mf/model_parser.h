#pragma once

// Streaming parse of one 3MF model part's XML into a ModelPart. Not part of the public
// interface.

#include <cstddef>
#include <memory>
#include <string>

#include "io/formats/3mf/model.h"

namespace hueslice::io::detail {

// Feeds a model part's bytes in chunks, as they are inflated, so the part's text is never held
// whole. Throws InputError "NAME: PART: line N: ..." (or "NAME: cannot read 3mf: ..." for what
// the XML itself breaks) for malformed XML, a document type declaration, an element without an
// attribute it needs, a number, colour, transform or unit that does not parse, an object or
// property group defined twice, and more
// vertices or triangles in `defined` than placement could ever use. Time and memory are linear
// in the part's size.
class ModelParser {
  public:
    ModelParser(ModelPart& part, DefinedTotals& defined, const std::string& name);
    ~ModelParser();
    ModelParser(const ModelParser&) = delete;
    ModelParser& operator=(const ModelParser&) = delete;

    // The next `size` bytes of the part; `last` once they are all given.
    void feed(const char* data, std::size_t size, bool last);

  private:
    struct State;
    std::unique_ptr<State> state;
};

}  // namespace hueslice::io::detail
