#include "io/formats/gltf/files.h"

#include <new>

#include "io/input/input_file.h"
#include "io/input/named_files.h"
#include "io/io.h"

namespace hueslice::io::gltf {

namespace {

// Cannot begin a real path, so that only joins with it carry it.
const char kMarker[] = "\x01model-folder";

bool noWrite(std::string*, const std::string&, const std::vector<unsigned char>&, void*) {
    return false;
}

}  // namespace

ExternalFiles::ExternalFiles(const std::string& modelPath, bool followFiles)
    : model(modelPath), follow(followFiles) {}

void ExternalFiles::install(tinygltf::TinyGLTF& loader) {
    loader.SetFsCallbacks(tinygltf::FsCallbacks{exists, expand, read, noWrite, this});
}

std::string ExternalFiles::baseDir() {
    return kMarker;
}

// The library joins the base folder and the decoded reference with '/', then asks for the
// expansion of the join: the located file's path, or "" for nothing to read.
std::string ExternalFiles::expand(const std::string& path, void* self) {
    auto& files = *static_cast<ExternalFiles*>(self);
    const std::string prefix = std::string(kMarker) + "/";
    if (path.compare(0, prefix.size(), prefix) != 0)
        return {};  // the library's second guess, the current folder
    const std::string reference = path.substr(prefix.size());
    if (!files.follow)
        return {};  // a model held in memory has no folder: nothing it names is found
    try {
        const NamedFile named = locateNamedFile(files.model, reference, "external file");
        return named.found ? named.path : std::string();
    } catch (const InputError& e) {
        if (files.refusal.empty())
            files.refusal = e.what();
        return {};
    }
}

bool ExternalFiles::exists(const std::string& path, void*) {
    return !path.empty();
}

bool ExternalFiles::read(std::vector<unsigned char>* out, std::string* err, const std::string& path,
                         void* self) {
    auto& files = *static_cast<ExternalFiles*>(self);
    try {
        const std::string bytes = readWholeFile(path);
        out->assign(bytes.begin(), bytes.end());
        return true;
    } catch (const InputError& e) {
        if (files.refusal.empty())
            files.refusal = files.model + ": " + e.what();
        if (err)
            *err += e.what();
        return false;
    }
}

void ExternalFiles::throwRefusal() const {
    if (!refusal.empty())
        throw InputError(refusal);
}

}  // namespace hueslice::io::gltf
