// Corvane.exe as a user meets it: real libraries chosen through ".." and the open dialog, and
// the facts read back from the screen.
#include <gtest/gtest.h>
#include <windows.h>
#include <commdlg.h>
#include <dlgs.h>

#include "common/systemdll.h"
#include "app/mainwindow.h"
#include "common/owners.h"
#include "tests/support/driver.h"
#include "tests/system/systemsupport.h"

using namespace systemtest;

namespace {

// The first of these DLLs that carries a type library in this prefix.
std::string DllWithLibrary() {
    for (const char* name : {"scrrun.dll", "msxml3.dll", "msxml6.dll", "vbscript.dll"}) {
        OwnFacts facts;
        if (ReadOwnFacts(SystemFolderFile(name), facts))
            return SystemFolderFile(name);
    }
    return "";
}

ShownFacts ReadScreen(HWND mainWindow) {
    ShownFacts shown;
    shown.nameLine = driver::Text(driver::Control(mainWindow, IDC_NAME));
    shown.guidText = driver::Text(driver::Control(mainWindow, IDC_GUID));
    shown.versionText = driver::Text(driver::Control(mainWindow, IDC_VERSION));
    shown.registered = driver::CheckState(driver::Control(mainWindow, IDC_REGISTERED)) == BST_CHECKED;
    return shown;
}

} // namespace

TEST(EndToEnd, RealLibrariesChosenThroughTheOpenDialogShowTheirFacts) {
    ComApartment apartment;
    std::string dll = DllWithLibrary();
    ASSERT_FALSE(dll.empty()) << "no DLL with a type library found in the prefix";
    const std::string files[] = {SystemFolderFile("stdole2.tlb"), dll, SystemFolderFile("mshtml.tlb")};

    driver::Process corvane = driver::Start();
    ASSERT_TRUE(corvane) << "Corvane.exe did not start";
    HWND mainWindow = driver::WaitForMainWindow(corvane.Id());
    ASSERT_TRUE(mainWindow) << "no main window";

    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        OwnFacts own;
        ASSERT_TRUE(ReadOwnFacts(file, own)) << "no library loads here";
        // A library that took the previous one's place must replace every field.
        driver::SetText(driver::Control(mainWindow, IDC_NAME), "stale");
        driver::Click(driver::Control(mainWindow, IDC_BROWSE));
        HWND dialog = driver::WaitForDialog(corvane.Id(), "Choose Type Library to Register");
        ASSERT_TRUE(dialog) << "the open dialog did not appear";
        ASSERT_TRUE(driver::SetText(driver::FileNameField(dialog), file));
        driver::Answer(dialog, IDOK);
        ASSERT_TRUE(driver::WaitForGone(dialog)) << "the open dialog did not close";
        driver::WaitUntil([&] { return driver::Text(driver::Control(mainWindow, IDC_NAME)) != "stale"; });

        EXPECT_EQ(driver::Text(driver::Control(mainWindow, IDC_PATH)), file) << "path field";
        ShownFacts shown = ReadScreen(mainWindow);
        EXPECT_TRUE(shown == own.Shown())
            << "the screen shows " << Describe(shown) << "; expected " << Describe(own.Shown());
    }

    PostMessageA(mainWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
    DWORD exitCode = 1;
    EXPECT_TRUE(corvane.WaitForExit(driver::kDefaultWaitMs, &exitCode)) << "Corvane did not end";
    EXPECT_EQ(exitCode, 0u);
}
