// Registering and unregistering type libraries with the system's registration services,
// machine-wide or for the current user. Every function returns the outcome as an HRESULT and
// shows nothing: callers decide what the user sees.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <map>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "common/text.h"
#include "reader/reader.h"
#include "tlinfo/tlinfo.h"

// Registers the library in the file at path: loads it from the full path of path and registers
// it under that full path, so that a relative path never reaches the registry. The file is
// untrusted: it is loaded through reader::LoadWalked, held from before a child walks it (or an
// answer for the same content is recalled) until the library is registered; a path the reader
// refuses never reaches the loader, and a file another process has open for writing is refused
// with HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), before any child reads it.
HRESULT RegisterLibraryFile(const std::wstring& path, Scope scope = Scope::Machine);

// Removes the registration of identity with the system's service, whichever file it names. The
// service loads the registered file to find the interfaces it registered, so each file it would
// load is held and walked by the reader's child first (reader::HoldWalked) until the service
// returns; a damaged one is not handed to it, nor one another process has open for writing.
// When every file it would load is gone, the service is not asked (it would fail on loading
// it): TYPE_E_CANTLOADLIBRARY.
HRESULT UnregisterLibrary(const LibraryIdentity& identity, Scope scope = Scope::Machine);

// An Interface key in one registry view of a branch.
struct InterfaceInView {
    View view;
    std::wstring iid;
};

// The Interface keys of each view of a branch, by the library version their TypeLib subkey
// names; each branch is read once, on first use, and keys deleted through the index leave it. A
// run that removes many registrations looks their keys up here instead of reading every
// Interface key again for each removal.
class InterfaceIndex {
  public:
    // The keys naming identity's GUID and version ("Version" as registration writes it, in any
    // letter case), in every view of scope's branch.
    const std::vector<InterfaceInView>& Naming(const LibraryIdentity& identity, Scope scope);
    // Deletes those keys and returns the ones deleted.
    std::vector<InterfaceInView> Delete(const LibraryIdentity& identity, Scope scope);

  private:
    using ByLibraryVersion = std::map<std::wstring, std::vector<InterfaceInView>, LessIgnoringCase>;
    ByLibraryVersion& Branch(Scope scope);
    std::map<Scope, ByLibraryVersion> branches_;
};

// Removes the registration of one identity, as both the window and the console do it. The
// system's service first; it fails when the registered file is gone or holds no library it can
// load, which is exactly the leftover a user wants removed, so then the identity's keys are
// deleted directly (and the locale, version and GUID keys above them once nothing else is
// under them). Once the version key is gone, the Interface keys whose TypeLib subkey names
// the identity's GUID and version are deleted in each registry view of the branch, and only
// those, as index finds them. Any other refusal (access denied, a file too slow to read, no
// reader) is returned as it is. deletedKeys tells which way it went, deletedInterfaces which
// interface keys went.
struct Removal {
    HRESULT result = S_OK;
    bool deletedKeys = false;
    std::vector<InterfaceInView> deletedInterfaces;
};
Removal RemoveRegistration(const LibraryIdentity& identity, Scope scope, InterfaceIndex& index);

// Reads, through the component's application object, the identity the file at path declares:
// its GUID text, major and minor version and locale, in that order, the library object
// released before this returns; and the system kind the file declares, which the component
// does not give, from the reader's answer for the file. Without an application object the
// identity cannot be read: REGDB_E_CLASSNOTREG.
HRESULT ReadDeclaredIdentity(ITlInfoApplication* application, const std::string& path,
                             LibraryIdentity& identity);

// The window's change: registers (registerFlag != 0) the file at path, an ANSI text as typed,
// or removes the registration of the identity it declares as the component reads it. Returns
// the HRESULT of the last service that ran.
HRESULT APPLYREGISTRATION(ITlInfoApplication* application, std::string path, int registerFlag);
