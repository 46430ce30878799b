#include "host/core/kaStringObj.h"

#include "host/core/kaText.h"

#include <cctype>
#include <cstdarg>
#include <cstring>

namespace Lode::Core {

const char* const kaStringObj::EMPTY_STRING = "";

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaStringObj)

void kaStringObj::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaStringMetaField>, KA_FIELD(kaStringObj, _text));
    fields.declare();
}

int kaStringObj::length(const char* text) { return text ? static_cast<int>(std::strlen(text)) : 0; }

void kaStringObj::set(const char* text) { _text = text; }

void kaStringObj::append(const char* text) { assign(std::string(getString()) + (text ? text : "")); }

int kaStringObj::printf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string text = kaFormatV(format, args);
    va_end(args);
    assign(text);
    return static_cast<int>(text.size());
}

void kaStringObj::toLower()
{
    std::string text = getString();
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    assign(text);
}

void kaStringObj::insertBefore(const char* text, unsigned int position)
{
    std::string value = getString();
    value.insert(std::min<size_t>(position, value.size()), text ? text : "");
    assign(value);
}

void kaStringObj::appendFileExtension(const char* extension)
{
    if (!extension) return;
    std::string value = getString();
    if (*extension != '.') value += '.';
    value += extension;
    assign(value);
}

// Position of the dot of the last extension of the file-name part, or npos.
static size_t extensionDot(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
    size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = path.find_last_of('.');
    return dot == std::string::npos || dot < nameStart ? std::string::npos : dot;
}

void kaStringObj::removeFileExtension(unsigned int count)
{
    std::string value = getString();
    for (unsigned int i = 0; i < count; ++i) {
        size_t dot = extensionDot(value);
        if (dot == std::string::npos) break;
        value.erase(dot);
    }
    assign(value);
}

void kaStringObj::keepFileExtension()
{
    std::string value = getString();
    size_t dot = extensionDot(value);
    assign(dot == std::string::npos ? std::string() : value.substr(dot));
}

void kaStringObj::removePathFromFileName()
{
    std::string value = getString();
    size_t slash = value.find_last_of("/\\");
    if (slash != std::string::npos) assign(value.substr(slash + 1));
}

bool kaStringObj::setFromText(const char* text, std::string& error)
{
    return getMetaObject()->findMetaField("_text")->setFromText(this, text, error);
}

std::string kaStringObj::toText() const { return std::string("\"") + getString() + "\""; }

KA_IMPLEMENT_CLASS(kaStringObjList)

void kaStringObjList::appendString(const char* text)
{
    kaStringObj* string = kaStringObj::_instantiate();
    string->set(text);
    append(string);
    kaObject::release(string);
}

bool kaStringObjList::setFromText(const char* text, std::string&)
{
    removeAll();
    for (const std::string& part : kaSplit(text ? text : "", ',')) {
        const std::string value = kaUnquote(part);
        if (!value.empty()) appendString(value.c_str());
    }
    return true;
}

std::string kaStringObjList::toText() const
{
    std::string text;
    for (int i = 0; i < getCount(); ++i) text += (i ? ", " : "") + std::string(getShared(i)->getString());
    return text;
}

} // namespace Lode::Core
