// Fault injection: every call that `fault -list` names fails when armed, as seen through a script
// that makes the call. A point that no code checks could not pass, and one added without a
// script here fails the table check.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "RunRova.h"
#include "TempDir.h"

namespace rova::test {

using namespace kivorova::testing;
namespace {

// What makes each call: the real plug-in for registration and its nodes' set-up, the tests' probe
// plug-in for the calls the real nodes leave out.
const std::map<std::string, std::string> kScriptFor = {
    {"registerNode", "plugin -load kivo_rova"},
    {"deregisterNode", "plugin -load kivo_rova\nplugin -unload kivo_rova"},
    {"registerCommand", "plugin -load kivo_rova"},
    {"deregisterCommand", "plugin -load kivo_rova\nplugin -unload kivo_rova"},
    {"registerUI", "plugin -load kivo_rova"},
    {"create", "plugin -load kivo_rova"},
    {"setKeyable", "plugin -load kivo_rova"},
    {"setStorable", "plugin -load kivo_rova"},
    {"setHidden", "plugin -load kivo_rova"},
    {"setWritable", "plugin -load kivo_rova"},
    {"setReadable", "plugin -load rova_probe"},
    {"setConnectable", "plugin -load rova_probe"},
    {"setArray", "plugin -load rova_probe"},
    {"setDefault", "plugin -load kivo_rova"},
    {"addField", "plugin -load rova_probe"},
    {"addAttribute", "plugin -load kivo_rova"},
    {"attributeAffects", "plugin -load kivo_rova"},
    {"setRefreshOutputAttributes", "plugin -load kivo_rova\ncreate realTime"},
    {"createMemoryPools",
     "plugin -load kivo_rova\ncreate realTime -name r\nset r.live on\nset r.live off"},
    {"acquireDataStorage",
     "plugin -load rova_probe\ncreate probeThreaded -name p\nset p.live on\nset p.live off"},
    {"outputValue", "plugin -load rova_probe\ncreate probeNode -name p\nget p.out"},
    {"outputArrayValue", "plugin -load rova_probe\ncreate probeNode -name p\nget p.outs"},
    {"jumpToElement", "plugin -load rova_probe\ncreate probeNode -name p\nget p.outs"},
    {"active3dView", "plugin -load rova_probe\nprobeView"},
    {"getCamera", "plugin -load rova_probe\ncamera -name c\nview -camera c\nprobeView"},
    {"intersect", "cube -name c\nintersect -from 0 0 5 -direction 0 0 -1 c"},
};

std::vector<std::string> listedPoints() {
    const auto run = runRovaStatements("fault -list");
    std::istringstream words(run.out);
    std::vector<std::string> points;
    for (std::string word; words >> word;) points.push_back(word);
    return points;
}

RovaRun runWithProbe(const std::string& statements) {
    TempDir scripts;  // the probe's UI procedures
    scripts.write("probeCreateUI.rova", "\n");
    scripts.write("probeDeleteUI.rova", "\n");
    return runRovaStatements(statements, {"--keep-going", "--plugin-path", ROVA_PROBE_PLUGIN_DIR,
                                          "--script-path", scripts.path().string()});
}

TEST(FaultPoints, EveryListedPointHasAScriptAndNothingElseIsListed) {
    const auto points = listedPoints();
    ASSERT_FALSE(points.empty());
    for (const auto& point : points) EXPECT_TRUE(kScriptFor.count(point)) << point;
    EXPECT_EQ(points.size(), kScriptFor.size());
    const auto unknown = runRovaStatements("fault active3DView");
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_NE(unknown.err.find("unknown fault call 'active3DView'"), std::string::npos);
}

TEST(FaultPoints, EveryPointFiresWhenArmed) {
    for (const auto& point : listedPoints()) {
        const auto it = kScriptFor.find(point);
        if (it == kScriptFor.end())
            continue;  // reported by the table check
        const auto armed = runWithProbe("fault " + point + " -times -1\n" + it->second);
        EXPECT_NE(armed.err.find(point + " failed for '"), std::string::npos)
            << point << " did not fire:\n"
            << armed.err;
        const auto clean = runWithProbe(it->second);
        EXPECT_EQ(clean.err.find("(injected fault)"), std::string::npos) << point << clean.err;
    }
}

}  // namespace
}  // namespace rova::test
