// Runs arbitrary text as a script through the command language's interpreter against the host,
// as `rova -c TEXT` would, each input from a fresh scene. Whatever parses must print in its
// canonical form and parse back to the same statements.
//
// The harness refuses what would reach outside the run or never end: python(...) (arbitrary
// code), words that hold a path separator (files are made and read only in a scratch folder that
// is the working folder while an input runs, emptied after it), real-time replays, and more than
// a small budget of statements, ticks (play, bake) and mesh sizes. Give libFuzzer an absolute
// -artifact_prefix: a crash is written while the scratch folder is the working folder.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "Command.h"
#include "DeviceChangeReports.h"
#include "Interpreter.h"
#include "Script.h"
#include "rovahost/Host.h"

namespace {

constexpr std::size_t kMaxStatements = 64;

// The largest value each of these flags may have: ticks, mesh sizes, pool depths.
struct FlagBudget {
    std::string_view command;
    std::string_view flag;
    long long most;
};
constexpr FlagBudget kBudgets[] = {
    {"play", "frames", 8},      {"bake", "frames", 8}, {"plane", "divisions", 16},
    {"sphere", "segments", 32}, {"pool", "depth", 16},
};

std::filesystem::path g_scratch;

bool withinBudget(const rova::lang::Statement& statement) {
    if (statement.name == "python")
        return false;
    const auto& words = statement.words;
    for (std::size_t k = 0; k < words.size(); ++k) {
        const auto& word = words[k];
        if (word.text.find_first_of("/\\") != std::string::npos)
            return false;
        if (!word.isFlag())
            continue;
        if (word.text == "realtime")
            return false;
        for (const FlagBudget& budget : kBudgets) {
            if (statement.name != budget.command || word.text != budget.flag ||
                k + 1 >= words.size())
                continue;
            const auto value = rova::lang::parseInteger(words[k + 1].text);
            if (value && *value > budget.most)
                return false;
        }
    }
    return true;
}

bool sameStatement(const rova::lang::Statement& a, const rova::lang::Statement& b) {
    if (a.name != b.name || a.callForm != b.callForm || a.words.size() != b.words.size())
        return false;
    for (std::size_t k = 0; k < a.words.size(); ++k)
        if (a.words[k].kind != b.words[k].kind || a.words[k].text != b.words[k].text)
            return false;
    return true;
}

void emptyScratch() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(g_scratch, ec))
        std::filesystem::remove_all(entry.path(), ec);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // What statements print is not looked at; libFuzzer reports on standard error.
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        std::abort();
    char pattern[] = "/tmp/rova-fuzz-XXXXXX";
    if (!mkdtemp(pattern))
        std::abort();
    g_scratch = pattern;
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(g_scratch, ec);
    });
    // As the program does: the host hears of every change to what the device delivers.
    static rova::app::DeviceChangeReports reports(rova::host::Host::instance());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const rova::lang::Script script = rova::lang::parseScript(text);
    if (script.statements.size() > kMaxStatements)
        return -1;
    for (const auto& statement : script.statements) {
        if (!withinBudget(statement))
            return -1;
        const auto again = rova::lang::parseScript(statement.text(), statement.line);
        if (!again.ok() || again.statements.size() != 1 ||
            !sameStatement(statement, again.statements.front()))
            std::abort();  // the canonical form (messages, undo labels) reads back differently
    }

    const auto home = std::filesystem::current_path();
    std::filesystem::current_path(g_scratch);
    auto& host = rova::host::Host::instance();
    {
        rova::lang::Interpreter interpreter(host);
        interpreter.installExecutor();
        rova::lang::RunOptions options;
        options.printResults = false;
        options.reportErrors = false;
        options.keepGoing = true;
        std::string error;
        options.error = &error;
        if (!interpreter.runText(text, options) && error.empty())
            std::abort();  // a failure always says what failed
        // Back to a fresh scene: faults, tracing and the device first, then what shutdown resets.
        rova::lang::RunOptions quiet;
        quiet.printResults = false;
        quiet.reportErrors = false;
        quiet.keepGoing = true;
        interpreter.runText("fault -clear\ntrace off\ndevice -stop\ntime -fps 24", quiet);
        host.shutdown();
        interpreter.uninstallExecutor();
    }
    std::filesystem::current_path(home);
    emptyScratch();
    return 0;
}
