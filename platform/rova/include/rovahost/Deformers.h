#pragma once
// Deformers on scene meshes, as the `rova` program's `deformer` command puts them there. Main
// thread only.
#include <string>
#include <vector>

#include "rovahost/Host.h"

namespace rova::host::scene {

// Creates a deformer node of `type` (a type registered as a deformer) and puts it between each
// mesh object's geometry and what the mesh shows, mesh k as geometry k. A shape whose inMesh is
// connected keeps that source as the deformer's input (deformers stack); otherwise the deformer
// gets its own copy of the shape's geometry, so its permanent edits never reach an earlier state.
// Returns the deformer's name. Nothing changes when it fails.
ROVA_API Result<std::string> addDeformer(const std::string& type,
                                         const std::vector<std::string>& meshes,
                                         const std::string& name);

}  // namespace rova::host::scene
