// The ".." command: the open-file request, what the dialog's answer means, and the command
// against a stand-in main window, with the real dialog or one that gives a chosen answer.
// Choosing files in the running program, where the dialog is placed, its filter and Cancel, are
// tested through the GUI driver (commands_gui_test).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "app/mainwindow.h"
#include "common/owners.h"
#include "tests/support/driver.h"
#include "tests/support/testsupport.h"

using testsupport::TempFolder;

namespace {

// A top-level dialog of this process, visible, with the given caption (any when null).
HWND FindOwnDialog(const char* caption = nullptr) {
    return driver::FindTopLevel(GetCurrentProcessId(), "#32770", caption);
}

// While alive, a second thread waits for the open dialog of this process and hands it to the
// action, which should end the dialog. Should the dialog's thread still not be back after the
// action (a dialog that stays open, a box the dialog showed), the thread closes every dialog
// window of this process, so that a failing test fails instead of hanging.
class DialogHandler {
  public:
    explicit DialogHandler(std::function<void(HWND)> action) : task_([this, action] { Handle(action); }) {}
    DialogHandler(const DialogHandler&) = delete;
    DialogHandler& operator=(const DialogHandler&) = delete;
    ~DialogHandler() { Finish(); }
    // Called once the dialog's thread is back: whether the dialog was found and ended by the action.
    bool Found() {
        Finish();
        return found_ && !stuck_;
    }
    // The texts of the windows that had to be closed, if any.
    const std::string& Stuck() const { return stuckTexts_; }

  private:
    void Handle(const std::function<void(HWND)>& action) {
        DWORD start = GetTickCount();
        HWND dialog;
        while (!(dialog = FindOwnDialog(driver::kChooserTitle))) {
            if (back_ || GetTickCount() - start > 20000)
                return;
            Sleep(50);
        }
        found_ = true;
        action(dialog);
        start = GetTickCount();
        while (!back_) {
            if (GetTickCount() - start > 15000) {
                HWND window = FindOwnDialog();
                if (window) {
                    stuck_ = true;
                    stuckTexts_ +=
                        "[" + driver::Text(window) + ": " + driver::Text(GetDlgItem(window, 0xFFFF)) + "] ";
                    PostMessageA(window, WM_COMMAND, window == dialog ? IDCANCEL : IDOK, 0);
                }
            }
            Sleep(100);
        }
    }
    void Finish() {
        back_ = TRUE;
        task_.Join();
    }

    volatile LONG back_ = FALSE;
    bool found_ = false;
    bool stuck_ = false;
    std::string stuckTexts_;
    driver::BackgroundTask task_;
};

void CancelDialog(HWND dialog) {
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
}

LRESULT CALLBACK StandInProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

// A main window with the controls the command and the facts view use, made the program's
// main window for its life.
class StandInWindow {
  public:
    StandInWindow(int x, int y) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = StandInProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "CorvaneStandIn";
        RegisterClassA(&windowClass);
        window_.Reset(CreateWindowExA(0, "CorvaneStandIn", "Corvane", WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y,
                                      500, 300, nullptr, nullptr, windowClass.hInstance, nullptr));
        Child("COMBOBOX", CBS_DROPDOWN | CBS_SORT | WS_VSCROLL, IDC_PATH, 200);
        Child("EDIT", WS_DISABLED, IDC_NAME, 20);
        Child("EDIT", WS_DISABLED, IDC_GUID, 20);
        Child("EDIT", WS_DISABLED, IDC_VERSION, 20);
        Child("BUTTON", BS_AUTOCHECKBOX, IDC_REGISTERED, 20);
        g_program.mainWindow = window_.Get();
    }
    ~StandInWindow() { g_program.mainWindow = nullptr; }
    HWND Get() const { return window_.Get(); }
    HWND Item(int id) const { return GetDlgItem(window_.Get(), id); }
    std::string Text(int id) const { return driver::Text(Item(id)); }
    std::vector<std::string> PathList() const { return driver::ComboEntries(Item(IDC_PATH)); }
    void AddToList(const std::string& entry) {
        SendMessageA(Item(IDC_PATH), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    }

  private:
    void Child(const char* className, DWORD style, int id, int height) {
        CreateWindowExA(0, className, "", WS_CHILD | WS_VISIBLE | style, 10, 10 + 30 * (id - IDC_PATH), 400,
                        height, window_.Get(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                        GetModuleHandleA(nullptr), nullptr);
    }
    OwnedWindow window_;
};

} // namespace

TEST(FileRequest, AsksForAnExistingTypeLibraryFileInTheFullStructure) {
    char buffer[kChosenPathBufferSize];
    std::memset(buffer, 'x', sizeof buffer);
    HWND owner = reinterpret_cast<HWND>(0x1234);

    OPENFILENAMEA request = TypeLibFileRequest(owner, buffer);

    EXPECT_EQ(request.lStructSize, 88u);
    EXPECT_EQ(request.hwndOwner, owner);
    EXPECT_EQ(request.hInstance, nullptr);
    ASSERT_NE(request.lpstrFilter, nullptr);
    // One entry and the empty string that ends the list.
    EXPECT_EQ(0, std::memcmp(request.lpstrFilter, "Type Libraries\0*.TLB;*.OLB;*.DLL\0\0", 34));
    EXPECT_EQ(request.lpstrCustomFilter, nullptr);
    EXPECT_EQ(request.nFilterIndex, 0u);
    EXPECT_EQ(request.lpstrFile, buffer);
    EXPECT_EQ(buffer[0], '\0') << "the dialog starts with an empty name";
    EXPECT_EQ(request.nMaxFile, 1040u);
    EXPECT_EQ(request.lpstrFileTitle, nullptr);
    ASSERT_NE(request.lpstrInitialDir, nullptr);
    EXPECT_STREQ(request.lpstrInitialDir, "");
    EXPECT_STREQ(request.lpstrTitle, driver::kChooserTitle);
    EXPECT_STREQ(request.lpstrDefExt, "TLB");
    EXPECT_EQ(request.Flags, 0x81024u);
    EXPECT_NE(request.lpfnHook, nullptr);
}

TEST(ChosenFileAnswer, CancelOrAFailedDialogChoosesNothing) {
    char empty[kChosenPathBufferSize] = "";
    EXPECT_EQ(InterpretChosenFile(FALSE, 0, empty).kind, ChosenFile::None);
    EXPECT_EQ(InterpretChosenFile(FALSE, CDERR_DIALOGFAILURE, empty).kind, ChosenFile::None);
}

TEST(ChosenFileAnswer, APathIsTheBufferUpToItsFirstNul) {
    char buffer[kChosenPathBufferSize] = "C:\\libs\\Shapes.tlb\0left over";
    ChosenFile chosen = InterpretChosenFile(TRUE, 0, buffer);
    EXPECT_EQ(chosen.kind, ChosenFile::Path);
    EXPECT_EQ(chosen.path, "C:\\libs\\Shapes.tlb");

    // A buffer without any NUL is never read past its end.
    std::vector<char> full(kChosenPathBufferSize + 8, 'a');
    std::memset(full.data() + kChosenPathBufferSize, 'b', 8);
    EXPECT_EQ(InterpretChosenFile(TRUE, 0, full.data()).path, std::string(kChosenPathBufferSize, 'a'));
}

// Under Wine, ntdll exports wine_get_version.
bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// The command works with the program's application object, as the main window creates it.
class Chooser : public testing::Test {
  protected:
    Chooser() {
        HRESULT hr =
            CoCreateInstance(CLSID_TlInfoApplication, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                             IID_ITlInfoApplication, g_program.application.PutVoid());
        EXPECT_EQ(hr, S_OK) << "creating the TypeLib Information component";
    }
    ~Chooser() override {
        g_program.application.Reset();
        testsupport::DeleteTypeLibKey(spec_.guid);
    }
    std::string MakeLibrary(const std::string& name) {
        std::string path = folder_.File(name);
        HRESULT hr = testsupport::MakeTypeLib(path, spec_);
        EXPECT_EQ(hr, S_OK) << "making " << path;
        return path;
    }
    ComApartment apartment_;
    TempFolder folder_;
    testsupport::LibraryRecipe spec_;
};

TEST_F(Chooser, ANameTypedWithoutExtensionGetsTheDefaultOne) {
    // Windows' dialog adds the default extension before it checks that the file exists. Wine 8's
    // checks the name as typed first and answers "File does not exist", so there the dialog
    // never hands the name back.
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine's open dialog checks existence before adding the default extension";
    std::string path = MakeLibrary("Plain.tlb");
    StandInWindow main(100, 100);
    DialogHandler handler([&](HWND dialog) { driver::ChooseInOpenDialog(dialog, folder_.File("Plain")); });

    CHOOSETYPELIBFILE(main.Get());

    ASSERT_TRUE(handler.Found()) << handler.Stuck();
    EXPECT_EQ(main.Text(IDC_PATH), path);
}

TEST_F(Chooser, ANameOfNoExistingFileIsRefusedByTheDialog) {
    StandInWindow main(100, 100);
    SetWindowTextA(main.Item(IDC_PATH), "earlier path");
    std::string refusal;
    DialogHandler handler([&](HWND dialog) {
        driver::ChooseInOpenDialog(dialog, folder_.File("missing.tlb"));
        // The dialog tells the user in a box of its own and stays open.
        DWORD start = GetTickCount();
        HWND box = nullptr;
        while (GetTickCount() - start < 10000) {
            box = FindOwnDialog();
            if (box && box != dialog)
                break;
            box = nullptr;
            Sleep(50);
        }
        if (box) {
            refusal = driver::Text(GetDlgItem(box, 0xFFFF));
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            Sleep(200);
        }
        CancelDialog(dialog);
    });

    CHOOSETYPELIBFILE(main.Get());

    ASSERT_TRUE(handler.Found()) << handler.Stuck();
    EXPECT_NE(refusal, "") << "the dialog showed no refusal";
    EXPECT_EQ(main.Text(IDC_PATH), "earlier path");
    EXPECT_TRUE(main.PathList().empty());
}

// Wine 8's open dialog keeps every path within MAX_PATH, so it never fails for lack of room in a
// 1,040-byte buffer; these tests stand in for the dialog to give the command each answer.
BOOL DialogWithoutRoom(OPENFILENAMEA* request, DWORD* extendedError) {
    // As the system does: the size needed goes into the first two bytes of the buffer.
    request->lpstrFile[0] = 0x30;
    request->lpstrFile[1] = 0x05;
    *extendedError = FNERR_BUFFERTOOSMALL;
    return FALSE;
}

std::string g_pathToGive;
BOOL DialogGivingPath(OPENFILENAMEA* request, DWORD* extendedError) {
    std::memcpy(request->lpstrFile, g_pathToGive.c_str(), g_pathToGive.size() + 1);
    *extendedError = 0;
    return TRUE;
}

TEST_F(Chooser, APathLongerThanTheBufferIsReportedAndChangesNothing) {
    StandInWindow main(100, 100);
    main.AddToList("A:\\first.tlb");
    SetWindowTextA(main.Item(IDC_PATH), "earlier path");
    SetWindowTextA(main.Item(IDC_NAME), "earlier name");
    SendMessageA(main.Item(IDC_REGISTERED), BM_SETCHECK, BST_CHECKED, 0);
    driver::BoxAnswerer answerer;

    ChooseTypeLibFile(main.Get(), DialogWithoutRoom);

    driver::SeenBox seen = answerer.Wait();
    ASSERT_TRUE(seen) << "no message box";
    EXPECT_EQ(seen.box.caption, "Corvane");
    EXPECT_EQ(seen.box.text, kPathTooLongText);
    EXPECT_EQ(seen.box.style & MB_ICONMASK, static_cast<UINT>(MB_ICONHAND)) << "the error icon";
    EXPECT_FALSE(seen.hasOwner);
    EXPECT_EQ(main.Text(IDC_PATH), "earlier path");
    EXPECT_EQ(main.PathList(), std::vector<std::string>{"A:\\first.tlb"});
    EXPECT_EQ(main.Text(IDC_NAME), "earlier name");
    EXPECT_EQ(SendMessageA(main.Item(IDC_REGISTERED), BM_GETCHECK, 0, 0), BST_CHECKED);
}

TEST_F(Chooser, APathThatFillsTheBufferExactlyIsTaken) {
    // 1,039 characters and the NUL: the longest path the buffer holds.
    g_pathToGive = "C:\\" + std::string(1039 - 7, 'p') + ".tlb";
    ASSERT_EQ(g_pathToGive.size(), 1039u);
    StandInWindow main(100, 100);
    // The facts view is left without a component here: this is about the buffer, not the file.
    g_program.application.Reset();
    driver::BoxAnswerer answerer(1000);

    ChooseTypeLibFile(main.Get(), DialogGivingPath);

    EXPECT_FALSE(answerer.Wait()) << "a message box appeared";
    EXPECT_EQ(main.Text(IDC_PATH), g_pathToGive);
    EXPECT_EQ(main.PathList(), std::vector<std::string>{g_pathToGive});
}
