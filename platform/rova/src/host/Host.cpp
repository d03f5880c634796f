// The host's state: construction, lookups, observers and shutdown.
#include <algorithm>
#include <cmath>
#include <iostream>

#include "HostImpl.h"
#include "HostText.h"
#include "host/Diagnostics.h"
#include "host/Faults.h"
#include "host/PluginRecords.h"
#include "model/Attributes.h"
#include "model/NodeRecords.h"
#include "model/NodeTypes.h"
#include "model/Values.h"
#include "rova/RGlobal.h"
#include "scene/Scene.h"
#include "scene/UtilityTypes.h"

using rova::detail::NodeRecord;
using rova::detail::NodeType;
using rova::detail::PluginRecord;
using rova::detail::ValueType;

namespace rova::host {

Host::Impl::Impl() {
    pluginPath = defaultPluginPath();
    scriptPath = defaultScriptPath();
    timeType = std::make_shared<NodeType>();
    timeType->name = "time";
    timeType->id = RTypeId(0x524f0001u);
    timeType->builtinCreator = [] { return new RPxNode(); };
    auto time = detail::makeAttribute("time", "t", ValueType::kTime);
    time->writable = false;
    time->storable = false;
    timeType->addIndex(time.get(), 0);
    timeType->attributes.push_back(time);
    timeType->affects.emplace_back();
    sceneTypes = scene::makeSceneTypes();
    for (auto& type : scene::makeUtilityTypes()) sceneTypes.push_back(std::move(type));
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

// ---------------------------------------------------------------- lookups
NodeType* Host::Impl::findType(const std::string& name) const {
    for (const auto& t : types)
        if (t->name == name)
            return t.get();
    for (const auto& t : sceneTypes)
        if (t->name == name)
            return t.get();
    return name == timeType->name ? timeType.get() : nullptr;
}

NodeType* Host::Impl::findTypeById(std::uint32_t id) const {
    for (const auto& t : types)
        if (t->id.id() == id)
            return t.get();
    for (const auto& t : sceneTypes)
        if (t->id.id() == id)
            return t.get();
    return timeType->id.id() == id ? timeType.get() : nullptr;
}

NodeRecord* Host::Impl::findNode(const std::string& name) const {
    return nodesByName.find(name);
}

void Host::Impl::nameNode(NodeRecord* node) {
    nodesByName.insert(node);
}

void Host::Impl::freeName(const NodeRecord* node) {
    nodesByName.erase(node);
    // Every base the name can be made from ("a12" from "a1" and from "a") may take its number
    // again.
    const std::string& name = node->name;
    std::size_t digits = name.size();
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
    for (std::size_t k = digits; k < name.size(); ++k) {
        if (name[k] == '0' || name.size() - k > 9)
            continue;
        const auto floor = suffixFloor.find(name.substr(0, k));
        if (floor != suffixFloor.end())
            floor->second = std::min(floor->second, std::stoi(name.substr(k)));
    }
}

std::string Host::Impl::freeNameFrom(const std::string& base) {
    int& floor = suffixFloor.try_emplace(base, 1).first->second;
    for (int n = floor;; ++n) {
        // A base near the longest name gives up its end to the number.
        const std::string number = std::to_string(n);
        const std::string name = base.substr(0, Host::kMaxNodeNameLength - number.size()) + number;
        if (!findNode(name)) {
            floor = n;
            return name;
        }
    }
}

PluginRecord* Host::Impl::findPlugin(const std::string& name) const {
    for (const auto& p : plugins)
        if (p->name == name)
            return p.get();
    return nullptr;
}

void Host::Impl::emit(GraphEvent::Kind kind, const std::string& plug, const std::string& other) {
    if (observers.empty())
        return;
    const GraphEvent event{kind, plug, other};
    const auto copy = observers;
    for (const auto& observer : copy) observer.second(event);
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
    dirtyHints.clear();  // the traces' memory: their nodes are gone
    pullHints.clear();
    acquireWaitMs.store(10);
    idleWaitMs.store(8);
    dataReports.store(false);
    idleQueue.clear();
    {
        std::lock_guard<std::mutex> lock(faultMutex);
        faults.clear();
        detail::armedFaultCount.store(0, std::memory_order_relaxed);
    }
    timeNode = nullptr;
    activeCamera.clear();
    suffixFloor.clear();
    lastConnectionOrder = 0;
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
