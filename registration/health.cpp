#include "registration/health.h"

#include <algorithm>
#include <map>
#include <set>

#include "common/owners.h"
#include "common/text.h"
#include "registration/classesroot.h"
#include "registration/registration.h"

namespace {

// One registered library version, as the checks see it.
struct Version {
    const Registration* registration = nullptr;
    GUID guid = GUID_NULL;
    WORD major = 0, minor = 0;
    bool parsed = false;
    std::wstring goodFile; // a registered file that declares this very version, if any

    unsigned long Number() const { return (static_cast<unsigned long>(major) << 16) | minor; }
    LibraryIdentity IdentityOf(const PathEntry& entry) const {
        return {guid, major, minor, entry.lcid,
                SysKindOfPlatformKey(entry.platform).value_or(kAssumedSysKind)};
    }
    // Whether a file declares this library version, whatever its locale and platform: the file
    // serves each entry of the version.
    bool DeclaredBy(const LibraryDescription& description) const {
        return IsEqualGUID(description.guid, guid) && description.major == major &&
               description.minor == minor;
    }
};

std::wstring EntryKeyName(const Registration& registration, const PathEntry& entry) {
    return BranchKeyName(entry.scope) + L"\\" + kTypeLibName + L"\\" + registration.guidText + L"\\" +
           registration.versionKeyName + L"\\" + entry.lcidKey + L"\\" + entry.platform;
}

class Checker {
  public:
    explicit Checker(const CheckRequest& request) : request_(request) {}

    CheckReport Run() {
        const GUID* library = request_.library ? &*request_.library : nullptr;
        registrations_ = ListRegistrations(request_.scope, library);
        for (const Registration& registration : registrations_)
            versions_.push_back(VersionOf(registration));
        // Looked up once per version and once per interface key: by name, not by a search.
        for (const Version& version : versions_) {
            byName_.emplace(version.registration->guidText + L"\\" + version.registration->versionKeyName,
                            &version);
            if (version.parsed) {
                unsigned long& newest = newest_[GuidText(version.guid)];
                newest = std::max(newest, version.Number());
            }
        }
        if (request_.version)
            report_.libraries = 1;
        else
            report_.libraries = versions_.size();
        CheckRequestedVersion();
        for (const Version& version : versions_)
            CheckVersion(version);
        CheckInterfaces();
        return std::move(report_);
    }

  private:
    Version VersionOf(const Registration& registration) {
        Version version;
        version.registration = &registration;
        version.parsed = ParseGuid(registration.guidText, version.guid) &&
                         ParseVersionKeyName(registration.versionKeyName, version.major, version.minor);
        for (const PathEntry& entry : registration.paths) {
            if (entry.state != PathState::Exists || !version.goodFile.empty())
                continue;
            LibraryDescription description; // answered from what the batch read remembered
            if (SUCCEEDED(reader::ReadLibrary(entry.path, reader::Depth::Facts, description)) &&
                version.DeclaredBy(description)) {
                version.goodFile = entry.path;
            }
        }
        return version;
    }

    bool IsRequested(const Version& version) const {
        return request_.version && version.major == request_.version->first &&
               version.minor == request_.version->second;
    }

    // An older version whose files are all gone, while a newer one of the library is registered.
    bool IsStale(const Version& version) const {
        if (!version.parsed || version.registration->paths.empty())
            return false;
        for (const PathEntry& entry : version.registration->paths)
            if (entry.state != PathState::Missing || entry.path.empty())
                return false;
        return newest_.at(GuidText(version.guid)) > version.Number();
    }

    void Add(Finding finding) { report_.findings.push_back(std::move(finding)); }

    Finding Make(FindingKind kind, const Version& version, const std::wstring& key, std::wstring detail,
                 HRESULT clientError) {
        Finding finding;
        finding.kind = kind;
        finding.warning = clientError == S_OK;
        finding.scope = version.registration ? version.registration->scope : Scope::Machine;
        finding.key = key;
        finding.detail = std::move(detail);
        finding.clientError = clientError;
        finding.library = {version.guid, version.major, version.minor, request_.lcid.value_or(0),
                           request_.syskind.value_or(kAssumedSysKind)};
        return finding;
    }

    // The version a client asks for: its key, and its entry for the client's locale and platform.
    void CheckRequestedVersion() {
        if (!request_.version || !request_.library)
            return;
        for (const Version& version : versions_)
            if (IsRequested(version))
                return CheckRequestedEntry(version);
        Version missing;
        missing.guid = *request_.library;
        missing.major = request_.version->first;
        missing.minor = request_.version->second;
        // Names the version key alone, which holds every locale and platform.
        LibraryIdentity identity;
        identity.guid = missing.guid;
        identity.major = missing.major;
        identity.minor = missing.minor;
        Scope scope = request_.scope.value_or(Scope::Machine);
        Finding finding =
            Make(FindingKind::NoPath, missing, BranchKeyName(scope) + L"\\" + VersionKeyOf(identity),
                 L"does not exist: the library is not registered", TYPE_E_LIBNOTREGISTERED);
        finding.scope = scope;
        Add(std::move(finding));
    }

    void CheckRequestedEntry(const Version& version) {
        if (!request_.lcid || !request_.syskind)
            return;
        const Registration& registration = *version.registration;
        LibraryIdentity identity{version.guid, version.major, version.minor, *request_.lcid,
                                 *request_.syskind};
        for (Scope scope : {Scope::User, Scope::Machine}) {
            if (!registration.presence.In(scope))
                continue;
            bool found = false;
            for (const PathEntry& entry : registration.paths)
                found = found || (entry.scope == scope && entry.lcid == identity.lcid &&
                                  SysKindOfPlatformKey(entry.platform) == identity.syskind);
            if (found)
                continue;
            const char* platform = PlatformKeyName(identity.syskind);
            Finding finding = Make(
                FindingKind::NoPath, version,
                BranchKeyName(scope) + L"\\" + VersionKeyOf(identity) + L"\\" +
                    ToWide(LowerHex(identity.lcid)) + L"\\" + ToWide(platform ? platform : ""),
                L"does not exist: no path for the library's locale and platform", TYPE_E_LIBNOTREGISTERED);
            finding.scope = scope;
            Add(std::move(finding));
        }
    }

    void CheckVersion(const Version& version) {
        const Registration& registration = *version.registration;
        bool stale = IsStale(version);
        for (const PathEntry& entry : registration.paths) {
            Finding finding;
            std::wstring key = EntryKeyName(registration, entry);
            if (stale) {
                finding = Make(
                    FindingKind::StaleVersion, version, key,
                    L"names " + entry.path + L", which is gone, while a newer version is registered", S_OK);
                finding.repair = RepairKind::RemoveVersion;
            } else if (entry.path.empty()) {
                finding = Make(FindingKind::NoPath, version, key, L"is empty", TYPE_E_LIBNOTREGISTERED);
            } else if (entry.state == PathState::Missing) {
                finding = Make(FindingKind::FileMissing, version, key,
                               L"names " + entry.path + L", which is missing", TYPE_E_CANTLOADLIBRARY);
            } else if (entry.state == PathState::Unreadable) {
                finding = Make(FindingKind::FileUnreadable, version, key,
                               L"names " + entry.path + L", which holds no readable type library",
                               TYPE_E_CANTLOADLIBRARY);
            } else {
                LibraryDescription description;
                if (FAILED(reader::ReadLibrary(entry.path, reader::Depth::Facts, description)) ||
                    version.DeclaredBy(description))
                    continue;
                finding =
                    Make(FindingKind::FileOtherLibrary, version, key,
                         L"names " + entry.path + L", which declares " + GuidText(description.guid) + L" " +
                             DecimalText(description.major) + L"." + DecimalText(description.minor),
                         TYPE_E_LIBNOTREGISTERED);
            }
            finding.scope = entry.scope;
            finding.file = entry.path;
            finding.library = version.IdentityOf(entry);
            Add(std::move(finding));
        }
        if (registration.paths.empty())
            Add(Make(FindingKind::NoPath, version, registration.KeyName(),
                     L"holds no path for any locale or platform", TYPE_E_LIBNOTREGISTERED));
        const std::wstring helpDir = registration.helpDir.value_or(L"");
        DWORD attributes = GetFileAttributesW(helpDir.c_str());
        if (!helpDir.empty() &&
            (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)))
            Add(Make(FindingKind::HelpDirMissing, version, registration.KeyName() + L"\\HELPDIR",
                     L"names " + helpDir + L", which is not a folder: help is not found", S_OK));
    }

    const Version* VersionNamed(const InterfaceKey& key) const {
        if (!key.typeLib || !key.typeLibVersion)
            return nullptr;
        auto found = byName_.find(*key.typeLib + L"\\" + *key.typeLibVersion);
        return found == byName_.end() ? nullptr : found->second;
    }

    std::vector<Scope> Branches() const {
        if (request_.scope)
            return {*request_.scope};
        return {Scope::User, Scope::Machine};
    }

    // Every Interface key that names a library (this one, when one is asked for), in each view
    // of each branch; then each registered version's interfaces that some view lacks.
    void CheckInterfaces() {
        const GUID* library = request_.library ? &*request_.library : nullptr;
        for (Scope scope : Branches()) {
            // Per version: the interfaces it should have, and the views that have each.
            std::map<const Version*, std::map<std::wstring, std::vector<View>>> present;
            for (View view : RegistryViews())
                for (const InterfaceKey& key : ReadLibraryInterfaceKeys(scope, view, library))
                    CheckInterfaceKey(key, present);
            if (library)
                AddCapturedInterfaces(scope, present);
            for (const auto& byVersion : present)
                for (const auto& byIid : byVersion.second)
                    for (View view : RegistryViews())
                        if (std::find(byIid.second.begin(), byIid.second.end(), view) == byIid.second.end())
                            AddMissingInterface(*byVersion.first, scope, view, byIid.first);
        }
    }

    void CheckInterfaceKey(const InterfaceKey& key,
                           std::map<const Version*, std::map<std::wstring, std::vector<View>>>& present) {
        const Version* version = VersionNamed(key);
        Version named;
        ParseGuid(key.typeLib.value_or(L""), named.guid);
        auto add = [&](FindingKind kind, std::wstring detail, HRESULT error, RepairKind repair) {
            Finding finding = Make(kind, version ? *version : named, key.KeyName(), std::move(detail), error);
            finding.scope = key.scope;
            finding.view = key.view;
            finding.iid = key.iid;
            finding.repair = repair;
            if (repair == RepairKind::Reregister)
                finding.file = version->goodFile;
            Add(std::move(finding));
        };
        if (!version) {
            std::wstring guid = key.typeLib.value_or(L"");
            // A key without a version is judged by its GUID alone.
            bool registered = key.typeLibVersion ? VersionKeyExists(guid, *key.typeLibVersion)
                                                 : !ListRegistrations(std::nullopt, &named.guid).empty();
            if (registered)
                return; // a version of another branch, which a client sees too
            add(FindingKind::OrphanInterface,
                L"names library " + guid + L" version " + key.typeLibVersion.value_or(L"(none)") +
                    L", which is not registered",
                TYPE_E_LIBNOTREGISTERED, RepairKind::RemoveInterface);
            return;
        }
        present[version][key.iid].push_back(key.view);
        RepairKind reregister = version->goodFile.empty() ? RepairKind::None : RepairKind::Reregister;
        if (!key.proxyStub)
            add(FindingKind::ProxyStubMissing, L"has no ProxyStubClsid32: the interface cannot be marshalled",
                REGDB_E_IIDNOTREG, reregister);
        else if (!ClassKeyExists(*key.proxyStub, key.view))
            add(FindingKind::ProxyStubNotRegistered,
                L"has ProxyStubClsid32 " + *key.proxyStub + L", a class not registered in this view",
                REGDB_E_CLASSNOTREG, reregister); // registering writes the system's proxy class anew
    }

    // For one library: the interfaces that registering its good file writes, which a view may
    // lack altogether.
    void AddCapturedInterfaces(Scope scope,
                               std::map<const Version*, std::map<std::wstring, std::vector<View>>>& present) {
        for (const Version& version : versions_) {
            if (version.goodFile.empty() || !version.registration->presence.In(scope) ||
                (request_.version && !IsRequested(version)))
                continue;
            std::vector<std::wstring> iids;
            if (FAILED(CapturedInterfaces(version.goodFile, iids)))
                continue;
            for (const std::wstring& iid : iids) {
                std::vector<View>& views = present[&version][iid];
                for (View view : RegistryViews()) {
                    // A key naming a registered library (another one, even) serves a client; one
                    // naming a version nobody registered does not, and registering writes it anew.
                    std::optional<InterfaceKey> key = ReadInterfaceKey(scope, view, iid);
                    bool serves = key && (!key->typeLib || !key->typeLibVersion ||
                                          VersionKeyExists(*key->typeLib, *key->typeLibVersion));
                    if (serves && std::find(views.begin(), views.end(), view) == views.end())
                        views.push_back(view);
                }
            }
        }
    }

    void AddMissingInterface(const Version& version, Scope scope, View view, const std::wstring& iid) {
        InterfaceKey key;
        key.scope = scope;
        key.view = view;
        key.iid = iid;
        Finding finding =
            Make(FindingKind::InterfaceMissing, version, key.KeyName(),
                 L"is missing: " + ToWide(ViewName(view)) + L" clients cannot marshal the interface",
                 REGDB_E_IIDNOTREG);
        finding.scope = scope;
        finding.view = view;
        finding.iid = iid;
        if (!version.goodFile.empty()) {
            finding.repair = RepairKind::Reregister;
            finding.file = version.goodFile;
        }
        Add(std::move(finding));
    }

    const CheckRequest& request_;
    std::vector<Registration> registrations_;
    std::vector<Version> versions_;
    // Each version by "{GUID}\\major.minor" as its keys are named; the newest version number of
    // each library (GUID in the registry's form).
    std::map<std::wstring, const Version*, LessIgnoringCase> byName_;
    std::map<std::wstring, unsigned long> newest_;
    CheckReport report_;
};

} // namespace

const char* FindingKindName(FindingKind kind) {
    static const char* const names[] = {
        "no-path",          "file-missing",      "file-unreadable",    "file-other-library",
        "orphan-interface", "interface-missing", "proxy-stub-missing", "proxy-stub-not-registered",
        "helpdir-missing",  "stale-version"};
    return names[static_cast<int>(kind)];
}

size_t CheckReport::Problems() const {
    return static_cast<size_t>(std::count_if(findings.begin(), findings.end(),
                                             [](const Finding& finding) { return !finding.warning; }));
}

CheckReport CheckRegistrations(const CheckRequest& request) {
    return Checker(request).Run();
}

std::wstring RepairStep::Description() const {
    switch (kind) {
    case RepairKind::Reregister:
        return L"register '" + file + L"' again";
    case RepairKind::RemoveInterface:
        return L"delete " + BranchKeyName(scope) + L"\\" + InterfaceKeyPath(iid) +
               (RegistryViews().size() > 1 && view ? L" (" + ToWide(ViewName(*view)) + L" view)" : L"");
    case RepairKind::RemoveVersion:
        return L"remove the registration of " + GuidText(library.guid) + L" " + DecimalText(library.major) +
               L"." + DecimalText(library.minor) + L" for locale " + DecimalText(library.lcid);
    case RepairKind::None:
        break;
    }
    return std::wstring();
}

std::vector<RepairStep> PlanRepairs(const std::vector<Finding>& findings) {
    std::vector<RepairStep> steps;
    std::set<std::wstring, LessIgnoringCase> planned;
    // Removals first: a key that names an unregistered library may be one that registering
    // the good file then writes afresh.
    for (RepairKind kind : {RepairKind::RemoveVersion, RepairKind::RemoveInterface, RepairKind::Reregister})
        for (const Finding& finding : findings) {
            if (finding.repair != kind)
                continue;
            RepairStep step;
            step.kind = kind;
            step.scope = finding.scope;
            step.view = finding.view;
            step.library = finding.library;
            step.file = kind == RepairKind::Reregister ? finding.file : std::wstring();
            step.iid = kind == RepairKind::RemoveInterface ? finding.iid : std::wstring();
            if (kind != RepairKind::RemoveInterface)
                step.view.reset();
            // What makes a step the same as another, as one text: a set of them finds a repeat at
            // once however many steps there are.
            std::wstring same = DecimalText(static_cast<int>(kind)) + L"|" +
                                DecimalText(static_cast<int>(step.scope)) + L"|" +
                                (step.view ? DecimalText(static_cast<int>(*step.view) + 1) : L"0") + L"|" +
                                step.file + L"|" + step.iid;
            if (kind == RepairKind::RemoveVersion)
                same += L"|" + LibraryVersionName(step.library) + L"|" + DecimalText(step.library.lcid) +
                        L"|" + DecimalText(step.library.syskind);
            if (planned.insert(std::move(same)).second)
                steps.push_back(std::move(step));
        }
    return steps;
}

HRESULT BackUpRemoval(const LibraryIdentity& identity, Scope scope, RegistryBackup& backup,
                      InterfaceIndex& index) {
    HRESULT hr = backup.Record(scope, View::Bits32, VersionKeyOf(identity));
    for (const InterfaceInView& key : index.Naming(identity, scope))
        if (SUCCEEDED(hr))
            hr = backup.Record(scope, key.view, InterfaceKeyPath(key.iid));
    return hr;
}

HRESULT BackUpRepairs(const std::vector<RepairStep>& steps, RegistryBackup& backup, InterfaceIndex& index) {
    HRESULT hr = S_OK;
    for (const RepairStep& step : steps) {
        if (FAILED(hr))
            break;
        switch (step.kind) {
        case RepairKind::Reregister: {
            std::vector<std::wstring> iids;
            hr = CapturedInterfaces(step.file, iids);
            if (SUCCEEDED(hr))
                hr = backup.Record(step.scope, View::Bits32, VersionKeyOf(step.library));
            for (const std::wstring& iid : iids)
                for (View view : RegistryViews())
                    if (SUCCEEDED(hr))
                        hr = backup.Record(step.scope, view, InterfaceKeyPath(iid));
            break;
        }
        case RepairKind::RemoveInterface:
            hr = backup.Record(step.scope, step.view.value_or(View::Bits32), InterfaceKeyPath(step.iid));
            break;
        case RepairKind::RemoveVersion:
            hr = BackUpRemoval(step.library, step.scope, backup, index);
            break;
        case RepairKind::None:
            break;
        }
    }
    return hr;
}

HRESULT Repair(const RepairStep& step, InterfaceIndex& index) {
    switch (step.kind) {
    case RepairKind::Reregister:
        return RegisterLibraryFile(step.file, step.scope);
    case RepairKind::RemoveInterface: {
        RegKey interfaces;
        LSTATUS status = RegOpenKeyExW(
            BranchRoot(step.scope), kInterfaceKey, 0,
            KEY_READ | KEY_WRITE | DELETE | ViewAccess(step.view.value_or(View::Bits32)), interfaces.Put());
        if (status == ERROR_SUCCESS)
            status = RegDeleteTreeW(interfaces.Get(), step.iid.c_str());
        return HRESULT_FROM_WIN32(status);
    }
    case RepairKind::RemoveVersion:
        return RemoveRegistration(step.library, step.scope, index).result;
    case RepairKind::None:
        break;
    }
    return S_OK;
}
