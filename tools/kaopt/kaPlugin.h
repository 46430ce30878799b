// Loading the pass library: dlopen, createLibraryObject, and its register function.
#pragma once

#include "host/core/kaLibrary.h"

#include <string>

namespace Lode::Tools {

// The running kaopt binary, absolute; empty when the system does not say.
std::string kaSelfPath();
// The plug-in beside the running kaopt binary.
std::string kaDefaultPluginPath();

// The plug-in's reference text for one of its pass classes (kaPassDocumentation: behaviour,
// registry keys, messages, losses), null for a class it has none for.
using kaPassDocumentationFunction = const char* (*)(const char* className);

// Loads the plug-in at path, obtains its library object and runs its register function once.
// documentation is the plug-in's kaPassDocumentation, null when it exports none. On failure
// returns false with the loader's reason in error. The library stays loaded for the life of the
// process (its classes stay registered).
bool kaLoadPlugin(const std::string& path, Core::kaSmartPointer<Core::kaLibrary>& library,
                  kaPassDocumentationFunction& documentation, std::string& error);

} // namespace Lode::Tools
