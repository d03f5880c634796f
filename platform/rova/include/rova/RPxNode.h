#pragma once
#include <cstddef>
#include <new>

#include "rova/RDataBlock.h"
#include "rova/RObject.h"
#include "rova/RPlug.h"
#include "rova/RStatus.h"
#include "rova/RString.h"
#include "rova/RTypeId.h"

namespace rova::detail {
struct NodeAccess;
class NodeRecord;
}  // namespace rova::detail

// Base of every node a plug-in defines. The host creates nodes through the creator
// registered with the type, then calls postConstructor; it destroys them on the main thread.
class ROVA_API RPxNode {
  public:
    // Node kinds, as passed to RFnPlugin::registerNode.
    enum Type { kDependNode = 0, kLocatorNode = 1, kDeformerNode = 2, kThreadedDeviceNode = 20 };

    RPxNode();
    // Called by the host on the main thread, after every data thread of the node has ended.
    virtual ~RPxNode();
    // Called once after construction, when the node has its name and attributes. Derived
    // classes may call host API functions that need the node here (not in the constructor).
    virtual void postConstructor();
    // Computes the requested plug from the block's inputs and must set it clean. Return
    // kUnknownParameter for a plug the node does not compute (its stored value then serves);
    // any other failure leaves the stored value and the plug dirty. Main thread only.
    virtual RStatus compute(const RPlug& plug, RDataBlock& dataBlock);

    RObject thisRObject() const noexcept;
    RString name() const;
    RTypeId typeId() const;
    RString typeName() const;

    // Only valid inside the type's initialize function.
    static RStatus addAttribute(const RObject& attribute);
    static RStatus attributeAffects(const RObject& whenChanges, const RObject& isAffected);

    RPxNode(const RPxNode&) = delete;
    RPxNode& operator=(const RPxNode&) = delete;

    // Nodes are made by the host's own allocator, in creation order, next to the records of the
    // scene: a walk over a large graph then finds each node's object where it finds its values.
    static void* operator new(std::size_t bytes);
    static void operator delete(void* node, std::size_t bytes) noexcept;
    // A node type aligned beyond a cache line is made apart, as any over-aligned object is.
    static void* operator new(std::size_t bytes, std::align_val_t alignment);
    static void operator delete(void* node, std::size_t bytes, std::align_val_t alignment) noexcept;

  private:
    friend struct rova::detail::NodeAccess;
    rova::detail::NodeRecord* m_record = nullptr;
};
