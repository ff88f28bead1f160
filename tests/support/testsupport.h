// Shared helpers of the test programs: temporary folders, fresh GUIDs, type libraries made at
// run time with CreateTypeLib2, and the paths of the binaries under test.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <string>

#include "common/owners.h"

namespace testsupport {

// An activation context owns a handle of its own kind, released with ReleaseActCtx.
struct ActCtxTraits {
    using Handle = HANDLE;
    static Handle Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { ReleaseActCtx(h); }
};
using ActivationContext = UniqueHandle<ActCtxTraits>;

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

// Makes folder the current folder for the life of the object.
class CurrentFolderScope {
  public:
    explicit CurrentFolderScope(const std::string& folder);
    CurrentFolderScope(const CurrentFolderScope&) = delete;
    CurrentFolderScope& operator=(const CurrentFolderScope&) = delete;
    ~CurrentFolderScope();

  private:
    char saved_[MAX_PATH] = "";
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

// A code or style value for assertion messages: "0x" and eight upper-case hexadecimal digits.
std::string Hex(unsigned long value);

// A GUID nobody else uses, so that registry tests touch only their own keys.
GUID NewGuid();
// "{XXXXXXXX-...}" in upper case, the form the registry uses, as ANSI text.
std::string GuidAnsi(const GUID& guid);

// Writes a .tlb with CreateTypeLib2 and SaveAllChanges. Returns the HRESULT of the first
// step that failed, or S_OK.
HRESULT MakeTypeLib(const std::string& path, const LibraryRecipe& recipe);

// Writes a library (CreateTypeLib2) named CorvaneShapes, version 1.2, with: IShapes, an
// interface of six methods deriving from IUnknown; IDrawing, a dual interface of four; an
// enumeration of three values; a structure of two fields; and the class Drawing implementing
// both interfaces. Registering it writes Interface keys besides its TypeLib key.
HRESULT MakeTypeLibWithInterfaces(const std::string& path, const GUID& guid, SYSKIND syskind = SYS_WIN32);
// The IIDs of that library's IShapes (number 1) and IDrawing (2).
GUID InterfaceIid(const GUID& library, int number);

// Writes a file with the given bytes (for files that hold no type library).
void WriteFileBytes(const std::string& path, const std::string& bytes);
// The whole content of a file; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);

// The folder of the running test program: the build puts Corvane.exe and the component beside it.
std::string BinaryFolder();
std::string BesideTests(const std::string& fileName);

// Whether root\path exists (opened for reading).
bool KeyExists(HKEY root, const std::string& path);

// Deletes HKCR\TypeLib\{guid} with everything below it (test clean-up).
void DeleteTypeLibKey(const GUID& guid);

} // namespace testsupport
