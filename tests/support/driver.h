// The GUI test driver: starts Corvane.exe (or another program of ours) as a child process and
// finds, reads and answers its windows from the test program, the way a user would see them.
// The same functions find the windows of the test process itself (GetCurrentProcessId()), which
// a second thread of the test answers while the code under test waits in a modal loop.
//
// Every wait has a time limit. Requests that reach windows of the child go through
// PostMessage, or SendMessageTimeout for reads, because the child's thread may sit inside a
// modal loop (a message box, the open-file dialog) when the test talks to it.
#pragma once

#include <windows.h>
#include <functional>
#include <string>
#include <vector>

namespace driver {

// How long a test waits by default for a window to appear or a process to end.
constexpr DWORD kDefaultWaitMs = 10000;

// A started child process. The process is killed when the object goes, unless it has ended.
class Process {
  public:
    Process() = default;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    ~Process();

    explicit operator bool() const { return handle_ != nullptr; }
    DWORD Id() const { return id_; }
    HANDLE Handle() const { return handle_; }
    bool Running() const;
    // Waits up to timeoutMs for the process to end; true when it ended, with its exit code.
    bool WaitForExit(DWORD timeoutMs, DWORD* exitCode = nullptr) const;
    // Ends the process at once (if it still runs) and waits for it to be gone.
    void Kill();

  private:
    friend Process Start(const std::string&, const std::string&);
    HANDLE handle_ = nullptr;
    DWORD id_ = 0;
};

// Starts program (a full path; Corvane.exe beside the tests when empty) with the given
// command-line arguments. The child inherits no handles. An empty Process when it failed.
Process Start(const std::string& arguments = "", const std::string& program = "");

// Calls condition every few milliseconds until it answers true or timeoutMs passes; gives the
// last answer.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = kDefaultWaitMs);

// The top-level windows of a process, in Z order. visibleOnly skips hidden ones.
std::vector<HWND> TopLevelWindows(DWORD processId, bool visibleOnly = true);

// The first top-level window of the process whose class and caption match (a null or empty
// className/caption matches any), or null. Waits up to timeoutMs for it.
HWND FindTopLevel(DWORD processId, const char* className, const char* caption, bool visibleOnly = true);
HWND WaitForTopLevel(DWORD processId, const char* className, const char* caption,
                     DWORD timeoutMs = kDefaultWaitMs, bool visibleOnly = true);

// Corvane's main window: the visible dialog "Corvane" that has the link label (1012).
HWND FindMainWindow(DWORD processId, bool visibleOnly = true);
HWND WaitForMainWindow(DWORD processId, DWORD timeoutMs = kDefaultWaitMs);

// A dialog of the process by its title (for example the open-file dialog).
HWND WaitForDialog(DWORD processId, const char* title, DWORD timeoutMs = kDefaultWaitMs);
// The title of the open-file dialog of Corvane's ".." command.
constexpr char kChooserTitle[] = "Choose Type Library to Register";

// A message box as seen on the screen.
struct MessageBoxView {
    HWND window = nullptr;
    std::string caption;
    std::string text; // the static control 0xFFFF
    // MB_OK, MB_OKCANCEL, MB_YESNO, MB_YESNOCANCEL... from the buttons it shows, combined with
    // MB_ICONQUESTION, MB_ICONINFORMATION, MB_ICONERROR or MB_ICONWARNING from its icon (none
    // when it shows no system icon). For MessageBoxA(..., 0x24) this is 0x24.
    UINT style = 0;
    explicit operator bool() const { return window != nullptr; }
};

// The first visible message box (#32770 with a text control 0xFFFF) of the process with the
// given caption ("Corvane" by default), or an empty view when none appears within timeoutMs.
MessageBoxView FindMessageBox(DWORD processId, const char* caption = "Corvane");
MessageBoxView WaitForMessageBox(DWORD processId, DWORD timeoutMs = kDefaultWaitMs,
                                 const char* caption = "Corvane");
// Reads a message box window.
MessageBoxView ReadMessageBox(HWND box);

// Answers a message box or dialog as a click on its button would: IDOK, IDYES, IDNO, IDCANCEL.
// Posted, so the call returns at once; use WaitForGone to see the box close.
void Answer(HWND box, int buttonId);

// Waits up to timeoutMs for a window to be destroyed.
bool WaitForGone(HWND window, DWORD timeoutMs = kDefaultWaitMs);

// Reading a window or control (of any process).
HWND Control(HWND parent, int id);
std::string Text(HWND window); // WM_GETTEXT
std::string ClassName(HWND window);
DWORD Style(HWND window);
DWORD ExStyle(HWND window);
// The window's rectangle in its parent's client coordinates (screen coordinates for a
// top-level window).
RECT RectInParent(HWND window);
// BM_GETCHECK: BST_UNCHECKED, BST_CHECKED, or -1 when the control did not answer.
int CheckState(HWND button);
// The entries of a combo box's list, in order.
std::vector<std::string> ComboEntries(HWND comboBox);

// Sets the text of a control, e.g. the path field, as typing would leave it (WM_SETTEXT).
bool SetText(HWND window, const std::string& text);
// Sets the text of Corvane's path field (1002).
bool SetPathText(HWND mainWindow, const std::string& text);

// The name field of the open-file dialog: the combo box cmb13 of the explorer-style dialog,
// on Windows and under Wine 8 alike; the older dialog's edit box edt1 where there is no cmb13.
HWND FileNameField(HWND openDialog);
// Types path into the open-file dialog's name field and presses Open.
void ChooseInOpenDialog(HWND openDialog, const std::string& path);

// A console program run to its end with its output captured.
struct ChildRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out;    // with CRLF turned into LF
    std::string rawOut; // the bytes as written
    std::string err;
    bool timedOut = false; // ended by force after the time limit
};
// Runs program (a full path) with args, quoted as the C runtime splits a command line, in folder
// (empty: this process's), without a console window and with no input; ends it after timeoutMs.
// With outputClosed, the child's standard output is a pipe whose reading end is already closed.
ChildRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                    const std::string& folder = std::string(), DWORD timeoutMs = 60000,
                    bool outputClosed = false);
// The same with UTF-16 arguments, for names outside the ANSI code page.
ChildRun RunProgram(const std::wstring& program, const std::vector<std::wstring>& args,
                    const std::wstring& folder = std::wstring(), DWORD timeoutMs = 60000,
                    bool outputClosed = false);

// Runs work on a thread of its own while the object lives; the destructor waits for it.
class BackgroundTask {
  public:
    explicit BackgroundTask(std::function<void()> work);
    BackgroundTask(const BackgroundTask&) = delete;
    BackgroundTask& operator=(const BackgroundTask&) = delete;
    ~BackgroundTask();
    // Waits for the work to end.
    void Join();

  private:
    static DWORD WINAPI Run(void* self);
    std::function<void()> work_;
    HANDLE thread_ = nullptr;
};

// A message box of this process, read and answered with OK.
struct SeenBox {
    MessageBoxView box;
    bool hasOwner = false;
    explicit operator bool() const { return static_cast<bool>(box); }
};

// While alive, a second thread waits up to timeoutMs for one message box of this process with
// the caption ("Corvane" by default), reads it and answers it with OK, so that a call that
// shows a box on the test's thread comes back. Wait() gives what it saw (nothing when no box
// came).
class BoxAnswerer {
  public:
    explicit BoxAnswerer(DWORD timeoutMs = kDefaultWaitMs, const char* caption = "Corvane");
    SeenBox Wait();

  private:
    SeenBox seen_;
    BackgroundTask task_;
};

// A click on a button or check box: BM_CLICK, posted. The button presses and releases itself,
// an auto check box toggles, and the parent receives WM_COMMAND with BN_CLICKED.
void Click(HWND button);
// The notification a click produces, without the button's own handling (no toggle):
// WM_COMMAND with (id, code) and the control's handle, posted to its parent.
void SendCommand(HWND parent, int id, WORD notification = BN_CLICKED);

} // namespace driver
