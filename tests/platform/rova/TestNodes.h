#pragma once
// Node types the runtime's tests register through the public host API, as a plug-in would.
#include <rova/Rova.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace rova_test {

// sum = a + b; doubled = offset * 2. `quirk` affects nothing on purpose.
class AddNode : public RPxNode {
  public:
    static RObject a, b, sum, offset, doubled, quirk, mode, label, matrixIn, flag, points;
    static int computeCount;
    static void* create() { return new AddNode(); }
    static RStatus initialize();
    RStatus compute(const RPlug& plug, RDataBlock& block) override;
};

// Each output fails in its own way: `throws` throws, `fails` returns failure,
// `declines` answers "not computed here".
class BrokenNode : public RPxNode {
  public:
    static RObject input, throws, fails, declines;
    static void* create() { return new BrokenNode(); }
    static RStatus initialize();
    RStatus compute(const RPlug& plug, RDataBlock& block) override;
};

// A threaded device node whose data thread pushes a running counter; compute pops the newest.
class PulseNode : public RPxThreadedDeviceNode {
  public:
    static RObject value, gain;
    static PulseNode* last;  // the most recently created instance
    static void* create() { return last = new PulseNode(); }
    static RStatus initialize();
    ~PulseNode() override { destroyMemoryPools(); }
    void postConstructor() override;
    void runDeviceThread() override;
    RStatus compute(const RPlug& plug, RDataBlock& block) override;
    unsigned int poolSlots = 3;
    // The data thread reads its node's name as it runs, as a node naming itself in messages does.
    std::atomic<std::size_t> nameLengthSeen{0};
    std::atomic<std::size_t> passesSeen{0};  // loop passes that ended
    std::atomic<long> lastPushed{0};
    // Waits (at most 30 s) until the data thread has pushed `pushed`; false if it did not.
    bool waitForPush(long pushed);
    // Set before the node goes live, the loop reads `feed` as a device's reader would: it pushes
    // feed's value once each time it changes, and nothing otherwise.
    std::atomic<bool> readsFeed{false};
    // Set before the node goes live, the loop takes one slot first and holds it unpushed until it
    // ends, as a loop stopped halfway through filling a record does.
    std::atomic<bool> keepsLastSlot{false};
    static std::atomic<long> feed;

  private:
    std::mutex m_pushMutex;
    std::condition_variable m_pushed;
};

RStatus initializeTestPlugin(RObject plugin);
RStatus uninitializeTestPlugin(RObject plugin);
constexpr unsigned kAddId = 0x7e5701, kBrokenId = 0x7e5702, kPulseId = 0x7e5703;

}  // namespace rova_test
