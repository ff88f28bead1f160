// check: why a registered library still fails a client, with --fix the repair after a backup;
// which: what the registry knows of one GUID.
#include "cli/commands.h"
#include "common/files.h"
#include "common/text.h"
#include "registration/backup.h"
#include "registration/health.h"

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

// unregister --syskind takes only the platforms that have a key name; an entry of any other
// system kind is offered for removal as the kind registration writes by default.
constexpr SYSKIND kUnnamedSysKindRemovedAs = SYS_WIN32;

std::wstring VersionOf(const LibraryIdentity& library) {
    return VersionTextOf(library.major, library.minor);
}

// What the user runs to repair a finding: check again with --fix where the fix is ours, else the
// command or the step that is the user's to take.
std::wstring RepairCommand(const Finding& finding, const std::wstring& fixCommand, const Options& options) {
    const LibraryIdentity& library = finding.library;
    const char* platform = PlatformKeyName(library.syskind);
    std::wstring unregister = UnregisterCommand(
        GuidText(library.guid), VersionOf(library), library.lcid,
        ToWide(platform ? platform : PlatformKeyName(kUnnamedSysKindRemovedAs)), finding.scope);
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

Json FindingsJson(const CheckReport& report, const std::wstring& fixCommand, const Options& options) {
    JsonArray findings;
    for (const Finding& finding : report.findings) {
        JsonObject item;
        item["kind"] = FindingKindName(finding.kind);
        item["severity"] = finding.warning ? "warning" : "problem";
        item["key"] = Utf8(finding.key);
        item["detail"] = Utf8(finding.detail);
        item["scope"] = ScopeName(finding.scope);
        item["view"] = finding.view ? Json(ViewName(*finding.view)) : Json(nullptr);
        item["library"] = IdentityJson(finding.library);
        item["clientError"] =
            finding.warning ? Json(nullptr) : Json(Utf8(ResultCodeText(finding.clientError)));
        item["clientErrorText"] =
            finding.warning ? Json(nullptr) : Json(Utf8(ClientErrorText(finding.clientError)));
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
            text += L"; a client gets " + ResultCodeText(finding.clientError) + L" (" +
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

void Summarise(JsonObject& document, const CheckReport& report, const std::wstring& fixCommand,
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

// What check found and did, decided before anything is rendered.
struct CheckOutcome {
    CheckReport report;
    bool planned = false; // --fix or --dry-run: the repairs were planned
    std::vector<RepairStep> steps;
    std::optional<std::wstring> backupFile; // where the backup went, once the repairs were to run
    std::wstring failure;                   // why nothing was changed
    bool repaired = false;                  // the repairs ran, after the backup
    size_t backupKeys = 0;
    std::vector<HRESULT> results; // each step's, once repaired
    CheckReport after;            // the registry as the repairs left it
    int exitCode = kExitOk;
};

int CheckExitCode(const CheckReport& report) {
    return report.Problems() ? kExitElsewhere : kExitOk;
}

CheckOutcome Decide(const CheckRequest& request, const Options& options) {
    CheckOutcome outcome;
    outcome.report = CheckRegistrations(request);
    outcome.exitCode = CheckExitCode(outcome.report);
    if (!options.fix && !options.dryRun)
        return outcome;
    outcome.planned = true;
    outcome.steps = PlanRepairs(outcome.report.findings);
    if (options.dryRun || outcome.steps.empty())
        return outcome;
    // Everything the repairs will touch goes to the backup before anything changes.
    RegistryBackup backup;
    InterfaceIndex index;
    HRESULT hr = BackUpRepairs(outcome.steps, backup, index);
    const std::wstring backupFile = options.backupFile.empty() ? DefaultBackupPath() : options.backupFile;
    outcome.backupFile = backupFile;
    if (FAILED(hr)) {
        outcome.failure =
            L"reading the keys to back up failed: error " + ResultCodeText(hr) + L"; nothing was changed";
        return outcome;
    }
    if (FAILED(hr = WriteWholeFile(backupFile, backup.FileBytes()))) {
        outcome.failure = L"cannot write the backup '" + backupFile + L"': error " + ResultCodeText(hr) +
                          L"; nothing was changed";
        return outcome;
    }
    outcome.backupKeys = backup.Keys().size();
    outcome.repaired = true;
    for (const RepairStep& step : outcome.steps)
        outcome.results.push_back(Repair(step, index));
    // The exit code is that of the registry as the repairs left it.
    outcome.after = CheckRegistrations(request);
    outcome.exitCode = CheckExitCode(outcome.after);
    return outcome;
}

JsonObject CheckJson(const CheckOutcome& outcome, const std::wstring& fixCommand, const Options& options) {
    JsonObject document;
    document["command"] = "check";
    Summarise(document, outcome.report, fixCommand, options);
    if (!outcome.planned)
        return document;
    if (outcome.backupFile)
        document["backup"] = Utf8(*outcome.backupFile);
    if (!outcome.failure.empty())
        return document;
    JsonArray repairs;
    for (size_t i = 0; i < outcome.steps.size(); ++i) {
        JsonObject item;
        item["action"] = Utf8(outcome.steps[i].Description());
        if (outcome.repaired)
            item["result"] = Utf8(ResultCodeText(outcome.results[i]));
        repairs.push_back(std::move(item));
    }
    document["repairs"] = std::move(repairs);
    if (!outcome.repaired) {
        document["dryRun"] = options.dryRun;
        return document;
    }
    JsonObject again;
    Summarise(again, outcome.after, fixCommand, options);
    document["after"] = std::move(again);
    return document;
}

std::wstring CheckText(const CheckOutcome& outcome, const std::wstring& fixCommand, const Options& options) {
    std::wstring text = FindingsText(outcome.report, fixCommand, options);
    if (!outcome.planned)
        return text;
    if (!outcome.repaired) {
        for (const RepairStep& step : outcome.steps)
            text += L"would " + step.Description() + L"\n";
        if (outcome.steps.empty())
            text += L"nothing that --fix repairs\n";
        return text;
    }
    text += L"backup: " + *outcome.backupFile + L" (" + DecimalText(outcome.backupKeys) +
            L" keys; regedit /s on it puts them back)\n";
    for (size_t i = 0; i < outcome.steps.size(); ++i) {
        HRESULT done = outcome.results[i];
        text += (SUCCEEDED(done) ? L"done: " : L"failed: ") + outcome.steps[i].Description() +
                (SUCCEEDED(done) ? L"" : L" (error " + ResultCodeText(done) + L")") + L"\n";
    }
    return text + L"after the repairs:\n" + FindingsText(outcome.after, fixCommand, options);
}

} // namespace

Result Check(const Options& options) {
    Result result;
    CheckRequest request;
    request.scope = options.scope;
    std::optional<OpenedFile> file;
    if (options.byIdentity) {
        const LibraryIdentity& identity = options.identity;
        request.library = identity.guid;
        request.version = std::make_pair(identity.major, identity.minor);
        if (options.lcidGiven || options.syskindGiven) {
            request.lcid = identity.lcid;
            request.syskind = identity.syskind;
        }
    } else if (!options.all) {
        file = OpenFile("check", options.file, result);
        if (!file)
            return result;
        // The file's own entry: its locale and system kind.
        LibraryIdentity identity = file->description.Identity();
        request.library = identity.guid;
        request.version = std::make_pair(identity.major, identity.minor);
        request.lcid = identity.lcid;
        request.syskind = identity.syskind;
    }
    const std::wstring fixCommand = FixCommand(options);
    const CheckOutcome outcome = Decide(request, options);
    JsonObject document = CheckJson(outcome, fixCommand, options);
    if (file)
        document["file"] = FileJson(file->location);
    if (!outcome.failure.empty())
        return Failure(std::move(document), outcome.failure);
    result.exitCode = outcome.exitCode;
    result.text = CheckText(outcome, fixCommand, options);
    result.document = std::move(document);
    return result;
}

Result Which(const Options& options) {
    Result result;
    const std::wstring guid = GuidText(options.guid);
    JsonArray libraries, interfaces, classes;
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
                JsonObject item;
                item["scope"] = ScopeName(scope);
                item["view"] = ViewName(view);
                item["name"] = Utf8(name);
                return item;
            };
            if (std::optional<InterfaceKey> key = ReadInterfaceKey(scope, view, guid)) {
                JsonObject item = found(key->name);
                item["typeLib"] = TextOrNull(key->typeLib);
                item["typeLibVersion"] = TextOrNull(key->typeLibVersion);
                item["proxyStubClsid32"] = TextOrNull(key->proxyStub);
                interfaces.push_back(std::move(item));
                text += L"  interface" + where + L": " + key->name + L", library " +
                        key->typeLib.value_or(L"(none)") + L" " + key->typeLibVersion.value_or(L"") +
                        L", ProxyStubClsid32 " + key->proxyStub.value_or(L"(none)") + L"\n";
            }
            if (std::optional<ClassKey> key = ReadClassKey(scope, view, guid)) {
                JsonObject item = found(key->name);
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
    result.document = JsonObject();
    result.document["command"] = "which";
    result.document["guid"] = Utf8(guid);
    result.document["libraries"] = std::move(libraries);
    result.document["interfaces"] = std::move(interfaces);
    result.document["classes"] = std::move(classes);
    result.document["exitCode"] = result.exitCode;
    return result;
}

} // namespace cli
