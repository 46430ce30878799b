// The .kab object file: generic round trips of every field kind and of scene graphs, sharing
// and cycles, byte-identical re-saves, refusal of damaged files, external entries to other
// .kab files and to PNG images, atomic writes, and the optimizer interface's file operations.
#include "host/core/kaStringObj.h"
#include "host/core/kaWalk.h"
#include "host/gfx/kaImage.h"
#include "host/gfx/kaIndexArray.h"
#include "host/io/kaExternalImageEntry.h"
#include "host/io/kaImageFiles.h"
#include "host/io/kaKABFile.h"
#include "host/io/kaSceneFile.h"
#include "host/opt/kaOptInterface.h"
#include "host/attrs/kaBoundingBox.h"
#include "host/sg/kaGroup.h"
#include "kaGraphDifference.h"
#include "kaTestTools.h"
#include "tools/kaopt/kaExampleScene.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <sys/resource.h>

using namespace Lode::Core;
using namespace Lode::Sg;
using namespace Lode::Gfx;
using namespace Lode::Opt;
using namespace Lode::Attrs;
using namespace Lode::Math;
using kaTest::graphDifference;
using kaTest::kaScratchDir;
using testing::AllOf;
using testing::HasSubstr;
using testing::Not;
using testing::StartsWith;
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
    int32_t _mode = 0, _offset = 0;
    uint32_t _count = 0;
    float _scale = 0, _matrix[16] = {};
    kaStringRef _label, _absent;
    kaSmartPointer<kaObject> _other, _cache;
    kaSmartPointer<kaFloatList> _ranges;
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

void appendObjectEntry(kaKABFile* file, const char* name, kaObject* object)
{
    auto entry = make<kaObjectDirEntry>();
    entry->setEntryName(name);
    entry->setObject(object);
    file->getDirectory()->append(entry);
}

// A file whose directory holds one object entry "root".
kaSmartPointer<kaKABFile> fileHolding(kaObject* object)
{
    auto file = make<kaKABFile>();
    appendObjectEntry(file, "root", object);
    return file;
}

// An entry that stands for object, which is kept as entry `name` of the file at `path`.
kaSmartPointer<kaExternalDirEntry> externalEntry(const std::string& path, const char* name, kaObject* object)
{
    auto entry = make<kaExternalDirEntry>();
    entry->setDirectoryName(path.c_str());
    entry->setEntryName(name);
    entry->bindObject(object);
    return entry;
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

// Every field kind, a list shared by two holders, a cycle and a string object read back as
// they were written; floats keep their bits, a null string stays null, transient fields stay out.
TEST_F(Kab, EveryFieldKindSharingAndCyclesRoundTrip)
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
    auto partner = make<kaKabProbe>("partner");
    partner->_ranges = probe->_ranges;
    partner->_other = probe.get();
    probe->_other = partner.get();
    partner->_label = text->getString();
    auto entries = make<kaObjectList>();
    for (kaObject* entry : std::initializer_list<kaObject*>{probe, partner, probe, text}) entries->append(entry);

    auto file = make<kaKABFile>();
    std::vector<uint8_t> bytes = bytesOf(entries);
    ASSERT_TRUE(file->readFromMemory(bytes.data(), bytes.size(), "probe.kab")) << file->getError();
    auto* read = kaObjectList::dynamicCast(rootObject(file));
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(graphDifference(entries, read), "");
    auto* readProbe = kaKabProbe::dynamicCast(read->getShared(0));
    ASSERT_TRUE(readProbe && readProbe != probe.get());
    EXPECT_TRUE(std::signbit(readProbe->_scale));
    EXPECT_EQ(std::memcmp(readProbe->_matrix, probe->_matrix, sizeof probe->_matrix), 0);
    EXPECT_EQ(std::memcmp(readProbe->_floats.data(), probe->_floats.data(), 16), 0) << "floats keep their bits, NaN too";
    EXPECT_TRUE(readProbe->_absent.isNull()) << "a null string stays null, not empty";
    EXPECT_EQ(readProbe->_cache, nullptr) << "transient fields are not stored";
    EXPECT_EQ(readProbe->getRefCount(), 3) << "two list places and the cycle";
    EXPECT_EQ(readProbe->_afterReadCalls, 1);
    EXPECT_EQ(probe->_afterReadCalls, 0);

    // Both cycles are broken by hand so that everything can go.
    probe->_other = static_cast<kaObject*>(nullptr);
    readProbe->_other = static_cast<kaObject*>(nullptr);
}

TEST_F(Kab, SaveLoadSaveGivesTheSameBytes)
{
    kaKabScene scene;
    auto file = fileHolding(scene.infos->getShared(0));
    appendObjectEntry(file, "info", scene.infos->getShared(1));
    for (auto& extra : scene.extras) appendObjectEntry(file, extra->getName(), extra);
    std::vector<uint8_t> first, again, second;
    ASSERT_TRUE(file->writeToMemory(first)) << file->getError();
    ASSERT_TRUE(file->writeToMemory(again));
    EXPECT_EQ(first, again);

    auto read = make<kaKABFile>();
    ASSERT_TRUE(read->readFromMemory(first.data(), first.size(), "first.kab")) << read->getError();
    ASSERT_TRUE(read->writeToMemory(second)) << read->getError();
    EXPECT_EQ(first, second);
    // The reader gives a node its parents in the order they hold it.
    auto* root = kaGroup::dynamicCast(kaSceneInfo::dynamicCast(rootObject(read))->getSceneGraph());
    kaNode* shared = kaGroup::dynamicCast(root->getChild(0))->getChild(0);
    ASSERT_EQ(shared->getParentCount(), 2);
    EXPECT_EQ(shared->getParent(0), root->getChild(0));
    EXPECT_EQ(shared->getParent(1), root->getChild(1));
}

// The example scene, made of every kind of object the passes work on, is the same on every
// call and comes back from a file object for object: every stored field, every vertex, index
// and pixel block, and all sharing.
TEST_F(Kab, TheExampleSceneIsTheSameOnEveryCallAndRoundTripsObjectForObject)
{
    kaScratchDir scratch;
    const std::string path = (scratch / "example.kab").string();
    kaSmartPointer<kaInfoList> written = Lode::Tools::kaMakeExampleScene();
    std::string error;
    ASSERT_TRUE(Lode::Io::kaWriteScene(path, written, {}, error)) << error;
    ASSERT_TRUE(Lode::Io::kaWriteScene((scratch / "again.kab").string(), Lode::Tools::kaMakeExampleScene(), {}, error));
    EXPECT_EQ(kaTest::readText(path), kaTest::readText(scratch / "again.kab"));
    kaSmartPointer<kaInfoList> read;
    kaSmartPointer<kaFileInfo> file;
    ASSERT_TRUE(Lode::Io::kaReadScene(path, read, file, error)) << error;
    EXPECT_STREQ(file->getPath(), path.c_str());
    EXPECT_EQ(graphDifference(written, read), "");

    // A changed scene is told apart: the comparison itself finds differences.
    for (kaObject* object : kaCollectReachable({read}))
        if (auto* indices = kaIndexArray::dynamicCast(object)) indices->setIndex(0, indices->getIndex(0) + 1);
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

// A file on disk is read a window at a time with its blocks read straight into their arrays: it
// must give what the same bytes give from memory, whole or damaged, wherever blocks and table
// entries fall against the window (blocks larger than it, small ones on either side of its edges).
TEST_F(Kab, FilesOnDiskReadAsTheirBytesInMemory)
{
    std::vector<kaSmartPointer<kaKabProbe>> probes;
    auto holder = make<kaObjectList>();
    for (size_t floats : {size_t(100), size_t(70000), size_t(300000), size_t(3)}) {
        auto probe = make<kaKabProbe>(("probe" + std::to_string(floats)).c_str());
        for (size_t i = 0; i < floats; ++i) probe->_floats.push_back(float(i) * 0.25f);
        probe->_bytes.assign(floats % 251, uint8_t(floats));
        holder->append(probe);
        probes.push_back(probe);
    }
    // Tables larger than the window, so that strings and counts fall across its edges.
    auto names = make<kaStringObjList>();
    for (int i = 0; i < 30000; ++i) names->appendString(("name " + std::to_string(i * 7919)).c_str());
    holder->append(names);
    const std::vector<uint8_t> bytes = bytesOf(holder);
    ASSERT_GT(bytes.size(), size_t(1) << 20);
    kaScratchDir scratch;
    const std::string path = (scratch / "read.kab").string();
    // What reading gives: the bytes the read file saves as, or the refusal.
    const auto outcome = [&](const std::vector<uint8_t>& contents, bool onDisk) {
        auto file = make<kaKABFile>();
        if (onDisk) kaTest::writeText(path, std::string(contents.begin(), contents.end()));
        const bool read =
            onDisk ? file->read(path.c_str()) : file->readFromMemory(contents.data(), contents.size(), path.c_str());
        if (!read) return file->getError();
        std::vector<uint8_t> saved;
        EXPECT_TRUE(file->writeToMemory(saved));
        kaBreakReferences(kaCollectReachable({file->getDirectory()}));
        return std::string(saved.begin(), saved.end());
    };
    EXPECT_TRUE(outcome(bytes, true) == std::string(bytes.begin(), bytes.end()))
        << "the file read from disk saves as other bytes";

    enum Edit { Cut, Flip, FlipResealed, CutResealed };
    std::mt19937 random(4242);
    for (int trial = 0; trial < 48; ++trial) {
        const auto edit = Edit(trial % 4);
        std::vector<uint8_t> damaged = bytes;
        const size_t at = kaKABHeaderSize + random() % (bytes.size() - kaKABHeaderSize);
        if (edit == Cut || edit == CutResealed)
            damaged.resize(at);
        else
            damaged[at] ^= 0x5a;
        if (edit == FlipResealed || edit == CutResealed) reseal(damaged);
        EXPECT_TRUE(outcome(damaged, true) == outcome(damaged, false)) << "edit " << edit << " at " << at;
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

    // The directory's list: count, then the reference to its first entry (object 1); object 2
    // is the probe. Each edit goes behind a valid checksum, so that the parser meets it.
    const size_t firstEntry = layout.firstBody + 4;
    ASSERT_EQ(u32At(bytes, firstEntry), 2u);
    using Edit = std::function<void(std::vector<uint8_t>&)>;
    const std::pair<Edit, const char*> cases[] = {
        {[&](auto& b) { b[layout.stringAt("kaKabProbe") + 2] = 'X'; }, "unknown class 'kaXabProbe'"},
        {[&](auto& b) { b[layout.stringAt("_offset") + 1] = 'm'; }, "differs from this build"},
        // The kind byte of the first field of the first class (the directory's entry list).
        {[&](auto& b) { b[layout.fieldOffsets[0] + 4] = 3; }, "differs from this build"},
        {[&](auto& b) { putU32At(b, firstEntry, 999); }, "reference to object 998 is out of range"},
        {[&](auto& b) { putU32At(b, firstEntry, kaKABExternalReference); }, "does not name an external entry"},
        {[&](auto& b) { putU32At(b, firstEntry, 3); }, "refers to a kaKabProbe where it takes a kaDirEntry"},
        // The directory entry's object (after the entry's name): null leaves the probe unreachable.
        {[&](auto& b) { putU32At(b, layout.firstBody + 12, 0); }, "object 2 (a kaKabProbe) cannot be reached from the directory"},
        {[&](auto& b) { b.push_back(0); }, "1 bytes follow the last object"},
        {[&](auto& b) { b[0] = 'X'; }, "byte 0: not a .kab file"},
        {[&](auto& b) { b[4] = 9; }, "byte 4: format version 9"},
    };
    for (const auto& [edit, reason] : cases) {
        std::vector<uint8_t> copy = bytes;
        edit(copy);
        reseal(copy);
        EXPECT_THAT(refusal(copy), HasSubstr(reason));
    }

    // Written from memory: a typed reference to the wrong class, a null where the class keeps a
    // constructed list, and a typed list with a stranger.
    auto group = make<kaGroup>("group");
    auto* children = static_cast<kaObjectRefMetaField*>(kaGroup::getClassMetaSafe()->findMetaField("_children"));
    auto stranger = make<kaStringObj>();
    kaSmartPointer<kaObject> kept = children->get(group);
    const auto refusalHolding = [&](kaObject* list) {
        children->set(group, list);
        return refusal(bytesOf(group));
    };
    EXPECT_THAT(refusalHolding(stranger), HasSubstr("field '_children' of a kaGroup refers to a kaStringObj where it takes a kaNodeList"));
    EXPECT_THAT(refusalHolding(nullptr), HasSubstr("field '_children' of a kaGroup may not be null"));
    children->set(group, kept);
    group->getChildren()->append(stranger);
    EXPECT_THAT(refusal(bytesOf(group)), HasSubstr("field '_entries' of a kaNodeList refers to a kaStringObj where it takes a kaNode"));
    group->getChildren()->removeAll();
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
    EXPECT_THAT(file->getError(), HasSubstr(path.string()));
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
    EXPECT_THAT(read->getError(), HasSubstr("none.kab: cannot open"));
    EXPECT_FALSE(read->read((scratch / "folder.kab").c_str()));
    EXPECT_THAT(read->getError(), HasSubstr("not a regular file"));
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

        // Export the rim first, then the wheel that holds it, both into parts/. Each node's own
        // entry is known before its file is written: the file still holds the node itself.
        for (kaNode* node : {static_cast<kaNode*>(rim), static_cast<kaNode*>(wheel)}) {
            const std::string name = std::string("parts/") + node->getName() + ".kab";
            auto entry = externalEntry(name, "root", node);
            optInterface->addExternalReference(entry);
            EXPECT_EQ(optInterface->getExternalEntry(node), entry.get());
            ASSERT_EQ(optInterface->writeFile(node, (scratch / name).c_str(), true), kSuccess)
                << optInterface->getFileError();
        }
        std::string error;
        ASSERT_TRUE(optInterface->writeScene(scenePath.c_str(), scene.infos, error)) << error;
        const std::string sceneBytes = kaTest::readText(scenePath);
        EXPECT_EQ(sceneBytes.find("rim_geometry"), std::string::npos) << "exported nodes are not in the scene file";
        EXPECT_THAT(sceneBytes, HasSubstr("parts/wheel_geometry.kab"));
        EXPECT_THAT(kaTest::readText(scratch / "parts" / "wheel_geometry.kab"), HasSubstr("rim_geometry.kab"))
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

    // Saved elsewhere, the scene gets the file anew beside it, under the same name: the copy
    // reads without the original files.
    fs::create_directory(scratch / "out");
    optInterface->setFilePath((scratch / "out").c_str());
    ASSERT_TRUE(optInterface->writeScene((scratch / "out" / "copy.kab").c_str(), infos, error)) << error;
    EXPECT_STREQ(entry->getDirectoryName(), "parts/wheel_geometry.kab") << "the entry itself is unchanged";
    EXPECT_THAT(kaTest::readText(scratch / "out" / "copy.kab"), Not(HasSubstr("../")));
    fs::remove(scratch / "parts" / "rim_geometry.kab");
    kaSmartPointer<kaInfoList> copy;
    ASSERT_TRUE(kaReadSceneFile((scratch / "out" / "copy.kab").string(), copy, error)) << error;
    EXPECT_EQ(graphDifference(copy->getShared(0), infos->getShared(0)), "");

    EXPECT_FALSE(kaReadSceneFile(scenePath, copy, error));
    EXPECT_THAT(error, HasSubstr("rim_geometry.kab: cannot open the file"));
    EXPECT_THAT(error, StartsWith(scenePath + ": byte "));
}

// A node a written group reaches is kept in its file; when a group outside that file holds it too,
// it gets an entry naming the file, so that it stays one node. A group kept in a file of its own
// is outside, even where the written group reaches it.
TEST_F(Kab, NodesHeldFromOutsideAWrittenFileGetAnEntryThere)
{
    const struct {
        bool otherReached, otherInFile, entry;
    } cases[] = {{true, false, false}, {true, true, true}, {false, false, true}};
    for (const auto& c : cases) {
        kaScratchDir scratch;
        auto optInterface = make<kaOptInterface>();
        optInterface->setFilePath(scratch.path().c_str());
        auto written = make<kaGroup>("written"), other = make<kaGroup>("other");
        auto node = make<kaNode>("node");
        written->appendChild(node);
        other->appendChild(node);
        if (c.otherReached) written->appendChild(other);
        if (c.otherInFile) optInterface->addExternalReference(externalEntry("other.kab", "root", other));
        ASSERT_EQ(optInterface->writeFile(written, (scratch / "written.kab").c_str(), true), kSuccess)
            << optInterface->getFileError();
        const kaExternalDirEntry* entry = optInterface->getExternalEntry(node);
        EXPECT_EQ(entry != nullptr, c.entry) << c.otherReached << c.otherInFile;
        if (entry) EXPECT_STREQ(entry->getDirectoryName(), "written.kab");
    }
}

// A file reaches only inside the folder of the input read: a part may climb out of its own
// folder, not out of the input's; any place only when the process allows it.
TEST_F(Kab, ReferencesOutsideTheInputsFolderAreReadOnlyWhenAllowed)
{
    kaScratchDir scratch;
    fs::create_directories(scratch / "in" / "sub");
    // A file whose root group holds a node standing in the file reference names.
    const auto writeReferring = [](const fs::path& path, const std::string& reference) {
        auto group = make<kaGroup>("group");
        auto file = fileHolding(group);
        if (!reference.empty()) {
            auto stand = make<kaNode>("elsewhere");
            group->appendChild(stand);
            file->getDirectory()->append(externalEntry(reference, "root", stand));
        }
        ASSERT_TRUE(file->write(path.c_str())) << file->getError();
    };
    const std::string outsideKab = (scratch / "x.kab").string(), outsideBin = (scratch / "x.bin").string();
    writeReferring(outsideKab, "");
    writeReferring(scratch / "in" / "q.kab", "");
    writeReferring(scratch / "in" / "sub" / "p.kab", "../q.kab");
    kaTest::writeText(outsideBin, "abcd");
    const struct { const char* input; std::string reference; const char* refusal; } cases[] = {
        {"a.kab", "../x.kab", "lies outside the folder of "}, {"b.kab", outsideKab, "is an absolute path, outside the folder of "},
        {"c.kab", "sub/../../x.kab", "lies outside the folder of "}, {"d.kab", "sub/p.kab", nullptr},
        {"e.gltf", "../x.bin", "lies outside the folder of "}, {"f.gltf", outsideBin, "is an absolute path, outside the folder of "}};
    for (const auto& c : cases) {
        const fs::path input = scratch / "in" / c.input;
        if (input.extension() == ".kab")
            writeReferring(input, c.reference);
        else
            kaTest::writeText(input, R"({"asset":{"version":"2.0"},"buffers":[{"uri":")" + c.reference + R"(","byteLength":4}]})");
    }
    for (bool allowed : {false, true}) {
        kaSetOutsideReferencesAllowed(allowed);
        for (const auto& c : cases) {
            const std::string input = (scratch / "in" / c.input).string();
            kaSmartPointer<kaInfoList> infos;
            std::string error;
            const bool read = Lode::Io::kaReadScene(input, infos, error);
            EXPECT_EQ(read, allowed || !c.refusal) << c.input << ": " << error;
            if (!read) {
                EXPECT_THAT(error, AllOf(StartsWith(input + ": "), HasSubstr(c.reference), HasSubstr(c.refusal + input)));
            }
        }
    }
    kaSetOutsideReferencesAllowed(false);
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
        file->getDirectory()->append(externalEntry(std::string(name) == "a" ? "b.kab" : "a.kab", "root", stand));
        ASSERT_TRUE(file->write((scratch / (std::string(name) + ".kab")).c_str())) << file->getError();
    }
    auto file = make<kaKABFile>();
    EXPECT_FALSE(file->read((scratch / "a.kab").c_str()));
    EXPECT_THAT(file->getError(), HasSubstr("refers back to itself"));

    // An entry that names no file, and one whose file has no such entry.
    auto group = make<kaGroup>("c");
    auto stand = make<kaNode>("elsewhere");
    group->appendChild(stand);
    auto broken = fileHolding(group);
    auto entry = externalEntry("", "", stand);
    broken->getDirectory()->append(entry);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(broken->writeToMemory(bytes));
    EXPECT_THAT(refusal(bytes), HasSubstr("external entry '' (entry ''): the external entry names no file"));
    auto sound = fileHolding(make<kaNode>("sound"));
    ASSERT_TRUE(sound->write((scratch / "d.kab").c_str())) << sound->getError();
    entry->setDirectoryName("d.kab");
    entry->setEntryName("lost");
    ASSERT_TRUE(broken->write((scratch / "c.kab").c_str())) << broken->getError();
    EXPECT_FALSE(file->read((scratch / "c.kab").c_str()));
    EXPECT_THAT(file->getError(), HasSubstr("d.kab: no object entry named 'lost'"));
}

// An image kept in a PNG file of its own: the file that uses it holds the entry, not the pixels.
TEST_F(Kab, ImagesInPngFilesAreExternalEntries)
{
    kaScratchDir scratch;
    {
        auto image = make<kaImage>("textures/brick.tga");
        image->setup(4, 3, KA_GFX_TEXTURE_FORMAT_RGBA_8);
        for (size_t i = 0; i < image->getSize(); ++i) image->pixelData()[i] = static_cast<uint8_t>(i * 5);
        std::string error;
        ASSERT_TRUE(kaWritePngImage(*image, scratch / "brick.png", error)) << error;
        auto entry = make<kaExternalImageEntry>();
        entry->setDirectoryName("brick.png");
        entry->setEntryName("brick.png");
        entry->bindObject(image);
        auto user = make<kaKabProbe>("user");
        user->_other = image.get();
        auto file = fileHolding(user);
        file->getDirectory()->append(entry);
        ASSERT_TRUE(file->write((scratch / "user.kab").c_str())) << file->getError();
        EXPECT_EQ(kaTest::readText(scratch / "user.kab").find("textures/brick.tga"), std::string::npos);
    }
    auto file = make<kaKABFile>();
    ASSERT_TRUE(file->read((scratch / "user.kab").c_str())) << file->getError();
    auto* image = kaImage::dynamicCast(kaKabProbe::dynamicCast(rootObject(file))->_other.get());
    ASSERT_NE(image, nullptr);
    EXPECT_STREQ(image->getName(), "brick.png");
    EXPECT_EQ(image->getWidth(), 4);
    EXPECT_EQ(image->getFormat(), KA_GFX_TEXTURE_FORMAT_RGBA_8);
    EXPECT_EQ(image->pixelData()[47], 235);

    fs::remove(scratch / "brick.png");
    EXPECT_FALSE(file->read((scratch / "user.kab").c_str()));
    EXPECT_THAT(file->getError(), HasSubstr("brick.png"));
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
    for (const auto& [folder, writable] : {std::pair{scratch.path(), true}, {scratch / "absent", false}, {scratch / "plain", false}})
        EXPECT_EQ(optInterface->isFolderWritable(folder.c_str()), writable) << folder;
    EXPECT_TRUE(optInterface->isFolderWritable(nullptr));

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
    // The directory finds entries by object through an index, which follows every change.
    std::vector<kaSmartPointer<kaNode>> nodes;
    for (const char* name : {"n0", "n1", "n2", "n3"}) {
        nodes.push_back(make<kaNode>(name));
        directory->append(externalEntry("f.kab", name, nodes.back()));
        EXPECT_EQ(directory->findExternalEntry(nodes.back()), directory->getShared(directory->getCount() - 1)) << name;
    }
    directory->remove(1);
    EXPECT_EQ(directory->findExternalEntry(nodes[1]), nullptr);
    EXPECT_EQ(directory->findExternalEntry(nodes[3]), directory->getShared(directory->getCount() - 1));
    directory->set(0, externalEntry("f.kab", "other", image));
    EXPECT_EQ(directory->findExternalEntry(nodes[0]), nullptr) << "an entry replaced in place is gone";
    EXPECT_EQ(optInterface->writeFile(image, (scratch / "missing" / "i.kab").c_str(), true), kFailure);
    EXPECT_THAT(optInterface->getFileError(), HasSubstr("missing/i.kab"));
}
