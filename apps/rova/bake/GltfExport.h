#pragma once
// A bake as glTF 2.0: binary (.glb) or text with its buffer beside it (.gltf + .bin).
#include <filesystem>
#include <string>

#include "BakeTake.h"
#include "rovahost/Host.h"

namespace rova::bake {

// One node per baked object, named as in the scene, at its world pose (scene units as metres,
// +Y up, as the host's scene); one animation "bake" with a translation, rotation and scale
// channel per node, keyed at every baked frame (linear, times from 0 at the first frame). An
// object's mesh goes with its node; the shapes it took on during the bake become morph targets,
// switched on one at a time by a stepped weights channel. The file's format follows its
// extension; the same take always gives the same bytes.
host::Status writeGltf(const BakeTake& take, const std::filesystem::path& path);

// Writes the bytes as the whole file; fails with the path and the system's reason.
host::Status writeWholeFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace rova::bake
