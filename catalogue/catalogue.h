// What the registry holds for type libraries: the TypeLib keys of the machine's and the user's
// classes, one library version or all of them, the files they name, and whether a library is
// registered to a given file. Plain values and reads: nothing here changes the registry.
//
// The two branches are read each on its own, HKEY_LOCAL_MACHINE\Software\Classes and
// HKEY_CURRENT_USER\Software\Classes: HKEY_CLASSES_ROOT is Windows' merged view of them, which
// cannot tell whose an entry is (and Wine does not merge them at all). Keys are opened for
// reading only and values read whole, whatever their length.
#pragma once

#include <windows.h>
#include <optional>
#include <string>
#include <vector>

#include "reader/reader.h"

// Where a registration lives: machine-wide, in HKEY_LOCAL_MACHINE\Software\Classes (which only
// administrators may change, and which HKEY_CLASSES_ROOT shows), or for the current user alone,
// in HKEY_CURRENT_USER\Software\Classes, which Windows lays over the machine's classes for that
// user.
enum class Scope { Machine, User };

// "Software\Classes": a branch's classes key under its root key.
extern const wchar_t kClassesKey[];
HKEY BranchRoot(Scope scope);            // HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER
std::wstring BranchKeyName(Scope scope); // "HKEY_LOCAL_MACHINE\Software\Classes", ...
const char* ScopeName(Scope scope);      // "machine", "user"

// ---- Key names ------------------------------------------------------------------------------

// The first-level keys of a branch's classes that registration writes below: "TypeLib",
// "Interface", "CLSID".
extern const wchar_t kTypeLibName[];
extern const wchar_t kInterfaceName[];
extern const wchar_t kClassName[];
// "Interface\{IID}", relative to the classes.
std::wstring InterfaceKeyPath(const std::wstring& iid);
// Whether a path relative to the classes is Interface or a key below it, in any case: the keys
// that 64-bit Windows keeps in each registry view, while TypeLib is shared.
bool IsInterfaceKey(const std::wstring& path);

// "TypeLib\{GUID}\major.minor", the version numbers in lower-case hexadecimal, as registration
// names the key.
std::wstring VersionKeyOf(const LibraryIdentity& identity);
// "major.minor" of that key: the version key's own name.
std::wstring VersionKeyNameOf(const LibraryIdentity& identity);
// "2.a", a version key's own name, as the numbers it stands for (2 and 10): one to eight
// hexadecimal digits on either side of one dot, each number at most 16 bits. False for a name of
// another form.
bool ParseVersionKeyName(const std::wstring& name, WORD& major, WORD& minor);
// One to eight hexadecimal digits, in any case: a locale key's name under a version key (the
// other subkeys there are FLAGS and HELPDIR).
bool IsLocaleKeyName(const std::wstring& name);
// "win16", "win32", "win64": the platform's key under a locale key; null for a system kind
// that has none.
const char* PlatformKeyName(SYSKIND syskind);
// The system kind a platform key's name stands for, in any case ("Win32" as some registrars
// write it); none for another name.
std::optional<SYSKIND> SysKindOfPlatformKey(const std::wstring& name);
// The system kind taken where nothing tells it (no platform asked for, a platform key of no
// known name, a file that cannot be read again): win32, the platform whose key a 32-bit
// program's own look-ups read and that registering a 32-bit library writes.
constexpr SYSKIND kAssumedSysKind = SYS_WIN32;

// ---- Files ----------------------------------------------------------------------------------

// A FILE argument or a registered path: a file, optionally followed by "\N", the index of a
// type-library resource inside a .dll or .exe, as the registry itself writes it.
struct FileLocation {
    std::wstring given;    // exactly as typed or as registered
    std::wstring filePath; // the file part, made absolute
    int resourceIndex = 0; // 0: none given (the first library in the file)
    // What the loader is handed: the file and "\N" when an index was given.
    std::wstring LibraryPath() const;
};

enum class LocateError { None, Empty, FolderMissing, FileMissing, IsFolder, NotAFile, InUse };

struct Located {
    FileLocation location;
    LocateError error = LocateError::None;
    std::wstring missingFolder; // for FolderMissing
    HRESULT code = S_OK;        // the system's code for InUse
};

// The folder part of a path: "C:\Libs" of "C:\Libs\Shapes.tlb", "C:\" of "C:\Shapes.tlb", "" of
// a bare name.
std::wstring FolderOf(const std::wstring& path);

// Resolves a FILE argument against the current folder. The whole text names a file when such
// a file exists; otherwise a trailing "\N" is a resource index when the text before it names a
// file. A device or pipe is NotAFile; a file another program holds open without sharing read
// access is InUse.
Located LocateFile(const std::wstring& given);

// Exists: the file is there, and there is no file in hand to compare it with. Unreadable: the
// file is there, but no library can be read from it.
enum class PathState { ThisFile, OtherFile, Exists, Missing, Unreadable };
const char* PathStateName(PathState state); // "this file", "another file", ...
// Missing and unreadable files: registrations that can no longer work.
bool IsBroken(PathState state);

// What a registered path names, seen from the library file in hand (null: no file in hand,
// then an existing path is Exists). Files are compared by identity (volume and file index), so
// that different spellings of one file (case, relative parts, 8.3 names, links) compare equal.
// A registered path with no folder is looked up on the search path, as loading the library
// would. An absent resource index counts as index 1, the first library.
PathState ClassifyRegisteredPath(const std::wstring& registeredPath, const FileLocation* file);

// ---- Registrations --------------------------------------------------------------------------

// Which branches hold a registration.
struct Presence {
    bool machine = false;
    bool user = false;
    bool In(Scope scope) const { return scope == Scope::User ? user : machine; }
    void Add(Scope scope) { (scope == Scope::User ? user : machine) = true; }
};
const char* PresenceName(Presence presence); // "machine", "user", "both", "" for neither

struct PathEntry {
    std::wstring lcidKey; // the locale key's name, hexadecimal as registration writes it
    LCID lcid = 0;
    std::wstring platform; // "win16", "win32", "win64", as found
    std::wstring path;
    PathState state = PathState::Missing;
    Scope scope = Scope::Machine; // the branch the entry was read from
};

// What one branch's TypeLib key holds for one library version. A version listed from both
// branches is one Registration: its texts are the user's (which Windows gives the user), its
// paths those of both branches.
struct Registration {
    Scope scope = Scope::Machine; // the branch read (the user's, for a version in both)
    Presence presence;            // the branches that hold the version key
    std::wstring guidText;
    std::wstring versionKeyName; // "major.minor" in hexadecimal, the key's own name
    std::wstring versionText;    // "major.minor" in decimal
    bool exists = false;         // the version key exists
    std::wstring description;    // its default value
    std::optional<std::wstring> flags;
    std::optional<std::wstring> helpDir;
    std::vector<PathEntry> paths;
    // HKEY_..._CLASSES\TypeLib\{guid}\major.minor in the branch read.
    std::wstring KeyName() const;
};

// Reads TypeLib\{guid}\major.minor in one branch; file (may be null) decides ThisFile against
// OtherFile.
Registration ReadRegistration(const LibraryIdentity& identity, const FileLocation* file, Scope scope);
// Every registered library version under TypeLib in the branches asked (both when none), in
// registry order, a version held by both branches once; with library, only that library's
// versions. Every existing file they name is read through the reader, one child for them all,
// and one that holds no readable library is Unreadable.
std::vector<Registration> ListRegistrations(std::optional<Scope> scope, const GUID* library = nullptr);
// Whether TypeLib\{guid}\versionKeyName exists in either branch: what a client's look-up,
// which sees both, can find.
bool VersionKeyExists(const std::wstring& guidText, const std::wstring& versionKeyName);
// The entry of identity's own locale and platform, or null.
const PathEntry* FindEntry(const Registration& registration, const LibraryIdentity& identity);

// ---- Status ---------------------------------------------------------------------------------

enum class Status { Registered, NotRegistered, OtherFile, MissingFile };
const char* StatusName(Status status); // "registered", "not registered", ...

struct StatusDecision {
    Status status = Status::NotRegistered;
    const PathEntry* entry = nullptr; // the identity's entry, when there is one
};

// Looks at the entry of the library's own identity (its locale and platform): registered to
// this file, to another existing file, to a missing file, or not at all.
StatusDecision DecideStatus(const Registration& registration, const LibraryIdentity& identity);

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
Lookup LookUp(const LibraryIdentity& identity, const FileLocation* file, std::optional<Scope> scope);

// ---- Registry views -------------------------------------------------------------------------

// On 64-bit Windows a branch's TypeLib key is shared, but its Interface and CLSID keys are
// redirected: a 32-bit process such as Corvane sees Classes\Wow6432Node\Interface, a 64-bit one
// Classes\Interface. A client of either kind that marshals an interface of a library needs the
// interface's key in its own view. On 32-bit Windows there is one view.
enum class View { Bits32, Bits64 };
const char* ViewName(View view); // "32-bit", "64-bit"
// The views this Windows has: both when this 32-bit process runs under WOW64, else one.
std::vector<View> RegistryViews();
// What opens a key in view: KEY_WOW64_32KEY or KEY_WOW64_64KEY under WOW64, nothing otherwise.
REGSAM ViewAccess(View view);
// "Software\Classes\Interface": the interface keys of a branch, under BranchRoot.
extern const wchar_t kInterfaceKey[];
// Whether an open Interface\{IID} key's TypeLib subkey names identity's GUID and its version
// ("Version", "major.minor" in hexadecimal, as registration writes it and the version key's name).
bool NamesLibrary(HKEY interfaceKey, const LibraryIdentity& identity);
// The library version that key names: "{GUID}\\major.minor", the GUID in the registry's form
// and the Version value as written. Empty when either is missing or the GUID is malformed.
std::wstring NamedLibraryVersion(HKEY interfaceKey);
// The same name for identity, as registration writes it.
std::wstring LibraryVersionName(const LibraryIdentity& identity);

// One interface's key in each view of a branch.
struct InterfaceKeyState {
    struct InView {
        View view = View::Bits32;
        bool present = false;
        bool namesLibrary = false;
    };
    std::wstring iid;          // "{...}", the key's name
    std::vector<InView> views; // one per RegistryViews()
};
std::vector<InterfaceKeyState> ReadInterfaceKeys(const std::vector<std::wstring>& iids, Scope scope,
                                                 const LibraryIdentity& identity);

// An Interface\{IID} key as one view of a branch holds it, with the values a client's
// marshalling reads.
struct InterfaceKey {
    Scope scope = Scope::Machine;
    View view = View::Bits32;
    std::wstring iid;                           // the key's name
    std::wstring name;                          // its default value
    std::optional<std::wstring> typeLib;        // TypeLib's default value: the library's GUID
    std::optional<std::wstring> typeLibVersion; // TypeLib's Version value
    std::optional<std::wstring> proxyStub;      // ProxyStubClsid32's default value
    // HKEY_..._CLASSES\Interface\{IID}, with "(32-bit view)" under WOW64.
    std::wstring KeyName() const;
};
// The Interface keys of a view of a branch that name a library in a TypeLib subkey (library
// given: that library's GUID alone), in registry order.
std::vector<InterfaceKey> ReadLibraryInterfaceKeys(Scope scope, View view, const GUID* library);
// Interface\{iid} in a view of a branch, if it is there.
std::optional<InterfaceKey> ReadInterfaceKey(Scope scope, View view, const std::wstring& iid);
// Whether CLSID\{clsid} exists in view, in either branch.
bool ClassKeyExists(const std::wstring& clsid, View view);
// "Software\Classes\CLSID": the class keys of a branch, under BranchRoot.
extern const wchar_t kClassKey[];

// A CLSID\{clsid} key as one view of a branch holds it: the class's servers and library.
struct ClassKey {
    Scope scope = Scope::Machine;
    View view = View::Bits32;
    std::wstring name;                        // its default value
    std::optional<std::wstring> inprocServer; // InprocServer32
    std::optional<std::wstring> localServer;  // LocalServer32
    std::optional<std::wstring> typeLib;      // TypeLib: the GUID of the class's library
};
std::optional<ClassKey> ReadClassKey(Scope scope, View view, const std::wstring& clsid);
