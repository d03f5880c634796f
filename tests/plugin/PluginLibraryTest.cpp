// The plug-in as a shared library: what it exports and what the exports hold.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "RunRova.h"

namespace {

using kivorova::testing::pluginLibrary;
using kivorova::testing::runProgram;

TEST(PluginLibrary, ExportsOnlyTheEntryPointsAndTheApiVersion) {
    const auto run = runProgram("/usr/bin/nm", {"-D", "--defined-only", pluginLibrary().string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;

    std::set<std::string> symbols;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        // "ADDRESS TYPE NAME"
        const auto lastSpace = line.find_last_of(' ');
        if (lastSpace != std::string::npos) {
            symbols.insert(line.substr(lastSpace + 1));
        }
    }
    EXPECT_EQ(symbols,
              (std::set<std::string>{"RApiVersion", "initializePlugin", "uninitializePlugin"}))
        << run.out;
}

TEST(PluginLibrary, ApiVersionIsTheHostApiItWasBuiltAgainst) {
    void* library = ::dlopen(pluginLibrary().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    const auto* version = static_cast<const char*>(::dlsym(library, "RApiVersion"));
    ASSERT_NE(version, nullptr);
    EXPECT_STREQ(version, "201400");
    EXPECT_NE(::dlsym(library, "initializePlugin"), nullptr);
    EXPECT_NE(::dlsym(library, "uninitializePlugin"), nullptr);
    ::dlclose(library);
}

}  // namespace
