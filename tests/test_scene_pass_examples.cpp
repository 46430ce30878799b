// The example scripts of the scene-wide passes on every sample glTF model: kaopt exits 0, and
// the glTF it writes has no kind of validator error that the model did not have already.
#include "kaTestTools.h"

#include <gtest/gtest.h>

TEST(ScenePassExamples, RunOnEverySampleModelAndExportValidGltf)
{
    if (kaTest::sampleModels().empty()) GTEST_SKIP() << "no sample models under " << kaTest::kaSamples;
    const bool validating = kaTest::validatorAvailable();
    if (!validating) std::fprintf(stderr, "the Khronos glTF validator is not installed: exported files go unchecked\n");
    for (const std::filesystem::path& model : kaTest::sampleModels()) {
        const kaTest::kaValidation source = validating ? kaTest::validate(model) : kaTest::kaValidation{};
        for (const char* script : {"instance-geometries", "name-unique", "remove-names", "remove-parent-list",
                                   "collect-light", "clear-specular"}) {
            kaTest::kaScratchDir scratch;
            const std::filesystem::path output = scratch / "out.glb";
            const kaTest::kaRunResult run = kaTest::runKaopt("run --quiet --script " + std::string(KA_SOURCE_DIR) +
                                                             "/examples/" + script + ".ini -o '" + output.string() +
                                                             "' '" + model.string() + "'");
            ASSERT_EQ(run.status, 0) << model.filename() << " " << script << ": " << run.err;
            if (!validating) continue;
            const kaTest::kaValidation exported = kaTest::validate(output);
            ASSERT_TRUE(exported.ran) << exported.text;
            for (const std::string& code : exported.errorCodes)
                EXPECT_TRUE(source.errorCodes.count(code)) << model.filename() << " " << script << ": " << exported.text;
        }
    }
}
