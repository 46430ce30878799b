#include "host/opt/kaOptInterface.h"

namespace Lode::Opt {

KA_IMPLEMENT_CLASS(kaOptInterface)

int kaOptInterface::printf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int written = std::vprintf(format, args);
    va_end(args);
    return written;
}

bool kaOptInterface::fflush(std::FILE* stream) { return std::fflush(stream) == 0; }

kaOptBase* kaOptInterface::createOptBase(const char* className)
{
    kaMetaObject* meta = kaMetaObject::findClass(className);
    if (!meta || !meta->isOfType(kaOptBase::getClassMetaSafe()) || !meta->canCreateInstance()) return nullptr;
    auto* pass = static_cast<kaOptBase*>(meta->createInstance(nullptr));
    pass->setInterface(this);
    return pass;
}

kaOptInterface::RunResult kaOptInterface::runPass(kaOptBase* pass, int section, kaSmartPointer<kaNode>& root,
                                                  kaInfoList* infos)
{
    if (!pass->configure(section)) return RunResult::Refused;
    pass->applyToInfos(infos);
    if (root && pass->canOptimize(root.get())) pass->apply(root);
    return RunResult::Applied;
}

} // namespace Lode::Opt
