// Files: resolving FILE arguments and registered paths, comparing files by identity, and
// reading the library in a file.
#include "cli/cli.h"

#include "common/owners.h"
#include "common/paths.h"
#include "common/text.h"
#include "reader/reader.h"

namespace cli {

namespace {

enum class Kind { Missing, File, Folder };

Kind KindOf(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return Kind::Missing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? Kind::Folder : Kind::File;
}

// The full path of path, or path itself when it cannot be made absolute.
std::string AbsoluteOrAsGiven(const std::string& path) {
    std::string full;
    return SUCCEEDED(FullPath(path, full)) ? full : path;
}

// Splits "file\N" into the file and N when a file of that name exists.
bool SplitExistingResourceIndex(const std::string& path, std::string& file, int& index) {
    std::string head;
    int number = 0;
    if (!SplitResourceIndex(path, head, number) || KindOf(head) != Kind::File)
        return false;
    file = head;
    index = number;
    return true;
}

// A path with no folder part is found as loading the library finds it: on the search path.
std::string Searched(const std::string& path) {
    if (path.find_first_of("\\/:") != std::string::npos)
        return path;
    char found[MAX_PATH];
    DWORD length = SearchPathA(nullptr, path.c_str(), nullptr, MAX_PATH, found, nullptr);
    if (length == 0 || length >= MAX_PATH)
        return path;
    return std::string(found, length);
}

} // namespace

std::string FolderOf(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos)
        return std::string();
    if (slash == 2 && path[1] == ':')
        return path.substr(0, 3); // "C:\"
    return path.substr(0, slash);
}

Located LocateFile(const std::string& given) {
    Located located;
    located.location.given = given;
    if (given.empty()) {
        located.error = LocateError::Empty;
        return located;
    }
    std::string full = AbsoluteOrAsGiven(given);
    switch (KindOf(full)) {
    case Kind::File:
        located.location.filePath = full;
        return located;
    case Kind::Folder:
        located.location.filePath = full;
        located.error = LocateError::IsFolder;
        return located;
    case Kind::Missing:
        break;
    }
    std::string file;
    int index = 0;
    if (SplitExistingResourceIndex(full, file, index)) {
        located.location.filePath = file;
        located.location.resourceIndex = index;
        return located;
    }
    located.location.filePath = full;
    // Name the first folder on the way that is missing, so "folder not found" points at it.
    std::string folder = FolderOf(full);
    // "missing.dll\2": the file is what is missing, not a folder named missing.dll.
    bool indexed = SplitResourceIndex(full, file, index);
    if (indexed && !folder.empty() && KindOf(FolderOf(folder)) == Kind::Folder) {
        located.error = LocateError::FileMissing;
        return located;
    }
    if (!folder.empty() && KindOf(folder) != Kind::Folder) {
        std::string missing = folder;
        for (std::string up = FolderOf(folder); !up.empty() && up != missing && KindOf(up) != Kind::Folder;
             up = FolderOf(up))
            missing = up;
        located.error = LocateError::FolderMissing;
        located.missingFolder = missing;
        return located;
    }
    located.error = LocateError::FileMissing;
    return located;
}

std::string LocateMessage(const Located& located) {
    const FileLocation& location = located.location;
    switch (located.error) {
    case LocateError::None:
        return std::string();
    case LocateError::Empty:
        return "FILE is empty";
    case LocateError::FolderMissing:
        return "folder not found: '" + located.missingFolder + "' (in '" + location.given + "')";
    case LocateError::FileMissing:
        return "file not found: '" + location.given + "' (" + location.filePath + ")";
    case LocateError::IsFolder:
        return "'" + location.given + "' is a folder, not a type library file";
    }
    return std::string();
}

bool ReadFileId(const std::string& path, FileId& id) {
    // No access rights are asked for: reading the identity must work on files that another
    // process holds open, and on files the user may not read. Backup semantics admits folders.
    FileHandle file(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file.Get(), &info))
        return false;
    id.volume = info.dwVolumeSerialNumber;
    id.indexHigh = info.nFileIndexHigh;
    id.indexLow = info.nFileIndexLow;
    return true;
}

const char* PathStateName(PathState state) {
    switch (state) {
    case PathState::ThisFile:
        return "this file";
    case PathState::OtherFile:
        return "another file";
    case PathState::Exists:
        return "exists";
    case PathState::Missing:
        return "missing";
    case PathState::Unreadable:
        return "unreadable";
    }
    return "";
}

bool IsBroken(PathState state) {
    return state == PathState::Missing || state == PathState::Unreadable;
}

PathState ClassifyRegisteredPath(const std::string& registeredPath, const FileLocation* file) {
    if (registeredPath.empty())
        return PathState::Missing;
    std::string path = Searched(registeredPath);
    std::string filePart = path;
    int index = 0;
    Kind kind = KindOf(path);
    if (kind == Kind::Folder)
        return PathState::Missing;
    if (kind == Kind::Missing && !SplitExistingResourceIndex(path, filePart, index))
        return PathState::Missing;
    if (!file)
        return PathState::Exists;
    FileId registeredId, fileId;
    if (!ReadFileId(filePart, registeredId) || !ReadFileId(file->filePath, fileId))
        return PathState::OtherFile;
    int registeredIndex = index == 0 ? 1 : index;
    int fileIndex = file->resourceIndex == 0 ? 1 : file->resourceIndex;
    return registeredId == fileId && registeredIndex == fileIndex ? PathState::ThisFile
                                                                  : PathState::OtherFile;
}

HRESULT ReadLibrary(const FileLocation& location, LibraryFacts& facts) {
    std::string path = location.filePath;
    if (location.resourceIndex != 0)
        path += "\\" + std::to_string(location.resourceIndex);
    LibraryDescription read;
    HRESULT hr = reader::ReadLibrary(ToWide(path), reader::Depth::Facts, read);
    if (FAILED(hr))
        return hr;
    facts.identity = read.Identity();
    facts.libFlags = read.flags;
    facts.guidText = GuidString(read.guid);
    facts.name = ToAnsi(read.name);
    facts.description = ToAnsi(read.documentation);
    facts.typeInfoCount = read.typeInfoCount;
    return S_OK;
}

} // namespace cli
