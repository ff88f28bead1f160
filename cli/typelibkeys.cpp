// What HKEY_CLASSES_ROOT\TypeLib holds: one library version, every registered library, the
// status decision, and removing one identity's registration.
//
// Reading opens every key for reading only and reads values whole: the console program must
// tell a missing key from an empty value, enumerate locales and platforms, and read paths of
// any length. The key names come from the catalogue's VersionKey and VersionText, so both
// programs look in the same place.
#include "cli/cli.h"

#include <cstdlib>

#include "catalogue/typelibfacts.h"
#include "common/owners.h"
#include "common/registrytext.h"
#include "common/text.h"

namespace cli {

namespace {

constexpr char kTypeLibRoot[] = "TypeLib";

RegKey OpenForReading(HKEY parent, const std::string& path) {
    RegKey key;
    if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
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

std::vector<std::string> SubkeyNames(HKEY key) {
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
    ReadString(versionKey, nullptr, registration.description);
    registration.hasFlags = ReadDefault(versionKey, "FLAGS", registration.flags);
    registration.hasHelpDir = ReadDefault(versionKey, "HELPDIR", registration.helpDir);
    for (const std::string& lcidName : SubkeyNames(versionKey)) {
        if (!IsHex(lcidName))
            continue; // FLAGS, HELPDIR
        RegKey lcidKey = OpenForReading(versionKey, lcidName);
        if (!lcidKey)
            continue;
        for (const std::string& platform : SubkeyNames(lcidKey.Get())) {
            PathEntry entry;
            if (!ReadDefault(lcidKey.Get(), platform, entry.path))
                continue;
            entry.lcidKey = lcidName;
            entry.lcid = std::strtoul(lcidName.c_str(), nullptr, 16);
            entry.platform = platform;
            entry.state = ClassifyRegisteredPath(entry.path, file);
            registration.paths.push_back(entry);
        }
    }
}

bool HasSubkeys(HKEY parent, const std::string& path) {
    RegKey key = OpenForReading(parent, path);
    return key && !SubkeyNames(key.Get()).empty();
}

// Deletes the identity's keys, and each key above it that is left with nothing registered.
// The entry's own key names are used, as found, whatever spelling wrote them.
HRESULT DeleteIdentityKeys(const Identity& identity, const PathEntry& entry) {
    std::string versionKey = IdentityVersionKey(identity);
    std::string lcidKey = versionKey + "\\" + entry.lcidKey;
    LONG status = RegDeleteKeyA(HKEY_CLASSES_ROOT, (lcidKey + "\\" + entry.platform).c_str());
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    if (!HasSubkeys(HKEY_CLASSES_ROOT, lcidKey))
        RegDeleteKeyA(HKEY_CLASSES_ROOT, lcidKey.c_str());
    RegKey version = OpenForReading(HKEY_CLASSES_ROOT, versionKey);
    bool localesLeft = false;
    if (version)
        for (const std::string& name : SubkeyNames(version.Get()))
            localesLeft = localesLeft || IsHex(name);
    version.Reset();
    if (!localesLeft) {
        status = RegDeleteTreeA(HKEY_CLASSES_ROOT, versionKey.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            return HRESULT_FROM_WIN32(status);
        std::string guidKey = versionKey.substr(0, versionKey.find_last_of('\\'));
        if (!HasSubkeys(HKEY_CLASSES_ROOT, guidKey))
            RegDeleteKeyA(HKEY_CLASSES_ROOT, guidKey.c_str());
    }
    return S_OK;
}

const PathEntry* FindEntry(const Registration& registration, const Identity& identity) {
    std::string platform = SysKindName(identity.syskind);
    for (const PathEntry& entry : registration.paths)
        // Key names are case-insensitive: a registrar may have written "Win32".
        if (entry.lcid == identity.lcid && lstrcmpiA(entry.platform.c_str(), platform.c_str()) == 0)
            return &entry;
    return nullptr;
}

} // namespace

Registration ReadRegistration(const Identity& identity, const FileLocation* file) {
    Registration registration;
    registration.guidText = GuidString(identity.guid);
    std::string key = IdentityVersionKey(identity);
    registration.versionKeyName = key.substr(key.find_last_of('\\') + 1);
    registration.versionText = VersionText(identity.major, identity.minor);
    RegKey versionKey = OpenForReading(HKEY_CLASSES_ROOT, key);
    if (versionKey)
        ReadVersionKey(versionKey.Get(), registration, file);
    return registration;
}

std::vector<Registration> ListRegistrations() {
    std::vector<Registration> registrations;
    RegKey root = OpenForReading(HKEY_CLASSES_ROOT, kTypeLibRoot);
    if (!root)
        return registrations;
    for (const std::string& guidName : SubkeyNames(root.Get())) {
        RegKey guidKey = OpenForReading(root.Get(), guidName);
        if (!guidKey)
            continue;
        for (const std::string& versionName : SubkeyNames(guidKey.Get())) {
            RegKey versionKey = OpenForReading(guidKey.Get(), versionName);
            if (!versionKey)
                continue;
            Registration registration;
            registration.guidText = guidName;
            registration.versionKeyName = versionName;
            registration.versionText = VersionTextOfKey(versionName);
            ReadVersionKey(versionKey.Get(), registration, nullptr);
            registrations.push_back(std::move(registration));
        }
    }
    return registrations;
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
    outcome.result = UnregisterLibrary(identity);
    if (SUCCEEDED(outcome.result) || !entry)
        return outcome;
    // The system service refused. Delete the keys directly only when it could not have
    // succeeded: the registered file is gone or holds no library it could load. Any other
    // refusal (access denied, say) is reported as it is.
    bool loadable = false;
    if (entry->state != PathState::Missing) {
        ComPtr<ITypeLib> library;
        loadable = SUCCEEDED(LoadTypeLibEx(ToWide(entry->path).c_str(), REGKIND_NONE, library.Put()));
    }
    if (loadable)
        return outcome;
    outcome.result = DeleteIdentityKeys(identity, *entry);
    outcome.removedKeys = true;
    return outcome;
}

} // namespace cli
