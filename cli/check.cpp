// check: why a registered library still fails a client, with --fix the repair after a backup;
// which: what the registry knows of one GUID.
#include "cli/commands.h"
#include "common/text.h"
#include "registration/backup.h"
#include "registration/health.h"

using nlohmann::json;

namespace cli {

namespace {

// The error texts clients show for the codes a broken registration gives.
std::wstring ClientErrorText(HRESULT code) {
    switch (code) {
    case TYPE_E_LIBNOTREGISTERED:
        return L"Library not registered";
    case TYPE_E_CANTLOADLIBRARY:
        return L"Error loading type library/DLL";
    case REGDB_E_IIDNOTREG:
        return L"Interface not registered";
    case REGDB_E_CLASSNOTREG:
        return L"Class not registered";
    default:
        return std::wstring();
    }
}

std::wstring Code(HRESULT hr) {
    return ToWide(UpperHex(static_cast<unsigned long>(hr), 8));
}

std::wstring VersionOf(const LibraryIdentity& library) {
    return VersionTextOf(library.major, library.minor);
}

// What the user runs to repair a finding: check again with --fix where the fix is ours, else the
// command or the step that is the user's to take.
std::wstring RepairCommand(const Finding& finding, const std::wstring& fixCommand, const Options& options) {
    const LibraryIdentity& library = finding.library;
    std::wstring unregister = UnregisterCommand(
        GuidText(library.guid), VersionOf(library), library.lcid,
        ToWide(PlatformKeyName(library.syskind) ? PlatformKeyName(library.syskind) : "win32"), finding.scope);
    std::wstring registerFile = options.byIdentity || options.all
                                    ? L"register the library's file"
                                    : L"corvane-cli register '" + options.file + L"'";
    if (finding.scope == Scope::User && !(options.byIdentity || options.all))
        registerFile += L" --user";
    if (finding.repair != RepairKind::None)
        return fixCommand;
    switch (finding.kind) {
    case FindingKind::NoPath:
        return registerFile;
    case FindingKind::FileMissing:
    case FindingKind::FileUnreadable:
    case FindingKind::FileOtherLibrary:
    case FindingKind::HelpDirMissing:
        return unregister + L", then " + registerFile;
    case FindingKind::ProxyStubNotRegistered:
        return L"register the server of that class in the " +
               ToWide(ViewName(finding.view.value_or(View::Bits32))) + L" view";
    case FindingKind::InterfaceMissing:
    case FindingKind::ProxyStubMissing:
        return registerFile + L" (its registered file declares another library, or none can be read)";
    default:
        return std::wstring();
    }
}

json FindingsJson(const CheckReport& report, const std::wstring& fixCommand, const Options& options) {
    json findings = json::array();
    for (const Finding& finding : report.findings) {
        json item = json::object();
        item["kind"] = FindingKindName(finding.kind);
        item["severity"] = finding.warning ? "warning" : "problem";
        item["key"] = Utf8(finding.key);
        item["detail"] = Utf8(finding.detail);
        item["scope"] = ScopeName(finding.scope);
        item["view"] = finding.view ? json(ViewName(*finding.view)) : json(nullptr);
        item["library"] = IdentityJson(finding.library);
        item["clientError"] = finding.warning ? json(nullptr) : json(Utf8(Code(finding.clientError)));
        item["clientErrorText"] =
            finding.warning ? json(nullptr) : json(Utf8(ClientErrorText(finding.clientError)));
        item["fixable"] = finding.repair != RepairKind::None;
        item["repair"] = Utf8(RepairCommand(finding, fixCommand, options));
        findings.push_back(std::move(item));
    }
    return findings;
}

std::wstring FindingsText(const CheckReport& report, const std::wstring& fixCommand, const Options& options) {
    std::wstring text;
    for (const Finding& finding : report.findings) {
        text += (finding.warning ? L"warning: " : L"problem: ") + finding.key + L": " + finding.detail;
        if (!finding.warning)
            text += L"; a client gets " + Code(finding.clientError) + L" (" +
                    ClientErrorText(finding.clientError) + L")";
        text += L"; repair: " + RepairCommand(finding, fixCommand, options) + L"\n";
    }
    size_t problems = report.Problems(), warnings = report.findings.size() - problems;
    text += L"checked " + DecimalText(report.libraries) +
            (report.libraries == 1 ? L" library version: " : L" library versions: ") + DecimalText(problems) +
            (problems == 1 ? L" problem, " : L" problems, ") + DecimalText(warnings) +
            (warnings == 1 ? L" warning\n" : L" warnings\n");
    return text;
}

void Summarise(json& document, const CheckReport& report, const std::wstring& fixCommand,
               const Options& options) {
    document["libraries"] = report.libraries;
    document["problems"] = report.Problems();
    document["warnings"] = report.findings.size() - report.Problems();
    document["findings"] = FindingsJson(report, fixCommand, options);
}

// "corvane-cli check ... --fix": the command as given, to be run again with --fix.
std::wstring FixCommand(const Options& options) {
    std::wstring command = L"corvane-cli check ";
    if (options.all)
        command += L"--all";
    else if (options.byIdentity)
        command +=
            L"--guid " + GuidText(options.identity.guid) + L" --version " + VersionOf(options.identity);
    else
        command += L"'" + options.file + L"'";
    if (options.scope)
        command += *options.scope == Scope::User ? L" --user" : L" --machine";
    return command + L" --fix";
}

} // namespace

Result Check(const Options& options) {
    Result result;
    json document = json::object();
    document["command"] = "check";
    CheckRequest request;
    request.scope = options.scope;
    if (options.byIdentity) {
        const LibraryIdentity& identity = options.identity;
        request.library = identity.guid;
        request.version = std::make_pair(identity.major, identity.minor);
        if (options.lcidGiven || options.syskindGiven) {
            request.lcid = identity.lcid;
            request.syskind = identity.syskind;
        }
    } else if (!options.all) {
        std::optional<OpenedFile> file = OpenFile("check", options.file, result);
        if (!file)
            return result;
        LibraryIdentity identity = file->description.Identity();
        document["file"] = FileJson(file->location);
        request.library = identity.guid;
        request.version = std::make_pair(identity.major, identity.minor);
        request.lcid = identity.lcid;
        request.syskind = identity.syskind;
    }
    const std::wstring fixCommand = FixCommand(options);
    CheckReport report = CheckRegistrations(request);
    Summarise(document, report, fixCommand, options);
    result.text = FindingsText(report, fixCommand, options);
    result.exitCode = report.Problems() ? kExitElsewhere : kExitOk;
    if (!options.fix && !options.dryRun) {
        result.document = std::move(document);
        return result;
    }
    std::vector<RepairStep> steps = PlanRepairs(report.findings);
    json repairs = json::array();
    for (const RepairStep& step : steps) {
        json item = json::object();
        item["action"] = Utf8(step.Description());
        repairs.push_back(std::move(item));
    }
    if (options.dryRun || steps.empty()) {
        for (const RepairStep& step : steps)
            result.text += L"would " + step.Description() + L"\n";
        if (steps.empty())
            result.text += L"nothing that --fix repairs\n";
        document["repairs"] = std::move(repairs);
        document["dryRun"] = options.dryRun;
        result.document = std::move(document);
        return result;
    }
    // Everything the repairs will touch goes to the backup before anything changes.
    RegistryBackup backup;
    HRESULT hr = BackUpRepairs(steps, backup);
    std::wstring backupFile = options.backupFile.empty() ? DefaultBackupPath() : options.backupFile;
    document["backup"] = Utf8(backupFile);
    if (FAILED(hr))
        return Failure(std::move(document),
                       L"reading the keys to back up failed: error " + Code(hr) + L"; nothing was changed");
    if (FAILED(hr = WriteWholeFile(backupFile, backup.FileBytes())))
        return Failure(std::move(document), L"cannot write the backup '" + backupFile + L"': error " +
                                                Code(hr) + L"; nothing was changed");
    result.text += L"backup: " + backupFile + L" (" + DecimalText(backup.Keys().size()) +
                   L" keys; regedit /s on it puts them back)\n";
    for (size_t i = 0; i < steps.size(); ++i) {
        HRESULT done = Repair(steps[i]);
        repairs[i]["result"] = Utf8(Code(done));
        result.text += (SUCCEEDED(done) ? L"done: " : L"failed: ") + steps[i].Description() +
                       (SUCCEEDED(done) ? L"" : L" (error " + Code(done) + L")") + L"\n";
    }
    document["repairs"] = std::move(repairs);
    // The exit code is that of the registry as the repairs left it.
    CheckReport after = CheckRegistrations(request);
    json again = json::object();
    Summarise(again, after, fixCommand, options);
    document["after"] = std::move(again);
    result.text += L"after the repairs:\n" + FindingsText(after, fixCommand, options);
    result.exitCode = after.Problems() ? kExitElsewhere : kExitOk;
    result.document = std::move(document);
    return result;
}

Result Which(const Options& options) {
    Result result;
    const std::wstring guid = GuidText(options.guid);
    json libraries = json::array(), interfaces = json::array(), classes = json::array();
    std::wstring text = guid + L"\n";
    for (const Registration& registration : ListRegistrations(options.scope, &options.guid)) {
        libraries.push_back(RegistrationJson(registration));
        text += L"  library " + registration.versionText + L" \"" + registration.description + L"\" (" +
                ToWide(PresenceName(registration.presence)) + L")\n";
        for (const PathEntry& entry : registration.paths)
            text += L"    " + entry.lcidKey + L"\\" + entry.platform + L"  " + entry.path + L" (" +
                    ToWide(PathStateName(entry.state)) + L")\n";
    }
    std::vector<Scope> scopes =
        options.scope ? std::vector<Scope>{*options.scope} : std::vector<Scope>{Scope::User, Scope::Machine};
    for (Scope scope : scopes)
        for (View view : RegistryViews()) {
            std::wstring where =
                L" in the " + ToWide(ViewName(view)) + L" view (" + ToWide(ScopeName(scope)) + L")";
            // A key found: where, and its name.
            auto found = [&](const std::wstring& name) {
                json item = json::object();
                item["scope"] = ScopeName(scope);
                item["view"] = ViewName(view);
                item["name"] = Utf8(name);
                return item;
            };
            if (std::optional<InterfaceKey> key = ReadInterfaceKey(scope, view, guid)) {
                json item = found(key->name);
                item["typeLib"] = TextOrNull(key->typeLib);
                item["typeLibVersion"] = TextOrNull(key->typeLibVersion);
                item["proxyStubClsid32"] = TextOrNull(key->proxyStub);
                interfaces.push_back(std::move(item));
                text += L"  interface" + where + L": " + key->name + L", library " +
                        key->typeLib.value_or(L"(none)") + L" " + key->typeLibVersion.value_or(L"") +
                        L", ProxyStubClsid32 " + key->proxyStub.value_or(L"(none)") + L"\n";
            }
            if (std::optional<ClassKey> key = ReadClassKey(scope, view, guid)) {
                json item = found(key->name);
                item["inprocServer32"] = TextOrNull(key->inprocServer);
                item["localServer32"] = TextOrNull(key->localServer);
                item["typeLib"] = TextOrNull(key->typeLib);
                classes.push_back(std::move(item));
                text += L"  class" + where + L": " + key->name + L", server " +
                        key->inprocServer.value_or(key->localServer.value_or(L"(none)")) +
                        (key->typeLib ? L", library " + *key->typeLib : L"") + L"\n";
            }
        }
    bool found = !libraries.empty() || !interfaces.empty() || !classes.empty();
    result.exitCode = found ? kExitOk : kExitNotRegistered;
    result.text = found ? text : L"nothing is registered under " + guid + L"\n";
    result.document = json::object();
    result.document["command"] = "which";
    result.document["guid"] = Utf8(guid);
    result.document["libraries"] = std::move(libraries);
    result.document["interfaces"] = std::move(interfaces);
    result.document["classes"] = std::move(classes);
    result.document["exitCode"] = result.exitCode;
    return result;
}

} // namespace cli
