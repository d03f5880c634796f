// Stored attribute values and the node records that hold them.
#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <exception>
#include <iostream>
#include <mutex>
#include <new>
#include <type_traits>

#include "host/DataThreadState.h"
#include "host/Diagnostics.h"
#include "model/Attributes.h"
#include "model/NodeRecords.h"
#include "model/NodeTypes.h"
#include "model/Slabs.h"
#include "model/Values.h"
#include "rova/RArrayDataHandle.h"
#include "rova/RDataBlock.h"
#include "rova/RDataHandle.h"
#include "rova/RPlug.h"

using rova::detail::AttributeDef;
using rova::detail::NodeRecord;
using rova::detail::NodeType;
using rova::detail::Value;
using rova::detail::ValueType;

namespace rova::detail {

const char* valueTypeName(ValueType type) {
    switch (type) {
        case ValueType::kBool:
            return "bool";
        case ValueType::kShort:
            return "short";
        case ValueType::kInt:
            return "int";
        case ValueType::kFloat:
            return "float";
        case ValueType::kDouble:
            return "double";
        case ValueType::kDouble3:
            return "double3";
        case ValueType::kTime:
            return "time";
        case ValueType::kMatrix:
            return "matrix";
        case ValueType::kEnum:
            return "enum";
        case ValueType::kString:
            return "string";
        case ValueType::kMesh:
            return "mesh";
        case ValueType::kCompound:
            return "compound";
    }
    return "unknown";
}

bool isScalar(ValueType type) {
    switch (type) {
        case ValueType::kBool:
        case ValueType::kShort:
        case ValueType::kInt:
        case ValueType::kFloat:
        case ValueType::kDouble:
        case ValueType::kTime:
        case ValueType::kEnum:
            return true;
        default:
            return false;
    }
}

double Value::asNumber() const {
    switch (type) {
        case ValueType::kBool:
            return b ? 1.0 : 0.0;
        case ValueType::kShort:
        case ValueType::kInt:
        case ValueType::kEnum:
            return static_cast<double>(i);
        default:
            return d;
    }
}

void Value::setNumber(double value) {
    switch (type) {
        case ValueType::kBool:
            b = value != 0.0;
            break;
        case ValueType::kShort:
        case ValueType::kInt:
        case ValueType::kEnum:
            i = static_cast<std::int64_t>(value);
            break;
        case ValueType::kFloat:
            d = static_cast<double>(static_cast<float>(value));
            break;
        case ValueType::kDouble3:
            v3[0] = v3[1] = v3[2] = value;
            break;
        default:
            d = value;
            break;
    }
}

const RMatrix Value::kIdentity;
const std::string Value::kEmpty;

Value& Value::operator=(const Value& other) {
    if (this == &other)
        return *this;
    type = other.type;
    b = other.b;
    i = other.i;
    d = other.d;
    for (int k = 0; k < 3; ++k) v3[k] = other.v3[k];
    mesh = other.mesh;
    if (other.m_wide && m_wide)
        *m_wide = *other.m_wide;
    else if (other.m_wide)
        m_wide = makeWide(other.m_wide.get());
    else
        m_wide.reset();
    return *this;
}

bool Value::assignFrom(const Value& other) {
    if (isScalar(type) && isScalar(other.type)) {
        setNumber(other.asNumber());
        return true;
    }
    if (type != other.type)
        return false;
    const ValueType keep = type;
    *this = other;
    type = keep;
    return true;
}

int NodeType::findByName(std::string_view text) const {
    if (lookupsCurrent()) {
        const auto it = names.find(text);
        return it == names.end() ? -1 : it->second;
    }
    for (std::size_t k = 0; k < attributes.size(); ++k)
        if (attributes[k]->longName == text)
            return static_cast<int>(k);
    for (std::size_t k = 0; k < attributes.size(); ++k)
        if (attributes[k]->shortName == text)
            return static_cast<int>(k);
    return -1;
}

int NodeType::parentIndex(int attribute) const {
    const AttributeDef* parent = attributes[static_cast<std::size_t>(attribute)]->parent;
    return parent ? indexOf(parent) : -1;
}

int NodeType::computeStorage(int attribute) const {
    const AttributeDef& def = *attributes[static_cast<std::size_t>(attribute)];
    if (def.parent && def.parent->type == ValueType::kDouble3) {
        const int parent = indexOf(def.parent);
        if (parent >= 0)
            return parent;
    }
    return attribute;
}

int NodeType::computeValueSlot(int attribute) const {
    const int owner = computeStorage(attribute);
    int slot = 0;
    for (int a = 0; a < owner; ++a)
        if (computeStorage(a) == a)
            ++slot;
    return slot;
}

std::vector<int> NodeType::computeFamily(int attribute) const {
    std::vector<int> out{attribute};
    const int parent = parentIndex(attribute);
    if (parent >= 0)
        out.push_back(parent);
    for (const auto& child : attributes[static_cast<std::size_t>(attribute)]->children) {
        const int childIndex = indexOf(child.get());
        if (childIndex >= 0)
            out.push_back(childIndex);
    }
    return out;
}

void NodeType::buildLookups() {
    const int count = static_cast<int>(attributes.size());
    std::vector<int> storageTable(static_cast<std::size_t>(count));
    std::vector<std::vector<int>> familyTable(static_cast<std::size_t>(count));
    for (int a = 0; a < count; ++a) {
        storageTable[static_cast<std::size_t>(a)] = computeStorage(a);
        familyTable[static_cast<std::size_t>(a)] = computeFamily(a);
    }
    std::vector<std::vector<int>> affectedByTable(static_cast<std::size_t>(count));
    for (int a = 0; a < count && static_cast<std::size_t>(a) < affects.size(); ++a)
        for (const int target : affects[static_cast<std::size_t>(a)])
            if (target >= 0 && target < count)
                affectedByTable[static_cast<std::size_t>(target)].push_back(a);
    std::vector<int> slotTable(static_cast<std::size_t>(count));
    int places = 0;
    for (int a = 0; a < count; ++a) {
        const int owner = storageTable[static_cast<std::size_t>(a)];
        slotTable[static_cast<std::size_t>(a)] =
            owner == a ? places++ : slotTable[static_cast<std::size_t>(owner)];
    }
    affectedBy = std::move(affectedByTable);
    families = std::move(familyTable);
    valueSlots = std::move(slotTable);
    storage = std::move(storageTable);
    attributeObjects.clear();
    for (const auto& attribute : attributes) attributeObjects.push_back(Access::make(attribute));

    std::size_t size = 8;
    while (size * 3 < static_cast<std::size_t>(count) * 4) size *= 2;
    std::vector<HandleSlot> slots(size);
    for (int a = 0; a < count && a < 32768; ++a) {
        const AttributeDef& def = *attributes[static_cast<std::size_t>(a)];
        std::size_t at = slotHash(&def) & (size - 1);
        while (slots[at].attribute) at = (at + 1) & (size - 1);
        slots[at] = HandleSlot{
            &def, static_cast<std::int16_t>(a),
            static_cast<std::int16_t>(storage[static_cast<std::size_t>(a)]),
            static_cast<std::int16_t>(valueSlots[static_cast<std::size_t>(a)]),
            static_cast<std::int16_t>(
                def.parent && def.parent->type == ValueType::kDouble3 ? def.component : -1)};
    }
    handleSlots = std::move(slots);

    std::unordered_map<std::string_view, int> byName;
    for (int a = 0; a < count; ++a)
        byName.emplace(attributes[static_cast<std::size_t>(a)]->longName, a);
    for (int a = 0; a < count; ++a)
        byName.emplace(attributes[static_cast<std::size_t>(a)]->shortName, a);
    names = std::move(byName);
}

namespace {
// The slabs of every size asked (a few: a record's block, each type's values and node objects).
class Slabs {
  public:
    static Slabs& instance() {
        static auto* slabs = new Slabs;  // never freed: blocks may be given back at exit
        return *slabs;
    }
    void* take(std::size_t bytes) {
        if (kChecked || bytes == 0)
            return ::operator new (bytes, std::align_val_t{kAlign});
        std::lock_guard<std::mutex> lock(m_mutex);
        Pool& pool = poolOf(bytes);
        if (pool.free) {
            Free* block = pool.free;
            pool.free = block->next;
            return block;
        }
        // Handed out from the pool's newest slab in address order, each block first touched when
        // taken. Each slab is twice the last, up to a huge page: a small scene keeps small slabs.
        const std::size_t stride = (bytes + kAlign - 1) / kAlign * kAlign;
        if (pool.next == nullptr || pool.next + stride > pool.end) {
            pool.slabBytes =
                pool.slabBytes == 0 ? kFirstSlabBytes : std::min(pool.slabBytes * 2, kHugePage);
            const std::size_t count = std::max<std::size_t>(1, pool.slabBytes / stride);
            pool.next = newSlab(stride * count);
            pool.end = pool.next + stride * count;
        }
        void* block = pool.next;
        pool.next += stride;
        return block;
    }
    void give(void* block, std::size_t bytes) {
        if (kChecked || bytes == 0) {
            ::operator delete (block, std::align_val_t{kAlign});
            return;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        Pool& pool = poolOf(bytes);
        pool.free = new (block) Free{pool.free};
    }

  private:
    static constexpr std::size_t kAlign = 64, kFirstSlabBytes = std::size_t{128} << 10,
                                 kHugePage = std::size_t{2} << 20;
    // Under the address sanitizer every block is one of its own, so that a use after it was
    // given back is still caught.
#if defined(__SANITIZE_ADDRESS__)
    static constexpr bool kChecked = true;
#else
    static constexpr bool kChecked = false;
#endif
    struct Free {
        Free* next;
    };
    struct Pool {
        std::size_t bytes;
        Free* free;
        char* next = nullptr;  // the newest slab's blocks not handed out yet
        char* end = nullptr;
        std::size_t slabBytes = 0;  // the newest slab's size
    };
    // A large scene's walks cross many slabs: huge pages, where the system grants them, spare
    // them most of their address translations (at 100,000 nodes, a third of a dirtying's time).
    static char* newSlab(std::size_t bytes) {
        if (bytes < kHugePage)
            return static_cast<char*>(::operator new (bytes, std::align_val_t{kAlign}));
        const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        void* slab = ::operator new (rounded, std::align_val_t{kHugePage});
#if defined(MADV_HUGEPAGE)
        madvise(slab, rounded, MADV_HUGEPAGE);
#endif
        return static_cast<char*>(slab);
    }
    Pool& poolOf(std::size_t bytes) {
        for (Pool& pool : m_pools)
            if (pool.bytes == bytes)
                return pool;
        return m_pools.emplace_back(Pool{bytes, nullptr, nullptr, nullptr, 0});
    }
    std::mutex m_mutex;
    std::deque<Pool> m_pools;  // stays put as it grows
};
}  // namespace

void* takeSlabBlock(std::size_t bytes) {
    return Slabs::instance().take(bytes);
}

void giveSlabBlock(void* block, std::size_t bytes) {
    Slabs::instance().give(block, bytes);
}

static_assert(std::is_trivially_copyable_v<LinkedConnection>, "lists move entries as bytes");

void LinkList::add(const LinkedConnection& entry) {
    const int key = keyOf(entry);
    if (m_size == m_capacity) {
        const std::uint32_t capacity = m_capacity * 2;
        auto* grown =
            static_cast<LinkedConnection*>(::operator new(sizeof(LinkedConnection) * capacity));
        std::memcpy(static_cast<void*>(grown), m_data, sizeof(LinkedConnection) * m_size);
        release();
        m_data = grown;
        m_capacity = capacity;
    }
    // Mostly at the end: a node takes its connections of one attribute after another.
    std::uint32_t at = m_size;
    while (at > 0 && keyOf(m_data[at - 1]) > key) --at;
    std::memmove(static_cast<void*>(m_data + at + 1), m_data + at,
                 sizeof(LinkedConnection) * (m_size - at));
    m_data[at] = entry;
    ++m_size;
}

void LinkList::remove(ConnectionRef ref) {
    const int key = m_outgoing ? ref->source.attribute : ref->destination.attribute;
    const auto [first, last] = group(key);
    for (const LinkedConnection* at = last; at != first;) {
        --at;
        if (at->ref != ref)
            continue;
        const auto index = static_cast<std::size_t>(at - m_data);
        std::memmove(static_cast<void*>(m_data + index), m_data + index + 1,
                     sizeof(LinkedConnection) * (m_size - index - 1));
        --m_size;
        return;
    }
}

void LinkList::release() {
    if (m_data != m_inline)
        ::operator delete(m_data);
    m_data = m_inline;
    m_capacity = kInline;
}

NodeRecord::NodeRecord() : ObjectImpl(RObject::Kind::kNode) {}
NodeRecord::~NodeRecord() = default;

std::string NodeRecord::plugPath(int attribute, int element) const {
    std::string path = name + "." + type->attributes[static_cast<std::size_t>(attribute)]->longName;
    if (element >= 0)
        appendIndex(path, element);
    return path;
}

Value readPlug(NodeRecord* node, int attribute, int element) {
    const AttributeDef& def = *node->type->attributes[static_cast<std::size_t>(attribute)];
    if (element >= 0) {
        auto& elements = node->arrays[attribute];
        auto it = elements.find(static_cast<unsigned>(element));
        if (it != elements.end())
            return it->second;
        return def.defaultValue;
    }
    const Value& stored = node->valueOf(attribute);
    if (def.parent && def.parent->type == ValueType::kDouble3 &&
        stored.type == ValueType::kDouble3) {
        Value component = def.defaultValue;
        component.setNumber(stored.v3[def.component]);
        return component;
    }
    return stored;
}

void writePlug(NodeRecord* node, int attribute, int element, const Value& value) {
    const AttributeDef& def = *node->type->attributes[static_cast<std::size_t>(attribute)];
    if (element >= 0) {
        auto& elements = node->arrays[attribute];
        auto it = elements.find(static_cast<unsigned>(element));
        if (it == elements.end())
            it = elements.emplace(static_cast<unsigned>(element), def.defaultValue).first;
        it->second.assignFrom(value);
        return;
    }
    Value& stored = node->valueOf(attribute);
    if (def.parent && def.parent->type == ValueType::kDouble3 &&
        stored.type == ValueType::kDouble3) {
        stored.v3[def.component] = value.asNumber();
        return;
    }
    stored.assignFrom(value);
}

void copyPlug(NodeRecord* from, int fromAttribute, int fromElement, NodeRecord* to, int toAttribute,
              int toElement) {
    const auto component = [](const NodeRecord* node, int attribute) {
        const AttributeDef* parent =
            node->type->attributes[static_cast<std::size_t>(attribute)]->parent;
        return parent && parent->type == ValueType::kDouble3;
    };
    if (fromElement < 0 && toElement < 0 && !component(from, fromAttribute) &&
        !component(to, toAttribute)) {
        to->valueOf(toAttribute).assignFrom(from->valueOf(fromAttribute));
        return;
    }
    writePlug(to, toAttribute, toElement, readPlug(from, fromAttribute, fromElement));
}

}  // namespace rova::detail
