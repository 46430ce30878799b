#include "host/io/kaSceneCounts.h"

#include "host/attrs/kaGeometryAttr.h"
#include "host/attrs/kaLightAttr.h"
#include "host/attrs/kaMaterialAttr.h"
#include "host/attrs/kaMorphedGeometryAttr.h"
#include "host/attrs/kaTextureAttr.h"
#include "host/core/kaFileCommit.h"
#include "host/core/kaText.h"
#include "host/core/kaWalk.h"
#include "host/gfx/kaImage.h"
#include "host/gfx/kaVertexArray.h"
#include "host/io/kaGltf.h"
#include "host/io/kaSceneFile.h"
#include "host/sg/kaAnimationDatabase.h"
#include "host/sg/kaCamera.h"
#include "host/sg/kaGeometry.h"
#include "host/sg/kaMorph.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <limits>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace Lode::Io {

using namespace Lode::Attrs;
using namespace Lode::Core;
using namespace Lode::Gfx;
using namespace Lode::Sg;

const std::vector<kaSceneCountKey> kaSceneCountKeys = {
    {"nodes", &kaSceneCounts::nodes},
    {kaCount::meshes, &kaSceneCounts::meshes},
    {"vertices", &kaSceneCounts::vertices},
    {"primitives", &kaSceneCounts::primitives},
    {kaCount::skins, &kaSceneCounts::skins},
    {"joints", &kaSceneCounts::joints},
    {kaCount::animations, &kaSceneCounts::animations},
    {"channels", &kaSceneCounts::channels},
    {"morphTargets", &kaSceneCounts::morphTargets},
    {"materials", &kaSceneCounts::materials},
    {"textures", &kaSceneCounts::textures},
    {kaCount::images, &kaSceneCounts::images},
    {"imageBytes", &kaSceneCounts::imageBytes},
    {"lights", &kaSceneCounts::lights},
    {"cameras", &kaSceneCounts::cameras},
    {"fileBytes", &kaSceneCounts::fileBytes},
};

namespace {

bool draws(const kaGeometryAttr* attr) { return attr && attr->getPrimitiveCount() > 0 && attr->getVertexCount() > 0; }

// A geometry node draws when one of its attributes draws primitives, itself or (morphed) the
// geometry it deforms.
bool drawsPrimitives(const kaGeometry* geometry)
{
    for (int i = 0; i < geometry->getAttrCount(); ++i) {
        kaObject* attr = geometry->getAttr(i);
        const auto* morphed = kaMorphedGeometryAttr::dynamicCast(attr);
        if (draws(kaGeometryAttr::dynamicCast(attr)) || (morphed && draws(morphed->getGeometry()))) return true;
    }
    return false;
}

int64_t saturatingAdd(int64_t a, int64_t b)
{
    return a > std::numeric_limits<int64_t>::max() - b ? std::numeric_limits<int64_t>::max() : a + b;
}

// Appends the nodes a node holds, once for each reference to them: those its references reach
// through objects that are not nodes themselves (its child list, its attributes). Each call is a
// walk of its own, so an object two nodes share is looked into from both. pending is scratch.
void appendHeldNodes(const kaNode* node, std::vector<const kaObject*>& held, std::vector<const kaObject*>& pending)
{
    const uint32_t walk = kaObject::beginWalk();
    pending.assign(1, node);
    while (!pending.empty()) {
        const kaObject* object = pending.back();
        pending.pop_back();
        kaForEachReference(object, [&](kaObject* target) {
            if (kaNode::dynamicCast(target))
                held.push_back(target);
            else if (!target->markReached(walk))
                pending.push_back(target);
        });
    }
}

// How many places each node is reached at from the scene roots: a node shared by two groups
// is drawn twice. Paths are carried down in topological order, so a graph deeper than the call
// stack allows and graphs whose sharing would multiply paths beyond counting are both counted
// in one pass; a node on a cycle, or below one, counts the places found before the cycle, and
// at least one.
std::vector<int64_t> placesOfNodes(const std::vector<kaNode*>& nodes, const std::vector<kaNode*>& roots)
{
    std::unordered_map<const kaObject*, size_t> indexOf;
    indexOf.reserve(nodes.size());
    for (size_t i = 0; i < nodes.size(); ++i) indexOf.emplace(nodes[i], i);
    // The children of node i are children[firstChild[i]] up to children[firstChild[i + 1]].
    std::vector<size_t> firstChild(nodes.size() + 1, 0), children, parentEdges(nodes.size(), 0);
    std::vector<const kaObject*> held, pending;
    for (size_t i = 0; i < nodes.size(); ++i) {
        held.clear();
        appendHeldNodes(nodes[i], held, pending);
        for (const kaObject* child : held) {
            children.push_back(indexOf.at(child));
            ++parentEdges[children.back()];
        }
        firstChild[i + 1] = children.size();
    }
    std::vector<int64_t> places(nodes.size(), 0);
    for (kaNode* root : roots) places[indexOf.at(root)] += 1;
    std::vector<size_t> ready;
    for (size_t i = 0; i < nodes.size(); ++i)
        if (parentEdges[i] == 0) ready.push_back(i);
    while (!ready.empty()) {
        const size_t at = ready.back();
        ready.pop_back();
        for (size_t c = firstChild[at]; c < firstChild[at + 1]; ++c) {
            const size_t child = children[c];
            places[child] = saturatingAdd(places[child], places[at]);
            if (--parentEdges[child] == 0) ready.push_back(child);
        }
    }
    for (int64_t& count : places) count = std::max<int64_t>(count, 1);
    return places;
}

// What the count takes from an object. Deciding it casts along the class chain a dozen times,
// and a scene holds many objects of few classes, so it is decided once per class.
enum class Counted : uint8_t {
    Nothing,
    Scene,
    Vertices,
    GeometryAttr,
    MorphBase,
    MorphedGeometry,
    Material,
    Texture,
    Light,
    Camera,
    Skeleton,
    Animation
};

struct CountedClass {
    const kaMetaObject* meta;
    bool node, geometry;
    Counted counted;
};

Counted countedAs(const kaObject* object)
{
    if (kaSceneInfo::dynamicCast(object)) return Counted::Scene;
    if (kaVertexArray::dynamicCast(object)) return Counted::Vertices;
    if (kaGeometryAttr::dynamicCast(object)) return Counted::GeometryAttr;
    if (kaMorphBase::dynamicCast(object)) return Counted::MorphBase;
    if (kaMorphedGeometryAttr::dynamicCast(object)) return Counted::MorphedGeometry;
    if (kaMaterialAttr::dynamicCast(object)) return Counted::Material;
    if (kaTextureAttr::dynamicCast(object)) return Counted::Texture;
    if (kaLightAttr::dynamicCast(object)) return Counted::Light;
    if (kaCamera::dynamicCast(object)) return Counted::Camera;
    if (kaSkeleton::dynamicCast(object)) return Counted::Skeleton;
    if (kaAnimation::dynamicCast(object)) return Counted::Animation;
    return Counted::Nothing;
}

CountedClass classOf(const kaObject* object, std::vector<CountedClass>& known)
{
    const kaMetaObject* meta = object->getMetaObject();
    for (const CountedClass& entry : known)
        if (entry.meta == meta) return entry;
    known.push_back(
        {meta, kaNode::dynamicCast(object) != nullptr, kaGeometry::dynamicCast(object) != nullptr, countedAs(object)});
    return known.back();
}

} // namespace

kaSceneCounts kaCountScene(kaInfoList* infos)
{
    kaSceneCounts counts;
    std::vector<kaNode*> nodes, roots;
    std::unordered_set<const kaImage*> images;
    std::vector<const kaSkeleton*> skeletons;
    std::vector<const kaAnimation*> animations;
    std::vector<CountedClass> classes;
    std::vector<bool> geometryNode;
    for (kaObject* object : kaCollectReachable({infos})) {
        const CountedClass kind = classOf(object, classes);
        if (kind.node) {
            nodes.push_back(static_cast<kaNode*>(object));
            geometryNode.push_back(kind.geometry);
        }
        switch (kind.counted) {
        case Counted::Nothing: break;
        case Counted::Scene:
            if (kaNode* root = static_cast<const kaSceneInfo*>(object)->getSceneGraph()) roots.push_back(root);
            break;
        case Counted::Vertices: counts.vertices += static_cast<const kaVertexArray*>(object)->getVertexCount(); break;
        case Counted::GeometryAttr:
            counts.primitives += static_cast<const kaGeometryAttr*>(object)->getPrimitiveCount();
            break;
        case Counted::MorphBase:
            counts.morphTargets += static_cast<const kaMorphBase*>(object)->getTargetCount();
            break;
        case Counted::MorphedGeometry: {
            // The first morph data moves the positions: its targets are the morph targets.
            const auto* morphed = static_cast<const kaMorphedGeometryAttr*>(object);
            const auto* positions = morphed->getMorphList()->getCount() > 0
                                        ? kaVector3MorphData::dynamicCast(morphed->getMorphList()->getShared(0))
                                        : nullptr;
            if (positions) counts.morphTargets += positions->getTargetCount();
            break;
        }
        case Counted::Material: ++counts.materials; break;
        case Counted::Texture: {
            const auto* texture = static_cast<const kaTextureAttr*>(object);
            ++counts.textures;
            // Further levels are mipmaps of the first: one image to a viewer.
            if (texture->getImageCount() > 0 && texture->getImage(0)) images.insert(texture->getImage(0));
            break;
        }
        case Counted::Light: ++counts.lights; break;
        case Counted::Camera: ++counts.cameras; break;
        case Counted::Skeleton: skeletons.push_back(static_cast<const kaSkeleton*>(object)); break;
        case Counted::Animation: animations.push_back(static_cast<const kaAnimation*>(object)); break;
        }
    }
    counts.images = static_cast<int64_t>(images.size());
    for (const kaImage* image : images) counts.imageBytes += static_cast<int64_t>(image->getSize());

    const std::vector<int64_t> places = placesOfNodes(nodes, roots);
    // Names are held by the nodes, which outlive the count; only skeletons and animations ask.
    const bool namesAsked = !skeletons.empty() || !animations.empty();
    std::unordered_set<std::string_view> nodeNames;
    if (namesAsked) nodeNames.reserve(nodes.size());
    for (size_t i = 0; i < nodes.size(); ++i) {
        counts.nodes = saturatingAdd(counts.nodes, places[i]);
        if (geometryNode[i] && drawsPrimitives(static_cast<const kaGeometry*>(nodes[i])))
            counts.meshes = saturatingAdd(counts.meshes, places[i]);
        if (const char* name = nodes[i]->getName(); namesAsked && name && *name) nodeNames.insert(name);
    }
    // Skeletons and animations reach the scene by names: one whose names find no node moves
    // nothing a viewer would see.
    const auto namesNode = [&](const char* name) { return name && nodeNames.count(name) > 0; };
    for (const kaSkeleton* skeleton : skeletons) {
        int64_t joints = 0;
        for (int j = 0; j < skeleton->getJointCount(); ++j) joints += namesNode(skeleton->getJointName(j));
        counts.joints += joints;
        counts.skins += joints > 0;
    }
    for (const kaAnimation* animation : animations) {
        int64_t channels = 0;
        for (int b = 0; b < animation->getBindingCount(); ++b) {
            const kaAnimationBinding* binding = animation->getBinding(b);
            if (!binding || !namesNode(binding->getName())) continue;
            channels += (binding->getTranslationKeyCount() > 0) + (binding->getRotationKeyCount() > 0) +
                        (binding->getScaleKeyCount() > 0) + (binding->getWeightKeyCount() > 0);
        }
        counts.channels += channels;
        counts.animations += channels > 0;
    }
    return counts;
}

kaSceneCounts kaCountWrittenScene(const std::string& path, kaSmartPointer<kaInfoList> infos, const kaFileCommit& files)
{
    if (path.empty()) return kaCountScene(infos);
    const kaFileCommit::ReadingPending pending(files);
    kaSceneCounts counts;
    if (kaSceneFormatOf(path) == kaSceneFormat::Kab) {
        counts = kaCountScene(infos);
    } else {
        const kaSceneCounts asRun = kaCountScene(infos);
        infos = nullptr;
        kaSmartPointer<kaInfoList> written;
        std::string error;
        bool read = false;
        {
            // What reading the file again would say tells nothing about the run.
            const kaWarningsSilenced silenced;
            read = kaImportGltf(path, written, error, kaGltfImportData::Counts);
        }
        if (read) {
            counts = kaCountScene(written);
        } else {
            kaWarn(path + ": cannot be read back, so the scene as run is counted as written: " + error);
            counts = asRun;
        }
    }
    counts.fileBytes = kaSceneFileBytes(path);
    return counts;
}

namespace {

// Collects the URIs of a glTF document's buffers and images as the document is read, without
// building it: a scene of many nodes is mostly text that this has no use for.
class kaReferencedUris : public nlohmann::json_sax<nlohmann::json> {
public:
    std::vector<std::string> uris;

    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool string(string_t& value) override
    {
        if (_path.size() == 3 && (_path[0] == "buffers" || _path[0] == "images") && _path[1] == InArray &&
            _path[2] == "uri")
            uris.push_back(value);
        return true;
    }
    bool start_object(std::size_t) override { return enter(""); }
    bool key(string_t& name) override
    {
        _path.back() = name;
        return true;
    }
    bool end_object() override { return leave(); }
    bool start_array(std::size_t) override { return enter(InArray); }
    bool end_array() override { return leave(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    static constexpr const char* InArray = "[]";
    // The key or "[]" of each open object or array, the document's own first.
    std::vector<std::string> _path;

    bool enter(const char* step)
    {
        _path.emplace_back(step);
        return true;
    }
    bool leave()
    {
        _path.pop_back();
        return true;
    }
};

} // namespace

int64_t kaSceneFileBytes(const std::string& path)
{
    const auto sizeOf = [](const std::filesystem::path& file) -> int64_t {
        std::error_code failure;
        const uintmax_t size = std::filesystem::file_size(kaFileCommit::readablePath(file.string()), failure);
        return failure ? 0 : static_cast<int64_t>(size);
    };
    int64_t bytes = sizeOf(path);
    if (bytes == 0 || kaSceneFormatOf(path) != kaSceneFormat::Gltf) return bytes;
    std::ifstream text(kaFileCommit::readablePath(path));
    kaReferencedUris referenced;
    if (!nlohmann::json::sax_parse(text, &referenced)) return bytes;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    for (const std::string& uri : referenced.uris)
        if (uri.rfind("data:", 0) != 0) bytes += sizeOf(folder / uri);
    return bytes;
}

std::vector<std::string> kaUnexplainedFalls(const kaSceneCounts& before, const kaSceneCounts& after,
                                            const std::vector<kaWarning>& kept)
{
    std::vector<std::string> falls;
    for (const kaSceneCountKey& key : kaSceneCountKeys) {
        const std::string name = key.name;
        if (name != kaCount::meshes && name != kaCount::animations && name != kaCount::skins &&
            name != kaCount::images)
            continue;
        const int64_t was = before.*key.member, is = after.*key.member;
        const bool explained = std::any_of(kept.begin(), kept.end(),
                                           [&](const kaWarning& warning) { return warning.loss && warning.count == name; });
        if (is < was && !explained)
            falls.push_back(kaFormat("%s %lld -> %lld", key.name, static_cast<long long>(was), static_cast<long long>(is)));
    }
    return falls;
}

} // namespace Lode::Io
