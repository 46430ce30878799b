// kaClearMaterialSpecular exists for targets that light without specular highlights, or
// content whose highlights came out of the authoring tool by accident: a black specular colour
// (alpha 0 too) lets the renderer skip the specular term. Every material attribute of every
// attribute set reachable from the root is cleared; a material that several sets share is
// cleared once per set, to the same result. Nothing else changes.
#include "passes/scene/kaClearMaterialSpecular.h"

#include "passes/kaPassRegistration.h"
#include "host/attrs/kaMaterialAttr.h"
#include "host/opt/kaIterateGraph.h"
#include "host/sg/kaAttrSet.h"

namespace Lode::OptExtension {

using Lode::Attrs::kaMaterialAttr;
using Lode::Math::kaVec4f;
using Lode::Sg::kaAttrSet;

KA_IMPLEMENT_PASS(kaClearMaterialSpecular)

bool kaClearMaterialSpecular::configure(int) { return true; }

bool kaClearMaterialSpecular::canOptimize(kaNode*) { return true; }

bool kaClearMaterialSpecular::apply(kaSmartPointer<kaNode>& root)
{
    kaMetaObject* attrSetMeta = kaAttrSet::getClassMetaSafe();
    auto iterator = kaSmartPointer<kaIterateGraph>::adopt(kaIterateGraph::_instantiateFromPool(getMemoryPool()));
    for (kaNode* node = iterator->beginOfType(root, attrSetMeta); node; node = iterator->getNextOfType(attrSetMeta)) {
        kaAttrSet* set = static_cast<kaAttrSet*>(node);
        for (int i = 0; i < set->getAttrCount(); ++i)
            if (kaMaterialAttr* material = kaMaterialAttr::dynamicCast(set->getAttr(i)))
                material->setSpecular(kaVec4f(0.0f, 0.0f, 0.0f, 0.0f));
    }
    return true;
}

} // namespace Lode::OptExtension
