// Helpers of the system tests: running work inside the real main window, reading what the
// window shows, reading a library's facts independently of Corvane, and noting and putting
// back a registry subtree.
#pragma once

#include <windows.h>
#include <functional>
#include <string>
#include <vector>

namespace systemtest {

// Builds the real main window with SHOWMAINWINDOW, runs work(mainWindow) inside its modal run
// (the window is initialised, so the program-wide state holds the window and the application
// object), then destroys the window and releases the application object as the program's end
// does. Returns false when the window never ran the work.
bool RunInsideMainWindow(const std::function<void(HWND)>& work);

// What the main window shows: the three fact fields and the check box.
struct ShownFacts {
    std::string nameLine;
    std::string guidText;
    std::string versionText;
    bool registered = false;
};
ShownFacts ReadShownFacts(HWND mainWindow);
// Puts texts and a check state into the four controls that no facts view would write, so a
// view that leaves them alone shows up.
void MarkFactFieldsStale(HWND mainWindow, bool checked);
std::string Describe(const ShownFacts& facts);
bool operator==(const ShownFacts& a, const ShownFacts& b);

// The facts the window should show for a file, read here without Corvane: the library loaded
// with LoadTypeLibEx(REGKIND_NONE), GetDocumentation(-1), GetLibAttr, and the version key
// opened with read access only. Returns false when no library loads from the file (the view
// must then be empty and unchecked).
struct OwnFacts {
    std::string name;
    std::string description;
    std::string guidText;
    unsigned short major = 0;
    unsigned short minor = 0;
    LCID lcid = 0;
    std::string versionKey; // TypeLib\{guid}\major.minor in lower-case hexadecimal
    bool registered = false;
    ShownFacts Shown() const;
};
bool ReadOwnFacts(const std::string& path, OwnFacts& facts);

// Reads the default value of HKCR\key with read access; false when the key does not exist.
// A key without a default value gives "".
bool ReadDefaultValue(const std::string& key, std::string& value);

// A registry subtree under HKEY_CLASSES_ROOT, every key with its values, for putting back
// exactly what a test changed. Empty when the key does not exist.
struct RegistryValue {
    std::string name;
    DWORD type = 0;
    std::string data;
};
struct RegistryKeyCopy {
    std::string path; // relative to the subtree's root key, "" for the root itself
    std::vector<RegistryValue> values;
};
struct RegistrySubtree {
    std::string key; // under HKEY_CLASSES_ROOT
    std::vector<RegistryKeyCopy> keys;
};
RegistrySubtree NoteSubtree(const std::string& key);
// Deletes the subtree as it is now and writes the noted one back.
void RestoreSubtree(const RegistrySubtree& noted);
bool operator==(const RegistrySubtree& a, const RegistrySubtree& b);
std::string Describe(const RegistrySubtree& subtree);

// Handle-slot watermarks. Under Wine GetGuiResources and GetProcessHandleCount answer 0, so
// objects in use are measured by the slots that new objects get:
// - the slot of one object created and freed at once (a freed slot is reused, so the value
//   comes back when nothing was left behind in between);
// - the highest slot of a few thousand objects created together, less their number: once
//   every free slot is taken they come from the top of the table, so this counts the objects
//   in use however the free slots lie. A single object left behind above a free slot shows
//   here although the first measure may miss it.
struct Watermark {
    UINT_PTR gdiObject = 0;    // low word of a fresh GDI handle (the high word counts reuses)
    UINT_PTR kernelHandle = 0; // a fresh kernel handle (events, files, keys share one table)
    long gdiInUse = 0;
    long kernelInUse = 0;
    SIZE_T workingSet = 0;
};
Watermark TakeWatermark();

} // namespace systemtest
