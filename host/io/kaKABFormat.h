// What the .kab writer and reader share: the stored kinds of fields, the checksum and the two
// halves of the format. Used only inside host/io.
#pragma once

#include "host/io/kaDirectory.h"

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

namespace Lode::Core::kab {

// Blocks are copied to and from the file as they lie in memory.
static_assert(std::endian::native == std::endian::little, "the .kab reader and writer assume a little-endian host");

constexpr uint8_t Magic[4] = {'K', 'A', 'B', 0x1A};

// The kinds as stored: fixed numbers, independent of the order of kaFieldKind.
enum StoredKind : uint8_t {
    StoredBool = 1,
    StoredEnum = 2,
    StoredInt = 3,
    StoredUnsignedInt = 4,
    StoredFloat = 5,
    StoredString = 6,
    StoredObjectRef = 7,
    StoredFloatArray = 8,
    StoredObjectList = 9,
    StoredDataBlock = 10,
};

StoredKind storedKindOf(kaFieldKind kind);
const char* storedKindName(uint8_t kind);

// The fields of a class that files hold: every field that is not transient, in meta order.
std::vector<const kaMetaField*> storedFields(const kaMetaObject* meta);

// A 64-bit checksum (the xxHash64 construction) over bytes that may arrive in pieces.
class Checksum {
public:
    Checksum();
    void update(const uint8_t* data, size_t size);
    uint64_t finish() const;

private:
    uint64_t _lanes[4];
    uint8_t _pending[32];
    size_t _pendingSize = 0;
    uint64_t _total = 0;
};

// A written file in pieces: the header, the tables, and the object bodies with the data blocks
// in between them, so that blocks go from memory to the file without being copied.
struct WrittenFile {
    struct Block {
        size_t bodyOffset;  // where in the body the block belongs
        const uint8_t* data;
        size_t size;
    };
    uint8_t header[24] = {};
    std::vector<uint8_t> tables;
    std::vector<uint8_t> body;
    std::vector<Block> blocks;

    // Calls write(data, size) for every piece in file order; stops at the first false.
    template <class Write> bool forEachPiece(Write&& write) const
    {
        if (!write(header, sizeof header) || !write(tables.data(), tables.size())) return false;
        size_t done = 0;
        for (const Block& block : blocks) {
            if (!write(body.data() + done, block.bodyOffset - done) || !write(block.data, block.size)) return false;
            done = block.bodyOffset;
        }
        return write(body.data() + done, body.size() - done);
    }
    size_t totalSize() const;
};

// Serialises the directory and everything it refers to. False with a reason when an object
// cannot be written (its class cannot be created by name on reading).
bool writeDirectory(kaDirectory* directory, WrittenFile& file, std::string& error);

// Parses a whole file. Errors name the file and the byte offset. External entries are
// resolved relative to folder.
bool readDirectory(const uint8_t* data, size_t size, const std::string& name, const std::string& folder,
                   kaExternalReadContext& context, kaSmartPointer<kaDirectory>& directory, std::string& error);

} // namespace Lode::Core::kab
