#include "common/paths.h"

#include "common/text.h"

namespace {

template <class Char, class GetFull>
HRESULT Full(const std::basic_string<Char>& path, std::basic_string<Char>& full, GetFull getFull) {
    DWORD needed = getFull(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return HRESULT_FROM_WIN32(GetLastError());
    std::basic_string<Char> buffer(needed, Char(0));
    DWORD written = getFull(path.c_str(), needed, &buffer[0], nullptr);
    if (written == 0)
        return HRESULT_FROM_WIN32(GetLastError());
    if (written >= needed) // the current folder changed between the two calls
        return E_UNEXPECTED;
    buffer.resize(written);
    full = buffer;
    return S_OK;
}

} // namespace

HRESULT FullPath(const std::string& path, std::string& full) {
    return Full(path, full, GetFullPathNameA);
}

HRESULT FullPath(const std::wstring& path, std::wstring& full) {
    return Full(path, full, GetFullPathNameW);
}

bool SearchFile(const std::wstring& name, std::wstring& found) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = SearchPathW(nullptr, name.c_str(), nullptr, static_cast<DWORD>(buffer.size()),
                                   &buffer[0], nullptr);
        if (length == 0)
            return false;
        if (length < buffer.size()) {
            buffer.resize(length);
            found = buffer;
            return true;
        }
        buffer.resize(length); // the size asked for includes the terminating NUL
    }
}

bool PathWithin(const std::wstring& path, const std::wstring& base, std::wstring* rest) {
    size_t length = base.size();
    while (length > 0 && base[length - 1] == L'\\')
        --length;
    if (length == 0 || path.size() < length || (path.size() > length && path[length] != L'\\') ||
        !EqualIgnoringCase(path.substr(0, length), base.substr(0, length)))
        return false;
    if (rest)
        *rest = path.size() == length ? std::wstring() : path.substr(length + 1);
    return true;
}
