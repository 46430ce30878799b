// Interned strings. Every kaStringRef holding the same text shares one entry, so names that
// repeat across a scene (thousands of "Bone01") cost one allocation, and comparing two
// references is comparing two pointers.
#pragma once

#include <cstdint>
#include <string>

namespace Lode::Core {

class kaStringRef {
public:
    kaStringRef() = default;
    kaStringRef(const char* text) { assign(text); }
    kaStringRef(const std::string& text) { assign(text.c_str()); }
    kaStringRef(const kaStringRef& other);
    kaStringRef(kaStringRef&& other) noexcept : _entry(other._entry) { other._entry = nullptr; }
    ~kaStringRef() { drop(); }

    kaStringRef& operator=(const kaStringRef& other);
    kaStringRef& operator=(kaStringRef&& other) noexcept;
    // Null drops the reference; the reference then reads as null.
    kaStringRef& operator=(const char* text)
    {
        assign(text);
        return *this;
    }

    // The text, or null when the reference holds none.
    const char* c_str() const;
    // The text, or "" when the reference holds none.
    const char* text() const { const char* t = c_str(); return t ? t : ""; }
    bool isNull() const { return _entry == nullptr; }
    bool isEmpty() const { return _entry == nullptr || *c_str() == '\0'; }
    size_t length() const;
    // Number of kaStringRefs (anywhere in the process) that hold this same text; 0 when null.
    int32_t getRefCount() const;

    bool operator==(const kaStringRef& other) const { return _entry == other._entry; }
    bool operator!=(const kaStringRef& other) const { return _entry != other._entry; }

    // Number of distinct texts interned now (for leak checks).
    static size_t getInternedCount();

    struct Entry;

private:
    void assign(const char* text);
    void drop();
    Entry* _entry = nullptr;
};

} // namespace Lode::Core
