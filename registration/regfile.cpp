#include "registration/regfile.h"

#include "common/text.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "common/owners.h"
#include "common/paths.h"
#include "common/registrytext.h"

namespace {

// Reads every value of key in enumeration order. The buffers are sized from RegQueryInfoKeyW
// and grown when a value grows between the two calls.
LSTATUS ReadValues(HKEY key, std::vector<RegistryValue>& values) {
    DWORD longestName = 0, largestData = 0;
    LSTATUS status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      &longestName, &largestData, nullptr, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    std::vector<wchar_t> name(longestName + 1);
    std::vector<BYTE> data(largestData);
    for (DWORD index = 0;;) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        status = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize);
        if (status == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (status == ERROR_MORE_DATA) { // read the same value again with room for it
            name.resize(name.size() * 2 + 256);
            data.resize(data.size() * 2 + 256);
            continue;
        }
        if (status != ERROR_SUCCESS)
            return status;
        RegistryValue value;
        value.name.assign(name.data(), nameLength);
        value.type = type;
        value.data.assign(data.begin(), data.begin() + dataSize);
        values.push_back(std::move(value));
        ++index;
    }
}

std::wstring Escaped(const std::wstring& text) {
    std::wstring escaped;
    for (wchar_t c : text) {
        if (c == L'\\' || c == L'"')
            escaped += L'\\';
        escaped += c;
    }
    return escaped;
}

// A string value is written as quoted text when the text gives back its data on import: an
// even size, no NUL before the terminating one, and no line break (regedit has no escape for
// one that every version reads back). Anything else is written as hex(1) bytes.
bool AsQuotedText(const RegistryValue& value, std::wstring& text) {
    if (value.data.size() % sizeof(wchar_t) != 0)
        return false;
    text = ValueText(value);
    return text.find_first_of(std::wstring(L"\0\r\n", 3)) == std::wstring::npos;
}

// Lower-case hexadecimal digits, as regedit writes them (the C runtime's formatter would link a
// printf with floating point).
std::wstring Hex(unsigned long value, int minDigits) {
    std::string digits = LowerHex(value, minDigits);
    return std::wstring(digits.begin(), digits.end());
}

// Bytes as regedit writes them: two lower-case digits each, separated by commas; a line that
// has passed 76 characters ends in a backslash and the next one starts with two blanks, so that
// no line is longer than 80.
void AppendHexBytes(const std::vector<BYTE>& data, size_t column, std::wstring& out) {
    for (size_t i = 0; i < data.size(); ++i) {
        out += Hex(data[i], 2);
        column += 2;
        if (i + 1 == data.size())
            break;
        out += L',';
        ++column;
        if (column > 76) {
            out += L"\\\r\n  ";
            column = 2;
        }
    }
}

std::wstring ValueLine(const RegistryValue& value) {
    std::wstring line = value.name.empty() ? L"@=" : L"\"" + Escaped(value.name) + L"\"=";
    std::wstring text;
    if (value.type == REG_SZ && AsQuotedText(value, text))
        return line + L"\"" + Escaped(text) + L"\"";
    if (value.type == REG_DWORD && value.data.size() == sizeof(DWORD)) {
        DWORD number;
        std::memcpy(&number, value.data.data(), sizeof number);
        return line + L"dword:" + Hex(number, 8);
    }
    if (value.type == REG_BINARY) {
        line += L"hex:";
    } else {
        line += L"hex(" + Hex(value.type, 1) + L"):";
    }
    AppendHexBytes(value.data, line.size(), line);
    return line;
}

std::wstring WithoutTrailingSeparators(std::wstring folder) {
    while (!folder.empty() && folder.back() == L'\\')
        folder.pop_back();
    return folder;
}

} // namespace

std::wstring ValueText(const RegistryValue& value) {
    std::wstring text(reinterpret_cast<const wchar_t*>(value.data.data()),
                      value.data.size() / sizeof(wchar_t));
    if (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return text;
}

LSTATUS ReadRegistryTree(HKEY parent, const std::wstring& path, RegistryTree& tree) {
    RegKey key;
    LSTATUS status = RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, key.Put());
    if (status != ERROR_SUCCESS)
        return status;
    RegistryKeyEntry entry;
    entry.path = path;
    if ((status = ReadValues(key.Get(), entry.values)) != ERROR_SUCCESS)
        return status;
    tree.push_back(std::move(entry));
    std::vector<std::wstring> subkeys;
    if ((status = ReadSubkeyNames(key.Get(), subkeys)) != ERROR_SUCCESS)
        return status;
    for (const std::wstring& subkey : subkeys) {
        status = ReadRegistryTree(parent, path.empty() ? subkey : path + L"\\" + subkey, tree);
        if (status != ERROR_SUCCESS)
            return status;
    }
    return ERROR_SUCCESS;
}

std::wstring RegFileText(const RegistryTree& tree, const std::wstring& rootName) {
    std::wstring text = L"Windows Registry Editor Version 5.00\r\n";
    for (const RegistryKeyEntry& key : tree) {
        text += std::wstring(L"\r\n[") + (key.remove ? L"-" : L"") + rootName +
                (key.path.empty() ? L"" : L"\\" + key.path) + L"]\r\n";
        for (const RegistryValue& value : key.values)
            text += ValueLine(value) + L"\r\n";
    }
    return text + L"\r\n";
}

std::string RegFileBytes(const std::wstring& text) {
    std::string bytes = "\xFF\xFE";
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>((c >> 8) & 0xFF);
    }
    return bytes;
}

size_t RelocateFolder(RegistryTree& tree, const std::wstring& fromFolder, const std::wstring& toFolder) {
    const std::wstring from = WithoutTrailingSeparators(fromFolder);
    const std::wstring to = WithoutTrailingSeparators(toFolder);
    size_t changed = 0;
    if (from.empty())
        return changed;
    for (RegistryKeyEntry& key : tree) {
        for (RegistryValue& value : key.values) {
            std::wstring text;
            if ((value.type != REG_SZ && value.type != REG_EXPAND_SZ) || !AsQuotedText(value, text))
                continue;
            text = WithoutTrailingSeparators(text);
            if (!PathWithin(text, from))
                continue; // not from, nor inside it (another folder whose name starts the same)
            std::wstring moved = to + text.substr(from.size());
            const BYTE* bytes = reinterpret_cast<const BYTE*>(moved.c_str());
            value.data.assign(bytes, bytes + (moved.size() + 1) * sizeof(wchar_t));
            ++changed;
        }
    }
    return changed;
}

void AddThirtyTwoBitInterfaceKeys(RegistryTree& tree) {
    RegistryTree copies;
    for (const RegistryKeyEntry& key : tree) {
        if (!IsInterfaceKey(key.path))
            continue;
        RegistryKeyEntry copy = key;
        copy.path = L"Wow6432Node\\" + key.path;
        copies.push_back(std::move(copy));
    }
    tree.insert(tree.end(), copies.begin(), copies.end());
}
