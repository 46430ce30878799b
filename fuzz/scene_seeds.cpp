// Writes the seeds of the scene-shape fuzz target: `scene_seeds DIR` (fuzz/seeds/scene holds its
// output). Each seed is a scene shape that once broke a pass, or that a pass is easy to get wrong
// on, written in the byte language of kaSceneBytes.h.
#include "extension/kaPassNames.h"
#include "fuzz/kaSceneBytes.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

namespace sb = kaSceneBytes;

namespace {

const auto& kPasses = Lode::kaPassNames;

template <class List> uint8_t indexOf(const List& list, const char* wanted)
{
    for (size_t i = 0; i < std::size(list); ++i)
        if (list[i] && std::strcmp(list[i], wanted) == 0) return uint8_t(i);
    std::fprintf(stderr, "scene_seeds: unknown name %s\n", wanted);
    std::exit(2);
}

class kaSeed {
public:
    kaSeed(const char* first, const char* second, uint8_t flags = 0, uint8_t firstSettings = 0, uint8_t secondSettings = 0)
        : bytes{indexOf(kPasses, first), indexOf(kPasses, second), firstSettings, secondSettings, flags}
    {
    }
    static uint8_t name(const char* text) { return text ? indexOf(sb::kNames, text) : 0; }

    // A node of a type that reads nothing more; parent counts back over the groups.
    kaSeed& node(sb::NodeType type, const char* text, uint8_t parent, uint8_t detail = 0)
    {
        return add({sb::Node, type, name(text), parent, detail});
    }
    // Positions and normals, the vertex count, blend indices spread over 0..spread.
    kaSeed& vertices(uint8_t count, uint8_t weights = 0, uint8_t spread = 0) { return add({uint8_t(2 | weights << 3), 0, count, 1, spread}); }
    kaSeed& noVertices() { return add({0xFF, 0, 0, 0, 0}); }
    // A first-generation geometry attribute over vertices given next: three indices, one triangle, a box.
    kaSeed& geometryAttr(const char* text = "mesh") { return add({sb::GeometryAttr1_5, name(text)}); }
    kaSeed& drawn() { return add({3, 3, 1, 1}); }
    // A geometry node holding one triangle.
    kaSeed& geometry(const char* text, uint8_t parent, uint8_t weights = 0, uint8_t spread = 0)
    {
        return node(sb::Geometry, text, parent).geometryAttr().vertices(3, weights, spread).drawn();
    }
    kaSeed& attr(uint8_t target) { return add({sb::Attr, target}); }
    kaSeed& palette(std::initializer_list<uint8_t> entries)
    {
        add({sb::Palette, name("hip"), uint8_t(entries.size())});
        return add(entries);
    }
    kaSeed& add(std::initializer_list<uint8_t> more)
    {
        bytes.insert(bytes.end(), more);
        return *this;
    }

    std::vector<uint8_t> bytes;
};

std::vector<std::pair<const char*, kaSeed>> seeds()
{
    const auto name = kaSeed::name;
    std::vector<std::pair<const char*, kaSeed>> all;
    // root -> G1 -> "mesh"; root -> G2 -> "mesh" -> "child0": the second "mesh" is replaced by the
    // first while its child must live on.
    all.push_back({"instance_by_name", kaSeed("kaInstanceGeometriesByName", "kaExportGeometry")
                                           .node(sb::Group, "G1", 0)
                                           .geometry("mesh", 0)
                                           .node(sb::Group, "G2", 2)
                                           .geometry("mesh", 0)
                                           .geometry("child0", 0)});
    // Replacing passes after the parent lists are gone: a morph instance to convert and geometry
    // to put under a level of detail, each under two groups.
    for (auto [seedName, first, second] : {std::tuple{"no_parent_lists_morph", "kaConvertMorphInstance", "kaCreateLod"},
                                           std::tuple{"no_parent_lists_lod", "kaCreateLod", "kaConvertMorphInstance"}}) {
        kaSeed seed(first, second, sb::RemoveParentLists);
        seed.node(sb::Group, "G1", 0).node(sb::Group, "G2", 1);
        // A base over the drawn vertices with one target on four of them, and a sequence.
        seed.node(sb::MorphInstance, "mesh", 0).add({name("mesh")}).vertices(4).drawn().add({1, 1, 4, 4, 16, 17, 18, 19, 1, 2, name("hip")});
        seed.add({sb::Share, 0, 1}).geometry("child0", 1).add({sb::Share, 0, 2});
        all.push_back({seedName, seed});
    }
    // 10,240 nested groups, then 64 nested joints with skinned geometry at the bottom whose
    // palette names joints along the chain, and 320 more groups below that geometry.
    all.push_back({"deep_chain", kaSeed("kaCombineVertexBlendMatrixListAttrs", "kaReduceBlendWeights", 0, 0, 1)
                                     .add({sb::Chain, 159, 0, name("G1"), 0})
                                     .add({sb::Chain, 0, 2, name("hip"), 0})
                                     .geometry("mesh", 0, 4, 6)
                                     .attr(0)
                                     .palette({2, 6, 10, 14})
                                     .add({sb::Chain, 4, 0, 0, 0})});
    // One geometry node under several parents, twice under one of them, beside empty child
    // places; light sets with shared and empty lights; a level of detail with more ranges than children.
    all.push_back({"several_parents", kaSeed("kaCollectLight", "kaNameUnique")
                                          .node(sb::LightSet, "G1", 0)
                                          .add({sb::Light, 0, 0, name("hip"), 1, sb::Light, 0, 1, sb::Light, 0, 2})
                                          .node(sb::Lod, "", 1, 3)
                                          .node(sb::Transform, "G2", 2, 1)
                                          .geometry("mesh", 0)
                                          .add({sb::Share, 0, 1, sb::Share, 0, 1, sb::Share, 0, 2})
                                          .add({sb::EmptyChild, 1, sb::EmptyChild, 0})
                                          .node(sb::LightSet, "", 4)
                                          .add({sb::Light, 0, 1})});
    // Skinned geometry whose blend indices run past its palette, a palette with an empty entry
    // and a matrix of no joint, an empty palette, a joint without a blending matrix, two joint
    // hierarchies and bindings of left and right joints.
    all.push_back({"odd_palettes", kaSeed("kaCombineVertexBlendMatrixListAttrs", "kaGeometryStatistics",
                                          sb::AnimationDatabase)
                                       .node(sb::Joint, "hip", 0)
                                       .node(sb::Joint, "arm_L", 0)
                                       .node(sb::Joint, "arm_R", 1)
                                       .geometry("mesh", 0, 4, 200)
                                       .attr(0)
                                       .palette({2, 0, 1, 6})
                                       .geometry("mesh_1", 2, 2, 3)
                                       .attr(0)
                                       .palette({})
                                       .node(sb::Joint, "hip", 5, 1)
                                       .geometry("child0", 0, 3, 9)
                                       .attr(0)
                                       .palette({2, 2, 6})
                                       .add({sb::Binding, name("arm_L"), 2, 2, sb::Binding, name("arm_R"), 3, 3})});
    // Textures: a palettised image with too few palette entries and two more levels, one image in
    // two textures, an image without pixels, names with dots and slashes.
    all.push_back({"textures", kaSeed("kaUseMipmap", "kaImageExternal", 0, 1, 0)
                                   .node(sb::AttrSet, "G1", 0)
                                   .attr(0).add({sb::Texture, name("wall.diffuse.png"), 1, 4, 3, 3, name("wall.diffuse.png"), 2, 2,
                                                 2, 2, 7, name("x/y"), 1, 1, 5, name("..")})
                                   .attr(0).add({sb::Texture, name(""), 5, 1, 0, 4, 7, name("wall.diffuse.png")})
                                   .attr(0).add({sb::Texture, name("mesh"), 0, 0, 0, 0, 0, 0})
                                   .geometry("mesh", 0)});
    // Morph instances of both generations: targets past the vertices and before them, a missing
    // base and vertex array, morph data of uneven lengths.
    all.push_back({"morphs", kaSeed("kaConvertMorphInstance", "kaGeometryStatistics")
                                 .node(sb::MorphInstance, "mesh", 0).add({name("mesh")}).vertices(3).drawn()
                                 .add({2, 2, 0, 5, 3, 0, 2, 2, 3, 16, 56, 18, 1, 0, 4, 15, 17, 200, 16, 0, 3, name("hip")})
                                 .node(sb::MorphInstance, "", 0).add({name("")}).noVertices().drawn().add({0, 0})
                                 .node(sb::MorphInstance2, "mesh", 0).add({name("mesh"), 1, name("mesh")}).vertices(4).drawn()
                                 .add({2, 4, 3, 2, 4, 9, 0, 5, 0, 2, 3})});
    // Geometry without vertex arrays, without names, with every vertex component and odd colours,
    // one vertex array drawn by both generations of attribute, an empty attribute place and one
    // attribute twice.
    all.push_back({"missing_arrays", kaSeed("kaConvertGeometryAttr", "kaRemoveVertexComponent", 0, 0, 1)
                                         .node(sb::Geometry, nullptr, 0).geometryAttr("").noVertices().drawn()
                                         .node(sb::Geometry, "", 1).add({sb::GeometryAttr2, 0, 0xFE, 0x31, 5, 7, 3}).drawn()
                                         .attr(0).add({sb::GeometryAttr1_5, 0, 0, 0x80, 0, 0, 0}).drawn()
                                         .attr(1).add({sb::EmptyAttr, sb::Attr, 0, sb::PreviousAttr})});
    return all;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: scene_seeds DIR\n");
        return 2;
    }
    for (const auto& [name, seed] : seeds()) {
        std::ofstream out(std::string(argv[1]) + "/" + name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(seed.bytes.data()), std::streamsize(seed.bytes.size()));
        if (!out) {
            std::fprintf(stderr, "scene_seeds: cannot write %s/%s\n", argv[1], name);
            return 1;
        }
    }
    return 0;
}
