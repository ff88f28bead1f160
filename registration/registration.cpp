#include "registration/registration.h"

#include <algorithm>
#include <utility>

#include "common/owners.h"
#include "common/paths.h"
#include "common/registrytext.h"
#include "common/text.h"
#include "registration/classesroot.h"

namespace {

// The failures after which a registration's file cannot be told apart from a good one: the
// reader was too slow or is missing. Nothing is deleted on their account.
bool Undecided(HRESULT hr) {
    return hr == reader::kTimedOut || hr == reader::kNoReader;
}

// Holds each file that unregistering the identity would load, walked by a child: the one its own
// key names, and the one the system's look-up finds (which falls back to other locales). A file
// that is gone or holds no library is no danger: the system's unregistration fails on it by
// itself. When every such file is gone, allGone is set: the service could only fail, and there is
// nothing for a child to walk.
HRESULT HoldRegisteredFiles(const LibraryIdentity& identity, std::vector<FileHandle>& held, bool& allGone) {
    std::vector<std::wstring> files;
    if (const char* platform = PlatformKeyName(identity.syskind)) {
        std::wstring key =
            VersionKeyOf(identity) + L"\\" + ToWide(LowerHex(identity.lcid)) + L"\\" + ToWide(platform);
        if (std::optional<std::wstring> own = ReadRegistryText(HKEY_CLASSES_ROOT, key, nullptr))
            files.push_back(*own);
    }
    Bstr found;
    if (SUCCEEDED(QueryPathOfRegTypeLib(identity.guid, identity.major, identity.minor, identity.lcid,
                                        found.Put()))) {
        std::wstring file = found.Get() ? std::wstring(found.Get()) : std::wstring(); // up to its first NUL
        // Mostly the very path of its own key: held and walked once.
        if (files.empty() || !EqualIgnoringCase(file, files.front()))
            files.push_back(std::move(file));
    }
    allGone = !files.empty() && std::all_of(files.begin(), files.end(), [](const std::wstring& file) {
        return ClassifyRegisteredPath(file, nullptr) == PathState::Missing;
    });
    if (allGone)
        return S_OK;
    for (const std::wstring& file : files) {
        FileHandle holding;
        LibraryDescription description;
        HRESULT hr = reader::HoldWalked(file, holding, description);
        if (hr == reader::kDamaged || Undecided(hr) || hr == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION) ||
            hr == HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION))
            return hr;
        held.push_back(std::move(holding));
    }
    return S_OK;
}

bool HasSubkeys(HKEY parent, const std::wstring& path) {
    RegKey key;
    return RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS &&
           !SubkeyNames(key.Get()).empty();
}

// Deletes the identity's platform key in the branch, and each key above it that is left with
// nothing registered. The entry's own key names are used, as found, whatever spelling wrote
// them. versionGone tells whether the version key went too (no other locale was left in it).
HRESULT DeleteIdentityKeys(const LibraryIdentity& identity, const PathEntry& entry, bool& versionGone) {
    RegKey branch;
    LSTATUS status =
        RegOpenKeyExW(BranchRoot(entry.scope), kClassesKey, 0, KEY_READ | KEY_WRITE | DELETE, branch.Put());
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    HKEY root = branch.Get();
    std::wstring versionKey = VersionKeyOf(identity);
    std::wstring lcidKey = versionKey + L"\\" + entry.lcidKey;
    status = RegDeleteKeyW(root, (lcidKey + L"\\" + entry.platform).c_str());
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    if (!HasSubkeys(root, lcidKey))
        RegDeleteKeyW(root, lcidKey.c_str());
    bool localesLeft = false;
    RegKey version;
    if (RegOpenKeyExW(root, versionKey.c_str(), 0, KEY_READ, version.Put()) == ERROR_SUCCESS)
        for (const std::wstring& name : SubkeyNames(version.Get()))
            localesLeft = localesLeft || IsLocaleKeyName(name);
    version.Reset();
    versionGone = !localesLeft;
    if (!localesLeft) {
        status = RegDeleteTreeW(root, versionKey.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            return HRESULT_FROM_WIN32(status);
        std::wstring guidKey = versionKey.substr(0, versionKey.find_last_of(L'\\'));
        if (!HasSubkeys(root, guidKey))
            RegDeleteKeyW(root, guidKey.c_str());
    }
    return S_OK;
}

// Whether the key still names identity when it is about to go: another program may have
// registered something over it since the index read it.
bool StillNames(HKEY interfaces, const std::wstring& iid, const LibraryIdentity& identity) {
    RegKey key;
    return RegOpenKeyExW(interfaces, iid.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS &&
           NamesLibrary(key.Get(), identity);
}

} // namespace

HRESULT RegisterLibraryFile(const std::wstring& path, Scope scope) {
    // For the user alone, the system's registration writes with HKEY_CLASSES_ROOT mapped onto
    // the user's classes.
    if (scope == Scope::User)
        return InUserClassesRoot([&] { return RegisterLibraryFile(path, Scope::Machine); });
    // A path no loader can take is refused before it is made absolute: a NUL inside would cut it.
    HRESULT hr = reader::RefusePath(path);
    if (FAILED(hr))
        return hr;
    std::wstring fullPath;
    if ((hr = FullPath(path, fullPath)) != S_OK)
        return hr;
    // The file is untrusted: it is loaded only once held and walked by a child as registering
    // walks it, every type info included, and stays held until it is registered.
    reader::WalkedLibrary walked;
    if ((hr = reader::LoadWalked(fullPath, walked)) != S_OK)
        return hr;
    return RegisterTypeLib(walked.library.Get(), const_cast<LPOLESTR>(fullPath.c_str()), nullptr);
}

HRESULT UnregisterLibrary(const LibraryIdentity& identity, Scope scope) {
    if (scope == Scope::User)
        return InUserClassesRoot([&] {
            HRESULT hr = UnregisterLibrary(identity, Scope::Machine);
            if (hr == S_OK) {
                RemoveIfEmpty(HKEY_CLASSES_ROOT, kTypeLibName);
                RemoveIfEmpty(HKEY_CLASSES_ROOT, kInterfaceName);
            }
            return hr;
        });
    std::vector<FileHandle> held;
    bool allGone = false;
    HRESULT hr = HoldRegisteredFiles(identity, held, allGone);
    if (FAILED(hr))
        return hr;
    // Not asked: loading the file is the service's first step.
    if (allGone)
        return TYPE_E_CANTLOADLIBRARY;
    return UnRegisterTypeLib(identity.guid, identity.major, identity.minor, identity.lcid, identity.syskind);
}

InterfaceIndex::ByLibraryVersion& InterfaceIndex::Branch(Scope scope) {
    auto found = branches_.find(scope);
    if (found != branches_.end())
        return found->second;
    ByLibraryVersion& keys = branches_[scope];
    for (View view : RegistryViews()) {
        RegKey interfaces;
        if (RegOpenKeyExW(BranchRoot(scope), kInterfaceKey, 0, KEY_READ | ViewAccess(view),
                          interfaces.Put()) != ERROR_SUCCESS)
            continue;
        for (std::wstring& iid : SubkeyNames(interfaces.Get())) {
            RegKey key;
            if (RegOpenKeyExW(interfaces.Get(), iid.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
                continue;
            std::wstring named = NamedLibraryVersion(key.Get());
            if (!named.empty())
                keys[named].push_back({view, std::move(iid)});
        }
    }
    return keys;
}

const std::vector<InterfaceInView>& InterfaceIndex::Naming(const LibraryIdentity& identity, Scope scope) {
    return Branch(scope)[LibraryVersionName(identity)];
}

std::vector<InterfaceInView> InterfaceIndex::Delete(const LibraryIdentity& identity, Scope scope) {
    std::vector<InterfaceInView> deleted;
    for (InterfaceInView& key : std::exchange(Branch(scope)[LibraryVersionName(identity)], {})) {
        RegKey interfaces;
        if (RegOpenKeyExW(BranchRoot(scope), kInterfaceKey, 0,
                          KEY_READ | KEY_WRITE | DELETE | ViewAccess(key.view),
                          interfaces.Put()) == ERROR_SUCCESS &&
            StillNames(interfaces.Get(), key.iid, identity) &&
            RegDeleteTreeW(interfaces.Get(), key.iid.c_str()) == ERROR_SUCCESS)
            deleted.push_back(std::move(key));
    }
    return deleted;
}

Removal RemoveRegistration(const LibraryIdentity& identity, Scope scope, InterfaceIndex& index) {
    Removal removal;
    removal.result = UnregisterLibrary(identity, scope);
    if (SUCCEEDED(removal.result) || Undecided(removal.result))
        return removal;
    Registration registration = ReadRegistration(identity, nullptr, scope);
    const PathEntry* entry = FindEntry(registration, identity);
    if (!entry)
        return removal;
    // The keys go only when the service could not have succeeded: the registered file is gone,
    // holds no library it could load, or is damaged (then the service was not even asked).
    bool unreadable = entry->state == PathState::Missing || removal.result == reader::kDamaged;
    if (!unreadable) {
        LibraryDescription description;
        HRESULT read = reader::ReadLibrary(entry->path, reader::Depth::Facts, description);
        unreadable = FAILED(read) && !Undecided(read);
    }
    if (!unreadable)
        return removal;
    bool versionGone = false;
    removal.result = DeleteIdentityKeys(identity, *entry, versionGone);
    removal.deletedKeys = true;
    // While another locale or platform of the version stays registered, its interface keys
    // still serve it.
    if (SUCCEEDED(removal.result) && versionGone)
        removal.deletedInterfaces = index.Delete(identity, entry->scope);
    return removal;
}
