// The geometry data passes on real assets through kaopt: each example script runs on every
// sample model and its glTF export adds no validator error; the export of converted geometry
// equals that of the first-generation original accessor by accessor; removed components are
// gone from the exported primitives.
#include "kaTestTools.h"

#include <nlohmann/json.hpp>

#include <iostream>
#include <set>

namespace {

using Json = nlohmann::json;

const char* const kExamples[] = {"convert-attributes", "remove-components", "scale-colors", "display-list"};

std::string example(const std::string& name) { return std::string(KA_SOURCE_DIR) + "/examples/" + name + ".ini"; }

// Runs a script on input ("--example" for the example scene) and writes output; the status.
int runScript(const std::string& script, const std::string& input, const std::filesystem::path& output)
{
    const kaTest::kaRunResult run =
        kaTest::runKaopt("run --quiet --script '" + script + "' -o '" + output.string() + "' " + input);
    EXPECT_EQ(run.status, 0) << script << " on " << input << ": " << run.err;
    return run.status;
}

// The bytes of one accessor of a .gltf written with its .bin beside it.
std::string accessorBytes(const Json& gltf, const std::string& bin, const Json& accessor)
{
    if (!accessor.contains("bufferView")) return {};
    const Json& view = gltf["bufferViews"][accessor["bufferView"].get<size_t>()];
    const size_t start = view.value("byteOffset", size_t(0)) + accessor.value("byteOffset", size_t(0));
    return bin.substr(start, view["byteLength"].get<size_t>() - accessor.value("byteOffset", size_t(0)));
}

std::vector<std::string> inputs()
{
    std::vector<std::string> result{"--example"};
    for (const auto& model : kaTest::sampleModels()) result.push_back("'" + model.string() + "'");
    return result;
}

} // namespace

TEST(GeometryDataGltf, ExamplesRunOnEverySampleModelAndExportWithoutNewValidatorErrors)
{
    const auto models = kaTest::sampleModels();
    if (models.empty()) GTEST_SKIP() << "no sample models under " << kaTest::kaSamples;
    const bool validator = kaTest::validatorAvailable();
    if (!validator) std::cerr << "the Khronos glTF validator is not installed: exports are not validated\n";
    for (const auto& model : models) {
        const kaTest::kaValidation source = validator ? kaTest::validate(model) : kaTest::kaValidation{};
        for (const char* name : kExamples) {
            kaTest::kaScratchDir scratch;
            const auto output = scratch / (model.stem().string() + ".glb");
            if (runScript(example(name), "'" + model.string() + "'", output) != 0 || !validator) continue;
            const kaTest::kaValidation exported = kaTest::validate(output);
            ASSERT_TRUE(exported.ran) << exported.text;
            for (const std::string& code : exported.errorCodes)
                EXPECT_TRUE(source.errorCodes.count(code)) << name << " on " << model.filename() << ": " << exported.text;
        }
    }
}

TEST(GeometryDataGltf, ConvertedGeometryExportsAccessorByAccessorAsTheOriginal)
{
    for (const std::string& input : inputs()) {
        kaTest::kaScratchDir original, converted;
        runScript(example("empty"), input, original / "scene.gltf");
        runScript(example("convert-attributes"), input, converted / "scene.gltf");
        const Json before = Json::parse(kaTest::readText(original / "scene.gltf"));
        const Json after = Json::parse(kaTest::readText(converted / "scene.gltf"));
        const std::string beforeBin = kaTest::readText(original / "scene.bin");
        const std::string afterBin = kaTest::readText(converted / "scene.bin");
        ASSERT_EQ(before["accessors"].size(), after["accessors"].size()) << input;
        for (size_t a = 0; a < before["accessors"].size(); ++a) {
            EXPECT_EQ(before["accessors"][a], after["accessors"][a]) << input << ", accessor " << a;
            EXPECT_TRUE(accessorBytes(before, beforeBin, before["accessors"][a]) ==
                        accessorBytes(after, afterBin, after["accessors"][a]))
                << input << ", accessor " << a << ": other bytes";
        }
        EXPECT_EQ(before["meshes"], after["meshes"]) << input;
    }
}

TEST(GeometryDataGltf, RemovedComponentsAreGoneFromTheExportedPrimitives)
{
    kaTest::kaScratchDir scratch;
    runScript(example("remove-components"), "--example", scratch / "scene.gltf");
    const Json gltf = Json::parse(kaTest::readText(scratch / "scene.gltf"));
    // The barrel, a second-generation attribute, is drawn in both yards and keeps both.
    const std::set<std::string> barrel{"NORMAL", "POSITION", "TEXCOORD_0"};
    int keeping = 0, morphs = 0;
    for (const Json& mesh : gltf["meshes"])
        for (const Json& primitive : mesh["primitives"]) {
            std::set<std::string> attributes;
            for (const auto& [name, accessor] : primitive["attributes"].items()) attributes.insert(name);
            if (attributes.count("NORMAL") || attributes.count("TEXCOORD_0")) {
                EXPECT_EQ(attributes, barrel) << mesh["name"];
                ++keeping;
            }
            for (const Json& target : primitive.value("targets", Json::array())) {
                ++morphs;
                EXPECT_FALSE(target.contains("NORMAL")) << mesh["name"];
            }
        }
    EXPECT_EQ(keeping, 2);
    EXPECT_GT(morphs, 0) << "the morphing face is exported";
}
