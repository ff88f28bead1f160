// corvane-cli's command line: the commands, their operands and options, as a table.
#pragma once

#include <windows.h>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"

namespace cli {

enum class Command {
    Help,
    Version,
    Info,
    Status,
    Register,
    Unregister,
    List,
    Export,
    Check,
    Which,
    Types,
    Diff
};
enum class ExportFormat { Reg, Wxs, Manifest };

struct Options {
    Command command = Command::Help;
    bool json = false;
    std::wstring file;         // info, status, register, unregister, export FILE; diff OLD
    std::wstring otherFile;    // diff NEW
    bool byIdentity = false;   // unregister --guid ... --version ...
    LibraryIdentity identity;  // when byIdentity
    bool lcidGiven = false;    // --lcid given, when byIdentity
    bool syskindGiven = false; // --syskind given, when byIdentity
    bool brokenOnly = false;   // list --broken
    bool all = false;          // check --all
    bool fix = false;          // check --fix
    bool dryRun = false;       // check --dry-run: what --fix would do
    std::wstring backupFile;   // check --fix, unregister: --backup FILE.reg
    GUID guid = GUID_NULL;     // which GUID
    // --machine or --user: one branch only. None: info, status and list answer for what Windows
    // gives this user (the user's entry over the machine's); register and unregister act
    // machine-wide.
    std::optional<Scope> scope;
    std::wstring installDir; // export --install-dir DIR
    std::wstring outFile;    // export -o OUT.reg, types --idl -o OUT.idl; empty: standard output
    int bitness = 0;         // export --bitness 32|64; 0: that of the Windows it runs on
    // export --format: a .reg file, a WiX source fragment, or a side-by-side assembly manifest.
    ExportFormat format = ExportFormat::Reg;
    std::wstring directoryId = L"INSTALLFOLDER"; // --format wxs --directory ID
    std::wstring sourceDir;                      // --format wxs --source-dir DIR
    std::wstring assemblyName;                   // --format manifest --assembly-name NAME
    bool idl = false;                            // types --idl
};

struct ParsedArguments {
    Options options;
    std::wstring error; // non-empty: a usage error, reported with the usage and exit code 2
};

// args are the arguments after the program name.
ParsedArguments ParseArguments(const std::vector<std::wstring>& args);
std::wstring UsageText();
std::wstring VersionLine();

// "M.m" in decimal, each part 0..65535.
bool ParseVersion(const std::wstring& text, WORD& major, WORD& minor);
// A locale id in decimal, or in hexadecimal with a 0x prefix.
bool ParseLcid(const std::wstring& text, LCID& lcid);
// "win16", "win32" or "win64": the names of the platform keys under a locale key.
bool ParseSysKind(const std::wstring& text, SYSKIND& syskind);
std::wstring SysKindName(SYSKIND syskind);
const wchar_t* ExportFormatName(ExportFormat format); // "reg", "wxs", "manifest"

} // namespace cli
