// Registration into another place than the machine's HKEY_CLASSES_ROOT: for the current user
// only, or into a private key whose contents are read back ("captured") instead of applied.
//
// Both let the system's own registration write as usual, with HKEY_CLASSES_ROOT mapped onto
// another key for the length of one call (RegOverridePredefKey, which Windows documents for
// installation programs that examine what a component writes). The mapping holds for the
// whole process, so nothing else in the process may use HKEY_CLASSES_ROOT meanwhile.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <functional>
#include <string>
#include <vector>

#include "registration/regfile.h"

// Maps HKEY_CLASSES_ROOT onto target for as long as the object lives, and back when it goes.
// Windows' RegisterTypeLib and UnRegisterTypeLib honour such a mapping only once
// OaEnablePerUserTLibRegistration has been called, so the first mapping calls it where oleaut32
// has it (Windows Vista SP1 and later; Wine 8 has not and honours the mapping without it). It
// stays in force for the rest of the process.
class ClassesRootMapping {
  public:
    explicit ClassesRootMapping(HKEY target);
    ClassesRootMapping(const ClassesRootMapping&) = delete;
    ClassesRootMapping& operator=(const ClassesRootMapping&) = delete;
    ~ClassesRootMapping();
    // ERROR_SUCCESS when HKEY_CLASSES_ROOT is mapped.
    LSTATUS Result() const { return result_; }

  private:
    LSTATUS result_;
};

// Runs work with HKEY_CLASSES_ROOT mapped onto the user's classes (created when missing, as in
// a fresh Wine prefix), and maps it back on every way out. Anything that reads or writes
// HKEY_CLASSES_ROOT inside work acts on the user's branch only.
HRESULT InUserClassesRoot(const std::function<HRESULT()>& work);

// Deletes classes\name when nothing is left in it: registering for the user creates the user's
// TypeLib and Interface keys where there were none (as in a fresh Wine prefix), and a round trip
// should leave the user's classes as they were.
void RemoveIfEmpty(HKEY classes, const wchar_t* name);

// What registering the library in path would write, without changing the live registry: the
// library is registered (as RegisterLibraryFile does) into a fresh private key under
// HKEY_CURRENT_USER\Software, which is read back into tree and deleted on every way out.
// The paths in tree are relative to the classes root ("TypeLib\{...}\1.0",
// "Interface\{...}"); the first-level keys that merely hold them are left out.
// Registering lets the reader's child read the file first, so a damaged file is refused before
// anything is written; the private key goes on every way out.
HRESULT CaptureRegistration(const std::wstring& path, RegistryTree& tree);

// The interface keys ("{IID}", the names under Interface) that registering the library in path
// writes, found by capturing the registration as above.
HRESULT CapturedInterfaces(const std::wstring& path, std::vector<std::wstring>& iids);
