// A backup of registry keys taken before a change, as a registration entries (.reg) file that
// regedit imports: each key recorded is written as a deletion of the key, then the key and
// everything below it as it was (nothing more when it did not exist). Importing the file
// therefore removes what the change added under those keys and puts back what it removed or
// changed, so the keys are exactly as they were.
//
// On 64-bit Windows the keys are named as the 64-bit regedit (the one "regedit /s" and a
// double-click start) names the views, as export writes them: Classes\Interface\... is the
// 64-bit view, Classes\Wow6432Node\Interface\... the 32-bit one; TypeLib is shared.
#pragma once

#include <windows.h>
#include <set>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "registration/regfile.h"

class RegistryBackup {
  public:
    // Records Software\Classes\path of scope's branch as view sees it ("TypeLib\{...}\1.0",
    // "Interface\{...}"), once however often it is recorded. Fails with the registry's error
    // when the key is there but cannot be read whole.
    HRESULT Record(Scope scope, View view, const std::wstring& path);
    // The keys recorded, by the names the file gives them.
    const std::vector<std::wstring>& Keys() const { return names_; }
    // The file's bytes: UTF-16LE after a byte-order mark, as regedit writes.
    std::string FileBytes() const;

  private:
    RegistryTree& TreeOf(Scope scope) { return scope == Scope::User ? user_ : machine_; }
    RegistryTree machine_; // the machine's classes
    RegistryTree user_;    // the user's classes
    std::vector<std::wstring> names_;
    std::set<std::wstring> recorded_; // names_, to find one at once
};

// Where a backup goes when the user names no file: the user's temporary folder, a name of its
// own per change ("corvane-backup-20261209-081500-1234.reg").
std::wstring DefaultBackupPath();
