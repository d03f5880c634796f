// What a user learns about attributes from the program itself: short names wherever long names
// are taken, the attributes command, help for node types, and the program's version.
#include <gtest/gtest.h>

#include <string>

#include "RunRova.h"

namespace {

using kivorova::testing::RovaRun;
using kivorova::testing::runRova;
using kivorova::testing::runRovaStatements;

const std::string kLoad = "plugin -load kivo_rova\n";

// Runs statements that must all succeed and returns what they printed.
std::string output(const std::string& statements) {
    SCOPED_TRACE(statements);
    const RovaRun run = runRovaStatements(statements);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return run.out;
}

// A compound's children have short names too, the compound's short name and a lower-case axis,
// and every command that names a plug takes them: set, get, connect, disconnect, watch.
TEST(ShortNames, ChildrenOfTransformChannelsAreTypedInLowerCase) {
    EXPECT_EQ(output("transform -name n\n"
                     "set n.tx -1; set n.ty 2; set n.tz 3\n"
                     "set n.rx 10; set n.ry 20; set n.rz 30\n"
                     "set n.sx 4; set n.sy 5; set n.sz 6\n"
                     "get n.translate; get n.r; get n.scale; get n.ty"),
              "n\n-1 2 3\n10 20 30\n4 5 6\n2\n");
}

TEST(ShortNames, PlugInCompoundsChildrenAndEveryPlugCommandTakeThem) {
    EXPECT_EQ(output(kLoad + "create timeRotate -name spin; transform -name n\n"
                             "set spin.ti 2; set spin.axisx 1; set spin.irz 5\n"
                             "connect spin.orx n.tx; connect spin.ory n.ry\n"
                             "connections n\n"
                             "watch spin.or; watch -list\n"
                             "get n.tx; get n.ry\n"
                             "disconnect spin.orx n.tx; connections n\n"
                             "create kivoTransform -name hand; set hand.offy 2.5; get hand.off"),
              "spin\nn\n"
              "spin.outputRotateX->n.translateX spin.outputRotateY->n.rotateY\n"
              "spin.outputRotate\n"
              "20\n20\n"
              "spin.outputRotateY->n.rotateY\n"
              "hand\n0 2.5 0\n");
}

TEST(ShortNames, AnUnknownNameIsStillRefusedWithTheNode) {
    const RovaRun run = runRovaStatements("transform -name n; set n.tX 1");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "error: line 1: set: no attribute 'tX' on node 'n' (type transform)\n");
}

TEST(Version, TheProgramSaysWhichVersionItIsAndExitsZero) {
    const RovaRun run = runRova({"--version"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, std::string("rova ") + KIVOROVA_VERSION + "\n");
    EXPECT_EQ(run.err, "");
    const RovaRun help = runRova({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--version"), std::string::npos) << help.out;
}

}  // namespace
