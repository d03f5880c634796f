#pragma once
// Built-in utility node types that scenes wire between other nodes.
#include <memory>
#include <vector>

#include "model/NodeTypes.h"

namespace rova::scene {

// decomposeMatrix: inputMatrix in; outputTranslate, outputRotate (Euler degrees, xyz order, as a
// transform's rotate) and outputScale out, so that a matrix output can drive a transform's
// channels or any node's position input.
std::vector<std::shared_ptr<detail::NodeType>> makeUtilityTypes();

}  // namespace rova::scene
