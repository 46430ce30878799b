// Fuzz target of every pass on every scene shape.
//
// The input describes a scene graph in the language of fuzz/kaSceneBytes.h: shared nodes,
// several parents, deep chains, empty and repeated names, morph instances of both generations,
// levels of detail, light sets, skinned geometry with palettes that do not fit its blend
// indices, missing arrays, parent lists kept or removed. The scene is built afresh for every
// pass of the pass table on its own and once more for the pair of passes the input names. After
// each run every object made for it must be gone once it is let go, and the scene must save as
// .kab with the files the passes wrote, read back and save again to the same bytes (after the
// single passes only on scenes of up to kRoundTripNodes nodes, which the sanitizers save quickly).
// Any failure names the passes and aborts.
//
// `make fuzz` runs it with libFuzzer from fuzz/seeds/scene; `make test` runs it over those seeds
// and fuzz/regressions/scene_* with the plain driver.
#include "extension/kaOptExtensionLibrary.h"
#include "extension/kaPassNames.h"
#include "fuzz/kaSceneBytes.h"
#include "host/attrs/kaMaterialAttr.h"
#include "host/attrs/kaTextureAttr.h"
#include "host/attrs/kaVertexBlendMatrixListAttr.h"
#include "host/core/kaString.h"
#include "host/io/kaSceneFile.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaAnimationDatabase.h"
#include "host/sg/kaJoint.h"
#include "host/sg/kaLightSet.h"
#include "host/sg/kaLod.h"
#include "host/sg/kaMorph.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace Lode::Core;
using namespace Lode::Sg;
using namespace Lode::Attrs;
using namespace Lode::Gfx;
using Lode::Math::kaQuatf;
using Lode::Math::kaVec3f;
using Lode::Opt::kaOptBase;
using Lode::Opt::kaOptInterface;
namespace sb = kaSceneBytes;

namespace {

const auto& kPasses = Lode::kaPassNames;
constexpr int kPassCount = sizeof kPasses / sizeof kPasses[0];

using kaSettings = std::vector<std::pair<const char*, const char*>>;

constexpr size_t kRoundTripNodes = 2'000;

// Settings other than the defaults, each a field setting and registry keys for one pass; a
// settings byte picks one of a pass's variants (0: the defaults).
const struct kaPassVariant {
    const char* pass;
    kaSettings fields;
    kaSettings keys;
} kVariants[] = {
    {"kaUseMipmap", {{"mipmapTaggedOnly", "false"}}, {}},
    {"kaUseMipmap", {{"_filterType", "Point"}}, {{"minFilter", "Nearest"}, {"isExclude", "include"}}},
    {"kaUseDisplayList", {{"_enable", "false"}, {"_deleteOriginal", "true"}}, {}},
    {"kaTextureStatistics", {{"_useFullPath", "true"}}, {}},
    {"kaScalePerVertexColors", {{"_scaleFactor", "2"}}, {}},
    {"kaScalePerVertexColors", {{"_scaleFactor", "-0.5"}}, {}},
    {"kaScalePerVertexColors", {{"_scaleFactor", "nan"}}, {}},
    {"kaRemoveVertexComponent", {{"_normal", "true"}, {"_color", "true"}, {"_texture", "true"}}, {}},
    {"kaRemoveVertexComponent", {{"_texture", "true"}}, {}},
    {"kaReflectAnimations", {{"_leftIdentString", "_L"}, {"_rightIdentString", "_R"}}, {}},
    {"kaReflectAnimations", {{"_leftIdentString", "arm"}, {"_rightIdentString", "arm"}, {"_reflectionType", "PlaneXY"}}, {}},
    {"kaReduceBlendWeights", {{"_blendWeightCount", "2"}}, {}},
    {"kaReduceBlendWeights", {{"_blendWeightCount", "0"}, {"_weightSortMethod", "NO_SORT"}}, {}},
    {"kaReduceBlendWeights", {{"_blendWeightCount", "4"}, {"_weightSortMethod", "SORT_BY_DISTANCE_TO_BONE"}, {"_skeletonName", "skeleton"}}, {}},
    {"kaImageExternal", {{"_forcePngUsage", "false"}}, {}},
    {"kaImageExternal", {{"_forceInternalImage", "true"}}, {}},
    {"kaExportGeometry", {{"_subDirectory", "parts"}}, {}},
    {"kaExportGeometry", {{"_baseName", "mesh"}}, {}},
    {"kaCreateLod", {{"_lodCount", "3"}}, {{"directory1", ""}, {"directory2", "parts"}, {"range2", "5"}}},
    {"kaCreateLod", {{"_lodCount", "0"}}, {}},
};

[[noreturn]] void fail(const std::string& chain, const std::string& what)
{
    std::fprintf(stderr, "scene fuzz: %s: %s\n", chain.c_str(), what.c_str());
    std::abort();
}

// The input's bytes in order; zeros once they run out.
class kaByteReader {
public:
    kaByteReader(const uint8_t* data, size_t size) : _data(data), _size(size) {}
    uint8_t next() { return _at < _size ? _data[_at++] : 0; }
    int below(int count) { return count > 0 ? next() % count : 0; }
    bool atEnd() const { return _at >= _size; }

private:
    const uint8_t* _data;
    size_t _size;
    size_t _at = 0;
};

// Values for vertices and keys from one seed byte, so that an input stays short.
class kaValues {
public:
    explicit kaValues(uint8_t seed) : _state(seed * 2654435761u + 1u), _special(seed % 8 == 7) {}
    uint32_t raw() { return _state = _state * 1664525u + 1013904223u, _state >> 8; }
    float unit() { return float(raw() % 1000) / 999.0f; }
    float signedValue() { return unit() * 20.0f - 10.0f; }
    // What colours hold: 0..1, or on a special seed also values no colour should have.
    float colour()
    {
        if (!_special) return unit();
        const float odd[] = {std::nanf(""), INFINITY, -0.0f, 1e30f, unit()};
        return odd[raw() % 5];
    }

private:
    uint32_t _state;
    bool _special;
};

class kaSceneBuilder {
public:
    explicit kaSceneBuilder(kaByteReader& bytes) : _bytes(bytes) {}

    size_t nodeCount() const { return _nodes.size(); }

    // The scene info (and the animation database the flags ask for) of the scene the operations describe.
    kaSmartPointer<kaInfoList> build(uint8_t flags)
    {
        auto root = make<kaGroup>("root");
        addNode(root, -1);
        while (!_bytes.atEnd() && _nodes.size() < kMaxNodes) {
            switch (_bytes.next() % sb::OpCount) {
            case sb::Node: makeNode(); break;
            case sb::Share: share(); break;
            case sb::Chain: chain(); break;
            case sb::EmptyChild: parent()->appendChild(nullptr); break;
            case sb::Attr: attr(); break;
            case sb::Light: light(); break;
            case sb::Binding: binding(); break;
            }
        }
        auto infos = make<kaInfoList>();
        auto sceneInfo = make<kaSceneInfo>("scene");
        sceneInfo->setSceneGraph(root);
        infos->append(sceneInfo);
        if (flags & sb::AnimationDatabase) {
            auto skeleton = make<kaSkeleton>("skeleton");
            for (kaJoint* joint : _joints) skeleton->appendJoint(joint->getName(), Lode::Math::kaMatrix44f());
            skeleton->appendEmptyJoint();
            auto database = make<kaAnimationDatabase>("animation");
            database->appendSkeleton(skeleton);
            database->appendAnimation(_animation);
            infos->append(database);
        }
        return infos;
    }

private:
    static constexpr size_t kMaxNodes = 20'000;

    const char* name() { return sb::kNames[_bytes.below(sb::kNameCount)]; }

    // Counts back from the most recent entry; null for an empty list.
    template <class T> T* fromEnd(const std::vector<T*>& list)
    {
        const uint8_t back = _bytes.next();
        return list.empty() ? nullptr : list[list.size() - 1 - back % list.size()];
    }
    kaGroup* parent() { return fromEnd(_groups); }

    // Every node is held by its first parent; the lists keep plain pointers.
    void addNode(kaNode* node, int parentByte)
    {
        if (parentByte >= 0) _groups[_groups.size() - 1 - parentByte % _groups.size()]->appendChild(node);
        _nodes.push_back(node);
        if (auto* group = kaGroup::dynamicCast(node)) _groups.push_back(group);
        if (auto* set = kaAttrSet::dynamicCast(node)) _attrSets.push_back(set);
        if (auto* lights = kaLightSet::dynamicCast(node)) _lightSets.push_back(lights);
        if (auto* joint = kaJoint::dynamicCast(node)) _joints.push_back(joint);
    }

    void makeNode()
    {
        const int type = _bytes.below(sb::NodeTypeCount);
        const char* nodeName = name();
        const int parentByte = _bytes.next();
        const uint8_t detail = _bytes.next();
        kaSmartPointer<kaNode> node;
        switch (type) {
        case sb::Group: node = make<kaGroup>(nodeName); break;
        case sb::Transform: {
            auto transform = make<kaTransform>(nodeName);
            transform->setAnimated(detail % 2);
            node = transform;
            break;
        }
        case sb::AttrSet: node = make<kaAttrSet>(nodeName); break;
        case sb::LightSet: node = make<kaLightSet>(nodeName); break;
        case sb::Lod: {
            auto lod = make<kaLod>(nodeName);
            for (int range = 0; range < detail % 5; ++range) lod->appendRange(float(10 * (range + 1)));
            node = lod;
            break;
        }
        case sb::Joint: {
            auto joint = make<kaJoint>(nodeName);
            if (detail % 2 == 0) joint->setBlendingMatrix(make<Lode::Utils::kaMatrixObject>());
            node = joint;
            break;
        }
        case sb::Geometry: {
            auto geometry = make<kaGeometry>(nodeName);
            geometry->appendAttr(makeAttr());
            node = geometry;
            break;
        }
        case sb::MorphInstance: node = makeMorphInstance(nodeName); break;
        default: node = makeMorphInstance2(nodeName); break;
        }
        addNode(node, parentByte);
    }

    // A group's children were all made after it, so the child gains a parent made before it.
    void share()
    {
        kaNode* child = _nodes[_nodes.size() - 1 - _bytes.below(int(_nodes.size()))];
        const size_t before = size_t(std::partition_point(_groups.begin(), _groups.end(), [&](kaGroup* group) {
                                         return group->getCreationNumber() < child->getCreationNumber();
                                     }) - _groups.begin());
        const int parentByte = _bytes.next();
        if (before > 0) _groups[before - 1 - parentByte % before]->appendChild(child);
    }

    void chain()
    {
        const int length = (_bytes.next() + 1) * 64;
        const int type = _bytes.below(3);
        const char* linkName = name();
        const int parentByte = _bytes.next();
        for (int link = 0; link < length && _nodes.size() < kMaxNodes; ++link) {
            kaSmartPointer<kaGroup> group;
            if (type == 0) group = make<kaGroup>(linkName);
            else if (type == 1) group = make<kaTransform>(linkName);
            else {
                auto joint = make<kaJoint>(linkName);
                joint->setBlendingMatrix(make<Lode::Utils::kaMatrixObject>());
                group = joint;
            }
            addNode(group, link == 0 ? parentByte : 0);
        }
    }

    void attr()
    {
        kaAttrSet* set = fromEnd(_attrSets);
        kaSmartPointer<kaAttr> made = makeAttr();
        if (set) set->appendAttr(made);
    }

    void light()
    {
        kaLightSet* set = fromEnd(_lightSets);
        if (!set) return;
        switch (_bytes.below(3)) {
        case 0: {
            _light = make<kaLightAttr>(name());
            _light->setType(static_cast<KA_GFX_LIGHT_TYPE>(_bytes.below(3)));
            set->appendLight(_light);
            break;
        }
        case 1: set->appendLight(_light); break;
        default: set->appendLight(nullptr); break;
        }
    }

    void binding()
    {
        auto binding = make<kaAnimationBinding>(name());
        kaValues values(_bytes.next());
        for (int key = 0, keys = _bytes.below(4); key < keys; ++key) {
            binding->appendRotationKey(float(key), kaQuatf(kaVec3f(0, 1, 0), values.signedValue()));
            binding->appendTranslationKey(float(key), {values.signedValue(), values.signedValue(), values.signedValue()});
        }
        _animation->appendBinding(binding);
    }

    kaSmartPointer<kaVertexArray> makeVertexArray(bool current)
    {
        const uint8_t format1 = _bytes.next(), format2 = _bytes.next();
        const int count = _bytes.below(13);
        kaValues values(_bytes.next());
        const int spread = _bytes.next();
        if (format1 == 0xFF) return nullptr;
        if (format2 & 0x80 && _vertexArray) return _vertexArray;
        kaVertexFormat format;
        format.setPositions(!(format1 & 1));
        format.setNormals(format1 & 2);
        format.setColors(format1 & 4);
        format.setBlendWeightCount(format1 >> 3 & 7);
        format.setTextureCoordSetCount(format1 >> 6);
        format.setBlendIndexCount(format2 & 15 ? format2 & 15 : format1 >> 3 & 7);
        format.setPointSpriteCoordCount(format2 >> 4 & 3);
        kaSmartPointer<kaVertexArray> array;
        if (current) array = make<kaVertexArray2>();
        else array = make<kaVertexArray>();
        array->setup(format, count, 0, 0);
        for (int v = 0; v < count; ++v) {
            array->setPosition(v, {values.signedValue(), values.signedValue(), values.signedValue()});
            array->setNormal(v, {values.unit(), values.unit(), 1});
            const float rgba[4] = {values.colour(), values.colour(), values.colour(), values.colour()};
            array->setColor(v, rgba);
            for (int slot = 0; slot < format.getBlendWeightCount(); ++slot) array->setBlendWeight(v, slot, values.unit());
            for (int slot = 0; slot < format.getBlendIndexCount(); ++slot)
                array->setBlendIndex(v, slot, uint8_t(values.raw() % (spread + 1)));
            for (int set = 0; set < format.getTextureCoordSetCount(); ++set) array->setTexCoord(v, set, {values.unit(), values.unit()});
        }
        array->closeSetup();
        _vertexArray = array;
        return array;
    }

    kaSmartPointer<kaGeometryAttr> makeGeometryAttr(bool current)
    {
        kaSmartPointer<kaGeometryAttr> attr;
        if (current) attr = make<kaGeometryAttr2>(name());
        else attr = make<kaGeometryAttr1_5>(name());
        kaSmartPointer<kaVertexArray> vertices = makeVertexArray(current);
        const int indexCount = _bytes.below(25);
        const int type = _bytes.below(6);
        const int primitives = _bytes.below(9);
        if (_bytes.next() % 2) attr->setBoundingBox(make<kaBoundingBox>());
        attr->configureVertexArray(vertices);
        if (indexCount > 0) {
            auto indices = make<kaIndexArray>();
            indices->setCount(indexCount);
            kaValues values{uint8_t(indexCount)};
            const int vertexCount = vertices ? vertices->getVertexCount() : 0;
            for (int i = 0; i < indexCount; ++i) indices->setIndex(i, values.raw() % uint32_t(vertexCount + 2));
            attr->setIndexArray(indices);
        }
        attr->setPrimitiveType(static_cast<KA_GFX_DRAW>(type));
        attr->setPrimitiveCount(primitives);
        return attr;
    }

    kaSmartPointer<kaImage> makeImage()
    {
        const int width = _bytes.below(6), height = _bytes.below(6);
        const auto format = static_cast<KA_GFX_TEXTURE_FORMAT>(_bytes.below(9));
        auto image = make<kaImage>(name());
        image->setup(width, height, format);
        kaValues values{uint8_t(width * 7 + height)};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < image->getBytesPerRow(); ++x) image->pixelData()[y * image->getBytesPerRow() + x] = uint8_t(values.raw());
        if (format == KA_GFX_TEXTURE_FORMAT_PALETTE_8) image->setPaletteEntryCount(_bytes.below(5));
        return image;
    }

    kaSmartPointer<kaTextureAttr> makeTexture()
    {
        auto texture = make<kaTextureAttr>(name());
        const int mode = _bytes.next();
        texture->setMipMapMode(static_cast<KA_GFX_TEXTURE_MODE>(mode % 2));
        if (!(mode & 4) || !_image) _image = makeImage();
        texture->setImage(_image, 0);
        for (int level = 1, levels = _bytes.below(3); level <= levels; ++level) texture->setImage(makeImage(), level);
        return texture;
    }

    kaSmartPointer<kaVertexBlendMatrixListAttr> makePalette()
    {
        auto palette = make<kaVertexBlendMatrixListAttr>(name());
        for (int entry = 0, count = _bytes.below(6); entry < count; ++entry) {
            const uint8_t pick = _bytes.next();
            if (pick % 4 == 0) palette->appendMatrix(nullptr);
            else if (pick % 4 == 1 || _joints.empty()) palette->appendMatrix(make<Lode::Utils::kaMatrixObject>());
            else palette->appendMatrix(_joints[_joints.size() - 1 - (pick / 4) % _joints.size()]->getBlendingMatrix());
        }
        return palette;
    }

    kaSmartPointer<kaMorphedGeometryAttr> makeMorphed()
    {
        auto morphed = make<kaMorphedGeometryAttr>(name());
        const int wrapped = _bytes.below(3);
        if (wrapped > 0) morphed->setGeometry(makeGeometryAttr(wrapped == 2));
        for (int data = 0, count = _bytes.below(3); data < count; ++data) {
            auto morphData = make<kaVector3MorphData>();
            morphData->setElementCount(_bytes.below(13));
            auto base = make<kaVec3fAlignedList>();
            base->setCount(_bytes.below(13));
            morphData->setBase(base);
            for (int target = 0, targets = _bytes.below(4); target < targets; ++target) {
                auto list = make<kaVec3fAlignedList>();
                list->setCount(_bytes.below(13));
                morphData->appendTarget(list);
            }
            morphed->getMorphList()->append(morphData);
        }
        return morphed;
    }

    kaSmartPointer<kaAttr> makeAttr()
    {
        kaSmartPointer<kaAttr> attr;
        switch (_bytes.below(sb::AttrKindCount)) {
        case sb::GeometryAttr1_5: attr = makeGeometryAttr(false); break;
        case sb::GeometryAttr2: attr = makeGeometryAttr(true); break;
        case sb::Texture: attr = makeTexture(); break;
        case sb::Material: {
            auto material = make<kaMaterialAttr>(name());
            material->setSpecular({1, 1, 1, 1});
            material->setShininess(float(_bytes.next()));
            attr = material;
            break;
        }
        case sb::Palette: attr = makePalette(); break;
        case sb::Morphed: attr = makeMorphed(); break;
        case sb::EmptyAttr: return nullptr;
        default: return _attr;
        }
        _attr = attr;
        return attr;
    }

    // First generation: the drawn attribute, a base whose vertices may be the attribute's, none of
    // its own or missing, sparse targets whose indices may name no vertex, and a sequence.
    kaSmartPointer<kaNode> makeMorphInstance(const char* nodeName)
    {
        auto instance = make<kaMorphInstance>(nodeName);
        kaSmartPointer<kaGeometryAttr> drawn = makeGeometryAttr(false);
        instance->appendAttr(drawn);
        const int baseKind = _bytes.below(4);
        if (baseKind > 0) {
            auto base = make<kaMorphBase>();
            if (baseKind == 1) base->setVertexArray(drawn->getVertexArray());
            else if (baseKind == 2) base->setVertexArray(makeVertexArray(false));
            for (int target = 0, targets = _bytes.below(4); target < targets; ++target) {
                auto moves = make<kaVec3fList>();
                moves->setCount(_bytes.below(8));
                auto indices = make<kaIntList>();
                for (int i = 0, count = _bytes.below(9); i < count; ++i) indices->append(int(_bytes.next()) - 16);
                const bool normals = _bytes.next() % 2;
                base->appendTarget(moves, indices, normals ? moves.get() : nullptr, normals ? indices.get() : nullptr);
            }
            instance->setBase(base);
        }
        if (const int weights = _bytes.below(4)) {
            auto sequence = make<kaMorphSequence>(name());
            for (int w = 0; w < weights - 1; ++w) sequence->getInitialWeights()->append(0.5f);
            instance->setMorphSequence(sequence);
        }
        return instance;
    }

    kaSmartPointer<kaNode> makeMorphInstance2(const char* nodeName)
    {
        auto instance = make<kaMorphInstance2>(nodeName);
        kaSmartPointer<kaMorphedGeometryAttr> morphed = makeMorphed();
        const int place = _bytes.below(3);
        if (place != 1) instance->setMorphGeometry(morphed);
        if (place != 0) instance->appendAttr(morphed);
        instance->getCoefficient()->setCount(_bytes.below(4));
        return instance;
    }

    kaByteReader& _bytes;
    std::vector<kaNode*> _nodes;
    std::vector<kaGroup*> _groups;
    std::vector<kaAttrSet*> _attrSets;
    std::vector<kaLightSet*> _lightSets;
    std::vector<kaJoint*> _joints;
    kaSmartPointer<kaVertexArray> _vertexArray;
    kaSmartPointer<kaImage> _image;
    kaSmartPointer<kaAttr> _attr;
    kaSmartPointer<kaLightAttr> _light;
    kaSmartPointer<kaAnimation> _animation = make<kaAnimation>("walk");
};

// A folder of its own for every run, under /dev/shm where there is one (the saves flush to disk),
// so that no run sees another's files or files noted as read by an earlier run.
class kaRunFolder {
public:
    kaRunFolder()
    {
        static const kaScratch scratch;
        static unsigned runs = 0;
        _path = scratch.path + "/" + std::to_string(runs++);
        std::filesystem::create_directory(_path);
    }
    ~kaRunFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(_path, ignored);
    }
    const std::string& path() const { return _path; }

private:
    // The folder of the process's runs, gone when the process ends.
    struct kaScratch {
        kaScratch()
        {
            path = (std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                               : std::filesystem::temp_directory_path()) /
                   "kaopt-scene-fuzz-XXXXXX";
            if (!mkdtemp(path.data())) fail("set-up", "cannot make a scratch folder");
        }
        ~kaScratch()
        {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
        std::string path;
    };
    std::string _path;
};

// What passes print goes to /dev/null while the input runs.
class kaQuietOutput {
public:
    kaQuietOutput()
    {
        std::fflush(stdout);
        _saved = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    ~kaQuietOutput()
    {
        std::fflush(stdout);
        if (_saved >= 0) dup2(_saved, STDOUT_FILENO), close(_saved);
    }

private:
    int _saved = -1;
};

std::vector<uint8_t> fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::vector<uint8_t> bytes(size_t(std::max<std::streamoff>(in.tellg(), 0)));
    in.seekg(0).read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    return bytes;
}

kaSmartPointer<kaOptInterface> makeHost(const std::string& folder, kaFileCommit& files)
{
    auto host = kaSmartPointer<kaOptInterface>::adopt(kaOptInterface::_instantiate());
    host->setRegistry(kaSmartPointer<kaRegistry>::adopt(kaRegistry::_instantiate()));
    host->setFilePath(folder.c_str());
    host->setFileCommit(&files);
    return host;
}

// Creates the pass with the settings the byte picks among its variants.
kaSmartPointer<kaOptBase> makePass(kaOptInterface* host, int passIndex, uint8_t settings, int& section)
{
    const char* className = kPasses[passIndex];
    auto pass = kaSmartPointer<kaOptBase>::adopt(host->createOptBase(className));
    if (!pass) fail(className, "the pass table names a class that cannot be created");
    section = host->getRegistry()->addSection();
    std::vector<const kaPassVariant*> variants;
    for (const kaPassVariant& variant : kVariants)
        if (std::string(variant.pass) == className) variants.push_back(&variant);
    const int pick = settings % int(variants.size() + 1);
    if (pick == 0) return pass;
    for (auto& [field, value] : variants[pick - 1]->fields) {
        std::string error;
        kaMetaField* meta = pass->getMetaField(field);
        if (!meta || !meta->setFromText(pass, value, error)) fail(className, std::string("setting ") + field + ": " + error);
    }
    for (auto& [key, value] : variants[pick - 1]->keys) host->getRegistry()->setValue(section, key, value);
    return pass;
}

// Builds the scene and runs the passes over it; with roundTrip saves it, reads the save back and
// saves it again, byte for byte the same. Every object of the run must be gone afterwards.
// Returns the number of nodes the scene was built with.
size_t runChain(const uint8_t* data, size_t size, const std::vector<std::pair<int, uint8_t>>& passes, bool roundTrip)
{
    std::string chain;
    for (auto& [pass, settings] : passes) chain += (chain.empty() ? "" : " then ") + std::string(kPasses[pass]) + " (settings " + std::to_string(settings) + ")";
    const long liveBefore = kaObject::getLiveObjectCount();
    const size_t internedBefore = kaStringRef::getInternedCount();
    size_t nodes = 0;
    {
        kaRunFolder folder;
        const std::string saved = folder.path() + "/fuzz-out.kab", again = folder.path() + "/fuzz-again.kab";
        std::string error;
        {
            kaByteReader bytes(data + std::min<size_t>(size, 5), size - std::min<size_t>(size, 5));
            kaSceneBuilder builder(bytes);
            kaSmartPointer<kaInfoList> infos = builder.build(size >= 5 ? data[4] : 0);
            nodes = builder.nodeCount();
            kaFileCommit files;
            auto host = makeHost(folder.path(), files);
            auto* sceneInfo = kaSceneInfo::dynamicCast(infos->getShared(0));
            kaSmartPointer<kaNode> root = sceneInfo->getSceneGraph();
            for (auto& [passIndex, settings] : passes) {
                int section = 0;
                kaSmartPointer<kaOptBase> pass = makePass(host, passIndex, settings, section);
                host->runPass(pass, section, root, infos);
            }
            sceneInfo->setSceneGraph(root);
            if (roundTrip && (!host->writeScene(saved.c_str(), infos, error) || !files.commit(error))) fail(chain, "save: " + error);
        }
        if (roundTrip) {
            kaSmartPointer<kaInfoList> infos;
            kaSmartPointer<kaFileInfo> file;
            if (!Lode::Io::kaReadScene(saved, infos, file, error)) fail(chain, "read back: " + error);
            kaFileCommit files;
            auto host = makeHost(folder.path(), files);
            host->setFile(file);
            if (!host->writeScene(again.c_str(), infos, error) || !files.commit(error)) fail(chain, "save again: " + error);
            const std::vector<uint8_t> first = fileBytes(saved), second = fileBytes(again);
            if (first != second) {
                size_t at = 0;
                while (at < first.size() && at < second.size() && first[at] == second[at]) ++at;
                fail(chain, "saving the read-back scene gives other bytes (" + std::to_string(first.size()) + " and " +
                                std::to_string(second.size()) + " bytes, first difference at " + std::to_string(at) + ")");
            }
        }
    }
    if (kaObject::getLiveObjectCount() != liveBefore)
        fail(chain, std::to_string(kaObject::getLiveObjectCount() - liveBefore) + " objects outlive the run");
    if (kaStringRef::getInternedCount() != internedBefore)
        fail(chain, std::to_string(long(kaStringRef::getInternedCount()) - long(internedBefore)) + " interned strings outlive the run");
    return nodes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool registered = [] {
        Lode::Opt::kaRegisterHostPasses();
        Lode::kaOptExtensionLibrary_arkRegister();
        return true;
    }();
    (void)registered;
    kaQuietOutput quiet;
    auto header = [&](size_t at) -> uint8_t { return at < size ? data[at] : 0; };
    const bool removeParentLists = header(4) & sb::RemoveParentLists;
    int removeParentList = 0;
    while (std::string(kPasses[removeParentList]) != "kaRemoveParentList") ++removeParentList;
    auto withShape = [&](std::vector<std::pair<int, uint8_t>> passes) {
        if (removeParentLists) passes.insert(passes.begin(), {removeParentList, 0});
        return passes;
    };
    const size_t nodes =
        runChain(data, size, withShape({{header(0) % kPassCount, header(2)}, {header(1) % kPassCount, header(3)}}), true);
    // Saving and reading a scene of thousands of levels takes seconds under the sanitizers: on such
    // a scene the passes run alone are checked for crashes and leaks, and the files through the pair.
    for (int pass = 0; pass < kPassCount; ++pass)
        runChain(data, size, withShape({{pass, header(2)}}), nodes <= kRoundTripNodes);
    return 0;
}
