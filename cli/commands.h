// The commands of corvane-cli and their two renderings, aligned text for people and one JSON
// document for scripts, both built from the same facts. Each command gives a Result; Run picks
// the rendering the arguments asked for.
#pragma once

#include <windows.h>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/catalogue.h"
#include "cli/arguments.h"
#include "cli/cli.h"
#include "cli/json.h"
#include "reader/reader.h"
#include "registration/regfile.h"

namespace cli {

struct Result {
    int exitCode = kExitOk;
    JsonObject document; // for --json
    std::wstring text;
    std::string bytes; // instead of text: bytes that reach stdout unchanged
    std::wstring error;
};

Result Info(const Options& options);
Result StatusOf(const Options& options);
Result List(const Options& options);
Result Register(const Options& options);
Result Unregister(const Options& options);
Result Export(const Options& options);
Result Check(const Options& options);
Result Which(const Options& options);
Result Types(const Options& options); // cli/types.cpp
Result Diff(const Options& options);  // cli/diff.cpp

// ---- Pieces the commands share -------------------------------------------------------------

// A failed command: exit code 2, the message on stderr and as "error" in the document.
Result Failure(JsonObject document, const std::wstring& message);
// FILE located and its library read through the reader.
struct OpenedFile {
    FileLocation location;
    LibraryDescription description;
};
// "corvane-cli unregister --guid {G} --version M.m --lcid N --syskind win32", with " --user"
// for the user's branch: the command that removes one entry on purpose.
std::wstring UnregisterCommand(const std::wstring& guidText, const std::wstring& versionText, LCID lcid,
                               const std::wstring& platform, Scope scope);
// Opens FILE for command; on failure gives nothing and fills failure with the one-line message.
// With content, the library's whole content is read as well.
std::optional<OpenedFile> OpenFile(const char* command, const std::wstring& given, Result& failure,
                                   reader::LibraryContent* content = nullptr);
// The one-line message for a Located that is not a file to read.
std::wstring LocateMessage(const Located& located);

// Text in JSON is UTF-8.
Json Utf8(const std::wstring& text);
Json TextOrNull(const std::optional<std::wstring>& text);
Json PresenceJson(Presence presence);
JsonObject FileJson(const FileLocation& location);
JsonObject IdentityJson(const LibraryIdentity& identity);
// What a reader child got: each limit, whether that is all of them, and what it went without.
JsonObject ConfinementJson(const reader::Confinement& confinement);
// "{GUID} 1.0 lcid 0 win32"
std::wstring IdentityText(const LibraryIdentity& identity);
std::wstring VersionTextOf(WORD major, WORD minor);
// Aligned "label: value" lines: every value starts in one column, two blanks after the longest
// label's colon.
using Line = std::pair<std::wstring, std::wstring>;
std::wstring AlignedLines(const std::vector<Line>& lines, const std::wstring& indent = std::wstring());
size_t LabelWidth(const std::vector<Line>& lines);
std::wstring AlignedLine(const Line& line, size_t labelWidth, const std::wstring& indent = std::wstring());

// export --bitness, or that of the Windows it runs on: 64 under WOW64.
int ExportBitness(const Options& options);
// export --format wxs or manifest: the file's bytes (UTF-8) made from tree, the captured
// registration of file, and the summary's middle ("13 keys as WiX component group ..."); the
// format's facts go into document. error: the registration cannot be written in that format.
struct InstallerExport {
    std::string bytes;
    std::wstring summary;
    std::wstring error;
};
InstallerExport ExportForInstaller(const Options& options, const OpenedFile& file, const RegistryTree& tree,
                                   JsonObject& document);

// ---- The renderings of the reading commands ------------------------------------------------

// The interface keys that registering the library in file writes, read in each registry view of
// one branch. They are taken from what the system's registration writes (captured, the live
// registry untouched), so that they are the system's choice of interfaces and not ours.
struct InterfaceFacts {
    HRESULT result = E_PENDING; // of finding them; E_PENDING: not looked for
    Scope scope = Scope::Machine;
    std::vector<InterfaceKeyState> keys;
    // How many of the keys are missing from the view.
    size_t MissingFrom(View view) const;
};
InterfaceFacts ReadInterfaceFacts(const std::wstring& file, const LibraryIdentity& identity, Scope scope);

JsonObject LibraryJson(const LibraryDescription& description);
JsonObject RegistrationJson(const Registration& registration);
std::wstring InfoText(const FileLocation& location, const LibraryDescription& description,
                      const Lookup& lookup, const InterfaceFacts& interfaces);
std::wstring StatusLine(const Lookup& lookup);
// "incomplete: 2 of 5 interfaces missing from the 32-bit view", a line per such view.
std::wstring IncompleteLines(const InterfaceFacts& interfaces);
// hints: after each missing path, the command that removes that registration.
std::wstring ListText(const std::vector<Registration>& registrations, bool hints);
// Keeps only the broken paths (missing or unreadable), and the library versions that have one.
std::vector<Registration> BrokenOnly(std::vector<Registration> registrations);

int StatusExitCode(Status status);

// The one-line refusal for a machine-wide change that the registry refused for lack of rights
// (E_ACCESSDENIED, TYPE_E_REGISTRYACCESS), naming both ways out; empty for any other failure.
// action is "registering 'FILE'" or "unregistering {guid} ...".
std::wstring RightsRefusal(const std::wstring& action, HRESULT result);

} // namespace cli
