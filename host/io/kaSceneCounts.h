// The ledger of a run: what a viewer would show of a scene, counted the same way for every
// format, so that a scene as read and as written can be compared count by count.
#pragma once

#include "host/core/kaFileCommit.h"
#include "host/core/kaWarnings.h"
#include "host/sg/kaInfo.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Lode::Io {

struct kaSceneCounts {
    int64_t nodes = 0;         // scene-graph nodes, each place a shared node is reached counted
    int64_t meshes = 0;        // geometry nodes that draw primitives, counted as nodes are
    int64_t vertices = 0;      // of every vertex array, each array once
    int64_t primitives = 0;    // of every geometry attribute, each once
    int64_t skins = 0;         // skeletons with a joint that names a node of the scene
    int64_t joints = 0;        // their joints that name one
    int64_t animations = 0;    // animations with a channel that drives a node of the scene
    int64_t channels = 0;      // keyed translations, rotations, scales and morph weights of such bindings
    int64_t morphTargets = 0;  // of every morph base and morphed geometry
    int64_t materials = 0;
    int64_t textures = 0;      // texture attributes
    int64_t images = 0;        // the first level of each texture's images, each image once
    int64_t imageBytes = 0;    // their pixel bytes
    int64_t lights = 0;
    int64_t cameras = 0;
    int64_t fileBytes = 0;     // the scene file and the files it refers to (kaSceneFileBytes)
};

// The names of the counts in reports. A loss warning names the count it lowers by these.
namespace kaCount {
inline constexpr char meshes[] = "meshes";
inline constexpr char animations[] = "animations";
inline constexpr char skins[] = "skins";
inline constexpr char images[] = "images";
} // namespace kaCount

struct kaSceneCountKey {
    const char* name;
    int64_t kaSceneCounts::*member;
};
// Every count with its name, in report order.
extern const std::vector<kaSceneCountKey> kaSceneCountKeys;

// Counts the scene of infos (the scene graphs of its scene infos and what its infos hold) in
// one walk over reflected references; fileBytes is left at 0.
kaSceneCounts kaCountScene(Lode::Sg::kaInfoList* infos);

// Counts the scene as it was written to path, its files still pending in files: a .kab file
// keeps everything it is given, so infos are counted; a glTF file is read back, since what glTF
// cannot carry is dropped on the way. Without a path, infos are counted. fileBytes is set.
// Takes infos over and lets go of them before reading back, so that a caller that holds the
// scene nowhere else does not hold the engine's arrays twice.
kaSceneCounts kaCountWrittenScene(const std::string& path, Lode::Core::kaSmartPointer<Lode::Sg::kaInfoList> infos,
                                  const Lode::Core::kaFileCommit& files);

// The bytes a scene file takes: the file and, for a .gltf, the buffer and image files it names
// by relative URI; 0 when there is no such file. Files a run has written but not yet committed
// count with their pending content.
int64_t kaSceneFileBytes(const std::string& path);

// A fall from before to after of meshes, animations, skins or images that no kept loss names:
// one text per count ("animations 3 -> 0"). Passes and files that drop such things say so; a
// fall nothing explained is a loss of its own.
std::vector<std::string> kaUnexplainedFalls(const kaSceneCounts& before, const kaSceneCounts& after,
                                            const std::vector<Lode::Core::kaWarning>& kept);

} // namespace Lode::Io
