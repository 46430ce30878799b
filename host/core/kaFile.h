// Text files read line by line (image lists, scripts).
#pragma once

#include "host/core/kaReflect.h"

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

} // namespace Lode::Core
