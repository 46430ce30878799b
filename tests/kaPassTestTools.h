// Running a pass by class name in the pass suites, as kaopt does, with what it prints captured;
// and a small skinned scene with vertex arrays of given blend weights to run the passes on.
#pragma once

#include "extension/kaOptExtensionLibrary.h"
#include "host/attrs/kaGeometryAttr.h"
#include "host/attrs/kaTextureAttr.h"
#include "host/core/kaText.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaAnimationDatabase.h"
#include "host/sg/kaGeometry.h"
#include "host/sg/kaMorph.h"
#include "host/sg/kaSkeleton.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kaTest {

using namespace Lode::Core;
using namespace Lode::Opt;
using namespace Lode::Sg;
using Lode::Attrs::kaGeometryAttr;
using Lode::Attrs::kaGeometryAttr1_5;
using Lode::Attrs::kaTextureAttr;
using Lode::Gfx::kaVertexArray;
using Lode::Gfx::kaVertexFormat;

// Runs the pass with the fields given as text over root and infos (either may be null) and
// returns its standard output; result, when given, receives whether it was applied or refused.
inline std::string runPassCapturing(const char* className,
                                    const std::vector<std::pair<const char*, const char*>>& fields,
                                    Lode::Core::kaSmartPointer<Lode::Sg::kaNode> root,
                                    Lode::Sg::kaInfoList* infos = nullptr,
                                    Lode::Opt::kaOptInterface::RunResult* result = nullptr)
{
    using namespace Lode::Core;
    Lode::kaOptExtensionLibrary_arkRegister();
    auto optInterface = make<Lode::Opt::kaOptInterface>();
    optInterface->setRegistry(make<kaRegistry>());
    auto pass = kaSmartPointer<Lode::Opt::kaOptBase>::adopt(optInterface->createOptBase(className));
    for (auto& [name, value] : fields) {
        std::string error;
        EXPECT_TRUE(pass->getMetaField(name)->setFromText(pass, value, error)) << error;
    }
    auto noInfos = make<Lode::Sg::kaInfoList>();
    testing::internal::CaptureStdout();
    const auto outcome = optInterface->runPass(pass, 0, root, infos ? infos : noInfos.get());
    if (result) *result = outcome;
    return testing::internal::GetCapturedStdout();
}

inline unsigned low(const void* object) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(object)); }

inline kaSmartPointer<kaVertexArray> weightedArray(const std::vector<std::vector<float>>& weights, bool normals = true)
{
    kaVertexFormat vertexFormat;
    vertexFormat.setPositions(true);
    vertexFormat.setNormals(normals);
    vertexFormat.setTextureCoordSetCount(1);
    int count = weights.empty() ? 0 : static_cast<int>(weights[0].size());
    vertexFormat.setBlendWeightCount(count);
    vertexFormat.setBlendIndexCount(count);
    auto array = kaSmartPointer<kaVertexArray>::adopt(kaVertexArray::_instantiate());
    array->setup(vertexFormat, static_cast<int>(weights.size()), 0, 0);
    for (size_t v = 0; v < weights.size(); ++v)
        for (int k = 0; k < count; ++k) {
            array->setBlendWeight(static_cast<int>(v), k, weights[v][k]);
            array->setBlendIndex(static_cast<int>(v), k, static_cast<uint8_t>(10 + k));
        }
    array->closeSetup();
    return array;
}

inline kaSmartPointer<kaGeometryAttr> geometryAttr(kaSmartPointer<kaVertexArray> array, int primitiveCount, int type)
{
    auto attr = kaSmartPointer<kaGeometryAttr>::adopt(kaGeometryAttr1_5::_instantiate());
    attr->configureVertexArray(array);
    attr->setPrimitiveCount(primitiveCount);
    attr->setPrimitiveType(static_cast<Lode::Gfx::KA_GFX_DRAW>(type));
    return attr;
}

struct SkinnedScene {
    kaSmartPointer<kaGroup> root = kaSmartPointer<kaGroup>::adopt(kaGroup::_instantiate());
    kaSmartPointer<kaGeometry> body = kaSmartPointer<kaGeometry>::adopt(kaGeometry::_instantiate());
    kaSmartPointer<kaGeometry> hand = kaSmartPointer<kaGeometry>::adopt(kaGeometry::_instantiate());
    kaSmartPointer<kaMorphInstance> face = kaSmartPointer<kaMorphInstance>::adopt(kaMorphInstance::_instantiate());
    kaSmartPointer<kaInfoList> infos = kaSmartPointer<kaInfoList>::adopt(kaInfoList::_instantiate());

    SkinnedScene()
    {
        body->setName("body");
        // A texture first: the geometry attribute behind it sits at position 1.
        body->appendAttr(kaSmartPointer<kaTextureAttr>::adopt(kaTextureAttr::_instantiate()));
        body->appendAttr(geometryAttr(weightedArray({{0.1f, 0.4f, 0.4f, 0.1f}, {0.7f, 0.1f, 0.1f, 0.1f}}), 1, 4));
        hand->setName("hand");
        hand->appendAttr(geometryAttr(weightedArray({{0.5f, 0.5f}}, false), 9, 7));
        face->setName("face");
        auto base = kaSmartPointer<kaMorphBase>::adopt(kaMorphBase::_instantiate());
        base->setVertexArray(weightedArray({{0.2f, 0.5f, 0.3f}, {0.9f, 0.1f, 0.0f}, {0.6f, 0.3f, 0.1f}}));
        face->setBase(base);
        face->appendAttr(geometryAttr(weightedArray({}), 12, 3));
        root->appendChild(body);
        root->appendChild(hand);
        root->appendChild(face);
    }
};

// Runs a pass by class name on the scene with the fields given as text; returns what it printed.
inline std::string runPass(const char* className, const std::vector<std::pair<const char*, const char*>>& fields,
                           SkinnedScene& scene, kaOptInterface::RunResult* result = nullptr)
{
    return runPassCapturing(className, fields, scene.root.get(), scene.infos, result);
}

} // namespace kaTest
