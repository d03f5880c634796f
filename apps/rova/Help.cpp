#include "Help.h"

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
    return out;
}

std::string languageSummary() {
    return "Statements are separated by ';' or line ends; '//' starts a comment. A statement is a "
           "command name followed by flags (-name, some with values) and arguments: words, "
           "numbers, node.attribute plugs and double-quoted strings with C escapes; or the call "
           "form name(arg, ...). Every statement is checked before any runs; a failing statement "
           "changes nothing, prints \"error: line N: COMMAND: what was expected\" and stops the "
           "run (unless --keep-going).";
}

}  // namespace rova::lang
