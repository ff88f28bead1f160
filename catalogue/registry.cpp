#include "catalogue/registry.h"

#include "common/owners.h"
#include "common/registrytext.h"

namespace {

// Buffer sizes of the routines; a text is cut to the size minus one, the last byte is the
// terminator the registry needs.
constexpr size_t kReadKeyBuffer = 300;
constexpr size_t kValueNameBuffer = 256;
constexpr size_t kValueDataBuffer = 256;

// Copies text into a zero-terminated buffer of the given size, stopping at the text's first
// zero byte or when the buffer holds size - 1 bytes.
void CopyCut(const std::string& text, char* buffer, size_t size) {
    size_t i = 0;
    for (; i + 1 < size && i < text.size() && text[i] != '\0'; ++i)
        buffer[i] = text[i];
    buffer[i] = '\0';
}

// The bytes of data up to its first zero byte.
std::string UpToZero(const char* data, size_t size) {
    size_t length = 0;
    while (length < size && data[length] != '\0')
        ++length;
    return std::string(data, length);
}

} // namespace

std::optional<std::string> ReadRegValue(const HKEY& root, std::string keyPath, std::string valueName) {
    char keyBuffer[kReadKeyBuffer];
    CopyCut(keyPath, keyBuffer, sizeof keyBuffer);

    // Read access is all a read needs: asking for full access would make every key under
    // HKEY_CLASSES_ROOT unreadable for users who may not write there.
    RegKey key;
    if (RegOpenKeyExA(root, keyBuffer, 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return std::nullopt;

    // "*" alone stands for the default value, which the registry names by the empty name.
    if (valueName == "*")
        valueName.clear();
    char nameBuffer[kValueNameBuffer];
    CopyCut(valueName, nameBuffer, sizeof nameBuffer);

    char data[kValueDataBuffer] = {};
    DWORD size = sizeof data;
    LSTATUS status =
        RegQueryValueExA(key.Get(), nameBuffer, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    if (status != ERROR_MORE_DATA)
        return UpToZero(data, sizeof data);

    // A longer value (a long library description, say) is read whole.
    DWORD type = 0;
    std::string whole;
    if (ReadRegistryBytes(key.Get(), nameBuffer, type, whole) != ERROR_SUCCESS)
        return std::string();
    return UpToZero(whole.data(), whole.size());
}

std::string GETREGVALUE(const HKEY& root, std::string keyPath, std::string valueName) {
    return ReadRegValue(root, std::move(keyPath), std::move(valueName)).value_or(std::string());
}

// Other programs call this after loading Corvane.exe as a library, so it runs without the
// program's start-up code: no C or C++ runtime, no constructed globals. It uses a fixed stack
// buffer, plain byte loops and registry calls only, and throws nothing. Marked visible outside
// the program here: the link-time optimiser does not read corvane.def, which exports it, and
// would otherwise drop a function that nothing in the program calls.
extern "C" __attribute__((externally_visible, used))
LONG __stdcall DELREGKEY(const HKEY* root, const char* const* keyPath) {
    if (root == nullptr)
        return ERROR_INVALID_PARAMETER;

    // The key path is a counted string: its byte length sits in the 32-bit word before its
    // first byte, and it needs no terminator, so no byte past that length is read.
    char keyBuffer[255];
    const char* text = keyPath != nullptr ? *keyPath : nullptr;
    DWORD length = text != nullptr ? reinterpret_cast<const DWORD*>(text)[-1] : 0;
    DWORD kept = 0;
    while (kept < sizeof keyBuffer - 1 && kept < length && text[kept] != '\0') {
        keyBuffer[kept] = text[kept];
        ++kept;
    }
    keyBuffer[kept] = '\0';

    HKEY opened = nullptr;
    LONG status = RegOpenKeyExA(*root, keyBuffer, 0, KEY_ALL_ACCESS, &opened);
    // A key that is not there counts as deleted; any other refusal (access denied, say) is
    // reported, so that a failure never reads as success.
    if (status == ERROR_FILE_NOT_FOUND)
        return 0;
    if (status != ERROR_SUCCESS)
        return status;

    // The key is deleted by its path under the root while the handle opened above is held.
    LONG deleted = RegDeleteKeyA(*root, keyBuffer);
    RegCloseKey(opened);
    return deleted;
}
