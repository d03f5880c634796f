#pragma once
#include "rova/RFn.h"
#include "rova/RObject.h"
#include "rova/RStatus.h"
#include "rova/RString.h"

// A function set for any node: its name and type. A function set without a node, or whose node
// was deleted, answers every call with a failure status and empty results. Function sets on nodes
// are for the main thread (compute, commands); from a data thread they find no node.
class ROVA_API RFnDependencyNode {
  public:
    RFnDependencyNode() noexcept = default;
    explicit RFnDependencyNode(const RObject& node, RStatus* status = nullptr);
    virtual ~RFnDependencyNode() = default;

    // Attaches the function set to a node; fails (leaving it unattached) when the object is not a
    // node this function set works on.
    virtual RStatus setObject(const RObject& node);
    RObject object(RStatus* status = nullptr) const;
    RString name(RStatus* status = nullptr) const;
    RString typeName(RStatus* status = nullptr) const;
    // Whether the node is of that kind (a mesh node is also a kDagNode and a kDependencyNode).
    bool hasFn(RFn::Type type) const noexcept;

  protected:
    RObject m_object;
};
