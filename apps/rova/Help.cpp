#include "Help.h"

#include <algorithm>
#include <sstream>

namespace rova::lang {
namespace {

constexpr size_t kWidth = 100;

}  // namespace

std::string wrap(const std::string& text, const std::string& indent) {
    std::istringstream words(text);
    std::string word;
    std::string out;
    std::string line = indent;
    while (words >> word) {
        if (line.size() > indent.size() && line.size() + 1 + word.size() > kWidth) {
            out += line + "\n";
            line = indent;
        }
        if (line.size() > indent.size())
            line += ' ';
        line += word;
    }
    if (line.size() > indent.size())
        out += line + "\n";
    return out;
}

namespace {

std::string forms(const CommandDefinition& definition) {
    std::string out;
    size_t start = 0;
    for (;;) {
        const size_t end = definition.synopsis.find('\n', start);
        const std::string form = definition.synopsis.substr(start, end - start);
        out += "  " + definition.name + (form.empty() ? "" : " " + form) + "\n";
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return out;
}

}  // namespace

std::string commandReference() {
    std::string out = "Commands:\n";
    for (const CommandDefinition* definition : allCommands())
        out += forms(*definition) + wrap(definition->summary, "      ");
    out += "\n" +
           wrap(
               "Any other name runs a command registered by a loaded plug-in (with its words as "
               "typed, its result printed as one line) or, failing that, the script procedure "
               "NAME.rova found on the script path.",
               "");
    return out;
}

std::string commandHelp(const CommandDefinition& definition) {
    std::string out = forms(definition) + wrap(definition.summary, "      ");
    for (const FlagDefinition& flag : definition.flags) {
        std::string head = "  -" + flag.name;
        if (flag.values == 1)
            head += flag.optionalValue ? " [" + flag.valueName + "]" : " " + flag.valueName;
        out += head + "\n" + wrap(flag.help, "      ");
    }
    if (!definition.details.empty())
        out += wrap(definition.details, "  ");
    return out;
}

std::string attributeTypeText(const host::Host::AttributeInfo& attribute) {
    std::string text = attribute.type;
    for (const auto& [field, value] : attribute.fields)
        text += " " + field + "=" + std::to_string(value);
    return attribute.array ? text + "[]" : text;
}

namespace {

std::string flagsText(const host::Host::AttributeInfo& attribute) {
    std::vector<std::string> flags;
    if (attribute.keyable)
        flags.emplace_back("keyable");
    if (attribute.hidden)
        flags.emplace_back("hidden");
    if (!attribute.storable)
        flags.emplace_back("not storable");
    if (!attribute.writable)
        flags.emplace_back("read-only");
    if (!attribute.readable)
        flags.emplace_back("not readable");
    if (!attribute.connectable)
        flags.emplace_back("not connectable");
    if (!attribute.parent.empty())
        flags.push_back("child of " + attribute.parent);
    std::string text;
    for (const auto& flag : flags) text += (text.empty() ? "" : ", ") + flag;
    return text.empty() ? "-" : text;
}

std::string defaultText(const host::Host::AttributeInfo& attribute) {
    if (attribute.defaultValue.kind == host::PlugValue::Kind::kNone)
        return "-";
    const std::string text = host::formatValue(attribute.defaultValue);
    return text.empty() ? "\"\"" : text;
}

}  // namespace

std::string attributeTable(const host::Host::NodeTypeInfo& type,
                           const std::optional<std::vector<std::string>>& values) {
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"attribute", "short", "type", "role", "flags", "default"});
    if (values)
        rows.front().emplace_back("value");
    for (std::size_t k = 0; k < type.attributes.size(); ++k) {
        const auto& attribute = type.attributes[k];
        rows.push_back({attribute.longName, attribute.shortName, attributeTypeText(attribute),
                        attribute.output ? "output" : "input", flagsText(attribute),
                        defaultText(attribute)});
        if (values)
            rows.back().push_back(k < values->size() ? (*values)[k] : "-");
    }
    // Every column but the last is padded, so a long value (a matrix) widens nothing.
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows)
        for (std::size_t c = 0; c + 1 < row.size(); ++c)
            widths[c] = std::max(widths[c], row[c].size());
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size())
                line += std::string(widths[c] - row[c].size(), ' ') + " | ";
        }
        out += line + "\n";
    }
    return out;
}

std::string languageSummary() {
    return "Statements are separated by ';' or line ends; '//' starts a comment. A statement is a "
           "command name followed by flags (-name, some with values) and arguments: words, "
           "numbers, node.attribute plugs, double-quoted strings with C escapes and text blocks "
           "(<<TAG ending a line, then lines up to one holding only TAG); or the call "
           "form name(arg, ...). Every statement is checked before any runs; a failing statement "
           "changes nothing, prints \"error: line N: COMMAND: what was expected\" and stops the "
           "run (unless --keep-going).";
}

}  // namespace rova::lang
