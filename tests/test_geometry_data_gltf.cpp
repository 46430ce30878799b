// The geometry data passes on real assets through kaopt: each example script runs on every
// sample model and its glTF export adds no validator error; converted geometry exports accessor
// by accessor as the first-generation original; removed components leave the export.
#include "kaTestTools.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <iostream>

using Json = nlohmann::json;

namespace {

std::string example(const std::string& name) { return std::string(KA_SOURCE_DIR) + "/examples/" + name + ".ini"; }

// Runs an example script on input ("--example" for the example scene), writing output.
int runScript(const std::string& name, const std::string& input, const std::filesystem::path& output)
{
    const auto run = kaTest::runKaopt("run --quiet --script " + example(name) + " -o '" + output.string() + "' " + input);
    EXPECT_EQ(run.status, 0) << name << " on " << input << ": " << run.err;
    return run.status;
}

} // namespace

TEST(GeometryDataGltf, ExamplesRunOnEverySampleModelAndExportWithoutNewValidatorErrors)
{
    if (kaTest::sampleModels().empty()) GTEST_SKIP() << "no sample models under " << kaTest::kaSamples;
    const bool validator = kaTest::validatorAvailable();
    if (!validator) std::cerr << "the Khronos glTF validator is not installed: exports are not validated\n";
    for (const auto& model : kaTest::sampleModels()) {
        const kaTest::kaValidation source = validator ? kaTest::validate(model) : kaTest::kaValidation{};
        for (const char* name : {"convert-attributes", "remove-components", "scale-colors", "display-list"}) {
            kaTest::kaScratchDir scratch;
            if (runScript(name, "'" + model.string() + "'", scratch / "out.glb") != 0 || !validator) continue;
            const kaTest::kaValidation exported = kaTest::validate(scratch / "out.glb");
            ASSERT_TRUE(exported.ran) << exported.text;
            for (const std::string& code : exported.errorCodes)
                EXPECT_TRUE(source.errorCodes.count(code)) << name << " on " << model.filename() << ": " << exported.text;
        }
    }
}

TEST(GeometryDataGltf, ConvertedGeometryExportsAccessorByAccessorAsTheOriginal)
{
    std::vector<std::string> inputs{"--example"};
    for (const auto& model : kaTest::sampleModels()) inputs.push_back("'" + model.string() + "'");
    for (const std::string& input : inputs) {
        kaTest::kaScratchDir original, converted;
        runScript("empty", input, original / "scene.gltf");
        runScript("convert-attributes", input, converted / "scene.gltf");
        const Json before = Json::parse(kaTest::readText(original / "scene.gltf"));
        const Json after = Json::parse(kaTest::readText(converted / "scene.gltf"));
        const std::string beforeBin = kaTest::readText(original / "scene.bin");
        const std::string afterBin = kaTest::readText(converted / "scene.bin");
        // An accessor's bytes: from its place in its buffer view to the end of the view.
        auto bytes = [](const Json& gltf, const std::string& bin, const Json& accessor) {
            const Json& view = gltf["bufferViews"][accessor.value("bufferView", 0)];
            return bin.substr(view.value("byteOffset", 0) + accessor.value("byteOffset", 0),
                              view.value("byteLength", 0) - accessor.value("byteOffset", 0));
        };
        ASSERT_EQ(before["accessors"].size(), after["accessors"].size()) << input;
        for (size_t a = 0; a < before["accessors"].size(); ++a) {
            EXPECT_EQ(before["accessors"][a], after["accessors"][a]) << input << ", accessor " << a;
            EXPECT_TRUE(bytes(before, beforeBin, before["accessors"][a]) == bytes(after, afterBin, after["accessors"][a]))
                << input << ", accessor " << a << " holds other bytes";
        }
        EXPECT_EQ(before["meshes"], after["meshes"]) << input;
    }
}

TEST(GeometryDataGltf, RemovedComponentsLeaveTheExportedPrimitivesAndMorphTargets)
{
    kaTest::kaScratchDir scratch;
    runScript("remove-components", "--example", scratch / "scene.gltf");
    const Json gltf = Json::parse(kaTest::readText(scratch / "scene.gltf"));
    // Only the second-generation barrel, drawn in both yards, keeps normals and coordinates.
    int keeping = 0, targets = 0;
    for (const Json& mesh : gltf["meshes"])
        for (const Json& primitive : mesh["primitives"]) {
            const Json& attributes = primitive["attributes"];
            if (attributes.contains("NORMAL") || attributes.contains("TEXCOORD_0")) {
                EXPECT_TRUE(attributes.size() == 3 && attributes.contains("NORMAL") && attributes.contains("TEXCOORD_0"));
                ++keeping;
            }
            for (const Json& target : primitive.value("targets", Json::array()))
                targets += 1 + 100 * target.contains("NORMAL");
        }
    EXPECT_EQ(keeping, 2);
    EXPECT_EQ(targets, 2) << "the face's two morph targets, without normals";
}
