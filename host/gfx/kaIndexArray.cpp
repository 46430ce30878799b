#include "host/gfx/kaIndexArray.h"

namespace Lode::Gfx {

using namespace Lode::Core;

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaIndexArray)

void kaIndexArray::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.addBlock<uint32_t>(KA_FIELD(kaIndexArray, _indices));
    fields.declare();
}

} // namespace Lode::Gfx
