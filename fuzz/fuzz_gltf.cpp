// Fuzz target of the glTF importer: the input is a whole .gltf (JSON) or .glb file held in
// memory. External buffers and images are not read (no folder is given), so every byte the
// importer sees comes from the input.
//
// The sample models make its seed corpus.
#include "host/io/kaGltf.h"

#include <string>

using namespace Lode::Core;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    kaSmartPointer<Lode::Sg::kaInfoList> infos;
    std::string error;
    if (!Lode::Io::kaImportGltfFromMemory(data, size, "input.glb", "", infos, error) &&
        error.rfind("input.glb: ", 0) != 0)
        __builtin_trap();  // every refusal names the file
    return 0;
}
