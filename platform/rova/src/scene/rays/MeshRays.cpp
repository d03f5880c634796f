// Each mesh's ray structure, and its reuse from one revision of a node's geometry to the next.
#include "scene/rays/MeshRays.h"

#include <unordered_map>

#include "model/NodeRecords.h"

namespace rova::scene::rays {
namespace {

// The structure each mesh node had last, so that the node's next geometry can reuse it.
std::unordered_map<const NodeRecord*,
                   std::pair<std::weak_ptr<detail::ObjectImpl>, std::shared_ptr<MeshRays>>>&
lastOfNode() {
    static std::unordered_map<
        const NodeRecord*, std::pair<std::weak_ptr<detail::ObjectImpl>, std::shared_ptr<MeshRays>>>
        table;
    return table;
}

void forgetDeletedNodes() {
    auto& table = lastOfNode();
    for (auto it = table.begin(); it != table.end();) {
        const auto node = it->second.first.lock();
        if (!node || !static_cast<NodeRecord*>(node.get())->alive)
            it = table.erase(it);
        else
            ++it;
    }
}

}  // namespace

host::Result<std::shared_ptr<MeshRays>> raysOf(NodeRecord* node, const MeshData& mesh) {
    if (auto cached = std::dynamic_pointer_cast<MeshRays>(mesh.cachedFor()))
        return {cached, {}};
    std::shared_ptr<MeshRays> previous;
    if (node) {
        const auto it = lastOfNode().find(node);
        if (it != lastOfNode().end() && !it->second.first.expired())
            previous = it->second.second;
    }
    std::shared_ptr<MeshRays> rays;
    if (previous && previous->sameTriangles(mesh)) {
        // The data that held it keeps its revision but loses the structure, which now shows the
        // new points.
        if (const auto owner = previous->owner.lock())
            if (auto* data = dynamic_cast<MeshData*>(owner.get());
                data && data->cachedFor() == previous)
                data->setCache(nullptr);
        previous->refit(mesh);
        rays = previous;
        ++buildCounters().refits;
    } else {
        rays = std::make_shared<MeshRays>();
        if (!rays->valid() || !rays->build(mesh))
            return {nullptr, deviceFailure("intersect: cannot build the ray structure")};
        ++(previous ? buildCounters().rebuilds : buildCounters().builds);
    }
    rays->owner = std::const_pointer_cast<detail::ObjectImpl>(mesh.shared_from_this());
    mesh.setCache(rays);
    if (node) {
        const bool known = lastOfNode().count(node) != 0;
        lastOfNode()[node] = {node->shared_from_this(), rays};
        if (!known)
            forgetDeletedNodes();
    }
    return {rays, {}};
}

}  // namespace rova::scene::rays
