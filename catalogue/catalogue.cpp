#include "catalogue/catalogue.h"

#include <cwchar>

#include "catalogue/typelibfacts.h"
#include "common/owners.h"
#include "common/paths.h"
#include "common/registrytext.h"
#include "common/text.h"
#include "catalogue/registrykeys.h"

const wchar_t kClassesKey[] = L"Software\\Classes";
const wchar_t kTypeLibName[] = L"TypeLib";
const wchar_t kInterfaceName[] = L"Interface";
const wchar_t kClassName[] = L"CLSID";

namespace {

// A path with no folder part is found as loading the library finds it: on the search path.
std::wstring Searched(const std::wstring& path) {
    std::wstring found;
    if (path.find_first_of(L"\\/:") != std::wstring::npos || !SearchFile(path, found))
        return path;
    return found;
}

struct FileId {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool operator==(const FileId& other) const {
        return volume == other.volume && indexHigh == other.indexHigh && indexLow == other.indexLow;
    }
};

// Up to eight hexadecimal digits: a locale key's name, each half of a version key's name.
bool IsHex(const std::wstring& text) {
    return !text.empty() && text.size() <= 8 &&
           text.find_first_not_of(L"0123456789abcdefABCDEF") == std::wstring::npos;
}

bool ReadFileId(const std::wstring& path, FileId& id) {
    // No access rights are asked for: reading the identity must work on files that another
    // process holds open, and on files the user may not read. Backup semantics admits folders.
    FileHandle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file || !GetFileInformationByHandle(file.Get(), &info))
        return false;
    id = FileId{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

} // namespace

namespace catalogue_detail {

Kind KindOf(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return Kind::Missing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? Kind::Folder : Kind::File;
}

bool SplitExistingResourceIndex(const std::wstring& path, std::wstring& file, int& index) {
    std::wstring head;
    int number = 0;
    if (!SplitResourceIndex(path, head, number) || KindOf(head) != Kind::File)
        return false;
    file = head;
    index = number;
    return true;
}

// ---- Registry -------------------------------------------------------------------------------

RegKey OpenForReading(HKEY parent, const std::wstring& path) {
    RegKey key;
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        key.Reset();
    return key;
}

RegKey OpenBranch(Scope scope) {
    return OpenForReading(BranchRoot(scope), kClassesKey);
}

void ReadVersionKey(HKEY versionKey, Registration& registration, const FileLocation* file) {
    registration.exists = true;
    registration.presence.Add(registration.scope);
    registration.description =
        ReadRegistryText(versionKey, static_cast<const wchar_t*>(nullptr)).value_or(L"");
    registration.flags = ReadRegistryText(versionKey, std::wstring(L"FLAGS"), nullptr);
    registration.helpDir = ReadRegistryText(versionKey, std::wstring(L"HELPDIR"), nullptr);
    for (const std::wstring& lcidName : SubkeyNames(versionKey)) {
        if (!IsLocaleKeyName(lcidName))
            continue; // FLAGS, HELPDIR
        RegKey lcidKey = OpenForReading(versionKey, lcidName);
        if (!lcidKey)
            continue;
        for (const std::wstring& platform : SubkeyNames(lcidKey.Get())) {
            std::optional<std::wstring> path = ReadRegistryText(lcidKey.Get(), platform, nullptr);
            if (!path)
                continue;
            PathEntry entry;
            entry.path = *path;
            entry.lcidKey = lcidName;
            entry.lcid = std::wcstoul(lcidName.c_str(), nullptr, 16);
            entry.platform = platform;
            entry.state = ClassifyRegisteredPath(entry.path, file);
            entry.scope = registration.scope;
            registration.paths.push_back(entry);
        }
    }
}

} // namespace catalogue_detail

using namespace catalogue_detail;

HKEY BranchRoot(Scope scope) {
    return scope == Scope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

std::wstring InterfaceKeyPath(const std::wstring& iid) {
    return std::wstring(kInterfaceName) + L"\\" + iid;
}

bool IsInterfaceKey(const std::wstring& path) {
    return PathWithin(path, kInterfaceName);
}

std::wstring VersionKeyOf(const LibraryIdentity& identity) {
    return ToWide(VersionKey(ToAnsi(GuidText(identity.guid)), identity.major, identity.minor));
}

std::wstring VersionKeyNameOf(const LibraryIdentity& identity) {
    std::wstring key = VersionKeyOf(identity);
    return key.substr(key.find_last_of(L'\\') + 1);
}

bool ParseVersionKeyName(const std::wstring& name, WORD& major, WORD& minor) {
    size_t dot = name.find(L'.');
    if (dot == std::wstring::npos || !IsHex(name.substr(0, dot)) || !IsHex(name.substr(dot + 1)))
        return false;
    unsigned long high = std::wcstoul(name.substr(0, dot).c_str(), nullptr, 16);
    unsigned long low = std::wcstoul(name.substr(dot + 1).c_str(), nullptr, 16);
    if (high > 0xFFFF || low > 0xFFFF)
        return false;
    major = static_cast<WORD>(high);
    minor = static_cast<WORD>(low);
    return true;
}

bool IsLocaleKeyName(const std::wstring& name) {
    return IsHex(name);
}

const char* PlatformKeyName(SYSKIND syskind) {
    switch (syskind) {
    case SYS_WIN16:
        return "win16";
    case SYS_WIN32:
        return "win32";
    case SYS_WIN64:
        return "win64";
    default:
        return nullptr;
    }
}

std::optional<SYSKIND> SysKindOfPlatformKey(const std::wstring& name) {
    for (SYSKIND kind : {SYS_WIN16, SYS_WIN32, SYS_WIN64})
        if (EqualIgnoringCase(name, ToWide(PlatformKeyName(kind))))
            return kind;
    return std::nullopt;
}

PathState ClassifyRegisteredPath(const std::wstring& registeredPath, const FileLocation* file) {
    if (registeredPath.empty())
        return PathState::Missing;
    std::wstring path = Searched(registeredPath);
    std::wstring filePart = path;
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

Registration ReadRegistration(const LibraryIdentity& identity, const FileLocation* file, Scope scope) {
    Registration registration;
    registration.scope = scope;
    registration.guidText = GuidText(identity.guid);
    registration.versionKeyName = VersionKeyNameOf(identity);
    registration.versionText = ToWide(VersionText(identity.major, identity.minor));
    RegKey branch = OpenBranch(scope);
    RegKey versionKey = branch ? OpenForReading(branch.Get(), VersionKeyOf(identity)) : RegKey();
    if (versionKey)
        ReadVersionKey(versionKey.Get(), registration, file);
    return registration;
}

const PathEntry* FindEntry(const Registration& registration, const LibraryIdentity& identity) {
    const char* platform = PlatformKeyName(identity.syskind);
    if (!platform)
        return nullptr;
    for (const PathEntry& entry : registration.paths)
        if (entry.lcid == identity.lcid && SysKindOfPlatformKey(entry.platform) == identity.syskind)
            return &entry;
    return nullptr;
}

StatusDecision DecideStatus(const Registration& registration, const LibraryIdentity& identity) {
    StatusDecision decision;
    decision.entry = FindEntry(registration, identity);
    if (!decision.entry)
        decision.status = Status::NotRegistered;
    else if (decision.entry->state == PathState::ThisFile)
        decision.status = Status::Registered;
    else if (decision.entry->state == PathState::Missing)
        decision.status = Status::MissingFile;
    else
        decision.status = Status::OtherFile;
    return decision;
}
