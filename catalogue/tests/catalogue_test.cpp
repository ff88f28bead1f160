// What the registry holds for libraries and the files it names: FILE arguments resolved,
// registered paths compared by file identity, and both branches read each on its own.
#include <gtest/gtest.h>

#include <algorithm>

#include "catalogue/catalogue.h"
#include "common/owners.h"
#include "common/text.h"
#include "tests/support/testsupport.h"

using testsupport::TempFolder;
using testsupport::WriteFileBytes;

namespace {

std::wstring W(const std::string& text) {
    return ToWide(text);
}

TEST(LibraryFiles, AFileIsFoundRelativeToTheCurrentFolderAndThroughAResourceIndex) {
    TempFolder temp;
    std::wstring folder = ToWide(temp.File("with blank"));
    CreateDirectoryW(folder.c_str(), nullptr);
    WriteFileBytes(ToAnsi(folder) + "\\lib.dll", "MZ");
    Located plain, indexed, missingIndex;
    {
        testsupport::CurrentFolderScope inFolder(temp.Path());
        plain = LocateFile(L"with blank\\lib.dll");
        indexed = LocateFile(L"with blank\\lib.dll\\12");
        missingIndex = LocateFile(L"with blank\\other.dll\\2");
    }

    EXPECT_EQ(plain.error, LocateError::None);
    EXPECT_EQ(plain.location.filePath, folder + L"\\lib.dll");
    EXPECT_EQ(plain.location.resourceIndex, 0);
    EXPECT_EQ(indexed.error, LocateError::None);
    EXPECT_EQ(indexed.location.filePath, folder + L"\\lib.dll");
    EXPECT_EQ(indexed.location.resourceIndex, 12);
    EXPECT_EQ(missingIndex.error, LocateError::FileMissing)
        << "other.dll\\2 names a missing file, not a folder";
}

TEST(LibraryFiles, MissingFilesFoldersAndFoldersGiveTheirOwnMessages) {
    TempFolder temp;
    Located missing = LocateFile(W(temp.File("absent.tlb")));
    EXPECT_EQ(missing.error, LocateError::FileMissing);
    EXPECT_EQ(missing.location.filePath, W(temp.File("absent.tlb")));
    Located deep = LocateFile(W(temp.File("a\\b\\c.tlb")));
    EXPECT_EQ(deep.error, LocateError::FolderMissing);
    EXPECT_EQ(deep.missingFolder, W(temp.File("a"))) << "the first missing folder on the way is named";
    Located folder = LocateFile(W(temp.Path()));
    EXPECT_EQ(folder.error, LocateError::IsFolder);
    EXPECT_EQ(LocateFile(L"").error, LocateError::Empty);
}

TEST(LibraryFiles, RegisteredPathsAreComparedByFileIdentityNotBySpelling) {
    TempFolder temp;
    std::wstring file = W(temp.File("Lib.tlb"));
    std::wstring copy = W(temp.File("copy.tlb"));
    WriteFileBytes(ToAnsi(file), "same bytes");
    WriteFileBytes(ToAnsi(copy), "same bytes");
    FileLocation location = LocateFile(file).location;

    std::wstring upper = file;
    CharUpperW(&upper[0]);
    EXPECT_EQ(ClassifyRegisteredPath(upper, &location), PathState::ThisFile);
    EXPECT_EQ(ClassifyRegisteredPath(W(temp.Path()) + L"\\.\\Lib.tlb", &location), PathState::ThisFile);
    EXPECT_EQ(ClassifyRegisteredPath(file + L"\\1", &location), PathState::ThisFile)
        << "no index and index 1 name the same library";
    EXPECT_EQ(ClassifyRegisteredPath(file + L"\\2", &location), PathState::OtherFile);
    EXPECT_EQ(ClassifyRegisteredPath(copy, &location), PathState::OtherFile)
        << "equal bytes are not the same file";
    EXPECT_EQ(ClassifyRegisteredPath(W(temp.File("gone.tlb")), &location), PathState::Missing);
    EXPECT_EQ(ClassifyRegisteredPath(W(temp.File("gone.dll\\2")), &location), PathState::Missing);
    EXPECT_EQ(ClassifyRegisteredPath(W(temp.Path()), &location), PathState::Missing)
        << "a folder holds no library";
    EXPECT_EQ(ClassifyRegisteredPath(L"", &location), PathState::Missing);
    EXPECT_EQ(ClassifyRegisteredPath(file, nullptr), PathState::Exists) << "no file in hand to compare with";
}

// Writes Software\Classes\TypeLib\{guid}\1.0\0\win32 = path under parent.
void WritePathEntry(HKEY parent, const GUID& guid, const std::wstring& path) {
    std::wstring key = L"Software\\Classes\\TypeLib\\" + GuidText(guid) + L"\\1.0\\0\\win32";
    ASSERT_EQ(RegSetValueW(parent, key.c_str(), REG_SZ, path.c_str(), static_cast<DWORD>(path.size())),
              ERROR_SUCCESS)
        << ToAnsi(key);
}

TEST(Registrations, TheUsersEntryWinsOverTheMachinesAndEachBranchCanBeAskedAlone) {
    TempFolder temp;
    std::wstring file = W(temp.File("Lib.tlb")), other = W(temp.File("other.tlb"));
    WriteFileBytes(ToAnsi(file), "library");
    WriteFileBytes(ToAnsi(other), "another library");
    FileLocation location = LocateFile(file).location;
    LibraryIdentity identity;
    identity.guid = testsupport::NewGuid();
    identity.major = 1;
    auto statusOf = [&](std::optional<Scope> scope) {
        Lookup lookup = LookUp(identity, &location, scope);
        return std::string(StatusName(lookup.decision.status)) + " (" + PresenceName(lookup.presence) + ")";
    };

    WritePathEntry(HKEY_LOCAL_MACHINE, identity.guid, other);
    EXPECT_EQ(statusOf(std::nullopt), "registered to another file (machine)");
    WritePathEntry(HKEY_CURRENT_USER, identity.guid, file);
    EXPECT_EQ(statusOf(std::nullopt), "registered (both)") << "the user's entry is the one Windows gives";
    EXPECT_EQ(statusOf(Scope::Machine), "registered to another file (machine)");
    EXPECT_EQ(statusOf(Scope::User), "registered (user)");

    std::vector<Registration> listed = ListRegistrations(std::nullopt);
    auto mine = std::find_if(listed.begin(), listed.end(), [&](const Registration& registration) {
        return registration.guidText == GuidText(identity.guid);
    });
    ASSERT_NE(mine, listed.end());
    EXPECT_STREQ(PresenceName(mine->presence), "both") << "a version in both branches is listed once";
    ASSERT_EQ(mine->paths.size(), 2u);
    EXPECT_EQ(mine->paths[0].scope, Scope::User) << "the user's entry first";

    for (HKEY parent : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        RegDeleteTreeW(parent, (L"Software\\Classes\\TypeLib\\" + GuidText(identity.guid)).c_str());
    // The user's TypeLib key was made here (a fresh prefix has none): it goes again, if empty.
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Classes\\TypeLib");
    EXPECT_EQ(statusOf(std::nullopt), "not registered ()");
}

} // namespace
