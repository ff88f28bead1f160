// Which file a read is about: the paths refused without a child, and the file the loader will
// read, found as it finds it.
#include "reader/internal.h"

#include "common/paths.h"

namespace reader {

HRESULT RefusePath(const std::wstring& path) {
    if (path.empty() || path.find(L'\0') != std::wstring::npos)
        return E_INVALIDARG;
    std::wstring full;
    if (path.size() >= MAX_PATH || FAILED(FullPath(path, full)) || full.size() >= MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    return S_OK;
}

bool Locate(const std::wstring& path, Target& target) {
    if (!SearchFile(path, target.file)) {
        // "lib.dll\2": a resource number 1..65535 after the file.
        std::wstring file;
        int number = 0;
        if (!SplitResourceIndex(path, file, number) || number == 0 || number > 0xFFFF ||
            !SearchFile(file, target.file))
            return false;
        target.resource = L"\\" + path.substr(file.size() + 1);
    }
    return GetFileAttributesExW(target.file.c_str(), GetFileExInfoStandard, &target.data) != 0;
}

uint64_t FileSize(const Target& target) {
    return static_cast<uint64_t>(target.data.nFileSizeHigh) << 32 | target.data.nFileSizeLow;
}

} // namespace reader
