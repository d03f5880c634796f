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

// The whole listing of one type: every attribute with its short name, type, role, flags and
// default, children after their compound.
const std::string kTimeRotateTable =
    "attribute      | short | type    | role   | flags                                          | "
    "default\n"
    "scale          | sc    | double  | input  | keyable                                        | "
    "10\n"
    "time           | ti    | double  | input  | -                                              | "
    "0\n"
    "axis           | axis  | double3 | input  | keyable                                        | "
    "0 1 0\n"
    "axisX          | axisx | double  | input  | keyable, child of axis                         | "
    "0\n"
    "axisY          | axisy | double  | input  | keyable, child of axis                         | "
    "1\n"
    "axisZ          | axisz | double  | input  | keyable, child of axis                         | "
    "0\n"
    "initialRotate  | ir    | double3 | input  | keyable                                        | "
    "0 0 0\n"
    "initialRotateX | irx   | double  | input  | keyable, child of initialRotate                | "
    "0\n"
    "initialRotateY | iry   | double  | input  | keyable, child of initialRotate                | "
    "0\n"
    "initialRotateZ | irz   | double  | input  | keyable, child of initialRotate                | "
    "0\n"
    "outputRotate   | or    | double3 | output | not storable, read-only                        | "
    "0 0 0\n"
    "outputRotateX  | orx   | double  | output | not storable, read-only, child of outputRotate | "
    "0\n"
    "outputRotateY  | ory   | double  | output | not storable, read-only, child of outputRotate | "
    "0\n"
    "outputRotateZ  | orz   | double  | output | not storable, read-only, child of outputRotate | "
    "0\n";

TEST(AttributesCommand, ListsATypesAttributesWithTheirDefaults) {
    EXPECT_EQ(output(kLoad + "attributes -type timeRotate"), kTimeRotateTable);
}

// A node's listing adds the stored values; asking evaluates nothing (a device node's compute
// would take a record), so a value waiting for an evaluation is marked.
TEST(AttributesCommand, ShowsANodesStoredValuesWithoutEvaluatingThem) {
    const std::string out =
        output(kLoad +
               "create timeRotate -name spin; set spin.ti 2; set spin.axis 1 0 0\n"
               "trace on -compute; attributes spin; trace off\n"
               "get spin.orx; attributes spin");
    const auto first = out.find("attribute ");
    const auto second = out.find("attribute ", first + 1);
    ASSERT_NE(second, std::string::npos) << out;
    const std::string before = out.substr(first, out.find("20\n", first) - first);
    const std::string after = out.substr(second);
    EXPECT_EQ(out.find("trace:"), std::string::npos) << out;
    EXPECT_NE(before.find("\ntime           | ti    | double  | input  | -  "), std::string::npos)
        << before;
    EXPECT_NE(before.find("| 0 1 0   | 1 0 0\n"), std::string::npos) << before;
    EXPECT_NE(before.find("| 0 0 0   | 0 0 0 (dirty)\n"), std::string::npos) << before;
    EXPECT_NE(after.find("| 0 0 0   | 20 0 0\n"), std::string::npos) << after;
    EXPECT_EQ(after.find("(dirty)"), std::string::npos) << after;
}

TEST(AttributesCommand, ShowsEnumsArraysAndStrings) {
    const std::string out = output(kLoad +
                                   "cube -name c; deformer kivoDeformer c -name d\n"
                                   "create kivoGrabNode -name g\n"
                                   "attributes d; attributes -type kivoGrabNode");
    EXPECT_NE(out.find("\ndeformType         | dt         | enum pushPull=0 push=1 pull=2  | "
                       "input  | keyable                 | 1 "),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\ninputGeom          | ig         | mesh[]  "), std::string::npos) << out;
    EXPECT_NE(out.find("| child of input          | -                               | 1 element\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\ngrabObject         | go    | string  | output | -   "), std::string::npos)
        << out;
}

TEST(AttributesCommand, RefusalsSayWhatIsWrong) {
    const auto refused = [](const std::string& statement, const std::string& message) {
        SCOPED_TRACE(statement);
        const RovaRun run = runRovaStatements(statement);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "error: line 1: attributes: " + message + "\n");
    };
    refused("attributes", "give a node N or -type T (usage: attributes N | attributes -type T)");
    refused("transform -name n; attributes n -type transform",
            "give a node N or -type T, not both (usage: attributes N | attributes -type T)");
    refused("attributes nosuch", "no node named 'nosuch'");
    refused("attributes -type nosuch",
            "no node type named 'nosuch' (types: time, transform, mesh, camera, "
            "decomposeMatrix)");
}

// help answers for node types too, with the same table; a command that is also a type (time,
// transform) says so.
TEST(HelpForTypes, ANodeTypesHelpIsItsAttributeTable) {
    EXPECT_EQ(output(kLoad + "help timeRotate"),
              "timeRotate: a dependency node type registered by plug-in kivo_rova (create "
              "timeRotate [-name N]; attributes N lists a node's values)\n" +
                  kTimeRotateTable);
    const std::string mesh = output("help mesh");
    EXPECT_EQ(mesh.rfind("mesh: a dependency node type of the host (create mesh [-name N];", 0), 0u)
        << mesh;
    EXPECT_NE(mesh.find("\ninMesh "), std::string::npos) << mesh;
    const std::string time = output("help time");
    EXPECT_NE(time.find("  -fps [R]\n"), std::string::npos) << time;
    EXPECT_NE(time.find("\ntime is also a node type: attributes -type time lists its attributes\n"),
              std::string::npos)
        << time;
    const RovaRun unknown = runRovaStatements("help nosuch");
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_EQ(unknown.err, "error: line 1: help: no command or node type named 'nosuch'\n");
}

// A plug-in command that gives no description is not run to find one: help for the probe's
// counter leaves the count alone.
TEST(HelpForPluginCommands, ACommandWithoutADescriptionIsNotRun) {
    const RovaRun run = runRova({"--plugin-path", ROVA_PROBE_PLUGIN_DIR, "-c",
                                 "plugin -load rova_probe; help probeCount; probeCount"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "probeCount: a command registered by plug-in rova_probe; it gives no description\n"
              "1\n");
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
