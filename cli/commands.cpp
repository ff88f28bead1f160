// The commands of corvane-cli and their two renderings: aligned text for people, one JSON
// document for scripts. Both renderings are built from the same facts.
#include "cli/cli.h"

#include "catalogue/typelibfacts.h"
#include "common/text.h"
#include "reader/reader.h"
#include "registration/classesroot.h"
#include "registration/regfile.h"
#include "registration/registration.h"
#include "version.h"

using nlohmann::json;

namespace cli {

namespace {

std::string TypeLibKeyPath(const Registration& registration) {
    return ScopeKeyName(registration.scope) + "\\TypeLib\\" + registration.guidText + "\\" +
           registration.versionKeyName;
}

// A text as UTF-8, or null where there is none.
// Documents are built member by member: the same document as an initialiser list, in far less
// code (a release-size matter: each listed member is constructed inline).
json TextOrNull(bool present, const std::string& ansi) {
    return present ? json(Utf8(ansi)) : json(nullptr);
}

json PresenceJson(Presence presence) {
    const char* name = PresenceName(presence);
    return *name ? json(name) : json(nullptr);
}

// The scope a change acts in: machine-wide unless --user.
Scope ChangeScope(const Options& options) {
    return options.scope.value_or(Scope::Machine);
}

// " for this user only" after a per-user change, so that no one mistakes it for a machine-wide one.
std::string ScopeNote(Scope scope) {
    return scope == Scope::User ? " (for this user only)" : "";
}

// A failed change: the refusal for lack of rights where that is the reason, else the code.
std::string ChangeFailure(const std::string& action, HRESULT result, Scope scope) {
    std::string refusal = scope == Scope::Machine ? RightsRefusal(action, result) : std::string();
    return refusal.empty() ? action + " failed: error " + UpperHex(result, 8) : refusal;
}

std::string IdentityText(const Identity& identity) {
    return GuidString(identity.guid) + " " + std::to_string(identity.major) + "." +
           std::to_string(identity.minor) + " lcid " + std::to_string(identity.lcid) + " " +
           SysKindName(identity.syskind);
}

json IdentityJson(const Identity& identity) {
    json document = json::object();
    document["guid"] = GuidString(identity.guid);
    document["version"] = VersionText(identity.major, identity.minor);
    document["lcid"] = identity.lcid;
    document["syskind"] = SysKindName(identity.syskind);
    return document;
}

json FileJson(const FileLocation& location) {
    json file = json::object();
    file["given"] = Utf8(location.given);
    file["path"] = Utf8(location.filePath);
    file["resourceIndex"] = location.resourceIndex ? json(location.resourceIndex) : json(nullptr);
    return file;
}

// Everything a command learnt, handed to the two renderings.
struct Result {
    int exitCode = kExitOk;
    json document;
    std::string text;
    bool binary = false; // text is bytes that must reach stdout unchanged
    std::string error;
};

Result Failure(json document, const std::string& message) {
    Result result;
    result.exitCode = kExitError;
    document["error"] = Utf8(message);
    document["exitCode"] = kExitError;
    result.document = std::move(document);
    result.error = message;
    return result;
}

std::string ReadFailureMessage(const FileLocation& location, HRESULT hr) {
    if (hr == reader::kDamaged || hr == reader::kTimedOut)
        return "'" + location.given + "' is damaged: it could not be read as a type library (error " +
               UpperHex(hr, 8) + ")";
    if (hr == reader::kNoReader)
        return "cannot read '" + location.given + "': corvane-reader.exe, which reads libraries for " +
               "corvane-cli, is missing beside it (error " + UpperHex(hr, 8) + ")";
    if (hr == TYPE_E_CANTLOADLIBRARY) {
        if (location.resourceIndex)
            return "'" + location.filePath + "' holds no type library resource " +
                   std::to_string(location.resourceIndex) + " (error " + UpperHex(hr, 8) + ")";
        return "'" + location.given + "' holds no type library (error " + UpperHex(hr, 8) + ")";
    }
    return "cannot read the type library in '" + location.given + "': error " + UpperHex(hr, 8);
}

// Locates FILE and reads its library; on failure fills result and returns false.
bool OpenFile(const std::string& command, const std::string& given, FileLocation& location,
              LibraryFacts& facts, Result& result) {
    json document = {{"command", command}};
    Located located = LocateFile(given);
    location = located.location;
    document["file"] = FileJson(location);
    if (located.error != LocateError::None) {
        result = Failure(std::move(document), LocateMessage(located));
        return false;
    }
    HRESULT hr = ReadLibrary(location, facts);
    if (FAILED(hr)) {
        result = Failure(std::move(document), ReadFailureMessage(location, hr));
        return false;
    }
    return true;
}

Result Info(const Options& options) {
    Result result;
    FileLocation location;
    LibraryFacts facts;
    if (!OpenFile("info", options.file, location, facts, result))
        return result;
    Lookup lookup = LookUp(facts.identity, &location, options.scope);
    json registries = json::array();
    for (const Registration& registration : lookup.registrations)
        registries.push_back(RegistrationJson(registration));
    result.document = {{"command", "info"},
                       {"file", FileJson(location)},
                       {"library", LibraryJson(facts)},
                       {"registry", RegistrationJson(lookup.Deciding())},
                       {"registries", std::move(registries)},
                       {"scope", PresenceJson(lookup.presence)},
                       {"status", StatusName(lookup.decision.status)}};
    result.text = InfoText(location, facts, lookup);
    return result;
}

Result StatusOf(const Options& options) {
    Result result;
    FileLocation location;
    LibraryFacts facts;
    if (!OpenFile("status", options.file, location, facts, result))
        return result;
    Lookup lookup = LookUp(facts.identity, &location, options.scope);
    const StatusDecision& decision = lookup.decision;
    result.exitCode = StatusExitCode(decision.status);
    result.document = {
        {"command", "status"},
        {"file", FileJson(location)},
        {"library", IdentityJson(facts.identity)},
        {"status", StatusName(decision.status)},
        {"scope", PresenceJson(lookup.presence)},
        {"registeredPath", TextOrNull(decision.entry, decision.entry ? decision.entry->path : "")},
        {"exitCode", result.exitCode}};
    result.text = StatusLine(lookup) + "\n";
    return result;
}

Result Register(const Options& options) {
    Result result;
    FileLocation location;
    LibraryFacts facts;
    const std::string& given = options.file;
    if (!OpenFile("register", given, location, facts, result))
        return result;
    Scope scope = ChangeScope(options);
    json document = {{"command", "register"},
                     {"file", FileJson(location)},
                     {"library", IdentityJson(facts.identity)},
                     {"scope", ScopeName(scope)}};
    Registration before = ReadRegistration(facts.identity, &location, scope);
    StatusDecision decision = DecideStatus(before, facts.identity);
    std::string previousPath = decision.entry ? decision.entry->path : std::string();
    document["previousPath"] = TextOrNull(decision.entry, previousPath);
    if (decision.status == Status::Registered) {
        document["changed"] = false;
        document["registeredPath"] = Utf8(previousPath);
        result.document = std::move(document);
        result.text = "already registered to this file: " + IdentityText(facts.identity) + " -> " +
                      previousPath + ScopeNote(scope) + "\n";
        return result;
    }
    // The window's own engine: it loads the library from the full path of the given path and
    // registers it under that full path.
    HRESULT hr = RegisterLibraryFile(given, scope);
    if (hr != S_OK)
        return Failure(std::move(document), ChangeFailure("registering '" + given + "'", hr, scope));
    Registration after = ReadRegistration(facts.identity, &location, scope);
    StatusDecision now = DecideStatus(after, facts.identity);
    if (now.status != Status::Registered)
        return Failure(std::move(document),
                       "registering '" + given +
                           "' reported success, but the registry does not name this file");
    document["changed"] = true;
    document["registeredPath"] = Utf8(now.entry->path);
    result.document = std::move(document);
    result.text = "registered: " + IdentityText(facts.identity) + " -> " + now.entry->path;
    if (!previousPath.empty())
        result.text += " (it named " + previousPath + " before)";
    result.text += ScopeNote(scope) + "\n";
    return result;
}

// Both forms of unregister end here: the identity, and what its scope's branch held for it.
Result Unregister(json document, const Identity& identity, const Registration& registration) {
    Result result;
    StatusDecision decision = DecideStatus(registration, identity);
    document["library"] = IdentityJson(identity);
    document["scope"] = ScopeName(registration.scope);
    std::string note = ScopeNote(registration.scope);
    if (decision.status == Status::NotRegistered) {
        document["changed"] = false;
        document["previousPath"] = nullptr;
        result.document = std::move(document);
        result.text = "not registered, nothing to remove: " + IdentityText(identity) + note + "\n";
        return result;
    }
    std::string previousPath = decision.entry->path;
    document["previousPath"] = Utf8(previousPath);
    RemoveOutcome outcome = RemoveIdentity(identity, registration);
    document["removedKeysDirectly"] = outcome.removedKeys;
    if (FAILED(outcome.result))
        return Failure(std::move(document), ChangeFailure("unregistering " + IdentityText(identity),
                                                          outcome.result, registration.scope));
    Registration after = ReadRegistration(identity, nullptr, registration.scope);
    if (DecideStatus(after, identity).entry)
        return Failure(std::move(document), "unregistering " + IdentityText(identity) +
                                                " reported success, but the registration is still there");
    document["changed"] = true;
    result.document = std::move(document);
    result.text = "unregistered: " + IdentityText(identity) + " (it named " + previousPath + ")";
    if (outcome.removedKeys)
        result.text += "; that file could not be loaded, so its registry keys were deleted directly";
    result.text += note + "\n";
    return result;
}

// Unregistering a FILE removes the registration of the identity the file declares, whichever
// file that registration names, as the window does. The identity is read here from the file
// itself rather than through the component, and removed with the library's own system kind:
// the window's engine always names win32, which would miss a win64 library, and it cannot
// remove a registration whose file is gone, which is a job this program is for.
Result UnregisterFile(const Options& options) {
    Result result;
    FileLocation location;
    LibraryFacts facts;
    if (!OpenFile("unregister", options.file, location, facts, result))
        return result;
    json document = {{"command", "unregister"}, {"file", FileJson(location)}};
    return Unregister(std::move(document), facts.identity,
                      ReadRegistration(facts.identity, &location, ChangeScope(options)));
}

Result UnregisterIdentity(const Options& options) {
    json document = {{"command", "unregister"}, {"file", nullptr}};
    return Unregister(std::move(document), options.identity,
                      ReadRegistration(options.identity, nullptr, ChangeScope(options)));
}

Result List(const Options& options) {
    Result result;
    std::vector<Registration> registrations = ListRegistrations(options.scope);
    if (options.brokenOnly)
        registrations = BrokenOnly(std::move(registrations));
    json libraries = json::array();
    for (const Registration& registration : registrations)
        libraries.push_back(RegistrationJson(registration));
    result.document = {{"command", "list"},
                       {"broken", options.brokenOnly},
                       {"count", registrations.size()},
                       {"libraries", std::move(libraries)}};
    result.text = ListText(registrations, options.brokenOnly);
    return result;
}

HRESULT WriteWholeFile(const std::string& path, const std::string& bytes) {
    FileHandle file(
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return HRESULT_FROM_WIN32(GetLastError());
    DWORD written = 0;
    if (!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size())
        return HRESULT_FROM_WIN32(GetLastError());
    return S_OK;
}

// What registering FILE would write, as a .reg file: the system's own registration into a
// private key of ours, read back; the live registry is left as it was.
Result Export(const Options& options) {
    Result result;
    FileLocation location;
    LibraryFacts facts;
    if (!OpenFile("export", options.file, location, facts, result))
        return result;
    Scope scope = options.scope.value_or(Scope::Machine);
    json document = {{"command", "export"},
                     {"file", FileJson(location)},
                     {"library", IdentityJson(facts.identity)},
                     {"scope", ScopeName(scope)}};
    RegistryTree tree;
    HRESULT hr = CaptureRegistration(options.file, tree);
    if (FAILED(hr))
        return Failure(std::move(document), "finding what registering '" + options.file +
                                                "' writes failed: error " + UpperHex(hr, 8));
    if (!options.installDir.empty())
        RelocateFolder(tree, ToWide(FolderOf(location.filePath)), ToWide(options.installDir));
    std::string root = scope == Scope::User ? "HKEY_CURRENT_USER\\Software\\Classes" : "HKEY_CLASSES_ROOT";
    std::string bytes = RegFileBytes(RegFileText(tree, ToWide(root)));
    document["keys"] = tree.size();
    document["root"] = root;
    if (options.outFile.empty()) {
        result.document = std::move(document);
        result.text = bytes;
        result.binary = true;
        return result;
    }
    document["output"] = Utf8(options.outFile);
    if (FAILED(hr = WriteWholeFile(options.outFile, bytes)))
        return Failure(std::move(document),
                       "cannot write '" + options.outFile + "': error " + UpperHex(hr, 8));
    result.document = std::move(document);
    result.text = "exported: " + IdentityText(facts.identity) + ", " + std::to_string(tree.size()) +
                  " keys under " + root + " -> " + options.outFile + "\n";
    return result;
}

Result Dispatch(const Options& options) {
    switch (options.command) {
    case Command::Info:
        return Info(options);
    case Command::Status:
        return StatusOf(options);
    case Command::Register:
        return Register(options);
    case Command::Unregister:
        return options.byIdentity ? UnregisterIdentity(options) : UnregisterFile(options);
    case Command::List:
        return List(options);
    case Command::Export:
        return Export(options);
    case Command::Help:
    case Command::Version:
        break;
    }
    return Result();
}

} // namespace

std::string Utf8(const std::string& ansi) {
    std::wstring wide = ToWide(ansi);
    if (wide.empty())
        return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string utf8(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], size, nullptr,
                        nullptr);
    return utf8;
}

json LibraryJson(const LibraryFacts& facts) {
    json library = IdentityJson(facts.identity);
    library["name"] = Utf8(facts.name);
    library["description"] = Utf8(facts.description);
    library["major"] = facts.identity.major;
    library["minor"] = facts.identity.minor;
    library["flags"] = facts.libFlags;
    library["typeInfoCount"] = facts.typeInfoCount;
    return library;
}

json RegistrationJson(const Registration& registration) {
    json paths = json::array();
    for (const PathEntry& entry : registration.paths) {
        json path = json::object();
        path["lcid"] = entry.lcid;
        path["platform"] = Utf8(entry.platform);
        path["path"] = Utf8(entry.path);
        path["state"] = PathStateName(entry.state);
        path["scope"] = ScopeName(entry.scope);
        paths.push_back(std::move(path));
    }
    json document = json::object();
    document["key"] = Utf8(TypeLibKeyPath(registration));
    document["scope"] = PresenceJson(registration.presence);
    document["guid"] = Utf8(registration.guidText);
    document["version"] = Utf8(registration.versionText);
    document["exists"] = registration.exists;
    document["description"] = TextOrNull(registration.exists, registration.description);
    document["flags"] = TextOrNull(registration.hasFlags, registration.flags);
    document["helpDir"] = TextOrNull(registration.hasHelpDir, registration.helpDir);
    document["paths"] = std::move(paths);
    return document;
}

std::string AlignedLines(const std::vector<std::pair<std::string, std::string>>& lines,
                         const std::string& indent) {
    size_t width = 0;
    for (const auto& line : lines)
        width = std::max(width, line.first.size());
    std::string text;
    for (const auto& line : lines)
        text +=
            indent + line.first + ":" + std::string(width - line.first.size() + 2, ' ') + line.second + "\n";
    return text;
}

std::string InfoText(const FileLocation& location, const LibraryFacts& facts, const Lookup& lookup) {
    std::string file = location.filePath;
    if (location.resourceIndex)
        file += " (type library resource " + std::to_string(location.resourceIndex) + ")";
    std::string status = StatusName(lookup.decision.status);
    if (*PresenceName(lookup.presence))
        status += std::string(" (") + PresenceName(lookup.presence) + ")";
    std::vector<std::pair<std::string, std::string>> head = {
        {"File", file},
        {"Name", facts.name},
        {"Description", facts.description},
        {"GUID", facts.guidText},
        {"Version", std::to_string(facts.identity.major) + "." + std::to_string(facts.identity.minor)},
        {"Locale", std::to_string(facts.identity.lcid)},
        {"System kind", SysKindName(facts.identity.syskind)},
        {"Type infos", std::to_string(facts.typeInfoCount)},
        {"Status", status}};
    std::vector<std::string> blocks;
    for (const Registration& registration : lookup.registrations) {
        if (!registration.exists) {
            head.push_back({"Registry", "nothing under " + TypeLibKeyPath(registration)});
            continue;
        }
        head.push_back({"Registry", TypeLibKeyPath(registration)});
        std::vector<std::pair<std::string, std::string>> lines = {
            {"Default value", registration.description},
            {"FLAGS", registration.hasFlags ? registration.flags : "(none)"},
            {"HELPDIR", registration.hasHelpDir ? registration.helpDir : "(none)"}};
        for (const PathEntry& entry : registration.paths)
            lines.push_back({entry.lcidKey + "\\" + entry.platform,
                             entry.path + " (" + PathStateName(entry.state) + ")"});
        if (registration.paths.empty())
            lines.push_back({"Paths", "(none)"});
        blocks.push_back(AlignedLines(lines, "  "));
    }
    // Every line of the head is aligned as one; each existing key's block follows its own
    // "Registry" line, the last lines of the head.
    std::string aligned = AlignedLines(head);
    std::string text;
    size_t registryLines = lookup.registrations.size();
    size_t line = 0, start = 0;
    for (size_t end; (end = aligned.find('\n', start)) != std::string::npos; start = end + 1, ++line) {
        text += aligned.substr(start, end + 1 - start);
        if (line + registryLines >= head.size()) {
            const Registration& registration = lookup.registrations[line + registryLines - head.size()];
            if (registration.exists)
                text += blocks.front(), blocks.erase(blocks.begin());
        }
    }
    return text;
}

std::string StatusLine(const Lookup& lookup) {
    const Registration& registration = lookup.Deciding();
    std::string line = std::string(StatusName(lookup.decision.status)) + ": " + registration.guidText + " " +
                       registration.versionText;
    if (lookup.decision.entry)
        line += " -> " + lookup.decision.entry->path;
    if (*PresenceName(lookup.presence))
        line += std::string(" (") + PresenceName(lookup.presence) + ")";
    return line;
}

std::string RightsRefusal(const std::string& action, HRESULT result) {
    if (result != E_ACCESSDENIED && result != TYPE_E_REGISTRYACCESS)
        return std::string();
    return action + " machine-wide needs administrator rights (error " + UpperHex(result, 8) +
           "): run it from an elevated prompt, or add --user to do it for this user only";
}

std::vector<Registration> BrokenOnly(std::vector<Registration> registrations) {
    std::vector<Registration> broken;
    for (Registration& registration : registrations) {
        std::vector<PathEntry> brokenPaths;
        for (const PathEntry& entry : registration.paths)
            if (IsBroken(entry.state))
                brokenPaths.push_back(entry);
        if (brokenPaths.empty())
            continue;
        registration.paths = std::move(brokenPaths);
        broken.push_back(std::move(registration));
    }
    return broken;
}

std::string ListText(const std::vector<Registration>& registrations, bool hints) {
    if (registrations.empty())
        return hints ? "no registration names a missing or unreadable file\n"
                     : "no type library is registered\n";
    std::string text;
    for (const Registration& registration : registrations) {
        bool both = registration.presence.machine && registration.presence.user;
        text += registration.guidText + "  " + registration.versionText + "  " + registration.description;
        if (*PresenceName(registration.presence))
            text += std::string("  (") + PresenceName(registration.presence) + ")";
        text += "\n";
        std::vector<std::pair<std::string, std::string>> lines;
        for (const PathEntry& entry : registration.paths) {
            std::string value = entry.path;
            if (IsBroken(entry.state))
                value += std::string("  [") + PathStateName(entry.state) + "]";
            std::string label = entry.lcidKey + "\\" + entry.platform;
            if (both)
                label += std::string(" (") + ScopeName(entry.scope) + ")";
            lines.push_back({label, value});
        }
        text += AlignedLines(lines, "    ");
        if (!hints)
            continue;
        WORD major, minor;
        if (!ParseVersion(registration.versionText, major, minor))
            continue;
        for (const PathEntry& entry : registration.paths)
            text += "    remove: corvane-cli unregister --guid " + registration.guidText + " --version " +
                    registration.versionText + " --lcid " + std::to_string(entry.lcid) + " --syskind " +
                    entry.platform + (entry.scope == Scope::User ? " --user" : "") + "\n";
    }
    return text;
}

Output Run(const std::vector<std::string>& args) {
    Output output;
    ParsedArguments parsed = ParseArguments(args);
    if (!parsed.error.empty()) {
        output.exitCode = kExitError;
        output.err = "corvane-cli: " + parsed.error + "\n" + UsageText();
        return output;
    }
    const Options& options = parsed.options;
    if (options.command == Command::Help) {
        output.out = UsageText();
        return output;
    }
    if (options.command == Command::Version) {
        output.out =
            options.json
                ? json({{"program", "corvane-cli"}, {"version", CORVANE_VERSION_TEXT}}).dump(2) + "\n"
                : VersionLine() + "\n";
        return output;
    }
    Result result = Dispatch(options);
    output.exitCode = result.exitCode;
    output.out = options.json ? result.document.dump(2) + "\n" : result.text;
    output.binary = !options.json && result.binary;
    if (!result.error.empty())
        output.err = "corvane-cli: " + result.error + "\n";
    return output;
}

} // namespace cli
