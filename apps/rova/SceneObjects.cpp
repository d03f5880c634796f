#include "SceneObjects.h"

#include <memory>
#include <utility>
#include <vector>

#include "Interpreter.h"

namespace rova::lang {

namespace {
// Deletes what was made (the transform takes its shape along).
void takeBack(host::Host& host, const std::string& transform) {
    if (host.hasNode(transform))
        host.deleteNode(transform);
}

std::string defaultName(host::Host& host, const std::string& base) {
    for (int n = 1;; ++n)
        if (!host.hasNode(base + std::to_string(n)))
            return base + std::to_string(n);
}
}  // namespace

host::Status setTransformTriples(
    CommandContext& context, const std::string& attribute,
    const std::function<host::Result<host::PlugValue>(const std::string& transform,
                                                      const host::PlugValue& before)>& next) {
    auto& host = context.host();
    std::vector<std::pair<std::string, std::string>> objects;  // transform, its plug
    for (const auto& object : context.in().args()) {
        const auto transform = host::scene::transformOf(object);
        if (!transform.ok())
            return transform.status;
        objects.emplace_back(transform.value, transform.value + "." + attribute);
    }
    std::vector<std::pair<host::PlugValue, host::PlugValue>> changes;  // before, after
    for (const auto& [transform, plug] : objects) {
        auto before = host.storedPlug(plug);
        if (!before.ok())
            return before.status;
        for (std::size_t k = 0; k < changes.size(); ++k)
            if (objects[k].second == plug)
                before.value = changes[k].second;
        auto after = next(transform, before.value);
        if (!after.ok())
            return after.status;
        changes.emplace_back(before.value, std::move(after.value));
    }
    for (std::size_t k = 0; k < objects.size(); ++k) {
        const std::string& plug = objects[k].second;
        const auto& [before, after] = changes[k];
        if (host::Status status = host.setPlugValue(plug, after); !status)
            return status;
        context.recordUndo(
            context.statement().text(),
            [&host, plug, value = before] { return host.setPlugValue(plug, value); },
            [&host, plug, value = after] { return host.setPlugValue(plug, value); });
    }
    return {};
}

host::Status createObject(CommandContext& context, const std::string& base,
                          std::optional<host::scene::ShapeType> shape,
                          const host::scene::MeshGeometry* geometry) {
    auto& host = context.host();
    const auto& in = context.in();
    if (auto named = checkNameFlag(in); !named)
        return named;
    const std::string requested = in.has("name") ? in.value("name") : defaultName(host, base);
    auto transform = host::scene::createTransform(requested, in.value("parent"));
    if (!transform.ok())
        return transform.status;
    const std::string name = transform.value;
    if (shape) {
        auto made = host::scene::createShape(name, *shape);
        host::Status status = made.status;
        if (status && geometry)
            status = host::scene::setGeometry(made.value, *geometry);
        if (!status) {
            takeBack(host, name);
            return status;
        }
    }
    // Undo snapshots the object (parents before children) and deletes it; redo re-creates it from
    // those snapshots, names, values and hierarchy as they were.
    auto snapshots = std::make_shared<std::vector<host::NodeSnapshot>>();
    context.recordUndo(
        context.statement().text(),
        [&host, name, snapshots] {
            snapshots->clear();
            for (const auto& node : host::scene::subtree(name)) {
                auto taken = host.snapshotNode(node);
                if (!taken.ok())
                    return taken.status;
                snapshots->push_back(std::move(taken.value));
            }
            return host.deleteNode(name);
        },
        [&host, snapshots] {
            for (const auto& snapshot : *snapshots)
                if (host::Status status = host.restoreNode(snapshot); !status)
                    return status;
            return host::Status{};
        });
    context.result(name);
    return {};
}

host::Result<double> positiveFlag(const Invocation& in, const std::string& flag, double fallback) {
    host::Result<double> out;
    out.value = fallback;
    if (!in.has(flag))
        return out;
    const auto number = parseNumber(in.value(flag));
    if (!number || *number <= 0.0)
        out.status = host::Status::failure("-" + flag + " must be greater than 0, not '" +
                                           in.value(flag) + "'");
    else
        out.value = *number;
    return out;
}

host::Result<int> integerFlag(const Invocation& in, const std::string& flag, int fallback,
                              int minimum, int maximum) {
    host::Result<int> out;
    out.value = fallback;
    if (!in.has(flag))
        return out;
    const auto number = parseInteger(in.value(flag));
    if (!number || *number < minimum || *number > maximum)
        out.status = host::Status::failure(
            "-" + flag + " must be an integer from " + std::to_string(minimum) + " to " +
            std::to_string(maximum) + ", not '" + in.value(flag) + "'");
    else
        out.value = static_cast<int>(*number);
    return out;
}

}  // namespace rova::lang
