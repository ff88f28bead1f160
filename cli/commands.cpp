// The commands of corvane-cli and their two renderings: aligned text for people, one JSON
// document for scripts. Both renderings are built from the same facts.
#include "cli/cli.h"

#include "common/text.h"
#include "registration/registration.h"
#include "version.h"

using nlohmann::json;

namespace cli {

namespace {

constexpr char kRegistryRoot[] = "HKEY_CLASSES_ROOT\\";

std::string TypeLibKeyPath(const Registration& registration) {
    return std::string(kRegistryRoot) + "TypeLib\\" + registration.guidText + "\\" +
           registration.versionKeyName;
}

std::string IdentityText(const Identity& identity) {
    return GuidString(identity.guid) + " " + std::to_string(identity.major) + "." +
           std::to_string(identity.minor) + " lcid " + std::to_string(identity.lcid) + " " +
           SysKindName(identity.syskind);
}

json IdentityJson(const Identity& identity) {
    return {{"guid", GuidString(identity.guid)},
            {"version", std::to_string(identity.major) + "." + std::to_string(identity.minor)},
            {"lcid", identity.lcid},
            {"syskind", SysKindName(identity.syskind)}};
}

json FileJson(const FileLocation& location) {
    json file = {{"given", Utf8(location.given)}, {"path", Utf8(location.filePath)}};
    file["resourceIndex"] = location.resourceIndex ? json(location.resourceIndex) : json(nullptr);
    return file;
}

// Everything a command learnt, handed to the two renderings.
struct Result {
    int exitCode = kExitOk;
    json document;
    std::string text;
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

Result Info(const std::string& given) {
    Result result;
    FileLocation location;
    LibraryFacts facts;
    if (!OpenFile("info", given, location, facts, result))
        return result;
    Registration registration = ReadRegistration(facts.identity, &location);
    StatusDecision decision = DecideStatus(registration, facts.identity);
    result.document = {{"command", "info"},
                       {"file", FileJson(location)},
                       {"library", LibraryJson(facts)},
                       {"registry", RegistrationJson(registration)},
                       {"status", StatusName(decision.status)}};
    result.text = InfoText(location, facts, registration, decision);
    return result;
}

Result StatusOf(const std::string& given) {
    Result result;
    FileLocation location;
    LibraryFacts facts;
    if (!OpenFile("status", given, location, facts, result))
        return result;
    Registration registration = ReadRegistration(facts.identity, &location);
    StatusDecision decision = DecideStatus(registration, facts.identity);
    result.exitCode = StatusExitCode(decision.status);
    result.document = {{"command", "status"},
                       {"file", FileJson(location)},
                       {"library", IdentityJson(facts.identity)},
                       {"status", StatusName(decision.status)},
                       {"registeredPath", decision.entry ? json(Utf8(decision.entry->path)) : json(nullptr)},
                       {"exitCode", result.exitCode}};
    result.text = StatusLine(registration, decision) + "\n";
    return result;
}

Result Register(const std::string& given) {
    Result result;
    FileLocation location;
    LibraryFacts facts;
    if (!OpenFile("register", given, location, facts, result))
        return result;
    json document = {
        {"command", "register"}, {"file", FileJson(location)}, {"library", IdentityJson(facts.identity)}};
    Registration before = ReadRegistration(facts.identity, &location);
    StatusDecision decision = DecideStatus(before, facts.identity);
    std::string previousPath = decision.entry ? decision.entry->path : std::string();
    document["previousPath"] = decision.entry ? json(Utf8(previousPath)) : json(nullptr);
    if (decision.status == Status::Registered) {
        document["changed"] = false;
        document["registeredPath"] = Utf8(previousPath);
        result.document = std::move(document);
        result.text =
            "already registered to this file: " + IdentityText(facts.identity) + " -> " + previousPath + "\n";
        return result;
    }
    // The window's own engine: it loads the library from the full path of the given path and
    // registers it under that full path.
    HRESULT hr = RegisterLibraryFile(given);
    if (hr != S_OK)
        return Failure(std::move(document), "registering '" + given + "' failed: error " + UpperHex(hr, 8));
    Registration after = ReadRegistration(facts.identity, &location);
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
    result.text += "\n";
    return result;
}

// Both forms of unregister end here: the identity, and what the registry held for it.
Result Unregister(json document, const Identity& identity, const Registration& registration) {
    Result result;
    StatusDecision decision = DecideStatus(registration, identity);
    document["library"] = IdentityJson(identity);
    if (decision.status == Status::NotRegistered) {
        document["changed"] = false;
        document["previousPath"] = nullptr;
        result.document = std::move(document);
        result.text = "not registered, nothing to remove: " + IdentityText(identity) + "\n";
        return result;
    }
    std::string previousPath = decision.entry->path;
    document["previousPath"] = Utf8(previousPath);
    RemoveOutcome outcome = RemoveIdentity(identity, registration);
    document["removedKeysDirectly"] = outcome.removedKeys;
    if (FAILED(outcome.result))
        return Failure(std::move(document), "unregistering " + IdentityText(identity) + " failed: error " +
                                                UpperHex(outcome.result, 8));
    Registration after = ReadRegistration(identity, nullptr);
    if (DecideStatus(after, identity).entry)
        return Failure(std::move(document), "unregistering " + IdentityText(identity) +
                                                " reported success, but the registration is still there");
    document["changed"] = true;
    result.document = std::move(document);
    result.text = "unregistered: " + IdentityText(identity) + " (it named " + previousPath + ")";
    if (outcome.removedKeys)
        result.text += "; that file could not be loaded, so its registry keys were deleted directly";
    result.text += "\n";
    return result;
}

// Unregistering a FILE removes the registration of the identity the file declares, whichever
// file that registration names, as the window does. The identity is read here with
// LoadTypeLibEx rather than through the component, and removed with the library's own system
// kind: the window's engine always names win32, which would miss a win64 library, and it
// cannot remove a registration whose file is gone, which is a job this program is for.
Result UnregisterFile(const std::string& given) {
    Result result;
    FileLocation location;
    LibraryFacts facts;
    if (!OpenFile("unregister", given, location, facts, result))
        return result;
    json document = {{"command", "unregister"}, {"file", FileJson(location)}};
    return Unregister(std::move(document), facts.identity, ReadRegistration(facts.identity, &location));
}

Result UnregisterIdentity(const Identity& identity) {
    json document = {{"command", "unregister"}, {"file", nullptr}};
    return Unregister(std::move(document), identity, ReadRegistration(identity, nullptr));
}

Result List(bool brokenOnly) {
    Result result;
    std::vector<Registration> registrations = ListRegistrations();
    if (brokenOnly)
        registrations = BrokenOnly(std::move(registrations));
    json libraries = json::array();
    for (const Registration& registration : registrations)
        libraries.push_back(RegistrationJson(registration));
    result.document = {{"command", "list"},
                       {"broken", brokenOnly},
                       {"count", registrations.size()},
                       {"libraries", std::move(libraries)}};
    result.text = ListText(registrations, brokenOnly);
    return result;
}

Result Dispatch(const Options& options) {
    switch (options.command) {
    case Command::Info:
        return Info(options.file);
    case Command::Status:
        return StatusOf(options.file);
    case Command::Register:
        return Register(options.file);
    case Command::Unregister:
        return options.byIdentity ? UnregisterIdentity(options.identity) : UnregisterFile(options.file);
    case Command::List:
        return List(options.brokenOnly);
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
    for (const PathEntry& entry : registration.paths)
        paths.push_back({{"lcid", entry.lcid},
                         {"platform", Utf8(entry.platform)},
                         {"path", Utf8(entry.path)},
                         {"state", PathStateName(entry.state)}});
    return {{"key", Utf8(TypeLibKeyPath(registration))},
            {"guid", Utf8(registration.guidText)},
            {"version", Utf8(registration.versionText)},
            {"exists", registration.exists},
            {"description", registration.exists ? json(Utf8(registration.description)) : json(nullptr)},
            {"flags", registration.hasFlags ? json(Utf8(registration.flags)) : json(nullptr)},
            {"helpDir", registration.hasHelpDir ? json(Utf8(registration.helpDir)) : json(nullptr)},
            {"paths", std::move(paths)}};
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

std::string InfoText(const FileLocation& location, const LibraryFacts& facts,
                     const Registration& registration, const StatusDecision& decision) {
    std::string file = location.filePath;
    if (location.resourceIndex)
        file += " (type library resource " + std::to_string(location.resourceIndex) + ")";
    std::string text = AlignedLines(
        {{"File", file},
         {"Name", facts.name},
         {"Description", facts.description},
         {"GUID", facts.guidText},
         {"Version", std::to_string(facts.identity.major) + "." + std::to_string(facts.identity.minor)},
         {"Locale", std::to_string(facts.identity.lcid)},
         {"System kind", SysKindName(facts.identity.syskind)},
         {"Type infos", std::to_string(facts.typeInfoCount)},
         {"Status", StatusName(decision.status)},
         {"Registry", registration.exists ? TypeLibKeyPath(registration)
                                          : "nothing under " + TypeLibKeyPath(registration)}});
    if (!registration.exists)
        return text;
    std::vector<std::pair<std::string, std::string>> lines = {
        {"Default value", registration.description},
        {"FLAGS", registration.hasFlags ? registration.flags : "(none)"},
        {"HELPDIR", registration.hasHelpDir ? registration.helpDir : "(none)"}};
    for (const PathEntry& entry : registration.paths)
        lines.push_back(
            {entry.lcidKey + "\\" + entry.platform, entry.path + " (" + PathStateName(entry.state) + ")"});
    if (registration.paths.empty())
        lines.push_back({"Paths", "(none)"});
    return text + AlignedLines(lines, "  ");
}

std::string StatusLine(const Registration& registration, const StatusDecision& decision) {
    std::string line = std::string(StatusName(decision.status)) + ": " + registration.guidText + " " +
                       registration.versionText;
    if (decision.entry)
        line += " -> " + decision.entry->path;
    return line;
}

std::vector<Registration> BrokenOnly(std::vector<Registration> registrations) {
    std::vector<Registration> broken;
    for (Registration& registration : registrations) {
        std::vector<PathEntry> missing;
        for (const PathEntry& entry : registration.paths)
            if (entry.state == PathState::Missing)
                missing.push_back(entry);
        if (missing.empty())
            continue;
        registration.paths = std::move(missing);
        broken.push_back(std::move(registration));
    }
    return broken;
}

std::string ListText(const std::vector<Registration>& registrations, bool hints) {
    if (registrations.empty())
        return hints ? "no registration names a missing file\n" : "no type library is registered\n";
    std::string text;
    for (const Registration& registration : registrations) {
        text +=
            registration.guidText + "  " + registration.versionText + "  " + registration.description + "\n";
        std::vector<std::pair<std::string, std::string>> lines;
        for (const PathEntry& entry : registration.paths) {
            std::string value = entry.path;
            if (entry.state == PathState::Missing)
                value += "  [missing]";
            lines.push_back({entry.lcidKey + "\\" + entry.platform, value});
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
                    entry.platform + "\n";
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
    if (!result.error.empty())
        output.err = "corvane-cli: " + result.error + "\n";
    return output;
}

} // namespace cli
