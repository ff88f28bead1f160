// The facts view: the facts of one type-library file, written into the main window.
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
std::string VersionText(const TypeLibFacts& facts);
// "TypeLib\{guid}\major.minor" in lower-case hexadecimal, under HKEY_CLASSES_ROOT
std::string VersionKey(const TypeLibFacts& facts);

// Shows the facts of the library in path in the given main window, reading them through the
// given application object (which may be null). Clears the view on any failure.
void ShowTypeLibFacts(HWND mainWindow, ITlInfoApplication* application, std::string path);

// The same for the program's own main window and application object.
void SHOWTYPELIBFACTS(std::string path);
