#include "Command.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <memory>

#include "Interpreter.h"
#include "rovahost/NumberText.h"

namespace rova::lang {
namespace {

std::map<std::string, CommandDefinition>& registry() {
    static std::map<std::string, CommandDefinition> commands;
    return commands;
}

const char* kindName(ValueKind kind) {
    switch (kind) {
        case ValueKind::kNumber:
            return "a number";
        case ValueKind::kInteger:
            return "an integer";
        case ValueKind::kSwitch:
            return "on or off";
        case ValueKind::kText:
            break;
    }
    return "a value";
}

// Why text is not a value of the kind, or nothing when it is: a word of another kind, or a number
// that is not finite or out of range ("'nan' is not a finite number").
struct Misfit {
    bool otherKind = true;
    std::string reason;  // for numbers that are not finite or out of range
};
std::optional<Misfit> misfit(ValueKind kind, const std::string& text) {
    host::NumberError error = host::NumberError::kNone;
    switch (kind) {
        case ValueKind::kNumber:
            error = host::parseFiniteNumber(text).error;
            break;
        case ValueKind::kInteger:
            error = host::parseInteger(text).error;
            break;
        case ValueKind::kSwitch:
            if (!parseSwitch(text))
                return Misfit{};
            break;
        case ValueKind::kText:
            break;
    }
    if (error == host::NumberError::kNone)
        return std::nullopt;
    if (error == host::NumberError::kNotANumber)
        return Misfit{};
    return Misfit{false, host::describeNumberError(error, text, kindName(kind))};
}

std::string flagList(const CommandDefinition& definition) {
    std::string out;
    for (size_t i = 0; i < definition.flags.size(); ++i) {
        if (i)
            out += i + 1 == definition.flags.size() ? " or " : ", ";
        out += "-" + definition.flags[i].name;
    }
    return out;
}

}  // namespace

const std::vector<std::string>& Invocation::values(const std::string& flag) const {
    static const std::vector<std::string> none;
    auto it = m_flags.find(flag);
    return it == m_flags.end() ? none : it->second;
}

std::string Invocation::value(const std::string& flag, const std::string& fallback) const {
    const auto& v = values(flag);
    return v.empty() ? fallback : v.front();
}

std::optional<double> parseNumber(const std::string& text) {
    const auto number = host::parseFiniteNumber(text);
    return number ? std::optional<double>(number.value) : std::nullopt;
}

std::optional<long long> parseInteger(const std::string& text) {
    const auto integer = host::parseInteger(text);
    return integer ? std::optional<long long>(integer.value) : std::nullopt;
}

std::optional<bool> parseSwitch(const std::string& text) {
    std::string lower;
    for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "on" || lower == "true" || lower == "yes" || lower == "1")
        return true;
    if (lower == "off" || lower == "false" || lower == "no" || lower == "0")
        return false;
    return std::nullopt;
}

host::Result<Invocation> bind(const CommandDefinition& definition, const Statement& statement) {
    host::Result<Invocation> out;
    Invocation& in = out.value;
    auto fail = [&](const std::string& message) {
        out.status = host::Status::failure(message + " (usage: " + usageOf(definition) + ")");
        return out;
    };
    const auto& words = statement.words;
    for (size_t i = 0; i < words.size(); ++i) {
        const Word& word = words[i];
        in.m_raw.push_back(word.isFlag() ? "-" + word.text : word.text);
        if (!word.isFlag() || definition.flagsAreWords) {
            in.m_args.push_back(word.text);
            continue;
        }
        auto flag = std::find_if(definition.flags.begin(), definition.flags.end(),
                                 [&](const FlagDefinition& f) { return f.name == word.text; });
        if (flag == definition.flags.end()) {
            if (definition.flags.empty())
                return fail("takes no flags, got -" + word.text);
            return fail("unknown flag -" + word.text + ", expected " + flagList(definition));
        }
        if (in.m_flags.count(flag->name))
            return fail("flag -" + flag->name + " given twice");
        auto& values = in.m_flags[flag->name];
        for (int v = 0; v < flag->values; ++v) {
            const bool present = i + 1 < words.size() && !words[i + 1].isFlag();
            if (flag->optionalValue && !present)
                break;
            if (!present) {
                std::string what = "-" + flag->name + " expects " +
                                   (flag->values > 1 ? std::to_string(flag->values) + " values"
                                                     : std::string(kindName(flag->kind)));
                if (!flag->valueName.empty())
                    what += " (" + flag->valueName + ")";
                return fail(what);
            }
            const Word& value = words[++i];
            in.m_raw.push_back(value.text);
            if (const auto why = misfit(flag->kind, value.text))
                return fail("-" + flag->name +
                            (why->otherKind ? std::string(" expects ") + kindName(flag->kind) +
                                                  ", got '" + value.text + "'"
                                            : ": " + why->reason));
            values.push_back(value.text);
        }
    }
    const int count = static_cast<int>(in.m_args.size());
    if (count < definition.minArgs)
        return fail("missing arguments");
    if (definition.maxArgs >= 0 && count > definition.maxArgs) {
        if (definition.maxArgs == 0)
            return fail("takes no arguments, got '" + in.m_args.front() + "'");
        return fail("too many arguments, got '" +
                    in.m_args[static_cast<size_t>(definition.maxArgs)] + "'");
    }
    for (size_t a = 0; a < definition.argKinds.size() && a < in.m_args.size(); ++a)
        if (const auto why = misfit(definition.argKinds[a], in.m_args[a]))
            return fail(why->otherKind
                            ? std::string("expected ") + kindName(definition.argKinds[a]) +
                                  ", got '" + in.m_args[a] + "'"
                            : why->reason);
    if (definition.validate) {
        host::Status status = definition.validate(in);
        if (!status)
            return fail(status.message);
    }
    return out;
}

Invocation bindRaw(const Statement& statement) {
    Invocation in;
    for (const Word& word : statement.words) {
        in.m_raw.push_back(word.isFlag() ? "-" + word.text : word.text);
        in.m_args.push_back(in.m_raw.back());
    }
    return in;
}

host::Host& CommandContext::host() {
    return m_interpreter.host();
}

void CommandContext::result(const std::string& line) {
    m_interpreter.emitResult(line);
}

void CommandContext::recordUndo(std::string label, std::function<host::Status()> undo,
                                std::function<host::Status()> redo) {
    m_interpreter.undoQueue().record({std::move(label), std::move(undo), std::move(redo)});
}

const CommandDefinition* findCommand(const std::string& name) {
    auto it = registry().find(name);
    return it == registry().end() ? nullptr : &it->second;
}

std::vector<const CommandDefinition*> allCommands() {
    std::vector<const CommandDefinition*> out;
    for (const auto& [name, definition] : registry()) out.push_back(&definition);
    return out;
}

std::string usageOf(const CommandDefinition& definition) {
    std::string out;
    size_t start = 0;
    for (;;) {
        const size_t end = definition.synopsis.find('\n', start);
        const std::string form = definition.synopsis.substr(start, end - start);
        if (!out.empty())
            out += " | ";
        out += definition.name;
        if (!form.empty())
            out += " " + form;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return out;
}

CommandRegistration::CommandRegistration(CommandDefinition definition) {
    std::string name = definition.name;
    registry().emplace(std::move(name), std::move(definition));
}

host::Status checkNameFlag(const Invocation& in) {
    return in.has("name") ? host::Host::checkNodeName(in.value("name")) : host::Status{};
}

}  // namespace rova::lang
