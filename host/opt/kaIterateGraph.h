// Walks over a scene graph that stop on the nodes of a class and know the path that led to
// each: the transforms above the current node (hasAnimatedTransform, evaluateModelViewMatrix)
// and, in kaIterateAttr, the attributes in force there.
//
// The walk is depth-first pre-order over group children in list order, from the start node.
// A node that several groups share is visited once, by the first path that reaches it. The
// iterator holds references to the nodes it has visited and to the path, so that a pass may
// change the graph around the current node without pulling nodes out from under the walk; the
// changes it makes are seen where the walk has not been yet.
//
// An iterator is a working object of a pass, not scene data: its walk state is not reflected
// and never goes into a file.
#pragma once

#include "host/core/kaReflect.h"
#include "host/math/kaMath.h"
#include "host/sg/kaGroup.h"

#include <cstdint>
#include <unordered_set>
#include <vector>

namespace Lode::Opt {

using namespace Lode::Core;
using Lode::Math::kaMatrix44f;
using Lode::Sg::kaGroup;
using Lode::Sg::kaNode;

class kaIterateGraph : public kaObject {
    KA_DECLARE_CLASS(kaIterateGraph, kaObject)
public:
    // Starts a new walk at start and stops on the first node of the class or a subclass, start
    // itself included; a null class stops on every node. Returns the current node, null when
    // there is none.
    kaNode* beginOfType(kaNode* start, const kaMetaObject* meta);
    // As beginOfType, but only a node of exactly that class stops the walk.
    kaNode* beginOfExactType(kaNode* start, const kaMetaObject* meta);
    // The node the walk stands on; null at the end.
    kaNode* getCurrent() const { return _current; }
    // Goes on to the next node of the class or a subclass (null: any node); returns it, or null
    // at the end.
    kaNode* getNextOfType(const kaMetaObject* meta);

    // True when a transform above the current node (not the node itself) is animated.
    bool hasAnimatedTransform() const;
    // The product of the matrices of the transforms above the current node (not the node
    // itself), nearest first: a point of the current node's space times this matrix is in the
    // space of the start node. Identity when no transform lies above.
    kaMatrix44f evaluateModelViewMatrix() const;

protected:
    kaIterateGraph() = default;

    // One group on the path to the current node, with the position of its next child to try,
    // the child taken last (held among the visited nodes) and the move at which the group joined
    // the path. The path changes only at its end, so state derived from it is brought up to
    // date by dropping what it derived from entries whose move differs, from the end down.
    struct PathEntry {
        kaSmartPointer<kaGroup> group;
        int nextChild;
        const kaNode* lastChild;
        uint64_t joinedAt;
    };

    const std::vector<PathEntry>& getPath() const { return _path; }
    // Goes up by one with every node the walk moves to, so that state derived from the path
    // can tell whether it is still current.
    uint64_t getMoveCount() const { return _moveCount; }

private:
    void restart(kaNode* start);
    // Moves to the next node in pre-order that has not been visited; null at the end.
    void step();
    void moveTo(kaNode* node);

    // The visited nodes carry the mark of this walk (kaObject::beginWalk). Once another walk
    // has begun since (a pass that saves a file per node walks what each file holds), the
    // visited nodes are kept in a set instead for the rest of the walk: marking them all again
    // at every step would make such a pass grow with the square of the scene.
    void leaveMarksIfInterrupted();
    bool wasVisited(const kaNode* node) const;

    // What the transforms down to each path entry amount to, the entry's own included: the
    // product of their matrices, nearest first, and whether one is animated. Kept like any state
    // derived from the path, so that a walk down a chain n levels deep asks each in constant
    // time, not in time that grows with the depth.
    struct Placement {
        uint64_t joinedAt;
        kaMatrix44f matrix;
        bool animated;
    };
    // The placement of the last path entry, brought up to date; null on an empty path.
    const Placement* placementAbove() const;

    std::vector<PathEntry> _path;
    mutable std::vector<Placement> _placements;
    kaSmartPointer<kaNode> _current;
    uint32_t _walk = 0;
    // Holds every visited node alive, in the order visited.
    std::vector<kaSmartPointer<kaNode>> _visitedNodes;
    bool _interrupted = false;
    std::unordered_set<const kaNode*> _visitedSet;
    uint64_t _moveCount = 0;
};

} // namespace Lode::Opt
