// Reading registry values whole, whatever their length.
#pragma once

#include <windows.h>
#include <optional>
#include <string>
#include <vector>

// The bytes of value `name` of key (null or "" names the default value), read whole, and
// their type. The registry's status when the value cannot be read.
LSTATUS ReadRegistryBytes(HKEY key, const char* name, DWORD& type, std::string& bytes);

// Value `name` of key as text: a REG_SZ up to its first NUL, or a REG_EXPAND_SZ with its
// environment strings expanded, as the readers of such a value expand it. Nothing when the
// value is missing or holds no text.
std::optional<std::string> ReadRegistryText(HKEY key, const char* name);
std::optional<std::wstring> ReadRegistryText(HKEY key, const wchar_t* name);

// The same for the value of parent\subkey, opened for reading only.
std::optional<std::string> ReadRegistryText(HKEY parent, const std::string& subkey, const char* name);
std::optional<std::wstring> ReadRegistryText(HKEY parent, const std::wstring& subkey, const wchar_t* name);

// The names of key's subkeys in enumeration order (255 characters is the longest key name the
// registry takes). The registry's status when enumerating fails before the end.
LSTATUS ReadSubkeyNames(HKEY key, std::vector<std::wstring>& names);
std::vector<std::wstring> SubkeyNames(HKEY key);
