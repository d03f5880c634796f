#pragma once
// The scene as the `rova` program sees it: objects (a transform with a mesh or camera shape named
// `NShape`), their hierarchy, mesh geometry, OBJ files and the active 3D view. Plug-ins never
// include this; they reach the scene through <rova/...> (RDagPath, RFnMesh, R3dView and the rest).
// Every function is for the main thread. An object may be named by its transform or its shape.
#include <array>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "rovahost/Host.h"

namespace rova::host::scene {

// Polygon geometry: points and faces (vertex indices into points, counter-clockwise seen from the
// side the face's normal points to).
struct MeshGeometry {
    std::vector<std::array<double, 3>> points;
    std::vector<std::vector<int>> faces;
};

// An axis-aligned cube of edge `size` centred at the origin: 8 points, 6 quads.
ROVA_API MeshGeometry cube(double size);
// A square of side `size` in the XZ plane facing +Y, centred at the origin, divisions x divisions
// quads, (divisions + 1)^2 points, row by row from -Z to +Z, each row from -X to +X.
ROVA_API MeshGeometry plane(double size, int divisions);
// A UV sphere of `segments` (at least 3) slices around Y and segments / 2 (at least 2) stacks:
// a pole at +Y, (stacks - 1) rings of `segments` points from the top down, a pole at -Y.
ROVA_API MeshGeometry sphere(double radius, int segments);

// The most bytes an OBJ file may have; a larger one is refused before it is read.
inline constexpr std::uintmax_t kMaxObjBytes = std::uintmax_t{1} << 30;

// Reads the vertices and polygons of an OBJ file (every object and group into one mesh). A file
// that cannot be read or is malformed fails with "FILE:LINE: what is wrong" ("FILE: ..." where no
// line is to blame). Only a regular file of UTF-8 text (a byte-order mark is skipped) of at most
// kMaxObjBytes with at least one vertex is an OBJ file: a directory, pipe or device, a binary file
// and a text file without vertices are refused with the reason.
ROVA_API Result<MeshGeometry> readObj(const std::filesystem::path& file);
// The same for OBJ text in memory; `name` stands for the file in messages.
ROVA_API Result<MeshGeometry> parseObj(std::string_view text, const std::string& name);
// The geometry as OBJ text (`v` lines, then `f` lines), numbers in the shortest text that reads
// back to the same double.
ROVA_API std::string formatObj(const MeshGeometry& geometry, const std::string& objectName);
// Writes formatObj's text to the file.
ROVA_API Status writeObj(const std::filesystem::path& file, const MeshGeometry& geometry,
                         const std::string& objectName);

enum class ShapeType { kMesh, kCamera };

// A transform node (type "transform"), under `parent` (an object) when it is not empty.
ROVA_API Result<std::string> createTransform(const std::string& name, const std::string& parent);
// The shape `TRANSFORMShape` (type "mesh" or "camera") under the transform.
ROVA_API Result<std::string> createShape(const std::string& transform, ShapeType type);
ROVA_API Status setGeometry(const std::string& object, const MeshGeometry& geometry);
// The mesh's geometry, its points in object space or (world) through the transforms above it.
ROVA_API Result<MeshGeometry> geometry(const std::string& object, bool world);
// A number for what the mesh shows now (pulling what is connected into it), unique in the process:
// a new one whenever its points or polygons change, the same while they do not. 0 without data.
ROVA_API Result<std::uint64_t> meshRevision(const std::string& object);
// Polygons as triangles fanned from each polygon's first vertex, three indices per triangle.
ROVA_API std::vector<std::uint32_t> triangleFans(const std::vector<std::vector<int>>& faces);

// The transform of an object (the node itself, or a shape's parent).
ROVA_API Result<std::string> transformOf(const std::string& object);
// The object's shape of that type (the node itself, or the transform's first such shape).
ROVA_API Result<std::string> shapeOf(const std::string& object, ShapeType type);
// The node's DAG parent ("" at the top or for a node outside the scene).
ROVA_API std::string parentOf(const std::string& node);
// Makes a DAG node the child of another ("" for the top), as undo re-creates it.
ROVA_API Status setParent(const std::string& node, const std::string& parent);
// The node and every DAG node below it, parents before children; empty when there is no node.
ROVA_API std::vector<std::string> subtree(const std::string& node);

// The active 3D view's camera as a shape name; "" while it looks through the default camera.
ROVA_API std::string activeCamera();
// Looks through this camera (an object); "" returns to the default camera.
ROVA_API Status setActiveCamera(const std::string& object);
// The default camera's shape name and its path (not a node: no command can change it).
ROVA_API std::string defaultCameraPath();

// ---- ray queries (world space; hits nearest first, one per polygon, hits of one mesh closer
// together along the ray than the tolerance counted once; see RFnMesh::intersect). Hits farther
// from the source than maxDistance are left out: a query that needs only what lies on a segment
// (the stretch between two fingertips) walks no further than that.
struct RayHit {
    std::string mesh;  // the shape hit
    std::array<double, 3> point{};
    int polygon = -1;
};
// The object's mesh alone, through its own structure (what RFnMesh::intersect answers).
ROVA_API Result<std::vector<RayHit>> intersect(
    const std::string& object, const std::array<double, 3>& source,
    const std::array<double, 3>& direction, double tolerance = 1e-10,
    double maxDistance = std::numeric_limits<double>::infinity());
// Every mesh of the scene at once, through the scene-level structure.
ROVA_API Result<std::vector<RayHit>> intersectScene(
    const std::array<double, 3>& source, const std::array<double, 3>& direction,
    double tolerance = 1e-10, double maxDistance = std::numeric_limits<double>::infinity());
// What the ray structures did so far in this process, and the memory they hold now.
struct RayCounters {
    std::uint64_t builds = 0;        // a mesh's first structure
    std::uint64_t refits = 0;        // a mesh's points moved: its structure refitted in place
    std::uint64_t rebuilds = 0;      // a mesh's polygons changed: its structure made again
    std::uint64_t sceneUpdates = 0;  // the scene-level structure committed again
    // The host counted a change of the scene since the last query: the meshes were looked at
    // again (a query after none looks at nothing).
    std::uint64_t sceneChecks = 0;
    std::int64_t bytes = 0;
};
ROVA_API RayCounters rayCounters();

}  // namespace rova::host::scene
