// RFnPlugin: registration of node types, commands and user-interface procedures.
#include "rova/RFnPlugin.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <sstream>

#include "HostImpl.h"
#include "host/Faults.h"
#include "host/PluginRecords.h"
#include "model/NodeTypes.h"
#include "model/Objects.h"
#include "rova/RGlobal.h"
#include "rova/RPxDeformerNode.h"
#include "rova/RPxThreadedDeviceNode.h"
#include "rovahost/Boundary.h"

using rova::detail::CommandDef;
using rova::detail::NodeType;
using rova::detail::PluginRecord;

namespace {
PluginRecord* pluginOf(const RObject& object) {
    auto* impl = rova::detail::Access::get(object);
    return impl && impl->kind == RObject::Kind::kPlugin ? static_cast<PluginRecord*>(impl)
                                                        : nullptr;
}

std::string hexId(std::uint32_t id) {
    std::ostringstream out;
    out << "0x" << std::hex << id;
    return out.str();
}

RStatus noPlugin(const char* call) {
    return RStatus(RStatus::kInvalidParameter,
                   std::string(call) + ": the function set is not attached to a plug-in");
}
}  // namespace

// ---------------------------------------------------------------- RFnPlugin
RFnPlugin::RFnPlugin(const RObject& plugin, const char* vendor, const char* version,
                     const char* requiredApiVersion, RStatus* status)
    : m_plugin(plugin) {
    PluginRecord* record = pluginOf(plugin);
    if (!record) {
        if (status)
            *status = RStatus(RStatus::kInvalidParameter, "RFnPlugin: the object is not a plug-in");
        return;
    }
    record->vendor = vendor ? vendor : "Unknown";
    record->version = version ? version : "Unknown";
    record->requiredApi = requiredApiVersion ? requiredApiVersion : "Any";
    if (status)
        status->clear();
}

RString RFnPlugin::vendor() const {
    PluginRecord* record = pluginOf(m_plugin);
    return record ? RString(record->vendor) : RString();
}

RString RFnPlugin::version() const {
    PluginRecord* record = pluginOf(m_plugin);
    return record ? RString(record->version) : RString();
}

RString RFnPlugin::name() const {
    PluginRecord* record = pluginOf(m_plugin);
    return record ? RString(record->name) : RString();
}

RStatus RFnPlugin::registerNode(const RString& typeName, const RTypeId& typeId,
                                RCreatorFunction creator, RInitializeFunction initialize,
                                RPxNode::Type kind, const RString*) {
    const std::string name = typeName.str();
    if (rova::detail::faultArmed(rova::host::FaultPoint::kRegisterNode, name))
        return rova::detail::injectedFailure(rova::host::FaultPoint::kRegisterNode, name);
    PluginRecord* record = pluginOf(m_plugin);
    if (!record)
        return noPlugin("registerNode");
    auto& host = rova::detail::hostImpl();
    if (name.empty() || !rova::host::Host::isValidNodeName(name))
        return RStatus(RStatus::kInvalidParameter,
                       "registerNode: '" + name + "' is not a valid type name");
    if (kind != RPxNode::kDependNode && kind != RPxNode::kLocatorNode &&
        kind != RPxNode::kDeformerNode && kind != RPxNode::kThreadedDeviceNode)
        return RStatus(RStatus::kInvalidParameter, "registerNode: node kind " +
                                                       std::to_string(static_cast<int>(kind)) +
                                                       " of '" + name + "' is not supported");
    if (!creator)
        return RStatus(RStatus::kInvalidParameter, "registerNode: '" + name + "' has no creator");
    if (host.findType(name))
        return RStatus(RStatus::kFailure,
                       "registerNode: node type '" + name + "' is already registered");
    if (NodeType* other = host.findTypeById(typeId.id()))
        return RStatus(RStatus::kFailure, "registerNode: type id " + std::to_string(typeId.id()) +
                                              " (" + hexId(typeId.id()) + ") of '" + name +
                                              "' is already used by '" + other->name + "'");
    auto type = std::make_shared<NodeType>();
    type->name = name;
    type->id = typeId;
    type->creator = creator;
    type->initialize = initialize;
    type->kind = kind;
    type->plugin = record;
    host.typeInInitialization.push_back(type.get());
    RStatus result;
    if (kind == RPxNode::kThreadedDeviceNode) {
        result = RPxNode::addAttribute(RPxThreadedDeviceNode::live);
        if (result)
            result = RPxNode::addAttribute(RPxThreadedDeviceNode::frameRate);
    }
    if (kind == RPxNode::kDeformerNode) {
        result = RPxNode::addAttribute(RPxDeformerNode::input);  // with its child inputGeom
        if (result)
            result = RPxNode::addAttribute(RPxDeformerNode::outputGeom);
        if (result)
            result = RPxNode::attributeAffects(RPxDeformerNode::input, RPxDeformerNode::outputGeom);
        if (result)
            result =
                RPxNode::attributeAffects(RPxDeformerNode::inputGeom, RPxDeformerNode::outputGeom);
    }
    if (result && initialize) {
        if (const auto error = rova::host::guardBoundary(
                "registerNode: the initializer of '" + name + "'", [&] { result = initialize(); }))
            result = RStatus(RStatus::kFailure, *error);
    }
    host.typeInInitialization.pop_back();
    if (!result) {
        if (result.errorString().str().rfind("registerNode", 0) == 0)
            return result;
        return RStatus(RStatus::kFailure, "registerNode: the attribute initializer of '" + name +
                                              "' failed (" + result.errorString().str() + ")");
    }
    host.types.push_back(std::move(type));
    return RStatus();
}

RStatus RFnPlugin::deregisterNode(const RTypeId& typeId) {
    auto& host = rova::detail::hostImpl();
    NodeType* type = host.findTypeById(typeId.id());
    const std::string subject = type ? type->name : std::to_string(typeId.id());
    if (rova::detail::faultArmed(rova::host::FaultPoint::kDeregisterNode, subject))
        return rova::detail::injectedFailure(rova::host::FaultPoint::kDeregisterNode, subject);
    PluginRecord* record = pluginOf(m_plugin);
    if (!record)
        return noPlugin("deregisterNode");
    if (!type)
        return RStatus(RStatus::kFailure, "deregisterNode: no node type with id " +
                                              std::to_string(typeId.id()) + " (" +
                                              hexId(typeId.id()) + ") is registered");
    if (type->plugin != record)
        return RStatus(RStatus::kFailure,
                       "deregisterNode: node type '" + type->name + "' belongs to another plug-in");
    std::vector<std::string> users;
    for (const auto& node : host.nodes)
        if (node->type.get() == type)
            users.push_back(node->name);
    if (!users.empty()) {
        std::string list;
        for (const auto& user : users) list += (list.empty() ? "" : ", ") + user;
        return RStatus(RStatus::kFailure,
                       "deregisterNode: nodes of type '" + type->name + "' exist: " + list);
    }
    host.removeNodeType(type);
    return RStatus();
}

RStatus RFnPlugin::registerCommand(const RString& commandName, RCreatorFunction creator,
                                   RCreateSyntaxFunction createSyntax) {
    const std::string name = commandName.str();
    if (rova::detail::faultArmed(rova::host::FaultPoint::kRegisterCommand, name))
        return rova::detail::injectedFailure(rova::host::FaultPoint::kRegisterCommand, name);
    PluginRecord* record = pluginOf(m_plugin);
    if (!record)
        return noPlugin("registerCommand");
    auto& host = rova::detail::hostImpl();
    if (name.empty() || !rova::host::Host::isValidNodeName(name))
        return RStatus(RStatus::kInvalidParameter,
                       "registerCommand: '" + name + "' is not a valid command name");
    if (!creator)
        return RStatus(RStatus::kInvalidParameter,
                       "registerCommand: '" + name + "' has no creator");
    if (host.hasPluginCommandName(name))
        return RStatus(RStatus::kFailure,
                       "registerCommand: command '" + name + "' is already registered");
    host.commands.push_back(CommandDef{name, creator, createSyntax, record});
    return RStatus();
}

RStatus RFnPlugin::deregisterCommand(const RString& commandName) {
    const std::string name = commandName.str();
    if (rova::detail::faultArmed(rova::host::FaultPoint::kDeregisterCommand, name))
        return rova::detail::injectedFailure(rova::host::FaultPoint::kDeregisterCommand, name);
    PluginRecord* record = pluginOf(m_plugin);
    if (!record)
        return noPlugin("deregisterCommand");
    auto& commands = rova::detail::hostImpl().commands;
    auto it = std::find_if(commands.begin(), commands.end(),
                           [&](const CommandDef& c) { return c.name == name; });
    if (it == commands.end())
        return RStatus(RStatus::kFailure,
                       "deregisterCommand: no command '" + name + "' is registered");
    if (it->plugin != record)
        return RStatus(RStatus::kFailure,
                       "deregisterCommand: command '" + name + "' belongs to another plug-in");
    commands.erase(it);
    return RStatus();
}

RStatus RFnPlugin::registerUI(const RString& creationProc, const RString& deletionProc,
                              const RString& creationBatchProc, const RString& deletionBatchProc) {
    const std::string subject = creationProc.str();
    if (rova::detail::faultArmed(rova::host::FaultPoint::kRegisterUI, subject))
        return rova::detail::injectedFailure(rova::host::FaultPoint::kRegisterUI, subject);
    PluginRecord* record = pluginOf(m_plugin);
    if (!record)
        return noPlugin("registerUI");
    for (const RString* proc :
         {&creationProc, &deletionProc, &creationBatchProc, &deletionBatchProc})
        if (!proc->isEmpty() && !rova::host::Host::isValidNodeName(proc->str()))
            return RStatus(RStatus::kInvalidParameter,
                           "registerUI: '" + proc->str() + "' is not a valid procedure name");
    record->uiCreate = creationProc.str();
    record->uiDelete = deletionProc.str();
    record->uiCreateBatch = creationBatchProc.str();
    record->uiDeleteBatch = deletionBatchProc.str();
    return RStatus();
}
