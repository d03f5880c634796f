// python(TEXT), python <<TAG ... TAG, python -file PATH
#include <algorithm>

#include "../Command.h"
#include "../Interpreter.h"
#include "../PythonBridge.h"

namespace rova::lang {
namespace {

host::Status runFile(CommandContext& context, const std::string& file) {
    const auto script = context.interpreter().readScriptFile(file);
    if (!script.ok())
        return script.status;
    return context.interpreter().python().runFile(script.value.path, script.value.text,
                                                  script.value.path.filename().string(), false);
}

host::Status run(CommandContext& context) {
    if (context.in().has("file"))
        return runFile(context, context.in().value("file"));
    // The code's lines are numbered as the script's: a text block's first line is the line after
    // <<TAG, a string's is the line it is on.
    const Statement& statement = context.statement();
    const auto code = std::find_if(statement.words.begin(), statement.words.end(),
                                   [](const Word& word) { return !word.isFlag(); });
    PythonSource source;
    source.code = context.in().args().front();
    const std::string origin = context.interpreter().currentOrigin();
    source.file = origin.empty() ? "<rova>" : origin;
    source.firstLine = code == statement.words.end() ? statement.line : code->line;
    source.ownLine = statement.line;
    return context.interpreter().python().run(source);
}

const CommandRegistration registration{{
    .name = "python",
    .synopsis = "TEXT\n<<TAG (lines of Python, then a line holding only TAG)\n-file PATH",
    .summary = "Run Python code in the host's embedded interpreter: TEXT, the lines of a text "
               "block, or a .py file (module rova: rova.eval, rova.get, rova.ls, rova.exists, "
               "rova.play, rova.bake...); an uncaught exception fails the statement, naming the "
               "file and line where it was raised.",
    .flags = {{.name = "file",
               .values = 1,
               .valueName = "PATH",
               .help = "run a Python file, found on the script path (or by path), in the same "
                       "namespace with __file__ set to it"}},
    .maxArgs = 1,
    .validate =
        [](const Invocation& in) {
            if (in.has("file") == !in.args().empty())
                return host::Status::failure(
                    "give the code (TEXT or a <<TAG text block) or "
                    "-file PATH");
            return host::Status{};
        },
    .details =
        "A text block runs the lines between python <<TAG and a line holding only TAG, less the "
        "indentation they all share; its lines are numbered as the script's, so an error says "
        "the script's line. Code runs in one __main__ namespace for the whole run. rova.get "
        "returns typed values: bool, int (integers, enums), float (floating values, time in "
        "seconds), tuple (a compound of three numbers, a matrix's 16 numbers row by row, an "
        "array's elements), str. rova.play(frames, on_frame=f) and rova.bake(output, frames, "
        "*items, start=None, replay=False, table=None, on_frame=f) call f(frame) after each tick "
        "or frame; an exception in f stops them and goes on as raised. A statement that "
        "rova.eval runs and that fails raises rova.Error (a RuntimeError) with the host's "
        "message. sys.exit(CODE) ends the run with CODE. `rova F.py` runs a Python file as the "
        "program.",
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
