#pragma once
// Reporting for node types' initializeAttributes. Two kinds of failure exist there:
//  - a configuring call (flag setters, setDefault, addField) failed: the error is reported with
//    the source unit and line of the call and set-up goes on;
//  - creating or adding an attribute, or declaring a dependency, failed: the status reports the
//    operation and set-up returns failure.
#include "host/HostApi.h"

namespace kivo_rova {

// Writes "\nAPI error detected in UNIT at line N\n" to standard error, then the status's own
// report. UNIT is the stem of the source file (by convention the class it defines).
void reportConfigureFailure(const RStatus& status, const char* file, unsigned int line);

// Wrap a configuring call made during set-up, on one line, so that the reported line is the
// call's own (the defaults take the caller's position):
//     checkConfigure(fn.setKeyable(true));
inline void checkConfigure(const RStatus& status, const char* file = __builtin_FILE(),
                           unsigned int line = __builtin_LINE()) {
    if (status.error()) {
        reportConfigureFailure(status, file, line);
    }
}

// Message "MESSAGE", and set-up goes on: for the failures a node type tolerates.
void reportAndContinue(const RStatus& status, const char* message);

// The following report a failure through the status with the operation's own message and
// answer false, so that initializeAttributes can stop with `return RStatus::kFailure`.

// Message "MESSAGE", e.g. "create time".
[[nodiscard]] bool succeededOrReport(const RStatus& status, const char* message);
// RPxNode::addAttribute; message "addAttribute: LONGNAME".
[[nodiscard]] bool addAttributeOrReport(const RObject& attribute, const char* longName);
// RPxNode::attributeAffects; message "attributeAffects:SOURCE->DESTINATION".
[[nodiscard]] bool attributeAffectsOrReport(const RObject& source, const char* sourceName,
                                            const RObject& destination,
                                            const char* destinationName);

}  // namespace kivo_rova
