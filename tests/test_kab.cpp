// The .kab object file: generic round trips of every field kind and of scene graphs, sharing
// and cycles, byte-identical re-saves, refusal of damaged files, external entries to other
// .kab files and to PNG images, atomic writes, and the optimizer interface's file operations.
#include "host/core/kaStringObj.h"
#include "host/core/kaWalk.h"
#include "host/gfx/kaImage.h"
#include "host/gfx/kaIndexArray.h"
#include "host/gfx/kaVertexArray.h"
#include "host/io/kaExternalImageEntry.h"
#include "host/io/kaKABFile.h"
#include "host/opt/kaOptInterface.h"
#include "host/attrs/kaBoundingBox.h"
#include "host/attrs/kaGeometryAttr.h"
#include "host/attrs/kaLightAttr.h"
#include "host/attrs/kaMaterialAttr.h"
#include "host/attrs/kaTextureAttr.h"
#include "host/sg/kaAnimation.h"
#include "host/sg/kaAnimationDatabase.h"
#include "host/sg/kaGeometry.h"
#include "host/sg/kaGroup.h"
#include "host/sg/kaLod.h"
#include "host/sg/kaTransform.h"
#include "kaTestTools.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <random>
#include <unordered_map>
#include <sys/resource.h>

using namespace Lode::Core;
using namespace Lode::Sg;
using namespace Lode::Gfx;
using namespace Lode::Opt;
using namespace Lode::Attrs;
using namespace Lode::Math;
using kaTest::kaScratchDir;
namespace fs = std::filesystem;

namespace kabTest {

// A field of every kind, a transient reference, and a count of afterRead calls.
class kaKabProbe : public kaNamedObject {
    KA_DECLARE_CLASS(kaKabProbe, kaNamedObject)
public:
    static kaMetaEnum* getModeMetaEnum()
    {
        static kaMetaEnum* meta = [] {
            const char* names[] = {"Off", "On", "Far"};
            const int32_t values[] = {0, 1, 1000};
            return kaMetaEnum::createMetaEnum("ProbeMode", names, values, 3);
        }();
        return meta;
    }

    bool _flag = false;
    int32_t _mode = 0;
    int32_t _offset = 0;
    uint32_t _count = 0;
    float _scale = 0;
    kaStringRef _label;
    kaStringRef _absent;
    kaSmartPointer<kaObject> _other;
    kaSmartPointer<kaFloatList> _ranges;
    kaSmartPointer<kaObject> _cache;
    float _matrix[16] = {};
    kaBlock<float> _floats;
    kaBlock<int32_t> _ints;
    kaBlock<uint32_t> _unsigneds;
    kaBlock<uint16_t> _shorts;
    kaBlock<uint8_t> _bytes;

    // Not stored: what the reader did.
    int _afterReadCalls = 0;
    void afterRead() override { ++_afterReadCalls; }
};

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaKabProbe, kaFloatList::arkRegister)

void kaKabProbe::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaBoolMetaField>, KA_FIELD(kaKabProbe, _flag), false);
    fields.add(kaNoHandle<kaEnumMetaField>, KA_FIELD(kaKabProbe, _mode), 0, &getModeMetaEnum);
    fields.add(kaNoHandle<kaIntMetaField>, KA_FIELD(kaKabProbe, _offset), 0);
    fields.add(kaNoHandle<kaUnsignedIntMetaField>, KA_FIELD(kaKabProbe, _count), 0u);
    fields.add(kaNoHandle<kaFloatMetaField>, KA_FIELD(kaKabProbe, _scale), 0.0f);
    fields.add(kaNoHandle<kaStringMetaField>, KA_FIELD(kaKabProbe, _label), "default");
    fields.add(kaNoHandle<kaStringMetaField>, KA_FIELD(kaKabProbe, _absent));
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaKabProbe, _other), kaObject::getClassTypeLazy());
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaKabProbe, _ranges), kaFloatList::getClassTypeLazy(),
               kaRefFlags::Construct);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaKabProbe, _cache), kaObject::getClassTypeLazy(),
               kaRefFlags::Transient);
    fields.addFloats(KA_FIELD(kaKabProbe, _matrix), 16);
    fields.addBlock<float>(KA_FIELD(kaKabProbe, _floats));
    fields.addBlock<int32_t>(KA_FIELD(kaKabProbe, _ints));
    fields.addBlock<uint32_t>(KA_FIELD(kaKabProbe, _unsigneds));
    fields.addBlock<uint16_t>(KA_FIELD(kaKabProbe, _shorts));
    fields.addBlock<uint8_t>(KA_FIELD(kaKabProbe, _bytes));
    fields.declare();
}

// A file whose directory holds one object entry "root".
kaSmartPointer<kaKABFile> fileHolding(kaObject* object)
{
    auto file = make<kaKABFile>();
    auto entry = make<kaObjectDirEntry>();
    entry->setEntryName("root");
    entry->setObject(object);
    file->getDirectory()->append(entry);
    return file;
}

std::vector<uint8_t> bytesOf(kaObject* object)
{
    std::vector<uint8_t> bytes;
    auto file = fileHolding(object);
    EXPECT_TRUE(file->writeToMemory(bytes)) << file->getError();
    return bytes;
}

kaObject* rootObject(const kaKABFile* file)
{
    auto* entry = kaObjectDirEntry::dynamicCast(file->getDirectory()->findEntryByEntryName("root"));
    return entry ? entry->getObject() : nullptr;
}

// Puts a valid size and checksum in the header of edited bytes, so that the edit reaches the parser.
void reseal(std::vector<uint8_t>& bytes)
{
    const uint64_t payload = bytes.size() - kaKABHeaderSize;
    const uint64_t sum = kaKABChecksum(bytes.data() + kaKABHeaderSize, payload);
    std::memcpy(bytes.data() + 8, &payload, 8);
    std::memcpy(bytes.data() + 16, &sum, 8);
}

uint32_t u32At(const std::vector<uint8_t>& bytes, size_t at)
{
    uint32_t value;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

void putU32At(std::vector<uint8_t>& bytes, size_t at, uint32_t value) { std::memcpy(bytes.data() + at, &value, 4); }

// Where the parts of a written file start, found by walking its tables.
struct kaKabLayout {
    std::vector<std::string> strings;
    std::vector<size_t> stringOffsets;        // of each string's length
    std::vector<size_t> fieldOffsets;         // of each class-table field record, in file order
    size_t objectTable = 0;                   // the object count
    size_t firstBody = 0;                     // the first object's first field

    explicit kaKabLayout(const std::vector<uint8_t>& bytes)
    {
        size_t at = kaKABHeaderSize;
        const uint32_t stringCount = u32At(bytes, at);
        at += 4;
        for (uint32_t i = 0; i < stringCount; ++i) {
            stringOffsets.push_back(at);
            const uint32_t length = u32At(bytes, at);
            strings.emplace_back(reinterpret_cast<const char*>(bytes.data() + at + 4), length);
            at += 4 + length;
        }
        const uint32_t classCount = u32At(bytes, at);
        at += 4;
        for (uint32_t c = 0; c < classCount; ++c) {
            const uint32_t fieldCount = u32At(bytes, at + 4);
            at += 8;
            for (uint32_t f = 0; f < fieldCount; ++f, at += 9) fieldOffsets.push_back(at);
        }
        objectTable = at;
        firstBody = at + 4 + 4 * u32At(bytes, at) + 4;
    }
    size_t stringAt(const std::string& text) const
    {
        for (size_t i = 0; i < strings.size(); ++i)
            if (strings[i] == text) return stringOffsets[i] + 4;
        ADD_FAILURE() << "no string " << text;
        return 0;
    }
};

// Reads bytes that must be refused; returns the error.
std::string refusal(const std::vector<uint8_t>& bytes, const char* name = "damaged.kab")
{
    auto file = make<kaKABFile>();
    EXPECT_FALSE(file->readFromMemory(bytes.data(), bytes.size(), name));
    return file->getError();
}

// Whether the graphs below a and b match object for object: the same classes, the same stored
// field values, references that lead to matching objects, and sharing mirrored one to one.
// Says where they first differ.
std::string graphDifference(kaObject* a, kaObject* b)
{
    std::unordered_map<const kaObject*, const kaObject*> forward, backward;
    std::vector<std::pair<kaObject*, kaObject*>> pending{{a, b}};
    while (!pending.empty()) {
        auto [x, y] = pending.back();
        pending.pop_back();
        if (!x || !y) {
            if (x != y) return "a reference is null on one side only";
            continue;
        }
        auto known = forward.find(x);
        if (known != forward.end()) {
            if (known->second != y) return std::string("a shared ") + x->getMetaObject()->getName() + " was split";
            continue;
        }
        if (backward.count(y)) return std::string("two ") + x->getMetaObject()->getName() + " objects were merged";
        forward.emplace(x, y);
        backward.emplace(y, x);
        const kaMetaObject* meta = x->getMetaObject();
        if (meta != y->getMetaObject()) return std::string(meta->getName()) + " became " + y->getMetaObject()->getName();
        for (int i = 0; i < meta->getMetaFieldCount(); ++i) {
            const kaMetaField* field = meta->getIndexedMetaField(i);
            if (field->isTransient()) continue;
            const std::string where = std::string(meta->getName()) + "." + field->getName();
            switch (field->getKind()) {
            case kaFieldKind::ObjectRef: {
                auto* ref = static_cast<const kaObjectRefMetaField*>(field);
                pending.emplace_back(ref->get(x), ref->get(y));
                break;
            }
            case kaFieldKind::ObjectList: {
                auto* list = static_cast<const kaObjectListMetaField*>(field);
                if (list->get(x).size() != list->get(y).size()) return where + " changed length";
                for (size_t k = 0; k < list->get(x).size(); ++k) pending.emplace_back(list->get(x)[k], list->get(y)[k]);
                break;
            }
            case kaFieldKind::DataBlock: {
                auto* block = static_cast<const kaDataBlockMetaField*>(field);
                const size_t bytes = block->getByteSize(x);
                if (bytes != block->getByteSize(y) ||
                    (bytes && std::memcmp(block->getBytes(x), block->getBytes(y), bytes) != 0))
                    return where + " differs";
                break;
            }
            default:
                if (field->toText(x) != field->toText(y))
                    return where + ": " + field->toText(x) + " became " + field->toText(y);
            }
        }
    }
    return "";
}

// A scene of the whole scene model: transforms, a level-of-detail node, geometry whose two
// attributes share one vertex and one index array, a texture using one image twice, material
// and light attributes, and an animation database.
kaSmartPointer<kaInfoList> makeModelScene()
{
    kaVertexFormat format;
    format.setPositions(true);
    format.setNormals(true);
    format.setColors(true);
    format.setTextureCoordSetCount(2);
    format.setBlendWeightCount(3);
    format.setBlendIndexCount(3);
    auto vertices = make<kaVertexArray2>();
    vertices->setup(format, 40, 1, 0);
    for (int v = 0; v < 40; ++v) {
        vertices->setPosition(v, kaVec3f(v * 1.0f, v * 2.0f, -v * 0.5f));
        vertices->setBlendWeight(v, 1, 0.125f * (v % 8));
        vertices->setBlendIndex(v, 2, static_cast<uint8_t>(v));
    }
    vertices->closeSetup();
    auto indices = make<kaIndexArray>();
    indices->setCount(36);
    for (int i = 0; i < 36; ++i) indices->setIndex(i, (i * 7) % 40);

    auto current = make<kaGeometryAttr2>("current");
    current->setVertexArray(vertices);
    current->setIndexArray(indices);
    current->setPrimitiveType(KA_GFX_DRAW(3));
    current->setPrimitiveCount(12);
    auto older = make<kaGeometryAttr1_5>("older");
    older->setVertexArray(vertices);
    older->setIndexArray(indices);
    older->setOffset(6);
    auto image = make<kaImage>("stone.tga");
    image->setup(8, 2, KA_GFX_TEXTURE_FORMAT_RGB_8);
    for (size_t i = 0; i < image->getSize(); ++i) image->pixelData()[i] = static_cast<uint8_t>(i * 3);
    auto texture = make<kaTextureAttr>("texture");
    texture->setImageCount(2);
    texture->setImage(image, 0);
    texture->setImage(image, 1);
    texture->setMipMapMode(KA_GFX_TEXTURE_MODE(1));
    auto material = make<kaMaterialAttr>("material");
    material->setSpecular(kaVec4f(0.5f, 0.25f, 1.0f, 1.0f));
    auto light = make<kaLightAttr>("lamp");
    light->setType(KA_GFX_LIGHT_TYPE(2));
    light->setColor(kaVec4f(1.0f, 0.9f, 0.8f, 1.0f));

    auto geometry = make<kaGeometry>("mesh");
    for (kaAttr* attr : std::initializer_list<kaAttr*>{current, older, texture, material, light})
        geometry->appendAttr(attr);
    auto lod = make<kaLod>("lod");
    lod->appendChild(geometry);
    lod->appendChild(nullptr);
    lod->appendRange(10.0f);
    lod->appendRange(250.0f);
    auto root = make<kaTransform>("root");
    kaMatrix44f placement;
    placement.m[3][0] = 12.5f;
    placement.m[1][1] = -1.0f;
    root->setMatrix(placement);
    root->appendChild(lod);
    root->appendChild(geometry);

    auto binding = make<kaAnimationBinding>("bone");
    binding->appendTranslationKey(0.0f, kaVec3f(1, 2, 3));
    binding->appendTranslationKey(0.5f, kaVec3f(4, 5, 6));
    auto animation = make<kaAnimation>("walk");
    animation->appendBinding(binding);
    auto database = make<kaAnimationDatabase>("animations");
    database->appendAnimation(animation);

    auto sceneInfo = make<kaSceneInfo>("model");
    sceneInfo->setSceneGraph(root);
    auto infos = make<kaInfoList>();
    infos->append(sceneInfo);
    infos->append(database);
    return infos;
}

// Every test leaves the live object count where it found it.
class Kab : public ::testing::Test {
protected:
    void SetUp() override
    {
        kaRegisterFileClasses();
        kaKabProbe::arkRegister();
        _liveAtStart = kaObject::getLiveObjectCount();
    }
    void TearDown() override { EXPECT_EQ(kaObject::getLiveObjectCount(), _liveAtStart) << "objects leaked"; }
    long _liveAtStart = 0;
};

// A scene root(a(shared, b), c(shared)) with a second info, and objects that are no part of a
// graph (string objects, lists of lists) held by probes, for files that hold more than scenes.
struct kaKabScene {
    kaSmartPointer<kaInfoList> infos = make<kaInfoList>();
    kaSmartPointer<kaGroup> root = make<kaGroup>("root");
    kaSmartPointer<kaGroup> a = make<kaGroup>("a");
    kaSmartPointer<kaGroup> c = make<kaGroup>("c");
    kaSmartPointer<kaNode> shared = make<kaNode>("shared");
    kaSmartPointer<kaNode> b = make<kaNode>();
    std::vector<kaSmartPointer<kaKabProbe>> extras;

    kaKabScene()
    {
        a->appendChild(shared);
        a->appendChild(b);
        c->appendChild(shared);
        root->appendChild(a);
        root->appendChild(c);
        shared->setFlag(0x24, true);
        auto sceneInfo = make<kaSceneInfo>("scene");
        sceneInfo->setSceneGraph(root);
        infos->append(sceneInfo);
        infos->append(make<kaInfo>("animations"));

        auto names = make<kaStringObjList>();
        names->appendString("left");
        names->append(nullptr);
        names->appendString("right");
        auto lists = make<kaIntListList>();
        auto list = make<kaIntList>();
        list->append(-7);
        lists->append(list);
        lists->append(list);
        auto holdsNames = make<kaKabProbe>("names");
        holdsNames->_other = names.get();
        holdsNames->_ranges->append(1.5f);
        auto holdsLists = make<kaKabProbe>("lists");
        holdsLists->_other = lists.get();
        extras = {holdsNames, holdsLists};
    }
};

} // namespace kabTest

using namespace kabTest;

// ---- round trips ----

TEST_F(Kab, EveryFieldKindRoundTrips)
{
    auto probe = make<kaKabProbe>("probe");
    probe->_flag = true;
    probe->_mode = 1000;
    probe->_offset = -123456;
    probe->_count = 4000000000u;
    probe->_scale = -0.0f;
    probe->_label = "a label";
    probe->_ranges->append(3.25f);
    probe->_ranges->append(-1e30f);
    auto cached = make<kaStringObj>();
    probe->_cache = cached.get();
    for (int i = 0; i < 16; ++i) probe->_matrix[i] = i * 0.5f - 2;
    probe->_floats = {1.0f, std::nanf(""), -INFINITY, 1e-40f};
    probe->_ints = {INT32_MIN, 0, INT32_MAX};
    probe->_unsigneds = {0u, UINT32_MAX};
    probe->_shorts = {1, 65535, 300};
    probe->_bytes = {0, 255, 7, 9, 11};
    auto text = make<kaStringObj>();
    text->set("shared text");
    probe->_other = text.get();

    auto file = make<kaKABFile>();
    std::vector<uint8_t> bytes = bytesOf(probe);
    ASSERT_TRUE(file->readFromMemory(bytes.data(), bytes.size(), "probe.kab")) << file->getError();
    auto* read = kaKabProbe::dynamicCast(rootObject(file));
    ASSERT_NE(read, nullptr);
    ASSERT_NE(read, probe.get());
    EXPECT_STREQ(read->getName(), "probe");
    EXPECT_TRUE(read->_flag);
    EXPECT_EQ(read->_mode, 1000);
    EXPECT_EQ(read->_offset, -123456);
    EXPECT_EQ(read->_count, 4000000000u);
    EXPECT_TRUE(std::signbit(read->_scale));
    EXPECT_STREQ(read->_label.c_str(), "a label");
    EXPECT_TRUE(read->_absent.isNull()) << "a null string stays null, not empty";
    ASSERT_EQ(read->_ranges->getCount(), 2);
    EXPECT_EQ(read->_ranges->get(1), -1e30f);
    EXPECT_EQ(read->_cache, nullptr) << "transient fields are not stored";
    EXPECT_EQ(std::memcmp(read->_matrix, probe->_matrix, sizeof probe->_matrix), 0);
    ASSERT_EQ(read->_floats.size(), 4u);
    EXPECT_EQ(std::memcmp(read->_floats.data(), probe->_floats.data(), 16), 0) << "floats keep their bits, NaN too";
    EXPECT_EQ(read->_ints, probe->_ints);
    EXPECT_EQ(read->_unsigneds, probe->_unsigneds);
    EXPECT_EQ(read->_shorts, probe->_shorts);
    EXPECT_EQ(read->_bytes, probe->_bytes);
    auto* readText = kaStringObj::dynamicCast(read->_other.get());
    ASSERT_NE(readText, nullptr);
    EXPECT_STREQ(readText->getString(), "shared text");
    EXPECT_EQ(read->_afterReadCalls, 1);
    EXPECT_EQ(probe->_afterReadCalls, 0);
}

TEST_F(Kab, SceneGraphKeepsSharedNodesParentsAndInfos)
{
    kaScratchDir scratch;
    const std::string path = (scratch / "scene.kab").string();
    {
        kaKabScene scene;
        std::string error;
        ASSERT_TRUE(kaWriteSceneFile(path, scene.infos, {}, error)) << error;
    }
    kaSmartPointer<kaInfoList> infos;
    std::string error;
    ASSERT_TRUE(kaReadSceneFile(path, infos, error)) << error;
    ASSERT_EQ(infos->getCount(), 2);
    auto* sceneInfo = kaSceneInfo::dynamicCast(infos->getShared(0));
    ASSERT_NE(sceneInfo, nullptr);
    EXPECT_STREQ(sceneInfo->getName(), "scene");
    EXPECT_STREQ(infos->getShared(1)->getName(), "animations");
    auto* root = kaGroup::dynamicCast(sceneInfo->getSceneGraph());
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->getChildCount(), 2);
    auto* a = kaGroup::dynamicCast(root->getChild(0));
    auto* c = kaGroup::dynamicCast(root->getChild(1));
    ASSERT_TRUE(a && c);
    ASSERT_EQ(a->getChildCount(), 2);
    kaNode* shared = a->getChild(0);
    EXPECT_EQ(c->getChild(0), shared) << "a node with two parents stays one node";
    ASSERT_EQ(shared->getParentCount(), 2);
    EXPECT_EQ(shared->getParent(0), a);
    EXPECT_EQ(shared->getParent(1), c);
    EXPECT_EQ(shared->getFlags(), 0x24u);
    EXPECT_EQ(a->getChild(1)->getName(), nullptr);
    EXPECT_EQ(a->getParent(0), root);
}

TEST_F(Kab, SharedListsAndCyclesSurvive)
{
    auto list = make<kaFloatList>();
    list->append(4.0f);
    auto left = make<kaKabProbe>("left");
    auto right = make<kaKabProbe>("right");
    auto entries = make<kaObjectList>();
    entries->append(left);
    entries->append(right);
    entries->append(left);
    left->_ranges = list;
    right->_ranges = list;
    // A cycle: left -> right -> left.
    left->_other = right.get();
    right->_other = left.get();

    std::vector<uint8_t> bytes = bytesOf(entries);
    auto file = make<kaKABFile>();
    ASSERT_TRUE(file->readFromMemory(bytes.data(), bytes.size(), "shared.kab")) << file->getError();
    auto* read = kaObjectList::dynamicCast(rootObject(file));
    ASSERT_NE(read, nullptr);
    ASSERT_EQ(read->getCount(), 3);
    auto* readLeft = static_cast<kaKabProbe*>(read->getShared(0));
    auto* readRight = static_cast<kaKabProbe*>(read->getShared(1));
    EXPECT_EQ(read->getShared(2), readLeft);
    EXPECT_EQ(readLeft->_ranges.get(), readRight->_ranges.get()) << "one list, two holders";
    EXPECT_EQ(readLeft->_other.get(), readRight);
    EXPECT_EQ(readRight->_other.get(), readLeft);
    EXPECT_EQ(readLeft->getRefCount(), 3) << "two list places and the cycle";

    // Both cycles are broken by hand so that everything can go.
    left->_other = static_cast<kaObject*>(nullptr);
    readLeft->_other = static_cast<kaObject*>(nullptr);
}

TEST_F(Kab, SaveLoadSaveGivesTheSameBytes)
{
    kaKabScene scene;
    auto file = make<kaKABFile>();
    auto directory = file->getDirectory();
    for (int i = 0; i < scene.infos->getCount(); ++i) {
        auto entry = make<kaObjectDirEntry>();
        entry->setEntryName(i ? "info" : "root");
        entry->setObject(scene.infos->getShared(i));
        directory->append(entry);
    }
    for (auto& extra : scene.extras) {
        auto entry = make<kaObjectDirEntry>();
        entry->setEntryName(extra->getName());
        entry->setObject(extra);
        directory->append(entry);
    }
    std::vector<uint8_t> first, again, second;
    ASSERT_TRUE(file->writeToMemory(first)) << file->getError();
    ASSERT_TRUE(file->writeToMemory(again));
    EXPECT_EQ(first, again);

    auto read = make<kaKABFile>();
    ASSERT_TRUE(read->readFromMemory(first.data(), first.size(), "first.kab")) << read->getError();
    ASSERT_TRUE(read->writeToMemory(second)) << read->getError();
    EXPECT_EQ(first, second);
}

TEST_F(Kab, VertexIndexAndImageDataRoundTripAsBlocks)
{
    kaVertexFormat format;
    format.setPositions(true);
    format.setNormals(true);
    format.setTextureCoordSetCount(1);
    format.setBlendWeightCount(4);
    format.setBlendIndexCount(4);
    auto vertices = make<kaVertexArray2>();
    const int count = 1000;
    vertices->setup(format, count, 3, 0);
    for (int i = 0; i < count * 3; ++i) vertices->positionData()[i] = i * 0.25f;
    for (int i = 0; i < count * 3; ++i) vertices->normalData()[i] = -i * 0.5f;
    for (int i = 0; i < count * 2; ++i) vertices->texCoordData(0)[i] = i / 7.0f;
    for (int i = 0; i < count * 4; ++i) vertices->blendWeightData()[i] = (i % 4) * 0.25f;
    for (int i = 0; i < count * 4; ++i) vertices->blendIndexData()[i] = static_cast<uint8_t>(i);
    vertices->closeSetup();
    auto indices = make<kaIndexArray>();
    indices->setCount(300);
    for (int i = 0; i < 300; ++i) indices->setIndex(i, 299 - i);
    auto image = make<kaImage>("checker");
    image->setup(5, 3, KA_GFX_TEXTURE_FORMAT_PALETTE_8);
    image->setPaletteEntryCount(2);
    for (size_t i = 0; i < image->getSize(); ++i) image->pixelData()[i] = i % 2;
    image->paletteData()[4] = 200;

    auto holders = make<kaObjectList>();
    holders->append(vertices);
    holders->append(indices);
    holders->append(indices);
    holders->append(image);
    std::vector<uint8_t> bytes = bytesOf(holders);
    auto file = make<kaKABFile>();
    ASSERT_TRUE(file->readFromMemory(bytes.data(), bytes.size(), "gfx.kab")) << file->getError();
    auto* read = kaObjectList::dynamicCast(rootObject(file));
    ASSERT_NE(read, nullptr);
    auto* readVertices = kaVertexArray2::dynamicCast(read->getShared(0));
    ASSERT_NE(readVertices, nullptr);
    EXPECT_EQ(readVertices->getVertexFormat(), format);
    EXPECT_EQ(readVertices->getVertexCount(), count);
    EXPECT_EQ(readVertices->getUsage(), 3u);
    EXPECT_EQ(std::memcmp(readVertices->positionData(), vertices->positionData(), count * 12), 0);
    EXPECT_EQ(std::memcmp(readVertices->normalData(), vertices->normalData(), count * 12), 0);
    EXPECT_EQ(std::memcmp(readVertices->texCoordData(0), vertices->texCoordData(0), count * 8), 0);
    EXPECT_EQ(std::memcmp(readVertices->blendWeightData(), vertices->blendWeightData(), count * 16), 0);
    EXPECT_EQ(std::memcmp(readVertices->blendIndexData(), vertices->blendIndexData(), count * 4), 0);
    auto* readIndices = kaIndexArray::dynamicCast(read->getShared(1));
    ASSERT_NE(readIndices, nullptr);
    EXPECT_EQ(read->getShared(2), readIndices) << "an index array used twice stays one array";
    EXPECT_EQ(readIndices->getIndex(0), 299u);
    auto* readImage = kaImage::dynamicCast(read->getShared(3));
    ASSERT_NE(readImage, nullptr);
    EXPECT_STREQ(readImage->getName(), "checker");
    EXPECT_TRUE(readImage->isIndexed());
    EXPECT_EQ(readImage->getWidth(), 5);
    EXPECT_EQ(readImage->getPaletteEntryCount(), 2);
    EXPECT_EQ(readImage->paletteData()[4], 200);
    EXPECT_EQ(std::memcmp(readImage->pixelData(), image->pixelData(), image->getSize()), 0);
}

TEST_F(Kab, SceneModelRoundTripsObjectForObject)
{
    kaScratchDir scratch;
    const std::string path = (scratch / "model.kab").string();
    kaSmartPointer<kaInfoList> written = makeModelScene();
    std::string error;
    ASSERT_TRUE(kaWriteSceneFile(path, written, {}, error)) << error;
    kaSmartPointer<kaInfoList> read;
    ASSERT_TRUE(kaReadSceneFile(path, read, error)) << error;
    EXPECT_EQ(graphDifference(written, read), "");

    auto* root = kaTransform::dynamicCast(kaSceneInfo::dynamicCast(read->getShared(0))->getSceneGraph());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->getMatrix().m[3][0], 12.5f);
    auto* geometry = kaGeometry::dynamicCast(root->getChild(1));
    ASSERT_NE(geometry, nullptr);
    EXPECT_EQ(geometry->getParentCount(), 2) << "the level-of-detail node and the root";
    EXPECT_EQ(geometry->getGeometryAttr(0)->getIndexArray(), geometry->getGeometryAttr(1)->getIndexArray());
    EXPECT_EQ(geometry->getGeometryAttr(0)->getVertexArray(), geometry->getGeometryAttr(1)->getVertexArray());
    EXPECT_TRUE(kaAnimationDatabase::dynamicCast(read->getShared(1)));

    // A changed scene is told apart: the comparison itself finds differences.
    kaGeometryAttr* attr = geometry->getGeometryAttr(1);
    attr->setIndexArray(make<kaIndexArray>());
    EXPECT_NE(graphDifference(written, read), "");
}

// ---- damaged files ----

TEST_F(Kab, EveryTruncationIsRefusedWithTheFileNameAndOffset)
{
    kaKabScene scene;
    std::vector<uint8_t> bytes = bytesOf(scene.infos->getShared(0));
    ASSERT_GT(bytes.size(), 100u);
    for (size_t length = 0; length < bytes.size(); ++length) {
        std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + length);
        const std::string error = refusal(prefix);
        ASSERT_EQ(error.rfind("damaged.kab: byte ", 0), 0u) << "prefix " << length << ": " << error;
    }
    // Truncated payloads behind a header that agrees with them reach the parser itself.
    for (size_t length = kaKABHeaderSize; length < bytes.size(); ++length) {
        std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + length);
        reseal(prefix);
        const std::string error = refusal(prefix);
        ASSERT_EQ(error.rfind("damaged.kab: byte ", 0), 0u) << "resealed prefix " << length << ": " << error;
        const size_t offset = std::stoul(error.substr(std::strlen("damaged.kab: byte ")));
        EXPECT_LE(offset, length);
    }
}

// A bounding box's stored fields end with an inline float array (its maximum), so a file cut
// inside it, behind a header that agrees, reaches that array's read and nothing after it.
TEST_F(Kab, ACutInsideAnInlineFloatArrayIsRefusedAtTheArray)
{
    const std::vector<uint8_t> bytes = bytesOf(make<kaBoundingBox>());
    const size_t arrayBytes = 3 * sizeof(float);
    const std::string arrayAt = std::to_string(bytes.size() - arrayBytes);
    for (size_t left = 0; left < arrayBytes; ++left) {
        std::vector<uint8_t> prefix(bytes.begin(), bytes.end() - (arrayBytes - left));
        reseal(prefix);
        EXPECT_EQ(refusal(prefix), "damaged.kab: byte " + arrayAt + ": the file ends inside an inline float array (" +
                                       std::to_string(arrayBytes) + " bytes needed, " + std::to_string(left) + " left)");
    }
}

TEST_F(Kab, ByteFlipsAreRefusedAndEditsBehindAValidChecksumNeverCrash)
{
    kaKabScene scene;
    std::vector<uint8_t> bytes = bytesOf(scene.infos->getShared(0));
    std::mt19937 random(12345);
    for (int trial = 0; trial < 3000; ++trial) {
        std::vector<uint8_t> damaged = bytes;
        const size_t at = random() % damaged.size();
        damaged[at] ^= static_cast<uint8_t>(1 + random() % 255);
        const std::string error = refusal(damaged);
        ASSERT_EQ(error.rfind("damaged.kab: byte ", 0), 0u) << "flip at " << at << ": " << error;
    }
    // With the checksum made to agree, an edit may give a valid file (a changed float) or a refusal;
    // never a crash, a hang or a leak.
    int refused = 0;
    for (int trial = 0; trial < 5000; ++trial) {
        std::vector<uint8_t> damaged = bytes;
        const int flips = 1 + random() % 3;
        for (int f = 0; f < flips; ++f)
            damaged[kaKABHeaderSize + random() % (damaged.size() - kaKABHeaderSize)] = static_cast<uint8_t>(random());
        reseal(damaged);
        auto file = make<kaKABFile>();
        if (file->readFromMemory(damaged.data(), damaged.size(), "edited.kab")) {
            kaBreakReferences(kaCollectReachable({file->getDirectory()}));
        } else {
            ++refused;
            ASSERT_EQ(file->getError().rfind("edited.kab: byte ", 0), 0u) << file->getError();
        }
    }
    EXPECT_GT(refused, 2500) << "most random edits of a small file break its structure";
}

TEST_F(Kab, ClassesAndReferencesAreChecked)
{
    auto probe = make<kaKabProbe>("probe");
    auto text = make<kaStringObj>();
    probe->_other = text.get();
    const std::vector<uint8_t> bytes = bytesOf(probe);
    const kaKabLayout layout(bytes);

    auto edited = [&](auto&& edit) {
        std::vector<uint8_t> copy = bytes;
        edit(copy);
        reseal(copy);
        return refusal(copy);
    };
    EXPECT_NE(edited([&](auto& b) { b[layout.stringAt("kaKabProbe") + 2] = 'X'; }).find("unknown class 'kaXabProbe'"),
              std::string::npos);
    EXPECT_NE(edited([&](auto& b) { b[layout.stringAt("_offset") + 1] = 'm'; }).find("differs from this build"),
              std::string::npos);
    // The kind byte of the first field of the first class (the directory's entry list).
    EXPECT_NE(edited([&](auto& b) { b[layout.fieldOffsets[0] + 4] = 3; }).find("differs from this build"),
              std::string::npos);
    // The directory's list: count, then the reference to its first entry (object 1).
    const size_t firstEntry = layout.firstBody + 4;
    ASSERT_EQ(u32At(bytes, firstEntry), 2u);
    EXPECT_NE(edited([&](auto& b) { putU32At(b, firstEntry, 999); }).find("reference to object 998 is out of range"),
              std::string::npos);
    EXPECT_NE(edited([&](auto& b) { putU32At(b, firstEntry, kaKABExternalReference); })
                  .find("does not name an external entry"),
              std::string::npos);
    // Object 2 is the probe: not a directory entry.
    EXPECT_NE(edited([&](auto& b) { putU32At(b, firstEntry, 3); })
                  .find("refers to a kaKabProbe where it takes a kaDirEntry"),
              std::string::npos);
    // The directory entry's object (after the entry's name): null leaves the probe and its string unreachable.
    EXPECT_NE(edited([&](auto& b) { putU32At(b, layout.firstBody + 12, 0); })
                  .find("object 2 (a kaKabProbe) cannot be reached from the directory"),
              std::string::npos);
    EXPECT_NE(edited([&](auto& b) { b.push_back(0); }).find("1 bytes follow the last object"), std::string::npos);
    EXPECT_NE(edited([&](auto& b) { b[0] = 'X'; }).find("byte 0: not a .kab file"), std::string::npos);
    EXPECT_NE(edited([&](auto& b) { b[4] = 9; }).find("byte 4: format version 9"), std::string::npos);

    // Written from memory: a typed reference to the wrong class, a typed list with a stranger, and
    // a null where the class keeps a constructed list.
    auto group = make<kaGroup>("group");
    auto* children = kaGroup::getClassMetaSafe()->findMetaField("_children");
    auto stranger = make<kaStringObj>();
    kaSmartPointer<kaObject> kept = static_cast<kaObjectRefMetaField*>(children)->get(group);
    static_cast<kaObjectRefMetaField*>(children)->set(group, stranger);
    std::string wrongClass = refusal(bytesOf(group));
    static_cast<kaObjectRefMetaField*>(children)->set(group, nullptr);
    std::string nullList = refusal(bytesOf(group));
    static_cast<kaObjectRefMetaField*>(children)->set(group, kept);
    EXPECT_NE(wrongClass.find("field '_children' of a kaGroup refers to a kaStringObj where it takes a kaNodeList"),
              std::string::npos)
        << wrongClass;
    EXPECT_NE(nullList.find("field '_children' of a kaGroup may not be null"), std::string::npos) << nullList;
    group->getChildren()->append(stranger);
    std::string wrongEntry = refusal(bytesOf(group));
    group->getChildren()->removeAll();
    EXPECT_NE(wrongEntry.find("field '_entries' of a kaNodeList refers to a kaStringObj where it takes a kaNode"),
              std::string::npos)
        << wrongEntry;
}

// ---- files on disk, external entries ----

TEST_F(Kab, FailedWritesLeaveNoPartialFileAndKeepTheOldOne)
{
    kaScratchDir scratch;
    const fs::path path = scratch / "kept.kab";
    kaTest::writeText(path, "the old contents");
    auto big = make<kaKabProbe>("big");
    big->_bytes.assign(1 << 20, 7);
    auto file = fileHolding(big);

    // Files may not grow beyond 64 KiB while the megabyte block is written.
    rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const bool written = file->write(path.c_str());
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_NE(file->getError().find(path.string()), std::string::npos) << file->getError();
    EXPECT_EQ(kaTest::readText(path), "the old contents");

    fs::create_directory(scratch / "folder.kab");
    EXPECT_FALSE(file->write((scratch / "folder.kab").c_str())) << "a folder is not replaced by a file";
    EXPECT_FALSE(file->write((scratch / "missing" / "x.kab").c_str()));
    int entries = 0;
    for (const auto& entry : fs::directory_iterator(scratch.path())) entries += entry.path() != path;
    EXPECT_EQ(entries, 1) << "only the folder remains beside the old file: no temporary files";

    ASSERT_TRUE(file->write(path.c_str())) << file->getError();
    auto read = make<kaKABFile>();
    ASSERT_TRUE(read->read(path.c_str())) << read->getError();
    EXPECT_EQ(kaKabProbe::dynamicCast(rootObject(read))->_bytes.size(), size_t(1) << 20);
    EXPECT_STREQ(read->getPath(), path.c_str());
    EXPECT_STREQ(read->getFolder(), scratch.path().c_str());

    EXPECT_FALSE(read->read((scratch / "none.kab").c_str()));
    EXPECT_NE(read->getError().find("none.kab: cannot open"), std::string::npos) << read->getError();
    EXPECT_FALSE(read->read((scratch / "folder.kab").c_str()));
    EXPECT_NE(read->getError().find("not a regular file"), std::string::npos);
}

TEST_F(Kab, ExportedGeometryIsReferencedThroughExternalEntries)
{
    kaScratchDir scratch;
    const std::string scenePath = (scratch / "scene.kab").string();
    {
        auto optInterface = make<kaOptInterface>();
        optInterface->setFilePath(scratch.path().c_str());
        fs::create_directory(scratch / "parts");
        kaKabScene scene;
        auto wheel = make<kaGroup>("wheel_geometry");
        auto rim = make<kaNode>("rim_geometry");
        wheel->appendChild(rim);
        scene.a->appendChild(wheel);
        scene.c->appendChild(wheel);

        // Export the rim first, then the wheel that holds it, both into parts/ as the export pass does.
        for (kaNode* node : {static_cast<kaNode*>(rim), static_cast<kaNode*>(wheel)}) {
            const std::string name = std::string("parts/") + node->getName() + ".kab";
            ASSERT_EQ(optInterface->writeFile(node, (scratch / name).c_str(), true), kSuccess)
                << optInterface->getFileError();
            auto entry = make<kaExternalDirEntry>();
            entry->setDirectoryName(name.c_str());
            entry->setEntryName("root");
            entry->bindObject(node);
            optInterface->addExternalReference(entry);
            EXPECT_EQ(optInterface->getExternalEntry(node), entry.get());
        }
        std::string error;
        ASSERT_TRUE(optInterface->writeScene(scenePath.c_str(), scene.infos, error)) << error;
        const std::string sceneBytes = kaTest::readText(scenePath);
        EXPECT_EQ(sceneBytes.find("rim_geometry"), std::string::npos) << "exported nodes are not in the scene file";
        EXPECT_NE(sceneBytes.find("parts/wheel_geometry.kab"), std::string::npos);
        EXPECT_NE(kaTest::readText(scratch / "parts" / "wheel_geometry.kab").find("rim_geometry.kab"),
                  std::string::npos)
            << "the wheel file names the rim relative to its own folder";
    }
    auto optInterface = make<kaOptInterface>();
    kaSmartPointer<kaInfoList> infos;
    std::string error;
    ASSERT_TRUE(optInterface->readScene(scenePath.c_str(), infos, error)) << error;
    auto* root = kaGroup::dynamicCast(kaSceneInfo::dynamicCast(infos->getShared(0))->getSceneGraph());
    auto* a = kaGroup::dynamicCast(root->getChild(0));
    auto* c = kaGroup::dynamicCast(root->getChild(1));
    auto* wheel = kaGroup::dynamicCast(a->getChild(2));
    ASSERT_NE(wheel, nullptr);
    EXPECT_STREQ(wheel->getName(), "wheel_geometry");
    EXPECT_EQ(c->getChild(1), wheel);
    EXPECT_EQ(wheel->getParentCount(), 2);
    ASSERT_EQ(wheel->getChildCount(), 1);
    EXPECT_STREQ(wheel->getChild(0)->getName(), "rim_geometry");
    kaExternalDirEntry* entry = optInterface->getExternalEntry(wheel);
    ASSERT_NE(entry, nullptr) << "the read scene's external entries are the interface's";
    // Saved again as read, external references and all, the file keeps its bytes.
    std::vector<uint8_t> again;
    ASSERT_TRUE(static_cast<kaKABFile*>(optInterface->getFile())->writeToMemory(again));
    const std::string original = kaTest::readText(scenePath);
    EXPECT_TRUE(again.size() == original.size() && std::memcmp(again.data(), original.data(), again.size()) == 0);
    EXPECT_STREQ(entry->getDirectoryName(), "parts/wheel_geometry.kab");

    // Saving the read scene elsewhere keeps the entry pointing at the same file.
    fs::create_directory(scratch / "out");
    ASSERT_TRUE(optInterface->writeScene((scratch / "out" / "copy.kab").c_str(), infos, error)) << error;
    EXPECT_STREQ(entry->getDirectoryName(), "parts/wheel_geometry.kab") << "the entry itself is unchanged";
    kaSmartPointer<kaInfoList> copy;
    ASSERT_TRUE(kaReadSceneFile((scratch / "out" / "copy.kab").string(), copy, error)) << error;

    fs::remove(scratch / "parts" / "rim_geometry.kab");
    EXPECT_FALSE(kaReadSceneFile(scenePath, copy, error));
    EXPECT_NE(error.find("rim_geometry.kab: cannot open the file"), std::string::npos) << error;
    EXPECT_EQ(error.rfind(scenePath + ": byte ", 0), 0u) << error;
}

TEST_F(Kab, BrokenAndCircularExternalEntriesAreRefused)
{
    kaScratchDir scratch;
    // a.kab's group holds a node standing in b.kab, whose group holds a node standing in a.kab.
    for (const char* name : {"a", "b"}) {
        auto group = make<kaGroup>(name);
        auto stand = make<kaNode>("elsewhere");
        group->appendChild(stand);
        auto file = fileHolding(group);
        auto entry = make<kaExternalDirEntry>();
        entry->setDirectoryName(std::string(name) == "a" ? "b.kab" : "a.kab");
        entry->setEntryName("root");
        entry->bindObject(stand);
        file->getDirectory()->append(entry);
        ASSERT_TRUE(file->write((scratch / (std::string(name) + ".kab")).c_str())) << file->getError();
    }
    auto file = make<kaKABFile>();
    EXPECT_FALSE(file->read((scratch / "a.kab").c_str()));
    EXPECT_NE(file->getError().find("refers back to itself"), std::string::npos) << file->getError();

    // An entry that names no file, and one whose file has no such entry.
    auto group = make<kaGroup>("c");
    auto stand = make<kaNode>("elsewhere");
    group->appendChild(stand);
    auto broken = fileHolding(group);
    auto entry = make<kaExternalDirEntry>();
    entry->bindObject(stand);
    broken->getDirectory()->append(entry);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(broken->writeToMemory(bytes));
    EXPECT_NE(refusal(bytes).find("external entry '' (entry ''): the external entry names no file"), std::string::npos)
        << refusal(bytes);
    auto sound = fileHolding(make<kaNode>("sound"));
    ASSERT_TRUE(sound->write((scratch / "d.kab").c_str())) << sound->getError();
    entry->setDirectoryName("d.kab");
    entry->setEntryName("lost");
    ASSERT_TRUE(broken->write((scratch / "c.kab").c_str())) << broken->getError();
    EXPECT_FALSE(file->read((scratch / "c.kab").c_str()));
    EXPECT_NE(file->getError().find("d.kab: no object entry named 'lost'"), std::string::npos) << file->getError();
}

TEST_F(Kab, ImagesInPngFilesAreExternalEntries)
{
    kaScratchDir scratch;
    const std::string scenePath = (scratch / "scene.kab").string();
    {
        auto image = make<kaImage>("textures/brick.tga");
        image->setup(4, 3, KA_GFX_TEXTURE_FORMAT_RGBA_8);
        for (size_t i = 0; i < image->getSize(); ++i) image->pixelData()[i] = static_cast<uint8_t>(i * 5);
        ASSERT_TRUE(image->writeToFile((scratch / "brick.png").c_str(), 0, 0));
        auto entry = make<kaExternalImageEntry>();
        entry->setDirectoryName("brick.png");
        entry->setEntryName("brick.png");
        entry->bindObject(image);
        kaKabScene scene;
        std::string error;
        ASSERT_TRUE(kaWriteSceneFile(scenePath, scene.infos, {entry}, error)) << error;
        // A file in which an object uses the image.
        auto user = make<kaKabProbe>("user");
        user->_other = image.get();
        auto other = fileHolding(user);
        other->getDirectory()->append(entry);
        ASSERT_TRUE(other->write((scratch / "user.kab").c_str())) << other->getError();
        EXPECT_EQ(kaTest::readText(scratch / "user.kab").find("textures/brick.tga"), std::string::npos);
    }
    auto file = make<kaKABFile>();
    ASSERT_TRUE(file->read((scratch / "user.kab").c_str())) << file->getError();
    auto* user = kaKabProbe::dynamicCast(rootObject(file));
    auto* image = kaImage::dynamicCast(user->_other.get());
    ASSERT_NE(image, nullptr);
    EXPECT_STREQ(image->getName(), "brick.png");
    EXPECT_EQ(image->getWidth(), 4);
    EXPECT_EQ(image->getFormat(), KA_GFX_TEXTURE_FORMAT_RGBA_8);
    EXPECT_EQ(image->pixelData()[47], 235);

    kaSmartPointer<kaInfoList> infos;
    std::string error;
    ASSERT_TRUE(kaReadSceneFile(scenePath, infos, error)) << error;
    fs::remove(scratch / "brick.png");
    EXPECT_FALSE(kaReadSceneFile(scenePath, infos, error));
    EXPECT_NE(error.find("brick.png"), std::string::npos) << error;
}

TEST_F(Kab, InterfaceHandsOutUniqueNamesAndChecksFolders)
{
    auto optInterface = make<kaOptInterface>();
    auto name = make<kaStringObj>();
    std::vector<std::string> given;
    for (const char* wanted : {"wall.png", "wall.png", "wall_1.png", "wall.png", "dir.v2/readme"}) {
        name->set(wanted);
        optInterface->makeNameUnique("images", name);
        given.push_back(name->getString());
    }
    EXPECT_EQ(given, (std::vector<std::string>{"wall.png", "wall_1.png", "wall_1_1.png", "wall_2.png", "dir.v2/readme"}));
    name->set("wall.png");
    optInterface->makeNameUnique(nullptr, name);
    EXPECT_STREQ(name->getString(), "wall.png") << "names are unique per directory";

    kaScratchDir scratch;
    kaTest::writeText(scratch / "plain", "x");
    EXPECT_TRUE(optInterface->isFolderWritable(scratch.path().c_str()));
    EXPECT_TRUE(optInterface->isFolderWritable(nullptr));
    EXPECT_FALSE(optInterface->isFolderWritable((scratch / "absent").c_str()));
    EXPECT_FALSE(optInterface->isFolderWritable((scratch / "plain").c_str()));

    // One entry per object: a later one replaces the earlier; image entries can be taken out again.
    auto image = make<kaImage>("i");
    auto first = make<kaExternalImageEntry>();
    first->bindObject(image);
    auto second = make<kaExternalImageEntry>();
    second->bindObject(image);
    optInterface->addExternalReference(first);
    optInterface->addExternalReference(second);
    optInterface->addExternalReference(second);
    kaDirectory* directory = optInterface->getFile()->getDirectory();
    EXPECT_EQ(directory->getCount(), 1);
    EXPECT_EQ(optInterface->getExternalEntry(image), second.get());
    directory->remove(0);
    EXPECT_EQ(optInterface->getExternalEntry(image), nullptr);
    EXPECT_EQ(optInterface->writeFile(image, (scratch / "missing" / "i.kab").c_str(), true), kFailure);
    EXPECT_NE(optInterface->getFileError().find("missing/i.kab"), std::string::npos) << optInterface->getFileError();
}
