// Undo and connections with the plug-in's own node types: values, connections and deleted nodes
// come back exactly.
#include <gtest/gtest.h>

#include "RunRova.h"
#include "ScriptValues.h"

namespace rova::test {

using namespace kivorova::testing;
namespace {

RovaRun withPlugin(const std::string& statements, std::vector<std::string> extra = {}) {
    auto run = runRovaStatements("plugin -load kivo_rova\n" + statements, std::move(extra));
    return run;
}

TEST(PluginNodes, SetIsUndoneToTheExactEarlierValue) {
    const auto run = withPlugin(
        "create timeRotate -name t\n"
        "set t.scale 0.1\nset t.axis 1 -2 3.5\nset t.sc 1e-300\n"
        "get t.scale\nundo\nget t.scale\nundo\nget t.axis\nundo\nget t.scale\n"
        "redo\nredo\nget t.axis\nget t.scale\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "t\n1e-300\n0.1\n0 1 0\n10\n1 -2 3.5\n0.1\n");
}

TEST(PluginNodes, ConnectAndDisconnectAreUndone) {
    const auto run = withPlugin(
        "create timeRotate -name t\nset t.time 5\n"
        "connect sceneTime.time t.time\ntime -seconds 2\nget t.time\nconnections t\n"
        "undo\nundo\nconnections\nget t.time\n"
        "redo\nredo\nget t.time\ndisconnect sceneTime.time "
        "t.time\nconnections\nundo\nconnections\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "t\n2\nsceneTime.time->t.time\n\n5\n2\n\nsceneTime.time->t.time\n");
}

TEST(PluginNodes, DeletedNodesComeBackWithValuesAndConnections) {
    const auto run = withPlugin(
        "create timeRotate -name a; create timeRotate -name b\n"
        "set a.scale 3; set a.axis 0 1 0\n"
        "connect sceneTime.time a.time\nconnect a.outputRotate b.initialRotate\n"
        "time -seconds 2\nget b.initialRotate\n"
        "delete a\nls\nconnections\nundo\nls\nconnections\nget a.scale\nget b.initialRotate\n"
        "redo\nls\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const auto out = linesOf(run.out);
    ASSERT_EQ(out.size(), 10u) << run.out;
    const std::string rotated = out[2];
    EXPECT_EQ(out[3], "sceneTime b");
    EXPECT_EQ(out[4], "");
    EXPECT_EQ(out[5], "sceneTime a b") << "back at its place in creation order";
    EXPECT_EQ(out[6], "sceneTime.time->a.time a.outputRotate->b.initialRotate");
    EXPECT_EQ(out[7], "3");
    EXPECT_EQ(out[8], rotated);
    EXPECT_EQ(out[9], "sceneTime b");
}

TEST(PluginNodes, ValuesAnAttributeCannotHoldAreRefused) {
    const auto run = withPlugin(
        "create kivoGrabNode -name g\nplane -name p\ndeformer kivoDeformer p -name d\n"
        "set g.distanceGrab 1e300\nset g.dg -3.5e38\nget g.distanceGrab\n"
        "set g.dg 3.4028234e38\nget g.dg\n"
        "set d.deformType 32767\nset d.dt -1\nset d.dt 3\nget d.deformType\n"
        "set d.dt 2\nget d.dt\nset d.dt pushPull\nget d.dt\nundo\nundo\nget d.dt\n",
        {"--keep-going"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "g\np\nd\n2\n3.4028234663852886e+38\n1\n2\n0\n1\n");
    const std::string floatRange =
        " is out of range (expected a number a float holds, at most 3.4028234663852886e+38 in "
        "size)\n";
    const std::string fields =
        " is not a field of the enum (fields: 0 (pushPull), 1 (push), 2 "
        "(pull))\n";
    std::string errors;  // without the plug-in's load and unload lines
    for (const auto& line : linesOf(run.err))
        if (line.rfind("error: ", 0) == 0)
            errors += line + "\n";
    EXPECT_EQ(errors, "error: line 5: set: cannot set 'g.distanceGrab': '1e+300'" + floatRange +
                          "error: line 6: set: cannot set 'g.distanceGrab': '-3.5e+38'" +
                          floatRange + "error: line 10: set: cannot set 'd.deformType': '32767'" +
                          fields + "error: line 11: set: cannot set 'd.deformType': '-1'" + fields +
                          "error: line 12: set: cannot set 'd.deformType': '3'" + fields);
}

TEST(PluginNodes, AGrabNodeDeletedMidGrabComesBackHoldingNothing) {
    // The fingers close on the box and open a little (held until they open beyond 3); the node is
    // deleted while it holds the box. Undo brings back a node that holds nothing and says so,
    // until the fingers close again.
    const auto run = withPlugin(
        "cube -name box -size 2\ncreate kivoGrabNode -name g\n"
        "set g.finger2 1.5 0 0; set g.finger1 -1.5 0 0\nget g.grabObject\n"
        "set g.finger2 2.25 0 0; set g.finger1 -2.25 0 0\nget g.grabObject\n"
        "delete g\nundo\nget g.grabObject\n"
        "set g.finger2 2.25 0.5 0; set g.finger1 -2.25 0.5 0\nget g.grabObject\n"
        "set g.finger2 1.5 0 0; set g.finger1 -1.5 0 0\nget g.grabObject\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "box\ng\nbox\nbox\nnull\nnull\nbox\n");
}

TEST(PluginNodes, UnloadIsRefusedWhileNodesExistUnlessForced) {
    const auto run = withPlugin(
        "create timeRotate -name spin\nplugin -unload kivo_rova\nls\n"
        "plugin -unload kivo_rova -force\nls\nplugin -list\n",
        {"--keep-going"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "spin\nsceneTime spin\nsceneTime\n\n");
    EXPECT_NE(run.err.find("error: line 3: plugin: cannot unload plug-in 'kivo_rova': nodes of "
                           "its types exist: spin\n"),
              std::string::npos)
        << run.err;
}

TEST(PluginNodes, HostSideHandlerRunsThroughPython) {
    const auto run = withPlugin(
        "python(\"import kivoHandler\"); python(\"kivoHandler.kivoSenseSetEnabled(True);\")\n"
        "python(\"import kivoHandler\"); python(\"kivoHandler.kivoSenseSetEnabled(False);\")\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
}

}  // namespace
}  // namespace rova::test
