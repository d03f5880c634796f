// Plug-in libraries found on the plug-in path, opened, checked and closed again.
#include "HostFixture.h"

TEST_F(HostTest, PluginLibrariesLoadByNameRunTheirUiProceduresAndUnload) {
    std::vector<std::string> ran;
    host.setExecutor([&](const std::string& text, bool, bool, std::string*) {
        ran.push_back(text);
        return true;
    });
    host.pluginPath().insert(host.pluginPath().begin(), TEST_PLUGIN_DIR);
    ASSERT_TRUE(host.loadPlugin("rova_test_plugin"));
    EXPECT_EQ(ran, Lines({"libraryCreateUI"}));
    EXPECT_EQ(host.loadPlugin("rova_test_plugin").message,
              "plug-in 'rova_test_plugin' is already loaded");
    EXPECT_EQ(create("libraryNode"), "libraryNode1");
    EXPECT_EQ(get("libraryNode1.level"), "3");
    EXPECT_EQ(host.unloadPlugin("rova_test_plugin", false).message,
              "cannot unload plug-in 'rova_test_plugin': nodes of its types exist: libraryNode1");
    ASSERT_TRUE(host.unloadPlugin("rova_test_plugin", true));
    EXPECT_EQ(ran, Lines({"libraryCreateUI", "libraryDeleteUI"}));
    EXPECT_FALSE(host.hasNode("libraryNode1"));
    // Loaded again after closing: its statics start afresh.
    ASSERT_TRUE(host.loadPlugin(std::string(TEST_PLUGIN_DIR) + "/rova_test_plugin.so"));
    EXPECT_EQ(create("libraryNode"), "libraryNode1");
    host.pluginPath().erase(host.pluginPath().begin());
    host.setExecutor(nullptr);
}

TEST_F(HostTest, PluginLibrariesThatDoNotFitAreRefused) {
    host.pluginPath().insert(host.pluginPath().begin(), TEST_PLUGIN_DIR);
    EXPECT_EQ(host.loadPlugin("rova_test_plugin_future").message,
              "cannot load plug-in 'rova_test_plugin_future': it needs host API 999999; this host "
              "offers 201400");
    EXPECT_EQ(host.loadPlugin("no_such_plugin")
                  .message.rfind("plug-in 'no_such_plugin' not found on the plug-in path (", 0),
              0u);
    EXPECT_EQ(host.loadPlugin("/nowhere/x.so").message,
              "plug-in file '/nowhere/x.so' does not exist");
    EXPECT_EQ(host.pluginNames(), Lines({"tests"}));
    host.pluginPath().erase(host.pluginPath().begin());
}
