// Writing outputs through a data block, as a node that serves many outputs from one compute does:
// each kind of value through its handle, every output cleaned by its own handle, and the errors
// of asking for an attribute that is not the node's.
#include <string>

#include "HostFixture.h"

namespace {

constexpr unsigned kWriterId = 0x7e5a01;

// One input; its compute writes every output at once, each through its own handle.
class WriterNode : public RPxNode {
  public:
    static RObject input, flag, number, count, vec, vecY, mat;
    static void* create() { return new WriterNode(); }

    static RStatus initialize() {
        RFnNumericAttribute numeric;
        RFnMatrixAttribute matrix;
        input = numeric.create("input", "in", RFnNumericData::kDouble, 0.0);
        flag = numeric.create("flag", "fl", RFnNumericData::kBoolean, 0.0);
        number = numeric.create("number", "nb", RFnNumericData::kDouble, 0.0);
        count = numeric.create("count", "ct", RFnNumericData::kInt, 0.0);
        RObject x = numeric.create("vecX", "vx", RFnNumericData::kDouble, 0.0);
        vecY = numeric.create("vecY", "vy", RFnNumericData::kDouble, 0.0);
        RObject z = numeric.create("vecZ", "vz", RFnNumericData::kDouble, 0.0);
        vec = numeric.create("vec", "v", x, vecY, z);
        numeric.setDefault(4.0, 5.0, 6.0);
        mat = matrix.create("mat", "mt");
        for (const RObject* attribute : {&input, &flag, &number, &count, &vec, &mat}) {
            if (RStatus status = addAttribute(*attribute); !status)
                return status;
        }
        for (const RObject* output : {&flag, &number, &count, &vec, &mat}) {
            if (RStatus status = attributeAffects(input, *output); !status)
                return status;
        }
        return RStatus::kSuccess;
    }

    RStatus compute(const RPlug&, RDataBlock& block) override {
        const double in = block.inputValue(input).asDouble();
        const bool on = in > 0.0;
        RStatus status;
        RDataHandle handle = block.outputValue(flag, &status);
        handle.set(on);  // a flag into a boolean
        handle.setClean();
        handle = block.outputValue(number, &status);
        handle.set(on);  // a flag into a double: converted
        handle.setClean();
        handle = block.outputValue(count, &status);
        handle.set(static_cast<int>(in * 2.0));
        handle.setClean();
        handle = block.outputValue(vecY, &status);  // a child: only its component changes
        handle.set(on);
        handle.setClean();  // cleans the compound it belongs to
        RMatrix m;
        m[3][0] = in;
        handle = block.outputValue(mat, &status);
        handle.setRMatrix(m);
        handle.setClean();
        // Another type's attribute: each call says which and where, and writes nothing.
        handle = block.outputValue(rova_test::AddNode::sum, &status);
        status.perror("outputValue");
        handle.set(true);
        block.inputValue(rova_test::AddNode::sum, &status);
        status.perror("inputValue");
        block.setClean(rova_test::AddNode::sum).perror("setClean");
        // A good call after a failed one clears the status it is given.
        block.outputValue(flag, &status);
        return status;
    }
};

RObject WriterNode::input, WriterNode::flag, WriterNode::number, WriterNode::count, WriterNode::vec,
    WriterNode::vecY, WriterNode::mat;

// A second type that takes the writer's matrix and child attributes too, at other places than the
// writer has them: each type finds a shared attribute where it keeps it.
class SharingWriterNode : public RPxNode {
  public:
    static RObject seed, extra;
    static void* create() { return new SharingWriterNode(); }

    static RStatus initialize() {
        RFnNumericAttribute numeric;
        seed = numeric.create("seed", "sd", RFnNumericData::kDouble, 0.0);
        extra = numeric.create("extra", "ex", RFnNumericData::kInt, 0.0);
        for (const RObject* attribute : {&seed, &extra, &WriterNode::mat, &WriterNode::vec}) {
            if (RStatus status = addAttribute(*attribute); !status)
                return status;
        }
        for (const RObject* output : {&extra, &WriterNode::mat, &WriterNode::vec}) {
            if (RStatus status = attributeAffects(seed, *output); !status)
                return status;
        }
        return RStatus::kSuccess;
    }

    RStatus compute(const RPlug&, RDataBlock& block) override {
        const double in = block.inputValue(seed).asDouble();
        RStatus status;
        RMatrix m;
        m[3][1] = in;
        RDataHandle handle = block.outputValue(WriterNode::mat, &status);
        handle.setRMatrix(m);
        handle.setClean();
        handle = block.outputValue(WriterNode::vecY, &status);
        handle.set(-in);
        handle.setClean();
        handle = block.outputValue(extra, &status);
        handle.set(static_cast<int>(in) + 1);
        handle.setClean();
        return status;
    }
};

RObject SharingWriterNode::seed, SharingWriterNode::extra;

RStatus initializeWriter(RObject plugin) {
    RFnPlugin fn(plugin, "Tests", "1");
    if (RStatus status = fn.registerNode("testWriter", RTypeId(kWriterId), WriterNode::create,
                                         WriterNode::initialize);
        !status)
        return status;
    return fn.registerNode("testSharingWriter", RTypeId(kWriterId + 1), SharingWriterNode::create,
                           SharingWriterNode::initialize);
}

RStatus uninitializeWriter(RObject plugin) {
    RFnPlugin fn(plugin);
    fn.deregisterNode(RTypeId(kWriterId + 1));
    return fn.deregisterNode(RTypeId(kWriterId));
}

}  // namespace

TEST_F(HostTest, OneComputeWritesAndCleansEveryOutputThroughItsHandles) {
    ASSERT_TRUE(host.registerBuiltinPlugin("writer", initializeWriter, uninitializeWriter));
    create("testWriter", "w");
    ASSERT_TRUE(host.setPlug("w.input", {"1.5"}));
    for (const char* output : {"w.flag", "w.number", "w.count", "w.vec", "w.vecY", "w.mat"})
        EXPECT_TRUE(host.isDirty(output).value) << output;

    EXPECT_EQ(get("w.count"), "3");
    const std::string foreign = "'sum' is not an attribute of node 'w'\n";
    EXPECT_EQ(takeStderr(), "outputValue: outputValue: " + foreign + "inputValue: inputValue: " +
                                foreign + "setClean: setClean: " + foreign);
    for (const char* output : {"w.flag", "w.number", "w.count", "w.vec", "w.vecY", "w.mat"})
        EXPECT_FALSE(host.isDirty(output).value) << output << " stays dirty after the compute";
    EXPECT_EQ(get("w.flag"), "true");
    EXPECT_EQ(get("w.number"), "1");
    EXPECT_EQ(get("w.vec"), "4 1 6");
    EXPECT_EQ(get("w.mat"), "1 0 0 0 0 1 0 0 0 0 1 0 1.5 0 0 1");

    ASSERT_TRUE(host.setPlug("w.input", {"-1"}));
    EXPECT_EQ(get("w.vecY"), "0");
    takeStderr();
    EXPECT_EQ(get("w.flag"), "false");
    EXPECT_EQ(get("w.number"), "0");
    EXPECT_EQ(get("w.count"), "-2");
}

TEST_F(HostTest, TypesSharingAnAttributeEachWriteItWhereTheyKeepIt) {
    ASSERT_TRUE(host.registerBuiltinPlugin("writer", initializeWriter, uninitializeWriter));
    create("testWriter", "w");
    create("testSharingWriter", "s");
    ASSERT_TRUE(host.setPlug("w.input", {"1.5"}));
    ASSERT_TRUE(host.setPlug("s.seed", {"2"}));

    EXPECT_EQ(get("s.mat"), "1 0 0 0 0 1 0 0 0 0 1 0 0 2 0 1");
    EXPECT_EQ(get("s.vec"), "4 -2 6");
    EXPECT_EQ(get("s.extra"), "3");
    for (const char* output : {"s.mat", "s.vec", "s.vecY", "s.extra"})
        EXPECT_FALSE(host.isDirty(output).value) << output << " stays dirty after the compute";
    // The writer's own node is untouched by the other type's writes, and writes its own.
    EXPECT_EQ(get("w.mat"), "1 0 0 0 0 1 0 0 0 0 1 0 1.5 0 0 1");
    EXPECT_EQ(get("w.vec"), "4 1 6");
    takeStderr();
}
