#include "RovaProcess.h"

#include <unistd.h>

#include <fstream>
#include <random>

#include "RunRova.h"

namespace rova::test {

RovaRun runRova(const RovaOptions& options) {
    const auto run = kivorova::testing::runProgram(ROVA_EXECUTABLE, options.args,
                                                   {.input = options.input, .env = options.env});
    return RovaRun{.status = run.exitCode, .out = run.out, .err = run.err};
}

RovaRun runStatements(const std::string& statements, std::vector<std::string> extraArgs) {
    RovaOptions options;
    options.args = std::move(extraArgs);
    options.args.push_back("-c");
    options.args.push_back(statements);
    return runRova(options);
}

RovaRun runStatementsWithFileSizeLimit(const std::string& statements, std::size_t bytes) {
    const auto run = kivorova::testing::runProgram(
        "/bin/sh",
        {"-c", "trap '' XFSZ; ulimit -f " + std::to_string(bytes / 512) + " && exec \"$0\" \"$@\"",
         ROVA_EXECUTABLE, "-c", statements});
    return RovaRun{.status = run.exitCode, .out = run.out, .err = run.err};
}

TempDir::TempDir() {
    std::random_device random;
    m_path = std::filesystem::temp_directory_path() /
             ("rova-test-" + std::to_string(getpid()) + "-" + std::to_string(random()));
    std::filesystem::create_directories(m_path);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::filesystem::path TempDir::write(const std::string& name, const std::string& text) const {
    const auto file = m_path / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
    return file;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

}  // namespace rova::test
