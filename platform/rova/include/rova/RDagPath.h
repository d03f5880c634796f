#pragma once
#include <vector>

#include "rova/RMatrix.h"
#include "rova/RObject.h"
#include "rova/RStatus.h"
#include "rova/RString.h"

// The path from the top of the scene hierarchy down to one transform or shape. A path whose nodes
// were deleted is no longer valid: its calls then fail. Main thread only.
class ROVA_API RDagPath {
  public:
    RDagPath() = default;
    // The path to a transform or shape node.
    static RStatus getAPathTo(const RObject& node, RDagPath& path);

    bool isValid(RStatus* status = nullptr) const;
    // Number of nodes on the path (a top-level transform: 1, its shape: 2).
    unsigned int length(RStatus* status = nullptr) const;
    // The node the path ends at.
    RObject node(RStatus* status = nullptr) const;
    // The transform the path ends at, or the transform above the shape it ends at.
    RObject transform(RStatus* status = nullptr) const;
    // Extends a path that ends at a transform with exactly one shape to that shape; a path that
    // ends at a shape is left as it is. Fails (unchanged) with no shape or several shapes below.
    RStatus extendToShape();
    RStatus numberOfShapesDirectlyBelow(unsigned int& count) const;
    // "|parent|child|childShape".
    RString fullPathName(RStatus* status = nullptr) const;
    // The shortest name that still finds the node: its own name (node names are unique).
    RString partialPathName(RStatus* status = nullptr) const;
    // Object to world: the product of the transforms on the path, the last one first.
    RMatrix inclusiveMatrix(RStatus* status = nullptr) const;
    // The same without the last transform on the path (for a shape: without its transform).
    RMatrix exclusiveMatrix(RStatus* status = nullptr) const;

    bool operator==(const RDagPath& other) const noexcept { return m_nodes == other.m_nodes; }

  private:
    std::vector<RObject> m_nodes;  // from the top transform down
};
