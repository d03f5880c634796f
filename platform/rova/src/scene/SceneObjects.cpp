// The scene as the rova program uses it: objects, hierarchy, geometry and the active view.
#include "Deformers.h"
#include "HostImpl.h"
#include "Scene.h"
#include "SceneChanges.h"
#include "model/NodeRecords.h"
#include "rovahost/Scene.h"

namespace rova::host::scene {

using rova::scene::DagKind;
using rova::scene::dagKind;

namespace {
Result<detail::NodeRecord*> findDag(const std::string& name) {
    Result<detail::NodeRecord*> out;
    out.value = detail::hostImpl().findNode(name);
    if (!out.value)
        out.status = Status::failure("no object named '" + name + "'");
    else if (!rova::scene::isDag(out.value))
        out.status = Status::failure("'" + name + "' is not a scene object (it is a " +
                                     out.value->type->name + " node)");
    return out;
}

const char* typeName(ShapeType type) {
    return type == ShapeType::kMesh ? "mesh" : "camera";
}

Result<detail::NodeRecord*> findShape(const std::string& object, ShapeType type) {
    auto found = findDag(object);
    if (!found.ok())
        return found;
    const DagKind want = type == ShapeType::kMesh ? DagKind::kMesh : DagKind::kCamera;
    if (dagKind(found.value) == want)
        return found;
    if (dagKind(found.value) == DagKind::kTransform)
        for (detail::NodeRecord* child : rova::scene::childrenOf(found.value))
            if (dagKind(child) == want) {
                found.value = child;
                return found;
            }
    found.status = Status::failure("'" + object + "' is not a " + typeName(type) + " (it is a " +
                                   found.value->type->name + ")");
    return found;
}
}  // namespace

Result<std::string> createTransform(const std::string& name, const std::string& parent) {
    Result<std::string> out;
    detail::NodeRecord* above = nullptr;
    if (!parent.empty()) {
        const auto transform = transformOf(parent);
        if (!transform.ok()) {
            out.status = transform.status;
            return out;
        }
        above = detail::hostImpl().findNode(transform.value);
    }
    out = Host::instance().createNode("transform", name);
    if (out.ok() && above)
        rova::scene::setParent(detail::hostImpl().findNode(out.value), above);
    return out;
}

Result<std::string> createShape(const std::string& transform, ShapeType type) {
    Result<std::string> out;
    const auto above = findDag(transform);
    if (!above.ok() || dagKind(above.value) != DagKind::kTransform) {
        out.status =
            above.ok() ? Status::failure("'" + transform + "' is not a transform") : above.status;
        return out;
    }
    // The shape's name within the longest a name may be, whatever the transform's length.
    const std::string suffix = "Shape";
    out = Host::instance().createNode(
        typeName(type), transform.substr(0, Host::kMaxNodeNameLength - suffix.size()) + suffix);
    if (!out.ok())
        return out;
    detail::NodeRecord* shape = detail::hostImpl().findNode(out.value);
    rova::scene::setParent(shape, above.value);
    if (type == ShapeType::kMesh)
        rova::scene::setMeshOf(shape, std::make_shared<rova::scene::MeshData>());
    return out;
}

Status setGeometry(const std::string& object, const MeshGeometry& geometry) {
    const auto shape = findShape(object, ShapeType::kMesh);
    if (!shape.ok())
        return shape.status;
    std::vector<RPoint> points;
    for (const auto& p : geometry.points) points.emplace_back(p[0], p[1], p[2]);
    std::vector<int> counts, vertices;
    for (const auto& face : geometry.faces) {
        counts.push_back(static_cast<int>(face.size()));
        for (const int v : face) {
            if (v < 0 || static_cast<std::size_t>(v) >= points.size())
                return Status::failure("a face of '" + object + "' names vertex " +
                                       std::to_string(v) + " of " + std::to_string(points.size()));
            vertices.push_back(v);
        }
    }
    auto mesh = std::make_shared<rova::scene::MeshData>();
    mesh->setTopology(std::move(points), std::move(counts), std::move(vertices));
    return rova::scene::setMeshOf(shape.value, mesh);
}

Result<MeshGeometry> geometry(const std::string& object, bool world) {
    Result<MeshGeometry> out;
    const auto shape = findShape(object, ShapeType::kMesh);
    if (!shape.ok()) {
        out.status = shape.status;
        return out;
    }
    const auto mesh = rova::scene::meshOf(shape.value);
    if (!mesh)
        return out;
    const RMatrix m = world ? rova::scene::worldMatrix(shape.value) : RMatrix();
    for (const RPoint& p : mesh->points()) {
        const RPoint q = world ? p * m : p;
        out.value.points.push_back({q.x, q.y, q.z});
    }
    std::size_t start = 0;
    for (const int count : mesh->faceCounts()) {
        out.value.faces.emplace_back(
            mesh->faceVertices().begin() + static_cast<long>(start),
            mesh->faceVertices().begin() +
                static_cast<long>(start + static_cast<std::size_t>(count)));
        start += static_cast<std::size_t>(count);
    }
    return out;
}

Result<std::uint64_t> meshRevision(const std::string& object) {
    Result<std::uint64_t> out;
    const auto shape = findShape(object, ShapeType::kMesh);
    if (!shape.ok()) {
        out.status = shape.status;
        return out;
    }
    if (const auto mesh = rova::scene::meshOf(shape.value))
        out.value = mesh->revision();
    return out;
}

// Every polygon of the host is convex when it is planar, so a fan covers it.
std::vector<std::uint32_t> triangleFans(const std::vector<std::vector<int>>& faces) {
    std::vector<std::uint32_t> indices;
    for (const auto& face : faces)
        for (std::size_t k = 2; k < face.size(); ++k)
            for (int vertex : {face[0], face[k - 1], face[k]})
                indices.push_back(static_cast<std::uint32_t>(vertex));
    return indices;
}

Result<std::string> transformOf(const std::string& object) {
    Result<std::string> out;
    const auto found = findDag(object);
    if (!found.ok()) {
        out.status = found.status;
        return out;
    }
    detail::NodeRecord* node = found.value;
    if (dagKind(node) != DagKind::kTransform)
        node = rova::scene::parentOf(node);
    if (!node)
        out.status = Status::failure("'" + object + "' has no transform");
    else
        out.value = node->name;
    return out;
}

Result<std::string> shapeOf(const std::string& object, ShapeType type) {
    Result<std::string> out;
    const auto found = findShape(object, type);
    out.status = found.status;
    if (found.ok())
        out.value = found.value->name;
    return out;
}

std::string parentOf(const std::string& node) {
    detail::NodeRecord* parent = rova::scene::parentOf(detail::hostImpl().findNode(node));
    return parent ? parent->name : "";
}

Status setParent(const std::string& node, const std::string& parent) {
    auto child = findDag(node);
    if (!child.ok())
        return child.status;
    detail::NodeRecord* above = nullptr;
    if (!parent.empty()) {
        auto found = findDag(parent);
        if (!found.ok())
            return found.status;
        if (dagKind(found.value) != DagKind::kTransform)
            return Status::failure("'" + parent + "' is not a transform");
        for (detail::NodeRecord* at = found.value; at; at = rova::scene::parentOf(at))
            if (at == child.value)
                return Status::failure("'" + parent + "' is below '" + node + "'");
        above = found.value;
        // Below its new parent the node follows the parent's world matrix: nothing the node
        // feeds may feed that matrix.
        auto& host = detail::hostImpl();
        const int world = rova::scene::attributeIndex(above, "worldMatrix");
        std::vector<detail::PlugRef> followers;
        if (dagKind(child.value) == DagKind::kTransform)
            followers.push_back(
                {child.value, rova::scene::attributeIndex(child.value, "worldMatrix"), -1});
        else
            followers = rova::scene::deformersOf(child.value);
        for (const detail::PlugRef& follower : followers)
            if (const auto loop = host.dependencyPath(follower, {above, world, -1});
                !loop.empty()) {
                std::string path;
                for (const auto& plug : loop) path += plug + " -> ";
                return Status::failure("cannot put '" + node + "' under '" + parent +
                                       "': it would close a cycle: " + path +
                                       host.plugName(follower));
            }
    }
    rova::scene::setParent(child.value, above);
    detail::noteSceneChange();  // a shape's world matrix is its new parent's
    return {};
}

std::vector<std::string> subtree(const std::string& node) {
    std::vector<std::string> names;
    if (detail::NodeRecord* record = detail::hostImpl().findNode(node))
        for (detail::NodeRecord* n : rova::scene::subtree(record)) names.push_back(n->name);
    return names;
}

std::string activeCamera() {
    detail::NodeRecord* shape = rova::scene::activeCameraShape();
    return shape == rova::scene::defaultCameraShape() ? "" : shape->name;
}

Status setActiveCamera(const std::string& object) {
    if (object.empty()) {
        detail::hostImpl().activeCamera.clear();
        return {};
    }
    const auto shape = findShape(object, ShapeType::kCamera);
    if (!shape.ok())
        return shape.status;
    detail::hostImpl().activeCamera = shape.value->name;
    return {};
}

std::string defaultCameraPath() {
    detail::NodeRecord* shape = rova::scene::defaultCameraShape();
    return "|" + rova::scene::parentOf(shape)->name + "|" + shape->name;
}

}  // namespace rova::host::scene
