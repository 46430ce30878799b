// The four base kinds of optimization passes. A pass is created by class name, its fields are
// set by name, `configure` checks them, and the framework applies it (kaOptInterface::runPass):
// a plain pass through `apply`, a traversal pass through `dispatch` per node of a class, a
// visiting pass through `visitor` per reachable object of a class, and a replacing pass through
// `replaceNode` per node of a class.
#pragma once

#include "host/core/kaRegistry.h"
#include "host/sg/kaInfo.h"

#include <cstdarg>
#include <cstdio>

namespace Lode::Opt {

using namespace Lode::Core;
using Lode::Sg::kaInfo;
using Lode::Sg::kaInfoList;
using Lode::Sg::kaNode;

class kaOptInterface;

class kaInterfaced : public kaObject {
    KA_DECLARE_CLASS(kaInterfaced, kaObject)
};

class kaBase : public kaInterfaced {
    KA_DECLARE_CLASS(kaBase, kaInterfaced)
};

// What dispatch returns; 1 goes on over the whole graph, 0 stops the walk.
enum GRAPH_TRAVERSAL { GRAPH_TRAVERSAL_STOP = 0, GRAPH_TRAVERSAL_CONTINUE = 1 };

class kaOptBase : public kaBase {
    KA_DECLARE_CLASS(kaOptBase, kaBase)
public:
    ~kaOptBase() override;

    // The pass's own output: standard output, without a flush; nothing when silent.
    virtual int printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    virtual bool fflush(std::FILE* stream);
    virtual void setVerbose(bool verbose);
    virtual void setSilent(bool silent);
    // Framework default: accepts the info and does nothing with it.
    virtual bool applyInfo(kaInfo* info);
    // Framework default: true. The traversal, visiting and replacing kinds walk the graph here.
    virtual bool apply(kaSmartPointer<kaNode>& root);
    // Framework default: every node.
    virtual bool canOptimize(kaNode* node);
    // Framework default: no info.
    virtual bool canOptimize(kaInfo* info);
    // Offers each info to canOptimize and gives the accepted ones to applyInfo; true when every
    // accepted info was applied.
    virtual bool applyToInfos(kaInfoList* infos);
    // Framework default: the settings are usable.
    virtual bool configure(int section);
    virtual bool autoConfigure();

    // The interface the host gave the pass; a pass made outside a host run gets a default one
    // (standard output, an empty registry) on first use.
    kaOptInterface* getInterface();
    void setInterface(kaOptInterface* optInterface);
    kaRegistry* getRegistry();
    // Where new scene objects are made.
    kaMemoryPool* getCreationMemoryPool() const { return nullptr; }
    bool isVerbose() const { return _verbose; }
    bool isSilent() const { return _silent; }

protected:
    int vprintf(const char* format, va_list args);

private:
    kaOptInterface* _interface = nullptr;
    bool _verbose = false;
    bool _silent = false;
};

// Settings a traversal pass gives in preTraverse: the class of nodes that reach dispatch
// (subclasses too), a node-name filter (empty: any name) and a flag that passes set false.
class kaOptTraverseGraph : public kaOptBase {
    KA_DECLARE_CLASS(kaOptTraverseGraph, kaOptBase)
public:
    ~kaOptTraverseGraph() override;

    virtual GRAPH_TRAVERSAL dispatch(kaSmartPointer<kaNode>& node);
    virtual bool preTraverse();
    virtual bool postTraverse();

    // preTraverse, then dispatch for every matching node below and including the root, each once,
    // in depth-first pre-order, then postTraverse.
    bool apply(kaSmartPointer<kaNode>& root) override;

    void setTraversalNodeMeta(kaMetaObject* meta) { _nodeMeta = meta; }
    kaMetaObject* getTraversalNodeMeta() const { return _nodeMeta; }
    void setTraversalNodeName(const char* name) { _nodeName = name; }
    void setTraversalFlag(bool flag) { _traversalFlag = flag; }
    bool getTraversalFlag() const { return _traversalFlag; }

private:
    kaMetaObject* _nodeMeta = nullptr;
    kaStringRef _nodeName;
    bool _traversalFlag = false;
};

class kaOptReplaceNode : public kaOptTraverseGraph {
    KA_DECLARE_CLASS(kaOptReplaceNode, kaOptTraverseGraph)
public:
    // The class of nodes offered to replaceNode; framework default: kaNode.
    virtual kaMetaObject* getNodeMeta();
    // Sets replacement to take node's place, or leaves it null. Framework default: no replacement.
    virtual bool replaceNode(kaSmartPointer<kaNode>& node, kaSmartPointer<kaNode>& replacement);

    // Offers every node of getNodeMeta's class below and including the root (each once) to
    // replaceNode and puts each replacement in place in every group that holds the node: those
    // its parent list names and those found holding it in the graph.
    bool apply(kaSmartPointer<kaNode>& root) override;

    // Puts replacement in the old node's place in every parent that the old node's parent list
    // names. Any pass may call it: it needs nothing of the pass.
    static void doReplaceNode(kaSmartPointer<kaNode> oldNode, kaSmartPointer<kaNode> replacement);
};

class kaOptVisitObject : public kaOptBase {
    KA_DECLARE_CLASS(kaOptVisitObject, kaOptBase)
public:
    virtual bool visitor(kaObject* object);
    // The class of objects handed to visitor; framework default: none (nothing is visited).
    virtual kaMetaObject* getVisitedObjectMeta();
    virtual bool postVisit();
    virtual bool preVisit();

    // preVisit, visitor for every object of the class reachable from the root (each once, in
    // depth-first pre-order), postVisit.
    bool apply(kaSmartPointer<kaNode>& root) override;
};

} // namespace Lode::Opt
