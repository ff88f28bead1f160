// The plain functions of corvane-cli: arguments, locating files, comparing them by identity,
// the status decision and the renderings, called without starting a process.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "common/text.h"
#include "common/owners.h"
#include "reader/testing.h"
#include "tests/support/testsupport.h"

using namespace cli;

namespace {

ParsedArguments Parse(std::vector<std::wstring> args) {
    return ParseArguments(args);
}

TEST(CliArguments, CommandsTakeTheirFileAndJsonMayStandAnywhere) {
    ParsedArguments parsed = Parse({L"--json", L"status", L"a b.tlb"});
    ASSERT_EQ(parsed.error, L"");
    EXPECT_EQ(parsed.options.command, Command::Status);
    EXPECT_TRUE(parsed.options.json);
    EXPECT_EQ(parsed.options.file, L"a b.tlb");

    parsed = Parse({L"register", L"x.tlb", L"--json"});
    EXPECT_EQ(parsed.options.command, Command::Register);
    EXPECT_TRUE(parsed.options.json);

    parsed = Parse({L"list", L"--broken"});
    EXPECT_EQ(parsed.options.command, Command::List);
    EXPECT_TRUE(parsed.options.brokenOnly);
    EXPECT_FALSE(parsed.options.json);

    parsed = Parse({L"info", L"--", L"--odd name.tlb"});
    EXPECT_EQ(parsed.error, L"");
    EXPECT_EQ(parsed.options.file, L"--odd name.tlb") << "-- ends the options";
}

TEST(CliArguments, VersionIsTheProgramsAloneAndTheLibrarysInsideUnregister) {
    EXPECT_EQ(Parse({L"--version"}).options.command, Command::Version);
    EXPECT_EQ(Parse({L"--version", L"--json"}).options.command, Command::Version);
    EXPECT_EQ(Parse({L"status", L"x", L"--version"}).error, L"unknown option '--version'");

    ParsedArguments parsed =
        Parse({L"unregister", L"--version", L"2.10", L"--guid", L"12345678-9abc-def0-1234-56789abcdef0",
               L"--lcid", L"0x409", L"--syskind", L"win64"});
    ASSERT_EQ(parsed.error, L"");
    const Options& options = parsed.options;
    EXPECT_TRUE(options.byIdentity);
    EXPECT_EQ(GuidText(options.identity.guid), L"{12345678-9ABC-DEF0-1234-56789ABCDEF0}")
        << "braces are optional and case does not matter";
    EXPECT_EQ(options.identity.major, 2);
    EXPECT_EQ(options.identity.minor, 10) << "the version is decimal, as people write it";
    EXPECT_EQ(options.identity.lcid, 0x409u);
    EXPECT_EQ(options.identity.syskind, SYS_WIN64);

    parsed =
        Parse({L"unregister", L"--guid", L"{12345678-9ABC-DEF0-1234-56789ABCDEF0}", L"--version", L"1.0"});
    EXPECT_EQ(parsed.options.identity.lcid, 0u) << "locale 0 unless given";
    EXPECT_EQ(parsed.options.identity.syskind, SYS_WIN32) << "win32 unless given";
}

TEST(CliArguments, HelpWinsOverEverythingElseThatParses) {
    EXPECT_EQ(Parse({L"--help"}).options.command, Command::Help);
    EXPECT_EQ(Parse({L"help"}).options.command, Command::Help);
    EXPECT_EQ(Parse({L"status", L"x", L"-h"}).options.command, Command::Help);
    EXPECT_EQ(Parse({L"list", L"/?"}).options.command, Command::Help);
}

TEST(CliArguments, NumbersOutsideTheirRangeOrFormAreRefused) {
    WORD major = 7, minor = 7;
    EXPECT_TRUE(ParseVersion(L"65535.65535", major, minor));
    EXPECT_EQ(major, 65535);
    for (const wchar_t* bad :
         {L"65536.0", L"1", L"1.", L".1", L"-1.0", L"1.0.0", L"a.b", L" 1.0", L"0x1.0"}) {
        SCOPED_TRACE(ToAnsi(std::wstring(bad)));
        EXPECT_FALSE(ParseVersion(bad, major, minor));
    }
    LCID lcid = 0;
    EXPECT_TRUE(ParseLcid(L"1033", lcid));
    EXPECT_EQ(lcid, 1033u);
    EXPECT_TRUE(ParseLcid(L"0X40c", lcid));
    EXPECT_EQ(lcid, 0x40Cu);
    for (const wchar_t* bad : {L"", L"0x", L"-1", L"12a", L"4294967296"}) {
        SCOPED_TRACE(ToAnsi(std::wstring(bad)));
        EXPECT_FALSE(ParseLcid(bad, lcid));
    }
    GUID guid;
    EXPECT_FALSE(ParseGuid(L"{12345678-9ABC-DEF0-1234-56789ABCDEF0", guid));
    EXPECT_FALSE(ParseGuid(L"{1234567G-9ABC-DEF0-1234-56789ABCDEF0}", guid));
    SYSKIND syskind;
    EXPECT_FALSE(ParseSysKind(L"Win32", syskind)) << "key names are written in lower case";
}

PathEntry Entry(LCID lcid, const wchar_t* platform, PathState state) {
    PathEntry entry;
    entry.lcid = lcid;
    entry.lcidKey = lcid == 0 ? L"0" : L"409";
    entry.platform = platform;
    entry.path = L"C:\\x.tlb";
    entry.state = state;
    return entry;
}

TEST(CliStatus, OnlyTheEntryOfTheLibrarysOwnLocaleAndPlatformDecides) {
    LibraryIdentity identity; // locale 0, win32
    Registration registration;
    registration.exists = true;
    EXPECT_EQ(DecideStatus(registration, identity).status, Status::NotRegistered)
        << "a version key without paths";

    registration.paths = {Entry(0x409, L"win32", PathState::ThisFile),
                          Entry(0, L"win64", PathState::ThisFile)};
    EXPECT_EQ(DecideStatus(registration, identity).status, Status::NotRegistered);

    const std::pair<PathState, Status> cases[] = {{PathState::ThisFile, Status::Registered},
                                                  {PathState::OtherFile, Status::OtherFile},
                                                  {PathState::Missing, Status::MissingFile}};
    for (const auto& [state, status] : cases) {
        registration.paths.push_back(Entry(0, L"win32", state));
        StatusDecision decision = DecideStatus(registration, identity);
        EXPECT_EQ(decision.status, status) << PathStateName(state);
        EXPECT_EQ(decision.entry, &registration.paths.back());
        registration.paths.pop_back();
    }
    registration.paths = {Entry(0, L"Win32", PathState::ThisFile)};
    EXPECT_EQ(DecideStatus(registration, identity).status, Status::Registered)
        << "registry key names are case-insensitive";
    EXPECT_EQ(StatusExitCode(Status::Registered), 0);
    EXPECT_EQ(StatusExitCode(Status::NotRegistered), 1);
    EXPECT_EQ(StatusExitCode(Status::OtherFile), 3);
    EXPECT_EQ(StatusExitCode(Status::MissingFile), 3);
}

TEST(CliRendering, ARefusalForLackOfRightsNamesBothWaysOut) {
    for (HRESULT refused : {E_ACCESSDENIED, TYPE_E_REGISTRYACCESS}) {
        std::wstring line = RightsRefusal(L"registering 'a.tlb'", refused);
        for (const wchar_t* part : {L"administrator", L"elevated prompt", L"--user"})
            EXPECT_NE(line.find(part), std::wstring::npos) << ToAnsi(line);
        EXPECT_EQ(line.find(L'\n'), std::wstring::npos) << "one line";
    }
    EXPECT_EQ(RightsRefusal(L"registering 'a.tlb'", E_FAIL), L"") << "other failures keep their own message";
}

TEST(CliRendering, ListsKeepOnlyMissingPathsWhenBrokenAndSayHowToRemoveThem) {
    Registration whole, partly;
    whole.guidText = L"{11111111-1111-1111-1111-111111111111}";
    whole.versionText = L"1.0";
    whole.paths = {Entry(0, L"win32", PathState::OtherFile)};
    partly.guidText = L"{22222222-2222-2222-2222-222222222222}";
    partly.versionText = L"2.10";
    partly.description = L"Partly";
    partly.paths = {Entry(0, L"win32", PathState::OtherFile), Entry(0x409, L"win64", PathState::Missing)};

    std::vector<Registration> broken = BrokenOnly({whole, partly});
    ASSERT_EQ(broken.size(), 1u);
    EXPECT_EQ(broken[0].guidText, partly.guidText);
    ASSERT_EQ(broken[0].paths.size(), 1u);
    EXPECT_EQ(ListText(broken, true),
              L"{22222222-2222-2222-2222-222222222222}  2.10  Partly\n"
              L"    409\\win64:  C:\\x.tlb  [missing]\n"
              L"    remove: corvane-cli unregister --guid {22222222-2222-2222-2222-222222222222} "
              L"--version 2.10 --lcid 1033 --syskind win64\n");
    EXPECT_EQ(ListText({}, true), L"no registration names a missing or unreadable file\n");
}

TEST(CliRendering, LabelsAreAlignedSoEveryValueStartsInOneColumn) {
    EXPECT_EQ(AlignedLines({{L"A", L"1"}, {L"Longer", L"2"}}, L"  "), L"  A:       1\n  Longer:  2\n");
}

TEST(CliRendering, JsonHoldsNullForWhatTheRegistryLacksAndUtf8ForText) {
    Registration registration;
    registration.guidText = L"{11111111-1111-1111-1111-111111111111}";
    registration.versionKeyName = L"2.a";
    registration.versionText = L"2.10";
    nlohmann::json absent = nlohmann::json::parse(Json(RegistrationJson(registration)).Text());
    EXPECT_EQ(absent["key"],
              "HKEY_LOCAL_MACHINE\\Software\\Classes\\TypeLib\\{11111111-1111-1111-1111-111111111111}\\2.a");
    EXPECT_TRUE(absent["scope"].is_null()) << "held by neither branch";
    EXPECT_TRUE(absent["description"].is_null()) << absent.dump();
    EXPECT_TRUE(absent["flags"].is_null());

    registration.exists = true;
    registration.description = L"Caf\x00e9";
    registration.flags = L"0";
    nlohmann::json present = nlohmann::json::parse(Json(RegistrationJson(registration)).Text());
    EXPECT_EQ(present["description"], "Caf\xC3\xA9") << "text becomes UTF-8";
    EXPECT_EQ(present["flags"], "0");
    EXPECT_TRUE(present["helpDir"].is_null());
}

// The JSON library re-writing what it parsed is the expected text, byte for byte: keys in order,
// indented by two, the short escapes, UTF-8 as it is.
TEST(CliRendering, JsonIsWrittenAsTheJsonLibraryWritesIt) {
    JsonObject inner;
    inner["z"] = JsonArray();
    inner["a"] = JsonObject();
    JsonArray values;
    for (Json value : {Json(nullptr), Json(true), Json(-12), Json(4294967295u), Json(inner)})
        values.push_back(value);
    JsonObject document;
    document["text"] = "replaced";
    document["values"] = values;
    document["text"] = "q\" b\\ \b\f\n\r\t \x01\x1f \x7f Caf\xC3\xA9";
    std::string written = Json(document).Text();
    EXPECT_EQ(written, nlohmann::json::parse(written).dump(2));
    EXPECT_NE(written.find("Caf\xC3\xA9"), std::string::npos) << written;
    // The writer alone keeps the order of its calls.
    JsonWriter stream;
    stream.Open('{');
    stream.Field("b", "x\n");
    stream.Key("a");
    stream.Written(written);
    stream.Close('}');
    EXPECT_EQ(stream.out, nlohmann::ordered_json::parse(stream.out).dump(2));
}

TEST(CliRendering, UsageErrorsGoToStderrWithTheUsageAndNothingToStdout) {
    Output output = cli::Run({L"--frob"});
    EXPECT_EQ(output.exitCode, 2);
    EXPECT_EQ(output.out, L"");
    EXPECT_EQ(output.err, L"corvane-cli: unknown option '--frob'\n" + UsageText());
}

// Wine gives every child its job, so the refusal a parent's job would cause is made by the
// reader's test hook; the console must then say so on stderr and in the document.
TEST(CliRendering, AChildWithLessConfinementGivesAWarningAndTheDocumentSaysWhatItLacked) {
    ComApartment apartment;
    for (bool refused : {false, true}) {
        reader::RefuseJobsForTests(refused);
        reader::ForgetAnswers(); // so that a child reads the file each time
        Output output = cli::Run({L"info", L"C:\\windows\\system32\\stdole2.tlb", L"--json"});
        reader::RefuseJobsForTests(false);
        EXPECT_EQ(output.exitCode, 0) << ToUtf8(output.err);
        nlohmann::json got = nlohmann::json::parse(ToUtf8(output.out))["reader"];
        EXPECT_EQ(got["job"], !refused) << got.dump();
        EXPECT_EQ(got["full"], !refused) << got.dump();
        EXPECT_EQ(output.err, refused ? L"corvane-cli: warning: the reader ran with less confinement than "
                                        L"documented: " +
                                            FromUtf8(got["missing"].get<std::string>()) + L"\n"
                                      : L"");
    }
}

} // namespace
