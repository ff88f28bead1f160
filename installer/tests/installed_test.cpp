// Corvane as an installer left it: the installed Corvane.exe reads a library chosen through its
// open dialog, and both installed programs carry the release's version. The installed folder
// comes from CORVANE_INSTALLED (a Windows path); scripts/test-dist.sh sets it.
#include <gtest/gtest.h>
#include <windows.h>
#include <commdlg.h>
#include <dlgs.h>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/mainwindow.h"
#include "common/owners.h"
#include "common/registrytext.h"
#include "common/text.h"
#include "tests/support/driver.h"
#include "version.h"

namespace {

std::string InstalledFolder() {
    const char* folder = std::getenv("CORVANE_INSTALLED");
    return folder ? folder : "";
}

std::string SystemFile(const char* name) {
    char folder[MAX_PATH];
    UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    return std::string(folder, length) + "\\" + name;
}

// What the main window should show for a library, read here straight from the file with the
// system's own services, without registering it.
struct Expected {
    std::string nameLine;
    std::string guidText;
    std::string versionText;
    bool registered = false;
};

bool ReadExpected(const std::string& path, Expected& expected) {
    ComPtr<ITypeLib> library;
    if (FAILED(LoadTypeLibEx(ToWideTerminated(path).c_str(), REGKIND_NONE, library.Put())))
        return false;
    Bstr name, description;
    if (FAILED(library->GetDocumentation(-1, name.Put(), description.Put(), nullptr, nullptr)))
        return false;
    TLIBATTR* attributes = nullptr;
    if (FAILED(library->GetLibAttr(&attributes)))
        return false;
    wchar_t guid[40] = {};
    StringFromGUID2(attributes->guid, guid, 40);
    WORD major = attributes->wMajorVerNum, minor = attributes->wMinorVerNum;
    library->ReleaseTLibAttr(attributes);

    std::string descriptionText = ToAnsi(description.Get());
    expected.nameLine = ToAnsi(name.Get()) + " (" + descriptionText + ")";
    expected.guidText = ToAnsi(std::wstring(guid));
    expected.versionText = std::to_string(major) + "." + std::to_string(minor);
    char versionKey[16];
    wsprintfA(versionKey, "%x.%x", major, minor);
    expected.registered =
        ReadRegistryText(HKEY_CLASSES_ROOT, "TypeLib\\" + expected.guidText + "\\" + versionKey, nullptr) ==
        descriptionText;
    return true;
}

// The fixed part of a file's version block: major, minor, patch, build.
bool ReadFileVersion(const std::string& path, std::vector<WORD>& parts) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0)
        return false;
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data()))
        return false;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed)
        return false;
    parts = {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
             LOWORD(fixed->dwFileVersionLS)};
    return true;
}

class Installed : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = InstalledFolder();
        ASSERT_FALSE(folder_.empty()) << "CORVANE_INSTALLED must name the installed folder";
        ASSERT_NE(GetFileAttributesA(folder_.c_str()), INVALID_FILE_ATTRIBUTES)
            << "no installed folder " << folder_;
    }
    std::string folder_;
};

} // namespace

TEST_F(Installed, CorvaneShowsTheFactsOfALibraryChosenThroughTheOpenDialog) {
    ComApartment apartment;
    const std::string library = SystemFile("stdole2.tlb");
    Expected expected;
    ASSERT_TRUE(ReadExpected(library, expected)) << "no library loads from " << library;

    driver::Process corvane = driver::Start("", folder_ + "\\Corvane.exe");
    ASSERT_TRUE(corvane) << "the installed Corvane.exe did not start";
    // A component that cannot be created is reported in a message box before the window shows.
    HWND mainWindow = nullptr;
    driver::MessageBoxView problem;
    driver::WaitUntil([&] {
        problem = driver::FindMessageBox(corvane.Id());
        mainWindow = driver::FindMainWindow(corvane.Id());
        return problem || mainWindow;
    });
    ASSERT_FALSE(problem) << "Corvane reported at start: " << problem.text;
    ASSERT_TRUE(mainWindow) << "no main window";

    driver::Click(driver::Control(mainWindow, IDC_BROWSE));
    HWND dialog = driver::WaitForDialog(corvane.Id(), "Choose Type Library to Register");
    ASSERT_TRUE(dialog) << "the open dialog did not appear";
    ASSERT_TRUE(driver::SetText(driver::FileNameField(dialog), library));
    driver::Answer(dialog, IDOK);
    ASSERT_TRUE(driver::WaitForGone(dialog)) << "the open dialog did not close";
    driver::WaitUntil([&] { return !driver::Text(driver::Control(mainWindow, IDC_NAME)).empty(); });

    EXPECT_EQ(driver::Text(driver::Control(mainWindow, IDC_PATH)), library) << "path field";
    EXPECT_EQ(driver::Text(driver::Control(mainWindow, IDC_NAME)), expected.nameLine) << "name line";
    EXPECT_EQ(driver::Text(driver::Control(mainWindow, IDC_GUID)), expected.guidText) << "GUID";
    EXPECT_EQ(driver::Text(driver::Control(mainWindow, IDC_VERSION)), expected.versionText) << "version";
    int state = driver::CheckState(driver::Control(mainWindow, IDC_REGISTERED));
    EXPECT_EQ(state, expected.registered ? BST_CHECKED : BST_UNCHECKED) << "Registered box";

    PostMessageA(mainWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
    DWORD exitCode = 1;
    EXPECT_TRUE(corvane.WaitForExit(driver::kDefaultWaitMs, &exitCode)) << "Corvane did not end";
    EXPECT_EQ(exitCode, 0u) << "exit code";
}

TEST_F(Installed, BothProgramsCarryTheReleaseVersionInTheirVersionBlocks) {
    const std::vector<WORD> release = {CORVANE_VERSION_MAJOR, CORVANE_VERSION_MINOR, CORVANE_VERSION_PATCH,
                                       0};
    for (const char* program : {"Corvane.exe", "corvane-cli.exe"}) {
        SCOPED_TRACE(program);
        std::vector<WORD> parts;
        ASSERT_TRUE(ReadFileVersion(folder_ + "\\" + program, parts)) << "no version block";
        EXPECT_EQ(parts, release) << "file version " << parts[0] << "." << parts[1] << "." << parts[2] << "."
                                  << parts[3] << ", release " << CORVANE_VERSION_TEXT;
    }
}
