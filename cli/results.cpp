// What the commands share: opening FILE, the messages for files that cannot be read, and the
// small pieces of both renderings.
#include <algorithm>

#include "catalogue/typelibfacts.h"
#include "cli/commands.h"
#include "common/owners.h"
#include "common/text.h"

namespace cli {

namespace {

std::wstring ReadFailureMessage(const FileLocation& location, HRESULT hr) {
    const std::wstring given = L"'" + location.given + L"'";
    if (hr == reader::kDamaged || hr == reader::kTimedOut)
        return given + L" is damaged: it could not be read as a type library (error " + ResultCodeText(hr) +
               L")";
    if (hr == reader::kNoReader)
        return L"cannot read " + given +
               L": corvane-reader.exe, which reads libraries for corvane-cli, is missing "
               L"beside it (error " +
               ResultCodeText(hr) + L")";
    if (hr == TYPE_E_CANTLOADLIBRARY) {
        if (location.resourceIndex)
            return L"'" + location.filePath + L"' holds no type library resource " +
                   DecimalText(location.resourceIndex) + L" (error " + ResultCodeText(hr) + L")";
        return given + L" holds no type library (error " + ResultCodeText(hr) + L")";
    }
    return L"cannot read the type library in " + given + L": error " + ResultCodeText(hr);
}

} // namespace

std::wstring UnregisterCommand(const std::wstring& guidText, const std::wstring& versionText, LCID lcid,
                               const std::wstring& platform, Scope scope) {
    return L"corvane-cli unregister --guid " + guidText + L" --version " + versionText + L" --lcid " +
           DecimalText(lcid) + L" --syskind " + platform + (scope == Scope::User ? L" --user" : L"");
}

Result Failure(JsonObject document, const std::wstring& message) {
    Result result;
    result.exitCode = kExitError;
    document["error"] = Utf8(message);
    document["exitCode"] = result.exitCode;
    result.document = std::move(document);
    result.error = message;
    return result;
}

std::wstring LocateMessage(const Located& located) {
    const FileLocation& location = located.location;
    const std::wstring given = L"'" + location.given + L"'";
    switch (located.error) {
    case LocateError::None:
        return std::wstring();
    case LocateError::Empty:
        return L"FILE is empty";
    case LocateError::FolderMissing:
        return L"folder not found: '" + located.missingFolder + L"' (in " + given + L")";
    case LocateError::FileMissing:
        return L"file not found: " + given + L" (" + location.filePath + L")";
    case LocateError::IsFolder:
        return given + L" is a folder, not a type library file";
    case LocateError::NotAFile:
        return given + L" is a device or a pipe, not a type library file";
    case LocateError::InUse:
        return given + L" is in use by another program, which does not let others read it (error " +
               ResultCodeText(located.code) + L")";
    }
    return std::wstring();
}

std::optional<OpenedFile> OpenFile(const char* command, const std::wstring& given, Result& failure,
                                   reader::LibraryContent* content) {
    JsonObject document;
    document["command"] = command;
    Located located = LocateFile(given);
    document["file"] = FileJson(located.location);
    if (located.error != LocateError::None) {
        failure = Failure(std::move(document), LocateMessage(located));
        return std::nullopt;
    }
    OpenedFile file{located.location, LibraryDescription()};
    HRESULT hr =
        content ? reader::ReadContent(file.location.LibraryPath(), file.description, *content)
                : reader::ReadLibrary(file.location.LibraryPath(), reader::Depth::Facts, file.description);
    if (FAILED(hr)) {
        failure = Failure(std::move(document), ReadFailureMessage(file.location, hr));
        return std::nullopt;
    }
    return file;
}

// Documents are built member by member: the same document as an initialiser list takes far
// more code (a release-size matter: each listed member is constructed inline).
Json Utf8(const std::wstring& text) {
    return Json(ToUtf8(text));
}

Json TextOrNull(const std::optional<std::wstring>& text) {
    return text ? Utf8(*text) : Json(nullptr);
}

Json PresenceJson(Presence presence) {
    const char* name = PresenceName(presence);
    return *name ? Json(name) : Json(nullptr);
}

JsonObject FileJson(const FileLocation& location) {
    JsonObject file;
    file["given"] = Utf8(location.given);
    file["path"] = Utf8(location.filePath);
    file["resourceIndex"] = location.resourceIndex ? Json(location.resourceIndex) : Json(nullptr);
    return file;
}

std::wstring VersionTextOf(WORD major, WORD minor) {
    return ToWide(VersionText(major, minor));
}

JsonObject IdentityJson(const LibraryIdentity& identity) {
    JsonObject document;
    document["guid"] = Utf8(GuidText(identity.guid));
    document["version"] = Utf8(VersionTextOf(identity.major, identity.minor));
    document["lcid"] = identity.lcid;
    document["syskind"] = Utf8(SysKindName(identity.syskind));
    return document;
}

JsonObject ConfinementJson(const reader::Confinement& confinement) {
    JsonObject document;
    document["full"] = reader::IsFullConfinement(confinement);
    document["job"] = confinement.job;
    document["killOnClose"] = confinement.killOnClose;
    document["oneProcess"] = confinement.oneProcess;
    document["uiLimits"] = confinement.uiLimits;
    document["restrictedToken"] = confinement.restrictedToken;
    document["lowIntegrity"] = confinement.lowIntegrity;
    document["missing"] = Utf8(reader::MissingConfinement(confinement));
    return document;
}

std::wstring IdentityText(const LibraryIdentity& identity) {
    return GuidText(identity.guid) + L" " + VersionTextOf(identity.major, identity.minor) + L" lcid " +
           DecimalText(identity.lcid) + L" " + SysKindName(identity.syskind);
}

size_t LabelWidth(const std::vector<Line>& lines) {
    size_t width = 0;
    for (const Line& line : lines)
        width = std::max(width, line.first.size());
    return width;
}

std::wstring AlignedLine(const Line& line, size_t labelWidth, const std::wstring& indent) {
    return indent + line.first + L":" + std::wstring(labelWidth - line.first.size() + 2, L' ') + line.second +
           L"\n";
}

std::wstring AlignedLines(const std::vector<Line>& lines, const std::wstring& indent) {
    size_t width = LabelWidth(lines);
    std::wstring text;
    for (const Line& line : lines)
        text += AlignedLine(line, width, indent);
    return text;
}

} // namespace cli
