// kaClearMaterialSpecular: materials lose their specular colour, everything else stays, and
// glTF export writes the cleared colour.
#include "host/attrs/kaMaterialAttr.h"
#include "host/core/kaWalk.h"
#include "host/io/kaGltf.h"
#include "host/sg/kaAttrSet.h"
#include "host/sg/kaSceneModel.h"
#include "kaPassTestTools.h"
#include "kaTestTools.h"
#include "tools/kaopt/kaExampleScene.h"

#include <set>

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

TEST(ClearMaterialSpecular, GltfExportWritesTheClearedSpecular)
{
    auto infos = Lode::Tools::kaMakeExampleScene();
    runPass("kaClearMaterialSpecular", kaSceneInfo::dynamicCast(infos->getShared(0))->getSceneGraph());
    kaScratchDir scratch;
    std::string error;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(Lode::Io::kaExportGltf((scratch / "matte.gltf").string(), infos, error)) << error;
    testing::internal::GetCapturedStderr();
    kaSmartPointer<kaInfoList> read;
    ASSERT_TRUE(Lode::Io::kaImportGltf((scratch / "matte.gltf").string(), read, error)) << error;
    // The example's three materials; the palettised sign comes back with a default material.
    std::set<std::string> cleared;
    for (kaObject* object : kaCollectReachable({read->getShared(0)}))
        if (auto* material = kaMaterialAttr::dynamicCast(object))
            if (material->getSpecular() == kaVec4f(0, 0, 0, 0)) cleared.insert(material->getName());
    EXPECT_EQ(cleared, (std::set<std::string>{"metal", "skin", "wood"}));
}
