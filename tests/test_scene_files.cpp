// Scene files by extension and the generic scene dump (text and JSON).
#include "host/attrs/kaGeometryAttr.h"
#include "host/attrs/kaTextureAttr.h"
#include "host/core/kaWalk.h"
#include "host/io/kaKABFile.h"
#include "host/io/kaSceneDump.h"
#include "host/io/kaSceneFile.h"
#include "host/sg/kaAnimationDatabase.h"
#include "host/sg/kaGeometry.h"
#include "host/sg/kaTransform.h"
#include "kaTestTools.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>

using namespace Lode::Core;
using namespace Lode::Sg;
using namespace Lode::Attrs;
using namespace Lode::Gfx;
using namespace Lode::Io;
using json = nlohmann::ordered_json;
using kaTest::kaScratchDir;
using kaTest::readText;
using testing::HasSubstr;
using testing::StartsWith;

namespace {

kaSmartPointer<kaVertexArray> makeVertices(int count, int blendWeights)
{
    kaVertexFormat format;
    format.setPositions(true);
    format.setNormals(true);
    format.setBlendWeightCount(blendWeights);
    format.setBlendIndexCount(blendWeights);
    auto vertices = make<kaVertexArray>();
    vertices->setup(format, count, 0, 0);
    vertices->closeSetup();
    return vertices;
}

kaSmartPointer<kaGeometryAttr> makeAttr(const char* name, kaVertexArray* vertices, kaIndexArray* indices)
{
    auto attr = make<kaGeometryAttr1_5>(name);
    attr->configureVertexArray(vertices);
    attr->setIndexArray(indices);
    attr->setPrimitiveCount(2);
    return attr;
}

kaSmartPointer<kaInfoList> infosOf(std::initializer_list<kaInfo*> entries)
{
    auto infos = make<kaInfoList>();
    for (kaInfo* info : entries) infos->append(info);
    return infos;
}

// A small scene: a crate node placed under two groups, two attributes sharing one index array,
// an animated transform, a texture and an animation database.
struct SmallScene {
    kaSmartPointer<kaInfoList> infos;

    SmallScene()
    {
        auto indices = make<kaIndexArray>();
        indices->setCount(6);
        auto crate = make<kaGeometry>("crate");
        crate->appendAttr(makeAttr("crate_mesh", makeVertices(4, 2), indices));
        auto image = make<kaImage>("wall.png");
        image->setup(4, 2, KA_GFX_TEXTURE_FORMAT_RGBA_8);
        auto texture = make<kaTextureAttr>("wall");
        texture->setImage(image, 0);
        auto barrel = make<kaGeometry>("barrel");
        barrel->appendAttr(texture);
        barrel->appendAttr(makeAttr("barrel_mesh", makeVertices(3, 0), indices));

        auto spinning = make<kaTransform>("spinning");
        spinning->setAnimated(true);
        spinning->appendChild(crate);
        auto root = make<kaGroup>("root");
        root->appendChild(spinning);
        root->appendChild(crate);
        root->appendChild(barrel);

        auto scene = make<kaSceneInfo>("small");
        scene->setSceneGraph(root);
        auto database = make<kaAnimationDatabase>("moves");
        auto skeleton = make<kaSkeleton>("bones");
        skeleton->appendJoint("hip", {});
        skeleton->appendJoint("knee", {});
        database->appendSkeleton(skeleton);
        database->appendAnimation(make<kaAnimation>("idle"));
        infos = infosOf({scene, database});
    }
};

json dumpJson(const kaInfoList* infos, const kaFileInfo* file = nullptr)
{
    return json::parse(kaDumpScene("small.kab", infos, file, kaDumpFormat::Json));
}

// The full showings (objects with a class and no "see") and the back references, by class.
void collectShown(const json& value, std::multiset<std::string>& shown, std::vector<json>& seen)
{
    if (value.is_object() && value.contains("class")) {
        if (value.contains("see")) {
            seen.push_back(value);
            return;
        }
        shown.insert(value["class"].get<std::string>() + " " + value.value("name", ""));
    }
    if (value.is_structured())
        for (const json& child : value) collectShown(child, shown, seen);
}

size_t countOf(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

} // namespace

// ---- the dump ----

// The text is the JSON document laid out for reading: the facts are checked once, in the text,
// and the JSON for its own shape.
TEST(SceneDump, TextAndJsonShowTheTreeWithKeyFactsAndChangedFields)
{
    SmallScene scene;
    const json dump = dumpJson(scene.infos);
    EXPECT_EQ(dump["scene"], "small.kab");
    EXPECT_EQ(dump["objectCount"], kaCollectReachable({scene.infos->getShared(0), scene.infos->getShared(1)}).size());
    ASSERT_EQ(dump["infos"].size(), 2u);
    // A list held by its group alone is shown as the group's field; fields at their default
    // (flags 0, the identity matrix, an empty child list) are left out.
    const json& spinning = dump["infos"][0]["fields"]["_root"]["fields"]["_children"][0];
    EXPECT_EQ(spinning["fields"].size(), 2u) << spinning["fields"].dump();
    const json& crate = spinning["fields"]["_children"][0];
    EXPECT_FALSE(crate["fields"].contains("_children"));

    // Shared objects are shown once, then referred to by their number.
    std::multiset<std::string> shown;
    std::vector<json> seen;
    collectShown(dump, shown, seen);
    EXPECT_EQ(shown.count("kaGeometry crate"), 1u) << "the crate has two parents";
    EXPECT_EQ(shown.count("kaIndexArray "), 1u) << "two attributes use one index array";
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], json::parse(R"({"class": "kaGeometry", "name": "crate", "see": )" + crate["id"].dump() + "}"));
    EXPECT_EQ(seen[1]["class"], "kaIndexArray");
    const json& vertices = crate["fields"]["_attrs"][0]["fields"]["_vertexArray"]["fields"];
    EXPECT_EQ(vertices["_positions"], json::parse(R"({"type": "float", "count": 12, "values": [0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0]})"));
    EXPECT_EQ(vertices["_blendIndices"]["count"], 8);
    EXPECT_FALSE(vertices.contains("_colors")) << "the format has no colours";

    const std::string text = kaDumpScene("small.kab", scene.infos, nullptr, kaDumpFormat::Text);
    EXPECT_EQ(text.substr(0, text.find('\n')), "small.kab: 2 infos, " + dump["objectCount"].dump() + " objects");
    // Two columns per level; fields under their object, entries of lists under the field. Bulk
    // data shows its size only; string objects held alone are shown as their text.
    const char* expected[] = {
        "[0] kaSceneInfo \"small\"\n",
        "\n  _root: kaGroup \"root\"  children=3\n",
        "\n    _children:\n      [0] kaTransform \"spinning\"  children=1\n        _children:\n"
        "          [0] kaGeometry \"crate\" #1 (shared)  children=0 attrs=1\n",
        "\n              [0] kaGeometryAttr1_5 \"crate_mesh\"  vertices=4 format=\"P N B=2 I=2\" primitives=2 "
        "type=\"KA_GFX_DRAW_TRIANGLES\"\n",
        "\n                  _positions: float[12] 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0\n",
        "\n        _animated: true\n",
        "\n      [1] kaGeometry \"crate\" (shared, see #1)\n",
        "\n          [0] kaTextureAttr \"wall\"  images=1 mipmap=\"None\"\n",
        "  width=4 height=2 format=\"RGBA8\" bytes=32\n",
        "\n                _pixels: uint8[32]\n",
        "\n[1] kaAnimationDatabase \"moves\"  skeletons=1 animations=1 infos=0\n",
        "\n      _jointNames: \"hip\", \"knee\"\n",
    };
    size_t at = 0;
    for (const char* part : expected) {
        const size_t found = text.find(part, at);
        ASSERT_NE(found, std::string::npos) << "missing, in order: " << part << "\n" << text;
        at = found;
    }
    EXPECT_EQ(countOf(text, "(shared, see #"), 2u) << "the crate and the index array: " << text;
    EXPECT_EQ(text.find("_flags"), std::string::npos) << text;
}

TEST(SceneDump, CyclesExternalObjectsAndDeepChainsAreShownFinitely)
{
    // A group that holds itself, and an image that a file keeps in a PNG of its own.
    auto loop = make<kaGroup>("loop");
    loop->appendChild(loop);
    auto image = make<kaImage>("wall");
    auto texture = make<kaTextureAttr>("wall");
    texture->setImage(image, 0);
    auto holder = make<kaAttrSet>("holder");
    holder->appendAttr(texture);
    loop->appendChild(holder);
    // A chain deeper than any scene a person would read.
    kaSmartPointer<kaGroup> chain = make<kaGroup>("link");
    for (int i = 0; i < 400; ++i) {
        auto outer = make<kaGroup>("link");
        outer->appendChild(chain);
        chain = outer;
    }
    loop->appendChild(chain);
    auto scene = make<kaSceneInfo>("cyclic");
    scene->setSceneGraph(loop);
    auto infos = infosOf({scene});
    auto file = make<kaFileInfo>();
    auto entry = make<kaExternalDirEntry>();
    entry->setDirectoryName("textures/wall.png");
    entry->bindObject(image);
    file->getDirectory()->append(entry);

    const json dump = dumpJson(infos, file);
    const json& shownLoop = dump["infos"][0]["fields"]["_root"];
    EXPECT_EQ(shownLoop["id"], 1);
    const json& children = shownLoop["fields"]["_children"];
    EXPECT_EQ(children[0]["see"], 1);
    EXPECT_EQ(children[1]["fields"]["_attrs"][0]["fields"]["_images"][0]["facts"]["external"], "textures/wall.png");
    // The same in the text: the loop names its number, the image its file, the chain stops once.
    const std::string text = kaDumpScene("cyclic", infos, file, kaDumpFormat::Text);
    EXPECT_THAT(text, HasSubstr("[0] kaGroup \"loop\" (shared, see #1)"));
    EXPECT_THAT(text, HasSubstr("external=\"textures/wall.png\""));
    EXPECT_EQ(countOf(text, "(deeper levels not shown)"), 1u);
    // Untie the loop so that the scene can be released.
    loop->removeChild(loop.get());
}

// ---- scene files ----

TEST(SceneFiles, FormatFollowsTheExtensionAndRefusalsNameTheFile)
{
    EXPECT_EQ(kaSceneFormatOf("a/b/scene.kab"), kaSceneFormat::Kab);
    EXPECT_EQ(kaSceneFormatOf("SCENE.KAB"), kaSceneFormat::Kab);
    EXPECT_EQ(kaSceneFormatOf("scene.gltf"), kaSceneFormat::Gltf);
    EXPECT_EQ(kaSceneFormatOf("scene.Glb"), kaSceneFormat::Glb);
    EXPECT_EQ(kaSceneFormatOf("scene.kab.txt"), kaSceneFormat::Unknown);
    EXPECT_EQ(kaSceneFormatOf("kab"), kaSceneFormat::Unknown);

    kaScratchDir scratch;
    const std::string path = (scratch / "scene.obj").string();
    std::string error;
    SmallScene scene;
    EXPECT_FALSE(kaWriteScene(path, scene.infos, {}, error));
    EXPECT_THAT(error, StartsWith(path + ": "));
    EXPECT_FALSE(std::filesystem::exists(path));
    kaTest::writeText(path, "anything");
    kaSmartPointer<kaInfoList> infos;
    EXPECT_FALSE(kaReadScene(path, infos, error));
    EXPECT_THAT(error, HasSubstr(".kab")) << "says which extensions work";
    EXPECT_FALSE(infos);

    const std::string missing = (scratch / "missing.kab").string();
    EXPECT_FALSE(kaReadScene(missing, infos, error));
    EXPECT_THAT(error, StartsWith(missing + ": "));

    EXPECT_FALSE(kaReadScene(scratch.path().string(), infos, error));
    EXPECT_EQ(error, scratch.path().string() + ": is a folder, not a scene file");

    // A valid object file whose root is no scene info: a node (a file of exported geometry) reads
    // as a scene of that node named after the file; anything else is refused.
    auto file = make<kaKABFile>();
    auto entry = make<kaObjectDirEntry>();
    entry->setEntryName("root");
    file->getDirectory()->append(entry);
    const std::string notScene = (scratch / "group.kab").string();
    entry->setObject(make<kaTextureAttr>("not a scene"));
    ASSERT_TRUE(file->write(notScene.c_str())) << file->getError();
    EXPECT_FALSE(kaReadScene(notScene, infos, error));
    EXPECT_THAT(error, HasSubstr(notScene));
    EXPECT_FALSE(infos);
    entry->setObject(make<kaGroup>("part"));
    ASSERT_TRUE(file->write(notScene.c_str())) << file->getError();
    ASSERT_TRUE(kaReadScene(notScene, infos, error)) << error;
    auto* part = kaSceneInfo::dynamicCast(infos->getShared(0));
    EXPECT_TRUE(part && std::string(part->getName()) == "group" && std::string(part->getSceneGraph()->getName()) == "part");
}
