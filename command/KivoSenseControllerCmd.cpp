#include "command/KivoSenseControllerCmd.h"

#include <string>

namespace kivo_rova {

namespace {

constexpr int kFloatType = 6;  // the configuration's 32-bit float value type

// What -help answers and helpText gives the host's `help kivoSenseController`.
constexpr const char* kDescription =
    "  kivoSenseController -connected | -focus | -config KEY | -help\n"
    "      Ask the Kivo Sense controller about its state and configuration. Changes nothing and\n"
    "      cannot be undone. Give one flag first; its case does not matter, and words after\n"
    "      -connected, -focus and -help are ignored. A failure shows its message and sets no\n"
    "      result.\n"
    "  -connected\n"
    "      true when the device is plugged in and its service answers, else false\n"
    "  -focus\n"
    "      true when this plug-in's connection has the device service's focus (it receives\n"
    "      frames), else false\n"
    "  -config KEY\n"
    "      the device configuration's value under KEY (for example recognizer.swipe.min_speed),\n"
    "      a 32-bit float widened to a double; a key of any other type, or one the device does\n"
    "      not know, is refused\n"
    "  -help\n"
    "      this description";

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

RString KivoSenseControllerCmd::helpText() const {
    return RString(kDescription);
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
    if (flag == "-help") {
        // Asks nothing of the device, so it opens no connection.
        clearResult();
        setResult(helpText());
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
