// Writing .kab files: the objects reachable from the directory are numbered in depth-first
// pre-order (an object before what it refers to, references in field order), which together
// with strings and classes numbered by first use makes the bytes depend only on the graph.
#include "host/io/kaKABFile.h"
#include "host/io/kaKABFormat.h"

#include "host/core/kaWalk.h"

#include <cstring>
#include <unordered_map>
#include <unordered_set>

namespace Lode::Core::kab {

namespace {

void putU8(std::vector<uint8_t>& out, uint8_t value) { out.push_back(value); }

template <class T> void putRaw(std::vector<uint8_t>& out, const T& value)
{
    const size_t at = out.size();
    out.resize(at + sizeof(T));
    std::memcpy(out.data() + at, &value, sizeof(T));
}

void putU32(std::vector<uint8_t>& out, uint32_t value) { putRaw(out, value); }

class Writer {
public:
    bool write(kaDirectory* directory, WrittenFile& file, std::string& error);

private:
    bool collect(kaDirectory* directory, std::string& error);
    uint32_t stringIndex(const char* text);
    uint32_t classIndex(const kaMetaObject* meta);
    uint32_t referenceCode(const kaObject* target) const;
    void writeBody(const kaObject* object, WrittenFile& file);
    const std::vector<const kaMetaField*>& fieldsOf(const kaMetaObject* meta);

    std::vector<kaObject*> _objects;
    std::unordered_map<const kaObject*, uint32_t> _objectIndex;
    // Objects stored in other files, and the external entry each is written as.
    std::unordered_map<const kaObject*, const kaExternalDirEntry*> _boundTo;

    std::vector<std::string> _strings;
    std::unordered_map<std::string, uint32_t> _stringIndex;
    std::unordered_map<const kaMetaObject*, uint32_t> _classIndex;
    std::vector<uint8_t> _classTable;
    uint32_t _classCount = 0;
    std::unordered_map<const kaMetaObject*, std::vector<const kaMetaField*>> _fields;
};

const std::vector<const kaMetaField*>& Writer::fieldsOf(const kaMetaObject* meta)
{
    auto found = _fields.find(meta);
    if (found == _fields.end()) found = _fields.emplace(meta, storedFields(meta)).first;
    return found->second;
}

bool Writer::collect(kaDirectory* directory, std::string& error)
{
    // The objects of this file's own object entries are its content even when an external
    // entry (registered for another file) is bound to them.
    std::unordered_set<const kaObject*> ownObjects;
    for (int i = 0; i < directory->getCount(); ++i)
        if (auto* entry = kaObjectDirEntry::dynamicCast(directory->getShared(i))) ownObjects.insert(entry->getObject());
    for (int i = 0; i < directory->getCount(); ++i) {
        auto* entry = kaExternalDirEntry::dynamicCast(directory->getShared(i));
        if (entry && entry->getBoundObject() && !ownObjects.count(entry->getBoundObject()))
            _boundTo.emplace(entry->getBoundObject(), entry);
    }

    bool collected = true;
    kaWalkReachable({directory}, [&](kaObject* object) {
        if (_boundTo.count(object)) return kaWalkStep::Past;
        const kaMetaObject* meta = object->getMetaObject();
        if (!meta->canCreateInstance() || kaMetaObject::findClass(meta->getName()) != meta) {
            error = std::string("a ") + meta->getName() + " cannot be written: its class cannot be created by name";
            collected = false;
        } else if (_objects.size() >= kaKABExternalReference - 1) {
            error = "too many objects for one file";
            collected = false;
        }
        if (!collected) return kaWalkStep::Stop;
        _objectIndex.emplace(object, static_cast<uint32_t>(_objects.size()));
        _objects.push_back(object);
        return kaWalkStep::Into;
    });
    return collected;
}

uint32_t Writer::stringIndex(const char* text)
{
    auto found = _stringIndex.find(text);
    if (found != _stringIndex.end()) return found->second;
    const auto index = static_cast<uint32_t>(_strings.size());
    _strings.emplace_back(text);
    _stringIndex.emplace(_strings.back(), index);
    return index;
}

uint32_t Writer::classIndex(const kaMetaObject* meta)
{
    auto found = _classIndex.find(meta);
    if (found != _classIndex.end()) return found->second;
    const uint32_t index = _classCount++;
    _classIndex.emplace(meta, index);

    const std::vector<const kaMetaField*>& fields = fieldsOf(meta);
    putU32(_classTable, stringIndex(meta->getName()));
    putU32(_classTable, static_cast<uint32_t>(fields.size()));
    for (const kaMetaField* field : fields) {
        putU32(_classTable, stringIndex(field->getName()));
        putU8(_classTable, storedKindOf(field->getKind()));
        uint32_t detail = 0;
        if (field->getKind() == kaFieldKind::FloatArray)
            detail = static_cast<uint32_t>(static_cast<const kaFloatArrayMetaField*>(field)->getCount());
        else if (field->getKind() == kaFieldKind::DataBlock)
            detail = stringIndex(static_cast<const kaDataBlockMetaField*>(field)->getElementTypeName());
        putU32(_classTable, detail);
    }
    return index;
}

uint32_t Writer::referenceCode(const kaObject* target) const
{
    if (!target) return 0;
    auto bound = _boundTo.find(target);
    if (bound != _boundTo.end()) return kaKABExternalReference | _objectIndex.at(bound->second);
    return _objectIndex.at(target) + 1;
}

void Writer::writeBody(const kaObject* object, WrittenFile& file)
{
    std::vector<uint8_t>& out = file.body;
    for (const kaMetaField* field : fieldsOf(object->getMetaObject())) {
        switch (field->getKind()) {
        case kaFieldKind::Bool:
            putU8(out, static_cast<const kaBoolMetaField*>(field)->get(object) ? 1 : 0);
            break;
        case kaFieldKind::Enum:
            putRaw(out, static_cast<const kaEnumMetaField*>(field)->get(object));
            break;
        case kaFieldKind::Int:
            putRaw(out, static_cast<const kaIntMetaField*>(field)->get(object));
            break;
        case kaFieldKind::UnsignedInt:
            putRaw(out, static_cast<const kaUnsignedIntMetaField*>(field)->get(object));
            break;
        case kaFieldKind::Float:
            putRaw(out, static_cast<const kaFloatMetaField*>(field)->get(object));
            break;
        case kaFieldKind::String: {
            const char* text = static_cast<const kaStringMetaField*>(field)->get(object);
            putU32(out, text ? stringIndex(text) + 1 : 0);
            break;
        }
        case kaFieldKind::ObjectRef:
            putU32(out, referenceCode(static_cast<const kaObjectRefMetaField*>(field)->get(object)));
            break;
        case kaFieldKind::FloatArray: {
            auto* floats = static_cast<const kaFloatArrayMetaField*>(field);
            const size_t at = out.size();
            out.resize(at + floats->getCount() * sizeof(float));
            std::memcpy(out.data() + at, floats->get(object), floats->getCount() * sizeof(float));
            break;
        }
        case kaFieldKind::ObjectList: {
            const auto& entries = static_cast<const kaObjectListMetaField*>(field)->get(object);
            putU32(out, static_cast<uint32_t>(entries.size()));
            for (const kaObject* entry : entries) putU32(out, referenceCode(entry));
            break;
        }
        case kaFieldKind::DataBlock: {
            auto* block = static_cast<const kaDataBlockMetaField*>(field);
            const uint64_t bytes = block->getByteSize(object);
            putRaw(out, bytes);
            if (bytes) file.blocks.push_back({out.size(), static_cast<const uint8_t*>(block->getBytes(object)), bytes});
            break;
        }
        }
    }
}

bool Writer::write(kaDirectory* directory, WrittenFile& file, std::string& error)
{
    if (!collect(directory, error)) return false;

    std::vector<uint8_t> objectTable;
    putU32(objectTable, static_cast<uint32_t>(_objects.size()));
    for (const kaObject* object : _objects) putU32(objectTable, classIndex(object->getMetaObject()));
    putU32(objectTable, referenceCode(directory));
    for (const kaObject* object : _objects) writeBody(object, file);

    std::vector<uint8_t>& tables = file.tables;
    putU32(tables, static_cast<uint32_t>(_strings.size()));
    for (const std::string& text : _strings) {
        putU32(tables, static_cast<uint32_t>(text.size()));
        tables.insert(tables.end(), text.begin(), text.end());
    }
    putU32(tables, _classCount);
    tables.insert(tables.end(), _classTable.begin(), _classTable.end());
    tables.insert(tables.end(), objectTable.begin(), objectTable.end());

    const uint64_t payloadSize = file.totalSize() - kaKABHeaderSize;
    Checksum checksum;
    bool first = true;
    file.forEachPiece([&](const uint8_t* data, size_t size) {
        if (!first) checksum.update(data, size);
        first = false;
        return true;
    });
    const uint64_t sum = checksum.finish();
    std::memcpy(file.header, Magic, 4);
    std::memcpy(file.header + 4, &kaKABFormatVersion, 4);
    std::memcpy(file.header + 8, &payloadSize, 8);
    std::memcpy(file.header + 16, &sum, 8);
    return true;
}

} // namespace

bool writeDirectory(kaDirectory* directory, WrittenFile& file, std::string& error)
{
    Writer writer;
    return writer.write(directory, file, error);
}

size_t WrittenFile::totalSize() const
{
    size_t total = sizeof header + tables.size() + body.size();
    for (const Block& block : blocks) total += block.size;
    return total;
}

} // namespace Lode::Core::kab
