// Registry routines: reading one value of a key as text, and deleting a key for programs
// that load Corvane.exe.
#pragma once

#include <windows.h>
#include <string>

// Reads one value of root\keyPath as text. "*" and "" name the key's default value.
// A key or value that is missing gives "".
std::string GETREGVALUE(const HKEY& root, std::string keyPath, std::string valueName);

// Exported by name and as ordinal 1. keyPath points at a string handle laid out as
// SysAllocStringByteLen makes it (byte length in the 32-bit word before the first byte);
// a null handle is the empty path. Depends on nothing that start-up code prepares.
extern "C" LONG __stdcall DELREGKEY(const HKEY* root, const char* const* keyPath);
