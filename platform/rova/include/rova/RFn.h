#pragma once

// Kinds of host objects, for filtering iterators and testing what a node is.
class RFn {
  public:
    enum Type {
        kInvalid = 0,
        kDependencyNode,  // every node
        kDagNode,         // transforms and shapes
        kTransform,
        kMesh,
        kCamera,
    };
};
