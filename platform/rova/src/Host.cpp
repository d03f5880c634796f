// The host facade: nodes, plugs, connections, time, ticks, faults, paths and shutdown.
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <iostream>

#include "HostImpl.h"
#include "rova/RGlobal.h"

using rova::detail::AttributeDef;
using rova::detail::Connection;
using rova::detail::NodeRecord;
using rova::detail::NodeType;
using rova::detail::PluginRecord;
using rova::detail::PlugRef;
using rova::detail::Value;
using rova::detail::ValueType;

namespace rova::host {

// ---------------------------------------------------------------- values
std::string formatDouble(double value) {
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec != std::errc())
        return std::to_string(value);
    return std::string(buffer, end);
}

std::string formatValue(const PlugValue& value) {
    switch (value.kind) {
        case PlugValue::Kind::kNone:
            return "";
        case PlugValue::Kind::kBool:
            return value.boolValue ? "true" : "false";
        case PlugValue::Kind::kInt:
            return std::to_string(value.intValue);
        case PlugValue::Kind::kDouble:
        case PlugValue::Kind::kTime:
            return formatDouble(value.doubleValue);
        case PlugValue::Kind::kDouble3:
            return formatDouble(value.double3[0]) + " " + formatDouble(value.double3[1]) + " " +
                   formatDouble(value.double3[2]);
        case PlugValue::Kind::kMatrix: {
            std::string text;
            for (double v : value.matrix) text += (text.empty() ? "" : " ") + formatDouble(v);
            return text;
        }
        case PlugValue::Kind::kString:
            return value.text;
        case PlugValue::Kind::kMesh:
            return value.mesh ? "mesh" : "none";
        case PlugValue::Kind::kArray: {
            std::string text;
            for (const auto& element : value.elements)
                text += (text.empty() ? "" : " ") + formatValue(element.second);
            return text;
        }
    }
    return "";
}

PlugValue PlugValue::ofBool(bool v) {
    PlugValue p;
    p.kind = Kind::kBool;
    p.boolValue = v;
    return p;
}
PlugValue PlugValue::ofInt(std::int64_t v) {
    PlugValue p;
    p.kind = Kind::kInt;
    p.intValue = v;
    return p;
}
PlugValue PlugValue::ofDouble(double v) {
    PlugValue p;
    p.kind = Kind::kDouble;
    p.doubleValue = v;
    return p;
}
PlugValue PlugValue::ofDouble3(double x, double y, double z) {
    PlugValue p;
    p.kind = Kind::kDouble3;
    p.double3 = {x, y, z};
    return p;
}
PlugValue PlugValue::ofMatrix(const std::array<double, 16>& m) {
    PlugValue p;
    p.kind = Kind::kMatrix;
    p.matrix = m;
    return p;
}
PlugValue PlugValue::ofString(std::string s) {
    PlugValue p;
    p.kind = Kind::kString;
    p.text = std::move(s);
    return p;
}
PlugValue PlugValue::ofTime(double seconds) {
    PlugValue p;
    p.kind = Kind::kTime;
    p.doubleValue = seconds;
    return p;
}

bool PlugValue::operator==(const PlugValue& o) const {
    if (kind != o.kind)
        return false;
    switch (kind) {
        case Kind::kNone:
            return true;
        case Kind::kBool:
            return boolValue == o.boolValue;
        case Kind::kInt:
            return intValue == o.intValue;
        case Kind::kDouble:
        case Kind::kTime:
            return doubleValue == o.doubleValue;
        case Kind::kDouble3:
            return double3 == o.double3;
        case Kind::kMatrix:
            return matrix == o.matrix;
        case Kind::kString:
            return text == o.text;
        case Kind::kMesh:
            return mesh == o.mesh;
        case Kind::kArray:
            return elements == o.elements;
    }
    return false;
}

namespace {
PlugValue toPlugValue(const AttributeDef& def, const Value& value) {
    switch (def.type) {
        case ValueType::kBool:
            return PlugValue::ofBool(value.asNumber() != 0.0);
        case ValueType::kShort:
        case ValueType::kInt:
        case ValueType::kEnum:
            return PlugValue::ofInt(static_cast<std::int64_t>(value.asNumber()));
        case ValueType::kFloat:
        case ValueType::kDouble:
            return PlugValue::ofDouble(value.asNumber());
        case ValueType::kTime:
            return PlugValue::ofTime(value.asNumber());
        case ValueType::kDouble3:
            return PlugValue::ofDouble3(value.v3[0], value.v3[1], value.v3[2]);
        case ValueType::kMatrix: {
            std::array<double, 16> m{};
            for (int r = 0; r < 4; ++r)
                for (int c = 0; c < 4; ++c) m[static_cast<std::size_t>(r * 4 + c)] = value.m[r][c];
            return PlugValue::ofMatrix(m);
        }
        case ValueType::kString:
            return PlugValue::ofString(value.s);
        case ValueType::kMesh: {
            PlugValue p;
            p.kind = PlugValue::Kind::kMesh;
            p.mesh = value.mesh;
            return p;
        }
        case ValueType::kCompound:
            break;
    }
    return PlugValue{};
}

bool fromPlugValue(const AttributeDef& def, const PlugValue& in, Value& out, std::string& error) {
    out = def.defaultValue;
    out.type = def.type;
    const auto mismatch = [&] {
        error = std::string("a ") + detail::valueTypeName(def.type) + " value is expected";
        return false;
    };
    if (detail::isScalar(def.type)) {
        switch (in.kind) {
            case PlugValue::Kind::kBool:
                out.setNumber(in.boolValue ? 1.0 : 0.0);
                return true;
            case PlugValue::Kind::kInt:
                out.setNumber(static_cast<double>(in.intValue));
                return true;
            case PlugValue::Kind::kDouble:
            case PlugValue::Kind::kTime:
                out.setNumber(in.doubleValue);
                return true;
            default:
                return mismatch();
        }
    }
    switch (def.type) {
        case ValueType::kDouble3:
            if (in.kind != PlugValue::Kind::kDouble3)
                return mismatch();
            for (int k = 0; k < 3; ++k) out.v3[k] = in.double3[static_cast<std::size_t>(k)];
            return true;
        case ValueType::kMatrix:
            if (in.kind != PlugValue::Kind::kMatrix)
                return mismatch();
            for (int r = 0; r < 4; ++r)
                for (int c = 0; c < 4; ++c)
                    out.m[r][c] = in.matrix[static_cast<std::size_t>(r * 4 + c)];
            return true;
        case ValueType::kString:
            if (in.kind != PlugValue::Kind::kString)
                return mismatch();
            out.s = in.text;
            return true;
        case ValueType::kMesh:
            if (in.kind != PlugValue::Kind::kMesh)
                return mismatch();
            out.mesh = std::const_pointer_cast<detail::ObjectImpl>(
                std::static_pointer_cast<const detail::ObjectImpl>(in.mesh));
            return true;
        default:
            error = "compound values are set through their children";
            return false;
    }
}

bool parseNumber(const std::string& word, double& out) {
    if (word.empty())
        return false;
    char* end = nullptr;
    out = std::strtod(word.c_str(), &end);
    return end == word.c_str() + word.size() &&
           !std::isspace(static_cast<unsigned char>(word.front()));
}

bool parseInteger(const std::string& word, std::int64_t& out) {
    const char* begin = word.data();
    const char* end = begin + word.size();
    if (begin != end && *begin == '+')
        ++begin;
    auto [ptr, ec] = std::from_chars(begin, end, out);
    return !word.empty() && ec == std::errc() && ptr == end;
}

std::string joinNames(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

bool isChildOf3(const AttributeDef& def) {
    return def.parent && def.parent->type == ValueType::kDouble3;
}
}  // namespace

// ---------------------------------------------------------------- set-up
namespace {
std::vector<std::filesystem::path> pathsFrom(const char* variable, const char* leaf,
                                             const char* configured) {
    std::vector<std::filesystem::path> paths;
    if (const char* env = std::getenv(variable)) {
        std::string text = env;
        std::size_t start = 0;
        while (start <= text.size()) {
            const auto colon = text.find(':', start);
            const auto piece =
                text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
            if (!piece.empty())
                paths.emplace_back(piece);
            if (colon == std::string::npos)
                break;
            start = colon + 1;
        }
    }
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec)
        paths.push_back((exe.parent_path().parent_path() / leaf).lexically_normal());
    if (configured && *configured) {
        const std::filesystem::path built(configured);
        if (std::find(paths.begin(), paths.end(), built) == paths.end())
            paths.push_back(built);
    }
    return paths;
}

#ifndef ROVA_DEFAULT_PLUGIN_DIR
#define ROVA_DEFAULT_PLUGIN_DIR ""
#endif
#ifndef ROVA_DEFAULT_SCRIPT_DIR
#define ROVA_DEFAULT_SCRIPT_DIR ""
#endif
}  // namespace

Host::Impl::Impl() {
    pluginPath = pathsFrom("ROVA_PLUGIN_PATH", "plug-ins", ROVA_DEFAULT_PLUGIN_DIR);
    scriptPath = pathsFrom("ROVA_SCRIPT_PATH", "scripts", ROVA_DEFAULT_SCRIPT_DIR);
    timeType = std::make_shared<NodeType>();
    timeType->name = "time";
    timeType->id = RTypeId(0x524f0001u);
    timeType->builtinCreator = [] { return new RPxNode(); };
    auto time = detail::makeAttribute("time", "t", ValueType::kTime);
    time->writable = false;
    time->storable = false;
    timeType->index[time.get()] = 0;
    timeType->attributes.push_back(time);
    timeType->affects.emplace_back();
}

void Host::Impl::createSceneTime() {
    auto made = newNode(*timeType, "sceneTime");
    timeNode = made.ok() ? made.value : nullptr;
}

Host::Host() : m_impl(std::make_unique<Impl>()) {
    m_impl->createSceneTime();
}

Host::~Host() {
    // The language that installed the executor may be gone already at exit.
    m_impl->executor = nullptr;
    m_impl->shutdown(false);
}

Host& Host::instance() {
    static Host host;
    return host;
}

}  // namespace rova::host

namespace rova::detail {
host::Host::Impl& hostImpl() {
    return host::Host::instance().impl();
}

bool faultArmed(const std::string& call, const std::string& subject) {
    auto& host = hostImpl();
    std::lock_guard<std::mutex> lock(host.faultMutex);
    for (auto it = host.faults.begin(); it != host.faults.end(); ++it) {
        if (it->call != call || subject.find(it->match) == std::string::npos)
            continue;
        if (it->times > 0 && --it->times == 0)
            host.faults.erase(it);
        return true;
    }
    return false;
}

std::string setupSubject(const std::string& attribute) {
    const auto& initializing = hostImpl().typeInInitialization;
    return initializing.empty() ? attribute : initializing.back()->name + "." + attribute;
}

RStatus injectedFailure(const std::string& call, const std::string& subject) {
    return RStatus(RStatus::kFailure, call + " failed for '" + subject + "' (injected fault)");
}
}  // namespace rova::detail

namespace rova::host {

// ---------------------------------------------------------------- lookups
NodeType* Host::Impl::findType(const std::string& name) const {
    for (const auto& t : types)
        if (t->name == name)
            return t.get();
    return name == timeType->name ? timeType.get() : nullptr;
}

NodeType* Host::Impl::findTypeById(std::uint32_t id) const {
    for (const auto& t : types)
        if (t->id.id() == id)
            return t.get();
    return timeType->id.id() == id ? timeType.get() : nullptr;
}

NodeRecord* Host::Impl::findNode(const std::string& name) const {
    for (const auto& n : nodes)
        if (n->name == name)
            return n.get();
    return nullptr;
}

PluginRecord* Host::Impl::findPlugin(const std::string& name) const {
    for (const auto& p : plugins)
        if (p->name == name)
            return p.get();
    return nullptr;
}

Result<PlugRef> Host::Impl::parsePlug(const std::string& text) const {
    Result<PlugRef> out;
    const auto dot = text.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == text.size()) {
        out.status = Status::failure("'" + text + "' is not a plug (expected node.attribute)");
        return out;
    }
    const std::string nodeName = text.substr(0, dot);
    std::string attributeName = text.substr(dot + 1);
    int element = -1;
    if (!attributeName.empty() && attributeName.back() == ']') {
        const auto open = attributeName.find('[');
        std::int64_t index = -1;
        if (open == std::string::npos || open == 0 ||
            !parseInteger(attributeName.substr(open + 1, attributeName.size() - open - 2), index) ||
            index < 0 || index > 1000000) {
            out.status = Status::failure("'" + text +
                                         "' has a bad element index (expected node.attribute[N])");
            return out;
        }
        element = static_cast<int>(index);
        attributeName.resize(open);
    }
    NodeRecord* node = findNode(nodeName);
    if (!node) {
        out.status = Status::failure("no node named '" + nodeName + "'");
        return out;
    }
    const int attribute = node->type->findByName(attributeName);
    if (attribute < 0) {
        out.status = Status::failure("no attribute '" + attributeName + "' on node '" + nodeName +
                                     "' (type " + node->type->name + ")");
        return out;
    }
    if (element >= 0 && !node->type->attributes[static_cast<std::size_t>(attribute)]->array) {
        out.status =
            Status::failure("'" + node->plugPath(attribute) + "' is not an array attribute");
        return out;
    }
    out.value = PlugRef{node, attribute, element};
    return out;
}

// ---------------------------------------------------------------- nodes
bool Host::isValidNodeName(const std::string& name) {
    if (name.empty() || name.size() > 256)
        return false;
    const auto letter = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    };
    if (!letter(name.front()))
        return false;
    return std::all_of(name.begin(), name.end(),
                       [&](char c) { return letter(c) || (c >= '0' && c <= '9'); });
}

namespace {
Status badName(const std::string& name) {
    return Status::failure("invalid node name '" + name +
                           "': names use letters, digits and '_' and do not start with a digit");
}
}  // namespace

Result<NodeRecord*> Host::Impl::newNode(NodeType& type, const std::string& name) {
    Result<NodeRecord*> out;
    std::shared_ptr<NodeType> shared;
    for (const auto& t : types)
        if (t.get() == &type)
            shared = t;
    if (&type == timeType.get())
        shared = timeType;
    auto record = std::make_shared<NodeRecord>();
    record->name = name;
    record->type = shared;
    const std::size_t count = type.attributes.size();
    record->values.reserve(count);
    for (const auto& def : type.attributes) record->values.push_back(def->defaultValue);
    record->dirty.assign(count, 0);
    record->evaluating.assign(count, 0);
    // What something else affects is computed: it starts dirty so its first read computes it.
    for (const auto& targets : type.affects)
        for (const int target : targets)
            record->dirty[static_cast<std::size_t>(record->storageOf(target))] = 1;
    if (type.kind == RPxNode::kThreadedDeviceNode)
        record->thread = std::make_unique<detail::ThreadState>();

    RPxNode* instance = nullptr;
    try {
        instance =
            type.builtinCreator ? type.builtinCreator() : static_cast<RPxNode*>(type.creator());
    } catch (const std::exception& e) {
        out.status =
            Status::failure("creating a node of type '" + type.name + "' threw: " + e.what());
        return out;
    } catch (...) {
        out.status = Status::failure("creating a node of type '" + type.name +
                                     "' threw an unknown exception");
        return out;
    }
    if (!instance) {
        out.status = Status::failure("the creator of type '" + type.name + "' returned no node");
        return out;
    }
    detail::NodeAccess::setRecord(*instance, record.get());
    record->instance = instance;
    record->creationIndex = ++lastCreationIndex;
    nodes.push_back(record);
    emit(GraphEvent::kCreate, name, type.name);
    try {
        instance->postConstructor();
    } catch (const std::exception& e) {
        detail::writeError("postConstructor of '" + name + "' threw: " + e.what());
    } catch (...) {
        detail::writeError("postConstructor of '" + name + "' threw an unknown exception");
    }
    out.value = record.get();
    return out;
}

Status Host::Impl::removeNode(NodeRecord* node) {
    std::shared_ptr<NodeRecord> keep;
    for (const auto& n : nodes)
        if (n.get() == node)
            keep = n;
    if (!keep)
        return Status::failure("node is already deleted");
    if (node->thread)
        stopThread(node);
    std::vector<Connection> touching;
    for (const Connection& c : connections)
        if (c.source.node == node || c.destination.node == node)
            touching.push_back(c);
    for (const Connection& c : touching) {
        connections.erase(
            std::find_if(connections.begin(), connections.end(), [&](const Connection& x) {
                return x.source == c.source && x.destination == c.destination;
            }));
        emit(GraphEvent::kDisconnect, plugName(c.source), plugName(c.destination));
        if (c.destination.node != node)
            c.destination.node->dirty[static_cast<std::size_t>(
                c.destination.node->storageOf(c.destination.attribute))] = 0;
    }
    emit(GraphEvent::kDelete, node->name, node->type->name);
    nodes.erase(std::find(nodes.begin(), nodes.end(), keep));
    const std::string prefix = node->name + ".";
    watched.erase(std::remove_if(watched.begin(), watched.end(),
                                 [&](const std::string& w) { return w.rfind(prefix, 0) == 0; }),
                  watched.end());
    RPxNode* instance = node->instance;
    try {
        delete instance;
    } catch (...) {
        detail::writeError("the destructor of node '" + node->name + "' threw");
    }
    node->instance = nullptr;
    node->alive = false;
    if (node == timeNode)
        timeNode = nullptr;
    return Status{};
}

Result<std::string> Host::createNode(const std::string& type, const std::string& requestedName) {
    Impl& h = *m_impl;
    Result<std::string> out;
    NodeType* nodeType = h.findType(type);
    if (!nodeType) {
        out.status = Status::failure("unknown node type '" + type + "'");
        return out;
    }
    if (!requestedName.empty() && !isValidNodeName(requestedName)) {
        out.status = badName(requestedName);
        return out;
    }
    std::string name = requestedName;
    if (name.empty() || h.findNode(name)) {
        std::string base = name.empty() ? type : name;
        if (!name.empty())
            while (!base.empty() && base.back() >= '0' && base.back() <= '9') base.pop_back();
        for (int n = 1;; ++n)
            if (!h.findNode(base + std::to_string(n))) {
                name = base + std::to_string(n);
                break;
            }
    }
    auto made = h.newNode(*nodeType, name);
    out.status = made.status;
    if (made.ok())
        out.value = name;
    return out;
}

Status Host::deleteNode(const std::string& name) {
    NodeRecord* node = m_impl->findNode(name);
    if (!node)
        return Status::failure("no node named '" + name + "'");
    if (node == m_impl->timeNode)
        return Status::failure("node 'sceneTime' belongs to the host and cannot be deleted");
    return m_impl->removeNode(node);
}

Status Host::renameNode(const std::string& from, const std::string& to) {
    NodeRecord* node = m_impl->findNode(from);
    if (!node)
        return Status::failure("no node named '" + from + "'");
    if (!isValidNodeName(to))
        return badName(to);
    if (from == to)
        return Status{};
    if (node == m_impl->timeNode)
        return Status::failure("node 'sceneTime' belongs to the host and cannot be renamed");
    if (m_impl->findNode(to))
        return Status::failure("a node named '" + to + "' already exists");
    for (auto& w : m_impl->watched)
        if (w.rfind(from + ".", 0) == 0)
            w = to + w.substr(from.size());
    node->name = to;
    return Status{};
}

std::vector<std::string> Host::nodeNames(const std::string& typeFilter) const {
    std::vector<std::string> names;
    for (const auto& n : m_impl->nodes)
        if (typeFilter.empty() || n->type->name == typeFilter)
            names.push_back(n->name);
    return names;
}

bool Host::hasNode(const std::string& name) const {
    return m_impl->findNode(name) != nullptr;
}

Result<std::string> Host::nodeType(const std::string& name) const {
    Result<std::string> out;
    NodeRecord* node = m_impl->findNode(name);
    if (!node)
        out.status = Status::failure("no node named '" + name + "'");
    else
        out.value = node->type->name;
    return out;
}

Result<NodeSnapshot> Host::snapshotNode(const std::string& name) const {
    Result<NodeSnapshot> out;
    NodeRecord* node = m_impl->findNode(name);
    if (!node) {
        out.status = Status::failure("no node named '" + name + "'");
        return out;
    }
    out.value.name = node->name;
    out.value.type = node->type->name;
    out.value.creationIndex = node->creationIndex;
    const auto& attributes = node->type->attributes;
    for (std::size_t k = 0; k < attributes.size(); ++k) {
        const AttributeDef& def = *attributes[k];
        if (!def.writable || !def.storable || isChildOf3(def) || def.type == ValueType::kCompound)
            continue;
        if (def.array) {
            PlugValue array;
            array.kind = PlugValue::Kind::kArray;
            for (const auto& [index, value] : node->arrays[static_cast<int>(k)])
                array.elements.emplace_back(index, toPlugValue(def, value));
            out.value.values.emplace_back(def.longName, std::move(array));
        } else {
            out.value.values.emplace_back(def.longName, toPlugValue(def, node->values[k]));
        }
    }
    for (const Connection& c : m_impl->connections) {
        if (c.destination.node == node)
            out.value.connectionsIn.emplace_back(m_impl->plugName(c.source),
                                                 m_impl->plugName(c.destination));
        if (c.source.node == node)
            out.value.connectionsOut.emplace_back(m_impl->plugName(c.source),
                                                  m_impl->plugName(c.destination));
    }
    return out;
}

Status Host::restoreNode(const NodeSnapshot& snapshot) {
    if (hasNode(snapshot.name))
        return Status::failure("a node named '" + snapshot.name + "' already exists");
    auto made = createNode(snapshot.type, snapshot.name);
    if (!made.ok())
        return made.status;
    if (snapshot.creationIndex != 0) {
        // Back to its old place in creation order (the index is free: the node was deleted).
        auto& nodes = m_impl->nodes;
        NodeRecord* node = m_impl->findNode(snapshot.name);
        node->creationIndex = snapshot.creationIndex;
        std::stable_sort(nodes.begin(), nodes.end(), [](const auto& a, const auto& b) {
            return a->creationIndex < b->creationIndex;
        });
    }
    std::vector<std::string> problems;
    for (const auto& [attribute, value] : snapshot.values) {
        const std::string plug = snapshot.name + "." + attribute;
        if (value.kind == PlugValue::Kind::kArray) {
            for (const auto& [index, element] : value.elements) {
                const Status s = setPlugValue(plug + "[" + std::to_string(index) + "]", element);
                if (!s)
                    problems.push_back(s.message);
            }
            continue;
        }
        const Status s = setPlugValue(plug, value);
        if (!s)
            problems.push_back(s.message);
    }
    for (const auto* list : {&snapshot.connectionsIn, &snapshot.connectionsOut})
        for (const auto& [source, destination] : *list) {
            const Status s = connect(source, destination);
            if (!s)
                problems.push_back(s.message);
        }
    if (!problems.empty())
        return Status::failure("node '" + snapshot.name +
                               "' restored incompletely: " + joinNames(problems));
    return Status{};
}

// ---------------------------------------------------------------- plugs
namespace {
PlugValue readPlugValue(const PlugRef& plug) {
    const AttributeDef& def =
        *plug.node->type->attributes[static_cast<std::size_t>(plug.attribute)];
    if (def.array && plug.element < 0) {
        PlugValue array;
        array.kind = PlugValue::Kind::kArray;
        for (const auto& [index, value] : plug.node->arrays[plug.attribute])
            array.elements.emplace_back(index, toPlugValue(def, value));
        return array;
    }
    return toPlugValue(def, detail::readPlug(plug.node, plug.attribute, plug.element));
}
}  // namespace

Result<PlugValue> Host::getPlug(const std::string& plug) {
    Impl& h = *m_impl;
    Result<PlugValue> out;
    auto ref = h.parsePlug(plug);
    if (!ref.ok()) {
        out.status = ref.status;
        return out;
    }
    const AttributeDef& def =
        *ref.value.node->type->attributes[static_cast<std::size_t>(ref.value.attribute)];
    if (!def.readable) {
        out.status = Status::failure("'" + h.plugName(ref.value) + "' is not readable");
        return out;
    }
    h.evaluationErrors.clear();
    h.evaluate(ref.value.node, ref.value.attribute);
    if (!h.evaluationErrors.empty()) {
        out.status = Status::failure(joinNames(h.evaluationErrors));
        h.evaluationErrors.clear();
        return out;
    }
    out.value = readPlugValue(ref.value);
    return out;
}

Result<PlugValue> Host::storedPlug(const std::string& plug) const {
    Result<PlugValue> out;
    auto ref = m_impl->parsePlug(plug);
    if (!ref.ok()) {
        out.status = ref.status;
        return out;
    }
    out.value = readPlugValue(ref.value);
    return out;
}

Status Host::Impl::storeValue(NodeRecord* node, int attribute, int element,
                              const PlugValue& value) {
    const NodeType& type = *node->type;
    const AttributeDef& def = *type.attributes[static_cast<std::size_t>(attribute)];
    const std::string path = node->plugPath(attribute, element);
    if (!def.writable)
        return Status::failure("cannot set '" + path + "': the attribute is not writable");
    for (const Connection& c : connections) {
        if (c.destination.node != node)
            continue;
        const int d = c.destination.attribute;
        const bool same = d == attribute && (c.destination.element == element || element < 0 ||
                                             c.destination.element < 0);
        const bool family = d == type.parentIndex(attribute) || type.parentIndex(d) == attribute;
        if (same || family)
            return Status::failure("cannot set '" + path + "': it is connected from '" +
                                   plugName(c.source) + "'");
    }
    std::string error;
    if (def.array && element < 0) {
        if (value.kind != PlugValue::Kind::kArray)
            return Status::failure("cannot set '" + path + "': set its elements, as '" + path +
                                   "[N]'");
        std::map<unsigned, Value> elements;
        for (const auto& [index, item] : value.elements) {
            Value converted;
            if (!fromPlugValue(def, item, converted, error))
                return Status::failure("cannot set '" + path + "': " + error);
            elements[index] = converted;
        }
        node->arrays[attribute] = std::move(elements);
    } else {
        Value converted;
        if (!fromPlugValue(def, value, converted, error))
            return Status::failure("cannot set '" + path + "': " + error);
        detail::writePlug(node, attribute, element, converted);
    }
    node->dirty[static_cast<std::size_t>(node->storageOf(attribute))] = 0;
    dirtyDependents(node, attribute);
    afterWrite(node, node->storageOf(attribute));
    return Status{};
}

Status Host::setPlugValue(const std::string& plug, const PlugValue& value) {
    auto ref = m_impl->parsePlug(plug);
    if (!ref.ok())
        return ref.status;
    return m_impl->storeValue(ref.value.node, ref.value.attribute, ref.value.element, value);
}

Status Host::setPlug(const std::string& plug, const std::vector<std::string>& words) {
    auto ref = m_impl->parsePlug(plug);
    if (!ref.ok())
        return ref.status;
    const AttributeDef& def =
        *ref.value.node->type->attributes[static_cast<std::size_t>(ref.value.attribute)];
    const std::string path = m_impl->plugName(ref.value);
    const auto expect = [&](const std::string& what) {
        std::string given;
        for (const auto& w : words) given += (given.empty() ? "" : " ") + w;
        return Status::failure("cannot set '" + path + "': expected " + what + ", got '" + given +
                               "'");
    };
    if (def.array && ref.value.element < 0)
        return Status::failure("cannot set '" + path + "': set its elements, as '" + path + "[N]'");
    PlugValue value;
    switch (def.type) {
        case ValueType::kBool: {
            if (words.size() != 1)
                return expect("true or false");
            std::string w = words[0];
            std::transform(w.begin(), w.end(), w.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (w == "true" || w == "on" || w == "1" || w == "yes")
                value = PlugValue::ofBool(true);
            else if (w == "false" || w == "off" || w == "0" || w == "no")
                value = PlugValue::ofBool(false);
            else
                return expect("true or false");
            break;
        }
        case ValueType::kShort:
        case ValueType::kInt:
        case ValueType::kEnum: {
            std::int64_t number = 0;
            if (words.size() != 1)
                return expect(def.type == ValueType::kEnum ? "an enum index or field name"
                                                           : "an integer");
            if (!parseInteger(words[0], number)) {
                bool found = false;
                for (const auto& field : def.fields)
                    if (field.first == words[0]) {
                        number = field.second;
                        found = true;
                    }
                if (!found || def.type != ValueType::kEnum)
                    return expect(def.type == ValueType::kEnum ? "an enum index or field name"
                                                               : "an integer");
            }
            if (def.type == ValueType::kShort && (number < -32768 || number > 32767))
                return expect("an integer from -32768 to 32767");
            if (def.type != ValueType::kShort && (number < INT32_MIN || number > INT32_MAX))
                return expect("a 32-bit integer");
            value = PlugValue::ofInt(number);
            break;
        }
        case ValueType::kFloat:
        case ValueType::kDouble:
        case ValueType::kTime: {
            double number = 0.0;
            if (words.size() != 1 || !parseNumber(words[0], number))
                return expect("a number");
            value = def.type == ValueType::kTime ? PlugValue::ofTime(number)
                                                 : PlugValue::ofDouble(number);
            break;
        }
        case ValueType::kDouble3: {
            if (isChildOf3(def)) {
                double number = 0.0;
                if (words.size() != 1 || !parseNumber(words[0], number))
                    return expect("a number");
                value = PlugValue::ofDouble(number);
                break;
            }
            double n[3];
            if (words.size() != 3)
                return expect("3 numbers");
            for (int k = 0; k < 3; ++k)
                if (!parseNumber(words[static_cast<std::size_t>(k)], n[k]))
                    return expect("3 numbers");
            value = PlugValue::ofDouble3(n[0], n[1], n[2]);
            break;
        }
        case ValueType::kMatrix: {
            std::array<double, 16> m{};
            if (words.size() != 16)
                return expect("16 numbers");
            for (std::size_t k = 0; k < 16; ++k)
                if (!parseNumber(words[k], m[k]))
                    return expect("16 numbers");
            value = PlugValue::ofMatrix(m);
            break;
        }
        case ValueType::kString: {
            std::string text;
            for (const auto& w : words) text += (text.empty() ? "" : " ") + w;
            value = PlugValue::ofString(text);
            break;
        }
        case ValueType::kMesh:
        case ValueType::kCompound:
            return Status::failure("cannot set '" + path + "': " + detail::valueTypeName(def.type) +
                                   " values are not set from text");
    }
    return m_impl->storeValue(ref.value.node, ref.value.attribute, ref.value.element, value);
}

namespace {
bool compatible(const AttributeDef& a, const AttributeDef& b) {
    if (detail::isScalar(a.type) && detail::isScalar(b.type))
        return true;
    return a.type == b.type && a.type != ValueType::kCompound;
}
}  // namespace

Status Host::connect(const std::string& source, const std::string& destination) {
    Impl& h = *m_impl;
    auto src = h.parsePlug(source);
    if (!src.ok())
        return Status::failure("cannot connect: " + src.status.message);
    auto dst = h.parsePlug(destination);
    if (!dst.ok())
        return Status::failure("cannot connect: " + dst.status.message);
    const PlugRef s = src.value, d = dst.value;
    const AttributeDef& sd = *s.node->type->attributes[static_cast<std::size_t>(s.attribute)];
    const AttributeDef& dd = *d.node->type->attributes[static_cast<std::size_t>(d.attribute)];
    const std::string sn = h.plugName(s), dn = h.plugName(d);
    const std::string what = "cannot connect '" + sn + "' to '" + dn + "': ";
    if (s.node == d.node)
        return Status::failure(what + "a node cannot feed itself");
    if (!sd.readable || !sd.connectable)
        return Status::failure(what + "the source is not a readable, connectable plug");
    if (!dd.writable || !dd.connectable)
        return Status::failure(what + "the destination is not a writable, connectable plug");
    const bool sourceWhole = sd.array && s.element < 0,
               destinationWhole = dd.array && d.element < 0;
    if (sourceWhole != destinationWhole)
        return Status::failure(what + "an array connects only to an array");
    if (!compatible(sd, dd)) {
        const char* st = isChildOf3(sd) ? "double" : detail::valueTypeName(sd.type);
        const char* dt = isChildOf3(dd) ? "double" : detail::valueTypeName(dd.type);
        if (!(isChildOf3(sd) && detail::isScalar(dd.type)) &&
            !(isChildOf3(dd) && detail::isScalar(sd.type)) && !(isChildOf3(sd) && isChildOf3(dd)))
            return Status::failure(what + "the types do not match (" + st + " to " + dt + ")");
    } else if (isChildOf3(sd) != isChildOf3(dd) &&
               (sd.type == ValueType::kDouble3 || dd.type == ValueType::kDouble3)) {
        return Status::failure(what + "the types do not match (double to double3)");
    }
    const NodeType& dt = *d.node->type;
    for (const Connection& c : h.connections) {
        if (c.destination.node != d.node)
            continue;
        const int a = c.destination.attribute;
        const bool clash = (a == d.attribute && (c.destination.element == d.element ||
                                                 c.destination.element < 0 || d.element < 0)) ||
                           a == dt.parentIndex(d.attribute) || dt.parentIndex(a) == d.attribute;
        if (clash)
            return Status::failure(what + "'" + h.plugName(c.destination) +
                                   "' is already connected from '" + h.plugName(c.source) + "'");
    }
    h.connections.push_back(Connection{s, d});
    h.emit(GraphEvent::kConnect, sn, dn);
    h.markDirty(d.node, d.attribute);
    return Status{};
}

Status Host::disconnect(const std::string& source, const std::string& destination) {
    Impl& h = *m_impl;
    auto src = h.parsePlug(source);
    if (!src.ok())
        return Status::failure("cannot disconnect: " + src.status.message);
    auto dst = h.parsePlug(destination);
    if (!dst.ok())
        return Status::failure("cannot disconnect: " + dst.status.message);
    auto it = std::find_if(h.connections.begin(), h.connections.end(), [&](const Connection& c) {
        return c.source == src.value && c.destination == dst.value;
    });
    if (it == h.connections.end())
        return Status::failure("'" + h.plugName(src.value) + "' is not connected to '" +
                               h.plugName(dst.value) + "'");
    const PlugRef d = it->destination;
    h.connections.erase(it);
    h.emit(GraphEvent::kDisconnect, h.plugName(src.value), h.plugName(d));
    // The destination keeps the last value that came through.
    d.node->dirty[static_cast<std::size_t>(d.node->storageOf(d.attribute))] = 0;
    return Status{};
}

std::vector<std::pair<std::string, std::string>> Host::connections(const std::string& node) const {
    std::vector<std::pair<std::string, std::string>> out;
    for (const Connection& c : m_impl->connections)
        if (node.empty() || c.source.node->name == node || c.destination.node->name == node)
            out.emplace_back(m_impl->plugName(c.source), m_impl->plugName(c.destination));
    return out;
}

std::vector<std::string> Host::attributeNames(const std::string& node) const {
    std::vector<std::string> names;
    if (NodeRecord* record = m_impl->findNode(node))
        for (const auto& def : record->type->attributes) names.push_back(def->longName);
    return names;
}

Result<bool> Host::isDirty(const std::string& plug) const {
    Result<bool> out;
    auto ref = m_impl->parsePlug(plug);
    if (!ref.ok())
        out.status = ref.status;
    else
        out.value = ref.value.node->isDirty(ref.value.attribute);
    return out;
}

Result<Host::ForcedCompute> Host::forceCompute(const std::string& plug) {
    Impl& h = *m_impl;
    Result<ForcedCompute> out;
    auto ref = h.parsePlug(plug);
    if (!ref.ok()) {
        out.status = ref.status;
        return out;
    }
    NodeRecord* node = ref.value.node;
    const auto keep = node->shared_from_this();  // a compute that deletes its own node
    const int storage = node->storageOf(ref.value.attribute);
    const auto slot = static_cast<std::size_t>(storage);
    if (node->evaluating[slot]) {
        out.status = Status::failure("'" + h.plugName(ref.value) + "' is being evaluated");
        return out;
    }
    node->evaluating[slot] = 1;
    out.value.status = h.runCompute(node, storage);
    node->evaluating[slot] = 0;
    if (out.value.status < 0) {
        out.value.error = h.evaluationErrors.back();
        h.evaluationErrors.pop_back();
    }
    if (out.value.status == RStatus::kSuccess)
        node->dirty[slot] = 0;
    else if (out.value.status != RStatus::kUnknownParameter && node->alive)
        h.markDirty(node, storage);
    if (node->alive) {
        out.value.value = readPlugValue(ref.value);
        out.value.dirty = node->isDirty(storage);
    }
    return out;
}

Result<std::string> Host::canonicalPlug(const std::string& plug) const {
    Result<std::string> out;
    auto ref = m_impl->parsePlug(plug);
    if (!ref.ok())
        out.status = ref.status;
    else
        out.value = m_impl->plugName(ref.value);
    return out;
}

// ---------------------------------------------------------------- time
void Host::setTime(double seconds) {
    Impl& h = *m_impl;
    if (!h.timeNode)
        return;
    h.timeNode->values[0].d = seconds;
    h.timeNode->dirty[0] = 0;
    h.dirtyDependents(h.timeNode, 0);
}

double Host::time() const {
    return m_impl->timeNode ? m_impl->timeNode->values[0].d : 0.0;
}

void Host::setFps(double fps) {
    if (fps > 0.0 && std::isfinite(fps))
        m_impl->framesPerSecond = fps;
}

double Host::fps() const {
    return m_impl->framesPerSecond;
}

// ---------------------------------------------------------------- ticks and the idle queue
void Host::tick() {
    Impl& h = *m_impl;
    drainIdle();
    const auto nodes = h.nodes;
    for (const auto& node : nodes) {
        if (!node->alive || !node->thread || !node->thread->pushed.exchange(false))
            continue;
        for (const int attribute : node->refreshAttributes) {
            const int storage = node->storageOf(attribute);
            if (!node->dirty[static_cast<std::size_t>(storage)]) {
                node->dirty[static_cast<std::size_t>(storage)] = 1;
                h.emit(GraphEvent::kDirty, node->plugPath(storage));
            }
            // Even an already dirty refresh plug passes the news on: new data arrived.
            h.dirtyDependents(node.get(), storage);
        }
    }
    const auto watched = h.watched;
    for (const auto& plug : watched) {
        auto value = getPlug(plug);
        if (!value.ok())
            detail::writeError(value.status.message);
    }
}

Status Host::watch(const std::string& plug, bool on) {
    auto canonical = canonicalPlug(plug);
    if (!canonical.ok())
        return canonical.status;
    auto& watched = m_impl->watched;
    auto it = std::find(watched.begin(), watched.end(), canonical.value);
    if (on && it == watched.end())
        watched.push_back(canonical.value);
    if (!on && it != watched.end())
        watched.erase(it);
    return Status{};
}

std::vector<std::string> Host::watchedPlugs() const {
    return m_impl->watched;
}

void Host::setExecutor(Executor executor) {
    m_impl->executor = std::move(executor);
}

void Host::queueIdle(std::string command) {
    std::lock_guard<std::mutex> lock(m_impl->idleMutex);
    m_impl->idleQueue.emplace_back(std::move(command), false);
}

std::size_t Host::idleQueueSize() const {
    std::lock_guard<std::mutex> lock(m_impl->idleMutex);
    return m_impl->idleQueue.size();
}

void Host::drainIdle() {
    Impl& h = *m_impl;
    std::deque<std::pair<std::string, bool>> batch;
    {
        std::lock_guard<std::mutex> lock(h.idleMutex);
        batch.swap(h.idleQueue);
    }
    for (const auto& [command, display] : batch) {
        if (!h.executor) {
            detail::writeError("no command interpreter to run the queued command: " + command);
            continue;
        }
        try {
            h.executor(command, display, false, nullptr);
        } catch (const std::exception& e) {
            detail::writeError("queued command '" + command + "' threw: " + e.what());
        }
    }
}

// ---------------------------------------------------------------- faults and observers
std::vector<std::string> Host::faultCalls() const {
    return {"registerNode",
            "deregisterNode",
            "registerCommand",
            "deregisterCommand",
            "registerUI",
            "create",
            "setKeyable",
            "setStorable",
            "setHidden",
            "setWritable",
            "setReadable",
            "setConnectable",
            "setDefault",
            "addField",
            "addAttribute",
            "attributeAffects",
            "setRefreshOutputAttributes",
            "createMemoryPools",
            "acquireDataStorage",
            "outputValue",
            "outputArrayValue",
            "jumpToElement",
            "active3dView",
            "getCamera"};
}

Status Host::armFault(const std::string& call, const std::string& match, int times) {
    const auto calls = faultCalls();
    if (std::find(calls.begin(), calls.end(), call) == calls.end())
        return Status::failure("unknown fault call '" + call + "' (known: " + joinNames(calls) +
                               ")");
    if (times == 0 || times < -1)
        return Status::failure("fault count must be a positive number or -1, not " +
                               std::to_string(times));
    std::lock_guard<std::mutex> lock(m_impl->faultMutex);
    m_impl->faults.push_back(Impl::Fault{call, match, times});
    return Status{};
}

void Host::clearFaults() {
    std::lock_guard<std::mutex> lock(m_impl->faultMutex);
    m_impl->faults.clear();
}

int Host::addObserver(std::function<void(const GraphEvent&)> observer) {
    const int id = m_impl->nextObserver++;
    m_impl->observers.emplace_back(id, std::move(observer));
    return id;
}

void Host::removeObserver(int id) {
    auto& list = m_impl->observers;
    list.erase(
        std::remove_if(list.begin(), list.end(), [id](const auto& o) { return o.first == id; }),
        list.end());
}

// ---------------------------------------------------------------- paths
std::vector<std::filesystem::path>& Host::pluginPath() {
    return m_impl->pluginPath;
}
std::vector<std::filesystem::path>& Host::scriptPath() {
    return m_impl->scriptPath;
}

std::optional<std::filesystem::path> Host::findScript(const std::string& file) const {
    std::error_code ec;
    if (file.find('/') != std::string::npos) {
        if (std::filesystem::is_regular_file(file, ec))
            return std::filesystem::path(file);
        return std::nullopt;
    }
    for (const auto& dir : m_impl->scriptPath)
        if (std::filesystem::is_regular_file(dir / file, ec))
            return dir / file;
    return std::nullopt;
}

// ---------------------------------------------------------------- shutdown
void Host::Impl::shutdown(bool recreateSceneTime) {
    for (const auto& node : nodes)
        if (node->thread)
            stopThread(node.get());
    while (!nodes.empty()) removeNode(nodes.back().get());
    while (!plugins.empty()) {
        const std::string name = plugins.back()->name;
        const Status s = unloadPlugin(plugins.back().get(), true);
        if (!s)
            detail::writeError(s.message);
        if (!plugins.empty() && plugins.back()->name == name)
            plugins.pop_back();
    }
    watched.clear();
    evaluationErrors.clear();
    {
        std::lock_guard<std::mutex> lock(idleMutex);
        idleQueue.clear();
    }
    {
        std::lock_guard<std::mutex> lock(faultMutex);
        faults.clear();
    }
    timeNode = nullptr;
    if (recreateSceneTime)
        createSceneTime();
}

void Host::shutdown() {
    m_impl->shutdown(true);
}

void Host::shutdownForExit() {
    m_impl->shutdown(false);
}

}  // namespace rova::host
