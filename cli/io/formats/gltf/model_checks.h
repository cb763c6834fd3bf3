#pragma once

// Checks of a parsed glTF model that the glTF library leaves out, each refusing with a message
// that names the file and the place. Not part of the public interface.

#include <cstddef>
#include <string>

#include <tiny_gltf.h>

namespace hueslice::io::gltf {

// The index of the scene to read: the model's default scene, else scene 0. Throws InputError
// "NAME: ..." when the default names a scene that does not exist, rather than reading another.
// The model must have at least one scene.
std::size_t checkedScene(const tinygltf::Model& model, const std::string& name);

// Why a model yielded no face, for the note that says so; `skippedPrimitives` when points or
// lines were left out.
std::string noFacesReason(const tinygltf::Model& model, bool skippedPrimitives);

// "node 3 'arm'", or "node 3" for a node without a name.
std::string nodeLabel(int index, const tinygltf::Node& node);

// Throws InputError "NAME: LABEL ..." when any of the 16 entries of the placement `matrix`
// (the node's transform after its parents') is not finite: such a node would place every
// point at infinity or nowhere.
void checkPlacement(const double* matrix, const std::string& name, const std::string& label);

// Throws InputError "NAME: ..." when a node's or mesh's name, which becomes a group's, holds
// a NUL: group names are C strings and would be cut there.
void checkGroupName(const std::string& group, const std::string& name);

}  // namespace hueslice::io::gltf
