// pool -type T [-order newest|oldest] [-depth N]
#include "../Command.h"
#include "../Interpreter.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    auto& host = context.host();
    const auto& in = context.in();
    const std::string type = in.value("type");
    if (!in.has("order")) {
        const auto [order, depth] = host.poolOrder(type);
        context.result(order == host::PoolOrder::kOldest ? "oldest " + std::to_string(depth)
                                                         : std::string("newest"));
        return {};
    }
    const bool oldest = in.value("order") == "oldest";
    const long long depth = in.has("depth") ? *parseInteger(in.value("depth")) : 2;
    if (depth < 1)
        return host::Status::failure("-depth must be at least 1, got " + in.value("depth"));
    return host.setPoolOrder(type, oldest ? host::PoolOrder::kOldest : host::PoolOrder::kNewest,
                             static_cast<std::size_t>(depth));
}

const CommandRegistration registration{{
    .name = "pool",
    .synopsis = "-type T [-order newest|oldest] [-depth N]",
    .summary = "Choose which pushed record the compute of threaded device nodes of type T gets: "
               "the newest (the default; older unread records are dropped) or the oldest first "
               "(each record once, at most N waiting, default 2; the data thread is refused a "
               "slot while N wait). Applies to existing nodes of T at once; without -order, "
               "prints the type's order. Not undoable.",
    .flags = {{.name = "type", .values = 1, .valueName = "T", .help = "the node type"},
              {.name = "order",
               .values = 1,
               .valueName = "newest|oldest",
               .help = "which record compute gets"},
              {.name = "depth",
               .values = 1,
               .kind = ValueKind::kInteger,
               .valueName = "N",
               .help = "oldest first: records that may wait"}},
    .validate =
        [](const Invocation& in) {
            if (!in.has("type"))
                return host::Status::failure("-type is required");
            if (in.has("order") && in.value("order") != "newest" && in.value("order") != "oldest")
                return host::Status::failure("-order is newest or oldest, not '" +
                                             in.value("order") + "'");
            if (in.has("depth") && in.value("order") != "oldest")
                return host::Status::failure("-depth goes with -order oldest");
            return host::Status{};
        },
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
