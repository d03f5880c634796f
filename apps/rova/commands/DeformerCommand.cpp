// deformer TYPE MESH... [-name N]
#include <memory>
#include <optional>

#include "../Command.h"
#include "../Interpreter.h"
#include "rovahost/Deformers.h"
#include "rovahost/Scene.h"

namespace rova::lang {
namespace {

// What a deformed shape's inMesh was before: its own geometry, or the plug connected into it.
struct ShapeBefore {
    std::string inMesh;
    host::PlugValue value;
    std::string source;
};

host::Status run(CommandContext& context) {
    auto& host = context.host();
    const auto& in = context.in();
    const std::vector<std::string> meshes(in.args().begin() + 1, in.args().end());
    std::vector<ShapeBefore> before;
    for (const auto& mesh : meshes) {
        const auto shape = host::scene::shapeOf(mesh, host::scene::ShapeType::kMesh);
        if (!shape.ok())
            return shape.status;
        ShapeBefore was{shape.value + ".inMesh", {}, {}};
        const auto stored = host.storedPlug(was.inMesh);
        if (!stored.ok())
            return stored.status;
        was.value = stored.value;
        for (const auto& [from, to] : host.connections(shape.value))
            if (to == was.inMesh)
                was.source = from;
        before.push_back(std::move(was));
    }
    if (auto named = checkNameFlag(in); !named)
        return named;
    const auto made = host::scene::addDeformer(in.args().front(), meshes, in.value("name"));
    if (!made.ok())
        return made.status;
    const std::string name = made.value;
    // Undo deletes the deformer (its connections go with it) and gives each shape back what it
    // had; redo takes the shapes' sources off again and restores the deformer as undo found it.
    auto snapshot = std::make_shared<host::NodeSnapshot>();
    context.recordUndo(
        context.statement().text(),
        [&host, name, snapshot, before] {
            auto taken = host.snapshotNode(name);
            if (!taken.ok())
                return taken.status;
            *snapshot = taken.value;
            if (host::Status status = host.deleteNode(name); !status)
                return status;
            for (const auto& was : before) {
                host::Status status = was.source.empty() ? host.setPlugValue(was.inMesh, was.value)
                                                         : host.connect(was.source, was.inMesh);
                if (!status)
                    return status;
            }
            return host::Status{};
        },
        [&host, snapshot, before] {
            for (const auto& was : before)
                if (!was.source.empty())
                    if (host::Status status = host.disconnect(was.source, was.inMesh); !status)
                        return status;
            return host.restoreNode(*snapshot);
        });
    context.result(name);
    return {};
}

const CommandRegistration registration{{
    .name = "deformer",
    .synopsis = "TYPE MESH... [-name N]",
    .summary =
        "Create a deformer of TYPE (a type registered as a deformer) and put it between each "
        "mesh's geometry and what the mesh shows, the k-th mesh as the deformer's geometry "
        "k; print its name.",
    .flags = {{.name = "name", .values = 1, .valueName = "N", .help = "the deformer's name"}},
    .minArgs = 2,
    .maxArgs = -1,
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
