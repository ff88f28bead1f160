// The gate through which the program reads a type-library file. Every file a user names is
// untrusted, and the system's loader can take the whole process down on a damaged one (a
// breakpoint, an access violation, or an exit with code 0 and no error at all). So the first
// reading of a file happens in a throw-away child process, corvane-reader.exe, found beside the
// module that holds this code; the caller gets the child's answer, or a refusal when the child
// died or did not answer in time.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <optional>
#include <string>
#include <vector>

#include "common/owners.h"

// The registration of one library version for one locale and one platform: the key
// TypeLib\{guid}\major.minor\lcid\platform, the unit that registering writes and unregistering
// removes.
struct LibraryIdentity {
    GUID guid = GUID_NULL;
    WORD major = 0;
    WORD minor = 0;
    LCID lcid = 0;
    SYSKIND syskind = SYS_WIN32;
};
// Two identities are one registration when all five parts agree.
inline bool operator==(const LibraryIdentity& a, const LibraryIdentity& b) {
    return IsEqualGUID(a.guid, b.guid) && a.major == b.major && a.minor == b.minor && a.lcid == b.lcid &&
           a.syskind == b.syskind;
}
inline bool operator!=(const LibraryIdentity& a, const LibraryIdentity& b) {
    return !(a == b);
}

// What a type-library file declares, as the reader's child read it: the one description of a
// library that the component, registration and the console all work from. Its identity is the
// base, so that description.guid and the rest name the identity's own fields.
struct LibraryDescription : LibraryIdentity {
    std::wstring name;             // GetDocumentation(-1) name ("" when none)
    std::wstring documentation;    // the documentation string ("" when none)
    bool hasDocumentation = false; // false when the library has none (a null BSTR)
    WORD flags = 0;
    UINT typeInfoCount = 0;
    // The numbers N of the file's TYPELIB resources ("file.dll\N"), in the file's order; empty
    // for a file that is no module (a .tlb).
    std::vector<WORD> resources;

    LibraryIdentity Identity() const { return *this; }
};

namespace reader {

// Facts: load the library, read its attributes and documentation. Registration: also walk
// every type info as RegisterTypeLib does, so that a library that survives it can then be
// loaded and registered in the caller's own process.
enum class Depth { Facts, Registration };

// The child died, or ended without a complete answer.
constexpr HRESULT kDamaged = HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);
// The child gave no answer within the time limit, and was ended.
constexpr HRESULT kTimedOut = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
// corvane-reader.exe is not beside this module, or could not be started.
constexpr HRESULT kNoReader = HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);

// The refusals that need no child, for paths no loader can take: E_INVALIDARG for an empty path
// or one with a NUL inside (the loader would read a shorter path than the caller gave, and open
// a file nobody asked for); HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE) when the path or its
// full path has MAX_PATH characters or more (no library loads from one, and the loader overruns
// its own buffers on one: seen under Wine from 266 characters on). S_OK for any other path.
HRESULT RefusePath(const std::wstring& path);

// Reads the library at path ("lib.dll\2" names TYPELIB resource 2 of lib.dll) in a child. The
// loader's own failure code (e.g. TYPE_E_CANTLOADLIBRARY) comes back unchanged; a path that
// RefusePath refuses gets its code without a child. description is filled on success only.
// Answers are remembered for the run, per file (full path, size, last-write time) and depth:
// asking again about an unchanged file starts no child. A registration read holds the file while
// its child reads, and its answer answers a later registration request only for the same content
// (see HoldWalked). On a thread that has windows the wait
// for the child lets them repaint, and nothing else: input and posted messages stay queued.
HRESULT ReadLibrary(const std::wstring& path, Depth depth, LibraryDescription& description);

struct Answer {
    HRESULT result;
    LibraryDescription description;
};
// The same for many files, in order, with one child for the whole batch; after a child died or
// was ended, the next file gets a new one.
std::vector<Answer> ReadLibraries(const std::vector<std::wstring>& paths, Depth depth);

// ---- Loading in this process ------------------------------------------------------------------
// Every load of a user's file in a Corvane process is of bytes a child walked at registration
// depth: the file is held (open sharing read access only, so that nobody can write, replace or
// delete it), a child walks it now, or an answer remembered for the same content (the file's
// identity on its volume and a digest of all its bytes) is used, and only then is it loaded or
// handed to a system service that loads it; it stays held until the caller lets it go.

// Holds the file at path (the DLL of "lib.dll\2") and makes sure a child walked the held bytes.
// RefusePath's refusals come first; a file another process has open for writing cannot be
// held: HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), before any child reads it. A file that
// cannot be held for any other reason (gone, a folder) gets the reader's answer, the loader's
// own code, or the failure to hold it when the child could read it after all. The child's
// failure comes back as ReadLibrary gives it. held is the hold whenever the file could be held,
// also when the child refused it (a file the loader fails on may still be handed to a service
// that fails on it too); description is filled on success only.
HRESULT HoldWalked(const std::wstring& path, FileHandle& held, LibraryDescription& description);

// A library loaded in this process from a held file that a child walked.
struct WalkedLibrary {
    FileHandle held;
    LibraryDescription description;
    ComPtr<ITypeLib> library;
};
// HoldWalked, then the system's loader on the file the child read: the one place in Corvane
// that loads a user's file in its own process. The loader's own code when it fails (or gives
// anything but S_OK); walked is filled on success only.
HRESULT LoadWalked(const std::wstring& path, WalkedLibrary& walked);

struct LibraryContent; // reader/content.h
// Reads the library at path as ReadLibrary does, and its whole content as well, in a child of
// its own; nothing of it is remembered. kDamaged also when the content is larger than
// kMaxContentSize or its record is not valid.
HRESULT ReadContent(const std::wstring& path, LibraryDescription& description, LibraryContent& content);

// What the launch of a child put in place, each limit as the system accepted it. A step the
// system refused is left out and recorded here, never silently: the child then runs as far
// confined as the system allowed (at worst as an ordinary child), and the callers can say so.
struct Confinement {
    bool job = false;             // in a job of its own, which the parent alone holds
    bool killOnClose = false;     // the job ends it when the parent's handle to the job closes
    bool oneProcess = false;      // the job lets it start no other process
    bool uiLimits = false;        // no other processes' windows, user handles, clipboard, desktop, settings
    bool restrictedToken = false; // every privilege but traversing folders removed, powerful groups deny-only
    bool lowIntegrity = false;    // at the low mandatory level
    // Without a job: the system's error when the child could not be put into one (0: no job
    // could be made), and whether the child was already in its parent's job, which then
    // forbids one inside it.
    DWORD jobError = 0;
    bool inParentsJob = false;
};

// True when the child got every limit above.
bool IsFullConfinement(const Confinement& confinement);
// What the child went without, short and lower-case, joined by ", " ("" when nothing): "no job
// (the parent's job forbids nesting)", "no ui limits", "no low integrity", ...
std::wstring MissingConfinement(const Confinement& confinement);
// The one warning line a program prints when a child ran with less than the full confinement
// ("" when it did not): "<program>: warning: the reader ran with less confinement than
// documented: <MissingConfinement>".
std::wstring ConfinementWarning(const std::wstring& program, const Confinement& confinement);
// What the most recent child got: of the component's reader when this module's reads go to it
// (ShareReaderOf) and it has started one, else of this module's own; none before any child.
std::optional<Confinement> LastConfinement();

// Starts a child (or takes this module's spare, when it keeps one) and waits for its answer to a
// request that does nothing: the least that any read through the gate costs, for the benchmark. For the
// tests, what the launch put in place, and the child's own view of its token ("privileges=N
// administrators=deny-only integrity=4096").
HRESULT AskIdleChild(Confinement* confinement = nullptr, std::wstring* token = nullptr);

// keep: from now on one idle child is kept ready ahead of need, started by a thread of the
// reader's own, never the caller's: a read takes it (after one round trip that shows it still
// answers; a spare that died or stalled is ended and a new child started), and the next spare
// starts after the read. The window asks for it once its main window is visible; corvane-cli
// never does: it reads with one child per run, or per batch for list. false ends the spare; call it before
// the reader goes (with the component, before it is released).
void KeepSpare(bool keep);

// ---- One reader per process ------------------------------------------------------------------
// Corvane.exe and CorvaneTLInfo.dll each hold a copy of this code, and each copy has its own
// remembered answers. A process that reads a file through the component and then registers it
// would pay for two children. So a module that loaded our component in-process hands its reads
// to the component's copy, which answers ICorvaneReader (reader/sharedreader.h).

// From now on this module's reads, KeepSpare and the tests' hooks (reader/testing.h) go to the
// reader behind application when application is our server's object in this process; with any
// other object (someone else's server, a proxy, a fake) or null, this module reads with its own
// state again.
// True when the reads now go to the component. Call it with null before application is
// released.
bool ShareReaderOf(IUnknown* application);

} // namespace reader
