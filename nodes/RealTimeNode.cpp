#include "nodes/RealTimeNode.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "host/SetupReport.h"

namespace kivo_rova {
namespace {

// One sample handed from the data thread to compute through a pool slot.
struct RealTimeRecord {
    double elapsed;  // seconds since the timer started
    double delta;    // elapsed minus the previous record's elapsed in the same run
};
static_assert(sizeof(RealTimeRecord) == 16);
static_assert(std::is_trivially_copyable_v<RealTimeRecord>);

constexpr unsigned int kPoolSlots = 5;
constexpr unsigned int kPoolBuffers = 1;

// The platform's high-resolution counter: ticks of a monotonic clock and their frequency.
using CounterClock = std::chrono::steady_clock;

std::int64_t counterFrequency() {
    return static_cast<std::int64_t>(CounterClock::period::den / CounterClock::period::num);
}

std::int64_t counterValue() {
    return static_cast<std::int64_t>(CounterClock::now().time_since_epoch().count());
}

// Stopwatch over the counter, lives on the data thread's stack for one run.
class HighResolutionTimer {
  public:
    explicit HighResolutionTimer(bool startNow) : m_frequency(counterFrequency()) {
        if (startNow) {
            start();
        }
    }

    void start() {
        m_startCount = counterValue();
        m_startMicroseconds = static_cast<double>(m_startCount) * microsecondsPerCount();
    }

    double elapsedMicroseconds() {
        m_endCount = counterValue();
        m_endMicroseconds = static_cast<double>(m_endCount) * microsecondsPerCount();
        return m_endMicroseconds - m_startMicroseconds;
    }

    double elapsedSeconds() { return elapsedMicroseconds() * 0.000001; }

  private:
    double microsecondsPerCount() const { return 1000000.0 / static_cast<double>(m_frequency); }

    double m_startMicroseconds = 0.0;
    double m_endMicroseconds = 0.0;
    std::int64_t m_frequency = 0;
    std::int64_t m_startCount = 0;
    std::int64_t m_endCount = 0;
};

}  // namespace

const RTypeId RealTimeNode::id{0x77784};

RObject RealTimeNode::rate;
RObject RealTimeNode::deltaTime;
RObject RealTimeNode::elapsedTime;

RealTimeNode::~RealTimeNode() {
    destroyMemoryPools();
}

void* RealTimeNode::createInstance() {
    return static_cast<RPxNode*>(new RealTimeNode);
}

RStatus RealTimeNode::initializeAttributes() {
    RFnNumericAttribute numeric;

    rate = numeric.create("rate", "rt", RFnNumericData::kDouble, 1.0);
    checkConfigure(numeric.setKeyable(true));
    checkConfigure(numeric.setStorable(true));
    checkConfigure(numeric.setHidden(false));
    if (!addAttributeOrReport(rate, "rate")) {
        return RStatus::kFailure;
    }

    deltaTime = numeric.create("deltaTime", "dt", RFnNumericData::kDouble, 0.0);
    checkConfigure(numeric.setWritable(false));
    checkConfigure(numeric.setStorable(false));
    checkConfigure(numeric.setHidden(false));
    if (!addAttributeOrReport(deltaTime, "deltaTime")) {
        return RStatus::kFailure;
    }

    elapsedTime = numeric.create("elapsedTime", "et", RFnNumericData::kDouble, 0.0);
    checkConfigure(numeric.setWritable(false));
    checkConfigure(numeric.setStorable(false));
    checkConfigure(numeric.setHidden(false));
    if (!addAttributeOrReport(elapsedTime, "elapsedTime")) {
        return RStatus::kFailure;
    }

    if (!attributeAffectsOrReport(rate, "rate", elapsedTime, "elapsedTime") ||
        !attributeAffectsOrReport(elapsedTime, "elapsedTime", deltaTime, "deltaTime")) {
        return RStatus::kFailure;
    }
    return RStatus::kSuccess;
}

void RealTimeNode::postConstructor() {
    RObjectArray refreshAttributes;
    refreshAttributes.append(elapsedTime);
    const RStatus status = setRefreshOutputAttributes(refreshAttributes);
    if (status.error()) {
        status.perror("setRefreshOutputAttributes");
    }
    createMemoryPools(kPoolSlots, kPoolBuffers, sizeof(RealTimeRecord));
}

void RealTimeNode::runDeviceThread() {
    setDone(false);
    HighResolutionTimer timer(false);
    timer.start();
    double previous = 0.0;

    while (!isDone()) {
        if (!isLive()) {
            continue;
        }
        RCharBuffer buffer;
        if (acquireDataStorage(buffer).error()) {
            continue;
        }
        beginThreadLoop();
        if (buffer.ptr() == nullptr) {
            releaseDataStorage(buffer);
        } else {
            const double now = timer.elapsedSeconds();
            const RealTimeRecord record{now, now - previous};
            std::memcpy(buffer.ptr(), &record, sizeof record);
            previous = now;
            pushThreadData(buffer);
        }
        endThreadLoop();
    }
    setDone(true);
}

void RealTimeNode::stopDeviceThread() {
    setDone(true);
}

RStatus RealTimeNode::compute(const RPlug& plug, RDataBlock& data) {
    if (plug != elapsedTime && plug != deltaTime) {
        return RStatus::kUnknownParameter;
    }
    RCharBuffer buffer;
    if (popThreadData(buffer).error()) {
        return RStatus::kFailure;
    }
    if (buffer.ptr() == nullptr) {
        releaseDataStorage(buffer);
        return RStatus::kFailure;
    }

    RealTimeRecord record{};
    std::memcpy(&record, buffer.ptr(), sizeof record);
    const double scale = data.inputValue(rate).asDouble();
    record.delta *= scale;
    record.elapsed *= scale;

    RStatus status;
    RDataHandle elapsedHandle = data.outputValue(elapsedTime, &status);
    if (status.error()) {
        status.perror("Error in output for elapsedTime");
        releaseDataStorage(buffer);
        return RStatus::kFailure;
    }
    elapsedHandle.set(record.elapsed);
    elapsedHandle.setClean();

    RDataHandle deltaHandle = data.outputValue(deltaTime, &status);
    if (status.error()) {
        status.perror("Error in output for deltaTime");
        releaseDataStorage(buffer);
        return RStatus::kFailure;
    }
    deltaHandle.set(record.delta);
    deltaHandle.setClean();

    data.setClean(plug);
    releaseDataStorage(buffer);
    return RStatus::kSuccess;
}

}  // namespace kivo_rova
