// Fuzz target of the .kab reader.
//
// `make fuzz` runs it with libFuzzer from seeds that fuzz/kab_seeds.cpp writes; `make test` runs
// it over fuzz/regressions/kab_* with the plain driver.
//
// An input whose first byte is even is read as a whole file, which exercises the header
// checks; otherwise the rest of it is the payload behind a header with the right size and
// checksum, so that the fuzzer reaches the tables and objects instead of stopping at the checksum.
#include "host/core/kaWalk.h"
#include "host/io/kaKABFile.h"

#include <cstring>
#include <vector>

using namespace Lode::Core;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    std::vector<uint8_t> bytes;
    if (data[0] % 2 == 0) {
        bytes.assign(data + 1, data + size);
    } else {
        const uint64_t payload = size - 1;
        const uint64_t checksum = kaKABChecksum(data + 1, payload);
        bytes.resize(kaKABHeaderSize);
        std::memcpy(bytes.data(), "KAB\x1a", 4);
        std::memcpy(bytes.data() + 4, &kaKABFormatVersion, 4);
        std::memcpy(bytes.data() + 8, &payload, 8);
        std::memcpy(bytes.data() + 16, &checksum, 8);
        bytes.insert(bytes.end(), data + 1, data + size);
    }
    // External entries resolve in a folder that does not exist.
    auto file = kaSmartPointer<kaKABFile>::adopt(kaKABFile::_instantiate());
    if (file->readFromMemory(bytes.data(), bytes.size(), "/nonexistent-kab-fuzz/input.kab")) {
        // A file may describe objects that refer to each other in a cycle; take them apart.
        kaBreakReferences(kaCollectReachable({file->getDirectory()}));
    } else if (file->getError().rfind("/nonexistent-kab-fuzz/input.kab: ", 0) != 0) {
        __builtin_trap();  // every refusal names the file
    }
    return 0;
}
