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
    // The attributes of the class or a subclass among those of the stack, by their positions
    // in it, outermost first: a deep path is not searched anew at every node.
    struct ClassStack {
        const kaMetaObject* meta;
        std::vector<size_t> positions;
    };

    void pushAttrsOf(const kaNode* node);
    void truncateStack(size_t size);

    // Held: a pass may take an attribute away from a set above the walk.
    std::vector<kaSmartPointer<kaAttr>> _attrStack;
    // Per path entry whose attributes are on the stack: when it joined the path and where its
    // attributes end on the stack. The current node's own attributes lie above the last.
    struct Frame {
        uint64_t joinedAt;
        size_t stackEnd;
    };
    std::vector<Frame> _frames;
    // The classes asked for so far; a pass asks for one or two.
    std::vector<ClassStack> _classStacks;
    // The move count the stack was built at; none before the first build.
    uint64_t _stackMoveCount = UINT64_MAX;
};

} // namespace Lode::Opt
