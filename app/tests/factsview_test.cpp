// The facts view in the window: what it writes into the three fact fields and the check box, in
// which order, and that every failure clears them.
#include <gtest/gtest.h>

#include <vector>

#include "app/mainwindow.h"
#include "common/owners.h"
#include "tests/support/fakecomponent.h"
#include "tests/support/testsupport.h"

using testsupport::ComponentScript;
using testsupport::FakeComponent;
using testsupport::GuidAnsi;

namespace {

// The order in which the controls were written, e.g. "1005=Shapes (Shapes Library)", "1010:1".
std::vector<std::string>& Writes() {
    static std::vector<std::string> writes;
    return writes;
}

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    int id = GetDlgCtrlID(window);
    if (message == WM_SETTEXT)
        Writes().push_back(std::to_string(id) + "=" + reinterpret_cast<const char*>(lParam));
    else if (message == BM_SETCHECK)
        Writes().push_back(std::to_string(id) + ":" + std::to_string(wParam));
    auto original = reinterpret_cast<WNDPROC>(GetPropA(window, "CorvaneTestProc"));
    return CallWindowProcA(original, window, message, wParam, lParam);
}

// A window with the four controls the view writes, each recording what it is given.
class FactsWindow {
  public:
    FactsWindow() {
        window_.Reset(CreateWindowExA(0, "STATIC", "facts", WS_POPUP, 0, 0, 400, 200, nullptr, nullptr,
                                      nullptr, nullptr));
        for (int id : {IDC_NAME, IDC_GUID, IDC_VERSION})
            Child("EDIT", ES_AUTOHSCROLL, id);
        Child("BUTTON", BS_AUTOCHECKBOX, IDC_REGISTERED);
    }
    HWND Get() const { return window_.Get(); }
    std::string Text(int id) const {
        char text[1024] = {};
        GetWindowTextA(GetDlgItem(window_.Get(), id), text, sizeof text);
        return text;
    }
    bool Checked() const {
        return SendMessageA(GetDlgItem(window_.Get(), IDC_REGISTERED), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    // Fills the view with facts of an earlier file, which a later call must not leave behind.
    void ShowStale() {
        for (int id : {IDC_NAME, IDC_GUID, IDC_VERSION})
            SetWindowTextA(GetDlgItem(window_.Get(), id), "stale");
        SendMessageA(GetDlgItem(window_.Get(), IDC_REGISTERED), BM_SETCHECK, BST_CHECKED, 0);
        Writes().clear();
    }

  private:
    void Child(const char* className, DWORD style, int id) {
        HWND child = CreateWindowExA(0, className, "", WS_CHILD | WS_VISIBLE | style, 0, 20 * (id - 1005),
                                     300, 18, window_.Get(),
                                     reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), nullptr, nullptr);
        SetPropA(child, "CorvaneTestProc", reinterpret_cast<HANDLE>(GetWindowLongPtrA(child, GWLP_WNDPROC)));
        SetWindowLongPtrA(child, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingProc));
    }
    OwnedWindow window_;
};

const std::vector<std::string> kClearedInOrder = {"1005=", "1007=", "1009=", "1010:0"};

class FactsView : public ::testing::Test {
  protected:
    void SetUp() override {
        script_.SetGuid(GuidAnsi(testsupport::NewGuid()));
        window_.ShowStale();
    }
    void Show(const std::string& path, ITlInfoApplication* application) {
        window_.ShowStale();
        ShowTypeLibFacts(window_.Get(), application, path);
    }

    ComponentScript script_;
    FakeComponent component_{script_};
    FactsWindow window_;
};

} // namespace

TEST_F(FactsView, WritesTheNameLineGuidVersionAndCheckBoxInThatOrder) {
    script_.SetVersion(2, 10);
    Show("C:\\libs\\shapes.tlb", &component_);
    EXPECT_EQ(Writes(), (std::vector<std::string>{"1005=Shapes (Shapes Library)", "1007=" + script_.guid[0],
                                                  "1009=2.10", "1010:0"}));
}

TEST_F(FactsView, AnEmptyPathNoComponentOrAFailureClearsTheFieldsInOrder) {
    Show("", &component_);
    EXPECT_TRUE(script_.calls.empty()) << "an empty path asks the component nothing";
    EXPECT_EQ(Writes(), kClearedInOrder);

    Show("C:\\libs\\shapes.tlb", nullptr);
    EXPECT_EQ(Writes(), kClearedInOrder);

    script_.failingSlot = tlinfo_slot::MinorVersion;
    Show("C:\\libs\\shapes.tlb", &component_);
    EXPECT_EQ(Writes(), kClearedInOrder) << "nothing of the failed file is shown, not even for a moment";
    EXPECT_EQ(window_.Text(IDC_NAME), "");
    EXPECT_FALSE(window_.Checked());

    script_.failingSlot = -1;
    script_.calls.clear();
    Show(" ", &component_);
    EXPECT_FALSE(script_.calls.empty()) << "a path of blanks is not empty";
}

TEST_F(FactsView, TheNamedOperationUsesTheProgramsWindowAndApplication) {
    g_program.mainWindow = window_.Get();
    g_program.application = ComPtr<ITlInfoApplication>::Attach(&component_);
    SHOWTYPELIBFACTS("C:\\libs\\shapes.tlb");
    g_program.application.Reset();
    g_program.mainWindow = nullptr;
    EXPECT_EQ(script_.openedPath, L"C:\\libs\\shapes.tlb");
    EXPECT_EQ(window_.Text(IDC_VERSION), "1.0");
}

TEST_F(FactsView, ASecondFileReplacesOrClearsTheFirst) {
    ComApartment apartment;
    ComPtr<ITlInfoApplication> application;
    ASSERT_EQ(CoCreateInstance(CLSID_TlInfoApplication, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                               IID_ITlInfoApplication, application.PutVoid()),
              S_OK)
        << "the component is registered in the test prefix";
    testsupport::TempFolder folder;
    testsupport::LibraryRecipe first, second;
    first.name = "First";
    first.description = "First Library";
    second.name = "Second";
    second.description = "Second Library";
    second.major = 3;
    std::string firstPath = folder.File("first.tlb"), secondPath = folder.File("second.tlb");
    ASSERT_EQ(testsupport::MakeTypeLib(firstPath, first), S_OK);
    ASSERT_EQ(testsupport::MakeTypeLib(secondPath, second), S_OK);

    Show(firstPath, application.Get());
    Show(secondPath, application.Get());
    EXPECT_EQ(window_.Text(IDC_NAME), "Second (Second Library)");
    EXPECT_EQ(window_.Text(IDC_GUID), GuidAnsi(second.guid));
    EXPECT_EQ(window_.Text(IDC_VERSION), "3.0");

    std::string notALibrary = folder.File("notes.tlb");
    testsupport::WriteFileBytes(notALibrary, "just some text, no type library");
    Show(notALibrary, application.Get());
    EXPECT_EQ(Writes(), kClearedInOrder);
}
