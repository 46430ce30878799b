// The host registry: numbered sections of text keys. The host gives each pass run its own
// section, filled from the script keys that are not reflected fields. Every key a section is
// asked for is recorded, present or not, so that the host can point out script keys that no
// pass read (a misspelt key would otherwise leave a setting at its default without a word), and
// every value a typed read could not use (a malformed number would do the same).
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
    // True when the key is present; value is then set to the number it holds, else to the
    // default. A present value that is no number a float holds also gives the default, and is
    // recorded for getUnreadableKeys.
    bool getValue(int section, const char* key, float& value, float defaultValue, bool unused) const;

    // The keys of a section in the order they were set.
    const std::vector<std::pair<std::string, std::string>>* getSection(int section) const;
    // The keys a section was asked for through getValue, each once, in the order first asked.
    std::vector<std::string> getAskedKeys(int section) const;
    // The keys set in a section that getValue was never asked for, in the order they were set.
    std::vector<std::string> getUnreadKeys(int section) const;
    // The keys of a section whose value a typed getValue could not read, each once with why
    // ("'12m' is not a number"), in the order first asked.
    std::vector<std::pair<std::string, std::string>> getUnreadableKeys(int section) const;

private:
    const std::string* find(int section, const char* key) const;
    std::vector<std::vector<std::pair<std::string, std::string>>> _sections;
    // Asking is a read: const getValue records it.
    mutable std::vector<std::vector<std::string>> _askedKeys;
    mutable std::vector<std::vector<std::pair<std::string, std::string>>> _unreadableKeys;
};

} // namespace Lode::Core
