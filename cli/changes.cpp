// The changing commands, register and unregister, through the engine the window uses.
#include "cli/commands.h"
#include "common/files.h"
#include "common/text.h"
#include "registration/backup.h"
#include "registration/health.h"
#include "registration/registration.h"

namespace cli {

namespace {

// The scope a change acts in: machine-wide unless --user.
Scope ChangeScope(const Options& options) {
    return options.scope.value_or(Scope::Machine);
}

// " (for this user only)" after a per-user change, so that no one mistakes it for a machine-wide one.
std::wstring ScopeNote(Scope scope) {
    return scope == Scope::User ? L" (for this user only)" : L"";
}

// A failed change: the refusal for lack of rights where that is the reason, else the code.
std::wstring ChangeFailure(const std::wstring& action, HRESULT result, Scope scope) {
    std::wstring refusal = scope == Scope::Machine ? RightsRefusal(action, result) : std::wstring();
    return refusal.empty() ? action + L" failed: error " + ResultCodeText(result) : refusal;
}

// ", with 3 interface keys naming it in the 32-bit view and 3 in the 64-bit view": what a
// direct removal deleted besides the TypeLib keys, so that nothing goes unreported.
std::wstring DeletedInterfacesText(const std::vector<InterfaceInView>& deleted) {
    std::wstring text;
    if (deleted.empty())
        return text;
    for (View view : RegistryViews()) {
        size_t count = 0;
        for (const InterfaceInView& key : deleted)
            count += key.view == view;
        text += (text.empty() ? L", with " : L" and ") + DecimalText(count) +
                (text.empty() ? L" interface keys naming it" : L"") + L" in the " + ToWide(ViewName(view)) +
                L" view";
    }
    return text;
}

// Both forms of unregister end here: the FILE given (null when by identity), the identity, and
// what its scope's branch held for it.
Result Remove(Json file, const LibraryIdentity& identity, Scope scope, const std::wstring& backupFile) {
    Result result;
    JsonObject document;
    document["command"] = "unregister";
    document["file"] = std::move(file);
    Registration registration = ReadRegistration(identity, nullptr, scope);
    StatusDecision decision = DecideStatus(registration, identity);
    document["library"] = IdentityJson(identity);
    document["scope"] = ScopeName(scope);
    std::wstring note = ScopeNote(scope);
    if (decision.status == Status::NotRegistered) {
        document["changed"] = false;
        document["previousPath"] = nullptr;
        result.document = std::move(document);
        result.text = L"not registered, nothing to remove: " + IdentityText(identity) + note + L"\n";
        return result;
    }
    std::wstring previousPath = decision.entry->path;
    document["previousPath"] = Utf8(previousPath);
    std::wstring action = L"unregistering " + IdentityText(identity);
    InterfaceIndex index;
    if (!backupFile.empty()) {
        // Every key the removal may change, written before anything changes.
        RegistryBackup backup;
        HRESULT hr = BackUpRemoval(identity, scope, backup, index);
        if (SUCCEEDED(hr))
            hr = WriteWholeFile(backupFile, backup.FileBytes());
        document["backup"] = Utf8(backupFile);
        if (FAILED(hr))
            return Failure(std::move(document), action + L": writing the backup '" + backupFile +
                                                    L"' failed: error " + ResultCodeText(hr) +
                                                    L"; nothing was changed");
        note += L"; backup: " + backupFile;
    }
    Removal removal = RemoveRegistration(identity, scope, index);
    document["removedKeysDirectly"] = removal.deletedKeys;
    JsonArray interfaces;
    for (const InterfaceInView& deleted : removal.deletedInterfaces) {
        JsonObject key;
        key["view"] = ViewName(deleted.view);
        key["iid"] = Utf8(deleted.iid);
        interfaces.push_back(std::move(key));
    }
    document["deletedInterfaces"] = std::move(interfaces);
    if (FAILED(removal.result))
        return Failure(std::move(document), ChangeFailure(action, removal.result, scope));
    Registration after = ReadRegistration(identity, nullptr, scope);
    if (FindEntry(after, identity))
        return Failure(std::move(document),
                       action + L" reported success, but the registration is still there");
    document["changed"] = true;
    result.document = std::move(document);
    result.text = L"unregistered: " + IdentityText(identity) + L" (it named " + previousPath + L")";
    if (removal.deletedKeys)
        result.text += L"; that file could not be loaded, so its registry keys were deleted directly" +
                       DeletedInterfacesText(removal.deletedInterfaces);
    result.text += note + L"\n";
    return result;
}

} // namespace

std::wstring RightsRefusal(const std::wstring& action, HRESULT result) {
    if (result != E_ACCESSDENIED && result != TYPE_E_REGISTRYACCESS)
        return std::wstring();
    return action + L" machine-wide needs administrator rights (error " + ResultCodeText(result) +
           L"): run it from an elevated prompt, or add --user to do it for this user only";
}

Result Register(const Options& options) {
    const std::wstring& given = options.file;
    Result result;
    std::optional<OpenedFile> file = OpenFile("register", options.file, result);
    if (!file)
        return result;
    LibraryIdentity identity = file->description.Identity();
    Scope scope = ChangeScope(options);
    JsonObject document;
    document["command"] = "register";
    document["file"] = FileJson(file->location);
    document["library"] = IdentityJson(identity);
    document["scope"] = ScopeName(scope);
    Registration before = ReadRegistration(identity, &file->location, scope);
    StatusDecision decision = DecideStatus(before, identity);
    std::wstring previousPath = decision.entry ? decision.entry->path : std::wstring();
    document["previousPath"] = decision.entry ? Utf8(previousPath) : Json(nullptr);
    if (decision.status == Status::Registered) {
        document["changed"] = false;
        document["registeredPath"] = Utf8(previousPath);
        result.document = std::move(document);
        result.text = L"already registered to this file: " + IdentityText(identity) + L" -> " + previousPath +
                      ScopeNote(scope) + L"\n";
        return result;
    }
    // The window's own engine: it loads the library from the full path of the given path and
    // registers it under that full path.
    std::wstring action = L"registering '" + given + L"'";
    HRESULT hr = RegisterLibraryFile(given, scope);
    if (hr != S_OK)
        return Failure(std::move(document), ChangeFailure(action, hr, scope));
    Registration after = ReadRegistration(identity, &file->location, scope);
    StatusDecision now = DecideStatus(after, identity);
    if (now.status != Status::Registered)
        return Failure(std::move(document),
                       action + L" reported success, but the registry does not name this file");
    document["changed"] = true;
    document["registeredPath"] = Utf8(now.entry->path);
    result.document = std::move(document);
    result.text = L"registered: " + IdentityText(identity) + L" -> " + now.entry->path;
    if (!previousPath.empty())
        result.text += L" (it named " + previousPath + L" before)";
    result.text += ScopeNote(scope) + L"\n";
    return result;
}

// Unregistering a FILE removes the registration of the identity the file declares only when
// that registration names this very file: a copy, or a damaged file that declares the identity
// of a system library, must not take another file's registration with it. Unregistering by
// identity needs no file and removes whatever the registration names.
Result Unregister(const Options& options) {
    Scope scope = ChangeScope(options);
    if (options.byIdentity)
        return Remove(nullptr, options.identity, scope, options.backupFile);
    Result result;
    std::optional<OpenedFile> file = OpenFile("unregister", options.file, result);
    if (!file)
        return result;
    LibraryIdentity identity = file->description.Identity();
    Registration registration = ReadRegistration(identity, &file->location, scope);
    StatusDecision decision = DecideStatus(registration, identity);
    if (decision.status == Status::OtherFile || decision.status == Status::MissingFile) {
        JsonObject document;
        document["command"] = "unregister";
        document["file"] = FileJson(file->location);
        document["library"] = IdentityJson(identity);
        document["scope"] = ScopeName(scope);
        document["changed"] = false;
        document["registeredPath"] = Utf8(decision.entry->path);
        return Failure(
            std::move(document),
            IdentityText(identity) + L" is registered to '" + decision.entry->path + L"', not to '" +
                options.file + L"'; nothing was changed. To remove that registration: " +
                UnregisterCommand(GuidText(identity.guid), VersionTextOf(identity.major, identity.minor),
                                  identity.lcid, decision.entry->platform, scope));
    }
    return Remove(FileJson(file->location), identity, scope, options.backupFile);
}

} // namespace cli
