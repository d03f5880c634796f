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

// probeNode: calls the attribute set-up and data-block API that the Kivo nodes leave out, and
// reports every failure through its status, so each of the host's fault points can be seen firing.
class ProbeNode : public RPxNode {
  public:
    static RObject mode, in, out, outs;
    static void* create() { return new ProbeNode; }
    static void check(const RStatus& status, const char* what) {
        if (!status)
            status.perror(what);
    }
    static RStatus initialize() {
        RFnEnumAttribute enumeration;
        mode = enumeration.create("mode", "md", 0);
        check(enumeration.addField("first", 0), "addField");
        RFnNumericAttribute numeric;
        in = numeric.create("in", "in", RFnNumericData::kDouble, 1.0);
        check(numeric.setReadable(true), "setReadable");
        check(numeric.setConnectable(true), "setConnectable");
        out = numeric.create("out", "out", RFnNumericData::kDouble, 0.0);
        numeric.setWritable(false);
        outs = numeric.create("outs", "outs", RFnNumericData::kDouble, 0.0);
        check(numeric.setArray(true), "setArray");
        numeric.setWritable(false);
        for (const RObject& attribute : {mode, in, out, outs}) addAttribute(attribute);
        attributeAffects(in, out);
        attributeAffects(in, outs);
        return RStatus();
    }
    RStatus compute(const RPlug& plug, RDataBlock& block) override {
        RStatus status;
        if (plug == out) {
            RDataHandle handle = block.outputValue(out, &status);
            check(status, "outputValue");
            if (status)
                handle.set(block.inputValue(in).asDouble());
            block.setClean(out);
            return RStatus();
        }
        if (plug == outs) {
            RArrayDataHandle handle = block.outputArrayValue(outs, &status);
            check(status, "outputArrayValue");
            if (status) {
                check(handle.jumpToElement(0), "jumpToElement");
                handle.setAllClean();
            }
            block.setClean(outs);
            return RStatus();
        }
        return RStatus::kUnknownParameter;
    }
};
RObject ProbeNode::mode, ProbeNode::in, ProbeNode::out, ProbeNode::outs;

// probeThreaded: its data thread asks for one slot as soon as it starts and reports a failure.
class ProbeThreaded : public RPxThreadedDeviceNode {
  public:
    static void* create() { return new ProbeThreaded; }
    static RStatus initialize() { return RStatus(); }
    ~ProbeThreaded() override { destroyMemoryPools(); }
    void postConstructor() override { createMemoryPools(2, 1, sizeof(double)); }
    void runDeviceThread() override {
        RCharBuffer buffer;
        const RStatus status = acquireDataStorage(buffer);
        if (status)
            releaseDataStorage(buffer);
        else
            status.perror("acquireDataStorage");
        while (!isDone()) {
        }
    }
};

// probeView: asks for the active view's camera as a tracking node does, reporting each failing
// call through its status and going on; the result is the camera's eye point and view, up and
// right directions in world space.
class ProbeView : public RPxCommand {
  public:
    static void* create() { return new ProbeView; }
    RStatus runCommand(const RArgList&) override {
        RStatus status;
        R3dView view = R3dView::active3dView(&status);
        if (!status)
            status.perror("Error: R3dView::active3DView");
        RDagPath camera;
        status = view.getCamera(camera);
        if (!status)
            status.perror("Error: R3dView::getCamera");
        RFnCamera fn(camera);
        RString text = camera.fullPathName();
        for (const RVector& v :
             {fn.eyePoint(RSpace::kWorld).asVector(), fn.viewDirection(RSpace::kWorld),
              fn.upDirection(RSpace::kWorld), fn.rightDirection(RSpace::kWorld)}) {
            for (const double c : {v.x, v.y, v.z}) {
                text += " ";
                text += c;
            }
        }
        setResult(text);
        return RStatus();
    }
};

const char* const kCommands[] = {"probeRun",   "probeQueue", "probeCount",
                                 "probeWords", "probeFlag",  "probeView"};

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
        status = fn.registerCommand("probeView", ProbeView::create);
    if (status)
        status = fn.registerUI("probeCreateUI", "probeDeleteUI");
    if (status)
        status = fn.registerNode("probeNode", RTypeId(0x7e5781), ProbeNode::create,
                                 ProbeNode::initialize);
    if (status)
        status = fn.registerNode("probeThreaded", RTypeId(0x7e5782), ProbeThreaded::create,
                                 ProbeThreaded::initialize, RPxNode::kThreadedDeviceNode);
    return status;
}

ROVA_PLUGIN_EXPORT RStatus uninitializePlugin(RObject plugin) {
    RFnPlugin fn(plugin);
    for (const char* name : kCommands) fn.deregisterCommand(name);
    fn.deregisterNode(RTypeId(0x7e5781));
    fn.deregisterNode(RTypeId(0x7e5782));
    return RStatus();
}
