#include <string>

#include "io/commit/output_batch.h"
#include "io/formats/obj/obj.h"
#include "io/formats/obj/source.h"
#include "io/input/input_file.h"
#include "io/input/named_files.h"
#include "io/internal.h"

namespace hueslice::io {

namespace {

// The library an OBJ output would name after itself, when its name allows.
std::string libraryAfter(const std::string& objPath) {
    return detail::stemPath(objPath) + ".mtl";
}

}  // namespace

Notes readObjFile(const std::string& path, GU_Detail& out, const ReadOptions& options,
                  ColourSource* source) {
    InputFile file(path);
    detail::ObjSource obj;
    obj.read = [&file](char* at, std::size_t room) { return file.read(at, room); };
    obj.sizeHint = file.sizeWhenOpened();
    obj.refuseNulLibrary = true;
    obj.helperThread = true;
    obj.findLibrary = [&path](const detail::MaterialLibrary& library) {
        detail::MaterialText found;
        if (library.name.empty())
            return found;
        // `mtllib a b` names two libraries, but a file called "a b" is taken when there is
        // one: that is how names with spaces are written.
        NamedFile named = locateNamedFile(path, library.name, "material library");
        if (!named.found && library.firstWord != library.name)
            named = locateNamedFile(path, library.firstWord, "material library");
        // Beside a model named without a folder, the library is named without one too.
        found.name = path.find('/') == std::string::npos ? named.path.substr(2) : named.path;
        if (named.found)
            found.text = readWholeFile(found.name);
        return found;
    };
    obj.findImage = [&path](const std::string& reference) -> std::optional<std::string> {
        const NamedFile image = locateNamedFile(path, reference, "image");
        if (!image.found)
            return std::nullopt;
        return readWholeFile(image.path);
    };
    return detail::readObjPieces(obj, path, out, options, source);
}

std::string materialLibraryOf(const std::string& objPath) {
    const std::string wanted = libraryAfter(objPath);
    const std::size_t baseStart = wanted.size() - detail::baseOf(wanted).size();
    std::string path = wanted;
    bool leading = true;
    for (std::size_t i = baseStart; i < path.size(); ++i) {
        leading = leading && (path[i] == ' ' || path[i] == '\t');
        if (leading || path[i] == '\n' || path[i] == '\r')
            path[i] = '_';
    }
    return path;
}

Notes stageObj(OutputBatch& batch, const std::string& path, const GU_Detail& detail,
               const std::vector<LegendEntry>&, bool keepOrder) {
    const std::string mtlPath = materialLibraryOf(path);
    ObjStream text = streamObj(detail, detail::baseOf(mtlPath), path, keepOrder);
    if (!text.mtl.empty()) {
        batch.add(mtlPath, std::move(text.mtl));
        if (mtlPath != libraryAfter(path)) {
            text.warnings.push_back(path + ": material library written as '" +
                                    detail::baseOf(mtlPath) +
                                    "', as an obj file cannot name it after the obj");
        }
    }
    batch.add(path, std::move(text.writeObj));
    return std::move(text.warnings);
}

}  // namespace hueslice::io
