// The dependency graph: stored values, dirty propagation, pull evaluation and the data-block API
// that compute uses.
#include <algorithm>
#include <exception>
#include <iostream>

#include "HostImpl.h"
#include "rova/RArrayDataHandle.h"
#include "rova/RDataBlock.h"
#include "rova/RDataHandle.h"
#include "rova/RPlug.h"

using rova::detail::AttributeDef;
using rova::detail::Connection;
using rova::detail::NodeRecord;
using rova::detail::NodeType;
using rova::detail::PlugRef;
using rova::detail::Value;
using rova::detail::ValueType;
using rova::host::GraphEvent;

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

int NodeType::findByName(const std::string& text) const {
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

int NodeRecord::storageOf(int attribute) const {
    const AttributeDef& def = *type->attributes[static_cast<std::size_t>(attribute)];
    if (def.parent && def.parent->type == ValueType::kDouble3) {
        const int parent = type->indexOf(def.parent);
        if (parent >= 0)
            return parent;
    }
    return attribute;
}

std::string NodeRecord::plugPath(int attribute, int element) const {
    std::string path = name + "." + type->attributes[static_cast<std::size_t>(attribute)]->longName;
    if (element >= 0)
        appendIndex(path, element);
    return path;
}

void appendIndex(std::string& text, int index) {
    text += '[';
    text += std::to_string(index);
    text += ']';
}

void writeError(const std::string& line) {
    std::cerr << ("error: " + line + "\n") << std::flush;
}

}  // namespace rova::detail

namespace rova::host {

using detail::Connection;

void Host::Impl::emit(GraphEvent::Kind kind, const std::string& plug, const std::string& other) {
    if (observers.empty())
        return;
    const GraphEvent event{kind, plug, other};
    const auto copy = observers;
    for (const auto& observer : copy) observer.second(event);
}

namespace {
// The attribute, its compound parent and its children: what a change to the attribute touches.
std::vector<int> family(const NodeType& type, int attribute) {
    std::vector<int> out{attribute};
    const int parent = type.parentIndex(attribute);
    if (parent >= 0)
        out.push_back(parent);
    for (const auto& child : type.attributes[static_cast<std::size_t>(attribute)]->children) {
        const int index = type.indexOf(child.get());
        if (index >= 0)
            out.push_back(index);
    }
    return out;
}
}  // namespace

// Propagation visits everything downstream, also past plugs that are dirty already (a failed pull
// can leave a source dirty under a clean destination), and notifies only clean-to-dirty changes.
void Host::Impl::markDirty(NodeRecord* node, int attribute) {
    Visited visited;
    markDirtyIn(node, attribute, visited);
}

void Host::Impl::dirtyDependents(NodeRecord* node, int attribute) {
    Visited visited;
    visited.emplace(node, node->storageOf(attribute));
    propagate(node, attribute, visited);
}

void Host::Impl::markDirtyIn(NodeRecord* node, int attribute, Visited& visited) {
    const int storage = node->storageOf(attribute);
    if (!visited.emplace(node, storage).second)
        return;
    if (!node->dirty[static_cast<std::size_t>(storage)]) {
        node->dirty[static_cast<std::size_t>(storage)] = 1;
        emit(GraphEvent::kDirty, node->plugPath(storage));
    }
    propagate(node, storage, visited);
}

void Host::Impl::propagate(NodeRecord* node, int attribute, Visited& visited) {
    const NodeType& type = *node->type;
    const std::vector<int> related = family(type, attribute);
    for (const int a : related)
        for (const int target : type.affects[static_cast<std::size_t>(a)])
            if (node->alive)
                markDirtyIn(node, target, visited);
    std::vector<PlugRef> destinations;
    for (const Connection& c : connections)
        if (c.source.node == node &&
            std::find(related.begin(), related.end(), c.source.attribute) != related.end())
            destinations.push_back(c.destination);
    for (const PlugRef& d : destinations) markDirtyIn(d.node, d.attribute, visited);
}

const Connection* Host::Impl::incoming(const NodeRecord* node, int attribute, int element) const {
    for (const Connection& c : connections)
        if (c.destination.node == node && c.destination.attribute == attribute &&
            c.destination.element == element)
            return &c;
    return nullptr;
}

}  // namespace rova::host

namespace rova::detail {
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
}  // namespace rova::detail

namespace rova::host {
using detail::readPlug;
using detail::writePlug;

void Host::Impl::evaluate(NodeRecord* node, int attribute) {
    if (!node->alive)
        return;
    const int storage = node->storageOf(attribute);
    const auto slot = static_cast<std::size_t>(storage);
    if (!node->dirty[slot] || node->evaluating[slot])
        return;
    node->evaluating[slot] = 1;
    const NodeType& type = *node->type;

    // Connected plugs (the plug itself, a child of it, or elements of it) pull their sources.
    std::vector<const Connection*> sources;
    std::vector<int> related{storage};
    for (const auto& child : type.attributes[slot]->children)
        if (type.indexOf(child.get()) >= 0)
            related.push_back(type.indexOf(child.get()));
    for (const Connection& c : connections)
        if (c.destination.node == node &&
            std::find(related.begin(), related.end(), c.destination.attribute) != related.end())
            sources.push_back(&c);
    if (!sources.empty()) {
        bool clean = true;
        std::vector<Connection> pulled;
        for (const Connection* c : sources) pulled.push_back(*c);
        for (const Connection& c : pulled) {
            evaluate(c.source.node, c.source.attribute);
            if (!c.source.node->alive)
                continue;
            if (c.source.node->isDirty(c.source.attribute))
                clean = false;
            writePlug(node, c.destination.attribute, c.destination.element,
                      readPlug(c.source.node, c.source.attribute, c.source.element));
        }
        if (clean)
            node->dirty[slot] = 0;
        node->evaluating[slot] = 0;
        if (node->thread)
            afterWrite(node, storage);
        return;
    }

    const int status = runCompute(node, storage);
    if (status == RStatus::kSuccess || status == RStatus::kUnknownParameter) {
        // Success must leave the plug clean; "not computed here" lets the stored value serve.
        node->dirty[slot] = 0;
    }
    node->evaluating[slot] = 0;
}

int Host::Impl::runCompute(NodeRecord* node, int storage) {
    const auto slot = static_cast<std::size_t>(storage);
    const std::string path = node->plugPath(storage);
    RPlug plug(detail::Access::make(node->shared_from_this()),
               detail::Access::make(node->type->attributes[slot]));
    RDataBlock block = detail::DataBlockAccess::make(node);
    emit(GraphEvent::kCompute, path);
    try {
        const RStatus status = node->instance ? node->instance->compute(plug, block)
                                              : RStatus(RStatus::kUnknownParameter);
        return status.statusCode();
    } catch (const std::exception& e) {
        evaluationErrors.push_back("compute of '" + path + "' threw: " + e.what());
    } catch (...) {
        evaluationErrors.push_back("compute of '" + path + "' threw an unknown exception");
    }
    emit(GraphEvent::kError, path, evaluationErrors.back());
    return -1;
}

void Host::Impl::afterWrite(NodeRecord* node, int attribute) {
    if (!node->thread)
        return;
    const AttributeDef* live = detail::attributeOf(RPxThreadedDeviceNode::live);
    if (node->type->indexOf(live) != attribute)
        return;
    const bool want = node->valueOf(attribute).b;
    {
        std::lock_guard<std::mutex> lock(node->thread->mutex);
        node->thread->live.store(want);
    }
    node->thread->wake.notify_all();
    if (want && !node->thread->running)
        startThread(node);
    if (!want && node->thread->running)
        stopThread(node);
}

}  // namespace rova::host

// ---------------------------------------------------------------- RPlug
RPlug::RPlug(const RObject& node, const RObject& attribute) noexcept
    : m_node(node), m_attribute(attribute) {}

RPlug RPlug::elementByLogicalIndex(unsigned int index) const noexcept {
    RPlug element = *this;
    element.m_index = static_cast<int>(index);
    return element;
}

RPlug RPlug::array() const noexcept {
    RPlug whole = *this;
    whole.m_index = -1;
    return whole;
}

RString RPlug::name() const {
    auto* node = dynamic_cast<NodeRecord*>(rova::detail::Access::get(m_node));
    const RString attribute = partialName();
    if (!node)
        return attribute;
    return RString(node->name + "." + attribute.str());
}

RString RPlug::partialName() const {
    const AttributeDef* def = rova::detail::attributeOf(m_attribute);
    if (!def)
        return RString();
    std::string text = def->longName;
    if (m_index >= 0)
        rova::detail::appendIndex(text, m_index);
    return RString(text);
}

// ---------------------------------------------------------------- RPxNode
RPxNode::RPxNode() = default;
RPxNode::~RPxNode() = default;
void RPxNode::postConstructor() {}
RStatus RPxNode::compute(const RPlug&, RDataBlock&) {
    return RStatus::kUnknownParameter;
}

RObject RPxNode::thisRObject() const noexcept {
    if (!m_record)
        return RObject();
    return rova::detail::Access::make(m_record->shared_from_this());
}

RString RPxNode::name() const {
    return m_record ? RString(m_record->name) : RString();
}
RTypeId RPxNode::typeId() const {
    return m_record ? m_record->type->id : RTypeId();
}
RString RPxNode::typeName() const {
    return m_record ? RString(m_record->type->name) : RString();
}

RStatus RPxNode::addAttribute(const RObject& attribute) {
    auto& host = rova::detail::hostImpl();
    AttributeDef* def = rova::detail::attributeOf(attribute);
    const std::string subject = rova::detail::setupSubject(def ? def->longName : "");
    if (rova::detail::faultArmed("addAttribute", subject))
        return rova::detail::injectedFailure("addAttribute", subject);
    if (host.typeInInitialization.empty())
        return RStatus(RStatus::kFailure,
                       "addAttribute: only a node type's initialize function may add attributes");
    if (!def)
        return RStatus(RStatus::kInvalidParameter, "addAttribute: the attribute is null");
    NodeType& type = *host.typeInInitialization.back();
    if (type.indexOf(def) >= 0)
        return RStatus(
            RStatus::kInvalidParameter,
            "addAttribute: '" + def->longName + "' is already an attribute of '" + type.name + "'");
    std::vector<std::shared_ptr<AttributeDef>> adding{
        std::static_pointer_cast<AttributeDef>(def->shared_from_this())};
    for (const auto& child : def->children)
        if (type.indexOf(child.get()) < 0)
            adding.push_back(child);
    for (const auto& candidate : adding) {
        for (const auto& existing : type.attributes) {
            for (const std::string* name : {&candidate->longName, &candidate->shortName})
                if (*name == existing->longName || *name == existing->shortName)
                    return RStatus(RStatus::kInvalidParameter,
                                   "addAttribute: node type '" + type.name +
                                       "' already has an attribute named '" + *name + "'");
        }
    }
    for (const auto& candidate : adding) {
        type.index[candidate.get()] = static_cast<int>(type.attributes.size());
        type.attributes.push_back(candidate);
        type.affects.emplace_back();
    }
    return RStatus();
}

RStatus RPxNode::attributeAffects(const RObject& whenChanges, const RObject& isAffected) {
    auto& host = rova::detail::hostImpl();
    const AttributeDef* source = rova::detail::attributeOf(whenChanges);
    const AttributeDef* target = rova::detail::attributeOf(isAffected);
    const std::string subject =
        (source ? source->longName : "") + "->" + (target ? target->longName : "");
    const std::string faultSubject = rova::detail::setupSubject(subject);
    if (rova::detail::faultArmed("attributeAffects", faultSubject))
        return rova::detail::injectedFailure("attributeAffects", faultSubject);
    if (host.typeInInitialization.empty())
        return RStatus(
            RStatus::kFailure,
            "attributeAffects: only a node type's initialize function may declare dependencies");
    if (!source || !target)
        return RStatus(RStatus::kInvalidParameter,
                       "attributeAffects " + subject + ": null attribute");
    NodeType& type = *host.typeInInitialization.back();
    const int from = type.indexOf(source), to = type.indexOf(target);
    for (const auto& [index, def] : {std::pair{from, source}, std::pair{to, target}})
        if (index < 0)
            return RStatus(RStatus::kInvalidParameter, "attributeAffects " + subject + ": '" +
                                                           def->longName + "' was not added to '" +
                                                           type.name + "'");
    auto& list = type.affects[static_cast<std::size_t>(from)];
    if (std::find(list.begin(), list.end(), to) == list.end())
        list.push_back(to);
    return RStatus();
}

// ---------------------------------------------------------------- RDataBlock
namespace {
NodeRecord* blockNode(void* block) {
    return static_cast<NodeRecord*>(block);
}

int locate(NodeRecord* node, const RObject& attribute, const char* call, RStatus* status) {
    const AttributeDef* def = rova::detail::attributeOf(attribute);
    const int index = node && def ? node->type->indexOf(def) : -1;
    if (index < 0) {
        const std::string what = def ? def->longName : std::string("a null attribute");
        if (status)
            *status = RStatus(RStatus::kInvalidParameter,
                              std::string(call) + ": '" + what + "' is not an attribute of node '" +
                                  (node ? node->name : std::string("?")) + "'");
        return -1;
    }
    if (status)
        status->clear();
    return index;
}

RDataHandle handleFor(NodeRecord* node, int index) {
    const AttributeDef& def = *node->type->attributes[static_cast<std::size_t>(index)];
    const int component =
        def.parent && def.parent->type == ValueType::kDouble3 ? def.component : -1;
    return rova::detail::DataHandleAccess::make(&node->valueOf(index), node, index, component);
}
}  // namespace

RDataHandle RDataBlock::inputValue(const RObject& attribute, RStatus* status) {
    NodeRecord* node = blockNode(m_node);
    const int index = locate(node, attribute, "inputValue", status);
    if (index < 0)
        return RDataHandle();
    rova::detail::hostImpl().evaluate(node, index);
    return handleFor(node, index);
}

RDataHandle RDataBlock::inputValue(const RPlug& plug, RStatus* status) {
    return inputValue(plug.attribute(), status);
}

RDataHandle RDataBlock::outputValue(const RObject& attribute, RStatus* status) {
    NodeRecord* node = blockNode(m_node);
    const AttributeDef* def = rova::detail::attributeOf(attribute);
    const std::string subject =
        (node ? node->name : std::string()) + "." + (def ? def->longName : std::string());
    if (rova::detail::faultArmed("outputValue", subject)) {
        if (status)
            *status = rova::detail::injectedFailure("outputValue", subject);
        return RDataHandle();
    }
    const int index = locate(node, attribute, "outputValue", status);
    if (index < 0)
        return RDataHandle();
    return handleFor(node, index);
}

RDataHandle RDataBlock::outputValue(const RPlug& plug, RStatus* status) {
    return outputValue(plug.attribute(), status);
}

RArrayDataHandle RDataBlock::inputArrayValue(const RObject& attribute, RStatus* status) {
    NodeRecord* node = blockNode(m_node);
    const int index = locate(node, attribute, "inputArrayValue", status);
    if (index < 0)
        return RArrayDataHandle();
    if (!node->type->attributes[static_cast<std::size_t>(index)]->array) {
        if (status)
            *status = RStatus(RStatus::kInvalidParameter,
                              "inputArrayValue: '" + node->plugPath(index) + "' is not an array");
        return RArrayDataHandle();
    }
    rova::detail::hostImpl().evaluate(node, index);
    return rova::detail::ArrayHandleAccess::make(node, index, false);
}

RArrayDataHandle RDataBlock::outputArrayValue(const RObject& attribute, RStatus* status) {
    NodeRecord* node = blockNode(m_node);
    const AttributeDef* def = rova::detail::attributeOf(attribute);
    const std::string subject =
        (node ? node->name : std::string()) + "." + (def ? def->longName : std::string());
    if (rova::detail::faultArmed("outputArrayValue", subject)) {
        if (status)
            *status = rova::detail::injectedFailure("outputArrayValue", subject);
        return RArrayDataHandle();
    }
    const int index = locate(node, attribute, "outputArrayValue", status);
    if (index < 0)
        return RArrayDataHandle();
    if (!node->type->attributes[static_cast<std::size_t>(index)]->array) {
        if (status)
            *status = RStatus(RStatus::kInvalidParameter,
                              "outputArrayValue: '" + node->plugPath(index) + "' is not an array");
        return RArrayDataHandle();
    }
    return rova::detail::ArrayHandleAccess::make(node, index, true);
}

RStatus RDataBlock::setClean(const RPlug& plug) {
    return setClean(plug.attribute());
}

RStatus RDataBlock::setClean(const RObject& attribute) {
    NodeRecord* node = blockNode(m_node);
    RStatus status;
    const int index = locate(node, attribute, "setClean", &status);
    if (index < 0)
        return status;
    node->dirty[static_cast<std::size_t>(node->storageOf(index))] = 0;
    return status;
}

bool RDataBlock::isClean(const RObject& attribute) const {
    NodeRecord* node = blockNode(m_node);
    const int index = locate(node, attribute, "isClean", nullptr);
    return index >= 0 && !node->isDirty(index);
}

// ---------------------------------------------------------------- RDataHandle
namespace rova::detail {
RDataHandle DataHandleAccess::make(Value* value, NodeRecord* node, int attribute, int component) {
    RDataHandle handle;
    handle.m_value = value;
    handle.m_block = node;
    handle.m_attribute = attribute;
    handle.m_component = component;
    return handle;
}
}  // namespace rova::detail

namespace {
double numberOf(const Value* value, int component) {
    if (!value)
        return 0.0;
    if (component >= 0 && value->type == ValueType::kDouble3)
        return value->v3[component];
    return value->asNumber();
}
}  // namespace

bool RDataHandle::asBool() const noexcept {
    return numberOf(m_value, m_component) != 0.0;
}
short RDataHandle::asShort() const noexcept {
    return static_cast<short>(numberOf(m_value, m_component));
}
int RDataHandle::asInt() const noexcept {
    return static_cast<int>(numberOf(m_value, m_component));
}
float RDataHandle::asFloat() const noexcept {
    return static_cast<float>(numberOf(m_value, m_component));
}
double RDataHandle::asDouble() const noexcept {
    return numberOf(m_value, m_component);
}

double3& RDataHandle::asDouble3() const noexcept {
    if (!m_value) {
        thread_local double3 scratch;
        scratch[0] = scratch[1] = scratch[2] = 0.0;
        return scratch;
    }
    return m_value->v3;
}

RVector RDataHandle::asVector() const noexcept {
    if (!m_value)
        return RVector();
    return {m_value->v3[0], m_value->v3[1], m_value->v3[2]};
}

RFloatVector RDataHandle::asFloatVector() const noexcept {
    return RFloatVector(asVector());
}

const RMatrix& RDataHandle::asMatrix() const noexcept {
    return m_value ? m_value->m : RMatrix::identity;
}

RTime RDataHandle::asTime() const noexcept {
    return RTime::fromSeconds(numberOf(m_value, m_component));
}

RString RDataHandle::asString() const noexcept {
    try {
        return m_value ? RString(m_value->s) : RString();
    } catch (...) {
        return RString();
    }
}

RObject RDataHandle::asMesh() const noexcept {
    return m_value && m_value->mesh ? rova::detail::Access::make(m_value->mesh) : RObject();
}

RDataHandle RDataHandle::child(const RObject& childAttribute) const noexcept {
    const AttributeDef* def = rova::detail::attributeOf(childAttribute);
    auto* node = static_cast<NodeRecord*>(m_block);
    if (!def || !node || !m_value)
        return RDataHandle();
    const int index = node->type->indexOf(def);
    if (index < 0)
        return RDataHandle();
    const int component =
        def->parent && def->parent->type == ValueType::kDouble3 ? def->component : -1;
    return rova::detail::DataHandleAccess::make(&node->valueOf(index), node, index, component);
}

namespace {
void setNumberIn(Value* value, int component, double number) {
    if (!value)
        return;
    if (component >= 0 && value->type == ValueType::kDouble3) {
        value->v3[component] = number;
        return;
    }
    value->setNumber(number);
}
}  // namespace

void RDataHandle::set(bool value) noexcept {
    setNumberIn(m_value, m_component, value ? 1.0 : 0.0);
}
void RDataHandle::set(short value) noexcept {
    setNumberIn(m_value, m_component, value);
}
void RDataHandle::set(int value) noexcept {
    setNumberIn(m_value, m_component, value);
}
void RDataHandle::set(float value) noexcept {
    setNumberIn(m_value, m_component, static_cast<double>(value));
}
void RDataHandle::set(double value) noexcept {
    setNumberIn(m_value, m_component, value);
}

void RDataHandle::set(double x, double y, double z) noexcept {
    if (!m_value)
        return;
    m_value->v3[0] = x;
    m_value->v3[1] = y;
    m_value->v3[2] = z;
}

void RDataHandle::set(const RFloatVector& value) noexcept {
    set(static_cast<double>(value.x), static_cast<double>(value.y), static_cast<double>(value.z));
}

void RDataHandle::setRMatrix(const RMatrix& value) noexcept {
    if (m_value)
        m_value->m = value;
}

void RDataHandle::set(const RTime& value) noexcept {
    setNumberIn(m_value, m_component, value.seconds());
}

void RDataHandle::set(const RString& value) noexcept {
    if (!m_value)
        return;
    try {
        m_value->s = value.str();
    } catch (...) {
    }
}

void RDataHandle::set(const RObject& data) noexcept {
    if (m_value)
        m_value->mesh = rova::detail::Access::share(data);
}

void RDataHandle::setClean() noexcept {
    auto* node = static_cast<NodeRecord*>(m_block);
    if (!node || m_attribute < 0)
        return;
    node->dirty[static_cast<std::size_t>(node->storageOf(m_attribute))] = 0;
}

// ---------------------------------------------------------------- RArrayDataHandle
namespace rova::detail {
RArrayDataHandle ArrayHandleAccess::make(NodeRecord* node, int attribute, bool output) {
    RArrayDataHandle handle;
    handle.m_block = node;
    handle.m_attribute = attribute;
    handle.m_output = output;
    handle.m_position = node->arrays[attribute].empty() ? -1 : 0;
    return handle;
}
}  // namespace rova::detail

namespace {
std::map<unsigned, Value>* elementsOf(void* block, int attribute) {
    auto* node = static_cast<NodeRecord*>(block);
    if (!node || attribute < 0)
        return nullptr;
    return &node->arrays[attribute];
}

RStatus noArray() {
    return RStatus(RStatus::kInvalidParameter, "the array handle is not attached to an array");
}
}  // namespace

unsigned int RArrayDataHandle::elementCount(RStatus* status) const {
    auto* elements = elementsOf(m_block, m_attribute);
    if (status)
        *status = elements ? RStatus() : noArray();
    return elements ? static_cast<unsigned int>(elements->size()) : 0u;
}

RStatus RArrayDataHandle::jumpToElement(unsigned int logicalIndex) {
    auto* elements = elementsOf(m_block, m_attribute);
    if (!elements)
        return noArray();
    auto* node = static_cast<NodeRecord*>(m_block);
    const std::string subject = node->plugPath(m_attribute, static_cast<int>(logicalIndex));
    if (rova::detail::faultArmed("jumpToElement", subject))
        return rova::detail::injectedFailure("jumpToElement", subject);
    auto it = elements->find(logicalIndex);
    if (it == elements->end()) {
        if (!m_output)
            return RStatus(RStatus::kInvalidParameter,
                           "jumpToElement: '" + subject + "' does not exist");
        it = elements
                 ->emplace(
                     logicalIndex,
                     node->type->attributes[static_cast<std::size_t>(m_attribute)]->defaultValue)
                 .first;
    }
    m_position = static_cast<int>(std::distance(elements->begin(), it));
    return RStatus();
}

RStatus RArrayDataHandle::jumpToArrayElement(unsigned int position) {
    auto* elements = elementsOf(m_block, m_attribute);
    if (!elements)
        return noArray();
    if (position >= elements->size())
        return RStatus(
            RStatus::kInvalidParameter,
            "jumpToArrayElement: position " + std::to_string(position) + " is past the end");
    m_position = static_cast<int>(position);
    return RStatus();
}

RStatus RArrayDataHandle::next() {
    auto* elements = elementsOf(m_block, m_attribute);
    if (!elements)
        return noArray();
    if (m_position + 1 >= static_cast<int>(elements->size())) {
        m_position = static_cast<int>(elements->size());
        return RStatus(RStatus::kFailure, "next: no more elements");
    }
    ++m_position;
    return RStatus();
}

unsigned int RArrayDataHandle::elementIndex(RStatus* status) const {
    auto* elements = elementsOf(m_block, m_attribute);
    if (!elements || m_position < 0 || m_position >= static_cast<int>(elements->size())) {
        if (status)
            *status = RStatus(RStatus::kInvalidParameter,
                              "elementIndex: the handle is not on an element");
        return 0;
    }
    if (status)
        status->clear();
    return std::next(elements->begin(), m_position)->first;
}

RDataHandle RArrayDataHandle::inputValue(RStatus* status) {
    auto* elements = elementsOf(m_block, m_attribute);
    if (!elements || m_position < 0 || m_position >= static_cast<int>(elements->size())) {
        if (status)
            *status =
                RStatus(RStatus::kInvalidParameter, "inputValue: the handle is not on an element");
        return RDataHandle();
    }
    if (status)
        status->clear();
    auto* node = static_cast<NodeRecord*>(m_block);
    return rova::detail::DataHandleAccess::make(&std::next(elements->begin(), m_position)->second,
                                                node, m_attribute, -1);
}

RDataHandle RArrayDataHandle::outputValue(RStatus* status) {
    return inputValue(status);
}

RStatus RArrayDataHandle::setClean() {
    return setAllClean();
}

RStatus RArrayDataHandle::setAllClean() {
    auto* node = static_cast<NodeRecord*>(m_block);
    if (!node || m_attribute < 0)
        return noArray();
    node->dirty[static_cast<std::size_t>(node->storageOf(m_attribute))] = 0;
    return RStatus();
}
