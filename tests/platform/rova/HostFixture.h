#pragma once
#include <gtest/gtest.h>
#include <rovahost/Host.h>

#include <string>
#include <vector>

#include "TestNodes.h"

// Registers the test node types on a fresh host, records graph events, and fails a test that writes
// to standard error without reading it back through takeStderr().
class HostTest : public ::testing::Test {
  protected:
    rova::host::Host& host = rova::host::Host::instance();
    std::vector<rova::host::GraphEvent> events;
    int observer = 0;

    void SetUp() override {
        ::testing::internal::CaptureStderr();
        ASSERT_TRUE(host.registerBuiltinPlugin("tests", rova_test::initializeTestPlugin,
                                               rova_test::uninitializeTestPlugin));
        observer =
            host.addObserver([this](const rova::host::GraphEvent& e) { events.push_back(e); });
        rova_test::AddNode::computeCount = 0;
    }

    void TearDown() override {
        host.removeObserver(observer);
        host.shutdown();
        const std::string unexpected = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(unexpected, "") << "unexpected output on standard error";
    }

    std::string takeStderr() {
        std::string text = ::testing::internal::GetCapturedStderr();
        ::testing::internal::CaptureStderr();
        return text;
    }

    // Events as "kind plug [other]" lines, then forgets them.
    std::vector<std::string> takeEvents() {
        static const char* names[] = {"dirty",  "compute", "connect", "disconnect",
                                      "create", "delete",  "error"};
        std::vector<std::string> lines;
        for (const auto& e : events)
            lines.push_back(std::string(names[e.kind]) + " " + e.plug +
                            (e.other.empty() ? "" : " " + e.other));
        events.clear();
        return lines;
    }

    std::string get(const std::string& plug) {
        auto value = host.getPlug(plug);
        EXPECT_TRUE(value.ok()) << value.status.message;
        return rova::host::formatValue(value.value);
    }

    std::string create(const std::string& type, const std::string& name = "") {
        auto made = host.createNode(type, name);
        EXPECT_TRUE(made.ok()) << made.status.message;
        return made.value;
    }

    // testAdd nodes BASE0 to BASE(count - 1), each one's sum feeding the next one's a.
    void createChain(const std::string& base, int count) {
        for (int k = 0; k < count; ++k) {
            create("testAdd", base + std::to_string(k));
            if (k > 0) {
                ASSERT_TRUE(host.connect(base + std::to_string(k - 1) + ".sum",
                                         base + std::to_string(k) + ".a"));
            }
        }
    }
};

using Lines = std::vector<std::string>;
