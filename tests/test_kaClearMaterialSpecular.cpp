// kaClearMaterialSpecular: every material loses its specular colour; nothing else changes.
#include "host/attrs/kaMaterialAttr.h"
#include "host/sg/kaAttrSet.h"
#include "kaPassTestTools.h"

using namespace kaTest;
using Lode::Attrs::kaMaterialAttr;
using Lode::Math::kaVec4f;

TEST(ClearMaterialSpecular, EveryMaterialOfEverySetIsClearedAndNothingElse)
{
    auto shared = make<kaMaterialAttr>("shared"), own = make<kaMaterialAttr>("own");
    auto texture = make<kaTextureAttr>("texture");
    for (kaMaterialAttr* material : {shared.get(), own.get()}) {
        material->setSpecular({0.5f, 0.5f, 0.5f, 1});
        material->setDiffuse({0.1f, 0.2f, 0.3f, 1});
    }
    auto first = make<kaAttrSet>(), second = make<kaAttrSet>();
    first->appendAttr(shared);
    for (kaAttr* attr : {static_cast<kaAttr*>(texture.get()), static_cast<kaAttr*>(own.get()), static_cast<kaAttr*>(shared.get())})
        second->appendAttr(attr);
    first->appendChild(second);
    EXPECT_EQ(runPass("kaClearMaterialSpecular", first.get()), "");
    for (kaMaterialAttr* material : {shared.get(), own.get()}) {
        EXPECT_EQ(material->getSpecular(), kaVec4f(0, 0, 0, 0)) << material->getName();
        EXPECT_EQ(material->getDiffuse(), kaVec4f(0.1f, 0.2f, 0.3f, 1)) << material->getName();
    }
    EXPECT_EQ(second->getAttr(0), texture.get());
}
