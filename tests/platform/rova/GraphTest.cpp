// Dependency-graph semantics: dirty propagation, pull evaluation, connections and their checks.
#include <cstdint>

#include "HostFixture.h"

using rova::host::PlugValue;

namespace {
// The entry points of a builtin plug-in that registers the one node type `Node` names: its
// kPlugin, kTypeName and kId, made by Node::create and Node::initialize.
template <class Node>
RStatus initializeOne(RObject plugin) {
    RFnPlugin fn(plugin, Node::kPlugin, "1");
    return fn.registerNode(Node::kTypeName, RTypeId(Node::kId), Node::create, Node::initialize);
}
template <class Node>
RStatus uninitializeOne(RObject plugin) {
    RFnPlugin fn(plugin);
    return fn.deregisterNode(RTypeId(Node::kId));
}

// More attributes than a node keeps in bits: `input` and `total` lie beyond the first 64, where
// visit marks and evaluation flags are kept apart.
class WideNode : public RPxNode {
  public:
    static constexpr const char* kPlugin = "Wide";
    static constexpr const char* kTypeName = "testWide";
    static constexpr unsigned kId = 0x7e5710;
    static inline RObject input, total;
    static void* create() { return new WideNode(); }
    static RStatus initialize() {
        RFnNumericAttribute numeric;
        for (int k = 0; k < 65; ++k) {
            const std::string name = "pad" + std::to_string(k);
            if (RStatus status = addAttribute(
                    numeric.create(name.c_str(), name.c_str(), RFnNumericData::kDouble, 0.0));
                !status)
                return status;
        }
        input = numeric.create("input", "in", RFnNumericData::kDouble, 1.0);
        total = numeric.create("total", "tot", RFnNumericData::kDouble, 0.0);
        numeric.setWritable(false);
        numeric.setStorable(false);
        for (const RObject* attribute : {&input, &total})
            if (RStatus status = addAttribute(*attribute); !status)
                return status;
        return attributeAffects(input, total);
    }
    RStatus compute(const RPlug& plug, RDataBlock& block) override {
        if (plug != total)
            return RStatus::kUnknownParameter;
        RDataHandle out = block.outputValue(total);
        out.set(block.inputValue(input).asDouble() * 10.0);
        out.setClean();
        return RStatus::kSuccess;
    }
};

// Aligned beyond a cache line, as a node holding vector registers' worth of scratch is: output =
// input * 3, computed through that scratch.
class alignas(128) AlignedNode : public RPxNode {
  public:
    static constexpr const char* kPlugin = "Aligned";
    static constexpr const char* kTypeName = "testAligned";
    static constexpr unsigned kId = 0x7e5712;
    static inline RObject input, output;
    static inline std::vector<const void*> made;  // every node made, in order
    static void* create() {
        auto* node = new AlignedNode();
        made.push_back(node);
        return node;
    }
    static RStatus initialize() {
        RFnNumericAttribute numeric;
        input = numeric.create("input", "in", RFnNumericData::kDouble, 0.0);
        output = numeric.create("output", "out", RFnNumericData::kDouble, 0.0);
        numeric.setWritable(false);
        for (const RObject* attribute : {&input, &output})
            if (RStatus status = addAttribute(*attribute); !status)
                return status;
        return attributeAffects(input, output);
    }
    RStatus compute(const RPlug& plug, RDataBlock& block) override {
        if (plug != output)
            return RStatus::kUnknownParameter;
        for (double& lane : lanes) lane = block.inputValue(input).asDouble();
        RDataHandle out = block.outputValue(output);
        out.set(lanes[0] + lanes[3] + lanes[7]);
        out.setClean();
        return RStatus::kSuccess;
    }
    double lanes[8] = {};
};

// Passes `input` on to `output`, and on the way runs the command "deleteVictims" (what a
// compute that edits the scene through the command language does).
class DeletingNode : public RPxNode {
  public:
    static constexpr const char* kPlugin = "Deleting";
    static constexpr const char* kTypeName = "testDeleting";
    static constexpr unsigned kId = 0x7e5711;
    static inline RObject input, output;
    static void* create() { return new DeletingNode(); }
    static RStatus initialize() {
        RFnNumericAttribute numeric;
        input = numeric.create("input", "in", RFnNumericData::kDouble, 0.0);
        output = numeric.create("output", "out", RFnNumericData::kDouble, 0.0);
        numeric.setWritable(false);
        numeric.setStorable(false);
        for (const RObject* attribute : {&input, &output})
            if (RStatus status = addAttribute(*attribute); !status)
                return status;
        return attributeAffects(input, output);
    }
    RStatus compute(const RPlug& plug, RDataBlock& block) override {
        if (plug != output)
            return RStatus::kUnknownParameter;
        if (RStatus status = RGlobal::executeCommand("deleteVictims"); !status)
            return status;
        RDataHandle out = block.outputValue(output);
        out.set(block.inputValue(input).asDouble());
        out.setClean();
        return RStatus::kSuccess;
    }
};
}  // namespace

TEST_F(HostTest, SettingAnInputDirtiesWhatItAffectsOnceAndGetComputesOnce) {
    create("testAdd", "add1");
    EXPECT_EQ(takeEvents(), Lines({"create add1 testAdd"}));
    EXPECT_EQ(get("add1.sum"), "3");  // outputs start dirty
    EXPECT_EQ(takeEvents(), Lines({"compute add1.sum"}));

    ASSERT_TRUE(host.setPlug("add1.a", {"5"}));
    EXPECT_EQ(takeEvents(), Lines({"dirty add1.sum"}));
    ASSERT_TRUE(host.setPlug("add1.b", {"1"}));
    EXPECT_EQ(takeEvents(), Lines{}) << "an already dirty plug is not dirtied again";
    EXPECT_EQ(get("add1.sum"), "6");
    EXPECT_EQ(get("add1.sum"), "6");
    EXPECT_EQ(takeEvents(), Lines({"compute add1.sum"}));
    EXPECT_EQ(rova_test::AddNode::computeCount, 2);
}

TEST_F(HostTest, AnInputThatAffectsNothingDirtiesNothing) {
    create("testAdd", "add1");
    create("testAdd", "add2");
    ASSERT_TRUE(host.connect("add1.sum", "add2.a"));
    get("add2.sum");
    takeEvents();
    ASSERT_TRUE(host.setPlug("add1.quirk", {"9"}));
    EXPECT_EQ(takeEvents(), Lines{});
    EXPECT_FALSE(host.isDirty("add1.sum").value);
    EXPECT_FALSE(host.isDirty("add2.sum").value);
    EXPECT_EQ(get("add1.quirk"), "9");
}

TEST_F(HostTest, ConnectionsCarryDirtinessDownstreamAndValuesUpstreamOnPull) {
    create("testAdd", "add1");
    create("testAdd", "add2");
    get("add1.sum");
    get("add2.sum");
    takeEvents();

    ASSERT_TRUE(host.connect("add1.sum", "add2.a"));
    EXPECT_EQ(takeEvents(), Lines({"connect add1.sum add2.a", "dirty add2.a", "dirty add2.sum"}));
    EXPECT_EQ(get("add2.sum"), "5");
    EXPECT_EQ(takeEvents(), Lines({"compute add2.sum"}));

    ASSERT_TRUE(host.setPlug("add1.a", {"10"}));
    EXPECT_EQ(takeEvents(), Lines({"dirty add1.sum", "dirty add2.a", "dirty add2.sum"}));
    EXPECT_EQ(get("add2.sum"), "14");
    EXPECT_EQ(takeEvents(), Lines({"compute add2.sum", "compute add1.sum"}));

    ASSERT_TRUE(host.disconnect("add1.sum", "add2.a"));
    EXPECT_EQ(takeEvents(), Lines({"disconnect add1.sum add2.a"}));
    EXPECT_EQ(get("add2.a"), "12") << "a disconnected input keeps the last value that came through";
    EXPECT_TRUE(host.connections().empty());
}

TEST_F(HostTest, CompoundChildrenShareTheirParentsValueAndDependencies) {
    create("testAdd", "add1");
    create("testAdd", "add2");
    EXPECT_EQ(get("add1.offset"), "1 2 3");
    EXPECT_EQ(get("add1.doubled"), "2 4 6");
    takeEvents();
    ASSERT_TRUE(host.setPlug("add1.offsetY", {"5"}));
    EXPECT_EQ(takeEvents(), Lines({"dirty add1.doubled"}));
    EXPECT_EQ(get("add1.off"), "1 5 3");
    EXPECT_EQ(get("add1.doubled"), "2 10 6");

    ASSERT_TRUE(host.connect("add1.doubledY", "add2.a"));
    EXPECT_EQ(get("add2.sum"), "12");
    ASSERT_TRUE(host.setPlug("add1.offset", {"0", "0.5", "0"}));
    EXPECT_EQ(get("add2.sum"), "3");
}

TEST_F(HostTest, ConnectionsAreCheckedAndRefusedWithTheReason) {
    create("testAdd", "add1");
    create("testAdd", "add2");
    create("testAdd", "add3");
    const auto refused = [&](const std::string& src, const std::string& dst) {
        return host.connect(src, dst).message;
    };
    EXPECT_EQ(
        refused("add1.matrixIn", "add2.a"),
        "cannot connect 'add1.matrixIn' to 'add2.a': the types do not match (matrix to double)");
    EXPECT_EQ(
        refused("add1.offset", "add2.a"),
        "cannot connect 'add1.offset' to 'add2.a': the types do not match (double3 to double)");
    EXPECT_EQ(refused("add1.a", "add2.sum"),
              "cannot connect 'add1.a' to 'add2.sum': the destination is not a writable, "
              "connectable plug");
    EXPECT_EQ(refused("add1.sum", "add1.a"),
              "cannot connect 'add1.sum' to 'add1.a': a node cannot feed itself");
    EXPECT_EQ(refused("add1.sum", "nowhere.a"), "cannot connect: no node named 'nowhere'");
    EXPECT_EQ(refused("add1.sum", "add2.scal"),
              "cannot connect: no attribute 'scal' on node 'add2' (type testAdd)");
    ASSERT_TRUE(host.connect("add1.sum", "add2.a"));
    EXPECT_EQ(
        refused("add3.sum", "add2.a"),
        "cannot connect 'add3.sum' to 'add2.a': 'add2.a' is already connected from 'add1.sum'");
    ASSERT_TRUE(host.connect("add1.offset", "add2.offset"));
    EXPECT_EQ(refused("add3.sum", "add2.offsetX"),
              "cannot connect 'add3.sum' to 'add2.offsetX': 'add2.offset' is already connected "
              "from 'add1.offset'");
    EXPECT_EQ(host.setPlug("add2.a", {"1"}).message,
              "cannot set 'add2.a': it is connected from 'add1.sum'");
    EXPECT_EQ(host.setPlug("add2.sum", {"1"}).message,
              "cannot set 'add2.sum': the attribute is not writable");
    EXPECT_EQ(host.disconnect("add3.sum", "add2.a").message,
              "'add3.sum' is not connected to 'add2.a'");
    EXPECT_EQ(host.connections("add3").size(), 0u);
    EXPECT_EQ(host.connections().size(), 2u);
}

TEST_F(HostTest, BrokenComputeIsReportedWithThePlugAndLeavesTheStoredValue) {
    create("testBroken", "broken1");
    create("testAdd", "add1");

    auto thrown = host.getPlug("broken1.throws");
    EXPECT_FALSE(thrown.ok());
    EXPECT_EQ(thrown.status.message, "compute of 'broken1.throws' threw: kaput");
    EXPECT_TRUE(host.isDirty("broken1.throws").value);
    EXPECT_EQ(rova::host::formatValue(host.storedPlug("broken1.throws").value), "7");

    // Failure: the stored value serves and the plug stays dirty, so the next read tries again.
    takeEvents();
    EXPECT_EQ(get("broken1.fails"), "7");
    EXPECT_EQ(get("broken1.fails"), "7");
    EXPECT_EQ(takeEvents(), Lines({"compute broken1.fails", "compute broken1.fails"}));
    EXPECT_TRUE(host.isDirty("broken1.fails").value);

    // "Not computed here": the stored value serves and becomes clean.
    EXPECT_EQ(get("broken1.declines"), "7");
    EXPECT_EQ(get("broken1.declines"), "7");
    EXPECT_EQ(takeEvents(), Lines({"compute broken1.declines"}));
    ASSERT_TRUE(host.setPlug("broken1.declines", {"3"}));
    EXPECT_EQ(get("broken1.declines"), "3");

    // A throwing upstream compute fails the downstream read, naming the upstream plug.
    ASSERT_TRUE(host.connect("broken1.throws", "add1.a"));
    auto downstream = host.getPlug("add1.sum");
    EXPECT_EQ(downstream.status.message, "compute of 'broken1.throws' threw: kaput");
}

TEST_F(HostTest, ForcedComputeFollowsTheRulesForEachAnswer) {
    create("testBroken", "broken1");
    create("testAdd", "add1");
    ASSERT_TRUE(host.connect("broken1.declines", "add1.a"));
    EXPECT_EQ(get("add1.sum"), "9");
    takeEvents();

    // 5 for a clean plug: the stored value serves and nothing downstream changes.
    auto declined = host.forceCompute("broken1.declines");
    ASSERT_TRUE(declined.ok()) << declined.status.message;
    EXPECT_EQ(declined.value.status, RStatus::kUnknownParameter);
    EXPECT_EQ(rova::host::formatValue(declined.value.value), "7");
    EXPECT_FALSE(declined.value.dirty);
    EXPECT_EQ(takeEvents(), Lines({"compute broken1.declines"}));
    EXPECT_FALSE(host.isDirty("add1.sum").value);

    // 1: the stored value is kept and the plug, with what depends on it, is dirty, so the next
    // read asks again.
    ASSERT_TRUE(host.connect("broken1.fails", "add1.b"));
    EXPECT_EQ(get("add1.sum"), "14");
    takeEvents();
    auto failed = host.forceCompute("broken1.fails");
    ASSERT_TRUE(failed.ok());
    EXPECT_EQ(failed.value.status, RStatus::kFailure);
    EXPECT_EQ(rova::host::formatValue(failed.value.value), "7");
    EXPECT_TRUE(failed.value.dirty);
    EXPECT_EQ(takeEvents(), Lines({"compute broken1.fails", "dirty add1.sum"}))
        << "the failed pull before left broken1.fails and add1.b dirty already";

    // A throw is an answer too: reported, value kept, plug dirty.
    auto thrown = host.forceCompute("broken1.throws");
    ASSERT_TRUE(thrown.ok());
    EXPECT_EQ(thrown.value.status, -1);
    EXPECT_EQ(thrown.value.error, "compute of 'broken1.throws' threw: kaput");
    EXPECT_TRUE(thrown.value.dirty);

    EXPECT_EQ(host.forceCompute("broken1.nothing").status.message,
              "no attribute 'nothing' on node 'broken1' (type testBroken)");
}

TEST_F(HostTest, SceneTimeDrivesWhatIsConnectedToIt) {
    create("testAdd", "add1");
    EXPECT_EQ(host.nodeNames().front(), "sceneTime");
    ASSERT_TRUE(host.connect("sceneTime.time", "add1.a"));
    EXPECT_EQ(get("add1.sum"), "2");
    takeEvents();
    host.setTime(2.5);
    EXPECT_EQ(takeEvents(), Lines({"dirty add1.a", "dirty add1.sum"}));
    EXPECT_EQ(get("add1.sum"), "4.5");
    EXPECT_EQ(get("sceneTime.time"), "2.5");
    EXPECT_EQ(host.setPlug("sceneTime.time", {"1"}).message,
              "cannot set 'sceneTime.time': the attribute is not writable");
    EXPECT_EQ(host.deleteNode("sceneTime").message,
              "node 'sceneTime' belongs to the host and cannot be deleted");
}

TEST_F(HostTest, NodeNamesFollowTheRuleAndTakenNamesGetASuffix) {
    EXPECT_EQ(create("testAdd"), "testAdd1");
    EXPECT_EQ(create("testAdd"), "testAdd2");
    EXPECT_EQ(create("testAdd", "hand"), "hand");
    EXPECT_EQ(create("testAdd", "hand"), "hand1");
    EXPECT_EQ(create("testAdd", "hand1"), "hand2");
    for (const std::string bad : {"a;print(\"x\")", "1abc", "a b", "a.b", "a\nb", "-x"}) {
        auto made = host.createNode("testAdd", bad);
        EXPECT_FALSE(made.ok()) << bad;
        EXPECT_EQ(made.status.message,
                  "invalid node name '" + bad +
                      "': names use letters, digits and '_' and do not start with a digit");
        EXPECT_FALSE(host.renameNode("hand", bad).ok);
    }
    EXPECT_EQ(host.createNode("noSuchType").status.message, "unknown node type 'noSuchType'");
    ASSERT_TRUE(host.renameNode("hand", "_left_2"));
    EXPECT_EQ(host.renameNode("hand1", "_left_2").message, "a node named '_left_2' already exists");
    EXPECT_EQ(host.nodeNames("testAdd"),
              Lines({"testAdd1", "testAdd2", "_left_2", "hand1", "hand2"}));
}

TEST_F(HostTest, NamesAreAtMostTheLongestLengthAndTheSuffixOfALongOneStaysWithinIt) {
    const std::string longest(rova::host::Host::kMaxNodeNameLength, 'b');
    EXPECT_EQ(create("testAdd", longest), longest);
    // Taken: the number replaces the end of the name rather than making it too long.
    EXPECT_EQ(create("testAdd", longest), longest.substr(0, longest.size() - 1) + "1");
    const std::string tooLong(300, 'a');
    EXPECT_EQ(host.createNode("testAdd", tooLong).status.message,
              "invalid node name '" + tooLong.substr(0, 40) +
                  "...' (300 characters): names are at most 256 characters long");
    EXPECT_EQ(host.renameNode(longest, tooLong).message,
              host.createNode("testAdd", tooLong).status.message);
}

TEST_F(HostTest, AFreedNameGivesItsSuffixBackToTheNextNodeOfItsBase) {
    for (int k = 0; k < 4; ++k) create("testAdd");
    create("testAdd", "hand");
    create("testAdd", "hand");  // hand1
    ASSERT_TRUE(host.deleteNode("testAdd2"));
    EXPECT_EQ(create("testAdd"), "testAdd2");
    ASSERT_TRUE(host.renameNode("testAdd1", "left"));
    ASSERT_TRUE(host.deleteNode("testAdd3"));
    EXPECT_EQ(create("testAdd"), "testAdd1");
    EXPECT_EQ(create("testAdd"), "testAdd3");
    EXPECT_EQ(create("testAdd"), "testAdd5");
    ASSERT_TRUE(host.renameNode("hand1", "right"));
    EXPECT_EQ(create("testAdd", "hand"), "hand1");
    EXPECT_EQ(create("testAdd", "hand1"), "hand2") << "a requested name's base drops its digits";
    EXPECT_EQ(create("testAdd", "left"), "left1");
    ASSERT_TRUE(host.renameNode("left", "testAdd12"));
    EXPECT_EQ(create("testAdd", "testAdd12"), "testAdd6");
    EXPECT_TRUE(host.hasNode("testAdd12"));
}

TEST_F(HostTest, PlugsBeyondTheFirst64AttributesAreDirtiedAndPulledOnceEachTime) {
    ASSERT_TRUE(
        host.registerBuiltinPlugin("wide", initializeOne<WideNode>, uninitializeOne<WideNode>));
    create("testWide", "w1");
    create("testWide", "w2");
    ASSERT_TRUE(host.connect("w1.total", "w2.input"));
    EXPECT_EQ(get("w2.total"), "100");
    for (const int value : {3, 4}) {
        takeEvents();
        ASSERT_TRUE(host.setPlug("w1.input", {std::to_string(value)}));
        EXPECT_EQ(takeEvents(), Lines({"dirty w1.total", "dirty w2.input", "dirty w2.total"}))
            << "each propagation visits the plugs afresh";
        EXPECT_EQ(get("w2.total"), std::to_string(value * 100));
        EXPECT_EQ(takeEvents(), Lines({"compute w2.total", "compute w1.total"}));
        EXPECT_EQ(get("w2.total"), std::to_string(value * 100));
        EXPECT_EQ(takeEvents(), Lines{}) << "clean after one pull";
    }
}

TEST_F(HostTest, EveryNodeIsFoundByItsNameThroughManyDeletesAndRenames) {
    // Enough nodes that names share and outgrow the index's slots; deleting every third and
    // renaming every fifth of the rest leaves holes amid runs of neighbours. Read in order first,
    // each node notes the one looked up after it; each goes right after it was looked up itself.
    constexpr int kCount = 700;
    for (int k = 0; k < kCount; ++k) create("testAdd", "n" + std::to_string(k));
    for (int pass = 0; pass < 2; ++pass)
        for (int k = 0; k < kCount; ++k) EXPECT_EQ(get("n" + std::to_string(k) + ".sum"), "3");
    for (int k = 0; k < kCount; k += 3) {
        EXPECT_EQ(get("n" + std::to_string(k) + ".b"), "2");
        ASSERT_TRUE(host.deleteNode("n" + std::to_string(k)));
    }
    for (int k = 1; k < kCount; k += 15) {
        const std::string name = "n" + std::to_string(k);
        ASSERT_TRUE(host.renameNode(name, "r" + std::to_string(k)));
    }
    for (int k = 0; k < kCount; ++k) {
        const bool deleted = k % 3 == 0, renamed = k % 15 == 1;
        EXPECT_EQ(host.hasNode("n" + std::to_string(k)), !deleted && !renamed) << k;
        EXPECT_EQ(host.hasNode("r" + std::to_string(k)), renamed) << k;
    }
    EXPECT_EQ(create("testAdd", "n3"), "n3") << "a deleted node's name is free again";
    EXPECT_EQ(create("testAdd", "n1"), "n1") << "so is a renamed node's old name";
    ASSERT_TRUE(host.setPlug("r16.a", {"4"}));
    EXPECT_EQ(get("r16.sum"), "6");
    EXPECT_EQ(host.nodeNames("testAdd").size(), std::size_t{kCount - (kCount + 2) / 3 + 2});
}

TEST_F(HostTest, DirtinessFollowsConnectionOrderThroughRemakesAndReordering) {
    for (const char* name : {"top", "b", "c", "d"}) create("testAdd", name);
    for (const char* name : {"c", "b", "d"})
        ASSERT_TRUE(host.connect("top.sum", std::string(name) + ".a"));
    ASSERT_TRUE(host.connect("top.doubled", "d.offset"));
    for (const char* plug : {"b.sum", "c.sum", "d.sum", "d.offset"}) get(plug);
    takeEvents();
    ASSERT_TRUE(host.setPlug("top.a", {"3"}));
    EXPECT_EQ(takeEvents(), Lines({"dirty top.sum", "dirty c.a", "dirty c.sum", "dirty b.a",
                                   "dirty b.sum", "dirty d.a", "dirty d.sum"}));
    ASSERT_TRUE(host.disconnect("top.sum", "b.a"));
    ASSERT_TRUE(host.connect("top.sum", "b.a"));
    for (const char* plug : {"b.sum", "c.sum", "d.sum", "d.offset"}) get(plug);
    takeEvents();
    ASSERT_TRUE(host.setPlug("top.a", {"4"}));
    EXPECT_EQ(takeEvents(), Lines({"dirty top.sum", "dirty c.a", "dirty c.sum", "dirty d.a",
                                   "dirty d.sum", "dirty b.a", "dirty b.sum"}))
        << "a connection made again comes last";
    host.reorderConnections({{"top.doubled", "d.offset"}, {"top.sum", "b.a"}});
    EXPECT_EQ(host.connections("top").front(),
              (std::pair<std::string, std::string>{"top.doubled", "d.offset"}));
    for (const char* plug : {"b.sum", "c.sum", "d.sum", "d.offset"}) get(plug);
    takeEvents();
    ASSERT_TRUE(host.setPlug("top.a", {"5"}));
    EXPECT_EQ(takeEvents(), Lines({"dirty top.sum", "dirty b.a", "dirty b.sum", "dirty c.a",
                                   "dirty c.sum", "dirty d.a", "dirty d.sum"}));
    ASSERT_TRUE(host.deleteNode("c"));
    EXPECT_EQ(host.connections("top").size(), 3u);
    EXPECT_EQ(host.disconnect("top.sum", "c.a").message, "cannot disconnect: no node named 'c'");
    EXPECT_EQ(get("d.sum"), "9");
}

TEST_F(HostTest, AHubsConnectionsFromSeveralPlugsDirtyInConnectionOrderThroughChanges) {
    // More connections out than a node keeps in itself, from three plugs of the hub in turn: the
    // hub's list is long enough to be searched by halves, and each plug's share lies among the
    // others'.
    const std::string sources[] = {"top.sum", "top.doubledX", "top.doubledY"};
    create("testAdd", "top");
    std::vector<std::pair<int, int>> order;  // (node, source) in connection order
    for (int k = 0; k < 15; ++k) {
        create("testAdd", "n" + std::to_string(k));
        ASSERT_TRUE(host.connect(sources[k % 3], "n" + std::to_string(k) + ".a"));
        order.emplace_back(k, k % 3);
    }
    // Setting an input dirties the output it affects, then what that output's plugs feed, in the
    // order they were connected.
    const auto expected = [&](const std::string& output, bool fromSum) {
        Lines lines{"dirty " + output};
        for (const auto& [k, source] : order)
            if ((source == 0) == fromSum)
                for (const char* plug : {".a", ".sum"})
                    lines.push_back("dirty n" + std::to_string(k) + plug);
        return lines;
    };
    int value = 0;
    const auto check = [&](const std::string& when) {
        for (const auto& [k, source] : order) get("n" + std::to_string(k) + ".sum");
        takeEvents();
        ++value;
        ASSERT_TRUE(host.setPlug("top.a", {std::to_string(value)}));
        EXPECT_EQ(takeEvents(), expected("top.sum", true)) << when;
        ASSERT_TRUE(host.setPlug("top.offsetX", {std::to_string(value)}));
        EXPECT_EQ(takeEvents(), expected("top.doubled", false)) << when;
        for (const auto& [k, source] : order) {
            const int fed = source == 0 ? value + 2 : source == 1 ? 2 * value : 4;
            EXPECT_EQ(get("n" + std::to_string(k) + ".sum"), std::to_string(fed + 2))
                << when << ": n" << k;
        }
    };
    check("as made");

    ASSERT_TRUE(host.disconnect("top.doubledX", "n4.a"));
    ASSERT_TRUE(host.connect("top.sum", "n4.a"));
    for (const int k : {7, 9}) ASSERT_TRUE(host.deleteNode("n" + std::to_string(k)));
    order.erase(std::remove_if(order.begin(), order.end(),
                               [](const auto& entry) {
                                   return entry.first == 4 || entry.first == 7 || entry.first == 9;
                               }),
                order.end());
    order.emplace_back(4, 0);
    check("after a remake and deletes");

    host.reorderConnections({{"top.doubledY", "n14.a"}, {"top.sum", "n12.a"}});
    EXPECT_EQ(host.connections("top").front(),
              (std::pair<std::string, std::string>{"top.doubledY", "n14.a"}));
    for (const int k : {12, 14}) {
        const auto at = std::find_if(order.begin(), order.end(),
                                     [&](const auto& entry) { return entry.first == k; });
        const auto entry = *at;
        order.erase(at);
        order.insert(order.begin(), entry);
    }
    check("after reordering");

    ASSERT_TRUE(host.deleteNode("top"));
    EXPECT_TRUE(host.connections("").empty());
}

TEST_F(HostTest, ValuesAreSetAndPrintedInTheirTextForm) {
    create("testAdd", "add1");
    ASSERT_TRUE(host.setPlug("add1.a", {"0.1"}));
    EXPECT_EQ(get("add1.a"), "0.1");
    ASSERT_TRUE(host.setPlug("add1.flag", {"on"}));
    EXPECT_EQ(get("add1.flag"), "true");
    ASSERT_TRUE(host.setPlug("add1.mode", {"fast"}));
    EXPECT_EQ(get("add1.mode"), "1");
    EXPECT_EQ(get("add1.label"), "none");
    ASSERT_TRUE(host.setPlug("add1.label", {"left hand"}));
    EXPECT_EQ(get("add1.label"), "left hand");
    EXPECT_EQ(get("add1.matrixIn"), "1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1");
    ASSERT_TRUE(host.setPlug("add1.mi", {"2", "0", "0", "0", "0", "2", "0", "0", "0", "0", "2", "0",
                                         "1", "2", "3", "1"}));
    EXPECT_EQ(get("add1.matrixIn"), "2 0 0 0 0 2 0 0 0 0 2 0 1 2 3 1");
    ASSERT_TRUE(host.setPlug("add1.points[3]", {"2.5"}));
    ASSERT_TRUE(host.setPlug("add1.points[1]", {"-1"}));
    EXPECT_EQ(get("add1.points[3]"), "2.5");
    EXPECT_EQ(get("add1.points"), "-1 2.5");

    EXPECT_EQ(host.setPlug("add1.a", {"abc"}).message,
              "cannot set 'add1.a': expected a number, got 'abc'");
    EXPECT_EQ(host.setPlug("add1.offset", {"1", "2"}).message,
              "cannot set 'add1.offset': expected 3 numbers, got '1 2'");
    EXPECT_EQ(host.setPlug("add1.flag", {"maybe"}).message,
              "cannot set 'add1.flag': expected true or false, got 'maybe'");
    EXPECT_EQ(host.setPlug("add1.a[2]", {"1"}).message, "'add1.a' is not an array attribute");
    EXPECT_EQ(get("add1.a"), "0.1") << "a refused set changes nothing";
    EXPECT_EQ(rova::host::formatDouble(1.0 / 3.0), "0.3333333333333333");
    EXPECT_EQ(rova::host::formatDouble(1e300), "1e+300");
}

TEST_F(HostTest, ASnapshotRestoresValuesAndConnectionsOfADeletedNode) {
    create("testAdd", "add1");
    create("testAdd", "add2");
    create("testAdd", "add3");
    ASSERT_TRUE(host.setPlug("add2.b", {"7"}));
    ASSERT_TRUE(host.setPlug("add2.offset", {"4", "5", "6"}));
    ASSERT_TRUE(host.connect("add1.sum", "add2.a"));
    ASSERT_TRUE(host.connect("add2.sum", "add3.a"));
    auto snapshot = host.snapshotNode("add2");
    ASSERT_TRUE(snapshot.ok());
    takeEvents();
    ASSERT_TRUE(host.deleteNode("add2"));
    EXPECT_EQ(takeEvents(), Lines({"disconnect add1.sum add2.a", "disconnect add2.sum add3.a",
                                   "delete add2 testAdd"}));
    ASSERT_TRUE(host.restoreNode(snapshot.value));
    EXPECT_EQ(get("add2.b"), "7");
    EXPECT_EQ(get("add2.offset"), "4 5 6");
    EXPECT_EQ(get("add3.sum"), "12");
    EXPECT_EQ(host.connections("add2").size(), 2u);
}

TEST_F(HostTest, AConnectionThatWouldCloseACycleIsRefusedWithItsPath) {
    for (const char* name : {"a", "b", "c"}) create("testAdd", name);
    ASSERT_TRUE(host.connect("a.sum", "b.a"));
    EXPECT_EQ(host.connect("b.sum", "a.b").message,
              "cannot connect 'b.sum' to 'a.b': it would close a cycle: a.b -> a.sum -> b.a -> "
              "b.sum -> a.b");
    ASSERT_TRUE(host.connect("b.sum", "c.a"));
    EXPECT_EQ(host.connect("c.sum", "a.a").message,
              "cannot connect 'c.sum' to 'a.a': it would close a cycle: a.a -> a.sum -> b.a -> "
              "b.sum -> c.a -> c.sum -> a.a");
    EXPECT_EQ(host.connections().size(), 2u) << "a refused connection changes nothing";
    // A loop only through plugs that affect nothing is no cycle: quirk feeds no output.
    EXPECT_TRUE(host.connect("c.sum", "a.quirk"));
    EXPECT_EQ(get("a.quirk"), "7");
    takeEvents();
    ASSERT_TRUE(host.setPlug("c.b", {"10"}));
    EXPECT_EQ(takeEvents(), Lines({"dirty c.sum", "dirty a.quirk"}));
}

TEST_F(HostTest, ACompoundChildClosesACycleAsItsParentWould) {
    create("testAdd", "a");
    create("testAdd", "b");
    ASSERT_TRUE(host.connect("a.doubledX", "b.a"));
    EXPECT_NE(host.connect("b.sum", "a.offsetZ").message.find("it would close a cycle"),
              std::string::npos);
}

TEST_F(HostTest, ADiamondEvaluatesItsSourceOnce) {
    // top feeds left and right; both feed bottom.
    for (const char* name : {"top", "left", "right", "bottom"}) create("testAdd", name);
    ASSERT_TRUE(host.connect("top.sum", "left.a"));
    ASSERT_TRUE(host.connect("top.sum", "right.a"));
    ASSERT_TRUE(host.connect("left.sum", "bottom.a"));
    ASSERT_TRUE(host.connect("right.sum", "bottom.b"));
    EXPECT_EQ(get("bottom.sum"), "10");  // top 1 + 2; left and right 3 + 2; bottom 5 + 5
    rova_test::AddNode::computeCount = 0;
    ASSERT_TRUE(host.setPlug("top.a", {"11"}));
    takeEvents();
    EXPECT_EQ(get("bottom.sum"), "30");
    EXPECT_EQ(takeEvents(), Lines({"compute bottom.sum", "compute left.sum", "compute top.sum",
                                   "compute right.sum"}))
        << "top is computed once although two paths pull it";
    EXPECT_EQ(rova_test::AddNode::computeCount, 4);
}

// A pull goes through each compute that reads a dirty input, so a chain's depth used to be the
// depth of the caller's stack (some frames of the host and the node per level): a chain of some
// thousands overflowed a thread's stack. Chains and lattices far deeper evaluate on the caller's
// own thread, each node once, with a failure deep inside reported as in a short chain.
TEST_F(HostTest, DeepChainsAndLatticesArePulledOnTheCallersStackOnceEach) {
    constexpr int kNodes = 20000;
    const auto node = [](const char* base, int k) { return base + std::to_string(k); };
    createChain("n", kNodes);
    // sum = a + b, with b = 2: the end sums a + 2 per node.
    const std::string end = node("n", kNodes - 1) + ".sum";
    EXPECT_EQ(get(end), std::to_string(1 + 2 * kNodes));
    takeEvents();
    rova_test::AddNode::computeCount = 0;
    ASSERT_TRUE(host.setPlug("n0.a", {"11"}));
    EXPECT_EQ(get(end), std::to_string(11 + 2 * kNodes));
    EXPECT_EQ(rova_test::AddNode::computeCount, kNodes);
    const auto pulled = takeEvents();
    EXPECT_EQ(std::count(pulled.begin(), pulled.end(), "compute n0.sum"), 1);
    EXPECT_EQ(std::count(pulled.begin(), pulled.end(), "compute n10000.sum"), 1);

    // A source that throws, far up the chain: the read fails naming it; the node below keeps
    // its stored value and tries again on the next read.
    create("testBroken", "broken");
    ASSERT_TRUE(host.disconnect("n99.sum", "n100.a"));
    ASSERT_TRUE(host.connect("broken.throws", "n100.a"));
    const auto failed = host.getPlug(end);
    EXPECT_FALSE(failed.ok());
    EXPECT_NE(failed.status.message.find("compute of 'broken.throws' threw: kaput"),
              std::string::npos)
        << failed.status.message;
    EXPECT_TRUE(host.isDirty("n100.a").value);
    ASSERT_TRUE(host.deleteNode("broken"));
    EXPECT_EQ(get(end), std::to_string(7 + 2 * (kNodes - 100)));

    // A lattice: each node also feeds the one after next, so that every node past the second is
    // reached along two paths.
    for (int k = 0; k < kNodes; ++k) {
        create("testAdd", node("m", k));
        if (k < 2) {
            ASSERT_TRUE(host.setPlug(node("m", k) + ".b", {"0"}));
        } else {
            ASSERT_TRUE(host.connect(node("m", k - 2) + ".sum", node("m", k) + ".b"));
        }
        if (k > 0) {
            ASSERT_TRUE(host.connect(node("m", k - 1) + ".sum", node("m", k) + ".a"));
        }
    }
    ASSERT_TRUE(host.setPlug("m0.a", {"0"}));
    rova_test::AddNode::computeCount = 0;
    EXPECT_EQ(get(node("m", kNodes - 1) + ".sum"), "0");
    EXPECT_EQ(rova_test::AddNode::computeCount, kNodes);
}

// A large walk from a plug foresees its nodes from the last walk from there. Once the chain has
// been cut, spliced with new nodes and partly deleted, dirtying and pulling from the same plugs go
// where the graph goes now: each node of the new chain once, in its order, none of the old ones.
TEST_F(HostTest, LargeWalksFollowTheGraphAsItIsNowAfterItChanged) {
    constexpr int kNodes = 3000;
    const auto node = [](const char* base, int k) { return base + std::to_string(k); };
    createChain("n", kNodes);
    const std::string end = node("n", kNodes - 1) + ".sum";
    for (const char* start : {"3", "5"}) {  // twice: the second walks are foreseen
        ASSERT_TRUE(host.setPlug("n0.a", {start}));
        EXPECT_EQ(get(end), std::to_string(std::stoi(start) + 2 * kNodes));
    }

    // The middle third gives way to a shorter chain of new nodes.
    for (int k = kNodes / 3; k < 2 * kNodes / 3; ++k) ASSERT_TRUE(host.deleteNode(node("n", k)));
    constexpr int kSpliced = 500;
    std::string last = node("n", kNodes / 3 - 1);
    for (int k = 0; k < kSpliced; ++k) {
        create("testAdd", node("s", k));
        ASSERT_TRUE(host.connect(last + ".sum", node("s", k) + ".a"));
        last = node("s", k);
    }
    ASSERT_TRUE(host.connect(last + ".sum", node("n", 2 * kNodes / 3) + ".a"));
    const int now = kNodes - kNodes / 3 + kSpliced;
    EXPECT_EQ(get(end), std::to_string(5 + 2 * now));  // all clean: the next walk dirties all

    takeEvents();
    rova_test::AddNode::computeCount = 0;
    ASSERT_TRUE(host.setPlug("n0.a", {"7"}));
    std::vector<std::string> dirtied;
    for (const std::string& line : takeEvents())
        if (line.rfind("dirty ", 0) == 0 && line.size() > 6 &&
            line.compare(line.size() - 4, 4, ".sum") == 0)
            dirtied.push_back(line.substr(6, line.size() - 10));
    ASSERT_EQ(dirtied.size(), static_cast<std::size_t>(now));
    EXPECT_EQ(dirtied[kNodes / 3 - 1], node("n", kNodes / 3 - 1));
    EXPECT_EQ(dirtied[kNodes / 3], "s0");
    EXPECT_EQ(dirtied[kNodes / 3 + kSpliced], node("n", 2 * kNodes / 3));
    EXPECT_EQ(dirtied.back(), node("n", kNodes - 1));
    EXPECT_EQ(get(end), std::to_string(7 + 2 * now));
    EXPECT_EQ(rova_test::AddNode::computeCount, now);
}

// Node objects come from the host's allocator, which hands out blocks aligned to a cache line: a
// type that asks for more gets it, among ordinary nodes made before and after it, and each kind
// goes back to where it came from when its node is deleted.
TEST_F(HostTest, NodeObjectsHaveTheAlignmentTheirTypeAsksFor) {
    ASSERT_TRUE(host.registerBuiltinPlugin("aligned", initializeOne<AlignedNode>,
                                           uninitializeOne<AlignedNode>));
    AlignedNode::made.clear();
    for (int round = 0; round < 2; ++round) {
        for (int k = 0; k < 40; ++k) {
            create("testAdd", "plain" + std::to_string(k));
            create("testAligned", "wide" + std::to_string(k));
            ASSERT_TRUE(host.setPlug("wide" + std::to_string(k) + ".input", {std::to_string(k)}));
        }
        for (int k = 0; k < 40; ++k)
            EXPECT_EQ(get("wide" + std::to_string(k) + ".output"), std::to_string(3 * k));
        for (int k = 0; k < 40; ++k) {
            ASSERT_TRUE(host.deleteNode("wide" + std::to_string(k)));
            ASSERT_TRUE(host.deleteNode("plain" + std::to_string(k)));
        }
    }
    ASSERT_EQ(AlignedNode::made.size(), 80u);
    for (const void* node : AlignedNode::made)
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(node) % alignof(AlignedNode), 0u);
}

// Records, values and node objects come from slabs that grow with the scene, the largest on huge
// pages: a scene of many thousands keeps every node's values its own through deletes and the
// reuse of the blocks they free.
TEST_F(HostTest, EveryNodeOfALargeSceneKeepsItsOwnValuesThroughDeletesAndReuse) {
    constexpr int kCount = 12000;
    const auto name = [](int k) { return "v" + std::to_string(k); };
    for (int k = 0; k < kCount; ++k) {
        create("testAdd", name(k));
        ASSERT_TRUE(host.setPlug(name(k) + ".a", {std::to_string(k)}));
    }
    for (int k = 0; k < kCount; k += 3) ASSERT_TRUE(host.deleteNode(name(k)));
    for (int k = 0; k < kCount; k += 3) {
        create("testAdd", name(k));
        ASSERT_TRUE(host.setPlug(name(k) + ".a", {std::to_string(-k)}));
    }
    for (int k = 0; k < kCount; ++k) {
        const int a = k % 3 == 0 ? -k : k;
        ASSERT_EQ(get(name(k) + ".sum"), std::to_string(a + 2)) << name(k);
    }
}

// Dirtying leaves a node's walk early when nothing but the plug it enters is left for it, which it
// can know only while no observer may connect plugs in between: with and without one, the same
// plugs end up dirty, through chains, hubs, compound children and plugs that both affect others
// and feed connections.
TEST_F(HostTest, DirtyingReachesTheSamePlugsWhetherOrNotAnyoneObserves) {
    const std::vector<std::string> names = {"root", "c1", "c2", "c3", "h1", "h2", "h3", "x", "y"};
    for (const std::string& name : names) create("testAdd", name);
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
             {"root.sum", "c1.a"},  // a chain
             {"c1.sum", "c2.a"},
             {"c2.sum", "c3.a"},
             {"root.sum", "h1.b"},  // a hub
             {"root.sum", "h2.b"},
             {"root.sum", "h3.b"},
             {"c1.a", "x.a"},          // a plug that affects sum and feeds a connection
             {"h2.sum", "y.offsetX"},  // a compound's child, which affects doubled
             {"c3.sum", "y.b"}})
        ASSERT_TRUE(host.connect(from, to));
    const auto dirtyAfterASet = [&](const char* value) {
        for (const std::string& name : names)
            for (const char* plug : {".sum", ".doubled"}) host.getPlug(name + plug);
        EXPECT_TRUE(host.setPlug("root.a", {value}));
        std::vector<std::string> dirty;
        for (const std::string& name : names)
            for (const char* plug : {".a", ".b", ".sum", ".offset", ".offsetX", ".doubled"})
                if (host.isDirty(name + plug).value)
                    dirty.push_back(name + plug);
        return dirty;
    };
    const std::vector<std::string> observed = dirtyAfterASet("4");
    host.removeObserver(observer);
    const std::vector<std::string> unobserved = dirtyAfterASet("5");
    observer = host.addObserver([this](const rova::host::GraphEvent& e) { events.push_back(e); });
    EXPECT_EQ(unobserved, observed);
    EXPECT_EQ(std::count(observed.begin(), observed.end(), "x.sum"), 1);
    EXPECT_EQ(std::count(observed.begin(), observed.end(), "y.doubled"), 1);
    EXPECT_EQ(std::count(observed.begin(), observed.end(), "y.sum"), 1);
    EXPECT_EQ(get("y.sum"), std::to_string(1 + (5 + 2) + 3 * 2));
}

// A deep pull lists the chain's nodes before it reaches them: a compute on the way that deletes
// some of them (here nodes further down the chain, and the plug's own node) leaves the pull to
// skip them and the nodes below to keep their stored values, with nothing read from a deleted
// node's memory.
TEST_F(HostTest, ADeepPullWhoseComputeDeletesNodesItHasListedGoesOnWithoutThem) {
    ASSERT_TRUE(host.registerBuiltinPlugin("deleting", initializeOne<DeletingNode>,
                                           uninitializeOne<DeletingNode>));
    constexpr int kNodes = 3000;
    const auto node = [](int k) { return "n" + std::to_string(k); };
    for (int k = 0; k < kNodes; ++k) {
        create("testAdd", node(k));
        if (k > 0) {
            ASSERT_TRUE(host.connect(node(k - 1) + ".sum", node(k) + ".a"));
        }
    }
    const std::string end = node(kNodes - 1) + ".sum";
    EXPECT_EQ(get(end), std::to_string(1 + 2 * kNodes));
    const std::string before = get(node(2001) + ".a");

    create("testDeleting", "deleter");
    ASSERT_TRUE(host.disconnect("n99.sum", "n100.a"));
    ASSERT_TRUE(host.connect("n99.sum", "deleter.input"));
    ASSERT_TRUE(host.connect("deleter.output", "n100.a"));
    std::vector<std::string> deleted;
    host.setExecutor([&](const std::string& text, bool, bool, std::string*) {
        if (text != "deleteVictims")
            return false;
        for (const int k : {2000, 2500, kNodes - 1}) {
            if (host.deleteNode(node(k)))
                deleted.push_back(node(k));
        }
        return true;
    });
    ASSERT_TRUE(host.setPlug("n0.a", {"11"}));
    const auto pulled = host.getPlug(end);
    host.setExecutor(nullptr);
    EXPECT_FALSE(pulled.ok());
    EXPECT_NE(pulled.status.message.find("its node was deleted while it was evaluated"),
              std::string::npos)
        << pulled.status.message;
    EXPECT_EQ(deleted, (std::vector<std::string>{"n2000", "n2500", node(kNodes - 1)}));
    EXPECT_FALSE(host.getPlug(end).ok()) << "no node of that name now";
    // Above the first deleted node the chain took the new value; below it, the stored one.
    EXPECT_EQ(get("n1999.sum"), std::to_string(11 + 2 * 2000));
    EXPECT_EQ(get("n2001.a"), before);
    EXPECT_EQ(get(node(kNodes - 2) + ".sum"),
              std::to_string(std::stoi(before) + 2 * (kNodes - 2 - 2001 + 1)));
}
