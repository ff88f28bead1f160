// Shared helpers of the test programs: temporary folders, fresh GUIDs, type libraries made at
// run time with CreateTypeLib2, and the paths of the binaries under test.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <string>

namespace testsupport {

// A new folder under %TEMP%, removed with everything in it when the object goes.
class TempFolder {
  public:
    TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder();
    const std::string& Path() const { return path_; }
    // path + "\" + name
    std::string File(const std::string& name) const;

  private:
    std::string path_;
};

// What a made library declares.
struct LibraryRecipe {
    GUID guid; // NewGuid() by default
    std::string name = "TestLib";
    std::string description = "Test Library"; // documentation string, ANSI (code page 1252)
    WORD major = 1;
    WORD minor = 0;
    LCID lcid = 0;
    SYSKIND syskind = SYS_WIN32;
    LibraryRecipe();
};

// A GUID nobody else uses, so that registry tests touch only their own keys.
GUID NewGuid();
// "{XXXXXXXX-...}" in upper case, the form the registry uses.
std::string GuidText(const GUID& guid);

// Writes a .tlb with CreateTypeLib2 and SaveAllChanges. Returns the HRESULT of the first
// step that failed, or S_OK.
HRESULT MakeTypeLib(const std::string& path, const LibraryRecipe& recipe);

// Writes a file with the given bytes (for files that hold no type library).
void WriteFileBytes(const std::string& path, const std::string& bytes);

// The folder of the running test program: the build puts Corvane.exe and the component beside it.
std::string BinaryFolder();
std::string BesideTests(const std::string& fileName);

// Runs a program (commandLine: its quoted path and arguments) with no window and waits for at
// most timeoutMs. Returns its exit code, or kProgramFailed when it could not be started or did
// not end in time (it is then ended).
constexpr DWORD kProgramFailed = 0xFFFFFFFF;
DWORD RunProgram(const std::string& commandLine, DWORD timeoutMs = 60000);

// Whether root\path exists (opened for reading).
bool KeyExists(HKEY root, const std::string& path);

// Deletes HKCR\TypeLib\{guid} with everything below it (test clean-up).
void DeleteTypeLibKey(const GUID& guid);

} // namespace testsupport
