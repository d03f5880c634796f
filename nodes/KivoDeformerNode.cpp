#include "nodes/KivoDeformerNode.h"

namespace kivo_rova {

const RTypeId KivoDeformerNode::id{0x777783};

KivoDeformerNode::~KivoDeformerNode() = default;

void* KivoDeformerNode::createInstance() {
    return static_cast<RPxNode*>(new KivoDeformerNode);
}

RStatus KivoDeformerNode::initializeAttributes() {
    return RStatus::kSuccess;
}

}  // namespace kivo_rova
