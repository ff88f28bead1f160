// Resolving a FILE argument: the full path, a resource index, and what the name turns out to be.
#include "catalogue/catalogue.h"

#include "catalogue/registrykeys.h"
#include "common/owners.h"
#include "common/paths.h"
#include "common/text.h"

using namespace catalogue_detail;

namespace {

// The full path of path, or path itself when it cannot be made absolute.
std::wstring AbsoluteOrAsGiven(const std::wstring& path) {
    std::wstring full;
    return SUCCEEDED(FullPath(path, full)) ? full : path;
}

// Device names ("NUL", "COM1") become "\\.\NUL" when made absolute, and pipes are named so.
bool InDeviceNamespace(const std::wstring& full) {
    return full.compare(0, 4, L"\\\\.\\") == 0;
}

// A file that exists is checked as the loader will open it: for reading, sharing everything.
// Another program's handle without read sharing refuses that (ERROR_SHARING_VIOLATION), and
// a handle that is not on a disk is a device or a pipe.
LocateError CheckOpenable(const std::wstring& file, HRESULT& code) {
    FileHandle handle(CreateFileW(file.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) {
        DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
            code = HRESULT_FROM_WIN32(error);
            return LocateError::InUse;
        }
        return LocateError::None; // the reader reports what the loader makes of it
    }
    return GetFileType(handle.Get()) == FILE_TYPE_DISK ? LocateError::None : LocateError::NotAFile;
}

} // namespace

std::wstring FileLocation::LibraryPath() const {
    return resourceIndex == 0 ? filePath : filePath + L"\\" + DecimalText(resourceIndex);
}

std::wstring FolderOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos)
        return std::wstring();
    if (slash == 2 && path[1] == L':')
        return path.substr(0, 3); // "C:\"
    return path.substr(0, slash);
}

Located LocateFile(const std::wstring& given) {
    Located located;
    located.location.given = given;
    if (given.empty()) {
        located.error = LocateError::Empty;
        return located;
    }
    std::wstring full = AbsoluteOrAsGiven(given);
    located.location.filePath = full;
    if (InDeviceNamespace(full)) {
        located.error = LocateError::NotAFile;
        return located;
    }
    switch (KindOf(full)) {
    case Kind::File:
        located.error = CheckOpenable(full, located.code);
        return located;
    case Kind::Folder:
        located.error = LocateError::IsFolder;
        return located;
    case Kind::Missing:
        break;
    }
    std::wstring file;
    int index = 0;
    if (SplitExistingResourceIndex(full, file, index)) {
        located.location.filePath = file;
        located.location.resourceIndex = index;
        located.error = CheckOpenable(file, located.code);
        return located;
    }
    // Name the first folder on the way that is missing, so "folder not found" points at it.
    std::wstring folder = FolderOf(full);
    // "missing.dll\2": the file is what is missing, not a folder named missing.dll.
    bool indexed = SplitResourceIndex(full, file, index);
    if (indexed && !folder.empty() && KindOf(FolderOf(folder)) == Kind::Folder) {
        located.error = LocateError::FileMissing;
        return located;
    }
    if (!folder.empty() && KindOf(folder) != Kind::Folder) {
        std::wstring missing = folder;
        for (std::wstring up = FolderOf(folder); !up.empty() && up != missing && KindOf(up) != Kind::Folder;
             up = FolderOf(up))
            missing = up;
        located.error = LocateError::FolderMissing;
        located.missingFolder = missing;
        return located;
    }
    located.error = LocateError::FileMissing;
    return located;
}
