// The facts of one type-library file as the component reads them, the texts and registry key
// built from them, and whether that library version is registered. Plain values: nothing here
// touches a window.
#pragma once

#include <windows.h>
#include <string>
#include "tlinfo/tlinfo.h"

struct TypeLibFacts {
    std::string path;
    std::string name;
    std::string description;
    std::string guidText;
    unsigned short majorVersion = 0; // versions are unsigned 16-bit numbers
    unsigned short minorVersion = 0;
    bool registered = false;
};

// "name (description)"
std::string NameLine(const TypeLibFacts& facts);
// "major.minor" in decimal
std::string VersionText(unsigned short major, unsigned short minor);
std::string VersionText(const TypeLibFacts& facts);
// "TypeLib\{guid}\major.minor" in lower-case hexadecimal, under HKEY_CLASSES_ROOT
std::string VersionKey(const std::string& guidText, unsigned short major, unsigned short minor);
std::string VersionKey(const TypeLibFacts& facts);

// Reads the facts of the library in path through the component's application object, asking
// its operations in the order 9, 77, 12, 16, 19, 20, then 16, 19, 20, 77 once more for the
// registry check (the second answers build the key and are compared), and decides from the
// registry whether that version is registered. Gives the first failure; the library object
// is released on every way out. A null application fails with E_POINTER without a call.
HRESULT ReadTypeLibFacts(ITlInfoApplication* application, const std::string& path, TypeLibFacts& facts);

// Registration stores the description as the default value of the version key: a version is
// registered when that key exists and its default value equals description byte for byte.
bool IsRegisteredVersion(const std::string& versionKey, const std::string& description);
