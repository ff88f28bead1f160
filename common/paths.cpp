#include "common/paths.h"

HRESULT FullPath(const std::string& path, std::string& full) {
    DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return HRESULT_FROM_WIN32(GetLastError());
    std::string buffer(needed, '\0');
    DWORD written = GetFullPathNameA(path.c_str(), needed, &buffer[0], nullptr);
    if (written == 0)
        return HRESULT_FROM_WIN32(GetLastError());
    if (written >= needed) // the current folder changed between the two calls
        return E_UNEXPECTED;
    buffer.resize(written);
    full = buffer;
    return S_OK;
}
