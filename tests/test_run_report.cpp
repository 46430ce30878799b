// The ledger of a run (scene counts, losses), kaopt --strict on losses and the JSON run report.
#include "host/attrs/kaLightAttr.h"
#include "host/attrs/kaMaterialAttr.h"
#include "host/core/kaWarnings.h"
#include "host/gfx/kaImage.h"
#include "host/io/kaGltf.h"
#include "host/io/kaSceneCounts.h"
#include "host/io/kaSceneFile.h"
#include "host/sg/kaCamera.h"
#include "host/sg/kaLightSet.h"
#include "host/sg/kaTransform.h"
#include "host/utils/kaVec3fList.h"
#include "kaPassTestTools.h"
#include "kaTestTools.h"

#include <nlohmann/json.hpp>

#include <limits>

using namespace kaTest;
using namespace Lode::Io;
using Lode::Attrs::kaLightAttr;
using Lode::Attrs::kaMaterialAttr;
using Lode::Gfx::kaImage;
using Lode::Utils::kaVec3fList;
using Json = nlohmann::json;
namespace fs = std::filesystem;

namespace {

// A scene of known counts. "arm" is the only name that animations and skeletons find:
//   root ── arm ── crate (drawn; material; texture of two levels)
//        ├─ shelf ── crate (its second place)
//        ├─ empty (geometry without attributes)   ├─ light set    ├─ camera
//        └─ face (a morph instance of two targets, 4 vertices shared with its base, 4 weight slots)
struct CountedScene {
    kaSmartPointer<kaInfoList> infos = make<kaInfoList>();

    CountedScene()
    {
        auto root = make<kaGroup>("root");
        auto arm = make<kaTransform>("arm");
        auto shelf = make<kaGroup>("shelf");
        auto crate = make<kaGeometry>("crate");
        auto material = make<kaMaterialAttr>();
        material->setShininess(40.0f);
        auto texture = make<kaTextureAttr>();
        texture->setImageCount(2);
        for (int level = 0; level < 2; ++level) {
            auto image = make<kaImage>();
            image->setup(4 >> level, 2 >> level, Lode::Gfx::KA_GFX_TEXTURE_FORMAT_RGBA_8);
            texture->setImage(image, level);
        }
        crate->appendAttr(material), crate->appendAttr(texture);
        crate->appendAttr(geometryAttr(filledArray(0x000001, 3), 1, 4));
        arm->appendChild(crate), shelf->appendChild(crate);
        auto lights = make<kaLightSet>();
        lights->appendLight(make<kaLightAttr>());
        auto face = make<kaMorphInstance>("face");
        auto base = make<kaMorphBase>();
        // Four, three, two and one influences.
        base->setVertexArray(weightedArray({{0.4f, 0.3f, 0.2f, 0.1f}, {0.5f, 0.3f, 0.2f, 0.0f}, {0.6f, 0.4f, 0.0f, 0.0f},
                                            {1.0f, 0.0f, 0.0f, 0.0f}}));
        for (int target = 0; target < 2; ++target) base->appendTarget(make<kaVec3fList>(), make<kaIntList>(), nullptr, nullptr);
        face->setBase(base);
        face->appendAttr(geometryAttr(base->getVertexArray(), 2, 4));
        root->appendChild(arm), root->appendChild(shelf), root->appendChild(make<kaGeometry>("empty"));
        root->appendChild(lights), root->appendChild(make<kaCamera>("camera")), root->appendChild(face);
        auto scene = make<kaSceneInfo>("counted");
        scene->setSceneGraph(root);

        auto database = make<kaAnimationDatabase>("moves");
        auto skeleton = make<kaSkeleton>("body"), lost = make<kaSkeleton>("lost");
        skeleton->appendJoint("arm", {}), skeleton->appendJoint("ghost", {}), lost->appendJoint("ghost", {});
        database->appendSkeleton(skeleton), database->appendSkeleton(lost);
        auto wave = make<kaAnimation>("wave"), gone = make<kaAnimation>("gone");
        auto armKeys = make<kaAnimationBinding>("arm"), ghostKeys = make<kaAnimationBinding>("ghost");
        armKeys->appendTranslationKey(0.0f, {1, 0, 0}), armKeys->appendRotationKey(0.0f, {0, 0, 0, 1});
        ghostKeys->appendScaleKey(0.0f, {1, 1, 1});
        wave->appendBinding(armKeys), wave->appendBinding(ghostKeys), gone->appendBinding(ghostKeys);
        database->appendAnimation(wave), database->appendAnimation(gone);
        infos->append(scene), infos->append(database);
    }
    kaGroup* root() const { return kaGroup::dynamicCast(kaSceneInfo::dynamicCast(infos->getShared(0))->getSceneGraph()); }
};

kaSceneCounts countedSceneCounts()
{
    kaSceneCounts counts;
    counts.nodes = 9, counts.meshes = 3, counts.vertices = 7, counts.primitives = 3, counts.skins = 1;
    counts.joints = 1, counts.animations = 1, counts.channels = 2, counts.morphTargets = 2, counts.materials = 1;
    counts.textures = 1, counts.images = 1, counts.imageBytes = 4 * 2 * 4, counts.lights = 1, counts.cameras = 1;
    return counts;
}

Json countsJson(const kaSceneCounts& counts)
{
    Json json;
    for (const kaSceneCountKey& key : kaSceneCountKeys) json[key.name] = counts.*key.member;
    return json;
}

} // namespace

TEST(SceneCounts, CountWhatAViewerWouldShow)
{
    CountedScene scene;
    EXPECT_EQ(countsJson(kaCountScene(scene.infos)), countsJson(countedSceneCounts()));
}

// Every shape of graph is counted without a call per level, and paths beyond counting saturate.
TEST(SceneCounts, CyclesDepthAndSharingBeyondCounting)
{
    const auto sceneOf = [](kaNode* root) {
        auto scene = make<kaSceneInfo>();
        scene->setSceneGraph(root);
        auto infos = make<kaInfoList>();
        infos->append(scene);
        return kaCountScene(infos);
    };
    auto loop = make<kaGroup>(), inner = make<kaGroup>();
    loop->appendChild(inner), inner->appendChild(loop);
    EXPECT_EQ(sceneOf(loop).nodes, 2) << "a cycle counts each node once";
    inner->removeChild(loop.get()); // counted references cannot free a cycle

    // Two groups that share one child list both hold what it lists.
    auto pair = make<kaGroup>(), left = make<kaGroup>(), right = make<kaGroup>();
    pair->appendChild(left), pair->appendChild(right);
    left->appendChild(make<kaGeometry>());
    static_cast<kaObjectRefMetaField*>(right->getMetaField("_children"))->set(right, left->getChildren());
    EXPECT_EQ(sceneOf(pair).nodes, 5) << "the listed node counts at both places";

    auto deep = make<kaGroup>();
    kaGroup* at = deep;
    for (int level = 0; level < 200000; ++level) {
        auto child = make<kaGroup>();
        at->appendChild(child);
        at = child;
    }
    at->appendChild(make<kaGeometry>());
    EXPECT_EQ(sceneOf(deep).nodes, 200002);

    // 70 levels of two groups that both hold both groups of the next level: 2^70 places.
    auto top = make<kaGroup>();
    std::vector<kaSmartPointer<kaGroup>> level{top};
    for (int depth = 0; depth < 70; ++depth) {
        std::vector<kaSmartPointer<kaGroup>> next{make<kaGroup>(), make<kaGroup>()};
        for (auto& parent : level)
            for (auto& child : next) parent->appendChild(child);
        level = next;
    }
    EXPECT_EQ(sceneOf(top).nodes, std::numeric_limits<int64_t>::max());
}

TEST(SceneCounts, AFallIsALossUnlessALossOfThatCountExplainsIt)
{
    kaSceneCounts before, after;
    before.meshes = 2, before.animations = 3, before.images = 1, before.vertices = 10;
    after.animations = 3, after.images = 2;
    const kaWarning meshesLost{"f: geometry dropped", true, kaCount::meshes};
    const kaWarning notALoss{"f: meshes renamed", false, kaCount::meshes};
    const kaWarning otherCount{"f: images dropped", true, kaCount::images};
    const struct {
        std::vector<kaWarning> kept;
        std::vector<std::string> falls;
    } cases[] = {{{}, {"meshes 2 -> 0"}},
                 {{meshesLost}, {}},
                 {{notALoss}, {"meshes 2 -> 0"}},
                 {{otherCount}, {"meshes 2 -> 0"}}};
    for (const auto& c : cases) EXPECT_EQ(kaUnexplainedFalls(before, after, c.kept), c.falls);
}

// A written glTF file is counted without its vertex data: the counts are those of the whole
// scene the file holds.
TEST(SceneCounts, AGltfFileCountsAlikeReadWholeOrForCounting)
{
    for (const fs::path& model : sampleModels()) {
        SCOPED_TRACE(model.string());
        kaSmartPointer<kaInfoList> whole, counted;
        std::string error;
        ASSERT_TRUE(kaImportGltf(model.string(), whole, error)) << error;
        ASSERT_TRUE(kaImportGltf(model.string(), counted, error, kaGltfImportData::Counts)) << error;
        EXPECT_EQ(countsJson(kaCountScene(counted)), countsJson(kaCountScene(whole)));
    }
}

// Reading back what a run is about to commit sees the pending content, and only while asked to.
TEST(SceneCounts, PendingFilesAreReadBackOnlyWhileReadingPending)
{
    kaScratchDir scratch;
    const std::string path = (scratch / "scene.glb").string();
    kaFileCommit files;
    std::string error;
    ASSERT_TRUE(files.write(path, "pending", 7, error)) << error;
    EXPECT_EQ(kaFileCommit::readablePath(path), path);
    EXPECT_EQ(kaSceneFileBytes(path), 0) << "nothing is there yet";
    {
        const kaFileCommit::ReadingPending pending(files);
        EXPECT_EQ(readText(kaFileCommit::readablePath(path)), "pending");
        EXPECT_EQ(kaSceneFileBytes(path), 7);
    }
    EXPECT_EQ(kaFileCommit::readablePath(path), path);
}

// A .gltf counts with the buffers and images it refers to by file, each as often as it is named;
// data URIs, other URIs and files it does not name are not counted, and unreadable JSON counts
// as the file alone.
TEST(SceneCounts, AGltfFileCountsTheFilesItsBuffersAndImagesName)
{
    kaScratchDir scratch;
    writeText(scratch / "mesh.bin", std::string(100, 'b'));
    writeText(scratch / "skin.png", std::string(20, 'p'));
    writeText(scratch / "other.bin", std::string(3000, 'o'));
    const Json document = {
        {"asset", {{"version", "2.0"}, {"uri", "other.bin"}}},
        {"buffers", {{{"byteLength", 100}, {"uri", "mesh.bin"}}, {{"byteLength", 4}, {"uri", "data:,abcd"}}}},
        {"images",
         {{{"uri", "skin.png"}, {"extras", {{"uri", "other.bin"}}}}, {{"uri", "skin.png"}}, {{"uri", {"other.bin"}}}}},
        {"nodes", {{{"name", "n"}, {"extras", {{"buffers", {{{"uri", "other.bin"}}}}}}}}},
    };
    const struct {
        std::string text;
        int64_t referenced;
    } cases[] = {{document.dump(), 100 + 20 + 20}, {document.dump().substr(0, 40), 0}};
    for (const auto& file : cases) {
        SCOPED_TRACE(file.text);
        writeText(scratch / "scene.gltf", file.text);
        EXPECT_EQ(kaSceneFileBytes((scratch / "scene.gltf").string()),
                  static_cast<int64_t>(file.text.size()) + file.referenced);
    }
}

// ---- kaopt ----

namespace {

struct KaoptLedger : testing::Test {
    kaScratchDir scratch;
    std::string input = (scratch / "in.kab").string();

    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(kaWriteScene(input, CountedScene().infos, {}, error)) << error;
    }
    std::string script(const std::string& name, const std::string& text)
    {
        writeText(scratch / name, text);
        return (scratch / name).string();
    }
    Json report(const std::string& name) { return Json::parse(readText(scratch / name)); }
};

} // namespace

TEST_F(KaoptLedger, TheReportHoldsThePassesTheirMessagesAndTheCountsBeforeAndAfter)
{
    const std::string output = (scratch / "out.kab").string(), reportPath = (scratch / "run.json").string();
    const std::string statistics = script("stats.ini", "[kaEmpty]\n[kaGeometryStatistics]\n");
    const kaRunResult plain = runKaopt("run --script " + statistics + " -o " + output + " " + input);
    const kaRunResult run = runKaopt("run --script " + statistics + " --report " + reportPath + " -o " + output + " " + input);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(withoutAddresses(run.out), withoutAddresses(plain.out)) << "standard output keeps what the passes print";
    const Json json = report("run.json");
    EXPECT_EQ(json["kaopt"], KA_VERSION);
    EXPECT_EQ(json["script"], statistics);
    ASSERT_EQ(json["inputs"].size(), 1u);
    const Json& entry = json["inputs"][0];
    EXPECT_EQ(entry["input"], input);
    EXPECT_EQ(entry["output"], output);
    EXPECT_EQ(entry["status"], 0);
    EXPECT_EQ(entry["warnings"], Json::array());
    ASSERT_EQ(entry["passes"].size(), 2u);
    EXPECT_EQ(entry["passes"][0]["class"], "kaEmpty");
    EXPECT_EQ(entry["passes"][0]["messages"], Json::array());
    EXPECT_EQ(entry["passes"][1]["class"], "kaGeometryStatistics");
    std::string printed;
    for (const std::string line : entry["passes"][1]["messages"]) printed += line + "\n";
    EXPECT_EQ(printed, run.out);
    Json before = countsJson(countedSceneCounts()), after = before;
    before["fileBytes"] = fs::file_size(input);
    after["fileBytes"] = fs::file_size(output);
    EXPECT_EQ(entry["before"], before);
    EXPECT_EQ(entry["after"], after);
}

// Each kind of loss is named on standard error; --strict then fails the run (exit status 3),
// writes nothing but the report, and the report marks the loss.
TEST_F(KaoptLedger, EveryLossIsNamedAndStrictFailsOnIt)
{
    const struct {
        const char* name;
        const char* script;
        const char* output;
        const char* loss;  // the start of the loss line
        const char* also = "";
    } cases[] = {
        {"renamed joints", "[kaNameUnique]\n", "out.kab", "LOSS: %OUT%: animations 1 -> 0, and no warning said why"},
        {"names removed, glTF", "[kaRemoveNames]\n", "out.glb", "LOSS: %OUT%: animation bindings naming no transform dropped"},
        {"level without a key", "[kaCreateLod]\n_lodCount = 2\ndirectory2 = levels\n", "out.kab",
         "LOSS: kaCreateLod: level 1 of \"crate\" is empty: no directory1 key names its folder"},
        {"level file missing", "[kaCreateLod]\ndirectory1 = levels\n", "out.kab",
         "LOSS: kaCreateLod: level 1 of \"crate\" is empty: its file could not be read"},
        {"cleared weight slot", "[kaReduceBlendWeights]\n_blendWeightCount = 3\n", "out.kab",
         "LOSS: kaReduceBlendWeights: MorphInstance 0x",
         "\"face\": 2 vertices lose the influence in their last kept weight slot (reducing to 3 keeps 2)\n"},
        {"what glTF cannot hold", "[kaEmpty]\n", "out.glb", "LOSS: %OUT%: material shininess dropped"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string output = (scratch / c.output).string(), path = script("lossy.ini", c.script);
        std::string loss = c.loss;
        if (loss.find("%OUT%") != std::string::npos) loss.replace(loss.find("%OUT%"), 5, output);
        const std::string text = loss.substr(6);  // without "LOSS: "
        for (bool strict : {false, true}) {
            fs::remove(output);
            const kaRunResult run = runKaopt("run --script " + path + (strict ? " --strict" : "") + " --report " +
                                             (scratch / "lossy.json").string() + " -o " + output + " " + input);
            EXPECT_EQ(run.status, strict ? 3 : 0) << run.err;
            EXPECT_THAT(run.err, HasSubstr(loss));
            EXPECT_THAT(run.err, HasSubstr(c.also));
            EXPECT_EQ(fs::exists(output), !strict);
            const Json entry = report("lossy.json")["inputs"][0];
            EXPECT_EQ(entry["status"], run.status);
            const auto marked = std::find_if(entry["warnings"].begin(), entry["warnings"].end(), [&](const Json& w) {
                return w["loss"] == true && w["text"].get<std::string>().rfind(text, 0) == 0;
            });
            EXPECT_TRUE(marked != entry["warnings"].end()) << entry["warnings"].dump();
        }
    }
}

// A batch judges each input on its own: in processes or not, the report has every input's entry,
// standard output names each input before what its passes printed, and the worst status wins.
TEST_F(KaoptLedger, ABatchReportsEveryInputAndExitsWithTheWorstStatus)
{
    const std::string lossless = (scratch / "plain.kab").string(), broken = (scratch / "broken.kab").string();
    {
        CountedScene plain;
        plain.root()->removeChild(plain.root()->getChild(4));  // the camera, for a scene that differs
        auto infos = make<kaInfoList>();
        infos->append(plain.infos->getShared(0));
        std::string error;
        ASSERT_TRUE(kaWriteScene(lossless, infos, {}, error)) << error;
    }
    writeText(broken, "not a scene");
    const std::string path = script("batch.ini", "[kaGeometryStatistics]\n[kaNameUnique]\n");
    for (const char* jobs : {"1", "3"}) {
        SCOPED_TRACE(jobs);
        const fs::path folder = scratch / (std::string("out") + jobs);
        const kaRunResult run = runKaopt("run --strict --script " + path + " --out-dir " + folder.string() + " -j " +
                                         jobs + " --report " + (scratch / "batch.json").string() + " " + input +
                                         " " + lossless + " " + broken);
        EXPECT_EQ(run.status, 3) << run.err;
        const size_t first = run.out.find("==> " + input + " <==\n"), second = run.out.find("==> " + lossless + " <==\n"),
                     third = run.out.find("==> " + broken + " <==\n");
        EXPECT_TRUE(first == 0 && first < second && second < third && third != std::string::npos) << run.out;
        EXPECT_FALSE(fs::exists(folder / "in.kab"));
        EXPECT_TRUE(fs::exists(folder / "plain.kab"));
        const Json inputs = report("batch.json")["inputs"];
        ASSERT_EQ(inputs.size(), 3u);
        const int statuses[] = {3, 0, 2};
        for (int i = 0; i < 3; ++i) EXPECT_EQ(inputs[i]["status"], statuses[i]) << inputs[i].dump();
        EXPECT_EQ(inputs[1]["before"]["cameras"], 0) << "each input counted on its own";
        EXPECT_EQ(inputs[0]["before"]["cameras"], 1);
        EXPECT_THAT(inputs[2]["error"].get<std::string>(), HasSubstr(broken));
        EXPECT_TRUE(inputs[2]["before"].is_null());
    }
}
