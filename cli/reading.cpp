// The reading commands, info, status and list, and their renderings.
#include <algorithm>

#include "cli/commands.h"
#include "cli/types.h"
#include "common/text.h"
#include "registration/classesroot.h"

namespace cli {

namespace {

using Lines = std::vector<Line>;

// "status (machine)": the status, and the branches that hold an entry.
std::wstring WithPresence(const std::wstring& text, Presence presence) {
    const char* name = PresenceName(presence);
    return *name ? text + L" (" + ToWide(name) + L")" : text;
}

// The lines under an existing version key's "Registry" line.
std::wstring RegistrationBlock(const Registration& registration) {
    Lines lines = {{L"Default value", registration.description},
                   {L"FLAGS", registration.flags.value_or(L"(none)")},
                   {L"HELPDIR", registration.helpDir.value_or(L"(none)")}};
    for (const PathEntry& entry : registration.paths)
        lines.push_back({entry.lcidKey + L"\\" + entry.platform,
                         entry.path + L" (" + ToWide(PathStateName(entry.state)) + L")"});
    if (registration.paths.empty())
        lines.push_back({L"Paths", L"(none)"});
    return AlignedLines(lines, L"  ");
}

// One interface's key in each view: "32-bit view: names this library 1.2; 64-bit view: missing".
// Each interface's key in each view: "32-bit view: names this library 1.2; 64-bit view: missing".
std::wstring InterfacesBlock(const InterfaceFacts& interfaces, const std::wstring& versionText) {
    Lines lines;
    for (const InterfaceKeyState& state : interfaces.keys) {
        std::wstring text;
        for (const InterfaceKeyState::InView& inView : state.views) {
            if (!text.empty())
                text += L"; ";
            text += ToWide(ViewName(inView.view));
            text += !inView.present       ? L" view: missing"
                    : inView.namesLibrary ? L" view: names this library "
                                          : L" view: names another library";
            if (inView.present && inView.namesLibrary)
                text += versionText;
        }
        lines.push_back({state.iid, std::move(text)});
    }
    return AlignedLines(lines, L"  ");
}

std::wstring InterfacesHead(const InterfaceFacts& interfaces) {
    if (FAILED(interfaces.result))
        return L"unknown: finding what registering writes failed: error " + ResultCodeText(interfaces.result);
    return DecimalText(interfaces.keys.size()) + L" that registering writes, under " +
           BranchKeyName(interfaces.scope) + L"\\Interface";
}

Json InterfacesJson(const InterfaceFacts& interfaces) {
    if (FAILED(interfaces.result))
        return nullptr;
    JsonArray keys;
    for (const InterfaceKeyState& state : interfaces.keys) {
        JsonArray views;
        for (const InterfaceKeyState::InView& inView : state.views) {
            JsonObject view;
            view["view"] = ViewName(inView.view);
            view["present"] = inView.present;
            view["namesLibrary"] = inView.namesLibrary;
            views.push_back(std::move(view));
        }
        JsonObject key;
        key["iid"] = Utf8(state.iid);
        key["views"] = std::move(views);
        keys.push_back(std::move(key));
    }
    return keys;
}

} // namespace

size_t InterfaceFacts::MissingFrom(View view) const {
    size_t missing = 0;
    for (const InterfaceKeyState& state : keys)
        for (const InterfaceKeyState::InView& inView : state.views)
            missing += inView.view == view && !inView.present;
    return missing;
}

InterfaceFacts ReadInterfaceFacts(const std::wstring& file, const LibraryIdentity& identity, Scope scope) {
    InterfaceFacts facts;
    facts.scope = scope;
    std::vector<std::wstring> iids;
    facts.result = CapturedInterfaces(file, iids);
    if (FAILED(facts.result))
        return facts;
    facts.keys = ReadInterfaceKeys(iids, scope, identity);
    return facts;
}

std::wstring IncompleteLines(const InterfaceFacts& interfaces) {
    std::wstring text;
    if (FAILED(interfaces.result))
        return text;
    for (View view : RegistryViews())
        if (size_t missing = interfaces.MissingFrom(view))
            text += L"incomplete: " + DecimalText(missing) + L" of " + DecimalText(interfaces.keys.size()) +
                    L" interfaces missing from the " + ToWide(ViewName(view)) + L" view\n";
    return text;
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

JsonObject LibraryJson(const LibraryDescription& description) {
    JsonObject library = IdentityJson(description.Identity());
    library["name"] = Utf8(description.name);
    library["description"] = Utf8(description.documentation);
    library["major"] = description.major;
    library["minor"] = description.minor;
    library["flags"] = description.flags;
    library["typeInfoCount"] = description.typeInfoCount;
    return library;
}

JsonObject RegistrationJson(const Registration& registration) {
    JsonArray paths;
    for (const PathEntry& entry : registration.paths) {
        JsonObject path;
        path["lcid"] = entry.lcid;
        path["platform"] = Utf8(entry.platform);
        path["path"] = Utf8(entry.path);
        path["state"] = PathStateName(entry.state);
        path["scope"] = ScopeName(entry.scope);
        paths.push_back(std::move(path));
    }
    JsonObject document;
    document["key"] = Utf8(registration.KeyName());
    document["scope"] = PresenceJson(registration.presence);
    document["guid"] = Utf8(registration.guidText);
    document["version"] = Utf8(registration.versionText);
    document["exists"] = registration.exists;
    document["description"] = registration.exists ? Utf8(registration.description) : Json(nullptr);
    document["flags"] = TextOrNull(registration.flags);
    document["helpDir"] = TextOrNull(registration.helpDir);
    document["paths"] = std::move(paths);
    return document;
}

std::wstring InfoText(const FileLocation& location, const LibraryDescription& description,
                      const Lookup& lookup, const InterfaceFacts& interfaces) {
    std::wstring file = location.filePath;
    if (location.resourceIndex)
        file += L" (type library resource " + DecimalText(location.resourceIndex) + L")";
    std::wstring libraries;
    for (const std::wstring& path : LibraryPaths(location.filePath, description))
        libraries += (libraries.empty() ? L"" : L", ") + path;
    Lines head = {{L"File", file},
                  {L"Name", description.name},
                  {L"Description", description.documentation},
                  {L"GUID", GuidText(description.guid)},
                  {L"Version", VersionTextOf(description.major, description.minor)},
                  {L"Locale", DecimalText(description.lcid)},
                  {L"System kind", SysKindName(description.syskind)},
                  {L"Type infos", DecimalText(description.typeInfoCount)},
                  {L"Status", WithPresence(ToWide(StatusName(lookup.decision.status)), lookup.presence)}};
    // A module may hold more than one library: each is named, so that none goes unseen.
    if (!libraries.empty())
        head.insert(head.begin() + 1, {L"Libraries", libraries});
    // One "Registry" line per branch read, each existing key's block right below its line; the
    // head's values, the registry lines' included, start in one column.
    const size_t firstRegistry = head.size();
    std::vector<std::wstring> blocks;
    for (const Registration& registration : lookup.registrations) {
        head.push_back({L"Registry", registration.exists ? registration.KeyName()
                                                         : L"nothing under " + registration.KeyName()});
        blocks.push_back(registration.exists ? RegistrationBlock(registration) : std::wstring());
    }
    head.push_back({L"Interfaces", InterfacesHead(interfaces)});
    blocks.push_back(FAILED(interfaces.result) ? std::wstring()
                                               : InterfacesBlock(interfaces, lookup.Deciding().versionText));
    size_t width = LabelWidth(head);
    std::wstring text;
    for (size_t i = 0; i < head.size(); ++i) {
        text += AlignedLine(head[i], width);
        if (i >= firstRegistry)
            text += blocks[i - firstRegistry];
    }
    return text;
}

std::wstring StatusLine(const Lookup& lookup) {
    const Registration& registration = lookup.Deciding();
    std::wstring line = ToWide(StatusName(lookup.decision.status)) + L": " + registration.guidText + L" " +
                        registration.versionText;
    if (lookup.decision.entry)
        line += L" -> " + lookup.decision.entry->path;
    return WithPresence(line, lookup.presence);
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

std::wstring ListText(const std::vector<Registration>& registrations, bool hints) {
    if (registrations.empty())
        return hints ? L"no registration names a missing or unreadable file\n"
                     : L"no type library is registered\n";
    std::wstring text;
    for (const Registration& registration : registrations) {
        bool both = registration.presence.machine && registration.presence.user;
        std::wstring head =
            registration.guidText + L"  " + registration.versionText + L"  " + registration.description;
        const char* presence = PresenceName(registration.presence);
        text += (*presence ? head + L"  (" + ToWide(presence) + L")" : head) + L"\n";
        Lines lines;
        for (const PathEntry& entry : registration.paths) {
            std::wstring value = entry.path;
            if (IsBroken(entry.state))
                value += L"  [" + ToWide(PathStateName(entry.state)) + L"]";
            std::wstring label = entry.lcidKey + L"\\" + entry.platform;
            if (both)
                label += L" (" + ToWide(ScopeName(entry.scope)) + L")";
            lines.push_back({label, value});
        }
        text += AlignedLines(lines, L"    ");
        WORD major, minor;
        if (!hints || !ParseVersion(registration.versionText, major, minor))
            continue;
        for (const PathEntry& entry : registration.paths)
            text += L"    remove: " +
                    UnregisterCommand(registration.guidText, registration.versionText, entry.lcid,
                                      entry.platform, entry.scope) +
                    L"\n";
    }
    return text;
}

namespace {

// What info and status both start with: FILE opened, and its identity looked up in the
// branches asked.
struct LookedUp {
    OpenedFile file;
    Lookup lookup;
};
std::optional<LookedUp> OpenAndLookUp(const char* command, const Options& options, Result& failure) {
    std::optional<OpenedFile> file = OpenFile(command, options.file, failure);
    if (!file)
        return std::nullopt;
    Lookup lookup = LookUp(file->description.Identity(), &file->location, options.scope);
    return LookedUp{std::move(*file), std::move(lookup)};
}

} // namespace

Result Info(const Options& options) {
    Result result;
    std::optional<LookedUp> found = OpenAndLookUp("info", options, result);
    if (!found)
        return result;
    const OpenedFile* file = &found->file;
    const Lookup& lookup = found->lookup;
    InterfaceFacts interfaces =
        ReadInterfaceFacts(options.file, file->description.Identity(), lookup.Deciding().scope);
    JsonArray registries;
    for (const Registration& registration : lookup.registrations)
        registries.push_back(RegistrationJson(registration));
    result.document = JsonObject();
    result.document["command"] = "info";
    result.document["file"] = FileJson(file->location);
    result.document["library"] = LibraryJson(file->description);
    result.document["registry"] = RegistrationJson(lookup.Deciding());
    result.document["registries"] = std::move(registries);
    result.document["interfaces"] = InterfacesJson(interfaces);
    JsonArray libraries;
    for (const std::wstring& path : LibraryPaths(file->location.filePath, file->description))
        libraries.push_back(Utf8(path));
    result.document["libraries"] = std::move(libraries);
    result.document["scope"] = PresenceJson(lookup.presence);
    result.document["status"] = StatusName(lookup.decision.status);
    result.text = InfoText(file->location, file->description, lookup, interfaces);
    return result;
}

Result StatusOf(const Options& options) {
    Result result;
    std::optional<LookedUp> found = OpenAndLookUp("status", options, result);
    if (!found)
        return result;
    const OpenedFile* file = &found->file;
    const Lookup& lookup = found->lookup;
    const StatusDecision& decision = lookup.decision;
    result.exitCode = StatusExitCode(decision.status);
    result.document = JsonObject();
    result.document["command"] = "status";
    result.document["file"] = FileJson(file->location);
    result.document["library"] = IdentityJson(file->description.Identity());
    result.document["status"] = StatusName(decision.status);
    result.document["scope"] = PresenceJson(lookup.presence);
    result.document["registeredPath"] = decision.entry ? Utf8(decision.entry->path) : Json(nullptr);
    result.document["exitCode"] = result.exitCode;
    // Where the library is registered, whether a client of each kind finds its interfaces.
    InterfaceFacts interfaces;
    if (decision.status != Status::NotRegistered)
        interfaces = ReadInterfaceFacts(options.file, file->description.Identity(), lookup.Deciding().scope);
    JsonObject missing;
    if (SUCCEEDED(interfaces.result))
        for (View view : RegistryViews())
            missing[ViewName(view)] = interfaces.MissingFrom(view);
    result.document["interfaces"] =
        SUCCEEDED(interfaces.result) ? Json(interfaces.keys.size()) : Json(nullptr);
    result.document["interfacesMissing"] = SUCCEEDED(interfaces.result) ? missing : Json(nullptr);
    result.text = StatusLine(lookup) + L"\n" + IncompleteLines(interfaces);
    return result;
}

Result List(const Options& options) {
    Result result;
    std::vector<Registration> registrations = ListRegistrations(options.scope);
    if (options.brokenOnly)
        registrations = BrokenOnly(std::move(registrations));
    JsonArray libraries;
    for (const Registration& registration : registrations)
        libraries.push_back(RegistrationJson(registration));
    result.document = JsonObject();
    result.document["command"] = "list";
    result.document["broken"] = options.brokenOnly;
    result.document["count"] = registrations.size();
    result.document["libraries"] = std::move(libraries);
    result.text = ListText(registrations, options.brokenOnly);
    return result;
}

} // namespace cli
