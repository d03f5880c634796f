// connect SRC DST, disconnect SRC DST
#include <optional>

#include "../Command.h"
#include "../Interpreter.h"

namespace rova::lang {
namespace {

// The source currently feeding a destination plug, if any.
std::optional<std::string> sourceOf(host::Host& host, const std::string& destination) {
    const auto canonical = host.canonicalPlug(destination);
    if (!canonical.ok())
        return std::nullopt;
    // The destination's node lists its own connections: the scene's would cost its size.
    const std::string node = canonical.value.substr(0, canonical.value.find('.'));
    for (const auto& [source, target] : host.connections(node))
        if (target == canonical.value)
            return source;
    return std::nullopt;
}

host::Status connect(CommandContext& context) {
    auto& host = context.host();
    const std::string source = context.in().args()[0];
    const std::string destination = context.in().args()[1];
    const auto replaced = sourceOf(host, destination);
    const auto before = host.storedPlug(destination);
    if (host::Status status = host.connect(source, destination); !status)
        return status;
    context.recordUndo(
        context.statement().text(),
        [&host, source, destination, replaced, before] {
            if (host::Status status = host.disconnect(source, destination); !status)
                return status;
            if (replaced)
                return host.connect(*replaced, destination);
            // A destination keeps the last value that flowed in; put back what it held.
            return before.ok() ? host.setPlugValue(destination, before.value) : host::Status{};
        },
        [&host, source, destination, replaced] {
            if (replaced) {
                if (host::Status status = host.disconnect(*replaced, destination); !status)
                    return status;
            }
            return host.connect(source, destination);
        });
    return {};
}

host::Status disconnect(CommandContext& context) {
    auto& host = context.host();
    const std::string source = context.in().args()[0];
    const std::string destination = context.in().args()[1];
    const std::uint64_t place = host.connectionPlace(source, destination);
    if (host::Status status = host.disconnect(source, destination); !status)
        return status;
    context.recordUndo(
        context.statement().text(),
        [&host, source, destination, place] {
            // Back at its place in connection order, which dirtying follows.
            return host.connect(source, destination, place);
        },
        [&host, source, destination] { return host.disconnect(source, destination); });
    return {};
}

const CommandRegistration connectRegistration{{
    .name = "connect",
    .synopsis = "SRC DST",
    .summary = "Connect plug SRC to plug DST (types must match; a DST that is already "
               "connected, and a connection that would close a cycle, are refused).",
    .minArgs = 2,
    .maxArgs = 2,
    .run = connect,
}};

const CommandRegistration disconnectRegistration{{
    .name = "disconnect",
    .synopsis = "SRC DST",
    .summary = "Remove the connection from SRC to DST; DST keeps the last value it received.",
    .minArgs = 2,
    .maxArgs = 2,
    .run = disconnect,
}};

}  // namespace
}  // namespace rova::lang
