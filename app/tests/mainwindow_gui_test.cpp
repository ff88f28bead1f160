// The main window as the user meets it: Corvane.exe runs as a child process on the test
// display and the GUI test driver reads and answers its windows. A few checks that need the
// program's own handles (cursor, font, colours, Tab order) build the window in this process.
#include <gtest/gtest.h>

#include <string>

#include "app/mainwindow.h"
#include "app/weblink.h"
#include "common/owners.h"
#include "tests/support/driver.h"
#include "tests/support/testsupport.h"

namespace {

using testsupport::BesideTests;
using testsupport::Hex;

// ---- Dialog units, computed here on our own ----

// The window's dialog base units, as Windows computes them for a dialog font: the font's
// height, and the average width of the 52 Latin letters rounded up to half a pixel.
struct DialogBase {
    int x = 0;
    int y = 0;
};

DialogBase MsSansSerif8Base() {
    HDC screen = GetDC(nullptr);
    LOGFONTA logFont = {};
    logFont.lfHeight = -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72);
    logFont.lfWeight = FW_NORMAL;
    lstrcpyA(logFont.lfFaceName, "MS Sans Serif");
    Font font(CreateFontIndirectA(&logFont));
    HGDIOBJ old = SelectObject(screen, font.Get());
    TEXTMETRICA metrics;
    GetTextMetricsA(screen, &metrics);
    const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    SIZE extent;
    GetTextExtentPoint32A(screen, letters, 52, &extent);
    SelectObject(screen, old);
    ReleaseDC(nullptr, screen);
    return {(extent.cx / 26 + 1) / 2, metrics.tmHeight};
}

struct DialogRect {
    int x, y, width, height;
};

DialogRect ToDialogUnits(const RECT& pixels, const DialogBase& base) {
    return {MulDiv(pixels.left, 4, base.x), MulDiv(pixels.top, 8, base.y),
            MulDiv(pixels.right - pixels.left, 4, base.x), MulDiv(pixels.bottom - pixels.top, 8, base.y)};
}

// ---- Corvane as a child process ----

// Starts Corvane and waits for its main window; the process is killed if the test ends early.
struct Corvane {
    driver::Process process;
    HWND window = nullptr;

    explicit Corvane(const std::string& arguments = "") {
        process = driver::Start(arguments);
        if (process)
            window = driver::WaitForMainWindow(process.Id());
    }
    HWND Item(int id) const { return GetDlgItem(window, id); }
    // The close command of the system menu; true when the process ended with exit code 0.
    ::testing::AssertionResult CloseAndExit() {
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        return ExitsWithZero();
    }
    ::testing::AssertionResult ExitsWithZero() {
        DWORD code = 0;
        if (!process.WaitForExit(driver::kDefaultWaitMs, &code))
            return ::testing::AssertionFailure() << "still running";
        if (code != 0)
            return ::testing::AssertionFailure() << "exit code " << code;
        return ::testing::AssertionSuccess();
    }
};

#define ASSERT_STARTED(corvane)                                                                              \
    ASSERT_TRUE((corvane).process) << "Corvane.exe did not start";                                           \
    ASSERT_TRUE((corvane).window) << "no main window within " << driver::kDefaultWaitMs << " ms"

// Replaces the default value of a key under HKEY_CLASSES_ROOT for the life of the object and
// puts the earlier value (or its absence) back afterwards.
class ClassesValueOverride {
  public:
    ClassesValueOverride(const std::string& subKey, const std::string& value) : subKey_(subKey) {
        RegKey key;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, subKey.c_str(), 0, KEY_QUERY_VALUE, key.Put()) ==
            ERROR_SUCCESS) {
            char old[1024];
            DWORD size = sizeof(old);
            DWORD type = 0;
            if (RegQueryValueExA(key.Get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(old), &size) ==
                    ERROR_SUCCESS &&
                type == REG_SZ) {
                hadValue_ = true;
                old_.assign(old, size && old[size - 1] == '\0' ? size - 1 : size);
            }
        }
        ok_ = Write(value);
    }
    ClassesValueOverride(const ClassesValueOverride&) = delete;
    ClassesValueOverride& operator=(const ClassesValueOverride&) = delete;
    ~ClassesValueOverride() {
        if (hadValue_) {
            Write(old_);
        } else {
            RegKey key;
            if (RegOpenKeyExA(HKEY_CLASSES_ROOT, subKey_.c_str(), 0, KEY_SET_VALUE, key.Put()) ==
                ERROR_SUCCESS)
                RegDeleteValueA(key.Get(), nullptr);
        }
    }
    bool Ok() const { return ok_; }

  private:
    bool Write(const std::string& value) {
        RegKey key;
        if (RegCreateKeyExA(HKEY_CLASSES_ROOT, subKey_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            key.Put(), nullptr) != ERROR_SUCCESS)
            return false;
        return RegSetValueExA(key.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
    }
    std::string subKey_;
    std::string old_;
    bool hadValue_ = false;
    bool ok_ = false;
};

POINT CentreInParent(HWND control) {
    RECT rect = driver::RectInParent(control);
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

// ---- The window as built ----

// One start for the window as built and for Esc, which must leave it open; the system menu's
// close command then ends it with exit code 0.
TEST(CorvaneWindow, OpensAtItsPlaceWithTheControlsOfTheTableAndStaysOpenOnEsc) {
    Corvane corvane;
    ASSERT_STARTED(corvane);
    DialogBase base = MsSansSerif8Base();

    EXPECT_EQ("Corvane", driver::Text(corvane.window));
    EXPECT_EQ("#32770", driver::ClassName(corvane.window));
    EXPECT_EQ(nullptr, GetWindow(corvane.window, GW_OWNER));
    EXPECT_EQ(Hex(0x94CB00D4), Hex(driver::Style(corvane.window)));
    // The dialog manager adds WS_EX_DLGMODALFRAME for DS_MODALFRAME, on Windows as under Wine.
    EXPECT_EQ(Hex(0x10100), Hex(driver::ExStyle(corvane.window) & ~WS_EX_DLGMODALFRAME));

    // The template's position is where the client area starts (not centred).
    POINT origin = {0, 0};
    ClientToScreen(corvane.window, &origin);
    EXPECT_EQ(296, MulDiv(origin.x, 4, base.x)) << "client left at " << origin.x << " px";
    EXPECT_EQ(257, MulDiv(origin.y, 8, base.y)) << "client top at " << origin.y << " px";
    RECT client;
    GetClientRect(corvane.window, &client);
    DialogRect size = ToDialogUnits(client, base);
    EXPECT_EQ(264, size.width) << client.right << " px";
    EXPECT_EQ(179, size.height) << client.bottom << " px";

    // The twelve controls of the table, in its order.
    ASSERT_EQ(12u, MainWindowControls().size());
    HWND child = GetWindow(corvane.window, GW_CHILD);
    int expectedId = 1001; // the ids run from 1001 in creation order
    for (const ControlRow& recipe : MainWindowControls()) {
        SCOPED_TRACE("control " + std::to_string(recipe.id));
        ASSERT_TRUE(child) << "fewer controls than the table";
        EXPECT_EQ(expectedId++, GetDlgCtrlID(child)) << "creation order";
        EXPECT_EQ(recipe.id, GetDlgCtrlID(child));
        EXPECT_EQ(0, lstrcmpiA(recipe.className, driver::ClassName(child).c_str()))
            << driver::ClassName(child);
        EXPECT_EQ(recipe.text, driver::Text(child));
        EXPECT_EQ(Hex(recipe.style), Hex(driver::Style(child)));
        EXPECT_EQ(Hex(recipe.exStyle), Hex(driver::ExStyle(child)));

        DialogRect rect = ToDialogUnits(driver::RectInParent(child), base);
        EXPECT_EQ(recipe.x, rect.x);
        EXPECT_EQ(recipe.y, rect.y);
        EXPECT_EQ(recipe.width, rect.width);
        // A drop-down combo box's window is the closed box, whatever height it was created
        // with (the height of the open list); creation heights are checked in process.
        if (recipe.id != IDC_PATH) {
            EXPECT_EQ(recipe.height, rect.height);
        }
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(nullptr, child) << "more controls than the table";

    // Esc in the path field, as the keyboard delivers it to the focused edit box, and the
    // cancel command it turns into.
    HWND edit = GetWindow(corvane.Item(IDC_PATH), GW_CHILD);
    PostMessageA(edit ? edit : corvane.Item(IDC_PATH), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(edit ? edit : corvane.Item(IDC_PATH), WM_KEYUP, VK_ESCAPE, 0xC0010001);
    driver::SendCommand(corvane.window, IDCANCEL);
    EXPECT_FALSE(driver::WaitUntil([&] { return !IsWindow(corvane.window); }, 1000))
        << "the window closed on Esc";
    EXPECT_TRUE(corvane.process.Running());
    EXPECT_TRUE(corvane.CloseAndExit());
}

TEST(CorvaneWindow, CarriesTheIconGroupAndVersionBlockInItsProgramFile) {
    std::string path = BesideTests("Corvane.exe");
    Module program(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(program) << "error " << GetLastError();
    EXPECT_TRUE(FindResourceA(program.Get(), "PROGRAM", MAKEINTRESOURCEA(14))) << "icon group";

    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_NE(0u, size);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, &block[0]));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueA(&block[0], "\\", reinterpret_cast<void**>(&fixed), &fixedSize));
    EXPECT_EQ(Hex(0x00010000), Hex(fixed->dwFileVersionMS));
    EXPECT_EQ(Hex(0), Hex(fixed->dwFileVersionLS));
    EXPECT_EQ(Hex(0x00010000), Hex(fixed->dwProductVersionMS));
    EXPECT_EQ(Hex(0), Hex(fixed->dwProductVersionLS));
    EXPECT_EQ(Hex(VOS__WINDOWS32), Hex(fixed->dwFileOS));
    EXPECT_EQ(Hex(VFT_APP), Hex(fixed->dwFileType));
    EXPECT_EQ(Hex(0), Hex(fixed->dwFileFlags));

    auto value = [&block](const char* name) {
        char* text = nullptr;
        UINT length = 0;
        std::string query = std::string("\\StringFileInfo\\040904E4\\") + name;
        if (!VerQueryValueA(&block[0], query.c_str(), reinterpret_cast<void**>(&text), &length) || !text)
            return std::string("<missing>");
        return std::string(text);
    };
    EXPECT_EQ("Application", value("FileDescription"));
    EXPECT_EQ("Version 1.0", value("FileVersion"));
    EXPECT_EQ("Version 1.0", value("ProductVersion"));
    EXPECT_EQ("Corvane", value("InternalName"));
    EXPECT_EQ("Corvane", value("ProductName"));
    EXPECT_EQ("Corvane.exe", value("OriginalFilename"));
    EXPECT_EQ("", value("LegalTrademarks"));
    for (const char* name : {"CompanyName", "LegalCopyright", "Comments"})
        EXPECT_NE(std::string::npos, value(name).find(CORVANE_WEB_ADDRESS)) << name << ": " << value(name);

    WORD* translation = nullptr;
    UINT translationSize = 0;
    ASSERT_TRUE(VerQueryValueA(&block[0], "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &translationSize));
    ASSERT_EQ(4u, translationSize);
    EXPECT_EQ(0x409, translation[0]);
    EXPECT_EQ(1252, translation[1]);
}

// Each way of closing besides the system menu (CorvaneWindow.OpensAtItsPlace...), started with
// other arguments each time: Corvane ignores its arguments.
struct Closing {
    const char* how;
    const char* arguments;
    void (*close)(const Corvane&);
};
void PrintTo(const Closing& closing, std::ostream* out) {
    *out << closing.how << " after arguments '" << closing.arguments << "'";
}

class CorvaneClosing : public ::testing::TestWithParam<Closing> {};

TEST_P(CorvaneClosing, EndsTheProcessWithExitCodeZero) {
    Corvane corvane(GetParam().arguments);
    ASSERT_STARTED(corvane);
    GetParam().close(corvane);
    EXPECT_TRUE(corvane.ExitsWithZero());
}

INSTANTIATE_TEST_SUITE_P(
    Ways, CorvaneClosing,
    ::testing::Values(
        // The system key with the Alt bit (29) set in lParam, as the keyboard sends it to the path field.
        Closing{"Alt+F4", "/s /u C:\\none.tlb --help",
                [](const Corvane& c) {
                    PostMessageA(GetWindow(c.Item(IDC_PATH), GW_CHILD), WM_SYSKEYDOWN, VK_F4, 0x203E0001);
                }},
        Closing{"WM_CLOSE", "\"a b\" -1 %1",
                [](const Corvane& c) { PostMessageA(c.window, WM_CLOSE, 0, 0); }}));

// ---- Without the component ----

TEST(CorvaneWithoutComponent, SaysSoBeforeTheWindowIsVisibleAndOpensAfterOk) {
    const std::string server = TLINFO_APPLICATION_CLASS_KEY "\\InprocServer32";
    ClassesValueOverride missing(server, "C:\\windows\\no-such-folder\\missing.dll");
    ASSERT_TRUE(missing.Ok());

    driver::Process process = driver::Start();
    ASSERT_TRUE(process);
    driver::MessageBoxView box = driver::WaitForMessageBox(process.Id());
    ASSERT_TRUE(box) << "no message box";
    EXPECT_EQ("Problem in accessing TLBINF32.DLL", box.text);
    EXPECT_EQ("Corvane", box.caption);
    EXPECT_EQ(Hex(MB_OK), Hex(box.style));
    EXPECT_EQ(nullptr, GetWindow(box.window, GW_OWNER)) << "the box has no owner";
    HWND hidden = driver::FindMainWindow(process.Id(), false);
    EXPECT_TRUE(hidden) << "the main window exists while the box is up";
    EXPECT_FALSE(hidden && IsWindowVisible(hidden)) << "but is not yet visible";

    driver::Answer(box.window, IDOK);
    HWND window = driver::WaitForMainWindow(process.Id());
    ASSERT_TRUE(window) << "the window did not open after OK";
    EXPECT_FALSE(driver::WaitForMessageBox(process.Id(), 1000)) << "the message came twice";
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    DWORD code = 1;
    EXPECT_TRUE(process.WaitForExit(driver::kDefaultWaitMs, &code));
    EXPECT_EQ(0u, code);
}

// ---- The link ----

// Points the web protocols' open command at our recorder while alive.
class RecordingBrowser {
  public:
    RecordingBrowser()
        : http_("http\\shell\\open\\command", Command()), https_("https\\shell\\open\\command", Command()) {
        SetEnvironmentVariableA("CORVANE_LINK_RECORD", record_.c_str());
    }
    ~RecordingBrowser() {
        SetEnvironmentVariableA("CORVANE_LINK_RECORD", nullptr);
        DeleteFileA(record_.c_str());
    }
    bool Ok() const { return http_.Ok() && https_.Ok(); }
    const std::string& Record() const { return record_; }

  private:
    static std::string Command() { return "\"" + BesideTests("app_link_recorder.exe") + "\" \"%1\""; }
    testsupport::TempFolder folder_;
    std::string record_ = folder_.File("link.txt");
    ClassesValueOverride http_;
    ClassesValueOverride https_;
};

TEST(CorvaneLink, OpensTheWebAddressOnlyWhenTheLastMoveWasOverTheLabel) {
    RecordingBrowser browser;
    ASSERT_TRUE(browser.Ok());
    Corvane corvane;
    ASSERT_STARTED(corvane);
    auto pointAt = [&](POINT p) { return MAKELPARAM(p.x, p.y); };

    // Over the background, then a click: nothing opens.
    PostMessageA(corvane.window, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
    PostMessageA(corvane.window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    PostMessageA(corvane.window, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    EXPECT_FALSE(driver::WaitUntil(
        [&] { return GetFileAttributesA(browser.Record().c_str()) != INVALID_FILE_ATTRIBUTES; }, 1500))
        << "a click on the background opened " << testsupport::ReadFileBytes(browser.Record());

    // Over "More", then a click.
    LPARAM link = pointAt(CentreInParent(corvane.Item(IDC_MORE)));
    PostMessageA(corvane.window, WM_MOUSEMOVE, 0, link);
    PostMessageA(corvane.window, WM_LBUTTONDOWN, MK_LBUTTON, link);
    PostMessageA(corvane.window, WM_LBUTTONUP, 0, link);
    std::string recorded;
    EXPECT_TRUE(driver::WaitUntil(
        [&] { return !(recorded = testsupport::ReadFileBytes(browser.Record())).empty(); }, 10000))
        << "the recorder was not started";
    EXPECT_NE(std::string::npos, recorded.find(CORVANE_WEB_ADDRESS)) << recorded;
    EXPECT_TRUE(corvane.CloseAndExit());
}

// ---- In this process: cursor, link font and colours, Tab order ----

// Runs the main window on this thread and calls check once it is up; the window is closed
// afterwards (and after 20 seconds in any case).
class InProcessWindow {
  public:
    static INT_PTR Run(void (*check)(HWND)) {
        check_ = check;
        UINT_PTR first = SetTimer(nullptr, 0, 100, OnTimer);
        UINT_PTR guard = SetTimer(nullptr, 0, 20000, OnGuard);
        INT_PTR endValue = SHOWMAINWINDOW(nullptr);
        KillTimer(nullptr, first);
        KillTimer(nullptr, guard);
        g_program.application.Reset();
        g_program.mainWindow = nullptr;
        g_program.hoveredControlId = 0;
        return endValue;
    }

  private:
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        if (HWND window = g_program.mainWindow) {
            check_(window);
            PostMessageA(window, WM_CLOSE, 0, 0);
        }
    }
    static void CALLBACK OnGuard(HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        ADD_FAILURE() << "the check did not end the window";
        DestroyWindow(g_program.mainWindow);
    }
    static void (*check_)(HWND);
};
void (*InProcessWindow::check_)(HWND) = nullptr;

// Moves the pointer (as a WM_MOUSEMOVE in client coordinates) and gives the cursor set.
HCURSOR MoveTo(HWND window, int x, int y) {
    SetCursor(nullptr);
    SendMessageA(window, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
    return GetCursor();
}

TEST(CorvaneWindowInProcess, ShowsTheHandOnlyOverTheLinkLabel) {
    ComApartment apartment;
    INT_PTR endValue = InProcessWindow::Run([](HWND window) {
        HCURSOR hand = LoadCursorA(nullptr, IDC_HAND);
        HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
        auto centre = [window](int id) { return CentreInParent(GetDlgItem(window, id)); };

        POINT link = centre(IDC_MORE);
        // A point left of the client area arrives as a large unsigned x where no child
        // answers: the hovered id, and with it the cursor, stay as they were.
        EXPECT_EQ(arrow, MoveTo(window, -5, link.y)) << "outside, before the link";
        EXPECT_EQ(0, g_program.hoveredControlId);

        EXPECT_EQ(hand, MoveTo(window, link.x, link.y)) << "over the link";
        EXPECT_EQ(IDC_MORE, g_program.hoveredControlId);
        EXPECT_EQ(hand, MoveTo(window, -5, link.y)) << "outside, after the link";
        EXPECT_EQ(IDC_MORE, g_program.hoveredControlId);

        POINT label = centre(IDC_NAMELABEL);
        EXPECT_EQ(arrow, MoveTo(window, label.x, label.y)) << "from the link onto another label";
        EXPECT_EQ(IDC_NAMELABEL, g_program.hoveredControlId);

        EXPECT_EQ(arrow, MoveTo(window, 2, 2)) << "over the background";
        EXPECT_EQ(0, g_program.hoveredControlId);

        // A disabled field is skipped: the window itself answers.
        POINT field = centre(IDC_GUID);
        EXPECT_EQ(arrow, MoveTo(window, field.x, field.y)) << "over a greyed field";
        EXPECT_NE(IDC_MORE, g_program.hoveredControlId);
    });
    EXPECT_EQ(0, endValue);
}

TEST(CorvaneWindowInProcess, DrawsTheLinkInABlueItalicUnderlinedArialAndReleasesTheFont) {
    ComApartment apartment;
    InProcessWindow::Run([](HWND window) {
        EXPECT_EQ(window, g_program.mainWindow);
        EXPECT_TRUE(g_program.application) << "the component is registered in the test prefix";

        HWND link = GetDlgItem(window, IDC_MORE);
        HFONT font = reinterpret_cast<HFONT>(SendMessageA(link, WM_GETFONT, 0, 0));
        ASSERT_TRUE(font);
        EXPECT_EQ(g_program.linkFont.Get(), font);
        LOGFONTA logFont = {};
        ASSERT_EQ(static_cast<int>(sizeof(logFont)), GetObjectA(font, sizeof(logFont), &logFont));
        HDC screen = GetDC(nullptr);
        int logPixelsY = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
        EXPECT_STREQ("Arial", logFont.lfFaceName);
        EXPECT_EQ(-MulDiv(10, logPixelsY, 72), logFont.lfHeight);
        EXPECT_EQ(FW_NORMAL, logFont.lfWeight);
        EXPECT_TRUE(logFont.lfItalic);
        EXPECT_TRUE(logFont.lfUnderline);
        EXPECT_FALSE(logFont.lfStrikeOut);
        EXPECT_EQ(DEFAULT_CHARSET, logFont.lfCharSet);

        // The other controls keep the window's font.
        HFONT windowFont = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
        EXPECT_EQ(windowFont,
                  reinterpret_cast<HFONT>(SendMessageA(GetDlgItem(window, IDC_HINT), WM_GETFONT, 0, 0)));

        HDC dc = GetDC(link);
        LRESULT brush = SendMessageA(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                     reinterpret_cast<LPARAM>(link));
        EXPECT_EQ(Hex(0xFF0000), Hex(GetTextColor(dc))) << "pure blue";
        EXPECT_EQ(reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE)), brush);
        ReleaseDC(link, dc);
    });
    EXPECT_FALSE(g_program.linkFont) << "the link font is released with the window";
}

// Records the height the path field is created with: the window the child process shows is
// only the closed box (CorvaneWindow.OpensAtItsPlaceWithTheControlsOfTheTableAndStaysOpenOnEsc).
class CreationRecorder {
  public:
    CreationRecorder() { hook_ = SetWindowsHookExA(WH_CBT, OnCbt, nullptr, GetCurrentThreadId()); }
    CreationRecorder(const CreationRecorder&) = delete;
    CreationRecorder& operator=(const CreationRecorder&) = delete;
    ~CreationRecorder() { UnhookWindowsHookEx(hook_); }
    static int PathFieldHeight() { return pathFieldHeight_; }

  private:
    static LRESULT CALLBACK OnCbt(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_CREATEWND) {
            const CREATESTRUCTA* create = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
            // Only the window's own control: the combo box makes children with ids of its own.
            char parentClass[16] = "";
            GetClassNameA(create->hwndParent, parentClass, sizeof(parentClass));
            if ((create->style & WS_CHILD) && reinterpret_cast<INT_PTR>(create->hMenu) == IDC_PATH &&
                lstrcmpA(parentClass, "#32770") == 0)
                pathFieldHeight_ = create->cy;
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    HHOOK hook_;
    static int pathFieldHeight_;
};
int CreationRecorder::pathFieldHeight_ = 0;

TEST(CorvaneWindowInProcess, CreatesThePathFieldWithTheHeightOfItsOpenList) {
    ComApartment apartment;
    CreationRecorder recorder;
    InProcessWindow::Run([](HWND) {
        int height = MulDiv(CreationRecorder::PathFieldHeight(), 8, MsSansSerif8Base().y);
        EXPECT_EQ(MainWindowControls()[IDC_PATH - 1001].height, height)
            << CreationRecorder::PathFieldHeight() << " px";
    });
}

// This test program carries the program's icon group, so the window built here loads it as
// Corvane.exe does. (Under Wine 8 another process cannot ask a window for its icons: a
// WM_GETICON sent across processes fails at once.)
TEST(CorvaneWindowInProcess, ShowsTheProgramIconBigAndSmall) {
    ComApartment apartment;
    InProcessWindow::Run([](HWND window) {
        const struct {
            WPARAM which;
            int size;
        } icons[] = {{ICON_BIG, 32}, {ICON_SMALL, 16}};
        for (const auto& expected : icons) {
            HICON icon = reinterpret_cast<HICON>(SendMessageA(window, WM_GETICON, expected.which, 0));
            ASSERT_TRUE(icon) << "icon " << expected.which;
            ICONINFO info = {};
            ASSERT_TRUE(GetIconInfo(icon, &info));
            BITMAP colour = {};
            GetObjectA(info.hbmColor, sizeof(colour), &colour);
            EXPECT_EQ(expected.size, colour.bmWidth) << "icon " << expected.which;
            EXPECT_EQ(expected.size, colour.bmHeight) << "icon " << expected.which;
            DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
        }
    });
}

TEST(CorvaneWindowInProcess, MovesTabOnlyAmongThePathFieldTheBrowseButtonAndTheCheckBox) {
    ComApartment apartment;
    InProcessWindow::Run([](HWND window) {
        // Both ways round the cycle: any other control that Tab reached would show up in it.
        const struct {
            int from;
            BOOL backwards;
            int to;
        } steps[] = {{IDC_PATH, FALSE, IDC_BROWSE},      {IDC_BROWSE, FALSE, IDC_REGISTERED},
                     {IDC_REGISTERED, FALSE, IDC_PATH},  {IDC_PATH, TRUE, IDC_REGISTERED},
                     {IDC_REGISTERED, TRUE, IDC_BROWSE}, {IDC_BROWSE, TRUE, IDC_PATH}};
        for (const auto& step : steps) {
            HWND next = GetNextDlgTabItem(window, GetDlgItem(window, step.from), step.backwards);
            EXPECT_EQ(step.to, GetDlgCtrlID(next))
                << (step.backwards ? "Shift+Tab" : "Tab") << " from " << step.from;
        }
    });
}

} // namespace
