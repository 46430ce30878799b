// What the .kab writer and reader share: the stored kinds of fields, the checksum and the two
// halves of the format. Used only inside host/io.
#pragma once

#include "host/io/kaDirectory.h"
#include "host/utils/kaProgress.h"

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

// The bytes a file is parsed from: a whole file held in memory, or an open file read a window
// at a time, so that a file's data blocks go from the file straight into their arrays and the
// file's bytes are never all held at once.
class Input {
public:
    Input(const uint8_t* data, size_t size) : _window(data), _windowSize(size), _size(size) {}
    // descriptor stays open and owned by the caller; size is the file's size when opened.
    Input(int descriptor, size_t size) : _descriptor(descriptor), _size(size) {}

    size_t size() const { return _size; }
    // Makes [at, at + bytes) readable at pointer(at), which stays valid until the next call.
    // bytes must lie within the file. False with the system's reason.
    bool load(size_t at, size_t bytes, std::string& why);
    const uint8_t* pointer(size_t at) const { return _window + (at - _windowAt); }
    // Copies [at, at + bytes) to destination.
    bool copy(size_t at, void* destination, size_t bytes, std::string& why);
    // The checksum of [at, size()).
    bool checksum(size_t at, uint64_t& sum, std::string& why);
    // Reports progress with the bytes before parsed done: each byte counts twice, checksummed
    // and parsed.
    void report(size_t parsed) const { kaProgress::report(_summed + parsed, 2 * uint64_t(_size)); }

private:
    // Reads [at, at + bytes) of an open file into the window.
    bool fill(size_t at, size_t bytes, std::string& why);

    const uint8_t* _window = nullptr;
    size_t _windowAt = 0;
    size_t _windowSize = 0;
    int _descriptor = -1;
    std::vector<uint8_t> _buffer; // the window of an open file
    size_t _size;
    size_t _summed = 0; // the bytes checksummed
};

// Parses a whole file. Errors name the file and the byte offset. External entries are
// resolved relative to folder.
bool readDirectory(Input& input, const std::string& name, const std::string& folder, kaExternalReadContext& context,
                   kaSmartPointer<kaDirectory>& directory, std::string& error);

} // namespace Lode::Core::kab
