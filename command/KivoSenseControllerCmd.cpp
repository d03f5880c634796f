#include "command/KivoSenseControllerCmd.h"

#include <string>

namespace kivo_rova {

namespace {

constexpr int kFloatType = 6;  // the configuration's 32-bit float value type

RStatus fail(const RString& message) {
    RGlobal::displayError(message);
    return RStatus::kFailure;
}

}  // namespace

KivoSenseControllerCmd::~KivoSenseControllerCmd() = default;

void* KivoSenseControllerCmd::createInstance() {
    return new KivoSenseControllerCmd();
}

Kivo::Controller& KivoSenseControllerCmd::sharedController() {
    static Kivo::Controller controller;
    return controller;
}

RStatus KivoSenseControllerCmd::undoCommand() {
    return RStatus::kSuccess;
}

bool KivoSenseControllerCmd::canUndo() const {
    return false;
}

RStatus KivoSenseControllerCmd::runCommand(const RArgList& args) {
    if (args.length() == 0) {
        return fail("Need 1 or more arguments.");
    }
    RStatus status;
    const RString word = args.asString(0, &status);
    if (status.error()) {
        return fail("Need a string argument.");
    }
    const RString flag = word.toLowerCase();

    if (flag == "-connected") {
        clearResult();
        const Kivo::Controller controller = sharedController();
        setResult(controller.isConnected());
        return RStatus::kSuccess;
    }
    if (flag == "-focus") {
        clearResult();
        const Kivo::Controller controller = sharedController();
        setResult(controller.hasFocus());
        return RStatus::kSuccess;
    }
    if (flag == "-config") {
        if (args.length() != 2) {
            return fail("'-config' : needs 1 argument.");
        }
        const RString key = args.asString(1, &status);
        if (status.error()) {
            return fail("'-config' : needs a string argument.");
        }
        float value = -1.0F;
        if (getConfigFloat(key, value)) {
            clearResult();
            setResult(static_cast<double>(value));
            return RStatus::kSuccess;
        }
        RString message("'-config' : Failed to retrieve value for specified key: '");
        message += key;
        message += "'";
        return fail(message);
    }
    return fail("Unknown argument.");
}

bool KivoSenseControllerCmd::getConfigFloat(const RString& key, float& value) {
    // The key's characters up to the first NUL, as the SDK takes them.
    const std::string name(key.asChar());
    const int type = [&name] {
        const Kivo::Controller controller = sharedController();
        return static_cast<int>(controller.config().type(name));
    }();
    if (type != kFloatType) {
        RGlobal::displayError("'-config' : Invalid type " + std::to_string(type) +
                              " for specified key: '" + name + "'");
        return false;
    }
    const Kivo::Controller controller = sharedController();
    value = controller.config().getFloat(name);
    return true;
}

}  // namespace kivo_rova
