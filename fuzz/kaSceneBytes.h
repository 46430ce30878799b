// The byte language of the scene-shape fuzz target (fuzz_scene.cpp), shared with the tool that
// writes its seeds (scene_seeds.cpp).
//
// An input opens with five bytes: the first and the second pass of the pair it runs (positions in
// extension/kaPassTable.def, modulo the pass count), the settings of each (0: the defaults,
// otherwise a variant of the target's settings table, modulo) and flags. Then come operations,
// each an operation byte and its arguments; an input that ends early reads zeros. Every "parent"
// or "target" byte counts back from the most recent group or attribute set (0: the most recent),
// so that small values build deep and large values build wide; a "child" byte counts back over
// every node made so far. A node only ever becomes the child of a group made before it, so the
// graph never holds a cycle.
#pragma once

#include <cstdint>

namespace kaSceneBytes {

enum Flag : uint8_t {
    RemoveParentLists = 1,  // the scene reaches the passes after kaRemoveParentList
    AnimationDatabase = 2,  // an animation database whose skeleton names the joints follows the scene info
};

enum Op : uint8_t {
    // type name parent detail, then what the type reads:
    //   geometry: attribute (below); morph instance: attribute, base, sequence; morph instance 2:
    //   morphed attribute; lod: its detail % 5 ranges; transform: animated when detail is odd;
    //   joint: no blending matrix when detail is odd.
    Node = 0,
    // child parent: the child gains one more parent (a group may hold a child twice).
    Share = 1,
    // length type name parent: a chain of (length + 1) * 64 groups (type % 3: group, transform,
    // joint), each the only child of the one before; its last group is the most recent.
    Chain = 2,
    // parent: an empty child place.
    EmptyChild = 3,
    // target, then an attribute (below), appended to an attribute set or geometry node.
    Attr = 4,
    // target kind: a light for a light set (kind % 3: new, the previous light again, empty entry).
    Light = 5,
    // name keys: an animation binding with keys % 4 rotation and translation keys.
    Binding = 6,
    OpCount = 7,
};

enum NodeType : uint8_t {
    Group = 0, Transform, AttrSet, LightSet, Lod, Joint, Geometry, MorphInstance, MorphInstance2, NodeTypeCount,
};

// An attribute: kind, then what the kind reads.
//   geometry attr (first or current generation): vertex array, index count, primitive type,
//     primitive count, box (odd: a bounding box)
//   vertex array: format1 format2 count seed spread; format1 0xFF: none. format1 bit 0 no
//     positions, bit 1 normals, bit 2 colours, bits 3-5 blend weights, bits 6-7 texture sets;
//     format2 bits 0-3 blend indices (0: as many as weights), bits 4-5 point-sprite
//     coordinates, bit 7 the previous vertex array again (shared); count % 13 vertices; blend
//     indices spread over 0..spread; a seed % 8 of 7 puts NaN, infinity and -0 among the colours.
//   texture: width height format mode name levels palette (mode bit 2: the previous image again)
//   material: shininess
//   palette: count, then one byte per entry (% 4: 0 empty, 1 a matrix of no joint, else joint byte / 4)
//   morphed: geometry-attr kind (% 3: none, first, current generation, then a geometry attr),
//     data count % 3, per data: elements base-length target-count, target lengths
enum AttrKind : uint8_t {
    GeometryAttr1_5 = 0, GeometryAttr2, Texture, Material, Palette, Morphed, EmptyAttr, PreviousAttr, AttrKindCount,
};

// Names, chosen by a name byte modulo their count; the first stands for no name at all.
constexpr const char* kNames[] = {nullptr, "", "mesh", "child0", "arm_L", "arm_R", "mesh_1",
                                  "hip", "wall.diffuse.png", "x/y", "..", "G1", "G2"};
constexpr int kNameCount = sizeof kNames / sizeof kNames[0];

} // namespace kaSceneBytes
