#include <cstddef>
#include <string>
#include <string_view>

#include "io/formats/ply/byte_source.h"
#include "io/formats/ply/header.h"
#include "io/formats/ply/plan.h"
#include "io/formats/ply/ply.h"
#include "io/formats/ply/rows.h"
#include "io/internal.h"

namespace hueslice::io {

namespace {

using detail::ByteSource;
using detail::ply::ColourPlan;
using detail::ply::Format;
using detail::ply::Header;

// Reads one file: its header, then the plan worked out from it, then its rows, into a detail of
// its own that replaces the caller's only once the whole file is known to be good.
class PlyReader {
  public:
    PlyReader(ByteSource& input, const std::string& fileName, const ReadOptions& opts)
        : source(input), name(fileName), options(opts) {}

    // Replaces `out` by the file's mesh; on a fault, throws and leaves `out` as it was.
    Notes read(GU_Detail& out, ColourSource* sourceOut) {
        if (!source.need(0, 1))
            failPlain("empty file");
        detail::ply::readHeader(detail::ply::headerBytes(source), name, header, notes);
        // Text is read whole; so is binary data whose size cannot be told beforehand, as the
        // element sizes are checked against it before anything is allocated.
        std::string_view bytes;  // all of the input when it is read whole
        if (header.format == Format::Ascii || !source.sizeKnown(inputSize)) {
            bytes = source.whole();
            inputSize = bytes.size();
        }
        const ColourPlan colours(header, options, name, notes);
        detail::ply::checkCounts(header, inputSize, name);
        GU_Detail geo;
        const long long ties =
            header.format == Format::Ascii
                ? detail::ply::readAsciiRows(bytes, name, header, colours, geo)
                : detail::ply::readBinaryRows(source, inputSize, name, header, colours, geo);
        finish(geo, colours, ties);
        out = geo;
        if (sourceOut)
            *sourceOut = colourSource;
        return notes;
    }

  private:
    [[noreturn]] void failPlain(const std::string& what) const {
        throw InputError(name + ": " + what);
    }

    // Counts where the faces' colours came from, `ties` being the faces on which the corner
    // vote tied, and says so in the notes.
    void finish(const GU_Detail& geo, const ColourPlan& colours, long long ties) {
        const long long faces = geo.primitiveCount();
        colourSource.cornersFirst = options.vertexColours;
        if (colours.useVertexColours) {
            colourSource.ties = ties;
            colourSource.cornerColour = faces;
            if (faces > 0)
                notes.push_back(detail::cornerColourNote(name, faces, colourSource.ties));
        } else if (colours.storeColour) {
            colourSource.ownColour = faces;
        } else {
            colourSource.noColour = faces;
        }
        if (faces == 0) {
            const std::string why =
                !header.face ? "the file has no 'face' element" : "the 'face' element has no rows";
            notes.push_back(
                detail::noFacesNote(name, why, header.vertex && header.vertex->hasColour));
        }
    }

    ByteSource& source;
    std::size_t inputSize = 0;  // as far as it can be told before the data is read
    const std::string& name;
    const ReadOptions& options;
    Header header;
    Notes notes;
    ColourSource colourSource;
};

}  // namespace

Notes readPly(std::string_view bytes, const std::string& name, GU_Detail& out,
              const ReadOptions& options, ColourSource* source) {
    detail::ByteSource input(bytes);
    return PlyReader(input, name, options).read(out, source);
}

Notes readPlyFile(const std::string& path, GU_Detail& out, const ReadOptions& options,
                  ColourSource* source) {
    return detail::readPlyFileThroughWindow(path, detail::kPlyWindow, out, options, source);
}

namespace detail {

Notes readPlyFileThroughWindow(const std::string& path, std::size_t window, GU_Detail& out,
                               const ReadOptions& options, ColourSource* source) {
    InputFile file(path);
    ByteSource input(file, window);
    return PlyReader(input, path, options).read(out, source);
}

}  // namespace detail

}  // namespace hueslice::io
