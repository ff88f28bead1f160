// What the TypeLib keys of the machine's and the user's classes hold: one library version, every
// registered library, the status decision, and removing one identity's registration.
//
// The two branches are read each on its own, HKEY_LOCAL_MACHINE\Software\Classes and
// HKEY_CURRENT_USER\Software\Classes: HKEY_CLASSES_ROOT is Windows' merged view of them, which
// cannot tell whose an entry is (and Wine does not merge them at all).
//
// Reading opens every key for reading only and reads values whole: the console program must
// tell a missing key from an empty value, enumerate locales and platforms, and read paths of
// any length. The key names come from the catalogue's VersionKey and VersionText, so both
// programs look in the same place.
#include "cli/cli.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#include "catalogue/typelibfacts.h"
#include "common/owners.h"
#include "common/registrytext.h"
#include "common/text.h"
#include "reader/reader.h"

namespace cli {

namespace {

constexpr char kTypeLibRoot[] = "TypeLib";
constexpr char kClassesKey[] = "Software\\Classes";

RegKey OpenForReading(HKEY parent, const std::string& path) {
    RegKey key;
    if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        key.Reset();
    return key;
}

HKEY BranchParent(Scope scope) {
    return scope == Scope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

// The branch's classes key, for reading, or with what deleting below it needs.
RegKey OpenBranch(Scope scope, REGSAM access = KEY_READ) {
    RegKey key;
    if (RegOpenKeyExA(BranchParent(scope), kClassesKey, 0, access, key.Put()) != ERROR_SUCCESS)
        key.Reset();
    return key;
}

// A string value read whole; REG_EXPAND_SZ is expanded as its readers would expand it.
bool ReadString(HKEY key, const char* name, std::string& value) {
    std::optional<std::string> text = ReadRegistryText(key, name);
    if (text)
        value = *text;
    return text.has_value();
}

// The default value of parent\subkey.
bool ReadDefault(HKEY parent, const std::string& subkey, std::string& value) {
    std::optional<std::string> text = ReadRegistryText(parent, subkey, nullptr);
    if (text)
        value = *text;
    return text.has_value();
}

std::vector<std::string> AnsiSubkeyNames(HKEY key) {
    std::vector<std::string> names;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        LONG status = RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA)
            continue; // longer than any key name registration writes: not ours to read
        if (status != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

bool IsHex(const std::string& text) {
    return !text.empty() && text.size() <= 8 &&
           text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

std::string IdentityVersionKey(const Identity& identity) {
    return VersionKey(GuidString(identity.guid), identity.major, identity.minor);
}

// "2.a" (hexadecimal key name) to "2.10"; a name of another form is shown as it is.
std::string VersionTextOfKey(const std::string& keyName) {
    size_t dot = keyName.find('.');
    if (dot == std::string::npos || !IsHex(keyName.substr(0, dot)) || !IsHex(keyName.substr(dot + 1)))
        return keyName;
    unsigned long major = std::strtoul(keyName.substr(0, dot).c_str(), nullptr, 16);
    unsigned long minor = std::strtoul(keyName.substr(dot + 1).c_str(), nullptr, 16);
    return std::to_string(major) + "." + std::to_string(minor);
}

// Fills a Registration from an open version key.
void ReadVersionKey(HKEY versionKey, Registration& registration, const FileLocation* file) {
    registration.exists = true;
    (registration.scope == Scope::User ? registration.presence.user : registration.presence.machine) = true;
    ReadString(versionKey, nullptr, registration.description);
    registration.hasFlags = ReadDefault(versionKey, "FLAGS", registration.flags);
    registration.hasHelpDir = ReadDefault(versionKey, "HELPDIR", registration.helpDir);
    for (const std::string& lcidName : AnsiSubkeyNames(versionKey)) {
        if (!IsHex(lcidName))
            continue; // FLAGS, HELPDIR
        RegKey lcidKey = OpenForReading(versionKey, lcidName);
        if (!lcidKey)
            continue;
        for (const std::string& platform : AnsiSubkeyNames(lcidKey.Get())) {
            PathEntry entry;
            if (!ReadDefault(lcidKey.Get(), platform, entry.path))
                continue;
            entry.lcidKey = lcidName;
            entry.lcid = std::strtoul(lcidName.c_str(), nullptr, 16);
            entry.platform = platform;
            entry.state = ClassifyRegisteredPath(entry.path, file);
            entry.scope = registration.scope;
            registration.paths.push_back(entry);
        }
    }
}

bool HasSubkeys(HKEY parent, const std::string& path) {
    RegKey key = OpenForReading(parent, path);
    return key && !AnsiSubkeyNames(key.Get()).empty();
}

// Deletes the identity's keys in the branch, and each key above it that is left with nothing
// registered. The entry's own key names are used, as found, whatever spelling wrote them.
HRESULT DeleteIdentityKeys(const Identity& identity, const PathEntry& entry) {
    RegKey branch = OpenBranch(entry.scope, KEY_READ | KEY_WRITE | DELETE);
    if (!branch)
        return E_ACCESSDENIED;
    HKEY root = branch.Get();
    std::string versionKey = IdentityVersionKey(identity);
    std::string lcidKey = versionKey + "\\" + entry.lcidKey;
    LONG status = RegDeleteKeyA(root, (lcidKey + "\\" + entry.platform).c_str());
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    if (!HasSubkeys(root, lcidKey))
        RegDeleteKeyA(root, lcidKey.c_str());
    RegKey version = OpenForReading(root, versionKey);
    bool localesLeft = false;
    if (version)
        for (const std::string& name : AnsiSubkeyNames(version.Get()))
            localesLeft = localesLeft || IsHex(name);
    version.Reset();
    if (!localesLeft) {
        status = RegDeleteTreeA(root, versionKey.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            return HRESULT_FROM_WIN32(status);
        std::string guidKey = versionKey.substr(0, versionKey.find_last_of('\\'));
        if (!HasSubkeys(root, guidKey))
            RegDeleteKeyA(root, guidKey.c_str());
    }
    return S_OK;
}

// Lists one branch's versions into registrations, merging a version the list already holds
// from the other branch. The user's branch is listed first: its texts are what Windows gives.
void ListBranch(Scope scope, std::vector<Registration>& registrations) {
    RegKey branch = OpenBranch(scope);
    RegKey root = branch ? OpenForReading(branch.Get(), kTypeLibRoot) : RegKey();
    if (!root)
        return;
    size_t fromOtherBranch = registrations.size();
    for (const std::string& guidName : AnsiSubkeyNames(root.Get())) {
        RegKey guidKey = OpenForReading(root.Get(), guidName);
        if (!guidKey)
            continue;
        for (const std::string& versionName : AnsiSubkeyNames(guidKey.Get())) {
            RegKey versionKey = OpenForReading(guidKey.Get(), versionName);
            if (!versionKey)
                continue;
            Registration registration;
            registration.scope = scope;
            registration.guidText = guidName;
            registration.versionKeyName = versionName;
            registration.versionText = VersionTextOfKey(versionName);
            ReadVersionKey(versionKey.Get(), registration, nullptr);
            // Key names compare without regard to case, as the registry compares them.
            auto same = [&](const Registration& listed) {
                return lstrcmpiA(listed.guidText.c_str(), guidName.c_str()) == 0 &&
                       lstrcmpiA(listed.versionKeyName.c_str(), versionName.c_str()) == 0;
            };
            auto end = registrations.begin() + static_cast<std::ptrdiff_t>(fromOtherBranch);
            auto listed = std::find_if(registrations.begin(), end, same);
            if (listed == end) {
                registrations.push_back(std::move(registration));
                continue;
            }
            listed->presence.machine = listed->presence.machine || registration.presence.machine;
            listed->presence.user = listed->presence.user || registration.presence.user;
            listed->paths.insert(listed->paths.end(), registration.paths.begin(), registration.paths.end());
        }
    }
}

const PathEntry* FindEntry(const Registration& registration, const Identity& identity) {
    std::string platform = SysKindName(identity.syskind);
    for (const PathEntry& entry : registration.paths)
        // Key names are case-insensitive: a registrar may have written "Win32".
        if (entry.lcid == identity.lcid && lstrcmpiA(entry.platform.c_str(), platform.c_str()) == 0)
            return &entry;
    return nullptr;
}

// Reads every existing file the registrations name, each once, in one batch of the reader: a
// library that cannot be read from it (the file is damaged, or holds none) makes its entries
// unreadable. Without the reader nothing can be told, and the entries stay as they are.
// File names compare without regard to case, as the file system compares them.
struct FileNameLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                    static_cast<int>(b.size()), TRUE) == CSTR_LESS_THAN;
    }
};

void ReadListedFiles(std::vector<Registration>& registrations) {
    std::map<std::wstring, std::vector<PathEntry*>, FileNameLess> byFile;
    for (Registration& registration : registrations)
        for (PathEntry& entry : registration.paths)
            if (entry.state == PathState::Exists)
                byFile[ToWide(entry.path)].push_back(&entry);
    std::vector<std::wstring> files;
    for (const auto& file : byFile)
        files.push_back(ToWide(file.second.front()->path));
    std::vector<reader::Answer> answers = reader::ReadLibraries(files, reader::Depth::Facts);
    size_t i = 0;
    for (const auto& file : byFile) {
        HRESULT result = i < answers.size() ? answers[i].result : reader::kNoReader;
        ++i;
        if (SUCCEEDED(result) || result == reader::kNoReader || result == reader::kTimedOut)
            continue;
        for (PathEntry* entry : file.second)
            entry->state = PathState::Unreadable;
    }
}

} // namespace

const char* ScopeName(Scope scope) {
    return scope == Scope::User ? "user" : "machine";
}

std::string ScopeKeyName(Scope scope) {
    return std::string(scope == Scope::User ? "HKEY_CURRENT_USER\\" : "HKEY_LOCAL_MACHINE\\") + kClassesKey;
}

const char* PresenceName(Presence presence) {
    if (presence.machine && presence.user)
        return "both";
    if (presence.user)
        return "user";
    return presence.machine ? "machine" : "";
}

Registration ReadRegistration(const Identity& identity, const FileLocation* file, Scope scope) {
    Registration registration;
    registration.scope = scope;
    registration.guidText = GuidString(identity.guid);
    std::string key = IdentityVersionKey(identity);
    registration.versionKeyName = key.substr(key.find_last_of('\\') + 1);
    registration.versionText = VersionText(identity.major, identity.minor);
    RegKey branch = OpenBranch(scope);
    RegKey versionKey = branch ? OpenForReading(branch.Get(), key) : RegKey();
    if (versionKey)
        ReadVersionKey(versionKey.Get(), registration, file);
    return registration;
}

std::vector<Registration> ListRegistrations(std::optional<Scope> scope) {
    std::vector<Registration> registrations;
    if (!scope || *scope == Scope::User)
        ListBranch(Scope::User, registrations);
    if (!scope || *scope == Scope::Machine)
        ListBranch(Scope::Machine, registrations);
    ReadListedFiles(registrations);
    return registrations;
}

Lookup LookUp(const Identity& identity, const FileLocation* file, std::optional<Scope> scope) {
    Lookup lookup;
    if (!scope || *scope == Scope::User)
        lookup.registrations.push_back(ReadRegistration(identity, file, Scope::User));
    if (!scope || *scope == Scope::Machine)
        lookup.registrations.push_back(ReadRegistration(identity, file, Scope::Machine));
    // Windows lays the user's classes over the machine's: the user's entry, where there is one,
    // is the one this user's programs get.
    for (size_t i = 0; i < lookup.registrations.size(); ++i) {
        const Registration& registration = lookup.registrations[i];
        if (!FindEntry(registration, identity))
            continue;
        (registration.scope == Scope::User ? lookup.presence.user : lookup.presence.machine) = true;
        if (!lookup.decision.entry) {
            lookup.deciding = i;
            lookup.decision = DecideStatus(registration, identity);
        }
    }
    if (!lookup.decision.entry) {
        // No entry anywhere: the status is "not registered", shown with the first branch that
        // holds the version key (or the machine's, when none does).
        lookup.deciding = lookup.registrations.size() - 1;
        for (size_t i = 0; i < lookup.registrations.size(); ++i)
            if (lookup.registrations[i].exists) {
                lookup.deciding = i;
                break;
            }
        lookup.decision = DecideStatus(lookup.Deciding(), identity);
    }
    return lookup;
}

StatusDecision DecideStatus(const Registration& registration, const Identity& identity) {
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

int StatusExitCode(Status status) {
    switch (status) {
    case Status::Registered:
        return kExitOk;
    case Status::NotRegistered:
        return kExitNotRegistered;
    case Status::OtherFile:
    case Status::MissingFile:
        return kExitElsewhere;
    }
    return kExitError;
}

const char* StatusName(Status status) {
    switch (status) {
    case Status::Registered:
        return "registered";
    case Status::NotRegistered:
        return "not registered";
    case Status::OtherFile:
        return "registered to another file";
    case Status::MissingFile:
        return "registered to a missing file";
    }
    return "";
}

RemoveOutcome RemoveIdentity(const Identity& identity, const Registration& registration) {
    RemoveOutcome outcome;
    const PathEntry* entry = FindEntry(registration, identity);
    outcome.result = UnregisterLibrary(identity, registration.scope);
    if (SUCCEEDED(outcome.result) || !entry)
        return outcome;
    // The system service refused. Delete the keys directly only when it could not have
    // succeeded: the registered file is gone, holds no library it could load, or is damaged
    // (then the service was not even asked). Any other refusal (access denied, a file too
    // slow to read, no reader to read it with) is reported as it is.
    bool unreadable = entry->state == PathState::Missing || outcome.result == reader::kDamaged;
    if (!unreadable && outcome.result != reader::kTimedOut && outcome.result != reader::kNoReader) {
        LibraryDescription facts;
        HRESULT read = reader::ReadLibrary(ToWide(entry->path), reader::Depth::Facts, facts);
        unreadable = FAILED(read) && read != reader::kTimedOut && read != reader::kNoReader;
    }
    if (!unreadable)
        return outcome;
    outcome.result = DeleteIdentityKeys(identity, *entry);
    outcome.removedKeys = true;
    return outcome;
}

} // namespace cli
