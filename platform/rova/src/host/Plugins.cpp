// Plug-in libraries: loading, initialising, unloading; plug-in commands run by the host.
#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <sstream>

#include "HostImpl.h"
#include "host/PluginRecords.h"
#include "model/NodeRecords.h"
#include "model/NodeTypes.h"
#include "model/Objects.h"
#include "rova/RGlobal.h"
#include "rovahost/Boundary.h"

using rova::detail::CommandDef;
using rova::detail::CommandHolder;
using rova::detail::NodeType;
using rova::detail::PluginRecord;

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
    if (const auto error =
            guardBoundary("it", [&] { status = plugin->initialize(detail::Access::make(plugin)); }))
        status = RStatus(RStatus::kFailure, *error);
    plugin->loading = false;
    if (!status)
        return Status::failure("initializePlugin of plug-in '" + plugin->name + "' failed (" +
                               status.errorString().str() +
                               "); what it registered stays until it is unloaded");
    plugin->initialized = true;
    if (!plugin->uiCreate.empty() && executor) {
        bool ok = false;
        guardBoundary("UI creation procedure",
                      [&] { ok = executor(plugin->uiCreate, false, false, nullptr); });
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
        guardBoundary("UI deletion procedure",
                      [&] { ok = executor(plugin->uiDelete, false, false, nullptr); });
        if (!ok)
            RGlobal::displayWarning("UI deletion procedure '" + plugin->uiDelete +
                                    "' of plug-in '" + plugin->name + "' failed");
    }
    std::shared_ptr<PluginRecord> keep;
    for (const auto& p : plugins)
        if (p.get() == plugin)
            keep = p;
    RStatus status;
    if (const auto error =
            guardBoundary("it", [&] { status = plugin->uninitialize(detail::Access::make(keep)); }))
        status = RStatus(RStatus::kFailure, *error);
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
    if (std::stol(std::string(version, length)) > detail::kHostApiVersion)
        return refuse("it needs host API " + std::string(version, length) + "; this host offers " +
                      std::to_string(detail::kHostApiVersion));
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
    if (guardBoundary("command creator",
                      [&] { holder->command = static_cast<RPxCommand*>(it->creator()); }))
        holder->command = nullptr;
    if (!holder->command) {
        outcome.error = "command '" + name + "' could not be created";
        return outcome;
    }
    std::vector<RString> words(args.begin(), args.end());
    h.resultStack.emplace_back();
    RStatus status;
    if (const auto error = guardBoundary("command '" + name + "'", [&] {
            status = holder->command->runCommand(RArgList(std::move(words)));
        }))
        status = RStatus(RStatus::kFailure, *error);
    outcome.result = std::move(h.resultStack.back());
    h.resultStack.pop_back();
    outcome.ok = !status.error();
    if (!outcome.ok) {
        outcome.error = name + ": " + status.errorString().str();
        return outcome;
    }
    bool undoable = false;
    guardBoundary("canUndo", [&] { undoable = holder->command->canUndo(); });
    if (undoable) {
        h.commandInstances.push_back(holder);
        outcome.undoable = holder;
    }
    return outcome;
}

Result<Host::PluginCommandHelp> Host::pluginCommandHelp(const std::string& name) {
    Impl& h = *m_impl;
    Result<PluginCommandHelp> out;
    auto it = std::find_if(h.commands.begin(), h.commands.end(),
                           [&](const CommandDef& c) { return c.name == name; });
    if (it == h.commands.end()) {
        out.status = Status::failure("no command '" + name + "' is registered");
        return out;
    }
    out.value.plugin = it->plugin ? it->plugin->name : "";
    CommandHolder holder;
    if (const auto error = guardBoundary(
            "command creator", [&] { holder.command = static_cast<RPxCommand*>(it->creator()); })) {
        out.status = Status::failure(*error);
        return out;
    }
    if (!holder.command) {
        out.status = Status::failure("command '" + name + "' could not be created");
        return out;
    }
    if (const auto error = guardBoundary(
            "command '" + name + "'", [&] { out.value.text = holder.command->helpText().str(); }))
        out.status = Status::failure(*error);
    return out;
}

namespace {
Status replay(const std::shared_ptr<void>& undoable, bool undo) {
    auto holder = std::static_pointer_cast<CommandHolder>(undoable);
    if (!holder)
        return Status::failure("nothing to replay");
    if (!holder->command)
        return Status::failure("the command's plug-in was unloaded");
    RStatus status;
    if (const auto error = guardBoundary("it", [&] {
            status = undo ? holder->command->undoCommand() : holder->command->redoCommand();
        }))
        status = RStatus(RStatus::kFailure, *error);
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
