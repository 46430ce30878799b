// Editable, reference-counted strings (file names, list entries) and their list.
#pragma once

#include "host/core/kaList.h"

#include <string>

namespace Lode::Core {

class kaStringObj : public kaObject {
    KA_DECLARE_CLASS(kaStringObj, kaObject)
public:
    // What a string object that holds no text reads as.
    static const char* const EMPTY_STRING;

    // The text; EMPTY_STRING when none is set.
    const char* getString() const { return _text.isNull() ? EMPTY_STRING : _text.c_str(); }
    const char* c_str() const { return getString(); }
    int length() const { return static_cast<int>(_text.length()); }
    static int length(const char* text);
    bool isEmpty() const { return _text.isEmpty(); }

    void set(const char* text);
    void append(const char* text);
    int printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void toLower();
    // Inserts text before the character at position (0: at the front; past the end: appends).
    void insertBefore(const char* text, unsigned int position);
    // Appends ".ext" (a leading dot in extension is accepted).
    void appendFileExtension(const char* extension);
    // Removes the last extension of the file-name part (the dot and what follows it); a count
    // above one removes that many extensions.
    void removeFileExtension(unsigned int count = 1);
    // Keeps only the last extension of the file-name part with its dot (".png"; "" when none), so
    // that removeFileExtension's result and this one join to the name again.
    void keepFileExtension();
    // Removes every directory in front of the file name.
    void removePathFromFileName();

    bool operator==(const kaStringObj& other) const { return std::string(getString()) == other.getString(); }

    bool setFromText(const char* text, std::string& error) override;
    std::string toText() const override;

private:
    void assign(const std::string& text) { _text = text.c_str(); }
    kaStringRef _text;
};

class kaStringObjList : public kaTObjectList<kaStringObj> {
    KA_DECLARE_CLASS(kaStringObjList, kaTObjectList<kaStringObj>)
public:
    // Appends a new string object with the text.
    void appendString(const char* text);
    // Comma-separated entries, each trimmed and without surrounding double quotes.
    bool setFromText(const char* text, std::string& error) override;
    std::string toText() const override;
};

} // namespace Lode::Core
