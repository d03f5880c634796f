#include "ManagerTestSupport.h"

#include <kivo/DeviceService.h>

namespace kivo_rova::testing {

const RTypeId TrackedNode::id(0x7e5710);
TrackedNode* TrackedNode::last = nullptr;

RStatus initializeTrackedNodes(RObject plugin) {
    RFnPlugin fn(plugin);
    return fn.registerNode("trackedNode", TrackedNode::id, TrackedNode::createInstance,
                           KivoTransformNode::initializeAttributes, RPxNode::kThreadedDeviceNode);
}

RStatus uninitializeTrackedNodes(RObject plugin) {
    RFnPlugin fn(plugin);
    return fn.deregisterNode(TrackedNode::id);
}

void ManagerTest::SetUp() {
    Kivo::DeviceService::reset();
    Kivo::DeviceService::connect();
    ASSERT_TRUE(host.registerBuiltinPlugin("managerTests", initializeTrackedNodes,
                                           uninitializeTrackedNodes));
    host.setExecutor([this](const std::string& text, bool, bool, std::string*) {
        queued.push_back(text);
        return true;
    });
}

void ManagerTest::TearDown() {
    host.shutdown();
    host.setExecutor({});
    Kivo::DeviceService::reset();
}

TrackedNode& ManagerTest::createNode(const std::string& name) {
    const auto made = host.createNode("trackedNode", name);
    EXPECT_TRUE(made.ok()) << made.status.message;
    return *TrackedNode::last;
}

void ManagerTest::setLive(const std::string& name, bool live) {
    const auto status = host.setPlug(name + ".live", {live ? "true" : "false"});
    EXPECT_TRUE(status) << status.message;
}

std::vector<std::string> ManagerTest::takeQueued() {
    host.drainIdle();
    std::vector<std::string> taken;
    taken.swap(queued);
    return taken;
}

}  // namespace kivo_rova::testing
