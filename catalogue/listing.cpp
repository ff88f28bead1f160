// Every registered library version, and the status Windows gives this user for one identity.
#include "catalogue/catalogue.h"

#include <algorithm>
#include <map>

#include "catalogue/registrykeys.h"
#include "common/owners.h"
#include "common/registrytext.h"
#include "common/text.h"

using namespace catalogue_detail;

namespace {

// "2.a" (hexadecimal key name) to "2.10"; a name of another form is shown as it is.
std::wstring VersionTextOfKey(const std::wstring& keyName) {
    WORD major = 0, minor = 0;
    if (!ParseVersionKeyName(keyName, major, minor))
        return keyName;
    return DecimalText(major) + L"." + DecimalText(minor);
}

// Lists one branch's versions into registrations (of library alone, when given), merging a
// version the list already holds from the other branch. The user's branch is listed first: its
// texts are what Windows gives.
void ListBranch(Scope scope, const GUID* library, std::vector<Registration>& registrations) {
    RegKey branch = OpenBranch(scope);
    RegKey root = branch ? OpenForReading(branch.Get(), kTypeLibName) : RegKey();
    if (!root)
        return;
    size_t fromOtherBranch = registrations.size();
    std::vector<std::wstring> guidNames =
        library ? std::vector<std::wstring>{GuidText(*library)} : SubkeyNames(root.Get());
    for (const std::wstring& guidName : guidNames) {
        RegKey guidKey = OpenForReading(root.Get(), guidName);
        if (!guidKey)
            continue;
        for (const std::wstring& versionName : SubkeyNames(guidKey.Get())) {
            RegKey versionKey = OpenForReading(guidKey.Get(), versionName);
            if (!versionKey)
                continue;
            Registration registration;
            registration.scope = scope;
            registration.guidText = guidName;
            registration.versionKeyName = versionName;
            registration.versionText = VersionTextOfKey(versionName);
            ReadVersionKey(versionKey.Get(), registration, nullptr);
            auto same = [&](const Registration& listed) {
                return EqualIgnoringCase(listed.guidText, guidName) &&
                       EqualIgnoringCase(listed.versionKeyName, versionName);
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

// File names compare without regard to case, as the file system compares them.
struct FileNameLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                    static_cast<int>(b.size()), TRUE) == CSTR_LESS_THAN;
    }
};

// Reads every existing file the registrations name, each once, in one batch of the reader: a
// library that cannot be read from it (the file is damaged, or holds none) makes its entries
// unreadable. Without the reader, or after a time-out, nothing can be told, and the entries
// stay as they are.
void ReadListedFiles(std::vector<Registration>& registrations) {
    std::map<std::wstring, std::vector<PathEntry*>, FileNameLess> byFile;
    for (Registration& registration : registrations)
        for (PathEntry& entry : registration.paths)
            if (entry.state == PathState::Exists)
                byFile[entry.path].push_back(&entry);
    std::vector<std::wstring> files;
    for (const auto& file : byFile)
        files.push_back(file.first);
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

std::vector<Registration> ListRegistrations(std::optional<Scope> scope, const GUID* library) {
    std::vector<Registration> registrations;
    if (!scope || *scope == Scope::User)
        ListBranch(Scope::User, library, registrations);
    if (!scope || *scope == Scope::Machine)
        ListBranch(Scope::Machine, library, registrations);
    ReadListedFiles(registrations);
    return registrations;
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

Lookup LookUp(const LibraryIdentity& identity, const FileLocation* file, std::optional<Scope> scope) {
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
        lookup.presence.Add(registration.scope);
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

std::wstring BranchKeyName(Scope scope) {
    return std::wstring(scope == Scope::User ? L"HKEY_CURRENT_USER\\" : L"HKEY_LOCAL_MACHINE\\") +
           kClassesKey;
}

const char* ScopeName(Scope scope) {
    return scope == Scope::User ? "user" : "machine";
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

const char* PresenceName(Presence presence) {
    if (presence.machine && presence.user)
        return "both";
    if (presence.user)
        return "user";
    return presence.machine ? "machine" : "";
}

std::wstring Registration::KeyName() const {
    return BranchKeyName(scope) + L"\\" + kTypeLibName + L"\\" + guidText + L"\\" + versionKeyName;
}

std::vector<InterfaceKeyState> ReadInterfaceKeys(const std::vector<std::wstring>& iids, Scope scope,
                                                 const LibraryIdentity& identity) {
    std::vector<InterfaceKeyState> states;
    for (const std::wstring& iid : iids) {
        InterfaceKeyState state;
        state.iid = iid;
        for (View view : RegistryViews()) {
            InterfaceKeyState::InView inView;
            inView.view = view;
            RegKey key = OpenInView(scope, std::wstring(kClassesKey) + L"\\" + InterfaceKeyPath(iid), view);
            inView.present = static_cast<bool>(key);
            inView.namesLibrary = inView.present && NamesLibrary(key.Get(), identity);
            state.views.push_back(inView);
        }
        states.push_back(std::move(state));
    }
    return states;
}
