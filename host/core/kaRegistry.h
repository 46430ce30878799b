// The host registry: numbered sections of text keys. The host gives each pass run its own
// section, filled from the script keys that are not reflected fields.
#pragma once

#include "host/core/kaStringObj.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace Lode::Core {

class kaRegistry : public kaObject {
    KA_DECLARE_CLASS(kaRegistry, kaObject)
public:
    // A new, empty section; its number.
    int addSection();
    int getSectionCount() const { return static_cast<int>(_sections.size()); }
    // Sets a key in a section (a later value for the same key replaces the earlier one).
    void setValue(int section, const char* key, const char* value);

    // True when the key is present in the section; value is then set to it, else to the
    // default (a null default leaves value untouched).
    bool getValue(int section, const char* key, kaSmartPointer<kaStringObj>& value, const char* defaultValue,
                  bool unused) const;
    // True when the key is present and reads as a number; value is then set to it, else to the
    // default.
    bool getValue(int section, const char* key, float& value, float defaultValue, bool unused) const;

    // The keys of a section in the order they were set.
    const std::vector<std::pair<std::string, std::string>>* getSection(int section) const;

private:
    const std::string* find(int section, const char* key) const;
    std::vector<std::vector<std::pair<std::string, std::string>>> _sections;
};

} // namespace Lode::Core
