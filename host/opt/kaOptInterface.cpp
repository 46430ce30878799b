#include "host/opt/kaOptInterface.h"

#include "host/io/kaSceneFile.h"
#include "host/opt/kaConvertImage.h"
#include "host/opt/kaResizeImage.h"

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

void kaRegisterHostPasses()
{
    if (kaResizeImage::getClassMeta() && kaResizeImage::getClassMeta()->isFullyRegistered()) return;
    kaResizeImage::getClassMetaSafe()->setSummary(
        "host pass: resamples one image in place by a width and a height factor (kaUseMipmap uses it)");
    kaConvertImage::getClassMetaSafe()->setSummary(
        "host pass: converts one image in place to another pixel format and channel order (kaUseMipmap uses it)");
}

bool kaIsHostPass(const kaMetaObject* meta)
{
    return meta && (meta == kaResizeImage::getClassMeta() || meta == kaConvertImage::getClassMeta());
}

kaOptBase* kaOptInterface::createOptBase(const char* className)
{
    kaRegisterHostPasses();
    kaMetaObject* meta = kaMetaObject::findClass(className);
    if (!meta || !meta->isOfType(kaOptBase::getClassMetaSafe()) || !meta->canCreateInstance()) return nullptr;
    auto* pass = static_cast<kaOptBase*>(meta->createInstance(nullptr));
    pass->setInterface(this);
    return pass;
}

kaOptInterface::RunResult kaOptInterface::runPass(kaOptBase* pass, int section, kaSmartPointer<kaNode>& root,
                                                  kaInfoList* infos, const std::function<bool(bool)>& afterConfigure)
{
    const bool configured = pass->configure(section);
    if (afterConfigure && !afterConfigure(configured)) return RunResult::Stopped;
    if (!configured) return RunResult::Refused;
    pass->applyToInfos(infos);
    if (root && pass->canOptimize(root.get())) pass->apply(root);
    return RunResult::Applied;
}

// ---- files ----

kaFileInfo* kaOptInterface::getFile()
{
    if (!_file) _file = kaSmartPointer<kaFileInfo>::adopt(kaFileInfo::_instantiate());
    return _file;
}

void kaOptInterface::setFile(kaFileInfo* file) { _file = file; }

kaExternalDirEntry* kaOptInterface::getExternalEntry(kaObject* object)
{
    return getFile()->getDirectory()->findExternalEntry(object);
}

void kaOptInterface::addExternalReference(kaExternalDirEntry* entry)
{
    Lode::Io::kaOutputFolder::addExternalEntry(*getFile()->getDirectory(), entry);
}

kaResult kaOptInterface::writeFile(kaObject* object, const char* path, bool useExternalEntries)
{
    return _output.writeObject(object, path, useExternalEntries, *getFile()->getDirectory()) ? kSuccess : kFailure;
}

bool kaOptInterface::readScene(const char* path, kaSmartPointer<kaInfoList>& infos, std::string& error)
{
    kaSmartPointer<kaFileInfo> file;
    if (!Lode::Io::kaReadScene(path ? path : "", infos, file, error)) return false;
    setFile(file);
    return true;
}

bool kaOptInterface::writeScene(const char* path, kaInfoList* infos, std::string& error)
{
    return _output.writeScene(path ? path : "", infos, *getFile()->getDirectory(), error);
}

} // namespace Lode::Opt
