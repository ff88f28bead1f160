// Loading in this process: the file held, walked by a child, and only then loaded.
#include "reader/internal.h"

namespace reader {

HRESULT HoldWalked(const std::wstring& path, FileHandle& held, LibraryDescription& description) {
    HRESULT hr = RefusePath(path);
    if (FAILED(hr))
        return hr;
    Target target;
    FileHandle holding;
    HRESULT holdError = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    if (Locate(path, target))
        holdError = Hold(target.file, holding);
    if (holdError == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION) ||
        holdError == HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION))
        return holdError;
    // While the file is held, the read's own digest is of these bytes: its answer, remembered or
    // new, is about the bytes the caller will load.
    LibraryDescription checked;
    hr = ReadLibrary(path, Depth::Registration, checked);
    held = std::move(holding);
    if (FAILED(hr))
        return hr;
    // A file that could not be held and yet was read (it appeared meanwhile) is not passed on.
    if (!held)
        return holdError;
    description = std::move(checked);
    return S_OK;
}

HRESULT LoadWalked(const std::wstring& path, WalkedLibrary& walked) {
    WalkedLibrary loaded;
    HRESULT hr = HoldWalked(path, loaded.held, loaded.description);
    if (FAILED(hr))
        return hr;
    // The file the child was handed: as the loader finds it, found while it is held.
    Target target;
    std::wstring file = Locate(path, target) ? target.file + target.resource : path;
    if ((hr = LoadTypeLib(file.c_str(), loaded.library.Put())) != S_OK)
        return hr;
    walked = std::move(loaded);
    return S_OK;
}

} // namespace reader
