#pragma once

// How the glTF library finds the files a .gltf or .glb names (buffers, images): by the rule of
// input/named_files.h, so that a model cannot reach an absolute path, the current folder, a
// folder above its own, a FIFO or a device. Not part of the public interface.

#include <string>

#include <tiny_gltf.h>

namespace hueslice::io::gltf {

class ExternalFiles {
  public:
    // Files named by the model at `modelPath` (its path in messages too); with `follow` false
    // (a model held in memory only) every external file is refused.
    ExternalFiles(const std::string& modelPath, bool follow);

    // Makes `loader` look files up through this object, which must outlive the load.
    void install(tinygltf::TinyGLTF& loader);

    // The base folder to give the library's load calls: a marker that the lookups recognise,
    // so that the library's own search of the current folder finds nothing.
    static std::string baseDir();

    // After a load: throws the InputError of the first reference that was refused, if any.
    // The library turns a failed lookup into words of its own or into a mere warning (images),
    // so the refusal is kept here and given precedence.
    void throwRefusal() const;

  private:
    static std::string expand(const std::string& path, void* self);
    static bool exists(const std::string& path, void* self);
    static bool read(std::vector<unsigned char>* out, std::string* err, const std::string& path,
                     void* self);

    std::string model;
    bool follow;
    std::string refusal;  // the first refusal's message, empty while there is none
};

}  // namespace hueslice::io::gltf
