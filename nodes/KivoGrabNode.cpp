#include "nodes/KivoGrabNode.h"

namespace kivo_rova {

const RTypeId KivoGrabNode::id{0x77228};

KivoGrabNode::~KivoGrabNode() = default;

void* KivoGrabNode::createInstance() {
    return static_cast<RPxNode*>(new KivoGrabNode);
}

RStatus KivoGrabNode::initializeAttributes() {
    return RStatus::kSuccess;
}

}  // namespace kivo_rova
