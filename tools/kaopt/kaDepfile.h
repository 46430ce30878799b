// Dependency files in Make's syntax, as Make includes them and Ninja reads them (deps = gcc): the
// files a run wrote, the first of them its output, depend on every file it read.
#pragma once

#include <string>
#include <vector>

namespace Lode::Tools {

// "TARGET OTHER...: PREREQUISITE..." with one prerequisite to a line, spaces written "\ ", "$" "$$" and
// "#" "\#". False, naming the path, for a path neither reader can take back (a line break).
bool kaDepfileText(const std::vector<std::string>& targets, const std::vector<std::string>& prerequisites,
                   std::string& text, std::string& error);
// False, naming the file, when a dependency file at path would replace one of the files (empty
// ones stand for none): it would replace what it describes.
bool kaDepfileApart(const std::string& path, const std::vector<std::string>& files, std::string& error);
// Writes the text to path atomically, apart from the targets and the inputs.
bool kaWriteDepfile(const std::string& path, const std::vector<std::string>& targets,
                    const std::vector<std::string>& prerequisites, std::string& error);

} // namespace Lode::Tools
