// The plain functions of corvane-cli: arguments, locating files, comparing them by identity,
// the status decision and the renderings, called without starting a process.
#include <gtest/gtest.h>

#include <algorithm>

#include "cli/cli.h"
#include "common/owners.h"
#include "registration/classesroot.h"
#include "tests/support/testsupport.h"

using namespace cli;
using testsupport::TempFolder;
using testsupport::WriteFileBytes;

namespace {

ParsedArguments Parse(std::vector<std::string> args) {
    return ParseArguments(args);
}

TEST(CliArguments, CommandsTakeTheirFileAndJsonMayStandAnywhere) {
    ParsedArguments parsed = Parse({"--json", "status", "a b.tlb"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.command, Command::Status);
    EXPECT_TRUE(parsed.options.json);
    EXPECT_EQ(parsed.options.file, "a b.tlb");

    parsed = Parse({"register", "x.tlb", "--json"});
    EXPECT_EQ(parsed.options.command, Command::Register);
    EXPECT_TRUE(parsed.options.json);

    parsed = Parse({"list", "--broken"});
    EXPECT_EQ(parsed.options.command, Command::List);
    EXPECT_TRUE(parsed.options.brokenOnly);
    EXPECT_FALSE(parsed.options.json);

    parsed = Parse({"info", "--", "--odd name.tlb"});
    EXPECT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.file, "--odd name.tlb") << "-- ends the options";
}

TEST(CliArguments, VersionIsTheProgramsAloneAndTheLibrarysInsideUnregister) {
    EXPECT_EQ(Parse({"--version"}).options.command, Command::Version);
    EXPECT_EQ(Parse({"--version", "--json"}).options.command, Command::Version);
    EXPECT_EQ(Parse({"status", "x", "--version"}).error, "unknown option '--version'");

    ParsedArguments parsed =
        Parse({"unregister", "--version", "2.10", "--guid", "12345678-9abc-def0-1234-56789abcdef0", "--lcid",
               "0x409", "--syskind", "win64"});
    ASSERT_EQ(parsed.error, "");
    const Options& options = parsed.options;
    EXPECT_TRUE(options.byIdentity);
    EXPECT_EQ(GuidString(options.identity.guid), "{12345678-9ABC-DEF0-1234-56789ABCDEF0}")
        << "braces are optional and case does not matter";
    EXPECT_EQ(options.identity.major, 2);
    EXPECT_EQ(options.identity.minor, 10) << "the version is decimal, as people write it";
    EXPECT_EQ(options.identity.lcid, 0x409u);
    EXPECT_EQ(options.identity.syskind, SYS_WIN64);

    parsed = Parse({"unregister", "--guid", "{12345678-9ABC-DEF0-1234-56789ABCDEF0}", "--version", "1.0"});
    EXPECT_EQ(parsed.options.identity.lcid, 0u) << "locale 0 unless given";
    EXPECT_EQ(parsed.options.identity.syskind, SYS_WIN32) << "win32 unless given";
}

TEST(CliArguments, HelpWinsOverEverythingElseThatParses) {
    EXPECT_EQ(Parse({"--help"}).options.command, Command::Help);
    EXPECT_EQ(Parse({"help"}).options.command, Command::Help);
    EXPECT_EQ(Parse({"status", "x", "-h"}).options.command, Command::Help);
    EXPECT_EQ(Parse({"list", "/?"}).options.command, Command::Help);
}

TEST(CliArguments, NumbersOutsideTheirRangeOrFormAreRefused) {
    WORD major = 7, minor = 7;
    EXPECT_TRUE(ParseVersion("65535.65535", major, minor));
    EXPECT_EQ(major, 65535);
    for (const char* bad : {"65536.0", "1", "1.", ".1", "-1.0", "1.0.0", "a.b", " 1.0", "0x1.0"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ParseVersion(bad, major, minor));
    }
    LCID lcid = 0;
    EXPECT_TRUE(ParseLcid("1033", lcid));
    EXPECT_EQ(lcid, 1033u);
    EXPECT_TRUE(ParseLcid("0X40c", lcid));
    EXPECT_EQ(lcid, 0x40Cu);
    for (const char* bad : {"", "0x", "-1", "12a", "4294967296"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ParseLcid(bad, lcid));
    }
    GUID guid;
    EXPECT_FALSE(ParseGuid("{12345678-9ABC-DEF0-1234-56789ABCDEF0", guid));
    EXPECT_FALSE(ParseGuid("{1234567G-9ABC-DEF0-1234-56789ABCDEF0}", guid));
    SYSKIND syskind;
    EXPECT_FALSE(ParseSysKind("Win32", syskind)) << "key names are written in lower case";
}

TEST(CliFiles, AFileIsFoundRelativeToTheCurrentFolderAndThroughAResourceIndex) {
    TempFolder temp;
    std::string folder = temp.File("with blank");
    CreateDirectoryA(folder.c_str(), nullptr);
    WriteFileBytes(folder + "\\lib.dll", "MZ");
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(temp.Path().c_str()));

    Located plain = LocateFile("with blank\\lib.dll");
    Located indexed = LocateFile("with blank\\lib.dll\\12");
    Located missingIndex = LocateFile("with blank\\other.dll\\2");
    SetCurrentDirectoryA(previous);

    EXPECT_EQ(plain.error, LocateError::None);
    EXPECT_EQ(plain.location.filePath, folder + "\\lib.dll");
    EXPECT_EQ(plain.location.resourceIndex, 0);
    EXPECT_EQ(indexed.error, LocateError::None);
    EXPECT_EQ(indexed.location.filePath, folder + "\\lib.dll");
    EXPECT_EQ(indexed.location.resourceIndex, 12);
    EXPECT_EQ(missingIndex.error, LocateError::FileMissing)
        << "other.dll\\2 names a missing file, not a folder";
}

TEST(CliFiles, MissingFilesFoldersAndFoldersGiveTheirOwnMessages) {
    TempFolder temp;
    Located missing = LocateFile(temp.File("absent.tlb"));
    EXPECT_EQ(missing.error, LocateError::FileMissing);
    EXPECT_EQ(LocateMessage(missing),
              "file not found: '" + temp.File("absent.tlb") + "' (" + temp.File("absent.tlb") + ")");
    Located deep = LocateFile(temp.File("a\\b\\c.tlb"));
    EXPECT_EQ(deep.error, LocateError::FolderMissing);
    EXPECT_EQ(deep.missingFolder, temp.File("a")) << "the first missing folder on the way is named";
    Located folder = LocateFile(temp.Path());
    EXPECT_EQ(folder.error, LocateError::IsFolder);
    EXPECT_EQ(LocateFile("").error, LocateError::Empty);
}

TEST(CliFiles, RegisteredPathsAreComparedByFileIdentityNotBySpelling) {
    TempFolder temp;
    std::string file = temp.File("Lib.tlb");
    std::string copy = temp.File("copy.tlb");
    WriteFileBytes(file, "same bytes");
    WriteFileBytes(copy, "same bytes");
    FileLocation location = LocateFile(file).location;

    std::string upper = file;
    for (char& c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(ClassifyRegisteredPath(upper, &location), PathState::ThisFile);
    EXPECT_EQ(ClassifyRegisteredPath(temp.Path() + "\\.\\Lib.tlb", &location), PathState::ThisFile);
    EXPECT_EQ(ClassifyRegisteredPath(file + "\\1", &location), PathState::ThisFile)
        << "no index and index 1 name the same library";
    EXPECT_EQ(ClassifyRegisteredPath(file + "\\2", &location), PathState::OtherFile);
    EXPECT_EQ(ClassifyRegisteredPath(copy, &location), PathState::OtherFile)
        << "equal bytes are not the same file";
    EXPECT_EQ(ClassifyRegisteredPath(temp.File("gone.tlb"), &location), PathState::Missing);
    EXPECT_EQ(ClassifyRegisteredPath(temp.File("gone.dll\\2"), &location), PathState::Missing);
    EXPECT_EQ(ClassifyRegisteredPath(temp.Path(), &location), PathState::Missing)
        << "a folder holds no library";
    EXPECT_EQ(ClassifyRegisteredPath("", &location), PathState::Missing);
    EXPECT_EQ(ClassifyRegisteredPath(file, nullptr), PathState::Exists) << "no file in hand to compare with";
}

PathEntry Entry(LCID lcid, const char* platform, PathState state) {
    PathEntry entry;
    entry.lcid = lcid;
    entry.lcidKey = lcid == 0 ? "0" : "409";
    entry.platform = platform;
    entry.path = "C:\\x.tlb";
    entry.state = state;
    return entry;
}

TEST(CliStatus, OnlyTheEntryOfTheLibrarysOwnLocaleAndPlatformDecides) {
    Identity identity; // locale 0, win32
    Registration registration;
    registration.exists = true;
    EXPECT_EQ(DecideStatus(registration, identity).status, Status::NotRegistered)
        << "a version key without paths";

    registration.paths = {Entry(0x409, "win32", PathState::ThisFile), Entry(0, "win64", PathState::ThisFile)};
    EXPECT_EQ(DecideStatus(registration, identity).status, Status::NotRegistered);

    const std::pair<PathState, Status> cases[] = {{PathState::ThisFile, Status::Registered},
                                                  {PathState::OtherFile, Status::OtherFile},
                                                  {PathState::Missing, Status::MissingFile}};
    for (const auto& [state, status] : cases) {
        registration.paths.push_back(Entry(0, "win32", state));
        StatusDecision decision = DecideStatus(registration, identity);
        EXPECT_EQ(decision.status, status) << PathStateName(state);
        EXPECT_EQ(decision.entry, &registration.paths.back());
        registration.paths.pop_back();
    }
    registration.paths = {Entry(0, "Win32", PathState::ThisFile)};
    EXPECT_EQ(DecideStatus(registration, identity).status, Status::Registered)
        << "registry key names are case-insensitive";
    EXPECT_EQ(StatusExitCode(Status::Registered), 0);
    EXPECT_EQ(StatusExitCode(Status::NotRegistered), 1);
    EXPECT_EQ(StatusExitCode(Status::OtherFile), 3);
    EXPECT_EQ(StatusExitCode(Status::MissingFile), 3);
}

// Writes Software\Classes\TypeLib\{guid}\1.0\0\win32 = path under parent.
void WritePathEntry(HKEY parent, const GUID& guid, const std::string& path) {
    std::string key = "Software\\Classes\\TypeLib\\" + testsupport::GuidAnsi(guid) + "\\1.0\\0\\win32";
    ASSERT_EQ(RegSetValueA(parent, key.c_str(), REG_SZ, path.c_str(), static_cast<DWORD>(path.size())),
              ERROR_SUCCESS)
        << key;
}

TEST(CliStatus, TheUsersEntryWinsOverTheMachinesAndEachBranchCanBeAskedAlone) {
    TempFolder temp;
    std::string file = temp.File("Lib.tlb"), other = temp.File("other.tlb");
    WriteFileBytes(file, "library");
    WriteFileBytes(other, "another library");
    FileLocation location = LocateFile(file).location;
    Identity identity;
    identity.guid = testsupport::NewGuid();
    identity.major = 1;
    auto statusOf = [&](std::optional<Scope> scope) {
        Lookup lookup = LookUp(identity, &location, scope);
        return std::string(StatusName(lookup.decision.status)) + " (" + PresenceName(lookup.presence) + ")";
    };

    WritePathEntry(HKEY_LOCAL_MACHINE, identity.guid, other);
    EXPECT_EQ(statusOf(std::nullopt), "registered to another file (machine)");
    WritePathEntry(HKEY_CURRENT_USER, identity.guid, file);
    EXPECT_EQ(statusOf(std::nullopt), "registered (both)") << "the user's entry is the one Windows gives";
    EXPECT_EQ(statusOf(Scope::Machine), "registered to another file (machine)");
    EXPECT_EQ(statusOf(Scope::User), "registered (user)");

    std::vector<Registration> listed = ListRegistrations(std::nullopt);
    auto mine = std::find_if(listed.begin(), listed.end(), [&](const Registration& registration) {
        return registration.guidText == testsupport::GuidAnsi(identity.guid);
    });
    ASSERT_NE(mine, listed.end());
    EXPECT_STREQ(PresenceName(mine->presence), "both") << "a version in both branches is listed once";
    ASSERT_EQ(mine->paths.size(), 2u);
    EXPECT_EQ(mine->paths[0].scope, Scope::User) << "the user's entry first";

    for (HKEY parent : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        RegDeleteTreeA(parent,
                       ("Software\\Classes\\TypeLib\\" + testsupport::GuidAnsi(identity.guid)).c_str());
    // The user's TypeLib key was made here (a fresh prefix has none): it goes again.
    RegKey userClasses;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Classes", 0, KEY_ALL_ACCESS, userClasses.Put()) ==
        ERROR_SUCCESS)
        RemoveIfEmpty(userClasses.Get(), L"TypeLib");
    EXPECT_EQ(statusOf(std::nullopt), "not registered ()");
}

TEST(CliRendering, ARefusalForLackOfRightsNamesBothWaysOut) {
    for (HRESULT refused : {E_ACCESSDENIED, TYPE_E_REGISTRYACCESS}) {
        std::string line = RightsRefusal("registering 'a.tlb'", refused);
        EXPECT_NE(line.find("administrator"), std::string::npos) << line;
        EXPECT_NE(line.find("elevated prompt"), std::string::npos) << line;
        EXPECT_NE(line.find("--user"), std::string::npos) << line;
        EXPECT_EQ(line.find('\n'), std::string::npos) << "one line";
    }
    EXPECT_EQ(RightsRefusal("registering 'a.tlb'", E_FAIL), "") << "other failures keep their own message";
}

TEST(CliRendering, ListsKeepOnlyMissingPathsWhenBrokenAndSayHowToRemoveThem) {
    Registration whole, partly;
    whole.guidText = "{11111111-1111-1111-1111-111111111111}";
    whole.versionText = "1.0";
    whole.paths = {Entry(0, "win32", PathState::OtherFile)};
    partly.guidText = "{22222222-2222-2222-2222-222222222222}";
    partly.versionText = "2.10";
    partly.description = "Partly";
    partly.paths = {Entry(0, "win32", PathState::OtherFile), Entry(0x409, "win64", PathState::Missing)};

    std::vector<Registration> broken = BrokenOnly({whole, partly});
    ASSERT_EQ(broken.size(), 1u);
    EXPECT_EQ(broken[0].guidText, partly.guidText);
    ASSERT_EQ(broken[0].paths.size(), 1u);
    EXPECT_EQ(ListText(broken, true),
              "{22222222-2222-2222-2222-222222222222}  2.10  Partly\n"
              "    409\\win64:  C:\\x.tlb  [missing]\n"
              "    remove: corvane-cli unregister --guid {22222222-2222-2222-2222-222222222222} "
              "--version 2.10 --lcid 1033 --syskind win64\n");
    EXPECT_EQ(ListText({}, true), "no registration names a missing or unreadable file\n");
}

TEST(CliRendering, LabelsAreAlignedSoEveryValueStartsInOneColumn) {
    EXPECT_EQ(AlignedLines({{"A", "1"}, {"Longer", "2"}}, "  "), "  A:       1\n  Longer:  2\n");
}

TEST(CliRendering, JsonHoldsNullForWhatTheRegistryLacksAndUtf8ForAnsiText) {
    Registration registration;
    registration.guidText = "{11111111-1111-1111-1111-111111111111}";
    registration.versionKeyName = "2.a";
    registration.versionText = "2.10";
    nlohmann::json absent = RegistrationJson(registration);
    EXPECT_EQ(absent["key"],
              "HKEY_LOCAL_MACHINE\\Software\\Classes\\TypeLib\\{11111111-1111-1111-1111-111111111111}\\2.a");
    EXPECT_TRUE(absent["scope"].is_null()) << "held by neither branch";
    EXPECT_TRUE(absent["description"].is_null()) << absent.dump();
    EXPECT_TRUE(absent["flags"].is_null());

    registration.exists = true;
    registration.description = "Caf\xE9";
    registration.hasFlags = true;
    registration.flags = "0";
    nlohmann::json present = RegistrationJson(registration);
    EXPECT_EQ(present["description"], "Caf\xC3\xA9") << "code page 1252 text becomes UTF-8";
    EXPECT_EQ(present["flags"], "0");
    EXPECT_TRUE(present["helpDir"].is_null());
}

TEST(CliRendering, UsageErrorsGoToStderrWithTheUsageAndNothingToStdout) {
    Output output = cli::Run({"--frob"});
    EXPECT_EQ(output.exitCode, 2);
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(output.err, "corvane-cli: unknown option '--frob'\n" + UsageText());
}

} // namespace
