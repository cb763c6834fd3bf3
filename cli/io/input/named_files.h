#pragma once

// Files that a model names: glTF buffers and images, OBJ material libraries and textures, ...
// A model may come from a stranger (a download, an upload to a conversion service), so what it
// names is looked up inside the model's own folder tree and nowhere else: never at an absolute
// path, never through a URI scheme such as "file:", never above the model's folder (not even
// through a symbolic link) and never in the current folder. What is found there is then read as
// any input is: regular files only (see input_file.h).

#include <string>
#include <string_view>

namespace hueslice::io {

// Where a named file lies, and whether anything is there.
struct NamedFile {
    std::string path;    // the model's folder joined with the reference, as given
    bool found = false;  // false when nothing exists at `path`: the caller decides whether a
                         // missing file is an error (a buffer) or a note (an image)
};

// Resolves `reference`, a relative path with '/' separators as the model gives it (already
// decoded from any URI escapes), against the folder of `modelPath`. `what` names the reference
// in messages ("buffer", "image", "material library").
// Throws InputError "MODEL: WHAT "REFERENCE": reason" when the reference is empty, absolute,
// carries a URI scheme or a NUL, or leads out of the model's folder tree, lexically ("../")
// or through a symbolic link.
NamedFile locateNamedFile(const std::string& modelPath, std::string_view reference,
                          std::string_view what);

}  // namespace hueslice::io
