#include "host/core/kaLibrary.h"

namespace Lode::Core {

KA_IMPLEMENT_CLASS(kaLibrary)

bool kaLibrary::runRegister() const
{
    if (!_register) return false;
    _register();
    return true;
}

} // namespace Lode::Core
