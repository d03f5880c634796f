#pragma once
// Deformers on scene meshes, as the `rova` program's `deformer` command puts them there. Main
// thread only.
#include <memory>
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

// What one deformer holds of the geometry it deforms: its input geometry (where permanent edits
// go), what it puts out and whether that is current. Defined by the host.
struct DeformerState;
using DeformerStates = std::vector<std::shared_ptr<const DeformerState>>;

// Every deformer's state. The undo queue takes it before each step and puts it back when the step
// is undone, so that permanent edits made since (by the step, or by evaluations after it) go and
// what was current is not deformed again.
ROVA_API DeformerStates captureDeformerStates();
// Puts the states back on the deformers of those names that exist (a deleted one restored by undo
// included). A deformer that deformed geometry since gets a fresh node instance, so that no state
// the plug-in keeps of its own outlives the step: its next deformation starts from its input
// geometry as its first one did.
ROVA_API void restoreDeformerStates(const DeformerStates& states);

}  // namespace rova::host::scene
