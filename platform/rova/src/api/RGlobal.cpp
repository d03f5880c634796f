// RGlobal: host services a plug-in calls (commands now or when idle, messages).
#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <sstream>

#include "HostImpl.h"
#include "rova/RGlobal.h"

// ---------------------------------------------------------------- RGlobal
RStatus RGlobal::executeCommand(const RString& command, bool display, bool undoable) {
    RString ignored;
    return executeCommand(command, ignored, display, undoable);
}

RStatus RGlobal::executeCommand(const RString& command, RString& result, bool display,
                                bool undoable) {
    auto& host = rova::detail::hostImpl();
    if (!host.executor)
        return RStatus(RStatus::kFailure, "executeCommand: no command interpreter is running");
    std::string text;
    bool ok = false;
    try {
        ok = host.executor(command.str(), display, undoable, &text);
    } catch (const std::exception& e) {
        return RStatus(RStatus::kFailure, std::string("executeCommand: ") + e.what());
    }
    result = RString(text);
    if (!ok)
        return RStatus(RStatus::kFailure, "executeCommand: the command failed: " + command.str());
    return RStatus();
}

RStatus RGlobal::executeCommandOnIdle(const RString& command, bool display) {
    rova::detail::hostImpl().idleQueue.push(command.str(), display,
                                            rova::host::Host::kIdleCoalesceAt);
    return RStatus();
}

void RGlobal::displayError(const RString& message) {
    std::cerr << ("error: " + message.str() + "\n") << std::flush;
}
void RGlobal::displayWarning(const RString& message) {
    std::cerr << ("warning: " + message.str() + "\n") << std::flush;
}
void RGlobal::displayInfo(const RString& message) {
    std::cerr << ("info: " + message.str() + "\n") << std::flush;
}
