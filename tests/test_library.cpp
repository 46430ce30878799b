// The library as a whole: every registered pass run on the example scene and on every sample
// model gives back every object and interned string it took, so that a batch over thousands of
// assets does not grow.
#include "extension/kaOptExtensionLibrary.h"
#include "host/core/kaRegistry.h"
#include "host/io/kaGltf.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaInfo.h"
#include "kaTestTools.h"
#include "tools/kaopt/kaExampleScene.h"

#include <gtest/gtest.h>

using namespace Lode::Core;
using namespace Lode::Opt;
using namespace Lode::Sg;

namespace {

struct kaLiveCounts {
    long objects = kaObject::getLiveObjectCount();
    size_t strings = kaStringRef::getInternedCount();
};

// Loads the scene, runs one pass of the class on it with a scratch output folder, and releases
// everything. False when the scene cannot be read.
bool runOnce(const char* className, const std::filesystem::path& model, const kaTest::kaScratchDir& scratch)
{
    kaSmartPointer<kaInfoList> infos;
    std::string error;
    if (model.empty())
        infos = Lode::Tools::kaMakeExampleScene();
    else if (!Lode::Io::kaImportGltf(model.string(), infos, error))
        return false;
    auto optInterface = kaSmartPointer<kaOptInterface>::adopt(kaOptInterface::_instantiate());
    optInterface->setRegistry(kaSmartPointer<kaRegistry>::adopt(kaRegistry::_instantiate()));
    optInterface->setFilePath(scratch.path().c_str());
    const int section = optInterface->getRegistry()->addSection();
    auto pass = kaSmartPointer<kaOptBase>::adopt(optInterface->createOptBase(className));
    auto* scene = kaSceneInfo::dynamicCast(infos->getShared(0));
    kaSmartPointer<kaNode> root = scene ? scene->getSceneGraph() : nullptr;
    optInterface->runPass(pass, section, root, infos);
    return true;
}

} // namespace

TEST(Library, EveryPassReleasesWhatItTakes)
{
    Lode::kaOptExtensionLibrary_arkRegister();
    std::vector<std::filesystem::path> scenes = kaTest::sampleModels();
    if (scenes.empty()) std::printf("no sample models under %s: the example scene only\n", KA_ASSETS_DIR);
    scenes.insert(scenes.begin(), std::filesystem::path());  // the example scene
    std::vector<std::string> passes;
    for (kaMetaObject* meta : std::vector<kaMetaObject*>(kaMetaObject::getRegisteredClasses()))
        if (*meta->getSummary()) passes.push_back(meta->getName());
    ASSERT_FALSE(passes.empty());

    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    std::vector<std::string> leaks;
    for (const std::string& pass : passes)
        for (const std::filesystem::path& model : scenes) {
            kaTest::kaScratchDir scratch;
            // The first run may build what lives as long as the process (meta enums, class names).
            if (!runOnce(pass.c_str(), model, scratch)) continue;
            const kaLiveCounts before;
            runOnce(pass.c_str(), model, scratch);
            const kaLiveCounts after;
            if (after.objects != before.objects || after.strings != before.strings)
                leaks.push_back(pass + " on " + (model.empty() ? "the example" : model.filename().string()) + ": " +
                                std::to_string(after.objects - before.objects) + " objects, " +
                                std::to_string(long(after.strings) - long(before.strings)) + " strings");
        }
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(leaks.empty()) << testing::PrintToString(leaks);
}
