#pragma once
// Hits placed exactly: every triangle the library reports is met again in double, in the query's
// space, and the hits ordered along the ray.
#include <utility>
#include <vector>

#include "scene/rays/MeshRays.h"

namespace rova::scene::rays {

bool isIdentity(const RMatrix& m);
using Found = std::vector<std::pair<unsigned, unsigned>>;
// Hits of one mesh's triangles (the second of each pair), nearest per polygon, placed in the
// query's space (unit direction); hits farther from the source than maxDistance are left out.
// `edges`: check that the ray meets each triangle (the library did not say so).
void placeHits(const MeshRays& rays, const MeshData& mesh, const RMatrix& world,
               const RPoint& source, const RVector& direction, double maxDistance, NodeRecord* node,
               Found::const_iterator begin, Found::const_iterator end, bool edges,
               std::vector<Hit>& out);
// Nearest first (ties: mesh creation order, then polygon); hits of one mesh closer together
// along the ray than the tolerance count once.
void orderHits(std::vector<Hit>& hits, double tolerance);
// A ray to ask about: a finite source, a finite non-zero direction (made unit length here) and
// a limit that is not negative.
bool usable(const RPoint& source, const RVector& direction, double maxDistance, RVector& unit);
// Hits of one mesh (unordered) of the ray source + u * direction (the query's space, unit
// direction, u <= maxDistance).
void meshHits(const MeshRays& rays, const MeshData& mesh, const RMatrix& world, NodeRecord* node,
              const RPoint& source, const RVector& direction, double maxDistance,
              std::vector<Hit>& out);

}  // namespace rova::scene::rays
