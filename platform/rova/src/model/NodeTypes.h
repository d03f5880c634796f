#pragma once
// Node types: their attributes, what affects what, and the lookups dirtying and evaluation ask.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/Attributes.h"
#include "rova/RFnPlugin.h"
#include "rova/RPxNode.h"

namespace rova::detail {

struct PluginRecord;
class NodeRecord;
struct PlugRef;

struct NodeType {
    std::string name;
    RTypeId id;
    RCreatorFunction creator = nullptr;
    RInitializeFunction initialize = nullptr;
    RPxNode::Type kind = RPxNode::kDependNode;
    PluginRecord* plugin = nullptr;  // null for the host's own types
    std::function<RPxNode*()> builtinCreator;
    // The attribute whose change reaches the nodes below a node of this type (the transform's
    // world matrix); -1 for types outside the hierarchy.
    int hierarchyAttribute = -1;
    // The plugs a change of `hierarchyAttribute` reaches besides its connections (the world
    // matrices below, the deformers of the meshes below). The scene, which owns the hierarchy,
    // supplies it, so that dirtying and dependency paths need nothing of the scene.
    std::vector<PlugRef> (*hierarchyDependents)(NodeRecord* node, int attribute) = nullptr;
    std::vector<std::shared_ptr<AttributeDef>>
        attributes;  // creation order, children after parents
    std::unordered_map<const AttributeDef*, int> index;
    std::vector<std::vector<int>> affects;

    // Asked for every handle a compute takes: the attribute's hint answers without hashing
    // unless the attribute belongs to several types (the inherited ones).
    int indexOf(const AttributeDef* attribute) const {
        if (attribute) {
            const int hint = attribute->indexHint;
            if (hint >= 0 && static_cast<std::size_t>(hint) < attributes.size() &&
                attributes[static_cast<std::size_t>(hint)].get() == attribute)
                return hint;
        }
        auto it = index.find(attribute);
        return it == index.end() ? -1 : it->second;
    }
    void addIndex(AttributeDef* attribute, int at) {
        index[attribute] = at;
        handleSlots.clear();  // until the lookups are built again: held slots mean current ones
        if (attribute->indexHint < 0)
            attribute->indexHint = at;
    }
    // By long name, else by short name. Once the lookups are built, through `names` (a scan would
    // read every attribute's definition before the one asked for).
    int findByName(std::string_view name) const;
    int parentIndex(int attribute) const;  // -1 when not a child

    // Per attribute, looked up on every dirtying and evaluation: where its value lives (children
    // of a three-number compound share their parent's), and its family (itself, its compound
    // parent, its children). Built when the type's first node is made; while attributes are
    // still being added (the tables are shorter than `attributes`) they are worked out each time.
    std::vector<int> storage;
    // Per attribute, its value's place among a node's values: a node holds one value per storage
    // attribute, in attribute order, and none for the children that share their parent's, so
    // that what a compute reads lies close together.
    std::vector<int> valueSlots;
    std::vector<std::vector<int>> families;
    // Per attribute, the attributes that affect it (`affects` turned round), for a pull that brings
    // a plug's inputs up to date before its compute reads them.
    std::vector<std::vector<int>> affectedBy;
    // The attributes as the handles a compute's plug holds, made with the tables: a plug made
    // from these takes one reference, not three that are dropped again.
    std::vector<RObject> attributeObjects;
    // Where a compute's output handle finds an attribute without reading its definition: each
    // definition is a cache line apart, which a compute writing many outputs would read once per
    // output, where these slots (keyed by the definition's address, built with the tables above)
    // are a few lines in all. Attributes from index 32768 on are left out.
    struct HandleSlot {
        const ObjectImpl* attribute = nullptr;
        std::int16_t index = -1;
        std::int16_t storage = -1;
        std::int16_t value = -1;      // its place among the node's values (see valueSlots)
        std::int16_t component = -1;  // a child of a compound of three numbers: its component
    };
    std::vector<HandleSlot> handleSlots;  // a power of two in size, at most three quarters full
    // Long and short names (views of the definitions' own, which never change) to the index of
    // the first attribute with that long name, else the first with that short name.
    std::unordered_map<std::string_view, int> names;
    // The slot of `attribute` (not null), or null when it has none or the slots are not built.
    const HandleSlot* handleSlot(const ObjectImpl* attribute) const {
        if (handleSlots.empty())
            return nullptr;
        const std::size_t mask = handleSlots.size() - 1;
        for (std::size_t at = slotHash(attribute) & mask;; at = (at + 1) & mask) {
            const HandleSlot& slot = handleSlots[at];
            if (slot.attribute == attribute)
                return &slot;
            if (!slot.attribute)
                return nullptr;
        }
    }
    static std::size_t slotHash(const ObjectImpl* attribute) {
        return static_cast<std::size_t>(
            ((reinterpret_cast<std::uintptr_t>(attribute) >> 4) * 0x9E3779B97F4A7C15ull) >> 40);
    }
    void buildLookups();
    bool lookupsCurrent() const { return storage.size() == attributes.size(); }
    int computeStorage(int attribute) const;
    int valueSlotOf(int attribute) const {
        return lookupsCurrent() ? valueSlots[static_cast<std::size_t>(attribute)]
                                : computeValueSlot(attribute);
    }
    int computeValueSlot(int attribute) const;
    // A new node's values: each storage attribute's default, in place order.
    template <class Values>
    void fillDefaults(Values& values) const {
        const auto owns = [&](int a) {
            return (lookupsCurrent() ? storage[static_cast<std::size_t>(a)] : computeStorage(a)) ==
                   a;
        };
        const int count = static_cast<int>(attributes.size());
        std::size_t places = 0;
        for (int a = 0; a < count; ++a) places += owns(a) ? 1 : 0;
        values.clear();
        values.reserve(places);  // one block, the size of the type's values
        for (int a = 0; a < count; ++a)
            if (owns(a))
                values.push_back(attributes[static_cast<std::size_t>(a)]->defaultValue);
    }
    std::vector<int> computeFamily(int attribute) const;
};

}  // namespace rova::detail
