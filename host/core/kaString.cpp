#include "host/core/kaString.h"

#include <string_view>
#include <unordered_map>

namespace Lode::Core {

struct kaStringRef::Entry {
    std::string text;
    int32_t count = 0;
};

namespace {
// Keys view the entry's own text, so each text is stored once.
using InternTable = std::unordered_map<std::string_view, kaStringRef::Entry*>;
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
        auto found = table().find(std::string_view(text));
        if (found != table().end()) {
            entry = found->second;
        } else {
            entry = new Entry{text, 0};
            table().emplace(std::string_view(entry->text), entry);
        }
        ++entry->count;
    }
    drop();
    _entry = entry;
}

void kaStringRef::drop()
{
    if (_entry && --_entry->count == 0) {
        table().erase(std::string_view(_entry->text));
        delete _entry;
    }
    _entry = nullptr;
}

const char* kaStringRef::c_str() const { return _entry ? _entry->text.c_str() : nullptr; }
size_t kaStringRef::length() const { return _entry ? _entry->text.size() : 0; }
int32_t kaStringRef::getRefCount() const { return _entry ? _entry->count : 0; }
size_t kaStringRef::getInternedCount() { return table().size(); }

} // namespace Lode::Core
