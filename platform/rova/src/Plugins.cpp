// Plug-in libraries, registration of node types and commands, plug-in commands, host services.
#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <sstream>

#include "HostImpl.h"
#include "rova/RGlobal.h"

using rova::detail::CommandDef;
using rova::detail::CommandHolder;
using rova::detail::NodeType;
using rova::detail::PluginRecord;

namespace {
constexpr long kHostApiVersion = 201400;

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
    if (rova::detail::faultArmed("registerNode", name))
        return rova::detail::injectedFailure("registerNode", name);
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
    if (result && initialize) {
        try {
            result = initialize();
        } catch (const std::exception& e) {
            result = RStatus(RStatus::kFailure,
                             "registerNode: the initializer of '" + name + "' threw: " + e.what());
        } catch (...) {
            result =
                RStatus(RStatus::kFailure, "registerNode: the initializer of '" + name + "' threw");
        }
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
    if (rova::detail::faultArmed("deregisterNode", subject))
        return rova::detail::injectedFailure("deregisterNode", subject);
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
    if (rova::detail::faultArmed("registerCommand", name))
        return rova::detail::injectedFailure("registerCommand", name);
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
    if (rova::detail::faultArmed("deregisterCommand", name))
        return rova::detail::injectedFailure("deregisterCommand", name);
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
    if (rova::detail::faultArmed("registerUI", subject))
        return rova::detail::injectedFailure("registerUI", subject);
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

// ---------------------------------------------------------------- RPxCommand
RPxCommand::RPxCommand() = default;
RPxCommand::~RPxCommand() = default;
RStatus RPxCommand::runCommand(const RArgList&) {
    return RStatus(RStatus::kNotImplemented, "the command does nothing");
}
RStatus RPxCommand::undoCommand() {
    return RStatus(RStatus::kNotImplemented, "the command cannot be undone");
}
RStatus RPxCommand::redoCommand() {
    return RStatus(RStatus::kNotImplemented, "the command cannot be redone");
}
bool RPxCommand::canUndo() const {
    return false;
}
bool RPxCommand::hasSyntax() const {
    return false;
}

namespace {
std::string* currentResult() {
    auto& stack = rova::detail::hostImpl().resultStack;
    return stack.empty() ? nullptr : &stack.back();
}

void appendWord(const std::string& word) {
    if (std::string* result = currentResult()) {
        if (!result->empty())
            *result += ' ';
        *result += word;
    }
}
}  // namespace

void RPxCommand::clearResult() {
    if (std::string* result = currentResult())
        result->clear();
}

void RPxCommand::setResult(bool value) {
    clearResult();
    appendWord(value ? "true" : "false");
}

void RPxCommand::setResult(int value) {
    clearResult();
    appendWord(std::to_string(value));
}

void RPxCommand::setResult(double value) {
    clearResult();
    appendWord(rova::host::formatDouble(value));
}

void RPxCommand::setResult(const RString& value) {
    clearResult();
    appendWord(value.str());
}

void RPxCommand::appendToResult(const RString& value) {
    appendWord(value.str());
}
void RPxCommand::appendToResult(double value) {
    appendWord(rova::host::formatDouble(value));
}
void RPxCommand::displayError(const RString& message) {
    RGlobal::displayError(message);
}
void RPxCommand::displayWarning(const RString& message) {
    RGlobal::displayWarning(message);
}
void RPxCommand::displayInfo(const RString& message) {
    RGlobal::displayInfo(message);
}

// ---------------------------------------------------------------- RGlobal
RStatus RGlobal::executeCommand(const RString& command, bool display, bool undoable) {
    RString ignored;
    return executeCommand(command, ignored, display, undoable);
}

RStatus RGlobal::executeCommand(const RString& command, RString& result, bool display,
                                bool undoable) {
    auto& host = rova::detail::hostImpl();
    if (!host.executor)
        return RStatus(RStatus::kFailure, "executeCommand: no command interpreter is running");
    std::string text;
    bool ok = false;
    try {
        ok = host.executor(command.str(), display, undoable, &text);
    } catch (const std::exception& e) {
        return RStatus(RStatus::kFailure, std::string("executeCommand: ") + e.what());
    }
    result = RString(text);
    if (!ok)
        return RStatus(RStatus::kFailure, "executeCommand: the command failed: " + command.str());
    return RStatus();
}

RStatus RGlobal::executeCommandOnIdle(const RString& command, bool display) {
    auto& host = rova::detail::hostImpl();
    {
        std::lock_guard<std::mutex> lock(host.idleMutex);
        host.idleQueue.emplace_back(command.str(), display);
    }
    return RStatus();
}

void RGlobal::displayError(const RString& message) {
    std::cerr << ("error: " + message.str() + "\n") << std::flush;
}
void RGlobal::displayWarning(const RString& message) {
    std::cerr << ("warning: " + message.str() + "\n") << std::flush;
}
void RGlobal::displayInfo(const RString& message) {
    std::cerr << ("info: " + message.str() + "\n") << std::flush;
}

// ---------------------------------------------------------------- the host's side
namespace rova::host {

bool Host::Impl::hasPluginCommandName(const std::string& name) const {
    return std::any_of(commands.begin(), commands.end(),
                       [&](const CommandDef& c) { return c.name == name; });
}

void Host::Impl::removeNodeType(NodeType* type) {
    types.erase(std::remove_if(types.begin(), types.end(),
                               [type](const auto& t) { return t.get() == type; }),
                types.end());
}

std::vector<std::string> Host::Impl::nodesOfPlugin(const PluginRecord* plugin) const {
    std::vector<std::string> names;
    for (const auto& node : nodes)
        if (node->type->plugin == plugin)
            names.push_back(node->name);
    return names;
}

Status Host::Impl::initializePlugin(const std::shared_ptr<PluginRecord>& plugin) {
    plugins.push_back(plugin);
    RStatus status;
    plugin->loading = true;
    try {
        status = plugin->initialize(detail::Access::make(plugin));
    } catch (const std::exception& e) {
        status = RStatus(RStatus::kFailure, std::string("it threw: ") + e.what());
    } catch (...) {
        status = RStatus(RStatus::kFailure, "it threw an unknown exception");
    }
    plugin->loading = false;
    if (!status)
        return Status::failure("initializePlugin of plug-in '" + plugin->name + "' failed (" +
                               status.errorString().str() +
                               "); what it registered stays until it is unloaded");
    plugin->initialized = true;
    if (!plugin->uiCreate.empty() && executor) {
        bool ok = false;
        try {
            ok = executor(plugin->uiCreate, false, false, nullptr);
        } catch (...) {
        }
        if (!ok)
            RGlobal::displayWarning("UI creation procedure '" + plugin->uiCreate +
                                    "' of plug-in '" + plugin->name + "' failed");
    }
    return Status{};
}

Status Host::Impl::unloadPlugin(PluginRecord* plugin, bool force) {
    const std::vector<std::string> users = nodesOfPlugin(plugin);
    if (!users.empty() && !force) {
        std::string list;
        for (const auto& user : users) list += (list.empty() ? "" : ", ") + user;
        return Status::failure("cannot unload plug-in '" + plugin->name +
                               "': nodes of its types exist: " + list);
    }
    for (auto it = users.rbegin(); it != users.rend(); ++it)
        if (detail::NodeRecord* node = findNode(*it))
            removeNode(node);

    if (plugin->initialized && !plugin->uiDelete.empty() && executor) {
        bool ok = false;
        try {
            ok = executor(plugin->uiDelete, false, false, nullptr);
        } catch (...) {
        }
        if (!ok)
            RGlobal::displayWarning("UI deletion procedure '" + plugin->uiDelete +
                                    "' of plug-in '" + plugin->name + "' failed");
    }
    std::shared_ptr<PluginRecord> keep;
    for (const auto& p : plugins)
        if (p.get() == plugin)
            keep = p;
    RStatus status;
    try {
        status = plugin->uninitialize(detail::Access::make(keep));
    } catch (const std::exception& e) {
        status = RStatus(RStatus::kFailure, std::string("it threw: ") + e.what());
    } catch (...) {
        status = RStatus(RStatus::kFailure, "it threw an unknown exception");
    }
    // Whatever the plug-in left registered goes now: its code is about to leave the process.
    types.erase(std::remove_if(types.begin(), types.end(),
                               [plugin](const auto& t) { return t->plugin == plugin; }),
                types.end());
    commands.erase(std::remove_if(commands.begin(), commands.end(),
                                  [plugin](const CommandDef& c) { return c.plugin == plugin; }),
                   commands.end());
    for (auto& weak : commandInstances)
        if (auto holder = weak.lock())
            if (holder->plugin == plugin) {
                delete holder->command;
                holder->command = nullptr;
            }
    commandInstances.erase(std::remove_if(commandInstances.begin(), commandInstances.end(),
                                          [](const auto& weak) { return weak.expired(); }),
                           commandInstances.end());
    plugins.erase(std::remove_if(plugins.begin(), plugins.end(),
                                 [plugin](const auto& p) { return p.get() == plugin; }),
                  plugins.end());
    const std::string name = keep->name;
    void* library = keep->library;
    keep->library = nullptr;
    keep.reset();
    if (library && dlclose(library) != 0) {
        const char* why = dlerror();
        return Status::failure(
            "plug-in '" + name +
            "' was unloaded but its library did not close: " + (why ? why : "unknown"));
    }
    if (!status)
        return Status::failure("uninitializePlugin of plug-in '" + name + "' failed (" +
                               status.errorString().str() + "); the plug-in was unloaded");
    return Status{};
}

// ---------------------------------------------------------------- facade: plug-ins
Status Host::loadPlugin(const std::string& nameOrPath) {
    Impl& h = *m_impl;
    if (nameOrPath.empty())
        return Status::failure("plug-in name is empty");
    std::filesystem::path path;
    std::string name;
    if (nameOrPath.find('/') != std::string::npos || nameOrPath.ends_with(".so")) {
        path = nameOrPath;
        name = path.stem().string();
        if (!std::filesystem::exists(path))
            return Status::failure("plug-in file '" + nameOrPath + "' does not exist");
    } else {
        name = nameOrPath;
        for (const auto& dir : h.pluginPath) {
            for (const std::string& file : {name + ".so", "lib" + name + ".so"}) {
                std::error_code ec;
                if (std::filesystem::is_regular_file(dir / file, ec)) {
                    path = dir / file;
                    break;
                }
            }
            if (!path.empty())
                break;
        }
        if (path.empty()) {
            std::string dirs;
            for (const auto& dir : h.pluginPath) dirs += (dirs.empty() ? "" : ":") + dir.string();
            return Status::failure("plug-in '" + name + "' not found on the plug-in path (" + dirs +
                                   ")");
        }
    }
    if (h.findPlugin(name))
        return Status::failure("plug-in '" + name + "' is already loaded");

    dlerror();
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* why = dlerror();
        return Status::failure("cannot load plug-in '" + name +
                               "': " + (why ? why : "unknown reason"));
    }
    const auto refuse = [&](const std::string& why) {
        dlclose(library);
        return Status::failure("cannot load plug-in '" + name + "': " + why);
    };
    const auto* version = static_cast<const char*>(dlsym(library, "RApiVersion"));
    if (!version)
        return refuse("it does not export RApiVersion");
    const std::size_t length = strnlen(version, 16);
    if (length == 0 || length >= 16 ||
        !std::all_of(version, version + length, [](char c) { return c >= '0' && c <= '9'; }))
        return refuse("its RApiVersion is not a version number");
    if (std::stol(std::string(version, length)) > kHostApiVersion)
        return refuse("it needs host API " + std::string(version, length) + "; this host offers " +
                      std::to_string(kHostApiVersion));
    auto initialize = reinterpret_cast<PluginEntry>(dlsym(library, "initializePlugin"));
    auto uninitialize = reinterpret_cast<PluginEntry>(dlsym(library, "uninitializePlugin"));
    if (!initialize || !uninitialize)
        return refuse("it does not export initializePlugin and uninitializePlugin");

    auto plugin = std::make_shared<PluginRecord>();
    plugin->name = name;
    plugin->path = std::filesystem::absolute(path).string();
    plugin->library = library;
    plugin->initialize = initialize;
    plugin->uninitialize = uninitialize;
    return h.initializePlugin(plugin);
}

Status Host::registerBuiltinPlugin(const std::string& name, PluginEntry initialize,
                                   PluginEntry uninitialize) {
    Impl& h = *m_impl;
    if (name.empty() || !initialize || !uninitialize)
        return Status::failure("a built-in plug-in needs a name and both entry points");
    if (h.findPlugin(name))
        return Status::failure("plug-in '" + name + "' is already loaded");
    auto plugin = std::make_shared<PluginRecord>();
    plugin->name = name;
    plugin->initialize = initialize;
    plugin->uninitialize = uninitialize;
    return h.initializePlugin(plugin);
}

Status Host::unloadPlugin(const std::string& name, bool force) {
    PluginRecord* plugin = m_impl->findPlugin(name);
    if (!plugin)
        return Status::failure("plug-in '" + name + "' is not loaded");
    return m_impl->unloadPlugin(plugin, force);
}

std::vector<std::string> Host::pluginNames() const {
    std::vector<std::string> names;
    for (const auto& p : m_impl->plugins) names.push_back(p->name);
    return names;
}

std::vector<std::string> Host::nodeTypeNames() const {
    std::vector<std::string> names;
    for (const auto& t : m_impl->types) names.push_back(t->name);
    return names;
}

std::vector<std::string> Host::commandNames() const {
    std::vector<std::string> names;
    for (const auto& c : m_impl->commands) names.push_back(c.name);
    return names;
}

// ---------------------------------------------------------------- facade: plug-in commands
bool Host::hasPluginCommand(const std::string& name) const {
    return m_impl->hasPluginCommandName(name);
}

Host::CommandOutcome Host::runPluginCommand(const std::string& name,
                                            const std::vector<std::string>& args) {
    Impl& h = *m_impl;
    CommandOutcome outcome;
    auto it = std::find_if(h.commands.begin(), h.commands.end(),
                           [&](const CommandDef& c) { return c.name == name; });
    if (it == h.commands.end()) {
        outcome.error = "no command '" + name + "' is registered";
        return outcome;
    }
    auto holder = std::make_shared<CommandHolder>();
    holder->plugin = it->plugin;
    try {
        holder->command = static_cast<RPxCommand*>(it->creator());
    } catch (...) {
        holder->command = nullptr;
    }
    if (!holder->command) {
        outcome.error = "command '" + name + "' could not be created";
        return outcome;
    }
    std::vector<RString> words(args.begin(), args.end());
    h.resultStack.emplace_back();
    RStatus status;
    try {
        status = holder->command->runCommand(RArgList(std::move(words)));
    } catch (const std::exception& e) {
        status = RStatus(RStatus::kFailure, "command '" + name + "' threw: " + e.what());
    } catch (...) {
        status = RStatus(RStatus::kFailure, "command '" + name + "' threw an unknown exception");
    }
    outcome.result = std::move(h.resultStack.back());
    h.resultStack.pop_back();
    outcome.ok = !status.error();
    if (!outcome.ok) {
        outcome.error = name + ": " + status.errorString().str();
        return outcome;
    }
    bool undoable = false;
    try {
        undoable = holder->command->canUndo();
    } catch (...) {
    }
    if (undoable) {
        h.commandInstances.push_back(holder);
        outcome.undoable = holder;
    }
    return outcome;
}

namespace {
Status replay(const std::shared_ptr<void>& undoable, bool undo) {
    auto holder = std::static_pointer_cast<CommandHolder>(undoable);
    if (!holder)
        return Status::failure("nothing to replay");
    if (!holder->command)
        return Status::failure("the command's plug-in was unloaded");
    RStatus status;
    try {
        status = undo ? holder->command->undoCommand() : holder->command->redoCommand();
    } catch (const std::exception& e) {
        status = RStatus(RStatus::kFailure, std::string("it threw: ") + e.what());
    }
    if (!status)
        return Status::failure(std::string(undo ? "undo" : "redo") +
                               " of a plug-in command failed: " + status.errorString().str());
    return Status{};
}
}  // namespace

Status Host::undoPluginCommand(const std::shared_ptr<void>& undoable) {
    return replay(undoable, true);
}
Status Host::redoPluginCommand(const std::shared_ptr<void>& undoable) {
    return replay(undoable, false);
}

}  // namespace rova::host
