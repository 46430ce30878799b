#include "tools/kaopt/kaPlugin.h"

#include "host/core/kaFileCommit.h"

#include <dlfcn.h>
#include <filesystem>

namespace Lode::Tools {

std::string kaSelfPath()
{
    std::error_code failure;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", failure);
    return failure ? std::string() : self.string();
}

std::string kaDefaultPluginPath()
{
    const std::string self = kaSelfPath();
    std::filesystem::path folder =
        self.empty() ? std::filesystem::current_path() : std::filesystem::path(self).parent_path();
    return (folder / "libKAOptExtension.so").string();
}

bool kaLoadPlugin(const std::string& path, Core::kaSmartPointer<Core::kaLibrary>& library,
                  kaPassDocumentationFunction& documentation, std::string& error)
{
    // A bare file name would make dlopen search the system paths instead of opening this file.
    std::string openPath = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = dlopen(openPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* reason = dlerror();
        error = "cannot load plug-in " + path + ": " + (reason ? reason : "unknown reason");
        return false;
    }
    // The passes' code is an input of every run as much as the scene is.
    Core::kaFileCommit::noteInput(path);
    using CreateLibraryObject = void (*)(Core::kaSmartPointer<Core::kaLibrary>*);
    dlerror();
    auto create = reinterpret_cast<CreateLibraryObject>(dlsym(handle, "createLibraryObject"));
    if (!create) {
        const char* reason = dlerror();
        error = "plug-in " + path + " has no createLibraryObject: " + (reason ? reason : "symbol is null");
        return false;
    }
    // A plug-in of passes without reference texts is still a plug-in.
    documentation = reinterpret_cast<kaPassDocumentationFunction>(dlsym(handle, "kaPassDocumentation"));
    create(&library);
    if (!library || !library->runRegister()) {
        error = "plug-in " + path + " handed out no library object with a register function";
        return false;
    }
    return true;
}

} // namespace Lode::Tools
