// trace on|off [-dirty] [-compute] [-connect] [-disconnect] [-create] [-delete] [-error]
#include <iostream>
#include <set>

#include "../Command.h"
#include "../Interpreter.h"

namespace rova::lang {
namespace {

const char* const kKinds[] = {"dirty",  "compute", "connect", "disconnect",
                              "create", "delete",  "error"};

const char* kindName(host::GraphEvent::Kind kind) {
    switch (kind) {
        case host::GraphEvent::kDirty:
            return "dirty";
        case host::GraphEvent::kCompute:
            return "compute";
        case host::GraphEvent::kConnect:
            return "connect";
        case host::GraphEvent::kDisconnect:
            return "disconnect";
        case host::GraphEvent::kCreate:
            return "create";
        case host::GraphEvent::kDelete:
            return "delete";
        case host::GraphEvent::kError:
            return "error";
    }
    return "?";
}

// One tracer per program; trace on replaces its kinds. It lives in a static, so it unregisters
// itself when static destruction reaches it: the host must never call into a destroyed tracer.
struct Tracer {
    int observer = -1;
    std::set<std::string> kinds;

    Tracer() = default;
    Tracer(const Tracer&) = delete;
    Tracer& operator=(const Tracer&) = delete;
    ~Tracer() {
        if (observer >= 0)
            host::Host::instance().removeObserver(observer);
    }
};

Tracer& tracer() {
    static Tracer instance;
    return instance;
}

host::Status run(CommandContext& context) {
    auto& host = context.host();
    const auto& in = context.in();
    Tracer& t = tracer();
    if (t.observer >= 0) {
        host.removeObserver(t.observer);
        t.observer = -1;
    }
    if (!*parseSwitch(in.args().front()))
        return {};
    t.kinds.clear();
    for (const char* kind : kKinds)
        if (in.has(kind))
            t.kinds.insert(kind);
    if (t.kinds.empty())
        t.kinds.insert(std::begin(kKinds), std::end(kKinds));
    t.observer = host.addObserver([](const host::GraphEvent& event) {
        const char* kind = kindName(event.kind);
        if (!tracer().kinds.count(kind))
            return;
        std::cout << "trace: " << kind << ' ' << event.plug;
        if (!event.other.empty())
            std::cout << ' ' << event.other;
        std::cout << '\n';
    });
    return {};
}

CommandDefinition definition() {
    CommandDefinition s{
        .name = "trace",
        .synopsis =
            "on|off [-dirty] [-compute] [-connect] [-disconnect] [-create] [-delete] [-error]",
        .summary =
            "Print graph events on standard output as they happen, one line each: "
            "\"trace: KIND PLUG [OTHER]\" (dirty and compute name the plug; connect and "
            "disconnect the source and destination; create and delete the node and its "
            "type). Flags choose kinds; none means all.",
        .minArgs = 1,
        .maxArgs = 1,
        .argKinds = {ValueKind::kSwitch},
        .run = run,
    };
    for (const char* kind : kKinds)
        s.flags.push_back({.name = kind, .help = std::string("trace ") + kind + " events"});
    return s;
}

const CommandRegistration registration{definition()};

}  // namespace
}  // namespace rova::lang
