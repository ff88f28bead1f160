// The ".." command in the running program, driven as a user would drive it.
#include <gtest/gtest.h>

#include "common/programstate.h"
#include "common/text.h"
#include "tests/driver/driver.h"
#include "tests/support/testsupport.h"

using testsupport::TempFolder;

namespace {

constexpr char kDialogTitle[] = "Choose Type Library to Register";

std::vector<std::string> PathList(HWND mainWindow) {
    HWND field = driver::Control(mainWindow, IDC_PATH);
    DWORD_PTR count = 0;
    SendMessageTimeoutA(field, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count);
    std::vector<std::string> entries;
    for (DWORD_PTR i = 0; i < count; ++i) {
        // Asked in UTF-16: Wine 8 hands CB_GETLBTEXT between processes in its wide form, so an
        // ANSI request from another process receives UTF-16 bytes.
        wchar_t entry[1040] = L"";
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(field, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry), SMTO_ABORTIFHUNG, 5000,
                            &ignored);
        entries.push_back(ToAnsi(std::wstring(entry)));
    }
    return entries;
}

HWND OpenChooser(const driver::Process& corvane, HWND mainWindow) {
    driver::Click(driver::Control(mainWindow, IDC_BROWSE));
    return driver::WaitForDialog(corvane.Id(), kDialogTitle);
}

// Types the name into the dialog's name field (cmb13, under Wine 8 as on Windows) and presses Open.
void Choose(HWND dialog, const std::string& path) {
    HWND field = driver::Control(dialog, cmb13);
    driver::SetText(field ? field : driver::Control(dialog, edt1), path);
    driver::Answer(dialog, IDOK);
}

} // namespace

TEST(ChooserInCorvane, OpensBesideTheMainWindowWithItsFilterAndCancelChangesNothing) {
    driver::Process corvane = driver::Start();
    ASSERT_TRUE(corvane);
    HWND mainWindow = driver::WaitForMainWindow(corvane.Id());
    ASSERT_NE(mainWindow, nullptr);
    driver::SetPathText(mainWindow, "typed by hand");

    HWND dialog = OpenChooser(corvane, mainWindow);

    ASSERT_NE(dialog, nullptr) << "no dialog titled " << kDialogTitle;
    RECT mainRect = driver::RectInParent(mainWindow);
    RECT dialogRect = driver::RectInParent(dialog);
    EXPECT_EQ(dialogRect.left, mainRect.left + 30);
    EXPECT_EQ(dialogRect.top, mainRect.top + 30);
    EXPECT_EQ(driver::Text(driver::Control(dialog, cmb1)), "Type Libraries");
    driver::Answer(dialog, IDCANCEL);
    ASSERT_TRUE(driver::WaitForGone(dialog));
    EXPECT_EQ(driver::Text(driver::Control(mainWindow, IDC_PATH)), "typed by hand");
    EXPECT_TRUE(PathList(mainWindow).empty());
    EXPECT_FALSE(driver::FindMessageBox(corvane.Id())) << "Cancel shows nothing";
}

TEST(ChooserInCorvane, ChosenFilesTakeTheirSortedPlacesAndShowTheirFacts) {
    TempFolder folder;
    testsupport::LibraryRecipe recipe;
    recipe.name = "Shapes";
    recipe.description = "Shapes Library";
    std::string library = folder.File("B.tlb");
    ASSERT_EQ(testsupport::MakeTypeLib(library, recipe), S_OK);
    std::string notes = folder.File("notes.tlb");
    testsupport::WriteFileBytes(notes, "not a type library");
    driver::Process corvane = driver::Start();
    ASSERT_TRUE(corvane);
    HWND mainWindow = driver::WaitForMainWindow(corvane.Id());
    ASSERT_NE(mainWindow, nullptr);

    auto chooseAndWait = [&](const std::string& path) {
        HWND dialog = OpenChooser(corvane, mainWindow);
        ASSERT_NE(dialog, nullptr);
        Choose(dialog, path);
        ASSERT_TRUE(driver::WaitForGone(dialog));
        EXPECT_TRUE(
            driver::WaitUntil([&] { return driver::Text(driver::Control(mainWindow, IDC_PATH)) == path; }));
    };

    chooseAndWait(library);
    EXPECT_EQ(driver::Text(driver::Control(mainWindow, IDC_VERSION)), "1.0");
    // A file that holds no library keeps its path; the view is cleared.
    chooseAndWait(notes);
    EXPECT_EQ(driver::Text(driver::Control(mainWindow, IDC_NAME)), "");
    EXPECT_EQ(driver::Text(driver::Control(mainWindow, IDC_GUID)), "");
    EXPECT_EQ(driver::Text(driver::Control(mainWindow, IDC_VERSION)), "");
    // The same library again: a second entry, in its sorted place before notes.tlb, not at the end.
    chooseAndWait(library);

    const std::vector<std::string> expected = {library, library, notes};
    EXPECT_EQ(PathList(mainWindow), expected);
    EXPECT_EQ(driver::Text(driver::Control(mainWindow, IDC_NAME)), "Shapes (Shapes Library)");
    EXPECT_EQ(driver::Text(driver::Control(mainWindow, IDC_GUID)), testsupport::GuidText(recipe.guid));
    EXPECT_EQ(driver::Text(driver::Control(mainWindow, IDC_VERSION)), "1.0");
    EXPECT_EQ(driver::CheckState(driver::Control(mainWindow, IDC_REGISTERED)), BST_UNCHECKED);
}
