// corvane-cli: the console companion of Corvane. Everything a command does is a plain function
// here (argument parsing, reading a library and its registration, deciding its status,
// rendering text and JSON), so that tests call them without starting a process; main.cpp only
// hands the command line in and the output out.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <optional>
#include <string>
#include <vector>
#include <nlohmann/json.hpp>

#include "registration/registration.h"

namespace cli {

// Exit codes. Scripts rely on them, so they never change meaning.
enum ExitCode : int {
    kExitOk = 0,            // done; for status: registered to this file
    kExitNotRegistered = 1, // status only
    kExitError = 2,         // bad arguments, bad file, or a failed operation
    kExitElsewhere = 3,     // status only: registered to another file or to a missing file
};

// ---- Arguments -------------------------------------------------------------------------------

enum class Command { Help, Version, Info, Status, Register, Unregister, List, Export };

// The registration of one library version for one locale and one platform, as the engine names
// it.
using Identity = LibraryIdentity;
// The registry branch a registration lives in: the machine's or the current user's.
using ::Scope;

struct Options {
    Command command = Command::Help;
    bool json = false;
    std::string file;        // info, status, register, unregister FILE
    bool byIdentity = false; // unregister --guid ... --version ...
    Identity identity;       // when byIdentity
    bool brokenOnly = false; // list --broken
    // --machine or --user: one branch only. None: info, status and list answer for what Windows
    // gives this user (the user's entry over the machine's); register and unregister act
    // machine-wide.
    std::optional<Scope> scope;
    std::string installDir; // export --install-dir DIR
    std::string outFile;    // export -o OUT.reg; empty: standard output
};

struct ParsedArguments {
    Options options;
    std::string error; // non-empty: a usage error, reported with the usage and exit code 2
};

// args are the arguments after the program name.
ParsedArguments ParseArguments(const std::vector<std::string>& args);
std::string UsageText();
std::string VersionLine();

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", braces optional; any letter case.
bool ParseGuid(const std::string& text, GUID& guid);
// "M.m" in decimal, each part 0..65535.
bool ParseVersion(const std::string& text, WORD& major, WORD& minor);
// A locale id in decimal, or in hexadecimal with a 0x prefix.
bool ParseLcid(const std::string& text, LCID& lcid);
// "win16", "win32" or "win64": the names of the platform keys under a locale key.
bool ParseSysKind(const std::string& text, SYSKIND& syskind);
std::string SysKindName(SYSKIND syskind);
// Upper-case braced form, as registration writes the key names.
std::string GuidString(const GUID& guid);

// ---- Files -----------------------------------------------------------------------------------

// A FILE argument or a registered path: a file, optionally followed by "\N", the index of a
// type-library resource inside a .dll or .exe, as the registry itself writes it.
struct FileLocation {
    std::string given;     // exactly as typed or as registered
    std::string filePath;  // the file part, made absolute
    int resourceIndex = 0; // 0: none given (the first library in the file)
};

enum class LocateError { None, Empty, FolderMissing, FileMissing, IsFolder };

struct Located {
    FileLocation location;
    LocateError error = LocateError::None;
    std::string missingFolder; // for FolderMissing
};

// The folder part of a path: "C:\\Libs" of "C:\\Libs\\Shapes.tlb", "C:\\" of "C:\\Shapes.tlb", "" of
// a bare name.
std::string FolderOf(const std::string& path);

// Resolves a FILE argument against the current folder. The whole text names a file when such
// a file exists; otherwise a trailing "\N" is a resource index when the text before it names a
// file.
Located LocateFile(const std::string& given);
// The one-line message for a LocateError.
std::string LocateMessage(const Located& located);

// Whether two paths name one file: same volume serial number and same file index, so that
// different spellings (case, relative parts, 8.3 names, links) of one file compare equal.
struct FileId {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool operator==(const FileId& other) const {
        return volume == other.volume && indexHigh == other.indexHigh && indexLow == other.indexLow;
    }
};
bool ReadFileId(const std::string& path, FileId& id);

// Exists: the file is there, and there is no file in hand to compare it with. Unreadable: the
// file is there, but no library can be read from it (list reads every listed file).
enum class PathState { ThisFile, OtherFile, Exists, Missing, Unreadable };
// "this file", "another file", "exists", "missing", "unreadable"
const char* PathStateName(PathState state);
// Missing and unreadable files: registrations that can no longer work.
bool IsBroken(PathState state);

// What a registered path names, seen from the library file in hand (null: no file in hand,
// then an existing path is Exists). A registered path with no folder is looked up on the
// search path, as loading the library would. An absent resource index counts as index 1, the
// first library, which is what loading such a path gives.
PathState ClassifyRegisteredPath(const std::string& registeredPath, const FileLocation* file);

// ---- The library in a file -------------------------------------------------------------------

struct LibraryFacts {
    std::string name;
    std::string description;
    Identity identity;
    std::string guidText;
    WORD libFlags = 0;
    UINT typeInfoCount = 0;
};

// Reads the library through the reader: a throw-away child loads it with
// LoadTypeLibEx(..., REGKIND_NONE), which never registers as a side effect and understands
// "lib.dll\2". A file that kills the child or does not answer in time is refused
// (reader::kDamaged, reader::kTimedOut).
HRESULT ReadLibrary(const FileLocation& location, LibraryFacts& facts);

// ---- The registry ----------------------------------------------------------------------------

const char* ScopeName(Scope scope); // "machine", "user"
// The key that holds a branch's classes: HKEY_LOCAL_MACHINE\Software\Classes or
// HKEY_CURRENT_USER\Software\Classes.
std::string ScopeKeyName(Scope scope);

// Which branches hold a registration.
struct Presence {
    bool machine = false;
    bool user = false;
};
const char* PresenceName(Presence presence); // "machine", "user", "both", "" for neither

struct PathEntry {
    std::string lcidKey; // the locale key's name, hexadecimal as registration writes it
    LCID lcid = 0;
    std::string platform; // "win16", "win32", "win64"
    std::string path;
    PathState state = PathState::Missing;
    Scope scope = Scope::Machine; // the branch the entry was read from
};

// What one branch's TypeLib key holds for one library version, read with KEY_READ only. A
// version listed from both branches is one Registration: its texts are the user's (which
// Windows gives the user), its paths those of both branches.
struct Registration {
    Scope scope = Scope::Machine; // the branch read (the user's, for a version in both)
    Presence presence;            // the branches that hold the version key
    std::string guidText;
    std::string versionKeyName; // "major.minor" in hexadecimal, the key's own name
    std::string versionText;    // "major.minor" in decimal
    bool exists = false;        // the version key exists
    std::string description;    // its default value
    bool hasFlags = false;
    std::string flags;
    bool hasHelpDir = false;
    std::string helpDir;
    std::vector<PathEntry> paths;
};

// Reads TypeLib\{guid}\major.minor in one branch; file (may be null) decides ThisFile against
// OtherFile.
Registration ReadRegistration(const Identity& identity, const FileLocation* file, Scope scope);
// Every registered library version under TypeLib in the branches asked (both when none), in
// registry order, a version held by both branches once. Every existing file they name is read
// through the reader, one child for them all, and one that holds no readable library is
// Unreadable.
std::vector<Registration> ListRegistrations(std::optional<Scope> scope);

// ---- Decisions -------------------------------------------------------------------------------

enum class Status { Registered, NotRegistered, OtherFile, MissingFile };

struct StatusDecision {
    Status status = Status::NotRegistered;
    const PathEntry* entry = nullptr; // the identity's entry, when there is one
};

// Looks at the entry of the library's own identity (its locale and platform): registered to
// this file, to another existing file, to a missing file, or not at all.
StatusDecision DecideStatus(const Registration& registration, const Identity& identity);

// The identity's registration in the branches asked (both when none), and the status Windows
// gives this user: from the user's entry when there is one, else from the machine's.
struct Lookup {
    Lookup() = default;
    Lookup(const Lookup&) = delete; // decision points into registrations
    Lookup& operator=(const Lookup&) = delete;
    Lookup(Lookup&&) = default;
    Lookup& operator=(Lookup&&) = default;

    std::vector<Registration> registrations; // one per branch read: the user's first
    size_t deciding = 0;                     // the registration the decision comes from
    StatusDecision decision;
    Presence presence; // the branches that hold an entry for the identity
    const Registration& Deciding() const { return registrations[deciding]; }
};
Lookup LookUp(const Identity& identity, const FileLocation* file, std::optional<Scope> scope);

int StatusExitCode(Status status);
const char* StatusName(Status status); // "registered", "not registered", ...

// Removes the registration of one identity. UnRegisterTypeLib first; it loads the registered
// file and fails when that file is gone or holds no library, which is exactly the leftover a
// user wants removed, so then the identity's keys are deleted directly (the locale and version
// keys too once nothing else is under them). removedKeys tells which way it went.
struct RemoveOutcome {
    HRESULT result = S_OK;
    bool removedKeys = false;
};
RemoveOutcome RemoveIdentity(const Identity& identity, const Registration& registration);

// The one-line refusal for a machine-wide change that the registry refused for lack of rights
// (E_ACCESSDENIED, TYPE_E_REGISTRYACCESS), naming both ways out; empty for any other failure.
// action is "registering 'FILE'" or "unregistering {guid} ...".
std::string RightsRefusal(const std::string& action, HRESULT result);

// ---- Commands and their output ---------------------------------------------------------------

struct Output {
    int exitCode = kExitOk;
    std::string out;     // stdout: the text for people, or one JSON document
    bool binary = false; // out is bytes (a .reg file) that must reach stdout unchanged
    std::string err;     // stderr: one-line errors
};

// Runs the whole program on the arguments after the program name.
Output Run(const std::vector<std::string>& args);

// The renderings, for the tests. Text in JSON is UTF-8 (converted from the ANSI code page).
std::string Utf8(const std::string& ansi);
nlohmann::json LibraryJson(const LibraryFacts& facts);
nlohmann::json RegistrationJson(const Registration& registration);
std::string InfoText(const FileLocation& location, const LibraryFacts& facts, const Lookup& lookup);
std::string StatusLine(const Lookup& lookup);
// hints: after each missing path, the command that removes that registration.
std::string ListText(const std::vector<Registration>& registrations, bool hints);
// Keeps only the broken paths (missing or unreadable), and the library versions that have one.
std::vector<Registration> BrokenOnly(std::vector<Registration> registrations);
// Aligned "label: value" lines: every value starts in one column.
std::string AlignedLines(const std::vector<std::pair<std::string, std::string>>& lines,
                         const std::string& indent = "");

} // namespace cli
