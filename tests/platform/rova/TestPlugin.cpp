// A plug-in library the runtime's tests load with dlopen, as the host loads real plug-ins.
#include <rova/Rova.h>

#ifndef TEST_PLUGIN_API_VERSION
#define TEST_PLUGIN_API_VERSION "201400"
#endif

namespace {
RObject g_level;
constexpr unsigned kLibraryNodeId = 0x7e5901;

class LibraryNode : public RPxNode {
  public:
    static void* create() { return new LibraryNode(); }
    static RStatus initialize() {
        RFnNumericAttribute numeric;
        g_level = numeric.create("level", "lv", RFnNumericData::kInt, 3.0);
        return addAttribute(g_level);
    }
};
}  // namespace

ROVA_PLUGIN_EXPORT const char RApiVersion[] = TEST_PLUGIN_API_VERSION;

ROVA_PLUGIN_EXPORT RStatus initializePlugin(RObject plugin) {
    RFnPlugin fn(plugin, "Tests", "3");
    RStatus status = fn.registerNode("libraryNode", RTypeId(kLibraryNodeId), LibraryNode::create,
                                     LibraryNode::initialize);
    if (status)
        status = fn.registerUI("libraryCreateUI", "libraryDeleteUI");
    return status;
}

ROVA_PLUGIN_EXPORT RStatus uninitializePlugin(RObject plugin) {
    return RFnPlugin(plugin).deregisterNode(RTypeId(kLibraryNodeId));
}
