#pragma once
// Fault injection: whether a fault is armed for a call, and the error it produces.
#include <string>

#include "rova/RStatus.h"
#include "rovahost/FaultPoint.h"

namespace rova::detail {

// Fault injection and the error it produces. faultsArmed is cheap: a call that must build its
// subject asks it first.
bool faultsArmed();
bool faultArmed(host::FaultPoint point, const std::string& subject);
// Subject of an attribute set-up call: "TYPE.attribute" while a node type initialises (so a
// fault can target one type), the attribute alone otherwise.
std::string setupSubject(const std::string& attribute);
RStatus injectedFailure(host::FaultPoint point, const std::string& subject);

}  // namespace rova::detail
