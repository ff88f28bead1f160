// Registration with HKEY_CLASSES_ROOT mapped elsewhere: capturing what registration writes
// and the mapping given back after a failed registration for the user or a capture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <map>

#include "common/owners.h"
#include "common/text.h"
#include "registration/classesroot.h"
#include "registration/registration.h"
#include "tests/support/testsupport.h"

using namespace testsupport;

namespace {

// The library compiled from capturelib.idl, beside the test programs.
constexpr char kGuid[] = "{5A0F4C2E-1B7D-4E39-9C61-2F8A3D6B7E14}";
constexpr const char* kInterfaces[] = {"{5A0F4C2E-1B7D-4E39-9C61-2F8A3D6B7E15}",
                                       "{5A0F4C2E-1B7D-4E39-9C61-2F8A3D6B7E16}"};

std::string LibraryPath() {
    return BesideTests("capturelib.tlb");
}

// Deletes the library's keys under classes (HKEY_CLASSES_ROOT or a user's classes).
void RemoveLibraryKeys(HKEY classes) {
    RegDeleteTreeA(classes, (std::string("TypeLib\\") + kGuid).c_str());
    for (const char* id : kInterfaces)
        RegDeleteTreeA(classes, (std::string("Interface\\") + id).c_str());
}

// Keys by path in lower case (the registry compares names without regard to case, and
// registration spells TypeLib "Typelib" where it creates the key itself), each with its values.
using KeyMap = std::map<std::wstring, std::vector<std::pair<std::wstring, std::vector<BYTE>>>>;

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), ::towlower);
    return text;
}

KeyMap Keys(const RegistryTree& tree) {
    KeyMap keys;
    for (const RegistryKeyEntry& key : tree) {
        auto& values = keys[Lower(key.path)];
        for (const RegistryValue& value : key.values)
            values.emplace_back(value.name + L" type " + std::to_wstring(value.type), value.data);
    }
    return keys;
}

// Everything under root\path; an absent key is an empty map.
KeyMap Snapshot(HKEY root, const std::wstring& path) {
    RegistryTree tree;
    LSTATUS status = ReadRegistryTree(root, path, tree);
    EXPECT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << "reading " << ToAnsi(path);
    return Keys(tree);
}

// The branches that registering and capturing may touch: HKCR\TypeLib, HKCR\Interface and
// HKCU\Software (which holds the user's classes), as they are now.
struct Branches {
    KeyMap typeLib = Snapshot(HKEY_CLASSES_ROOT, L"TypeLib");
    KeyMap interfaces = Snapshot(HKEY_CLASSES_ROOT, L"Interface");
    KeyMap userSoftware = Snapshot(HKEY_CURRENT_USER, L"Software");
    bool operator==(const Branches& o) const {
        return typeLib == o.typeLib && interfaces == o.interfaces && userSoftware == o.userSoftware;
    }
};

// The keys of after that before lacks or holds with other values.
KeyMap Added(const KeyMap& before, const KeyMap& after) {
    KeyMap added;
    for (const auto& key : after) {
        auto old = before.find(key.first);
        if (old == before.end() || old->second != key.second)
            added.insert(key);
    }
    return added;
}

std::string UserClasses(const std::string& path) {
    return ToAnsi(std::wstring(kClassesKey)) + "\\" + path;
}

// Each test starts and ends without any registration of the test library, machine-wide or
// the user's. The user's classes key exists, as it always does under Windows (a fresh Wine
// prefix lacks it until something writes there).
class ClassesRoot : public testing::Test {
  protected:
    ClassesRoot() {
        RemoveRegistrations();
        RegKey classes;
        EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kClassesKey, 0, nullptr, 0, KEY_READ, nullptr,
                                  classes.Put(), nullptr),
                  ERROR_SUCCESS);
    }
    ~ClassesRoot() override { RemoveRegistrations(); }

    static void RemoveRegistrations() {
        RemoveLibraryKeys(HKEY_CLASSES_ROOT);
        RegKey classes;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kClassesKey, 0, KEY_ALL_ACCESS, classes.Put()) == ERROR_SUCCESS)
            RemoveLibraryKeys(classes.Get());
    }

    TempFolder folder_;
};

} // namespace

TEST_F(ClassesRoot, CaptureLeavesTheRegistryAsItWasAndReturnsEveryKeyRegistrationWrites) {
    Branches before;
    ASSERT_FALSE(before.typeLib.empty());

    RegistryTree captured;
    ASSERT_EQ(CaptureRegistration(ToWide(LibraryPath()), captured), S_OK);
    EXPECT_TRUE(Branches() == before) << "capturing changed HKCR\\TypeLib, HKCR\\Interface or HKCU\\Software";

    ASSERT_EQ(RegisterLibraryFile(ToWide(LibraryPath())), S_OK);
    KeyMap written = Added(before.typeLib, Snapshot(HKEY_CLASSES_ROOT, L"TypeLib"));
    for (const auto& key : Added(before.interfaces, Snapshot(HKEY_CLASSES_ROOT, L"Interface")))
        written.insert(key);
    KeyMap capturedKeys = Keys(captured);
    EXPECT_EQ(capturedKeys, written);
    for (const char* id : kInterfaces)
        EXPECT_EQ(capturedKeys.count(Lower(ToWide("Interface\\" + std::string(id)))), 1u) << id;
}

TEST_F(ClassesRoot, TheMappingIsGivenBackAfterAFailedRegistration) {
    std::string notALibrary = folder_.File("notes.tlb");
    WriteFileBytes(notALibrary, "plain text, no type library");
    struct Case {
        const char* name;
        HRESULT (*attempt)(const std::string& path);
    } cases[] = {
        {"register for the user",
         [](const std::string& path) { return RegisterLibraryFile(ToWide(path), Scope::User); }},
        {"capture",
         [](const std::string& path) {
             RegistryTree tree;
             return CaptureRegistration(ToWide(path), tree);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KeyMap userSoftware = Snapshot(HKEY_CURRENT_USER, L"Software");
        EXPECT_EQ(c.attempt(notALibrary), TYPE_E_CANTLOADLIBRARY);
        EXPECT_TRUE(Snapshot(HKEY_CURRENT_USER, L"Software") == userSoftware)
            << "a key was left under HKCU\\Software";

        std::string probe = "Corvane mapping probe " + GuidAnsi(NewGuid());
        RegKey created;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, probe.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                  created.Put(), nullptr),
                  ERROR_SUCCESS);
        created.Reset();
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Classes\\" + probe))
            << "not in the machine's classes";
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, UserClasses(probe))) << "written to the user's classes";
        RegDeleteKeyA(HKEY_CLASSES_ROOT, probe.c_str());
    }
}
