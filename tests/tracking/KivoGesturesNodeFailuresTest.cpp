// Every failure the gestures node reports, each made to happen with the host's `fault` command:
// its registration rows, the set-up of its attributes, and the host calls of its life.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LoadReport.h"
#include "RunRova.h"
#include "SourceLines.h"

namespace {

using kivorova::testing::kLoading;
using kivorova::testing::lineOf;
using kivorova::testing::loadOutput;
using kivorova::testing::occurrences;
using kivorova::testing::runRovaScript;
using kivorova::testing::sourceRoot;

const std::string kRow = "failed to registerNode kivoGesturesNode";
const std::string kType = "kivoGesturesNode";

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// ---------------------------------------------------------------- registration

TEST(KivoGesturesNodeRegistration, FailedRowStopsTheLoadAfterTheTypesBeforeIt) {
    const auto run = runRovaScript(
        "fault registerNode -match kivoGesturesNode\n"
        "plugin -load kivo_rova\n"
        "create timeRotate -name kept\n"
        "create kivoGesturesNode\n",
        {"--keep-going"});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_EQ(run.err.compare(0, (kLoading + kRow + ": ").size(), kLoading + kRow + ": "), 0)
        << run.err;
    EXPECT_FALSE(contains(loadOutput(run.err), "done.")) << run.err;
    EXPECT_EQ(run.out, "kept\n");
}

TEST(KivoGesturesNodeRegistration, FailedDeregistrationIsReportedAndUnloadGoesOn) {
    const auto run = runRovaScript(
        "plugin -load kivo_rova\n"
        "fault deregisterNode -match kivoGesturesNode\n"
        "plugin -unload kivo_rova\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const auto unload = run.err.find("Unregistering Kivo nodes...\n");
    ASSERT_NE(unload, std::string::npos) << run.err;
    const std::string lines = run.err.substr(unload);
    EXPECT_EQ(occurrences(lines, "\nderegisterNode KivoGesturesNode: "), 1u) << lines;
    EXPECT_EQ(lines.substr(lines.size() - 7), " done.\n") << lines;
}

// ---------------------------------------------------------------- set-up of the attributes

// A creation, addition or dependency that fails: the operation's message, then the failed row;
// the load stops there.
using SetupFailure = kivorova::testing::FaultCase;

class GesturesSetupFailure : public ::testing::TestWithParam<SetupFailure> {};

TEST_P(GesturesSetupFailure, ReportsTheOperationAndFailsTheRow) {
    const SetupFailure& c = GetParam();
    const auto run = runRovaScript(c.fault + "\nplugin -load kivo_rova\n");
    EXPECT_NE(run.exitCode, 0);
    const std::string start = kLoading + c.message + ": ";
    EXPECT_EQ(run.err.compare(0, start.size(), start), 0) << "expected start:\n"
                                                          << start << "\ngot:\n"
                                                          << run.err;
    EXPECT_TRUE(contains(run.err, "\n" + kRow + ": ")) << run.err;
    EXPECT_FALSE(contains(loadOutput(run.err), "done.")) << run.err;
    EXPECT_FALSE(contains(run.err, "API error detected")) << run.err;
}

std::vector<SetupFailure> creationFailures() {
    // Every attribute but the nine compounds: a compound's name is part of its children's,
    // which are created before it, so a subject match cannot single it out.
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"scale", "create scale"},
        {"offset", "create offset"},
        {"relativeToCameraRot", "create relativeToCameraRot"},
        {"relativeToCameraPos", "create relativeToCameraPos"},
        {"frameId", "create frameId"},
        {"swipeDuration", "create swipeDuration"},
        {"swipeState", "create swipeState"},
        {"swipeDirectionX", "create swipeDirectionX"},
        {"swipeDirectionY", "create swipeDirectionY"},
        {"swipeDirectionZ", "create swipeDirectionZ"},
        {"swipePositionX", "create swipePositionX"},
        {"swipePositionY", "create swipePositionY"},
        {"swipePositionZ", "create swipePositionZ"},
        {"swipeSpeed", "create swipeSpeed"},
        {"swipeStartPositionX", "create swipeStartPositionX"},
        {"swipeStartPositionY", "create swipeStartPositionY"},
        {"swipeStartPositionZ", "create swipeStartPositionZ"},
        {"circleDuration", "create circleDuration"},
        {"circleState", "create circleState"},
        {"circleCenterX", "create CircleCenterX"},
        {"circleCenterY", "create circleCenterY"},
        {"circleCenterZ", "create circleCenterZ"},
        {"circleNormalX", "create CircleNormalX"},
        {"circleNormalY", "create circleNormalY"},
        {"circleNormalZ", "create circleNormalZ"},
        {"circleProgress", "create circleProgress"},
        {"circleRadius", "create circleRadius"},
        {"screenTapDuration", "create screenTapDuration"},
        {"screenTapState", "create screenTapState"},
        {"screenTapDirectionX", "create screenTapDirectionX"},
        {"screenTapDirectionY", "create screenTapDirectionY"},
        {"screenTapDirectionZ", "create screenTapDirectionZ"},
        {"screenTapPositionX", "create screenTapPositionX"},
        {"screenTapPositionY", "create screenTapPositionY"},
        {"screenTapPositionZ", "create screenTapPositionZ"},
        {"keyTapDuration", "create keyTapDuration"},
        {"keyTapState", "create keyTapState"},
        {"keyTapDirectionX", "create keyTapDirectionX"},
        {"keyTapDirectionY", "create keyTapDirectionY"},
        {"keyTapDirectionZ", "create keyTapDirectionZ"},
        {"keyTapPositionX", "create keyTapPositionX"},
        {"keyTapPositionY", "create keyTapPositionY"},
        {"keyTapPositionZ", "create keyTapPositionZ"},
    };
    std::vector<SetupFailure> cases;
    for (const auto& [attribute, message] : rows) {
        cases.push_back({"fault create -match " + kType + "." + attribute, message});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Create, GesturesSetupFailure, ::testing::ValuesIn(creationFailures()));

std::vector<SetupFailure> additionFailures() {
    std::vector<SetupFailure> cases;
    for (const std::string attribute : {"scale",
                                        "offset",
                                        "relativeToCameraRot",
                                        "relativeToCameraPos",
                                        "frameId",
                                        "swipeDuration",
                                        "swipeState",
                                        "swipeDirection",
                                        "swipePosition",
                                        "swipeSpeed",
                                        "swipeStartPosition",
                                        "circleDuration",
                                        "circleState",
                                        "circleCenter",
                                        "circleNormal",
                                        "circleProgress",
                                        "circleRadius",
                                        "screenTapDuration",
                                        "screenTapState",
                                        "screenTapDirection",
                                        "screenTapPosition",
                                        "keyTapDuration",
                                        "keyTapState",
                                        "keyTapDirection",
                                        "keyTapPosition"}) {
        cases.push_back(
            {"fault addAttribute -match " + kType + "." + attribute, "addAttribute: " + attribute});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AddAttribute, GesturesSetupFailure,
                         ::testing::ValuesIn(additionFailures()));

std::vector<SetupFailure> dependencyFailures() {
    // Subjects use the attributes' names, messages the names of the node's handles.
    std::vector<SetupFailure> cases;
    const std::vector<std::pair<std::string, std::string>> inputs = {
        {"live", "live"},
        {"frameRate", "frameRate"},
        {"scale", "aScale"},
        {"offset", "aOffset"},
        {"relativeToCameraRot", "aRelativeToCamera"},
        {"relativeToCameraPos", "aRelativeToCameraPos"}};
    for (const auto& [name, handle] : inputs) {
        cases.push_back({"fault attributeAffects -match " + kType + "." + name + "->frameId",
                         "attributeAffects:" + handle + "->aFrameId"});
    }
    const std::vector<std::pair<std::string, std::string>> outputs = {
        {"swipeDuration", "aSwipeDuration"},
        {"swipeState", "aSwipeState"},
        {"swipeDirection", "aSwipeDirection"},
        {"swipePosition", "aSwipePosition"},
        {"swipeSpeed", "aSwipeSpeed"},
        {"swipeStartPosition", "aSwipeStartPosition"},
        {"circleDuration", "aCircleDuration"},
        {"circleState", "aCircleState"},
        {"circleCenter", "aCircleCenter"},
        {"circleNormal", "aCircleNormal"},
        {"circleProgress", "aCircleProgress"},
        {"circleRadius", "aCircleRadius"},
        {"screenTapDuration", "aScreenTapDuration"},
        {"screenTapState", "aScreenTapState"},
        {"screenTapDirection", "aScreenTapDirection"},
        {"screenTapPosition", "aScreenTapPosition"},
        {"keyTapDuration", "aKeyTapDuration"},
        {"keyTapState", "aKeyTapState"},
        {"keyTapDirection", "aKeyTapDirection"},
        {"keyTapPosition", "aKeyTapPosition"}};
    for (const auto& [name, handle] : outputs) {
        // The arrow and the end of the subject single out swipePosition from swipeStartPosition.
        cases.push_back({"fault attributeAffects -match " + kType + ".frameId->" + name,
                         "attributeAffects:aFrameId->" + handle});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AttributeAffects, GesturesSetupFailure,
                         ::testing::ValuesIn(dependencyFailures()));

// A flag of an input that cannot be set: reported with the unit and the call's line, and the
// load goes on.
class GesturesConfigureFailure
    : public ::testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(GesturesConfigureFailure, ReportsUnitAndLineThenLoadGoesOn) {
    const auto& [call, attribute] = GetParam();
    const unsigned line = lineOf(sourceRoot() / "tracking" / "KivoGesturesNode.cpp",
                                 call + (call == "setHidden" ? "(false)" : "(true)"),
                                 "RStatus KivoGesturesNode::initializeAttributes()");
    const auto run = runRovaScript("fault " + call + " -match " + kType + "." + attribute +
                                   "\nplugin -load kivo_rova\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::string load = loadOutput(run.err);
    const std::string report = kLoading + "\nAPI error detected in KivoGesturesNode at line " +
                               std::to_string(line) + "\n" + call + " failed for '" + kType + "." +
                               attribute + "' (injected fault)\n";
    EXPECT_EQ(load, report + " done.\n");
}

std::vector<std::pair<std::string, std::string>> inputFlags() {
    std::vector<std::pair<std::string, std::string>> cases;
    for (const std::string attribute :
         {"scale", "offset", "relativeToCameraRot", "relativeToCameraPos"}) {
        for (const std::string call : {"setHidden", "setKeyable", "setStorable"}) {
            cases.emplace_back(call, attribute);
        }
    }
    return cases;
}

std::string flagCaseName(const ::testing::TestParamInfo<std::pair<std::string, std::string>>& c) {
    return c.param.first + "_" + c.param.second;
}

INSTANTIATE_TEST_SUITE_P(Inputs, GesturesConfigureFailure, ::testing::ValuesIn(inputFlags()),
                         flagCaseName);

// ---------------------------------------------------------------- a node's life

// A live node `g` and one frame with a gesture of every type, read through the swipe state.
const std::string kLiveNode =
    "plugin -load kivo_rova\n"
    "create kivoGesturesNode -name g\n"
    "set g.live on\n";

const std::string kEveryGesture =
    "device -inject \"frame 1 t=0"
    "; gesture 1 type=swipe state=start duration=1 hand=0 pointable=0 start=0,0,0 "
    "position=100,200,-50 direction=1,0,0 speed=800"
    "; gesture 2 type=circle state=start duration=1 hand=0 pointable=0 center=20,40,60 "
    "normal=0,0,1 radius=40 progress=1"
    "; gesture 3 type=screen-tap state=start duration=1 hand=0 pointable=0 position=20,40,60 "
    "direction=0,0,-1"
    "; gesture 4 type=key-tap state=start duration=1 hand=0 pointable=0 position=20,40,60 "
    "direction=0,-1,0\"\n";

TEST(KivoGesturesNodeFailures, FailedVectorOutputIsReportedLeftDirtyAndTheRestIsWritten) {
    for (const std::string output :
         {"swipeDirection", "swipePosition", "swipeStartPosition", "circleCenter", "circleNormal",
          "screenTapDirection", "screenTapPosition", "keyTapDirection", "keyTapPosition"}) {
        SCOPED_TRACE(output);
        const auto run = runRovaScript(kLiveNode + kEveryGesture +
                                       "refresh\nfault outputValue -match g." + output +
                                       "\n"
                                       "get g.swipeState\n"
                                       "get g.keyTapState\n"
                                       "evaluate g." +
                                       output + "\n");
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(occurrences(run.err, "Error in block.outputValue: outputValue failed for 'g." +
                                           output + "' (injected fault)\n"),
                  1u)
            << run.err;
        // The evaluation went on and succeeded; the failed output was neither written nor
        // cleaned, so asking for it again computes (and, with no new record, fails).
        EXPECT_EQ(run.out, "g\n1\n1\nevaluate: g." + output +
                               ": status 1, stored value kept, plug left dirty: 0 0 0\n");
    }
}

TEST(KivoGesturesNodeFailures, FailedCameraLookupsAreReportedAndTheEvaluationGoesOn) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"fault active3dView", "Error: R3dView::active3DView: "},
        {"fault getCamera", "Error: R3dView::getCamera: "}};
    for (const auto& [fault, message] : cases) {
        SCOPED_TRACE(fault);
        const auto run =
            runRovaScript(kLiveNode + "set g.relativeToCameraRot on\n" + kEveryGesture +
                          "refresh\n" + fault + "\nget g.swipeState\n");
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(occurrences(run.err, "\n" + message), 1u) << run.err;
        EXPECT_EQ(run.out, "g\n1\n");
    }
}

TEST(KivoGesturesNodeFailures, NodeWithoutAPoolGetsNoData) {
    const auto run = runRovaScript(
        "plugin -load kivo_rova\n"
        "fault createMemoryPools -match g\n"
        "create kivoGesturesNode -name g\n"
        "set g.live on\n" +
        kEveryGesture + "refresh\nevaluate g.swipeState\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "g\nevaluate: g.swipeState: status 1, stored value kept, plug left dirty: -1\n");
}

TEST(KivoGesturesNodeFailures, RefreshAttributeFailureIsIgnored) {
    // Nothing is printed; pushed data shows once something else dirties the outputs.
    const auto run = runRovaScript(
        "plugin -load kivo_rova\n"
        "fault setRefreshOutputAttributes -match g\n"
        "create kivoGesturesNode -name g\n"
        "set g.live on\n" +
        kEveryGesture + "refresh\nset g.scale 0.05\nget g.swipeState\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_FALSE(contains(run.err, "setRefreshOutputAttributes")) << run.err;
    EXPECT_EQ(run.out, "g\n1\n");
}

TEST(KivoGesturesNodeFailures, FrameWhoseSlotWasRefusedComesWithTheNextRecord) {
    // Frame 2's swipe finds no pool slot; frame 3's record, after frame 1 (the last pushed),
    // carries it along with frame 3's own circle.
    const auto run = runRovaScript(
        kLiveNode +
        "device -inject \"frame 1 t=0\"\n"
        "refresh\nget g.swipeState\n"
        "fault acquireDataStorage -match g -times -1\n"
        "device -inject \"frame 2 t=10000; gesture 1 type=swipe state=start duration=1 hand=0 "
        "pointable=0 start=0,0,0 position=1,2,3 direction=1,0,0 speed=800\"\n"
        "refresh\nevaluate g.swipeState\n"
        "set g.live off\nfault -clear\n"
        "device -inject \"frame 3 t=20000; gesture 2 type=circle state=start duration=1 hand=0 "
        "pointable=0 center=0,0,0 normal=0,0,1 radius=40 progress=1\"\n"
        "set g.live on\nrefresh\nget g.swipeState\nget g.circleState\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "g\n-1\nevaluate: g.swipeState: status 1, stored value kept, plug left dirty: -1\n"
              "1\n1\n");
}

}  // namespace
