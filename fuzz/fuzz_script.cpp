// Fuzz target of the optimization-script parser.
#include "tools/kaopt/kaScript.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Lode::Tools::kaScript script;
    std::string error;
    std::string text(reinterpret_cast<const char*>(data), size);
    if (Lode::Tools::kaParseScript("fuzz.ini", text, script, error)) {
        // A parsed script names a class in every section and a key in every setting.
        for (const auto& pass : script.passes) {
            if (pass.className.empty()) __builtin_trap();
            for (const auto& setting : pass.settings)
                if (setting.key.empty()) __builtin_trap();
        }
    } else if (error.rfind("fuzz.ini:", 0) != 0) {
        __builtin_trap();
    }
    return 0;
}
