#pragma once
#include <vector>

#include "rova/RDagPath.h"
#include "rova/RObject.h"
#include "rova/RStatus.h"
#include "rova/RString.h"

// A list of nodes picked by name. Main thread only.
class ROVA_API RSelectionList {
  public:
    RSelectionList() = default;
    // Adds the node of that name; kInvalidParameter when there is none (the list is unchanged).
    RStatus add(const RString& name);
    RStatus add(const RObject& node);
    unsigned int length(RStatus* status = nullptr) const;
    RStatus clear();
    // The path to entry index; fails for an index out of range or a node outside the hierarchy.
    RStatus getDagPath(unsigned int index, RDagPath& path) const;
    RStatus getDependNode(unsigned int index, RObject& node) const;

  private:
    std::vector<RObject> m_items;
};
