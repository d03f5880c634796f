// Entry points of the plug-in library: the only symbols it exports.
#include <cstdio>
#include <span>

#include "command/KivoSenseControllerCmd.h"
#include "host/HostApi.h"
#include "nodes/KivoAttractorNode.h"
#include "nodes/KivoDeformerNode.h"
#include "nodes/KivoFilterNode.h"
#include "nodes/KivoGrabNode.h"
#include "nodes/RealTimeNode.h"
#include "nodes/TimeRotateNode.h"
#include "plugin/Registration.h"
#include "tracking/KivoGesturesNode.h"
#include "tracking/KivoTransformNode.h"

using kivo_rova::Registration;

namespace {

constexpr const char* kVendor = "Brenvik";
constexpr const char* kVersion = "2013";
constexpr const char* kRequiredApi = "Any";

// Load order is fixed; a failing row stops the load and leaves the rows before it registered.
const Registration kLoadSteps[] = {
    Registration::node<kivo_rova::KivoTransformNode>("kivoTransform", RPxNode::kThreadedDeviceNode,
                                                     "failed to registerNode kivoTransformNode"),
    Registration::userInterface("kivoSenseCreateUI", "kivoSenseDeleteUI",
                                "failed to registerUIScripts for Kivo Sense Controller"),
    Registration::node<kivo_rova::KivoAttractorNode>("kivoAttractor", RPxNode::kDependNode,
                                                     "failed to registerNode kivoAttractorNode"),
    Registration::node<kivo_rova::KivoDeformerNode>("kivoDeformer", RPxNode::kDeformerNode,
                                                    "failed to registerNode kivoDeformerNode"),
    Registration::node<kivo_rova::RealTimeNode>("realTime", RPxNode::kThreadedDeviceNode,
                                                "failed to registerNode realTimeNode"),
    Registration::node<kivo_rova::TimeRotateNode>("timeRotate", RPxNode::kDependNode,
                                                  "failed to registerNode timeRotateNode"),
    Registration::node<kivo_rova::KivoGesturesNode>("kivoGesturesNode",
                                                    RPxNode::kThreadedDeviceNode,
                                                    "failed to registerNode kivoGesturesNode"),
    Registration::node<kivo_rova::KivoGrabNode>("kivoGrabNode", RPxNode::kDependNode,
                                                "failed to registerNode kivoGrabNode"),
    Registration::command<kivo_rova::KivoSenseControllerCmd>(
        "kivoSenseController", "failed to registerCommand kivoSenseController"),
    // Rows added later come after the original ones, which keep their order and messages.
    Registration::node<kivo_rova::KivoFilterNode>("kivoFilter", RPxNode::kDependNode,
                                                  "failed to registerNode kivoFilter"),
};

// Unload order is fixed too; every row runs whatever the ones before it answered.
const Registration kUnloadSteps[] = {
    Registration::commandRemoval("kivoSenseController",
                                 "failed to deregisterCommand kivoSenseController"),
    Registration::nodeRemoval<kivo_rova::KivoTransformNode>(
        "failed to deregisterNode kivoTransformNode"),
    Registration::nodeRemoval<kivo_rova::KivoAttractorNode>(
        "failed to deregisterNode kivoAttractorNode"),
    Registration::nodeRemoval<kivo_rova::KivoDeformerNode>(
        "failed to deregisterNode kivoDeformerNode"),
    Registration::nodeRemoval<kivo_rova::RealTimeNode>("failed to deregisterNode realTimeNode"),
    Registration::nodeRemoval<kivo_rova::TimeRotateNode>("failed to deregisterNode timeRotateNode"),
    Registration::nodeRemoval<kivo_rova::KivoGesturesNode>("deregisterNode KivoGesturesNode"),
    Registration::nodeRemoval<kivo_rova::KivoGrabNode>("deregisterNode KivoGrabNode"),
    Registration::nodeRemoval<kivo_rova::KivoFilterNode>("failed to deregisterNode kivoFilter"),
};

}  // namespace

#if defined(__clang__)
// The host's entry-point signatures return its status class by value.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif

ROVA_PLUGIN_EXPORT const char RApiVersion[] = "201400";

ROVA_PLUGIN_EXPORT RStatus initializePlugin(RObject plugin) {
    std::fputs("Registering Kivo nodes...", stderr);
    RFnPlugin fnPlugin(plugin, kVendor, kVersion, kRequiredApi);

    RStatus status;
    for (const Registration& step : std::span(kLoadSteps)) {
        status = step.perform(fnPlugin);
        if (status.error()) {
            status.perror(step.failureMessage);
            return RStatus::kFailure;
        }
    }
    std::fputs(" done.\n", stderr);
    return status;
}

ROVA_PLUGIN_EXPORT RStatus uninitializePlugin(RObject plugin) {
    std::fputs("Unregistering Kivo nodes...\n", stderr);
    RFnPlugin fnPlugin(plugin, "Unknown", "Unknown", kRequiredApi);

    for (const Registration& step : std::span(kUnloadSteps)) {
        const RStatus status = step.perform(fnPlugin);
        if (status.error()) {
            status.perror(step.failureMessage);
        }
    }
    std::fputs(" done.\n", stderr);
    return RStatus::kSuccess;
}

#if defined(__clang__)
#pragma clang diagnostic pop
#endif
