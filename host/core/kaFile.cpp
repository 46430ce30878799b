#include "host/core/kaFile.h"

#include "host/core/kaFileCommit.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace Lode::Core {

KA_IMPLEMENT_CLASS(kaFile)

kaFile::~kaFile() { close(); }

kaFile* kaFile::open(const char* path, const char* mode)
{
    close();
    _path = path ? path : "";
    _lineNumber = 0;
    _stream = std::fopen(_path.c_str(), mode);
    if (!_stream) {
        _error = _path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (mode && mode[0] == 'r') kaFileCommit::noteInput(_path);
    return this;
}

void kaFile::close()
{
    if (_stream) std::fclose(_stream);
    _stream = nullptr;
}

bool kaFile::readLine(std::string& line)
{
    line.clear();
    if (!_stream) return false;
    int c;
    bool any = false;
    while ((c = std::fgetc(_stream)) != EOF) {
        any = true;
        if (c == '\n') break;
        line += static_cast<char>(c);
    }
    if (!any) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ++_lineNumber;
    return true;
}

bool kaFile::readAll(const char* path, std::string& contents, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::string(path) + ": " + std::strerror(errno);
        return false;
    }
    kaFileCommit::noteInput(path);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    contents = buffer.str();
    return true;
}

bool kaReadFileAt(int descriptor, uint64_t at, void* destination, size_t bytes, std::string& why)
{
    auto* to = static_cast<uint8_t*>(destination);
    while (bytes) {
        const ssize_t got = ::pread(descriptor, to, bytes, static_cast<off_t>(at));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            why = got < 0 ? std::strerror(errno) : "it is shorter than when it was opened";
            return false;
        }
        at += static_cast<uint64_t>(got);
        to += got;
        bytes -= static_cast<size_t>(got);
    }
    return true;
}

} // namespace Lode::Core
