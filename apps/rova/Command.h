#pragma once
// The command table. Each command lives in its own source file under commands/ and registers
// itself with one static CommandRegistration; binding checks its flags and arguments before a
// script runs, so a malformed statement anywhere stops the script before anything changes.
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Script.h"
#include "rovahost/Host.h"

namespace rova::lang {

class Interpreter;

enum class ValueKind {
    kText,     // any word or string
    kNumber,   // a floating-point number
    kInteger,  // a decimal integer
    kSwitch,   // on/off, true/false, yes/no, 1/0
};

struct FlagDefinition {
    std::string name{};          // without the '-'
    int values = 0;              // number of values the flag takes
    bool optionalValue = false;  // with values == 1: the value may be left out (a query)
    ValueKind kind = ValueKind::kText;
    std::string valueName{};  // for usage text, e.g. "NAME"
    std::string help{};
};

class Invocation;
class CommandContext;

struct CommandDefinition {
    std::string name{};
    std::string
        synopsis{};  // usage lines after the name, e.g. "PLUG VALUE..." (several joined by '\n')
    std::string summary{};  // one sentence for --help
    std::vector<FlagDefinition> flags{};
    int minArgs = 0;
    int maxArgs = 0;                    // -1: no limit
    std::vector<ValueKind> argKinds{};  // kinds of the leading positional arguments (rest: text)
    // Flag-looking words are positional values (set t.tx -1e3, print("-x")).
    bool flagsAreWords = false;
    // undo and redo step the queue and must not open a step of their own.
    bool opensUndoStep = true;
    // Extra checks at bind time (combinations of flags); failure text is the whole message.
    std::function<host::Status(const Invocation&)> validate{};
    // More about the command, shown by `help NAME` after the flags.
    std::string details{};
    std::function<host::Status(CommandContext&)> run{};
};

// A statement bound to its command: flags with their values, and positional arguments.
class Invocation {
  public:
    bool has(const std::string& flag) const { return m_flags.count(flag) != 0; }
    // The flag's values (empty for a flag without values or a query).
    const std::vector<std::string>& values(const std::string& flag) const;
    std::string value(const std::string& flag, const std::string& fallback = "") const;
    const std::vector<std::string>& args() const { return m_args; }
    // The words as typed, for plug-in commands: flags with '-', strings without quotes.
    const std::vector<std::string>& rawWords() const { return m_raw; }
    std::size_t flagCount() const { return m_flags.size(); }

  private:
    friend host::Result<Invocation> bind(const CommandDefinition&, const Statement&);
    friend Invocation bindRaw(const Statement&);
    std::map<std::string, std::vector<std::string>> m_flags;
    std::vector<std::string> m_args;
    std::vector<std::string> m_raw;
};

// Checks a statement against its command's flags, arguments and value kinds. The failure message
// says what was expected and ends with the usage.
host::Result<Invocation> bind(const CommandDefinition& definition, const Statement& statement);
// Every word unparsed, for commands registered by plug-ins and script procedures.
Invocation bindRaw(const Statement& statement);
// A node-making command's -name, when given, against the naming rule: an empty one is no name to
// make one up for, and is refused as rename refuses it.
host::Status checkNameFlag(const Invocation& in);

// Value checks shared by binding and commands: a finite number and a decimal integer in the
// grammar of rovahost/NumberText.h.
std::optional<double> parseNumber(const std::string& text);
std::optional<long long> parseInteger(const std::string& text);
std::optional<bool> parseSwitch(const std::string& text);

// What a running command sees.
class CommandContext {
  public:
    CommandContext(Interpreter& interpreter, const Statement& statement,
                   const Invocation& invocation)
        : m_interpreter(interpreter), m_statement(statement), m_invocation(invocation) {}
    Interpreter& interpreter() { return m_interpreter; }
    host::Host& host();
    const Statement& statement() const { return m_statement; }
    const Invocation& in() const { return m_invocation; }
    // A query result: one line on standard output, or the caller's result text.
    void result(const std::string& line);
    // Records how to take back and re-apply what the command just did.
    void recordUndo(std::string label, std::function<host::Status()> undo,
                    std::function<host::Status()> redo);

  private:
    Interpreter& m_interpreter;
    const Statement& m_statement;
    const Invocation& m_invocation;
};

// The registry; commands register from static initialisers, so lookups happen after main starts.
const CommandDefinition* findCommand(const std::string& name);
std::vector<const CommandDefinition*> allCommands();  // sorted by name
std::string usageOf(
    const CommandDefinition& definition);  // "set PLUG VALUE..." (one line per form)

struct CommandRegistration {
    explicit CommandRegistration(CommandDefinition definition);
};

}  // namespace rova::lang
