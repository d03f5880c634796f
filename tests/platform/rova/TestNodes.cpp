#include "TestNodes.h"

#include <chrono>
#include <stdexcept>

namespace rova_test {

RObject AddNode::a, AddNode::b, AddNode::sum, AddNode::offset, AddNode::doubled, AddNode::quirk,
    AddNode::mode, AddNode::label, AddNode::matrixIn, AddNode::flag, AddNode::points;
int AddNode::computeCount = 0;

RStatus AddNode::initialize() {
    RFnNumericAttribute numeric;
    RFnEnumAttribute enumeration;
    RFnTypedAttribute typed;
    RFnMatrixAttribute matrix;
    a = numeric.create("a", "a", RFnNumericData::kDouble, 1.0);
    b = numeric.create("b", "b", RFnNumericData::kDouble, 2.0);
    sum = numeric.create("sum", "s", RFnNumericData::kDouble, 0.0);
    numeric.setWritable(false);
    numeric.setStorable(false);
    RObject ox = numeric.create("offsetX", "ox", RFnNumericData::kDouble, 0.0);
    RObject oy = numeric.create("offsetY", "oy", RFnNumericData::kDouble, 0.0);
    RObject oz = numeric.create("offsetZ", "oz", RFnNumericData::kDouble, 0.0);
    offset = numeric.create("offset", "off", ox, oy, oz);
    numeric.setDefault(1.0, 2.0, 3.0);
    doubled = numeric.create("doubled", "dbl", RFnNumericData::k3Double, 0.0);
    numeric.setWritable(false);
    quirk = numeric.create("quirk", "q", RFnNumericData::kDouble, 0.0);
    flag = numeric.create("flag", "fl", RFnNumericData::kBoolean, 0.0);
    mode = enumeration.create("mode", "md", 0);
    enumeration.addField("slow", 0);
    enumeration.addField("fast", 1);
    label = typed.create("label", "lb", RFnData::kString);
    typed.setDefault("none");
    matrixIn = matrix.create("matrixIn", "mi");
    points = numeric.create("points", "pts", RFnNumericData::kDouble, 0.0);
    numeric.setArray(true);
    for (const RObject* attribute :
         {&a, &b, &sum, &offset, &doubled, &quirk, &flag, &mode, &label, &matrixIn, &points}) {
        RStatus status = addAttribute(*attribute);
        if (!status)
            return status;
    }
    for (const auto& [from, to] :
         {std::pair{&a, &sum}, std::pair{&b, &sum}, std::pair{&offset, &doubled}}) {
        RStatus status = attributeAffects(*from, *to);
        if (!status)
            return status;
    }
    return RStatus::kSuccess;
}

RStatus AddNode::compute(const RPlug& plug, RDataBlock& block) {
    ++computeCount;
    if (plug == sum) {
        const double total = block.inputValue(a).asDouble() + block.inputValue(b).asDouble();
        RDataHandle out = block.outputValue(sum);
        out.set(total);
        out.setClean();
        return RStatus::kSuccess;
    }
    if (plug == doubled) {
        const double3& in = block.inputValue(offset).asDouble3();
        RDataHandle out = block.outputValue(doubled);
        out.set(in[0] * 2.0, in[1] * 2.0, in[2] * 2.0);
        block.setClean(plug);
        return RStatus::kSuccess;
    }
    return RStatus::kUnknownParameter;
}

RObject BrokenNode::input, BrokenNode::throws, BrokenNode::fails, BrokenNode::declines;

RStatus BrokenNode::initialize() {
    RFnNumericAttribute numeric;
    input = numeric.create("input", "in", RFnNumericData::kDouble, 0.0);
    throws = numeric.create("throws", "th", RFnNumericData::kDouble, 7.0);
    fails = numeric.create("fails", "fa", RFnNumericData::kDouble, 7.0);
    declines = numeric.create("declines", "de", RFnNumericData::kDouble, 7.0);
    for (const RObject* attribute : {&input, &throws, &fails, &declines}) addAttribute(*attribute);
    for (const RObject* output : {&throws, &fails, &declines}) attributeAffects(input, *output);
    return RStatus::kSuccess;
}

RStatus BrokenNode::compute(const RPlug& plug, RDataBlock&) {
    if (plug == throws)
        throw std::runtime_error("kaput");
    if (plug == fails)
        return RStatus::kFailure;
    return RStatus::kUnknownParameter;
}

RObject PulseNode::value, PulseNode::gain;
PulseNode* PulseNode::last = nullptr;
std::atomic<long> PulseNode::feed{0};

RStatus PulseNode::initialize() {
    RFnNumericAttribute numeric;
    gain = numeric.create("gain", "gn", RFnNumericData::kDouble, 1.0);
    value = numeric.create("value", "va", RFnNumericData::kDouble, -1.0);
    numeric.setWritable(false);
    addAttribute(gain);
    addAttribute(value);
    attributeAffects(gain, value);
    attributeAffects(live, value);
    return RStatus::kSuccess;
}

void PulseNode::postConstructor() {
    RObjectArray refresh;
    refresh.append(value);
    setRefreshOutputAttributes(refresh);
    createMemoryPools(poolSlots, 1, sizeof(long));
}

void PulseNode::runDeviceThread() {
    setDone(false);
    long counter = 0;
    const bool fromFeed = readsFeed.load();
    RCharBuffer kept;
    if (keepsLastSlot)
        acquireDataStorage(kept);
    while (!isDone()) {
        nameLengthSeen = name().length();
        if (!isLive())
            continue;
        const long next = fromFeed ? feed.load() : counter + 1;
        if (fromFeed && next == counter) {
            ++passesSeen;
            continue;
        }
        RCharBuffer buffer;
        if (!acquireDataStorage(buffer))
            continue;
        beginThreadLoop();
        *reinterpret_cast<long*>(buffer.ptr()) = counter = next;
        pushThreadData(buffer);
        {
            std::lock_guard lock(m_pushMutex);
            lastPushed = counter;
        }
        m_pushed.notify_all();
        endThreadLoop();
        ++passesSeen;
    }
    setDone(true);
}

bool PulseNode::waitForPush(long pushed) {
    std::unique_lock lock(m_pushMutex);
    return m_pushed.wait_for(lock, std::chrono::seconds(30),
                             [&] { return lastPushed.load() == pushed; });
}

RStatus PulseNode::compute(const RPlug& plug, RDataBlock& block) {
    if (plug != value)
        return RStatus::kUnknownParameter;
    RCharBuffer buffer;
    if (!popThreadData(buffer))
        return RStatus::kFailure;
    const long counter = *reinterpret_cast<const long*>(buffer.ptr());
    RDataHandle out = block.outputValue(value);
    out.set(static_cast<double>(counter) * block.inputValue(gain).asDouble());
    out.setClean();
    releaseDataStorage(buffer);
    return RStatus::kSuccess;
}

RStatus initializeTestPlugin(RObject plugin) {
    RFnPlugin fn(plugin, "Tests", "1");
    RStatus status =
        fn.registerNode("testAdd", RTypeId(kAddId), AddNode::create, AddNode::initialize);
    if (status)
        status = fn.registerNode("testBroken", RTypeId(kBrokenId), BrokenNode::create,
                                 BrokenNode::initialize);
    if (status)
        status = fn.registerNode("testPulse", RTypeId(kPulseId), PulseNode::create,
                                 PulseNode::initialize, RPxNode::kThreadedDeviceNode);
    return status;
}

RStatus uninitializeTestPlugin(RObject plugin) {
    RFnPlugin fn(plugin);
    for (unsigned id : {kAddId, kBrokenId, kPulseId}) {
        RStatus status = fn.deregisterNode(RTypeId(id));
        if (!status)
            status.perror("deregisterNode");
    }
    return RStatus::kSuccess;
}

}  // namespace rova_test
