#include "host/opt/kaOptBase.h"

#include "host/core/kaWalk.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaGroup.h"
#include "host/sg/kaNodeWalk.h"
#include "host/utils/kaProgress.h"

#include <memory>
#include <unordered_map>
#include <unordered_set>

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
        std::vector<kaSmartPointer<kaNode>> nodes = kaCollectNodes(root, _nodeMeta);
        size_t done = 0;
        for (kaSmartPointer<kaNode>& node : nodes) {
            kaProgress::report(done++, nodes.size());
            if (!_nodeName.isEmpty() && node->getNameRef() != _nodeName) continue;
            if (dispatch(node) == GRAPH_TRAVERSAL_STOP) break;
        }
    }
    return postTraverse();
}

// ---- kaOptReplaceNode ----

kaMetaObject* kaOptReplaceNode::getNodeMeta() { return kaNode::getClassMetaSafe(); }

bool kaOptReplaceNode::replaceNode(kaSmartPointer<kaNode>&, kaSmartPointer<kaNode>&) { return true; }

namespace {

using kaParents = std::vector<kaSmartPointer<kaGroup>>;

// Groups in the order first met, each once.
class kaParentSet {
public:
    void add(kaGroup* group)
    {
        if (group && _seen.insert(group).second) _groups.emplace_back(group);
    }
    void addListed(const kaNode* node)
    {
        for (int i = 0; i < node->getParentCount(); ++i) add(node->getParent(i));
    }
    const kaParents& groups() const { return _groups; }

private:
    kaParents _groups;
    std::unordered_set<const kaGroup*> _seen;
};

// replaceChild puts the new node in every place the old one held in that group.
void replaceIn(const kaParents& parents, kaNode* oldNode, kaNode* replacement)
{
    for (const auto& parent : parents) parent->replaceChild(oldNode, replacement);
}

// The groups that hold each node, read from the groups' child lists once per walk, so that a
// walk that replaces many nodes stays linear in the graph. A group made later knows its
// children: they list it as a parent when it takes them.
class kaParentIndex {
public:
    explicit kaParentIndex(kaNode* root)
    {
        for (kaSmartPointer<kaNode>& node : kaCollectNodes(root, kaGroup::getClassMetaSafe())) {
            auto* group = static_cast<kaGroup*>(node.get());
            for (int i = 0; i < group->getChildCount(); ++i) {
                kaParents& holders = _parents[group->getChild(i)];
                // A group that holds a child in several places is listed once: its places are
                // met one after another.
                if (holders.empty() || holders.back() != group) holders.emplace_back(group);
            }
        }
    }

    const kaParents& parentsOf(const kaNode* node) const
    {
        static const kaParents none;
        auto found = _parents.find(node);
        return found == _parents.end() ? none : found->second;
    }

private:
    std::unordered_map<const kaNode*, kaParents> _parents;
};

} // namespace

bool kaOptReplaceNode::apply(kaSmartPointer<kaNode>& root)
{
    kaMetaObject* meta = getNodeMeta();
    if (!meta) return true;
    bool allReplaced = true;
    // A node's parent list may be gone (kaRemoveParentList) or name only the groups that took
    // the node in since: the groups that hold it are found from the graph too, read once at the
    // first replacement.
    std::unique_ptr<kaParentIndex> parentIndex;
    std::vector<kaSmartPointer<kaNode>> nodes = kaCollectNodes(root, meta);
    size_t done = 0;
    for (kaSmartPointer<kaNode>& node : nodes) {
        kaProgress::report(done++, nodes.size());
        kaSmartPointer<kaNode> replacement;
        if (!replaceNode(node, replacement)) allReplaced = false;
        if (!replacement || replacement == node) continue;
        kaParentSet parents;
        parents.addListed(node);
        if (node == root) {
            // Whatever holds the root lies outside the graph being walked.
            root = replacement;
        } else {
            if (!parentIndex) parentIndex = std::make_unique<kaParentIndex>(root);
            for (const auto& group : parentIndex->parentsOf(node)) parents.add(group);
        }
        replaceIn(parents.groups(), node, replacement);
    }
    return allReplaced;
}

void kaOptReplaceNode::doReplaceNode(kaSmartPointer<kaNode> oldNode, kaSmartPointer<kaNode> replacement)
{
    if (!oldNode) return;
    kaParentSet parents;
    parents.addListed(oldNode);
    replaceIn(parents.groups(), oldNode, replacement);
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
        for (size_t i = 0; i < visited.size(); ++i) {
            kaProgress::report(i, visited.size());
            visitor(visited[i].get());
        }
    }
    return postVisit();
}

} // namespace Lode::Opt
