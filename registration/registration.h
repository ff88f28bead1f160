// Registering and unregistering a type library with the system's registration services, and the
// texts that report an outcome. Nothing here shows anything: callers decide what the user sees.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <string>
#include <vector>
#include "reader/reader.h"
#include "tlinfo/tlinfo.h"

// The name of a platform's key under a locale key: "win16", "win32", "win64"; null for a
// system kind that has none.
const char* PlatformKeyName(SYSKIND syskind);

// Where a registration is written: machine-wide, through HKEY_CLASSES_ROOT as the process sees
// it (the part HKEY_LOCAL_MACHINE\Software\Classes holds, which only administrators may change),
// or for the current user alone, into HKEY_CURRENT_USER\Software\Classes, which Windows lays
// over the machine's classes for that user.
enum class Scope { Machine, User };

// Registers the library in the file at path: loads it from the full path of path and registers it
// under that full path, so that a relative path never reaches the registry. Paths of MAX_PATH
// characters or more are refused (ERROR_FILENAME_EXCED_RANGE) before they reach the loader.
HRESULT RegisterLibraryFile(const std::string& path, Scope scope = Scope::Machine);

// Reads, through the component's application object, the identity the file at path declares:
// its GUID text, major and minor version and locale, in that order; the library object is
// released before this returns. The platform is always SYS_WIN32. Without an application object
// the identity cannot be read: REGDB_E_CLASSNOTREG.
HRESULT ReadDeclaredIdentity(ITlInfoApplication* application, const std::string& path,
                             LibraryIdentity& identity);

// Removes the registration of identity, whichever file it names.
HRESULT UnregisterLibrary(const LibraryIdentity& identity, Scope scope = Scope::Machine);

// Registers (registerFlag != 0) the file at path, or unregisters the identity it declares as the
// component reads it. Returns the HRESULT of the last service that ran.
HRESULT APPLYREGISTRATION(ITlInfoApplication* application, std::string path, int registerFlag);

// Gives bytes exactly the length of text in bytes and copies text into it unchanged.
void COPYTOBYTES(const std::wstring& text, std::vector<BYTE>& bytes);

// The message that reports an outcome: its text and message-box style.
struct OutcomeMessage {
    std::string text;
    UINT style;
};
OutcomeMessage RegistrationOutcome(int registerFlag, const std::string& path, HRESULT result);
