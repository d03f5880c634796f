// Registration, plug-in life cycle, fault injection, host services.
#include <thread>

#include "HostFixture.h"

namespace {
RObject g_only;
RStatus initOnly() {
    RFnNumericAttribute numeric;
    g_only = numeric.create("only", "o", RFnNumericData::kDouble);
    return RPxNode::addAttribute(g_only);
}
void* createPlain() {
    return new RPxNode();
}

// Registers one type, then fails: a plug-in that stopped half-way.
RStatus initHalfway(RObject plugin) {
    RFnPlugin fn(plugin, "Tests", "2");
    RStatus status = fn.registerNode("halfA", RTypeId(0x7e5801), createPlain, initOnly);
    if (!status)
        return status;
    status = fn.registerNode("testAdd", RTypeId(0x7e5802), createPlain, initOnly);
    if (!status)
        status.perror("failed to registerNode halfB");
    return RStatus::kFailure;
}
RStatus uninitHalfway(RObject plugin) {
    RFnPlugin fn(plugin);
    for (unsigned id : {0x7e5801u, 0x7e5802u}) {
        RStatus status = fn.deregisterNode(RTypeId(id));
        if (!status)
            status.perror("failed to deregisterNode " + std::to_string(id));
    }
    return RStatus::kSuccess;
}

RStatus initDuplicateId(RObject plugin) {
    return RFnPlugin(plugin).registerNode("otherName", RTypeId(rova_test::kAddId), createPlain,
                                          initOnly);
}
RStatus uninitNothing(RObject) {
    return RStatus::kSuccess;
}

class EchoCommand : public RPxCommand {
  public:
    static int undone;
    static void* create() { return new EchoCommand(); }
    RStatus runCommand(const RArgList& args) override {
        if (args.length() == 0) {
            displayError("echo needs a word");
            return RStatus::kFailure;
        }
        setResult(args.asString(0));
        appendToResult(2.5);
        return RStatus::kSuccess;
    }
    RStatus undoCommand() override {
        ++undone;
        return RStatus::kSuccess;
    }
    bool canUndo() const override { return true; }
};
int EchoCommand::undone = 0;

RStatus initCommands(RObject plugin) {
    RFnPlugin fn(plugin);
    RStatus status = fn.registerCommand("echo", EchoCommand::create);
    if (status)
        status = fn.registerUI("echoCreateUI", "echoDeleteUI");
    return status;
}
RStatus uninitCommands(RObject plugin) {
    return RFnPlugin(plugin).deregisterCommand("echo");
}
}  // namespace

TEST_F(HostTest, DuplicateTypeNamesAndIdsAreRefused) {
    EXPECT_EQ(host.registerBuiltinPlugin("dup", initDuplicateId, uninitNothing).message,
              "initializePlugin of plug-in 'dup' failed (registerNode: type id 8279809 (0x7e5701) "
              "of 'otherName' is "
              "already used by 'testAdd'); what it registered stays until it is unloaded");
    EXPECT_EQ(host.registerBuiltinPlugin("dup", initDuplicateId, uninitNothing).message,
              "plug-in 'dup' is already loaded");
    RFnPlugin fn(RObject{});
    EXPECT_EQ(fn.registerNode("x", RTypeId(1), createPlain, initOnly).errorString(),
              "registerNode: the function set is not attached to a plug-in");
    ASSERT_TRUE(host.unloadPlugin("dup", false));
}

TEST_F(HostTest, AHalfLoadedPluginKeepsItsRegistrationsUntilUnloaded) {
    auto loaded = host.registerBuiltinPlugin("halfway", initHalfway, uninitHalfway);
    EXPECT_EQ(loaded.message,
              "initializePlugin of plug-in 'halfway' failed (failure); what it registered stays "
              "until it is unloaded");
    EXPECT_EQ(
        takeStderr(),
        "failed to registerNode halfB: registerNode: node type 'testAdd' is already registered\n");
    EXPECT_EQ(host.pluginNames(), Lines({"tests", "halfway"}));
    EXPECT_EQ(create("halfA"), "halfA1");
    ASSERT_TRUE(host.deleteNode("halfA1"));
    ASSERT_TRUE(host.unloadPlugin("halfway", false));
    EXPECT_EQ(takeStderr(),
              "failed to deregisterNode 8280066: deregisterNode: no node type with id 8280066 "
              "(0x7e5802) is registered\n");
    EXPECT_EQ(host.nodeTypeNames(), Lines({"testAdd", "testBroken", "testPulse"}));
}

TEST_F(HostTest, FaultsFailTheMatchingCallWithoutEffect) {
    ASSERT_TRUE(host.unloadPlugin("tests", false));
    ASSERT_TRUE(host.armFault("registerNode", "Pulse", 1));
    auto loaded = host.registerBuiltinPlugin("tests", rova_test::initializeTestPlugin,
                                             rova_test::uninitializeTestPlugin);
    EXPECT_FALSE(loaded.ok);
    EXPECT_EQ(host.nodeTypeNames(), Lines({"testAdd", "testBroken"}));
    ASSERT_TRUE(host.unloadPlugin("tests", false));
    EXPECT_EQ(
        takeStderr(),
        "deregisterNode: deregisterNode: no node type with id 8279811 (0x7e5703) is registered\n");

    // A failing creation returns the null object and says why.
    ASSERT_TRUE(host.armFault("create", "ang", -1));
    RFnNumericAttribute numeric;
    RStatus status;
    EXPECT_TRUE(numeric.create("angle", "an", RFnNumericData::kDouble, 0.0, &status).isNull());
    EXPECT_EQ(status.errorString(), "create failed for 'angle' (injected fault)");
    EXPECT_TRUE(numeric.create("range", "rg", RFnNumericData::kDouble, 0.0, &status).isNull())
        << "-1 keeps failing";
    EXPECT_FALSE(numeric.create("speed", "sp", RFnNumericData::kDouble, 0.0, &status).isNull());
    host.clearFaults();

    // A failing flag setter changes nothing.
    ASSERT_TRUE(host.armFault("setKeyable", "", 1));
    EXPECT_EQ(numeric.setKeyable(true).errorString(),
              "setKeyable failed for 'speed' (injected fault)");
    EXPECT_FALSE(numeric.isKeyable());
    EXPECT_TRUE(numeric.setKeyable(true));
    EXPECT_TRUE(numeric.isKeyable());

    EXPECT_EQ(host.armFault("explode", "", 1)
                  .message.rfind("unknown fault call 'explode' (known: registerNode, ", 0),
              0u);
    EXPECT_EQ(host.armFault("create", "", 0).message,
              "fault count must be a positive number or -1, not 0");
    EXPECT_EQ(RPxNode::addAttribute(numeric.object()).errorString(),
              "addAttribute: only a node type's initialize function may add attributes");
}

TEST_F(HostTest, OutputHandleFaultsReachComputeAsFailedHandles) {
    create("testAdd", "add1");
    ASSERT_TRUE(host.armFault("outputValue", "add1.sum", 1));
    EXPECT_EQ(get("add1.sum"), "0") << "the write went nowhere, the plug was cleaned";
    ASSERT_TRUE(host.setPlug("add1.a", {"4"}));
    EXPECT_EQ(get("add1.sum"), "6");
}

TEST_F(HostTest, PluginCommandsReturnResultsAndStayForUndo) {
    std::vector<std::string> ran;
    host.setExecutor([&](const std::string& text, bool, bool, std::string* result) {
        ran.push_back(text);
        if (result)
            *result = "ok";
        return text != "fail";
    });
    ASSERT_TRUE(host.registerBuiltinPlugin("commands", initCommands, uninitCommands));
    EXPECT_EQ(ran, Lines({"echoCreateUI"}));
    EXPECT_TRUE(host.hasPluginCommand("echo"));

    auto outcome = host.runPluginCommand("echo", {"hello"});
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.result, "hello 2.5");
    ASSERT_TRUE(outcome.undoable);
    auto failed = host.runPluginCommand("echo", {});
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(takeStderr(), "error: echo needs a word\n");

    EXPECT_TRUE(host.undoPluginCommand(outcome.undoable));
    EXPECT_EQ(EchoCommand::undone, 1);
    ASSERT_TRUE(host.unloadPlugin("commands", false));
    EXPECT_EQ(ran, Lines({"echoCreateUI", "echoDeleteUI"}));
    EXPECT_EQ(host.undoPluginCommand(outcome.undoable).message,
              "the command's plug-in was unloaded");

    RString result;
    EXPECT_TRUE(RGlobal::executeCommand("print(1)", result));
    EXPECT_EQ(result, "ok");
    EXPECT_EQ(RGlobal::executeCommand("fail").errorString(),
              "executeCommand: the command failed: fail");
    host.setExecutor(nullptr);
}

TEST_F(HostTest, IdleCommandsFromOtherThreadsRunAtTheNextTickInOrder) {
    std::vector<std::string> ran;
    host.setExecutor([&](const std::string& text, bool, bool, std::string*) {
        ran.push_back(text);
        return true;
    });
    std::thread other([] {
        RGlobal::executeCommandOnIdle("first");
        RGlobal::executeCommandOnIdle("second");
    });
    other.join();
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(host.idleQueueSize(), 2u);
    host.tick();
    EXPECT_EQ(ran, Lines({"first", "second"}));
    host.setExecutor(nullptr);
}

// What a looped replay of unplugging queues when it outruns the ticks: two tracking nodes'
// notices and switches, over and over. Past the coalescing size the queue stops growing, and what
// runs ends with the newest statements in the order they came.
TEST_F(HostTest, IdleStatementsQueuedFasterThanTicksRunThemCoalesceAndKeepTheNewestInOrder) {
    std::vector<std::string> ran;
    host.setExecutor([&](const std::string& text, bool, bool, std::string*) {
        ran.push_back(text);
        return true;
    });
    const Lines cycle{"off notice", "off switch", "off notice", "off switch",
                      "on notice",  "on switch",  "on notice",  "on switch"};
    const std::size_t limit = rova::host::Host::kIdleCoalesceAt;
    const std::size_t queued = 3 * limit + 5;
    for (std::size_t k = 0; k < queued; ++k) RGlobal::executeCommandOnIdle(cycle[k % cycle.size()]);
    EXPECT_EQ(host.idleQueueSize(), limit);
    RGlobal::executeCommandOnIdle("new");
    EXPECT_EQ(host.idleQueueSize(), limit + 1) << "a statement not waiting yet is added";
    host.tick();
    ASSERT_EQ(ran.size(), limit + 1);
    Lines newest;
    for (std::size_t k = queued - cycle.size(); k < queued; ++k)
        newest.push_back(cycle[k % cycle.size()]);
    newest.push_back("new");
    EXPECT_EQ(Lines(ran.end() - static_cast<std::ptrdiff_t>(newest.size()), ran.end()), newest);
    EXPECT_EQ(host.idleQueueSize(), 0u);
    host.setExecutor(nullptr);
}

TEST_F(HostTest, ErrorsAndStatusesPrintInTheHostsForm) {
    RGlobal::displayError("something broke");
    RStatus(RStatus::kFailure, "no slot").perror("acquire");
    RStatus(RStatus::kFailure, "no slot").perror("");
    RStatus(RStatus::kInvalidParameter).perror("call");
    EXPECT_EQ(takeStderr(),
              "error: something broke\nacquire: no slot\nno slot\ncall: invalid parameter\n");
}
