// plugin -load NAME|PATH, plugin -unload NAME [-force], plugin -list
#include "../Command.h"
#include "../Interpreter.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    auto& host = context.host();
    const auto& in = context.in();
    if (in.has("list")) {
        std::string names;
        for (const auto& name : host.pluginNames()) names += (names.empty() ? "" : " ") + name;
        context.result(names);
        return {};
    }
    // Loading and unloading change which node types and commands exist: steps recorded before
    // cannot be replayed against the new set, so the queue starts afresh.
    context.interpreter().undoQueue().clear();
    if (in.has("load"))
        return host.loadPlugin(in.value("load"));
    return host.unloadPlugin(in.value("unload"), in.has("force"));
}

const CommandRegistration registration{{
    .name = "plugin",
    .synopsis = "-load NAME|PATH\n-unload NAME [-force]\n-list",
    .summary = "Load a plug-in by name from the plug-in path or by file path (runs its "
               "initialisation, then its UI creation procedure), unload it (refused while nodes "
               "of its types exist unless -force deletes them first), or print the loaded "
               "plug-ins. Loading and unloading clear the undo queue.",
    .flags = {{.name = "load", .values = 1, .valueName = "NAME|PATH", .help = "load a plug-in"},
              {.name = "unload", .values = 1, .valueName = "NAME", .help = "unload a plug-in"},
              {.name = "force", .help = "with -unload: delete the plug-in's nodes first"},
              {.name = "list", .help = "print the loaded plug-ins in load order"}},
    .validate =
        [](const Invocation& in) {
            const int modes = int(in.has("load")) + int(in.has("unload")) + int(in.has("list"));
            if (modes != 1)
                return host::Status::failure("give one of -load, -unload or -list");
            if (in.has("force") && !in.has("unload"))
                return host::Status::failure("-force goes with -unload");
            return host::Status{};
        },
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
