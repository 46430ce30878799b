// Helpers shared by the test suites: running the real kaopt binary and scratch folders.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace kaTest {

struct kaRunResult {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string readText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void writeText(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// A fresh folder for one test, removed when the test ends.
class kaScratchDir {
public:
    kaScratchDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kaopt-test-XXXXXX").string();
        _path = mkdtemp(pattern.data());
    }
    ~kaScratchDir() { std::filesystem::remove_all(_path); }
    const std::filesystem::path& path() const { return _path; }
    std::filesystem::path operator/(const std::string& name) const { return _path / name; }

private:
    std::filesystem::path _path;
};

// Runs the built kaopt with the arguments (a shell word list) and returns its exit status and
// both output streams.
inline kaRunResult runKaopt(const std::string& arguments)
{
    kaScratchDir scratch;
    std::string command = std::string(KA_BINARY_DIR) + "/kaopt " + arguments + " >" + (scratch / "out").string() +
                          " 2>" + (scratch / "err").string() + " </dev/null";
    int raw = std::system(command.c_str());
    kaRunResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = readText(scratch / "out");
    result.err = readText(scratch / "err");
    return result;
}

// The glTF sample models (.gltf and .glb) under the shared assets, sorted; empty when the assets
// are absent (callers skip with a message then).
inline std::vector<std::filesystem::path> sampleModels()
{
    const std::filesystem::path samples = std::filesystem::path(KA_ASSETS_DIR) / "gltf";
    std::vector<std::filesystem::path> models;
    if (!std::filesystem::is_directory(samples)) return models;
    for (const auto& folder : std::filesystem::directory_iterator(samples))
        if (folder.is_directory())
            for (const auto& file : std::filesystem::directory_iterator(folder.path()))
                if (file.path().extension() == ".gltf" || file.path().extension() == ".glb") models.push_back(file.path());
    std::sort(models.begin(), models.end());
    return models;
}

} // namespace kaTest
