// Why a registered library can still fail a client, and the repair of what can be repaired.
//
// A client gets a library through its TypeLib key (LoadRegTypeLib: the version key, the path
// for its locale and platform, the file there) and marshals its interfaces through their
// Interface keys in its own registry view (ProxyStubClsid32, a registered proxy class, and the
// TypeLib subkey naming the library back). Each way that chain can break is a Finding, with the
// error a client gets from it. Nothing here shows anything; the repair changes the registry only
// through the registration services and the direct removal the window and the console share.
#pragma once

#include <windows.h>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "registration/backup.h"
#include "registration/registration.h"

enum class FindingKind {
    NoPath,                 // the version key is missing, or has no path for the locale and platform
    FileMissing,            // the registered file is gone
    FileUnreadable,         // the registered file holds no library that can be read
    FileOtherLibrary,       // the registered file declares another GUID or version
    OrphanInterface,        // an Interface key names a library version that is not registered
    InterfaceMissing,       // an interface that registration writes is missing from a view
    ProxyStubMissing,       // an interface key has no ProxyStubClsid32
    ProxyStubNotRegistered, // ProxyStubClsid32 names a class not registered in the view
    HelpDirMissing,         // warning: HELPDIR names no folder
    StaleVersion,           // warning: an older version whose file is gone
};
const char* FindingKindName(FindingKind kind); // "no-path", "file-missing", ...

// What --fix may do about a finding: nothing, register the registered file again (which writes
// every interface key in every view), delete one interface key, or remove a library version.
enum class RepairKind { None, Reregister, RemoveInterface, RemoveVersion };

struct Finding {
    FindingKind kind = FindingKind::NoPath;
    bool warning = false;
    Scope scope = Scope::Machine;
    std::optional<View> view;   // for interface keys
    std::wstring key;           // the key at fault, as regedit names it
    std::wstring detail;        // what is wrong with it
    HRESULT clientError = S_OK; // what a client gets (S_OK for a warning)
    LibraryIdentity library;    // the library version concerned (lcid, syskind of its entry)
    std::wstring file;          // the registered file, where one is concerned
    std::wstring iid;           // for interface keys
    RepairKind repair = RepairKind::None;
};

// What to look at: one library's versions (guid; version and entry when given), or every
// registered library; in the branches asked (both when none), in every registry view.
struct CheckRequest {
    std::optional<GUID> library;                  // none: every registered library
    std::optional<std::pair<WORD, WORD>> version; // the version the client asks for
    std::optional<LCID> lcid;                     // the entry it needs, when known
    std::optional<SYSKIND> syskind;
    std::optional<Scope> scope;
};

struct CheckReport {
    size_t libraries = 0; // library versions looked at
    std::vector<Finding> findings;
    size_t Problems() const;
};

// Every finding for the request. Registered files are read through the reader, all in one child.
CheckReport CheckRegistrations(const CheckRequest& request);

// The repairs that the findings call for, each once, with the keys each will change.
struct RepairStep {
    RepairKind kind = RepairKind::None;
    Scope scope = Scope::Machine;
    std::optional<View> view;
    LibraryIdentity library;
    std::wstring file;                // Reregister
    std::wstring iid;                 // RemoveInterface
    std::wstring Description() const; // "register 'C:\x.tlb' again", ...
};
std::vector<RepairStep> PlanRepairs(const std::vector<Finding>& findings);
// Records in backup every key the steps will change or remove. index: the run's Interface keys,
// the same for the backup and the repairs, so that each branch is read once.
HRESULT BackUpRepairs(const std::vector<RepairStep>& steps, RegistryBackup& backup, InterfaceIndex& index);
// Records in backup the keys removing the identity's registration will change or remove.
HRESULT BackUpRemoval(const LibraryIdentity& identity, Scope scope, RegistryBackup& backup,
                      InterfaceIndex& index);
// Carries out one step; its outcome.
HRESULT Repair(const RepairStep& step, InterfaceIndex& index);
