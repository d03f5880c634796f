// fault CALL [-match TEXT] [-times N], fault -clear, fault -list
#include "../Command.h"
#include "../Interpreter.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    auto& host = context.host();
    const auto& in = context.in();
    if (in.has("clear")) {
        host.clearFaults();
        return {};
    }
    if (in.has("list")) {
        std::string line;
        for (const auto& call : host.faultCalls()) line += (line.empty() ? "" : " ") + call;
        context.result(line);
        return {};
    }
    const int times = in.has("times") ? static_cast<int>(*parseInteger(in.value("times"))) : 1;
    if (times == 0 || times < -1)
        return host::Status::failure("-times must be a positive count or -1 (always), got " +
                                     in.value("times"));
    return host.armFault(in.args().front(), in.value("match"), times);
}

const CommandRegistration registration{{
    .name = "fault",
    .synopsis = "CALL [-match TEXT] [-times N]\n-clear\n-list",
    .summary = "Make the next host API call named CALL fail (N times, -1 for every time until "
               "cleared), optionally only calls whose subject (type, command, attribute or "
               "node.attribute) contains TEXT; -clear disarms every fault; -list prints the call "
               "names.",
    .flags =
        {{.name = "match", .values = 1, .valueName = "TEXT", .help = "subject must contain TEXT"},
         {.name = "times",
          .values = 1,
          .kind = ValueKind::kInteger,
          .valueName = "N",
          .help = "how many calls fail (default 1; -1: all)"},
         {.name = "clear", .help = "disarm every fault"},
         {.name = "list", .help = "print the call names fault accepts"}},
    .maxArgs = 1,
    .validate =
        [](const Invocation& in) {
            const bool arming = !in.args().empty();
            if (in.has("clear") + in.has("list") + arming != 1)
                return host::Status::failure("give a CALL, -clear or -list");
            if (!arming && (in.has("match") || in.has("times")))
                return host::Status::failure("-match and -times go with a CALL");
            return host::Status{};
        },
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
