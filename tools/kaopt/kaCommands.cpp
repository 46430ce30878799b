#include "tools/kaopt/kaCommands.h"

#include "host/io/kaSceneDump.h"
#include "host/io/kaSceneFile.h"
#include "host/opt/kaOptInterface.h"
#include "tools/kaopt/kaExampleScene.h"
#include "tools/kaopt/kaPlugin.h"
#include "tools/kaopt/kaScript.h"

#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace Lode::Tools {

using namespace Lode::Core;
using namespace Lode::Io;
using namespace Lode::Opt;
using namespace Lode::Sg;

namespace {

void report(const std::string& message) { std::fprintf(stderr, "kaopt: %s\n", message.c_str()); }

bool loadPlugin(const std::string& pluginPath)
{
    // The library object is kept for the life of the process, like the classes it registered.
    static kaSmartPointer<kaLibrary> library;
    if (library) return true;
    // The host's own passes exist before any plug-in pass, which may create them by name.
    kaRegisterHostPasses();
    std::string error;
    if (!kaLoadPlugin(pluginPath.empty() ? kaDefaultPluginPath() : pluginPath, library, error)) {
        report(error);
        return false;
    }
    return true;
}

// A pass that can be made, not one of the framework's base kinds: a plug-in pass or a host pass.
bool isAnyPassClass(const kaMetaObject* meta)
{
    return meta && meta->isOfType(kaOptBase::getClassMetaSafe()) && meta->canCreateInstance() &&
           meta != kaOptBase::getClassMetaSafe() && meta != kaOptTraverseGraph::getClassMetaSafe() &&
           meta != kaOptVisitObject::getClassMetaSafe() && meta != kaOptReplaceNode::getClassMetaSafe();
}

// A class a script can name: a plug-in pass. The host passes work on one image handed to them.
bool isPassClass(const kaMetaObject* meta) { return isAnyPassClass(meta) && !kaIsHostPass(meta); }

struct PreparedPass {
    kaSmartPointer<kaOptBase> pass;
    int section = 0;
    const kaScriptPass* source = nullptr;
};

// Creates every pass of the script and sets its fields and registry keys, so that a script with
// any error is refused before a single pass runs.
bool preparePasses(const kaScript& script, kaOptInterface* optInterface, std::vector<PreparedPass>& prepared)
{
    for (const kaScriptPass& scriptPass : script.passes) {
        auto where = [&](int line) { return script.path + ":" + std::to_string(line) + ": "; };
        kaMetaObject* meta = kaMetaObject::findClass(scriptPass.className.c_str());
        if (kaIsHostPass(meta)) {
            report(where(scriptPass.line) + scriptPass.className +
                   " is a host pass that other passes use on single images; a script cannot run it");
            return false;
        }
        if (!isPassClass(meta)) {
            report(where(scriptPass.line) + "unknown pass class '" + scriptPass.className + "'");
            return false;
        }
        PreparedPass entry;
        entry.pass = kaSmartPointer<kaOptBase>::adopt(optInterface->createOptBase(scriptPass.className.c_str()));
        entry.section = optInterface->getRegistry()->addSection();
        entry.source = &scriptPass;
        for (const kaScriptSetting& setting : scriptPass.settings) {
            kaMetaField* field = meta->findMetaField(setting.key.c_str());
            if (field) {
                std::string error;
                if (!field->setFromText(entry.pass, setting.value.c_str(), error)) {
                    report(where(setting.line) + scriptPass.className + "." + setting.key + ": " + error);
                    return false;
                }
            } else if (setting.key[0] == '_') {
                report(where(setting.line) + scriptPass.className + " has no field '" + setting.key + "'");
                return false;
            } else {
                optInterface->getRegistry()->setValue(entry.section, setting.key.c_str(), setting.value.c_str());
            }
        }
        prepared.push_back(std::move(entry));
    }
    return true;
}

} // namespace

int kaRunCommand(const kaRunOptions& options)
{
    kaScript script;
    std::string error;
    if (!kaLoadScript(options.scriptPath, script, error)) {
        report(error);
        return kExitBadInput;
    }
    if (!options.useExample && options.inputPath.empty()) {
        report("run needs an input scene file or --example");
        return kExitBadInput;
    }
    // An output that cannot be written is refused before any pass runs.
    if (!options.outputPath.empty() && !kaCheckSceneFormat(options.outputPath, error)) {
        report(error);
        return kExitBadInput;
    }
    auto optInterface = kaSmartPointer<kaOptInterface>::adopt(kaOptInterface::_instantiate());
    optInterface->setRegistry(kaSmartPointer<kaRegistry>::adopt(kaRegistry::_instantiate()));
    // Passes that write files of their own (exported geometry, images) put them beside the output.
    if (!options.outputPath.empty()) {
        const std::string folder = kaFolderOf(options.outputPath);
        optInterface->setFilePath(folder.empty() ? "." : folder.c_str());
        if (!optInterface->isFolderWritable(optInterface->getFilePath())) {
            report(options.outputPath + ": the folder " + optInterface->getFilePath() +
                   " does not exist or cannot be written to");
            return kExitBadInput;
        }
    }
    if (!loadPlugin(options.pluginPath)) return kExitBadInput;
    std::vector<PreparedPass> passes;
    if (!preparePasses(script, optInterface, passes)) return kExitBadInput;

    kaSmartPointer<kaInfoList> infos;
    if (options.useExample) {
        infos = kaMakeExampleScene();
    } else {
        kaSmartPointer<kaFileInfo> file;
        if (!kaReadScene(options.inputPath, infos, file, error)) {
            report(error);
            return kExitBadInput;
        }
        // The entries of objects the input keeps in other files stay entries when it is saved.
        optInterface->setFile(file);
    }
    kaSceneInfo* sceneInfo = kaSceneInfo::dynamicCast(infos->getShared(0));
    kaSmartPointer<kaNode> root = sceneInfo->getSceneGraph();

    const bool showProgress = !options.quiet && isatty(fileno(stderr));
    for (size_t i = 0; i < passes.size(); ++i) {
        PreparedPass& entry = passes[i];
        auto started = std::chrono::steady_clock::now();
        auto result = optInterface->runPass(entry.pass, entry.section, root, infos);
        std::fflush(stdout);
        if (showProgress) {
            double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            std::fprintf(stderr, "[%zu/%zu] %s %.2f s\n", i + 1, passes.size(), entry.source->className.c_str(),
                         seconds);
        }
        // The pass is released as soon as it has run; its destructor gives back what it holds.
        entry.pass = nullptr;
        if (result == kaOptInterface::RunResult::Refused) {
            report(script.path + ":" + std::to_string(entry.source->line) + ": " + entry.source->className +
                   " refused its settings" + (options.keepGoing ? "; going on without it" : "; nothing is written"));
            if (!options.keepGoing) return kExitPassRefused;
        }
    }
    // A replacing pass may have replaced the root itself.
    sceneInfo->setSceneGraph(root);
    if (!options.outputPath.empty() && !optInterface->writeScene(options.outputPath.c_str(), infos, error)) {
        report(error);
        return kExitBadInput;
    }
    return kExitSuccess;
}

int kaListCommand(const std::string& pluginPath)
{
    if (!loadPlugin(pluginPath)) return kExitBadInput;
    // A copy: telling passes apart may register the framework's base kinds, which grows the list.
    const std::vector<kaMetaObject*> classes = kaMetaObject::getRegisteredClasses();
    for (kaMetaObject* meta : classes)
        if (isPassClass(meta)) std::printf("%-36s %s\n", meta->getName(), meta->getSummary());
    return kExitSuccess;
}

int kaDescribeCommand(const std::string& pluginPath, const std::string& className)
{
    if (!loadPlugin(pluginPath)) return kExitBadInput;
    kaMetaObject* meta = kaMetaObject::findClass(className.c_str());
    if (!isAnyPassClass(meta)) {
        report("unknown pass class '" + className + "'");
        return kExitBadInput;
    }
    std::printf("%s (base %s)\n", meta->getName(), meta->getBase()->getName());
    if (*meta->getSummary()) std::printf("  %s\n", meta->getSummary());
    if (meta->getMetaFieldCount() == 0) {
        std::printf("  no fields\n");
        return kExitSuccess;
    }
    std::printf("  %-22s %-28s %s\n", "field", "type", "default");
    for (int i = 0; i < meta->getMetaFieldCount(); ++i) {
        kaMetaField* field = meta->getIndexedMetaField(i);
        std::printf("  %-22s %-28s %s\n", field->getName(), field->getTypeName().c_str(),
                    field->getDefaultText().c_str());
        if (*field->getDescription()) std::printf("  %-22s %s\n", "", field->getDescription());
        if (field->getKind() == kaFieldKind::Enum)
            if (kaMetaEnum* metaEnum = static_cast<kaEnumMetaField*>(field)->getMetaEnum()) {
                std::printf("  %-22s values:", "");
                for (int v = 0; v < metaEnum->getCount(); ++v)
                    std::printf(" %s=%d", metaEnum->getValueName(v), metaEnum->getValue(v));
                std::printf("\n");
            }
    }
    return kExitSuccess;
}

int kaInfoCommand(const std::string& path, bool json)
{
    kaSmartPointer<kaInfoList> infos;
    kaSmartPointer<kaFileInfo> file;
    std::string error;
    if (!kaReadScene(path, infos, file, error)) {
        report(error);
        return kExitBadInput;
    }
    const std::string dump = kaDumpScene(path, infos, file, json ? kaDumpFormat::Json : kaDumpFormat::Text);
    std::fwrite(dump.data(), 1, dump.size(), stdout);
    return kExitSuccess;
}

int kaConvertCommand(const std::string& inputPath, const std::string& outputPath)
{
    std::string error;
    if (!kaCheckSceneFormat(outputPath, error)) {
        report(error);
        return kExitBadInput;
    }
    kaSmartPointer<kaInfoList> infos;
    kaSmartPointer<kaFileInfo> file;
    if (!kaReadScene(inputPath, infos, file, error)) {
        report(error);
        return kExitBadInput;
    }
    // Saved as a run saves: objects the input keeps in files of their own stay there, named
    // relative to the output's folder.
    auto optInterface = kaSmartPointer<kaOptInterface>::adopt(kaOptInterface::_instantiate());
    optInterface->setFile(file);
    if (!optInterface->writeScene(outputPath.c_str(), infos, error)) {
        report(error);
        return kExitBadInput;
    }
    return kExitSuccess;
}

int kaMakeExampleCommand(const std::string& outputPath)
{
    std::string error;
    if (!kaWriteScene(outputPath, kaMakeExampleScene(), {}, error)) {
        report(error);
        return kExitBadInput;
    }
    return kExitSuccess;
}

} // namespace Lode::Tools
