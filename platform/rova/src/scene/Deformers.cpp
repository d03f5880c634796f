// Deformers on scene meshes: where a deformed shape's geometry comes from, which world matrix a
// deformer sees, and what it puts out.
#include "Deformers.h"
#include "HostImpl.h"

#include <algorithm>
#include <map>

#include "SceneChanges.h"
#include "api/Access.h"
#include "host/Diagnostics.h"
#include "model/Attributes.h"
#include "model/NodeRecords.h"
#include "model/NodeTypes.h"
#include "model/Objects.h"
#include "model/Values.h"
#include "rova/RPxDeformerNode.h"
#include "rovahost/Boundary.h"
#include "rovahost/Deformers.h"
#include "rovahost/Scene.h"

namespace rova::scene {

bool isDeformer(const NodeRecord* node) {
    return node && node->type && node->type->kind == RPxNode::kDeformerNode;
}

int inputGeomIndex(const NodeRecord* deformer) {
    return deformer->type->indexOf(detail::attributeOf(RPxDeformerNode::inputGeom));
}

int outputGeomIndex(const NodeRecord* deformer) {
    return deformer->type->indexOf(detail::attributeOf(RPxDeformerNode::outputGeom));
}

NodeRecord* deformedShape(NodeRecord* deformer, unsigned index) {
    // A stack is short; the bound only guards against a cycle that connect already refuses.
    for (int depth = 0; deformer && depth < 1000; ++depth) {
        const int out = outputGeomIndex(deformer);
        NodeRecord* next = nullptr;
        std::vector<detail::ConnectionRef> outgoing;
        host::Host::Impl::outgoingOf(deformer, {out}, outgoing);
        for (const detail::ConnectionRef& connection : outgoing) {
            const detail::Connection& c = *connection;
            if (c.source.element != static_cast<int>(index))
                continue;
            NodeRecord* to = c.destination.node;
            if (dagKind(to) == DagKind::kMesh)
                return to;
            if (isDeformer(to) && c.destination.attribute == inputGeomIndex(to) &&
                c.destination.element >= 0) {
                next = to;
                index = static_cast<unsigned>(c.destination.element);
                break;
            }
        }
        deformer = next;
    }
    return nullptr;
}

std::vector<detail::PlugRef> deformersOf(NodeRecord* shape) {
    std::vector<detail::PlugRef> out;
    if (dagKind(shape) != DagKind::kMesh)
        return out;
    auto& host = detail::hostImpl();
    const detail::Connection* feed = host.incoming(shape, attributeIndex(shape, "inMesh"), -1);
    while (feed && isDeformer(feed->source.node) &&
           feed->source.attribute == outputGeomIndex(feed->source.node) && out.size() < 1000) {
        NodeRecord* deformer = feed->source.node;
        out.push_back({deformer, feed->source.attribute, -1});
        feed = host.incoming(deformer, inputGeomIndex(deformer), feed->source.element);
    }
    return out;
}

std::shared_ptr<MeshData> deformedMesh(const GeometryState& state,
                                       const std::shared_ptr<detail::ObjectImpl>& previous) {
    if (!state.input)
        return nullptr;
    const std::vector<RPoint>& points = state.wrote ? state.written : state.input->points();
    if (auto* before = dynamic_cast<MeshData*>(previous.get());
        before && before->points() == points && before->faceCounts() == state.input->faceCounts() &&
        before->faceVertices() == state.input->faceVertices())
        return std::static_pointer_cast<MeshData>(previous);
    auto out = std::make_shared<MeshData>();
    out->setTopology(points, state.input->faceCounts(), state.input->faceVertices());
    return out;
}

}  // namespace rova::scene

namespace rova::host::scene {

Result<std::string> addDeformer(const std::string& type, const std::vector<std::string>& meshes,
                                const std::string& name) {
    Result<std::string> out;
    auto& host = Host::instance();
    auto& impl = detail::hostImpl();
    const detail::NodeType* deformerType = impl.findType(type);
    if (!deformerType) {
        out.status = Status::failure("unknown node type '" + type + "'");
        return out;
    }
    if (deformerType->kind != RPxNode::kDeformerNode) {
        out.status = Status::failure("'" + type + "' is not a deformer type");
        return out;
    }
    // Every mesh is checked before anything changes.
    std::vector<std::string> shapes;
    for (const std::string& mesh : meshes) {
        const auto shape = shapeOf(mesh, ShapeType::kMesh);
        if (!shape.ok()) {
            out.status = shape.status;
            return out;
        }
        for (const std::string& seen : shapes)
            if (seen == shape.value) {
                out.status = Status::failure("'" + mesh + "' is named twice");
                return out;
            }
        shapes.push_back(shape.value);
    }
    out = host.createNode(type, name);
    if (!out.ok())
        return out;
    const std::string deformer = out.value;
    std::vector<std::pair<std::string, std::string>> sources;  // (source, shape's inMesh)
    for (std::size_t k = 0; k < shapes.size(); ++k) {
        const std::string index = "[" + std::to_string(k) + "]";
        const std::string shapeIn = shapes[k] + ".inMesh";
        Status status;
        std::string source;
        for (const auto& [from, to] : host.connections(shapes[k]))
            if (to == shapeIn)
                source = from;
        if (!source.empty()) {
            status = host.disconnect(source, shapeIn);
            if (status)
                sources.emplace_back(source, shapeIn);
            if (status)
                status = host.connect(source, deformer + ".inputGeom" + index);
        } else {
            detail::NodeRecord* shape = impl.findNode(shapes[k]);
            const auto own = std::dynamic_pointer_cast<rova::scene::MeshData>(
                shape->valueOf(rova::scene::attributeIndex(shape, "inMesh")).mesh);
            PlugValue value;
            value.kind = PlugValue::Kind::kMesh;
            value.mesh = own ? own->copy() : std::make_shared<rova::scene::MeshData>();
            status = host.setPlugValue(deformer + ".inputGeom" + index, value);
        }
        if (status)
            status = host.connect(deformer + ".outputGeom" + index, shapeIn);
        if (!status) {
            // Back to where it started: the deformer's connections go with it.
            host.deleteNode(deformer);
            for (const auto& [from, to] : sources) host.connect(from, to);
            out.status = status;
            return out;
        }
    }
    return out;
}

namespace {

// Replaces the node's plug-in instance by a fresh one from its type's creator; values, connections
// and name stay. The old one stays when the creator fails.
void renewInstance(detail::NodeRecord* node) {
    const detail::NodeType& type = *node->type;
    RPxNode* fresh = nullptr;
    if (const auto error = guardBoundary("creating a node of type '" + type.name + "'", [&] {
            fresh =
                type.builtinCreator ? type.builtinCreator() : static_cast<RPxNode*>(type.creator());
        })) {
        detail::writeError(*error);
        return;
    }
    if (!fresh)
        return;
    RPxNode* old = node->instance;
    detail::NodeAccess::setRecord(*fresh, node);
    node->instance = fresh;
    if (const auto error =
            guardBoundary("the destructor of node '" + node->name + "'", [&] { delete old; }))
        detail::writeError(*error);
    if (const auto error = guardBoundary("postConstructor of '" + node->name + "'",
                                         [&] { fresh->postConstructor(); }))
        detail::writeError(*error);
}

bool sameMeshes(const std::map<unsigned, detail::Value>& a,
                const std::map<unsigned, detail::Value>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.first == y.first && x.second.mesh == y.second.mesh;
    });
}

}  // namespace

struct DeformerState {
    std::string name, type;
    std::map<unsigned, detail::Value> input, output;
    bool outputDirty = false;
};

DeformerStates captureDeformerStates() {
    DeformerStates out;
    for (const auto& node : detail::hostImpl().deformerNodes) {
        const int in = rova::scene::inputGeomIndex(node.get());
        const int result = rova::scene::outputGeomIndex(node.get());
        if (in < 0 || result < 0)
            continue;
        auto state = std::make_shared<DeformerState>();
        state->name = node->name;
        state->type = node->type->name;
        state->input = node->arrays[in];
        state->output = node->arrays[result];
        state->outputDirty = node->isDirty(result);
        out.push_back(std::move(state));
    }
    return out;
}

void restoreDeformerStates(const DeformerStates& states) {
    auto& impl = detail::hostImpl();
    std::vector<std::pair<detail::NodeRecord*, const DeformerState*>> restored;
    for (const auto& state : states) {
        detail::NodeRecord* node = impl.findNode(state->name);
        if (!rova::scene::isDeformer(node) || node->type->name != state->type)
            continue;
        const int in = rova::scene::inputGeomIndex(node);
        const int result = rova::scene::outputGeomIndex(node);
        if (in < 0 || result < 0)
            continue;
        // A deformation since replaced the input geometry (it is copied before one that could
        // edit it), so the instance may keep working state from after the step.
        const bool deformedSince = !sameMeshes(node->arrays[in], state->input);
        node->arrays[in] = state->input;
        node->arrays[result] = state->output;
        if (deformedSince)
            renewInstance(node);
        restored.emplace_back(node, state.get());
    }
    // What shows the outputs takes them up again; the outputs themselves are as current as they
    // were, also where a stacked deformer's output was dirtied by the one before it.
    for (const auto& [node, state] : restored)
        impl.dirtyDependents(node, rova::scene::outputGeomIndex(node));
    for (const auto& [node, state] : restored)
        node->dirty[static_cast<std::size_t>(node->storageOf(rova::scene::outputGeomIndex(node)))] =
            state->outputDirty ? 1 : 0;
    if (!restored.empty())
        detail::noteSceneChange();
}

}  // namespace rova::host::scene
