// delete N...
#include <algorithm>
#include <memory>

#include "../Command.h"
#include "../Interpreter.h"
#include "rovahost/Scene.h"

namespace rova::lang {
namespace {

// Re-creates nodes and then every connection they had, each at its old place in connection order:
// restoring them one by one would miss connections between two of them.
host::Status restoreAll(host::Host& host, const std::vector<host::NodeSnapshot>& snapshots) {
    for (const auto& snapshot : snapshots) {
        host::NodeSnapshot alone = snapshot;
        alone.connectionsIn.clear();
        alone.connectionsOut.clear();
        alone.placesIn.clear();
        alone.placesOut.clear();
        if (host::Status status = host.restoreNode(alone); !status)
            return status;
    }
    for (const auto& snapshot : snapshots) {
        const auto lists = {std::pair{&snapshot.connectionsIn, &snapshot.placesIn},
                            std::pair{&snapshot.connectionsOut, &snapshot.placesOut}};
        for (const auto& [connections, places] : lists) {
            for (std::size_t k = 0; k < connections->size(); ++k) {
                const auto& [source, destination] = (*connections)[k];
                if (host.connectionPlace(source, destination) != 0)
                    continue;  // made already, from the other end
                const std::uint64_t place =
                    places->size() == connections->size() ? (*places)[k] : 0;
                if (host::Status status = host.connect(source, destination, place); !status)
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
        context.statement().text(), [&host, snapshots] { return restoreAll(host, *snapshots); },
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
