#pragma once
// Helpers shared by the host's units: plug values to and from stored values, and message text.
#include <string>
#include <vector>

#include "model/Attributes.h"
#include "model/NodeRecords.h"
#include "model/Values.h"
#include "rovahost/Host.h"

namespace rova::host {

// The largest element index a plug name may carry (node.attribute[N]).
constexpr std::int64_t kMaxElementIndex = 1000000;

// A stored value as a plug value of the attribute's type.
PlugValue toPlugValue(const detail::AttributeDef& def, const detail::Value& value);
// A plug value converted to the attribute's type; false (with the reason in error) on a mismatch.
bool fromPlugValue(const detail::AttributeDef& def, const PlugValue& in, detail::Value& out,
                   std::string& error);
// The plug's current stored value, without evaluating it (a whole array as an array value).
PlugValue readPlugValue(const detail::PlugRef& plug);

std::vector<std::filesystem::path> defaultPluginPath();
std::vector<std::filesystem::path> defaultScriptPath();

inline std::string joinNames(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

// A child of a compound of three numbers (translateX of translate).
inline bool isChildOf3(const detail::AttributeDef& def) {
    return def.parent && def.parent->type == detail::ValueType::kDouble3;
}

}  // namespace rova::host
