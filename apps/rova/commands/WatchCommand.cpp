// watch PLUG [-off], watch -list
#include "../Command.h"
#include "../Interpreter.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    auto& host = context.host();
    const auto& in = context.in();
    if (in.has("list")) {
        std::string line;
        for (const auto& plug : host.watchedPlugs()) line += (line.empty() ? "" : " ") + plug;
        context.result(line);
        return {};
    }
    return host.watch(in.args().front(), !in.has("off"));
}

const CommandRegistration registration{{
    .name = "watch",
    .synopsis = "PLUG [-off]\n-list",
    .summary = "Have every refresh evaluate PLUG, as a displayed plug would be (-off stops it); "
               "-list prints the watched plugs.",
    .flags = {{.name = "off", .help = "stop watching PLUG"},
              {.name = "list", .help = "print the watched plugs"}},
    .maxArgs = 1,
    .validate =
        [](const Invocation& in) {
            if (in.has("list") == !in.args().empty())
                return host::Status::failure("give a PLUG or -list");
            if (in.has("list") && in.has("off"))
                return host::Status::failure("-off goes with a PLUG");
            return host::Status{};
        },
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
