#pragma once
#include <vector>

#include "rova/RFn.h"
#include "rova/RObject.h"
#include "rova/RStatus.h"

// Walks the nodes of the scene in creation order, all of them or those of one kind. It walks the
// nodes that existed when it was made (or reset); a node deleted since is skipped. Main thread
// only.
class ROVA_API RItDependencyNodes {
  public:
    explicit RItDependencyNodes(RFn::Type filter = RFn::kDependencyNode, RStatus* status = nullptr);
    bool isDone(RStatus* status = nullptr) const;
    RStatus next();
    // The current node; the null object (and a failure) when the walk is done.
    RObject thisNode(RStatus* status = nullptr) const;
    RStatus reset();

  private:
    void skipDeleted();
    RFn::Type m_filter;
    std::vector<RObject> m_nodes;
    std::size_t m_at = 0;
};
