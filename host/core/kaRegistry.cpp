#include "host/core/kaRegistry.h"

#include "host/core/kaText.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace Lode::Core {

KA_IMPLEMENT_CLASS(kaRegistry)

int kaRegistry::addSection()
{
    _sections.emplace_back();
    return static_cast<int>(_sections.size()) - 1;
}

void kaRegistry::setValue(int section, const char* key, const char* value)
{
    while (section >= getSectionCount()) addSection();
    for (auto& entry : _sections[section])
        if (entry.first == key) {
            entry.second = value;
            return;
        }
    _sections[section].emplace_back(key, value);
}

const std::vector<std::pair<std::string, std::string>>* kaRegistry::getSection(int section) const
{
    return section >= 0 && section < getSectionCount() ? &_sections[section] : nullptr;
}

std::vector<std::string> kaRegistry::getAskedKeys(int section) const
{
    return section >= 0 && section < static_cast<int>(_askedKeys.size()) ? _askedKeys[section]
                                                                          : std::vector<std::string>{};
}

std::vector<std::string> kaRegistry::getUnreadKeys(int section) const
{
    std::vector<std::string> unread;
    const auto* keys = getSection(section);
    if (!keys) return unread;
    const std::vector<std::string> asked = getAskedKeys(section);
    for (const auto& entry : *keys)
        if (std::find(asked.begin(), asked.end(), entry.first) == asked.end()) unread.push_back(entry.first);
    return unread;
}

std::vector<std::pair<std::string, std::string>> kaRegistry::getUnreadableKeys(int section) const
{
    return section >= 0 && section < static_cast<int>(_unreadableKeys.size())
               ? _unreadableKeys[section]
               : std::vector<std::pair<std::string, std::string>>{};
}

const std::string* kaRegistry::find(int section, const char* key) const
{
    if (key && getSection(section)) {
        if (section >= static_cast<int>(_askedKeys.size())) _askedKeys.resize(section + 1);
        std::vector<std::string>& asked = _askedKeys[section];
        if (std::find(asked.begin(), asked.end(), key) == asked.end()) asked.emplace_back(key);
    }
    const auto* keys = getSection(section);
    if (!keys || !key) return nullptr;
    for (const auto& entry : *keys)
        if (entry.first == key) return &entry.second;
    return nullptr;
}

bool kaRegistry::getValue(int section, const char* key, kaSmartPointer<kaStringObj>& value, const char* defaultValue,
                          bool) const
{
    const std::string* found = find(section, key);
    const char* text = found ? found->c_str() : defaultValue;
    if (text) {
        if (!value) value = kaSmartPointer<kaStringObj>::adopt(kaStringObj::_instantiate());
        value->set(text);
    }
    return found != nullptr;
}

bool kaRegistry::getValue(int section, const char* key, float& value, float defaultValue, bool) const
{
    value = defaultValue;
    const std::string* found = find(section, key);
    if (!found) return false;
    const std::string text = kaTrim(*found);
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    const char* problem = nullptr;
    if (text.empty() || *end != '\0')
        problem = "is not a number";
    else if (std::isfinite(parsed) && !std::isfinite(static_cast<float>(parsed)))
        problem = "is too large for a float";
    if (!problem) {
        value = static_cast<float>(parsed);
        return true;
    }
    if (section >= static_cast<int>(_unreadableKeys.size())) _unreadableKeys.resize(section + 1);
    auto& unreadable = _unreadableKeys[section];
    if (std::none_of(unreadable.begin(), unreadable.end(), [&](const auto& entry) { return entry.first == key; }))
        unreadable.emplace_back(key, "'" + *found + "' " + problem);
    return true;
}

} // namespace Lode::Core
