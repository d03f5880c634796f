// A small plug-in that exercises the program's side of the host API: commands with results and
// undo, statements run through RGlobal::executeCommand and the idle queue, UI procedures.
#include <rova/Rova.h>

#include <string>

namespace {

// probeRun TEXT [-display] [-undo]: runs TEXT through RGlobal::executeCommand; the result is
// the statements' result text, or "failed: DESCRIPTION".
class ProbeRun : public RPxCommand {
  public:
    static void* create() { return new ProbeRun; }
    RStatus runCommand(const RArgList& args) override {
        if (args.length() == 0)
            return RStatus(RStatus::kInvalidParameter, "probeRun needs TEXT");
        bool display = false;
        bool undoable = false;
        for (unsigned i = 1; i < args.length(); ++i) {
            display = display || args.asString(i) == "-display";
            undoable = undoable || args.asString(i) == "-undo";
        }
        RString result;
        const RStatus status = RGlobal::executeCommand(args.asString(0), result, display, undoable);
        setResult(status ? result : RString("failed: ") + status.errorString());
        return RStatus();
    }
};

// probeQueue TEXT: queues TEXT for the next idle point.
class ProbeQueue : public RPxCommand {
  public:
    static void* create() { return new ProbeQueue; }
    RStatus runCommand(const RArgList& args) override {
        return RGlobal::executeCommandOnIdle(args.asString(0));
    }
};

// probeCount [-fail]: an undoable counter; prints the count after each call.
int g_count = 0;
class ProbeCount : public RPxCommand {
  public:
    static void* create() { return new ProbeCount; }
    RStatus runCommand(const RArgList& args) override {
        if (args.length() > 0 && args.asString(0) == "-fail")
            return RStatus(RStatus::kFailure, "asked to fail");
        return redoCommand();
    }
    RStatus redoCommand() override {
        setResult(++g_count);
        return RStatus();
    }
    RStatus undoCommand() override {
        --g_count;
        return RStatus();
    }
    bool canUndo() const override { return true; }
};

// probeWords ...: echoes the words it received, one "[word]" each; probeTypes: a bool and a
// double result.
class ProbeWords : public RPxCommand {
  public:
    static void* create() { return new ProbeWords; }
    RStatus runCommand(const RArgList& args) override {
        RString text;
        for (unsigned i = 0; i < args.length(); ++i) text = text + "[" + args.asString(i) + "]";
        setResult(text);
        return RStatus();
    }
};

class ProbeFlag : public RPxCommand {
  public:
    static void* create() { return new ProbeFlag; }
    RStatus runCommand(const RArgList& args) override {
        if (args.length() > 0 && args.asString(0) == "-double") {
            setResult(0.1);
        } else {
            setResult(args.length() > 0 && args.asString(0) == "-yes");
        }
        return RStatus();
    }
};

const char* const kCommands[] = {"probeRun", "probeQueue", "probeCount", "probeWords", "probeFlag"};

}  // namespace

ROVA_PLUGIN_EXPORT const char RApiVersion[] = "201400";

ROVA_PLUGIN_EXPORT RStatus initializePlugin(RObject plugin) {
    RFnPlugin fn(plugin, "Probe", "1");
    RStatus status = fn.registerCommand("probeRun", ProbeRun::create);
    if (status)
        status = fn.registerCommand("probeQueue", ProbeQueue::create);
    if (status)
        status = fn.registerCommand("probeCount", ProbeCount::create);
    if (status)
        status = fn.registerCommand("probeWords", ProbeWords::create);
    if (status)
        status = fn.registerCommand("probeFlag", ProbeFlag::create);
    if (status)
        status = fn.registerUI("probeCreateUI", "probeDeleteUI");
    return status;
}

ROVA_PLUGIN_EXPORT RStatus uninitializePlugin(RObject plugin) {
    RFnPlugin fn(plugin);
    for (const char* name : kCommands) fn.deregisterCommand(name);
    return RStatus();
}
