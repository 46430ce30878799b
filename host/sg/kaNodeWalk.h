// The walk over a scene graph that the traversal and replacing passes share.
#pragma once

#include "host/sg/kaNode.h"

#include <vector>

namespace Lode::Sg {

// Every node of the class (subclasses too) below and including root, each once even when it
// has several parents, in depth-first pre-order. A node's children are the nodes its fields
// refer to, directly or through non-node objects such as its child list, in declaration order.
std::vector<kaSmartPointer<kaNode>> kaCollectNodes(kaNode* root, const kaMetaObject* meta);

} // namespace Lode::Sg
