// RPxDeformerNode: the inherited deformer attributes and the compute that runs deformGeometry.
#include "rova/RPxDeformerNode.h"
#include "HostImpl.h"

#include <map>

#include "api/Access.h"
#include "model/Attributes.h"
#include "model/NodeRecords.h"
#include "model/Objects.h"
#include "model/Values.h"
#include "rova/RPlug.h"
#include "scene/Deformers.h"

using rova::detail::AttributeDef;
using rova::detail::NodeRecord;
using rova::detail::ValueType;

namespace {
std::shared_ptr<AttributeDef> meshAttribute(const char* longName, const char* shortName) {
    auto def = rova::detail::makeAttribute(longName, shortName, ValueType::kMesh);
    def->array = true;
    return def;
}

// `input`, with its child `inputGeom` made first so both handles exist before either is used.
std::shared_ptr<AttributeDef> g_inputGeom = meshAttribute("inputGeom", "ig");

RObject makeInput() {
    auto def = rova::detail::makeAttribute("input", "ip", ValueType::kCompound);
    def->array = true;
    g_inputGeom->parent = def.get();
    def->children.push_back(g_inputGeom);
    return rova::detail::Access::make(def);
}

RObject makeOutput() {
    auto def = meshAttribute("outputGeom", "og");
    def->writable = false;
    def->storable = false;
    return rova::detail::Access::make(def);
}
}  // namespace

RObject RPxDeformerNode::input = makeInput();
RObject RPxDeformerNode::inputGeom = rova::detail::Access::make(g_inputGeom);
RObject RPxDeformerNode::outputGeom = makeOutput();

RPxDeformerNode::RPxDeformerNode() = default;
RPxDeformerNode::~RPxDeformerNode() = default;

RStatus RPxDeformerNode::deformGeometry(RDataBlock&, RItGeometry&, const RMatrix&, unsigned int) {
    return RStatus();
}

RStatus RPxDeformerNode::compute(const RPlug& plug, RDataBlock& block) {
    NodeRecord* node = rova::detail::NodeAccess::record(*this);
    if (!node || rova::detail::attributeOf(plug.attribute()) !=
                     rova::detail::attributeOf(RPxDeformerNode::outputGeom))
        return RStatus::kUnknownParameter;
    const int in = rova::scene::inputGeomIndex(node);
    const int out = rova::scene::outputGeomIndex(node);
    if (in < 0 || out < 0)
        return RStatus::kUnknownParameter;
    rova::detail::hostImpl().evaluate(node, in);  // what is connected into the geometries
    // Permanent edits change the input geometry in place: one that something else holds too (the
    // node it is connected from, an undo step's state from before) is copied first, so that the
    // edits reach this deformer's own copy alone.
    for (auto& [index, value] : node->arrays[in])
        if (const auto* mesh = dynamic_cast<const rova::scene::MeshData*>(value.mesh.get());
            mesh && value.mesh.use_count() > 1)
            value.mesh = mesh->copy();

    // A copy: deformGeometry may add elements while it reads its input.
    const std::map<unsigned, rova::detail::Value> geometries = node->arrays[in];
    RStatus result;
    for (const auto& [index, value] : geometries) {
        rova::scene::GeometryState state;
        state.input = std::dynamic_pointer_cast<rova::scene::MeshData>(value.mesh);
        state.toWorld = rova::scene::worldMatrix(rova::scene::deformedShape(node, index));
        RItGeometry iterator = rova::detail::GeometryAccess::make(&state);
        const RStatus status = deformGeometry(block, iterator, state.toWorld, index);
        auto& outputs = node->arrays[out];
        auto [at, made] = outputs.emplace(
            index, node->type->attributes[static_cast<std::size_t>(out)]->defaultValue);
        if (!status) {
            result = status;
            // Until a deformation succeeds the mesh shows the geometry as it came in.
            state.wrote = false;
            if (!at->second.mesh)
                at->second.mesh = rova::scene::deformedMesh(state, nullptr);
            continue;
        }
        at->second.mesh = rova::scene::deformedMesh(state, at->second.mesh);
        (void)made;
    }
    // Geometries that left the deformer leave its output too.
    auto& outputs = node->arrays[out];
    for (auto it = outputs.begin(); it != outputs.end();)
        it = geometries.count(it->first) ? std::next(it) : outputs.erase(it);
    return result;
}
