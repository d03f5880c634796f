// help [COMMAND], help TYPE
#include <iostream>

#include "../Command.h"
#include "../Help.h"
#include "../Interpreter.h"

namespace rova::lang {
namespace {

std::string typeHelp(const host::Host::NodeTypeInfo& type) {
    const std::string origin =
        type.plugin.empty() ? "of the host" : "registered by plug-in " + type.plugin;
    return type.name + ": a " + type.kind + " type " + origin + " (create " + type.name +
           " [-name N]; attributes N lists a node's values)\n" + attributeTable(type);
}

// A plug-in command describes itself through its helpText; nothing of it runs, so asking about
// a command that acts on its words (or on none) changes nothing.
std::string pluginCommandHelp(host::Host& host, const std::string& name) {
    auto help = host.pluginCommandHelp(name);
    if (help.ok() && !help.value.text.empty()) {
        std::string text = help.value.text;
        if (text.back() != '\n')
            text += '\n';
        return text;
    }
    const std::string origin =
        help.value.plugin.empty() ? "a plug-in" : "plug-in " + help.value.plugin;
    return name + ": a command registered by " + origin + "; it gives no description" +
           (help.ok() ? "" : " (" + help.status.message + ")") + "\n";
}

host::Status run(CommandContext& context) {
    const auto& args = context.in().args();
    if (args.empty()) {
        std::cout << commandReference();
        return {};
    }
    const std::string& name = args.front();
    auto& host = context.host();
    auto type = host.nodeTypeInfo(name);
    if (const CommandDefinition* definition = findCommand(name)) {
        std::cout << commandHelp(*definition);
        if (type.ok())
            std::cout << name << " is also a node type: attributes -type " << name
                      << " lists its attributes\n";
        return {};
    }
    if (host.hasPluginCommand(name)) {
        std::cout << pluginCommandHelp(host, name);
        return {};
    }
    if (type.ok()) {
        std::cout << typeHelp(type.value);
        return {};
    }
    return host::Status::failure("no command or node type named '" + name + "'");
}

const CommandRegistration registration{{
    .name = "help",
    .synopsis = "[COMMAND]\nTYPE",
    .summary = "Print the command reference, one command's usage and flags (for a plug-in "
               "command, the description it gives), or a node type's attributes.",
    .maxArgs = 1,
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
