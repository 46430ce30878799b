// Reading files: text line by line (image lists, scripts), and bytes at an offset of an open file.
#pragma once

#include "host/core/kaReflect.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace Lode::Core {

class kaFile : public kaObject {
    KA_DECLARE_CLASS(kaFile, kaObject)
public:
    ~kaFile() override;
    // Opens the file with a C mode ("r"); the result is this object when the file is open, null
    // otherwise (getError then says why).
    kaFile* open(const char* path, const char* mode);
    void close();
    bool isOpen() const { return _stream != nullptr; }
    // Reads the next line without its line break; false at the end of the file.
    bool readLine(std::string& line);
    // Number of the line readLine returned last (1 for the first).
    int getLineNumber() const { return _lineNumber; }
    const std::string& getPath() const { return _path; }
    const std::string& getError() const { return _error; }

    // Reads a whole file; false with a reason when it cannot be read.
    static bool readAll(const char* path, std::string& contents, std::string& error);

private:
    std::FILE* _stream = nullptr;
    std::string _path;
    std::string _error;
    int _lineNumber = 0;
};

// Reads bytes bytes from offset at of the open descriptor into destination, all of them (a read
// cut short or interrupted is resumed). False with the system's reason, or "it is shorter than
// when it was opened" when the file ends first.
bool kaReadFileAt(int descriptor, uint64_t at, void* destination, size_t bytes, std::string& why);

} // namespace Lode::Core
