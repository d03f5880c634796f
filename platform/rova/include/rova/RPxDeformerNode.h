#pragma once
#include "rova/RDataBlock.h"
#include "rova/RItGeometry.h"
#include "rova/RMatrix.h"
#include "rova/RObject.h"
#include "rova/RPxNode.h"

// A node that deforms geometry (registered with kind RPxNode::kDeformerNode). Every deformer type
// has the inherited attributes below; the `deformer` command puts a deformer between a mesh's own
// shape and what the scene shows of it, one geometry per element of `input`/`outputGeom`.
//
// When `outputGeom` is needed and dirty, the default compute calls deformGeometry once for every
// geometry, in element order. Whatever the node declares to affect `outputGeom` (through
// attributeAffects) re-deforms at the next evaluation; `input` affects it already. The mesh
// shows the incoming geometry until a deformGeometry succeeds on it.
class ROVA_API RPxDeformerNode : public RPxNode {
  public:
    static RObject input;       // array compound, input: one element per geometry
    static RObject inputGeom;   // mesh data, the child of `input`: the geometry entering
    static RObject outputGeom;  // array of mesh data, output: the geometry put out, same index

    RPxDeformerNode();
    ~RPxDeformerNode() override;

    // Computes `outputGeom` through deformGeometry. Deformers normally keep this default.
    RStatus compute(const RPlug& plug, RDataBlock& dataBlock) override;

    // Deforms the geometry of element `multiIndex` of `input`. Read the incoming mesh through
    // outputArrayValue(input), jumpToElement(multiIndex), outputValue().child(inputGeom).asMesh();
    // write the result through the iterator. `localToWorld` is the deformed shape's world matrix.
    // A failure keeps what the geometry showed before and leaves `outputGeom` dirty. Main thread.
    // The default leaves the geometry as it came in.
    virtual RStatus deformGeometry(RDataBlock& block, RItGeometry& iterator,
                                   const RMatrix& localToWorld, unsigned int multiIndex);
};
