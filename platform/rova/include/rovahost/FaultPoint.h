#pragma once
// The host API calls that can be made to fail on demand (`fault CALL`). One table serves the calls
// that check it and the command that arms it, so only a point some code checks can be named.
#include <array>
#include <optional>
#include <string_view>

namespace rova::host {

enum class FaultPoint {
    kRegisterNode,
    kDeregisterNode,
    kRegisterCommand,
    kDeregisterCommand,
    kRegisterUI,
    kCreate,  // attribute creation
    kSetKeyable,
    kSetStorable,
    kSetHidden,
    kSetWritable,
    kSetReadable,
    kSetConnectable,
    kSetArray,
    kSetDefault,
    kAddField,
    kAddAttribute,
    kAttributeAffects,
    kSetRefreshOutputAttributes,
    kCreateMemoryPools,
    kAcquireDataStorage,
    kOutputValue,
    kOutputArrayValue,
    kJumpToElement,
    kActive3dView,
    kGetCamera,
    kIntersect,
};

struct FaultPointName {
    FaultPoint point;
    std::string_view name;  // the host API call's own name
};

inline constexpr std::array<FaultPointName, 26> kFaultPoints{{
    {FaultPoint::kRegisterNode, "registerNode"},
    {FaultPoint::kDeregisterNode, "deregisterNode"},
    {FaultPoint::kRegisterCommand, "registerCommand"},
    {FaultPoint::kDeregisterCommand, "deregisterCommand"},
    {FaultPoint::kRegisterUI, "registerUI"},
    {FaultPoint::kCreate, "create"},
    {FaultPoint::kSetKeyable, "setKeyable"},
    {FaultPoint::kSetStorable, "setStorable"},
    {FaultPoint::kSetHidden, "setHidden"},
    {FaultPoint::kSetWritable, "setWritable"},
    {FaultPoint::kSetReadable, "setReadable"},
    {FaultPoint::kSetConnectable, "setConnectable"},
    {FaultPoint::kSetArray, "setArray"},
    {FaultPoint::kSetDefault, "setDefault"},
    {FaultPoint::kAddField, "addField"},
    {FaultPoint::kAddAttribute, "addAttribute"},
    {FaultPoint::kAttributeAffects, "attributeAffects"},
    {FaultPoint::kSetRefreshOutputAttributes, "setRefreshOutputAttributes"},
    {FaultPoint::kCreateMemoryPools, "createMemoryPools"},
    {FaultPoint::kAcquireDataStorage, "acquireDataStorage"},
    {FaultPoint::kOutputValue, "outputValue"},
    {FaultPoint::kOutputArrayValue, "outputArrayValue"},
    {FaultPoint::kJumpToElement, "jumpToElement"},
    {FaultPoint::kActive3dView, "active3dView"},
    {FaultPoint::kGetCamera, "getCamera"},
    {FaultPoint::kIntersect, "intersect"},
}};

// Each row sits at its enumerator's place, so a name is found by index.
static_assert([] {
    for (std::size_t k = 0; k < kFaultPoints.size(); ++k)
        if (static_cast<std::size_t>(kFaultPoints[k].point) != k)
            return false;
    return true;
}());

constexpr std::string_view faultPointName(FaultPoint point) {
    return kFaultPoints[static_cast<std::size_t>(point)].name;
}

constexpr std::optional<FaultPoint> faultPointNamed(std::string_view name) {
    for (const auto& row : kFaultPoints)
        if (row.name == name)
            return row.point;
    return std::nullopt;
}

}  // namespace rova::host
