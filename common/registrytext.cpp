#include "common/registrytext.h"

#include <cstring>

#include "common/owners.h"

namespace {

// The ANSI and the UTF-16 registry and environment functions, chosen by character type.
LSTATUS Query(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) {
    return RegQueryValueExA(key, name, nullptr, type, data, size);
}
LSTATUS Query(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* size) {
    return RegQueryValueExW(key, name, nullptr, type, data, size);
}
LSTATUS Open(HKEY parent, const char* subkey, HKEY* key) {
    return RegOpenKeyExA(parent, subkey, 0, KEY_READ, key);
}
LSTATUS Open(HKEY parent, const wchar_t* subkey, HKEY* key) {
    return RegOpenKeyExW(parent, subkey, 0, KEY_READ, key);
}
DWORD Expand(const char* text, char* out, DWORD size) {
    return ExpandEnvironmentStringsA(text, out, size);
}
DWORD Expand(const wchar_t* text, wchar_t* out, DWORD size) {
    return ExpandEnvironmentStringsW(text, out, size);
}

template <class Char> LSTATUS ReadBytes(HKEY key, const Char* name, DWORD& type, std::string& bytes) {
    // A value can grow between the size query and the read; ask again until it fits.
    for (;;) {
        DWORD size = 0;
        LSTATUS status = Query(key, name, &type, nullptr, &size);
        if (status != ERROR_SUCCESS)
            return status;
        bytes.assign(size, '\0');
        status = Query(key, name, &type, size ? reinterpret_cast<BYTE*>(&bytes[0]) : nullptr, &size);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status == ERROR_SUCCESS)
            bytes.resize(size);
        return status;
    }
}

template <class Char> std::optional<std::basic_string<Char>> ReadText(HKEY key, const Char* name) {
    using Text = std::basic_string<Char>;
    DWORD type = 0;
    std::string bytes;
    if (ReadBytes(key, name, type, bytes) != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    // Stored text need not end in a NUL, and may hold one early: it ends at the first.
    Text text(bytes.size() / sizeof(Char), Char());
    if (!text.empty())
        std::memcpy(&text[0], bytes.data(), text.size() * sizeof(Char));
    text.resize(text.find(Char()) == Text::npos ? text.size() : text.find(Char()));
    if (type == REG_SZ)
        return text;
    DWORD needed = Expand(text.c_str(), nullptr, 0);
    if (needed == 0)
        return text;
    Text expanded(needed, Char());
    DWORD written = Expand(text.c_str(), &expanded[0], needed);
    if (written == 0 || written > needed)
        return text;
    expanded.resize(expanded.find(Char()) == Text::npos ? expanded.size() : expanded.find(Char()));
    return expanded;
}

template <class Char>
std::optional<std::basic_string<Char>> ReadSubkeyText(HKEY parent, const std::basic_string<Char>& subkey,
                                                      const Char* name) {
    RegKey key;
    if (Open(parent, subkey.c_str(), key.Put()) != ERROR_SUCCESS)
        return std::nullopt;
    return ReadText(key.Get(), name);
}

} // namespace

LSTATUS ReadRegistryBytes(HKEY key, const char* name, DWORD& type, std::string& bytes) {
    return ReadBytes(key, name, type, bytes);
}

std::optional<std::string> ReadRegistryText(HKEY key, const char* name) {
    return ReadText(key, name);
}

std::optional<std::wstring> ReadRegistryText(HKEY key, const wchar_t* name) {
    return ReadText(key, name);
}

std::optional<std::string> ReadRegistryText(HKEY parent, const std::string& subkey, const char* name) {
    return ReadSubkeyText(parent, subkey, name);
}

std::optional<std::wstring> ReadRegistryText(HKEY parent, const std::wstring& subkey, const wchar_t* name) {
    return ReadSubkeyText(parent, subkey, name);
}

LSTATUS ReadSubkeyNames(HKEY key, std::vector<std::wstring>& names) {
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        LSTATUS status = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (status != ERROR_SUCCESS)
            return status;
        names.emplace_back(name, length);
    }
}

std::vector<std::wstring> SubkeyNames(HKEY key) {
    std::vector<std::wstring> names;
    ReadSubkeyNames(key, names);
    return names;
}
