// The grab node under injected host failures: it reports nothing and goes on, as its set-up and
// evaluation examine no status. Each case proves the fault fired by what it left behind.
#include <gtest/gtest.h>

#include <string>

#include "LoadReport.h"
#include "RunRova.h"
#include "ScriptValues.h"

namespace {

using kivorova::testing::complaints;
using kivorova::testing::linesOf;
using kivorova::testing::runRovaScript;

TEST(KivoGrabNodeFaults, SetUpFailuresAreSilentAndLeaveTheAttributeOut) {
    for (const std::string call : {"create", "addAttribute"}) {
        const auto run = runRovaScript("fault " + call + " -match kivoGrabNode.finger2\n" +
                                       "plugin -load kivo_rova\ncreate kivoGrabNode -name g\n" +
                                       "get g.finger2\n");
        EXPECT_EQ(run.exitCode, 1) << call;
        EXPECT_NE(run.err.find(": line 4: get: no attribute 'finger2'"), std::string::npos)
            << call << run.err;
        EXPECT_EQ(run.err.find("(injected fault)"), std::string::npos) << call << run.err;
        EXPECT_EQ(run.err.find("KivoGrabNode"), std::string::npos) << call << run.err;
    }
}

TEST(KivoGrabNodeFaults, AFailedOutputHandleOrRayQueryIsSilentAndTheRestGoesOn) {
    const std::string scene =
        "plugin -load kivo_rova\ncube -name box -size 2\ncreate kivoGrabNode -name g\n"
        "set g.grabEnabled off\nset g.finger2 1.5 0 0\n";
    const auto output = runRovaScript(scene + "fault outputValue -match g.intersectObject\n" +
                                      "set g.finger1 -1.5 0 0\nget g.intersectObject\nget "
                                      "g.distance1\n");
    ASSERT_EQ(output.exitCode, 0) << output.err;
    EXPECT_EQ(complaints(output.err), "");
    auto lines = linesOf(output.out);
    ASSERT_EQ(lines.size(), 4u) << output.out;
    EXPECT_EQ(lines[2], "null");  // not written
    EXPECT_EQ(lines[3], "0.5");   // written

    const auto ray = runRovaScript(scene + "fault intersect -match boxShape -times -1\n" +
                                   "set g.finger1 -1.5 0 0\nget g.intersectObject\nget "
                                   "g.distance1\nget g.intersection1\n");
    ASSERT_EQ(ray.exitCode, 0) << ray.err;
    EXPECT_EQ(complaints(ray.err), "");
    lines = linesOf(ray.out);
    ASSERT_EQ(lines.size(), 5u) << ray.out;
    EXPECT_EQ(lines[2], "null");  // the mesh gave no candidate
    EXPECT_EQ(lines[3], "0");
    EXPECT_EQ(lines[4], "0 0 0");
}

}  // namespace
