// kivoSenseController -help and the host's help for the command: both show the command's flags,
// and asking for them changes none of the command's answers or refusals.
#include <gtest/gtest.h>

#include <string>

#include "RunRova.h"

namespace {

using kivorova::testing::RovaRun;
using kivorova::testing::runRovaStatements;

const std::string kLoaded = "Registering Kivo nodes... done.\n";
const std::string kUnloaded = "Unregistering Kivo nodes...\n done.\n";

RovaRun runAfterLoading(const std::string& statements) {
    return runRovaStatements("plugin -load kivo_rova\n" + statements);
}

TEST(ControllerCommandHelp, HelpFlagDescribesEveryFlag) {
    const RovaRun run = runAfterLoading("kivoSenseController -help");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, kLoaded + kUnloaded);
    EXPECT_EQ(run.out.rfind("  kivoSenseController -connected | -focus | -config KEY | -help\n", 0),
              0u)
        << run.out;
    for (const char* flag :
         {"\n  -connected\n", "\n  -focus\n", "\n  -config KEY\n", "\n  -help\n"})
        EXPECT_NE(run.out.find(flag), std::string::npos) << flag;
    // Matched without regard to case, and words after it are ignored, like -connected.
    const RovaRun loud = runAfterLoading("kivoSenseController -HeLP -config x y");
    EXPECT_EQ(loud.exitCode, 0) << loud.err;
    EXPECT_EQ(loud.out, run.out);
}

// help in the host shows what the command itself describes.
TEST(ControllerCommandHelp, HostHelpShowsTheCommandsOwnDescription) {
    const RovaRun own = runAfterLoading("kivoSenseController -help");
    const RovaRun help = runAfterLoading("help kivoSenseController");
    EXPECT_EQ(help.exitCode, 0) << help.err;
    EXPECT_EQ(help.err, kLoaded + kUnloaded);
    EXPECT_EQ(help.out, own.out);
    EXPECT_NE(help.out.find("-config KEY"), std::string::npos);
}

// Near misses of -help are refused as before, with the command's own message.
TEST(ControllerCommandHelp, OtherWordsAreStillUnknownArguments) {
    for (const std::string statement :
         {"kivoSenseController -hel", "kivoSenseController help", "kivoSenseController --help"}) {
        SCOPED_TRACE(statement);
        const RovaRun run = runAfterLoading(statement);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, kLoaded + "error: Unknown argument.\n" +
                               "error: line 2: kivoSenseController: failure\n" + kUnloaded);
    }
}

}  // namespace
