// Fuzz target of the glTF importer: the input is a whole .gltf (JSON) or .glb file held in
// memory. External buffers and images are not read (no folder is given), so every byte the
// importer sees comes from the input.
//
// Build with libFuzzer (from the repository root):
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Wno-invalid-offsetof -I. \
//       fuzz/fuzz_gltf.cpp $(find host -name '*.cpp') -lpng -o fuzz_gltf
//   ./fuzz_gltf -max_len=65536 -close_fd_mask=2 CORPUS ../shared/assets/gltf/*/*.gl*
// (-close_fd_mask=2 silences the importer's warnings; crash reports still appear.)
// or, without clang, with g++ and the driver beside this file (runs the inputs given as files):
//   g++ -std=c++20 -g -O1 -fsanitize=address,undefined -Wno-invalid-offsetof -I. \
//       fuzz/fuzz_gltf.cpp fuzz/fuzz_driver.cpp $(find host -name '*.cpp') -lpng -o fuzz_gltf_driver
// The sample models (self-contained ones as they are) make a good seed corpus.
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
