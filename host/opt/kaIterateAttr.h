// A graph walk that also knows the attribute stack at the current node: the attributes of the
// attribute sets on the path from the start node down to the current node, the current node
// included, outermost first. An attribute further down overrides one of the same class above.
#pragma once

#include "host/attrs/kaAttr.h"
#include "host/opt/kaIterateGraph.h"

namespace Lode::Opt {

using Lode::Attrs::kaAttr;

class kaIterateAttr : public kaIterateGraph {
    KA_DECLARE_CLASS(kaIterateAttr, kaIterateGraph)
public:
    // Brings the attribute stack up to date with the current node (nothing to do when it is).
    void validateAttrStack();
    // The attribute of the class or a subclass in force at the current node: index 0 is the
    // innermost one, index 1 the one it overrides, and so on; null when there are not that
    // many. Validates the stack first.
    kaAttr* getTopAttr(const kaMetaObject* meta, int index);

protected:
    kaIterateAttr() = default;

private:
    std::vector<kaAttr*> _attrStack;
    // The move count the stack was built at; none before the first build.
    uint64_t _stackMoveCount = UINT64_MAX;
};

} // namespace Lode::Opt
