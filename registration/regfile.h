// A registry branch as a value, and its rendering as a registration entries (.reg) file in the
// form regedit itself exports, so that an installer or regedit can apply it on another machine.
#pragma once

#include <windows.h>
#include <string>
#include <vector>

#include "catalogue/catalogue.h" // IsInterfaceKey, which tells the keys each registry view keeps

struct RegistryValue {
    std::wstring name; // empty: the key's default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data; // exactly as stored
};

struct RegistryKeyEntry {
    std::wstring path; // below the tree's root, key names separated by '\'
    std::vector<RegistryValue> values;
    bool remove = false; // written as [-path]: importing deletes the key and everything below it
};

// The text of a string value's data, without the terminating NUL (the data as UTF-16 code units
// when it has no terminator, or an odd byte left over).
std::wstring ValueText(const RegistryValue& value);

// Keys in the order regedit exports them: each key before its subkeys, subkeys and values in
// the order the registry enumerates them.
using RegistryTree = std::vector<RegistryKeyEntry>;

// Appends parent\path and every key below it to tree, read with KEY_READ only; the paths in
// tree are relative to parent. An empty path reads parent itself (under the empty path).
LSTATUS ReadRegistryTree(HKEY parent, const std::wstring& path, RegistryTree& tree);

// The text of the .reg file: "Windows Registry Editor Version 5.00", then each key as
// [rootName\path] with its values, a blank line before each key and one at the end, CRLF line
// ends. rootName is a full root name as regedit writes it, such as "HKEY_CLASSES_ROOT" or
// "HKEY_CURRENT_USER\Software\Classes".
std::wstring RegFileText(const RegistryTree& tree, const std::wstring& rootName);

// The file's bytes: text as UTF-16LE after a byte-order mark, the encoding regedit writes.
std::string RegFileBytes(const std::wstring& text);

// Moves a library's registration to the folder it will have on the target machine: every
// string value that names fromFolder, or a file or folder inside it, names the same thing
// inside toFolder instead (compared without regard to case, as Windows compares paths).
// These are the registered library paths (with any resource index after them) and HELPDIR.
// Returns how many values changed.
size_t RelocateFolder(RegistryTree& tree, const std::wstring& fromFolder, const std::wstring& toFolder);

// For a .reg file that 64-bit Windows imports into both registry views: after the tree, a copy
// of every key under Interface as Wow6432Node\Interface\..., the name through which the 64-bit
// regedit (the one a double-click starts there) reaches the 32-bit view, while Interface\...
// stays its own, 64-bit view. TypeLib is shared by both views and written once.
void AddThirtyTwoBitInterfaceKeys(RegistryTree& tree);
