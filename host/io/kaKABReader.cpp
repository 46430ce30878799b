// Reading .kab files. Every length and count is checked against the bytes that remain before
// anything is allocated for it, so a damaged file costs at most memory in proportion to its
// size; every reference is checked against the object table and the class its field accepts.
#include "host/io/kaKABFile.h"
#include "host/io/kaKABFormat.h"

#include "host/core/kaFile.h"
#include "host/core/kaWalk.h"

#include <algorithm>
#include <cstring>

namespace Lode::Core::kab {

namespace {

// Large enough that the tables of a file take a few reads, small enough to stay in the cache
// while it is checksummed.
constexpr size_t WindowBytes = size_t(1) << 18;
// A block is copied in pieces of this size, with progress reported after each.
constexpr size_t CopyPieceBytes = size_t(1) << 23;

} // namespace

bool Input::load(size_t at, size_t bytes, std::string& why)
{
    if (at >= _windowAt && at + bytes <= _windowAt + _windowSize) return true;
    report(at);
    return fill(at, std::min(std::max(bytes, WindowBytes), _size - at), why);
}

bool Input::fill(size_t at, size_t bytes, std::string& why)
{
    if (_descriptor < 0) return true;
    if (_buffer.size() < bytes) _buffer.resize(bytes);
    _window = _buffer.data();
    _windowAt = at;
    _windowSize = 0;
    if (!kaReadFileAt(_descriptor, at, _buffer.data(), bytes, why)) return false;
    _windowSize = bytes;
    return true;
}

bool Input::copy(size_t at, void* destination, size_t bytes, std::string& why)
{
    auto* out = static_cast<uint8_t*>(destination);
    // What the window holds (all of it for bytes in memory), then the rest from the file.
    size_t done = 0;
    if (at >= _windowAt && at < _windowAt + _windowSize) {
        done = std::min(bytes, _windowAt + _windowSize - at);
        std::memcpy(out, pointer(at), done);
    }
    for (size_t piece; done < bytes; done += piece) {
        piece = std::min(CopyPieceBytes, bytes - done);
        if (!kaReadFileAt(_descriptor, at + done, out + done, piece, why)) return false;
        report(at + done + piece);
    }
    return true;
}

bool Input::checksum(size_t at, uint64_t& sum, std::string& why)
{
    Checksum checksum;
    for (size_t piece; at < _size; at += piece) {
        piece = std::min(WindowBytes, _size - at);
        if (!fill(at, piece, why)) return false;
        checksum.update(pointer(at), piece);
        _summed = at + piece;
        report(0);
    }
    sum = checksum.finish();
    return true;
}

namespace {

constexpr uint32_t NotInList = UINT32_MAX;

struct FileClass {
    kaMetaObject* meta = nullptr;
    std::vector<const kaMetaField*> fields;
};

// A reference to an external entry's object, set once the entries are resolved.
struct ExternalReference {
    kaObject* holder;
    const kaMetaField* field;
    uint32_t listIndex;  // NotInList for an object-reference field
    uint32_t entryIndex;
    size_t offset;
};

class Reader {
public:
    Reader(Input& input, const std::string& name, std::string& error)
        : _input(input), _size(input.size()), _name(name), _error(error)
    {
    }
    ~Reader();

    bool read(const std::string& folder, kaExternalReadContext& context, kaSmartPointer<kaDirectory>& directory);

private:
    bool fail(size_t offset, const std::string& what)
    {
        _error = _name + ": byte " + std::to_string(offset) + ": " + what;
        return false;
    }
    bool failToRead(const std::string& why)
    {
        _error = _name + ": cannot read the file: " + why;
        return false;
    }
    size_t remaining() const { return _size - _pos; }
    bool holds(size_t bytes, const char* what)
    {
        if (bytes <= remaining()) return true;
        return fail(_pos, std::string("the file ends inside ") + what + " (" + std::to_string(bytes) +
                              " bytes needed, " + std::to_string(remaining()) + " left)");
    }
    // Makes the next bytes readable with take; they must lie within the file.
    bool load(size_t bytes)
    {
        std::string why;
        return _input.load(_pos, bytes, why) || failToRead(why);
    }
    bool need(size_t bytes, const char* what) { return holds(bytes, what) && load(bytes); }
    template <class T> T take()
    {
        T value;
        std::memcpy(&value, _input.pointer(_pos), sizeof(T));
        _pos += sizeof(T);
        return value;
    }
    template <class T> bool get(T& value, const char* what)
    {
        if (!need(sizeof(T), what)) return false;
        value = take<T>();
        return true;
    }
    // A count of items that take at least itemSize bytes each; those bytes are loaded.
    bool getCount(uint32_t& count, size_t itemSize, const char* what);

    bool readHeader();
    bool readStrings();
    bool readClasses();
    bool readObjectTable();
    bool readBody(kaObject* object, const FileClass& fileClass);
    bool readField(kaObject* object, const kaMetaField* field);
    // target is null for a null reference and for one to an external entry's object (external
    // is then true; the reference is set once the entries are resolved).
    bool readReference(kaObject* holder, const kaMetaField* field, uint32_t listIndex, const kaMetaObject* accepted,
                       kaObject*& target, bool& external);
    bool checkClass(const kaObject* target, const kaMetaObject* accepted, const kaObject* holder,
                    const kaMetaField* field, size_t offset);
    bool resolveExternalEntries(const std::string& folder, kaExternalReadContext& context);
    // Objects that nothing in the file leads to would only leak (or keep each other alive).
    bool checkReachable(uint32_t root);

    Input& _input;
    size_t _size;
    size_t _pos = 0;
    const std::string& _name;
    std::string& _error;

    std::vector<std::string> _strings;
    std::vector<FileClass> _classes;
    std::vector<uint32_t> _objectClasses;
    size_t _objectTableAt = 0;
    std::vector<kaObject*> _objects;  // one reference each
    std::vector<ExternalReference> _externalReferences;
    std::vector<std::pair<kaExternalDirEntry*, size_t>> _externalEntries;  // with their body offsets
    bool _succeeded = false;
};

Reader::~Reader()
{
    // A refused file's objects may refer to each other in cycles; they go one by one.
    if (!_succeeded) kaBreakReferences(_objects);
    for (kaObject* object : _objects) kaObject::release(object);
}

bool Reader::getCount(uint32_t& count, size_t itemSize, const char* what)
{
    const size_t at = _pos;
    if (!get(count, what)) return false;
    if (count > remaining() / itemSize)
        return fail(at, std::string("the ") + what + " count " + std::to_string(count) +
                            " is more than the rest of the file can hold");
    return load(count * itemSize);
}

bool Reader::readHeader()
{
    if (_size < kaKABHeaderSize)
        return fail(_size, "the file ends inside the header (" + std::to_string(kaKABHeaderSize) + " bytes needed)");
    if (!load(kaKABHeaderSize)) return false;
    if (std::memcmp(_input.pointer(0), Magic, sizeof Magic) != 0) return fail(0, "not a .kab file (no magic number)");
    _pos = 4;
    const auto version = take<uint32_t>();
    if (version != kaKABFormatVersion)
        return fail(4, "format version " + std::to_string(version) + " is not supported (this build reads " +
                           std::to_string(kaKABFormatVersion) + ")");
    const auto payloadSize = take<uint64_t>();
    const auto checksum = take<uint64_t>();
    const size_t held = _size - kaKABHeaderSize;
    if (payloadSize != held)
        return fail(8, "the header announces " + std::to_string(payloadSize) + " bytes after it, the file has " +
                           std::to_string(held) + (payloadSize > held ? " (truncated)" : ""));
    uint64_t sum;
    std::string why;
    if (!_input.checksum(kaKABHeaderSize, sum, why)) return failToRead(why);
    if (sum != checksum) return fail(16, "the contents do not match the checksum (the file is damaged)");
    return true;
}

bool Reader::readStrings()
{
    uint32_t count;
    if (!getCount(count, sizeof(uint32_t), "string table")) return false;
    _strings.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t length;
        if (!get(length, "the string table") || !need(length, "a string")) return false;
        const char* text = reinterpret_cast<const char*>(_input.pointer(_pos));
        if (std::memchr(text, '\0', length)) return fail(_pos, "string " + std::to_string(i) + " holds a zero byte");
        _strings.emplace_back(text, length);
        _pos += length;
    }
    return true;
}

bool Reader::readClasses()
{
    uint32_t count;
    // A class takes at least its name and field count.
    if (!getCount(count, 2 * sizeof(uint32_t), "class table")) return false;
    _classes.resize(count);
    for (FileClass& fileClass : _classes) {
        const size_t at = _pos;
        uint32_t name, fieldCount;
        if (!get(name, "the class table")) return false;
        if (name >= _strings.size()) return fail(at, "class name " + std::to_string(name) + " is not a string");
        const std::string& className = _strings[name];
        fileClass.meta = kaMetaObject::findClass(className.c_str());
        if (!fileClass.meta) return fail(at, "unknown class '" + className + "'");
        if (!fileClass.meta->canCreateInstance()) return fail(at, "class '" + className + "' cannot be created");
        fileClass.fields = storedFields(fileClass.meta);
        const size_t countAt = _pos;
        // A field takes a name, a kind and a detail.
        if (!getCount(fieldCount, 9, "field")) return false;
        if (fieldCount != fileClass.fields.size())
            return fail(countAt, "class '" + className + "' has " + std::to_string(fieldCount) +
                                     " stored fields in the file but " + std::to_string(fileClass.fields.size()) +
                                     " in this build");
        for (uint32_t f = 0; f < fieldCount; ++f) {
            const size_t fieldAt = _pos;
            const uint32_t fieldName = take<uint32_t>();
            const uint8_t kind = take<uint8_t>();
            const uint32_t detail = take<uint32_t>();
            const kaMetaField* field = fileClass.fields[f];
            const uint8_t expectedKind = storedKindOf(field->getKind());
            uint32_t expectedDetail = 0;
            bool detailMatches = true;
            if (field->getKind() == kaFieldKind::FloatArray) {
                expectedDetail = static_cast<uint32_t>(static_cast<const kaFloatArrayMetaField*>(field)->getCount());
                detailMatches = detail == expectedDetail;
            } else if (field->getKind() == kaFieldKind::DataBlock) {
                const char* elementType = static_cast<const kaDataBlockMetaField*>(field)->getElementTypeName();
                detailMatches = detail < _strings.size() && _strings[detail] == elementType;
            } else {
                detailMatches = detail == 0;
            }
            if (fieldName >= _strings.size() || _strings[fieldName] != field->getName() || kind != expectedKind ||
                !detailMatches) {
                const std::string inFile = fieldName < _strings.size() ? "'" + _strings[fieldName] + "'" : "?";
                return fail(fieldAt, "class '" + className + "' differs from this build: stored field " +
                                         std::to_string(f) + " is " + inFile + " (" + storedKindName(kind) +
                                         ") in the file but '" + field->getName() + "' (" +
                                         storedKindName(expectedKind) + ") here");
            }
        }
    }
    return true;
}

bool Reader::readObjectTable()
{
    uint32_t count;
    _objectTableAt = _pos;
    if (!getCount(count, sizeof(uint32_t), "object table")) return false;
    _objectClasses.resize(count);
    for (uint32_t& classIndex : _objectClasses) {
        const size_t at = _pos;
        classIndex = take<uint32_t>();
        if (classIndex >= _classes.size())
            return fail(at, "class index " + std::to_string(classIndex) + " is out of range (" +
                                std::to_string(_classes.size()) + " classes)");
    }
    _objects.reserve(count);
    for (uint32_t classIndex : _objectClasses) _objects.push_back(_classes[classIndex].meta->createInstance(nullptr));
    return true;
}

bool Reader::checkClass(const kaObject* target, const kaMetaObject* accepted, const kaObject* holder,
                        const kaMetaField* field, size_t offset)
{
    if (!target || !accepted || target->isOfType(accepted)) return true;
    return fail(offset, std::string("field '") + field->getName() + "' of a " + holder->getMetaObject()->getName() +
                            " refers to a " + target->getMetaObject()->getName() + " where it takes a " +
                            accepted->getName());
}

bool Reader::readReference(kaObject* holder, const kaMetaField* field, uint32_t listIndex,
                           const kaMetaObject* accepted, kaObject*& target, bool& external)
{
    target = nullptr;
    external = false;
    const size_t at = _pos;
    uint32_t code;
    if (!get(code, "a reference")) return false;
    if (code == 0) return true;
    if (code & kaKABExternalReference) {
        const uint32_t entry = code & ~kaKABExternalReference;
        if (entry >= _objects.size() || !kaExternalDirEntry::dynamicCast(_objects[entry]))
            return fail(at, "external reference " + std::to_string(entry) + " does not name an external entry");
        _externalReferences.push_back({holder, field, listIndex, entry, at});
        external = true;
        return true;
    }
    if (code - 1 >= _objects.size())
        return fail(at, "reference to object " + std::to_string(code - 1) + " is out of range (" +
                            std::to_string(_objects.size()) + " objects)");
    target = _objects[code - 1];
    return checkClass(target, accepted, holder, field, at);
}

bool Reader::readField(kaObject* object, const kaMetaField* field)
{
    const size_t at = _pos;
    switch (field->getKind()) {
    case kaFieldKind::Bool: {
        uint8_t value;
        if (!get(value, "a bool")) return false;
        if (value > 1) return fail(at, "bool field '" + std::string(field->getName()) + "' holds " + std::to_string(value));
        static_cast<const kaBoolMetaField*>(field)->set(object, value != 0);
        return true;
    }
    case kaFieldKind::Enum: {
        int32_t value;
        if (!get(value, "an enum")) return false;
        static_cast<const kaEnumMetaField*>(field)->set(object, value);
        return true;
    }
    case kaFieldKind::Int: {
        int32_t value;
        if (!get(value, "an int")) return false;
        static_cast<const kaIntMetaField*>(field)->set(object, value);
        return true;
    }
    case kaFieldKind::UnsignedInt: {
        uint32_t value;
        if (!get(value, "an unsigned int")) return false;
        static_cast<const kaUnsignedIntMetaField*>(field)->set(object, value);
        return true;
    }
    case kaFieldKind::Float: {
        float value;
        if (!get(value, "a float")) return false;
        static_cast<const kaFloatMetaField*>(field)->set(object, value);
        return true;
    }
    case kaFieldKind::String: {
        uint32_t code;
        if (!get(code, "a string reference")) return false;
        if (code > _strings.size()) return fail(at, "string " + std::to_string(code - 1) + " is out of range");
        static_cast<const kaStringMetaField*>(field)->set(object, code ? _strings[code - 1].c_str() : nullptr);
        return true;
    }
    case kaFieldKind::ObjectRef: {
        auto* refField = static_cast<const kaObjectRefMetaField*>(field);
        kaObject* target;
        bool external;
        if (!readReference(object, field, NotInList, refField->getMetaObject(), target, external)) return false;
        if (!target && !external && refField->getConstruct())
            return fail(at, std::string("field '") + field->getName() + "' of a " + object->getMetaObject()->getName() +
                                " may not be null");
        refField->set(object, target);
        return true;
    }
    case kaFieldKind::FloatArray: {
        auto* floats = static_cast<const kaFloatArrayMetaField*>(field);
        const size_t bytes = floats->getCount() * sizeof(float);
        if (!need(bytes, "an inline float array")) return false;
        std::memcpy(floats->get(object), _input.pointer(_pos), bytes);
        _pos += bytes;
        return true;
    }
    case kaFieldKind::ObjectList: {
        uint32_t count;
        if (!getCount(count, sizeof(uint32_t), "list entry")) return false;
        auto* list = kaObjectList::dynamicCast(object);
        const kaMetaObject* accepted = list ? list->getElementMeta() : nullptr;
        const bool holdsReferences = !list || list->holdsReferences();
        if (list) list->removeAll();
        std::vector<kaObject*>& entries = static_cast<const kaObjectListMetaField*>(field)->get(object);
        entries.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            kaObject* target;
            bool external;
            if (!readReference(object, field, i, accepted, target, external)) return false;
            if (target && holdsReferences) target->addRef();
            entries.push_back(target);
        }
        return true;
    }
    case kaFieldKind::DataBlock: {
        auto* block = static_cast<const kaDataBlockMetaField*>(field);
        uint64_t bytes;
        if (!get(bytes, "a data block")) return false;
        if (bytes % block->getElementSize() != 0)
            return fail(at, "data block '" + std::string(field->getName()) + "' of " + std::to_string(bytes) +
                                " bytes is not a whole number of " + block->getElementTypeName() + " values");
        if (!holds(bytes, "a data block")) return false;
        std::string why;
        if (bytes && !_input.copy(_pos, block->resizeBytes(object, bytes), bytes, why)) return failToRead(why);
        _pos += bytes;
        return true;
    }
    }
    return fail(at, "field of an unknown kind");
}

bool Reader::readBody(kaObject* object, const FileClass& fileClass)
{
    for (const kaMetaField* field : fileClass.fields)
        if (!readField(object, field)) return false;
    return true;
}

// An entry's names as they stand in messages (a damaged file may hold null names).
std::string describe(const kaExternalDirEntry* entry)
{
    const char* file = entry->getDirectoryName();
    const char* name = entry->getEntryName();
    return std::string("external entry '") + (file ? file : "") + "' (entry '" + (name ? name : "") + "')";
}

bool Reader::resolveExternalEntries(const std::string& folder, kaExternalReadContext& context)
{
    for (auto& [entry, offset] : _externalEntries) {
        // A file in the working folder has the folder "", which would read as an entry made in memory.
        entry->setBaseFolder(folder.empty() ? "." : folder.c_str());
        std::string why;
        if (!entry->resolve(folder, context, why))
            return fail(offset, describe(entry) + ": " + why);
    }
    for (const ExternalReference& reference : _externalReferences) {
        auto* entry = static_cast<kaExternalDirEntry*>(_objects[reference.entryIndex]);
        kaObject* bound = entry->getBoundObject();
        if (!bound)
            return fail(reference.offset, describe(entry) + " is bound to no object");
        if (reference.listIndex == NotInList) {
            auto* refField = static_cast<const kaObjectRefMetaField*>(reference.field);
            if (!checkClass(bound, refField->getMetaObject(), reference.holder, reference.field, reference.offset))
                return false;
            refField->set(reference.holder, bound);
        } else {
            auto* list = kaObjectList::dynamicCast(reference.holder);
            if (!checkClass(bound, list ? list->getElementMeta() : nullptr, reference.holder, reference.field,
                            reference.offset))
                return false;
            if (!list || list->holdsReferences()) bound->addRef();
            static_cast<const kaObjectListMetaField*>(reference.field)->get(reference.holder)[reference.listIndex] = bound;
        }
    }
    return true;
}

bool Reader::checkReachable(uint32_t root)
{
    // The references to external entries' objects are not set yet: the walk stays inside the file.
    const uint32_t walk = kaWalkReachable({_objects[root]}, [](kaObject*) { return kaWalkStep::Into; });
    for (uint32_t i = 0; i < _objects.size(); ++i)
        if (!_objects[i]->isReached(walk))
            return fail(_objectTableAt + 4 + 4 * size_t(i), "object " + std::to_string(i) + " (a " +
                                                                 _objects[i]->getMetaObject()->getName() +
                                                                 ") cannot be reached from the directory");
    return true;
}

bool Reader::read(const std::string& folder, kaExternalReadContext& context, kaSmartPointer<kaDirectory>& directory)
{
    if (!readHeader() || !readStrings() || !readClasses() || !readObjectTable()) return false;

    const size_t rootAt = _pos;
    uint32_t rootCode;
    if (!get(rootCode, "the object table")) return false;
    if (rootCode == 0 || (rootCode & kaKABExternalReference) || rootCode - 1 >= _objects.size() ||
        !kaDirectory::dynamicCast(_objects[rootCode - 1]))
        return fail(rootAt, "the file's directory is not an object of the file");

    for (size_t i = 0; i < _objects.size(); ++i) {
        if (auto* entry = kaExternalDirEntry::dynamicCast(_objects[i])) _externalEntries.emplace_back(entry, _pos);
        if (!readBody(_objects[i], _classes[_objectClasses[i]])) return false;
    }
    if (_pos != _size) return fail(_pos, std::to_string(remaining()) + " bytes follow the last object");
    _input.report(_size);
    if (!checkReachable(rootCode - 1)) return false;

    if (!resolveExternalEntries(folder, context)) return false;
    for (kaObject* object : _objects) object->afterRead();
    directory = static_cast<kaDirectory*>(_objects[rootCode - 1]);
    _succeeded = true;
    return true;
}

} // namespace

bool readDirectory(Input& input, const std::string& name, const std::string& folder, kaExternalReadContext& context,
                   kaSmartPointer<kaDirectory>& directory, std::string& error)
{
    Reader reader(input, name, error);
    return reader.read(folder, context, directory);
}

} // namespace Lode::Core::kab
