// Fuzz target of the registry as passes read it: a script's keys fill one section per pass,
// then every key is read back as text and as a number, as the mipmap and level-of-detail passes
// read theirs ("minFilter", "directory%d", "range%d", ...). A key that was set must be found.
#include "host/core/kaRegistry.h"
#include "tools/kaopt/kaScript.h"

#include <string>

using namespace Lode::Core;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Lode::Tools::kaScript script;
    std::string error;
    if (!Lode::Tools::kaParseScript("fuzz.ini", std::string(reinterpret_cast<const char*>(data), size), script, error))
        return 0;
    auto registry = kaSmartPointer<kaRegistry>::adopt(kaRegistry::_instantiate());
    for (const auto& pass : script.passes) {
        const int section = registry->addSection();
        for (const auto& setting : pass.settings) registry->setValue(section, setting.key.c_str(), setting.value.c_str());
        for (const auto& setting : pass.settings) {
            kaSmartPointer<kaStringObj> text;
            float number = 0.0f;
            if (!registry->getValue(section, setting.key.c_str(), text, "", false)) __builtin_trap();
            registry->getValue(section, setting.key.c_str(), number, 0.0f, false);
        }
        // Every key was just read: none may be reported as unread.
        if (!registry->getUnreadKeys(section).empty()) __builtin_trap();
        for (int level = 0; level < 4; ++level) {
            kaSmartPointer<kaStringObj> directory;
            float range = 0.0f;
            registry->getValue(section, ("directory" + std::to_string(level)).c_str(), directory, nullptr, false);
            registry->getValue(section, ("range" + std::to_string(level)).c_str(), range, 0.0f, false);
        }
    }
    return 0;
}
