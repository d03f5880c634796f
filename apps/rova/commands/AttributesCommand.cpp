// attributes N | -type T
#include "../Command.h"
#include "../Help.h"
#include "../Interpreter.h"

namespace rova::lang {
namespace {

// A node's value as it is stored (nothing is evaluated: asking must not run a compute, which for
// a device node would take a record), marked when it waits for an evaluation.
std::string valueText(host::Host& host, const std::string& node,
                      const host::Host::AttributeInfo& attribute) {
    if (attribute.type == "compound")
        return "-";  // its values are its children's
    const std::string plug = node + "." + attribute.longName;
    auto value = host.storedPlug(plug);
    if (!value.ok())
        return "-";
    std::string text;
    if (value.value.kind == host::PlugValue::Kind::kArray) {
        const std::size_t count = value.value.elements.size();
        text = std::to_string(count) + (count == 1 ? " element" : " elements");
    } else if (value.value.kind == host::PlugValue::Kind::kNone) {
        return "-";
    } else {
        text = host::formatValue(value.value);
        if (text.empty() && value.value.kind == host::PlugValue::Kind::kString)
            text = "\"\"";
    }
    const auto dirty = host.isDirty(plug);
    return dirty.ok() && dirty.value ? text + " (dirty)" : text;
}

host::Status run(CommandContext& context) {
    auto& host = context.host();
    const auto& args = context.in().args();
    const bool ofNode = !args.empty();
    std::string typeName = context.in().value("type");
    if (ofNode) {
        auto type = host.nodeType(args.front());
        if (!type.ok())
            return type.status;
        typeName = type.value;
    }
    auto info = host.nodeTypeInfo(typeName);
    if (!info.ok())
        return info.status;
    std::optional<std::vector<std::string>> values;
    if (ofNode) {
        values.emplace();
        for (const auto& attribute : info.value.attributes)
            values->push_back(valueText(host, args.front(), attribute));
    }
    std::string table = attributeTable(info.value, values);
    table.pop_back();  // the result is printed as one line
    context.result(table);
    return {};
}

const CommandRegistration registration{{
    .name = "attributes",
    .synopsis = "N\n-type T",
    .summary = "Print the attributes of node N (or of node type T), one a line after a header: "
               "long and short name, type, role (input, or output: computed by the node), flags, "
               "default and, for a node, its stored value (not evaluated; '(dirty)' when an "
               "evaluation is due).",
    .flags = {{.name = "type",
               .values = 1,
               .valueName = "T",
               .help = "a registered node type (see help T)"}},
    .maxArgs = 1,
    .validate =
        [](const Invocation& in) {
            if (in.has("type") && !in.args().empty())
                return host::Status::failure("give a node N or -type T, not both");
            if (!in.has("type") && in.args().empty())
                return host::Status::failure("give a node N or -type T");
            return host::Status{};
        },
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
