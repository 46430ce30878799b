#include "host/opt/kaOptBase.h"

#include "host/core/kaWalk.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaGroup.h"
#include "host/sg/kaNodeWalk.h"

namespace Lode::Opt {

using Lode::Sg::kaCollectNodes;
using Lode::Sg::kaGroup;

KA_IMPLEMENT_CLASS(kaInterfaced)
KA_IMPLEMENT_CLASS(kaBase)
KA_IMPLEMENT_CLASS(kaOptBase)
KA_IMPLEMENT_CLASS(kaOptTraverseGraph)
KA_IMPLEMENT_CLASS(kaOptReplaceNode)
KA_IMPLEMENT_CLASS(kaOptVisitObject)

// ---- kaOptBase ----

kaOptBase::~kaOptBase() { kaObject::release(_interface); }

int kaOptBase::vprintf(const char* format, va_list args)
{
    if (_silent) return 0;
    return std::vprintf(format, args);
}

int kaOptBase::printf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int written = vprintf(format, args);
    va_end(args);
    return written;
}

bool kaOptBase::fflush(std::FILE* stream) { return std::fflush(stream) == 0; }
void kaOptBase::setVerbose(bool verbose) { _verbose = verbose; }
void kaOptBase::setSilent(bool silent) { _silent = silent; }
bool kaOptBase::applyInfo(kaInfo*) { return true; }
bool kaOptBase::apply(kaSmartPointer<kaNode>&) { return true; }
bool kaOptBase::canOptimize(kaNode*) { return true; }
bool kaOptBase::canOptimize(kaInfo*) { return false; }
bool kaOptBase::configure(int) { return true; }
bool kaOptBase::autoConfigure() { return true; }

bool kaOptBase::applyToInfos(kaInfoList* infos)
{
    if (!infos) return true;
    bool allApplied = true;
    // The pass may change the list (an info it applies can add infos); walk a held copy.
    std::vector<kaSmartPointer<kaInfo>> offered;
    for (int i = 0; i < infos->getCount(); ++i) offered.emplace_back(infos->getShared(i));
    for (auto& info : offered)
        if (info && canOptimize(info.get()) && !applyInfo(info.get())) allApplied = false;
    return allApplied;
}

void kaOptBase::setInterface(kaOptInterface* optInterface)
{
    if (optInterface) optInterface->addRef();
    kaObject::release(_interface);
    _interface = optInterface;
}

kaOptInterface* kaOptBase::getInterface()
{
    if (!_interface) {
        _interface = kaOptInterface::_instantiate();
        _interface->setRegistry(kaSmartPointer<kaRegistry>::adopt(kaRegistry::_instantiate()));
    }
    return _interface;
}

kaRegistry* kaOptBase::getRegistry() { return getInterface()->getRegistry(); }

// ---- kaOptTraverseGraph ----

kaOptTraverseGraph::~kaOptTraverseGraph() = default;

GRAPH_TRAVERSAL kaOptTraverseGraph::dispatch(kaSmartPointer<kaNode>&) { return GRAPH_TRAVERSAL_CONTINUE; }
bool kaOptTraverseGraph::preTraverse() { return true; }
bool kaOptTraverseGraph::postTraverse() { return true; }

bool kaOptTraverseGraph::apply(kaSmartPointer<kaNode>& root)
{
    if (!preTraverse()) return false;
    if (_nodeMeta) {
        for (kaSmartPointer<kaNode>& node : kaCollectNodes(root, _nodeMeta)) {
            if (!_nodeName.isEmpty() && node->getNameRef() != _nodeName) continue;
            if (dispatch(node) == GRAPH_TRAVERSAL_STOP) break;
        }
    }
    return postTraverse();
}

// ---- kaOptReplaceNode ----

kaMetaObject* kaOptReplaceNode::getNodeMeta() { return kaNode::getClassMetaSafe(); }

bool kaOptReplaceNode::replaceNode(kaSmartPointer<kaNode>&, kaSmartPointer<kaNode>&) { return true; }

bool kaOptReplaceNode::apply(kaSmartPointer<kaNode>& root)
{
    kaMetaObject* meta = getNodeMeta();
    if (!meta) return true;
    bool allReplaced = true;
    for (kaSmartPointer<kaNode>& node : kaCollectNodes(root, meta)) {
        kaSmartPointer<kaNode> replacement;
        if (!replaceNode(node, replacement)) allReplaced = false;
        if (!replacement || replacement == node) continue;
        if (node == root) root = replacement;
        doReplaceNode(node, replacement);
    }
    return allReplaced;
}

void kaOptReplaceNode::doReplaceNode(kaSmartPointer<kaNode> oldNode, kaSmartPointer<kaNode> replacement)
{
    if (!oldNode) return;
    // Each parent, once: replaceChild puts the new node in every place the old one held there.
    std::vector<kaSmartPointer<kaGroup>> parents;
    for (int i = 0; i < oldNode->getParentCount(); ++i) {
        kaSmartPointer<kaGroup> parent = oldNode->getParent(i);
        bool listed = false;
        for (auto& known : parents) listed = listed || known == parent;
        if (parent && !listed) parents.push_back(parent);
    }
    for (auto& parent : parents) parent->replaceChild(oldNode, replacement);
}

// ---- kaOptVisitObject ----

bool kaOptVisitObject::visitor(kaObject*) { return true; }
kaMetaObject* kaOptVisitObject::getVisitedObjectMeta() { return nullptr; }
bool kaOptVisitObject::postVisit() { return true; }
bool kaOptVisitObject::preVisit() { return true; }

bool kaOptVisitObject::apply(kaSmartPointer<kaNode>& root)
{
    if (!preVisit()) return false;
    if (kaMetaObject* meta = getVisitedObjectMeta()) {
        // Held while visiting: a visitor may drop the last other reference to what it visits.
        std::vector<kaSmartPointer<kaObject>> visited;
        for (kaObject* object : kaCollectReachable({root.get()}))
            if (object->isOfType(meta)) visited.emplace_back(object);
        for (auto& object : visited) visitor(object.get());
    }
    return postVisit();
}

} // namespace Lode::Opt
