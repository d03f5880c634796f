// delete N...
#include <algorithm>
#include <memory>

#include "../Command.h"
#include "../Interpreter.h"
#include "rovahost/Scene.h"

namespace rova::lang {
namespace {

// Re-creates nodes and then every connection they had: restoring them one by one would miss
// connections between two of them.
host::Status restoreAll(host::Host& host, const std::vector<host::NodeSnapshot>& snapshots) {
    for (const auto& snapshot : snapshots) {
        host::NodeSnapshot alone = snapshot;
        alone.connectionsIn.clear();
        alone.connectionsOut.clear();
        if (host::Status status = host.restoreNode(alone); !status)
            return status;
    }
    const auto existing = host.connections();
    for (const auto& snapshot : snapshots) {
        for (const auto* list : {&snapshot.connectionsIn, &snapshot.connectionsOut}) {
            for (const auto& connection : *list) {
                if (std::find(existing.begin(), existing.end(), connection) != existing.end())
                    continue;
                const auto now = host.connections();
                if (std::find(now.begin(), now.end(), connection) != now.end())
                    continue;
                if (host::Status status = host.connect(connection.first, connection.second);
                    !status)
                    return status;
            }
        }
    }
    return {};
}

host::Status run(CommandContext& context) {
    auto& host = context.host();
    const auto& names = context.in().args();
    // Check everything first: a statement that fails changes nothing.
    for (const auto& name : names)
        if (!host.hasNode(name))
            return host::Status::failure("no node named '" + name + "'");
    for (size_t i = 0; i < names.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (names[i] == names[j])
                return host::Status::failure("node '" + names[i] + "' named twice");
    // A transform takes its shapes and children along: undo restores them, parents first.
    std::vector<std::string> affected;
    for (const auto& name : names)
        for (const auto& node : host::scene::subtree(name))
            if (std::find(affected.begin(), affected.end(), node) == affected.end())
                affected.push_back(node);
    auto snapshots = std::make_shared<std::vector<host::NodeSnapshot>>();
    for (const auto& name : affected) {
        auto snapshot = host.snapshotNode(name);
        if (!snapshot.ok())
            return snapshot.status;
        snapshots->push_back(std::move(snapshot.value));
    }
    // Undo puts the connections back in the order `connections` listed them before.
    const auto order = std::make_shared<const std::vector<std::pair<std::string, std::string>>>(
        host.connections());
    for (const auto& snapshot : *snapshots) {
        if (!host.hasNode(snapshot.name))
            continue;  // deleted with a transform above it
        if (host::Status status = host.deleteNode(snapshot.name); !status) {
            std::vector<host::NodeSnapshot> deleted;
            for (const auto& s : *snapshots)
                if (!host.hasNode(s.name))
                    deleted.push_back(s);
            restoreAll(host, deleted);
            return status;
        }
    }
    context.recordUndo(
        context.statement().text(),
        [&host, snapshots, order] {
            host::Status status = restoreAll(host, *snapshots);
            host.reorderConnections(*order);
            return status;
        },
        [&host, snapshots] {
            for (const auto& snapshot : *snapshots)
                if (host.hasNode(snapshot.name))
                    if (host::Status status = host.deleteNode(snapshot.name); !status)
                        return status;
            return host::Status{};
        });
    return {};
}

const CommandRegistration registration{{
    .name = "delete",
    .synopsis = "N...",
    .summary = "Delete nodes and their connections (a node's data thread is stopped and joined "
               "first); a transform takes its shapes and the transforms below it along.",
    .minArgs = 1,
    .maxArgs = -1,
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
