// Registry routines: reading one value of a key as text, and deleting a key for programs
// that load Corvane.exe.
#pragma once

#include <windows.h>
#include <optional>
#include <string>

// Reads one value of root\keyPath as text: the value's bytes up to the first zero byte.
// "*" and "" name the key's default value; any other name is taken literally. The key path
// is cut to 299 bytes and the value name to 255. A key or value that is missing gives "".
std::string GETREGVALUE(const HKEY& root, std::string keyPath, std::string valueName);

// The same read, telling a missing key apart from a missing or empty value: nothing when
// root\keyPath cannot be opened for reading, else what GETREGVALUE returns.
std::optional<std::string> ReadRegValue(const HKEY& root, std::string keyPath, std::string valueName);

// Exported by name and as ordinal 1. Deletes root\keyPath (cut to 254 bytes). keyPath points
// at a string handle laid out as SysAllocStringByteLen makes it (byte length in the 32-bit
// word before the first byte, no terminator needed); a null handle is the empty path.
// Returns 0 when the key does not exist, the open's error code when it exists but cannot be
// opened with full access, else the status of the delete (0 = deleted).
// Depends on nothing that start-up code prepares: other programs load the executable as a
// library, and then its C and C++ runtime are never set up.
extern "C" LONG __stdcall DELREGKEY(const HKEY* root, const char* const* keyPath);
