#pragma once
// Ray queries against meshes. Each mesh gets one acceleration structure, built on the first query
// and hung off its mesh data (MeshData::setCache, keyed on the revision). When a mesh node's
// geometry changes, its structure moves to the new data: refitted when only the points moved,
// rebuilt when the polygons changed; other meshes keep theirs untouched. A scene-level structure
// holds every mesh as an instance under its world matrix, so one query sees the whole scene
// without visiting the meshes one by one. Main thread only.
//
// Hits are found in single precision and then placed exactly: each hit triangle is intersected
// again in double (Moller-Trumbore, in the query's space), so results match a double-precision
// triangle loop to rounding. Rays are prepared in double before the single-precision library sees
// them (see rays/RayLibrary.h), so any finite source and any finite non-zero direction, however
// large or small, is answered; a world matrix that flattens a mesh or holds non-numbers shows no
// hits of it.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "Scene.h"

namespace rova::scene::rays {

struct Hit {
    double distance = 0.0;  // along the ray from the source, in the query's space
    // point * direction (unit): orders hits along the ray to the precision of the points rather
    // than that of the source, which may lie very far off.
    double along = 0.0;
    RPoint point;  // in the query's space
    int polygon = -1;
    NodeRecord* mesh = nullptr;  // scene queries: the mesh shape hit
};

struct Counters {
    std::uint64_t builds = 0;        // structures made for a mesh that had none
    std::uint64_t refits = 0;        // points changed: bounds refitted in place
    std::uint64_t rebuilds = 0;      // polygons changed: structure made again
    std::uint64_t sceneUpdates = 0;  // the scene-level structure committed again
    std::uint64_t sceneChecks = 0;   // the scene changed: its meshes looked at again
    std::int64_t bytes = 0;          // memory the structures hold now
};
Counters counters();

// Every hit of the ray source + t * direction (t >= 0) with the mesh, nearest first. `world` maps
// the mesh's points into the query's space (identity for object space). A polygon is hit once;
// hits closer together along the ray than `tolerance` (a ray through a shared edge) count once;
// hits farther from the source than `maxDistance` (in the query's space) are left out.
// `node` is the mesh shape the data belongs to, or null for free mesh data: a node's structure
// follows its geometry from revision to revision.
host::Result<std::vector<Hit>> intersectMesh(
    NodeRecord* node, const MeshData& mesh, const RMatrix& world, const RPoint& source,
    const RVector& direction, double tolerance,
    double maxDistance = std::numeric_limits<double>::infinity());

// Every hit of the ray with every mesh in the scene (world space), nearest first, through the
// scene-level structure (brought up to date first: in O(1) when the host counted no scene change
// since the last update).
host::Result<std::vector<Hit>> intersectScene(
    const RPoint& source, const RVector& direction, double tolerance,
    double maxDistance = std::numeric_limits<double>::infinity());

}  // namespace rova::scene::rays
