// The built-in scene node types: transform, mesh and camera.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <thread>

#include "Deformers.h"
#include "HostImpl.h"
#include "Scene.h"
#include "api/Access.h"
#include "model/Attributes.h"
#include "model/NodeRecords.h"
#include "model/NodeTypes.h"
#include "model/Objects.h"
#include "model/Values.h"
#include "rova/REulerRotation.h"
#include "rova/RPlug.h"

namespace rova::scene {

using detail::AttributeDef;
using detail::ValueType;

namespace {

// Every scene node: its kind and its place in the hierarchy.
class DagNode : public RPxNode {
  public:
    explicit DagNode(DagKind kind) : m_kind(kind) {}
    DagKind kind() const { return m_kind; }
    std::weak_ptr<detail::ObjectImpl> parent;
    // What was put under this node, in creation order; deleted ones are skipped on reading.
    std::vector<std::weak_ptr<detail::ObjectImpl>> children;

  protected:
    NodeRecord* record() const { return detail::NodeAccess::record(*this); }
    int requested(const RPlug& plug) const {
        return record()->type->indexOf(detail::attributeOf(plug.attribute()));
    }

  private:
    DagKind m_kind;
};

class TransformNode : public DagNode {
  public:
    TransformNode() : DagNode(DagKind::kTransform) {}
    RStatus compute(const RPlug& plug, RDataBlock&) override {
        NodeRecord* node = record();
        const int attribute = requested(plug);
        if (attribute == attributeIndex(node, "matrix"))
            node->valueOf(attribute).setMatrix(localMatrix(node));
        else if (attribute == attributeIndex(node, "worldMatrix"))
            node->valueOf(attribute).setMatrix(localMatrix(node) * worldMatrix(parentOf(node)));
        else
            return RStatus::kUnknownParameter;
        return RStatus::kSuccess;
    }
};

class MeshNode : public DagNode {
  public:
    MeshNode() : DagNode(DagKind::kMesh) {}
    // The shape's own geometry (inMesh, or what is connected to it) is what it shows.
    RStatus compute(const RPlug& plug, RDataBlock&) override {
        NodeRecord* node = record();
        const int attribute = requested(plug);
        if (attribute != attributeIndex(node, "outMesh"))
            return RStatus::kUnknownParameter;
        const int in = attributeIndex(node, "inMesh");
        detail::hostImpl().evaluate(node, in);
        node->valueOf(attribute).mesh = node->valueOf(in).mesh;
        // A source that failed (a deformer whose deformation failed) leaves inMesh dirty: the
        // shape shows what it has and stays dirty too, so the next pull tries again.
        return node->isDirty(in) ? RStatus::kFailure : RStatus::kSuccess;
    }
};

class CameraNode : public DagNode {
  public:
    CameraNode() : DagNode(DagKind::kCamera) {}
};

DagNode* dagOf(const NodeRecord* node) {
    return node && node->instance ? dynamic_cast<DagNode*>(node->instance) : nullptr;
}

std::shared_ptr<AttributeDef> output(const std::string& longName, const std::string& shortName,
                                     ValueType type) {
    auto def = detail::makeAttribute(longName, shortName, type);
    def->writable = false;
    def->storable = false;
    return def;
}

std::shared_ptr<NodeType> newType(const std::string& name, std::uint32_t id,
                                  std::function<RPxNode*()> creator) {
    auto type = std::make_shared<NodeType>();
    type->name = name;
    type->id = RTypeId(id);
    type->builtinCreator = std::move(creator);
    return type;
}

std::thread::id g_sceneThread;

}  // namespace

int addAttribute(NodeType& type, const std::shared_ptr<AttributeDef>& def) {
    const int index = static_cast<int>(type.attributes.size());
    type.addIndex(def.get(), index);
    type.attributes.push_back(def);
    type.affects.emplace_back();
    for (const auto& child : def->children) {
        type.addIndex(child.get(), static_cast<int>(type.attributes.size()));
        type.attributes.push_back(child);
        type.affects.emplace_back();
    }
    return index;
}

std::shared_ptr<AttributeDef> tripleAttribute(const std::string& longName,
                                              const std::string& shortName, double value) {
    auto def = detail::makeAttribute(longName, shortName, ValueType::kDouble3);
    def->numericType = RFnNumericData::k3Double;
    def->keyable = true;
    for (double& c : def->defaultValue.v3) c = value;
    int component = 0;
    for (const auto& [axis, shortAxis] : detail::kAxisSuffixes) {
        auto child =
            detail::makeAttribute(longName + axis, shortName + shortAxis, ValueType::kDouble);
        child->numericType = RFnNumericData::kDouble;
        child->keyable = true;
        child->defaultValue.d = value;
        child->parent = def.get();
        child->component = component++;
        def->children.push_back(child);
    }
    return def;
}

bool onSceneThread() {
    return std::this_thread::get_id() == g_sceneThread;
}

std::vector<std::shared_ptr<NodeType>> makeSceneTypes() {
    g_sceneThread = std::this_thread::get_id();
    auto transform = newType("transform", 0x524f0002u, [] { return new TransformNode(); });
    const int inputs[] = {
        addAttribute(*transform, tripleAttribute("translate", "t", 0.0)),
        addAttribute(*transform, tripleAttribute("rotate", "r", 0.0)),
        addAttribute(*transform, tripleAttribute("scale", "s", 1.0)),
        addAttribute(*transform, detail::makeAttribute("inputMatrix", "im", ValueType::kMatrix))};
    const int matrix = addAttribute(*transform, output("matrix", "m", ValueType::kMatrix));
    const int world = addAttribute(*transform, output("worldMatrix", "wm", ValueType::kMatrix));
    for (const int input : inputs)
        transform->affects[static_cast<std::size_t>(input)] = {matrix, world};
    transform->hierarchyAttribute = world;
    transform->hierarchyDependents = worldDependents;

    auto mesh = newType("mesh", 0x524f0003u, [] { return new MeshNode(); });
    const int in = addAttribute(*mesh, detail::makeAttribute("inMesh", "i", ValueType::kMesh));
    const int out = addAttribute(*mesh, output("outMesh", "o", ValueType::kMesh));
    mesh->affects[static_cast<std::size_t>(in)] = {out};

    auto camera = newType("camera", 0x524f0004u, [] { return new CameraNode(); });
    return {transform, mesh, camera};
}

DagKind dagKind(const NodeRecord* node) {
    const DagNode* dag = dagOf(node);
    return dag ? dag->kind() : DagKind::kNone;
}

int attributeIndex(const NodeRecord* node, const char* longName) {
    return node->type->findByName(longName);
}

// ---------------------------------------------------------------- hierarchy
NodeRecord* parentOf(const NodeRecord* node) {
    const DagNode* dag = dagOf(node);
    if (!dag)
        return nullptr;
    auto parent = std::static_pointer_cast<NodeRecord>(dag->parent.lock());
    return parent && parent->alive ? parent.get() : nullptr;
}

namespace {
NodeRecord* recordOf(const std::weak_ptr<detail::ObjectImpl>& object) {
    return static_cast<NodeRecord*>(object.lock().get());
}
}  // namespace

void setParent(NodeRecord* child, NodeRecord* parent) {
    DagNode* dag = dagOf(child);
    if (!dag)
        return;
    if (DagNode* old = dagOf(recordOf(dag->parent)))
        std::erase_if(old->children, [&](const auto& c) { return recordOf(c) == child; });
    dag->parent = parent ? parent->shared_from_this() : std::shared_ptr<detail::ObjectImpl>();
    if (DagNode* above = dagOf(parent)) {
        auto& list = above->children;
        std::erase_if(list, [](const auto& c) {
            const NodeRecord* n = recordOf(c);
            return !n || !n->alive;
        });
        const auto at = std::upper_bound(
            list.begin(), list.end(), child->creationIndex,
            [](std::uint64_t index, const auto& c) { return index < recordOf(c)->creationIndex; });
        list.insert(at, child->shared_from_this());
    }
    if (dag->kind() == DagKind::kTransform)
        detail::hostImpl().markDirty(child, attributeIndex(child, "worldMatrix"));
}

std::vector<NodeRecord*> childrenOf(const NodeRecord* node) {
    std::vector<NodeRecord*> out;
    if (!node)
        return out;
    const DagNode* dag = dagOf(node);
    if (!dag)
        return out;
    for (const auto& c : dag->children) {
        NodeRecord* child = recordOf(c);
        // Listed nodes only: the default camera's shape is nobody's child in the scene.
        if (child && child->creationIndex != 0 && parentOf(child) == node)
            out.push_back(child);
    }
    return out;
}

std::vector<NodeRecord*> subtree(NodeRecord* node) {
    std::vector<NodeRecord*> out{node};
    for (std::size_t k = 0; k < out.size(); ++k)
        for (NodeRecord* child : childrenOf(out[k])) out.push_back(child);
    return out;
}

std::vector<NodeRecord*> pathTo(NodeRecord* node) {
    std::vector<NodeRecord*> out;
    for (NodeRecord* at = node; at && out.size() <= 10000; at = parentOf(at))
        out.insert(out.begin(), at);
    return out;
}

std::vector<detail::PlugRef> worldDependents(NodeRecord* node, int attribute) {
    std::vector<detail::PlugRef> out;
    if (dagKind(node) != DagKind::kTransform || attribute != attributeIndex(node, "worldMatrix"))
        return out;
    for (NodeRecord* child : childrenOf(node))
        if (dagKind(child) == DagKind::kTransform)
            out.push_back({child, attributeIndex(child, "worldMatrix"), -1});
        else  // a deformer sees its mesh's world matrix
            for (const detail::PlugRef& deformer : deformersOf(child)) out.push_back(deformer);
    return out;
}

// ---------------------------------------------------------------- matrices
namespace {
// A node outside the node list (the default camera) has no connections to pull.
bool listed(const NodeRecord* node) {
    return node->creationIndex != 0 && node->alive;
}
}  // namespace

RMatrix localMatrix(NodeRecord* transform) {
    auto& host = detail::hostImpl();
    const bool pull = listed(transform);
    const auto read = [&](const char* name) -> const detail::Value& {
        const int a = attributeIndex(transform, name);
        if (pull)
            host.evaluate(transform, a);
        return transform->valueOf(a);
    };
    const double* t = read("translate").v3;
    const double* r = read("rotate").v3;
    const double* s = read("scale").v3;
    const RMatrix input = read("inputMatrix").matrix();
    constexpr double degrees = std::numbers::pi / 180.0;
    RMatrix scale;
    for (int k = 0; k < 3; ++k) scale[k][k] = s[k];
    RMatrix translate;
    for (int k = 0; k < 3; ++k) translate[3][k] = t[k];
    const RMatrix rotate =
        REulerRotation(r[0] * degrees, r[1] * degrees, r[2] * degrees, REulerRotation::kXYZ)
            .asMatrix();
    return scale * rotate * translate * input;
}

RMatrix worldMatrix(NodeRecord* node) {
    if (!node)
        return RMatrix();
    if (dagKind(node) != DagKind::kTransform)
        return worldMatrix(parentOf(node));
    if (!listed(node))
        return localMatrix(node) * worldMatrix(parentOf(node));
    const int world = attributeIndex(node, "worldMatrix");
    detail::hostImpl().evaluate(node, world);
    return node->valueOf(world).matrix();
}

void evaluateDisplayed() {
    auto& host = detail::hostImpl();
    const auto nodes = host.nodes;
    for (const auto& node : nodes) {
        if (!node->alive)
            continue;
        if (dagKind(node.get()) == DagKind::kTransform)
            host.evaluate(node.get(), attributeIndex(node.get(), "worldMatrix"));
        else if (dagKind(node.get()) == DagKind::kMesh)
            host.evaluate(node.get(), attributeIndex(node.get(), "outMesh"));
    }
}

// ---------------------------------------------------------------- meshes
std::shared_ptr<MeshData> meshOf(NodeRecord* shape) {
    if (dagKind(shape) != DagKind::kMesh)
        return nullptr;
    const int out = attributeIndex(shape, "outMesh");
    detail::hostImpl().evaluate(shape, out);
    return std::dynamic_pointer_cast<MeshData>(shape->valueOf(out).mesh);
}

host::Status setMeshOf(NodeRecord* shape, std::shared_ptr<MeshData> mesh) {
    if (dagKind(shape) != DagKind::kMesh)
        return host::Status::failure("'" + shape->name + "' is not a mesh");
    host::PlugValue value;
    value.kind = host::PlugValue::Kind::kMesh;
    value.mesh = std::move(mesh);
    return detail::hostImpl().storeValue(shape, attributeIndex(shape, "inMesh"), -1, value);
}

// ---------------------------------------------------------------- the active 3D view
namespace {
struct DetachedNode {
    std::shared_ptr<NodeRecord> record;
    std::unique_ptr<RPxNode> instance;
};

DetachedNode detached(const NodeType& type, const std::string& name) {
    DetachedNode out;
    out.record = std::make_shared<NodeRecord>();
    out.record->name = name;
    for (const auto& t : detail::hostImpl().sceneTypes)
        if (t.get() == &type)
            out.record->type = t;
    type.fillDefaults(out.record->values);
    out.record->dirty.assign(type.attributes.size(), 0);
    out.record->sizeEvaluating(type.attributes.size());
    out.instance.reset(type.builtinCreator());
    detail::NodeAccess::setRecord(*out.instance, out.record.get());
    out.record->instance = out.instance.get();
    return out;
}
}  // namespace

NodeRecord* defaultCameraShape() {
    static const auto camera = [] {
        auto& host = detail::hostImpl();
        auto transform = detached(*host.findType("transform"), "persp");
        double* t =
            transform.record->valueOf(attributeIndex(transform.record.get(), "translate")).v3;
        t[2] = 10.0;
        auto shape = detached(*host.findType("camera"), "perspShape");
        setParent(shape.record.get(), transform.record.get());
        return std::make_pair(std::move(transform), std::move(shape));
    }();
    return camera.second.record.get();
}

NodeRecord* activeCameraShape() {
    auto& host = detail::hostImpl();
    if (!host.activeCamera.empty())
        if (NodeRecord* shape = host.findNode(host.activeCamera);
            shape && dagKind(shape) == DagKind::kCamera)
            return shape;
    return defaultCameraShape();
}

}  // namespace rova::scene
