#pragma once
// Fault injection: whether a fault is armed for a call, and the error it produces.
#include <atomic>
#include <cstddef>
#include <string>

#include "rova/RStatus.h"
#include "rovahost/FaultPoint.h"

namespace rova::detail {

// Fault injection and the error it produces. faultsArmed is cheap: a call that must build its
// subject asks it first. The count of armed faults (the size of the host's list, read without
// its mutex) lies apart from the host, so that every output write reads it without finding it.
extern std::atomic<std::size_t> armedFaultCount;
inline bool faultsArmed() {
    return armedFaultCount.load(std::memory_order_relaxed) != 0;
}
bool faultArmed(host::FaultPoint point, const std::string& subject);
// Subject of an attribute set-up call: "TYPE.attribute" while a node type initialises (so a
// fault can target one type), the attribute alone otherwise.
std::string setupSubject(const std::string& attribute);
RStatus injectedFailure(host::FaultPoint point, const std::string& subject);

}  // namespace rova::detail
