#include "host/core/kaString.h"

#include <cstring>
#include <functional>
#include <new>
#include <string_view>
#include <vector>

namespace Lode::Core {

// One allocation per text: the header, then the text and its terminating zero.
struct kaStringRef::Entry {
    size_t hash;
    int32_t count;
    uint32_t length;
    char* text() { return reinterpret_cast<char*>(this + 1); }
};

namespace {

using Entry = kaStringRef::Entry;

// The texts of a scene run into the millions ("mesh_79999" for every renamed attribute), so the
// table is one array of slots probed in order: a slot keeps the text's hash beside its entry, so
// a probe past other texts, and every miss, stays within the array instead of visiting their
// entries. Removal moves later slots of the same run back, so no slot is ever a tombstone.
class InternTable {
public:
    size_t size() const { return _size; }

    Entry* intern(std::string_view text)
    {
        const size_t hash = std::hash<std::string_view>()(text);
        if (_slots.empty() || (_size + 1) * 2 > _slots.size()) grow();
        size_t at = hash & mask();
        for (; _slots[at].entry; at = (at + 1) & mask()) {
            Entry* entry = _slots[at].entry;
            if (_slots[at].hash == hash && entry->length == text.size() &&
                std::memcmp(entry->text(), text.data(), text.size()) == 0)
                return entry;
        }
        auto* entry = static_cast<Entry*>(::operator new(sizeof(Entry) + text.size() + 1));
        *entry = Entry{hash, 0, uint32_t(text.size())};
        std::memcpy(entry->text(), text.data(), text.size());
        entry->text()[text.size()] = '\0';
        _slots[at] = {hash, entry};
        ++_size;
        return entry;
    }

    void remove(Entry* entry)
    {
        size_t hole = entry->hash & mask();
        while (_slots[hole].entry != entry) hole = (hole + 1) & mask();
        // Each later slot of the run moves into the hole unless its own start lies after the hole
        // (cyclically), where moving it back would put it before the place its probe begins.
        for (size_t next = (hole + 1) & mask(); _slots[next].entry; next = (next + 1) & mask()) {
            const size_t home = _slots[next].hash & mask();
            if (((next - home) & mask()) >= ((next - hole) & mask())) {
                _slots[hole] = _slots[next];
                hole = next;
            }
        }
        _slots[hole] = {};
        --_size;
        ::operator delete(entry);
    }

private:
    struct Slot {
        size_t hash = 0;
        Entry* entry = nullptr;
    };

    size_t mask() const { return _slots.size() - 1; }

    void grow()
    {
        std::vector<Slot> old(_slots.empty() ? 64 : _slots.size() * 2);
        old.swap(_slots);
        for (const Slot& slot : old) {
            if (!slot.entry) continue;
            size_t at = slot.hash & mask();
            while (_slots[at].entry) at = (at + 1) & mask();
            _slots[at] = slot;
        }
    }

    std::vector<Slot> _slots; // a power of two long, at most half full
    size_t _size = 0;
};

InternTable& table()
{
    static InternTable* interned = new InternTable();
    return *interned;
}

} // namespace

kaStringRef::kaStringRef(const kaStringRef& other) : _entry(other._entry)
{
    if (_entry) ++_entry->count;
}

kaStringRef& kaStringRef::operator=(const kaStringRef& other)
{
    if (other._entry) ++other._entry->count;
    drop();
    _entry = other._entry;
    return *this;
}

kaStringRef& kaStringRef::operator=(kaStringRef&& other) noexcept
{
    if (this != &other) {
        drop();
        _entry = other._entry;
        other._entry = nullptr;
    }
    return *this;
}

void kaStringRef::assign(const char* text)
{
    Entry* entry = nullptr;
    if (text) {
        entry = table().intern(text);
        ++entry->count;
    }
    drop();
    _entry = entry;
}

void kaStringRef::drop()
{
    if (_entry && --_entry->count == 0) table().remove(_entry);
    _entry = nullptr;
}

const char* kaStringRef::c_str() const { return _entry ? _entry->text() : nullptr; }
size_t kaStringRef::length() const { return _entry ? _entry->length : 0; }
int32_t kaStringRef::getRefCount() const { return _entry ? _entry->count : 0; }
size_t kaStringRef::getInternedCount() { return table().size(); }

} // namespace Lode::Core
