#include "tests/support/driver.h"

#include "common/text.h"

#include <dlgs.h>
#include <algorithm>
#include <utility>

#include "common/owners.h"

#include "tests/support/testsupport.h"

namespace driver {

namespace {

// How long a single read of a window of the child may take before the driver gives up.
constexpr UINT kSendTimeoutMs = 5000;
constexpr DWORD kPollMs = 20;

// The message box's text control, and its icon control: Windows gives the icon id 20, Wine
// gives it 0x440; the driver accepts either.
constexpr int kMessageTextId = 0xFFFF;
constexpr int kMessageIconIds[] = {20, 0x440};

bool Matches(HWND window, const char* className, const char* caption) {
    if (className && *className && ClassName(window) != className)
        return false;
    if (caption && *caption && Text(window) != caption)
        return false;
    return true;
}

bool IsMessageBox(HWND window) {
    return ClassName(window) == "#32770" && GetDlgItem(window, kMessageTextId) != nullptr;
}

// The buttons part of a message box style, from the buttons it shows.
UINT ButtonStyle(HWND box) {
    auto has = [box](int id) {
        HWND button = GetDlgItem(box, id);
        return button && IsWindowVisible(button);
    };
    if (has(IDYES) && has(IDNO))
        return has(IDCANCEL) ? MB_YESNOCANCEL : MB_YESNO;
    if (has(IDABORT))
        return MB_ABORTRETRYIGNORE;
    if (has(IDRETRY))
        return MB_RETRYCANCEL;
    if (has(IDOK) && has(IDCANCEL))
        return MB_OKCANCEL;
    return MB_OK;
}

// The pixels of a rectangle of the screen, 32 bits each.
std::vector<DWORD> Pixels(HDC source, int x, int y, int width, int height) {
    std::vector<DWORD> pixels(static_cast<size_t>(width) * height);
    HDC memory = CreateCompatibleDC(source);
    HBITMAP bitmap = CreateCompatibleBitmap(source, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    GetDIBits(memory, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    for (DWORD& p : pixels)
        p &= 0xFFFFFF;
    return pixels;
}

// The system icon as the message box draws it: at 32 x 32 on the button-face colour.
std::vector<DWORD> RenderedSystemIcon(LPCSTR iconName, HDC screen, int width, int height) {
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    RECT all = {0, 0, width, height};
    FillRect(memory, &all, GetSysColorBrush(COLOR_BTNFACE));
    DrawIcon(memory, 0, 0, LoadIconA(nullptr, iconName));
    std::vector<DWORD> pixels = Pixels(memory, 0, 0, width, height);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    return pixels;
}

// The icon part of a message box style. An icon handle of another process cannot be compared
// with ours (each process loads its own copy of a system icon), so the driver compares what
// the box's icon control shows on the screen with each system icon drawn here.
UINT IconStyle(HWND box) {
    HWND icon = nullptr;
    for (int id : kMessageIconIds)
        if ((icon = GetDlgItem(box, id)) != nullptr)
            break;
    if (!icon || !IsWindowVisible(icon))
        return 0;
    RECT rect;
    GetWindowRect(icon, &rect);
    const int size = 32;
    HDC screen = GetDC(nullptr);
    std::vector<DWORD> shown = Pixels(screen, rect.left, rect.top, size, size);
    struct Candidate {
        LPCSTR name;
        UINT style;
    };
    const Candidate candidates[] = {{IDI_QUESTION, MB_ICONQUESTION},
                                    {IDI_ASTERISK, MB_ICONINFORMATION},
                                    {IDI_HAND, MB_ICONERROR},
                                    {IDI_EXCLAMATION, MB_ICONWARNING}};
    UINT found = 0;
    for (const Candidate& candidate : candidates) {
        if (RenderedSystemIcon(candidate.name, screen, size, size) == shown) {
            found = candidate.style;
            break;
        }
    }
    ReleaseDC(nullptr, screen);
    return found;
}

} // namespace

// ---- Process ----

Process::Process(Process&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), id_(std::exchange(other.id_, 0)) {}

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        Kill();
        handle_ = std::exchange(other.handle_, nullptr);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

Process::~Process() {
    Kill();
}

bool Process::Running() const {
    return handle_ && WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT;
}

bool Process::WaitForExit(DWORD timeoutMs, DWORD* exitCode) const {
    if (!handle_ || WaitForSingleObject(handle_, timeoutMs) != WAIT_OBJECT_0)
        return false;
    if (exitCode)
        GetExitCodeProcess(handle_, exitCode);
    return true;
}

void Process::Kill() {
    if (!handle_)
        return;
    if (Running()) {
        TerminateProcess(handle_, 0xDEAD);
        WaitForSingleObject(handle_, kDefaultWaitMs);
    }
    CloseHandle(handle_);
    handle_ = nullptr;
    id_ = 0;
}

Process Start(const std::string& arguments, const std::string& program) {
    std::string path = program.empty() ? testsupport::BesideTests("Corvane.exe") : program;
    std::string commandLine = "\"" + path + "\"";
    if (!arguments.empty())
        commandLine += " " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    // No inherited handles: the child must not keep the test runner's output pipes open.
    if (!CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info))
        return Process();
    CloseHandle(info.hThread);
    Process process;
    process.handle_ = info.hProcess;
    process.id_ = info.dwProcessId;
    return process;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return condition();
        Sleep(kPollMs);
    }
}

// ---- Windows ----

namespace {

struct WindowSearch {
    DWORD processId;
    bool visibleOnly;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && (!search->visibleOnly || IsWindowVisible(window)))
        search->found.push_back(window);
    return TRUE;
}

} // namespace

std::vector<HWND> TopLevelWindows(DWORD processId, bool visibleOnly) {
    WindowSearch search{processId, visibleOnly, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindTopLevel(DWORD processId, const char* className, const char* caption, bool visibleOnly) {
    for (HWND window : TopLevelWindows(processId, visibleOnly))
        if (Matches(window, className, caption))
            return window;
    return nullptr;
}

HWND WaitForTopLevel(DWORD processId, const char* className, const char* caption, DWORD timeoutMs,
                     bool visibleOnly) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindTopLevel(processId, className, caption, visibleOnly)); }, timeoutMs);
    return found;
}

HWND FindMainWindow(DWORD processId, bool visibleOnly) {
    for (HWND window : TopLevelWindows(processId, visibleOnly))
        if (Matches(window, "#32770", "Corvane") && GetDlgItem(window, 1012))
            return window;
    return nullptr;
}

HWND WaitForMainWindow(DWORD processId, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindMainWindow(processId)); }, timeoutMs);
    return found;
}

HWND WaitForDialog(DWORD processId, const char* title, DWORD timeoutMs) {
    return WaitForTopLevel(processId, "#32770", title, timeoutMs);
}

MessageBoxView ReadMessageBox(HWND box) {
    MessageBoxView view;
    if (!box || !IsWindow(box))
        return view;
    view.window = box;
    view.caption = Text(box);
    view.text = Text(GetDlgItem(box, kMessageTextId));
    view.style = ButtonStyle(box) | IconStyle(box);
    return view;
}

MessageBoxView FindMessageBox(DWORD processId, const char* caption) {
    for (HWND window : TopLevelWindows(processId, true))
        if (IsMessageBox(window) && Matches(window, nullptr, caption))
            return ReadMessageBox(window);
    return MessageBoxView();
}

MessageBoxView WaitForMessageBox(DWORD processId, DWORD timeoutMs, const char* caption) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : TopLevelWindows(processId, true))
                if (IsMessageBox(window) && Matches(window, nullptr, caption))
                    return (found = window) != nullptr;
            return false;
        },
        timeoutMs);
    if (!found)
        return MessageBoxView();
    // Let the box finish painting before its icon is read from the screen.
    WaitUntil([&] { return IconStyle(found) != 0; }, 500);
    return ReadMessageBox(found);
}

void Answer(HWND box, int buttonId) {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, buttonId)));
}

bool WaitForGone(HWND window, DWORD timeoutMs) {
    return WaitUntil([window] { return !IsWindow(window); }, timeoutMs);
}

HWND Control(HWND parent, int id) {
    return GetDlgItem(parent, id);
}

std::string Text(HWND window) {
    if (!window)
        return std::string();
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &length))
        return std::string();
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &copied))
        return std::string();
    text.resize(copied);
    return text;
}

std::string ClassName(HWND window) {
    char name[256] = "";
    GetClassNameA(window, name, sizeof(name));
    return name;
}

DWORD Style(HWND window) {
    return static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE));
}

DWORD ExStyle(HWND window) {
    return static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE));
}

RECT RectInParent(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    HWND parent = (GetWindowLongA(window, GWL_STYLE) & WS_CHILD) ? GetParent(window) : nullptr;
    if (parent)
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

int CheckState(HWND button) {
    DWORD_PTR state = 0;
    if (!SendMessageTimeoutA(button, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &state))
        return -1;
    return static_cast<int>(state);
}

std::vector<std::string> ComboEntries(HWND comboBox) {
    DWORD_PTR count = 0;
    SendMessageTimeoutA(comboBox, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &count);
    std::vector<std::string> entries;
    for (DWORD_PTR i = 0; i < count; ++i) {
        // Asked in UTF-16: Wine 8 hands CB_GETLBTEXT between processes in its wide form, so an
        // ANSI request from another process receives UTF-16 bytes.
        wchar_t entry[1040] = L"";
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(comboBox, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry), SMTO_ABORTIFHUNG,
                            kSendTimeoutMs, &ignored);
        entries.push_back(ToAnsi(std::wstring(entry)));
    }
    return entries;
}

bool SetText(HWND window, const std::string& text) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                               SMTO_ABORTIFHUNG, kSendTimeoutMs, &result) != 0;
}

bool SetPathText(HWND mainWindow, const std::string& text) {
    return SetText(GetDlgItem(mainWindow, 1002), text);
}

void Click(HWND button) {
    PostMessageA(button, BM_CLICK, 0, 0);
}

void SendCommand(HWND parent, int id, WORD notification) {
    PostMessageA(parent, WM_COMMAND, MAKEWPARAM(id, notification),
                 reinterpret_cast<LPARAM>(GetDlgItem(parent, id)));
}

HWND FileNameField(HWND openDialog) {
    HWND field = GetDlgItem(openDialog, cmb13);
    return field ? field : GetDlgItem(openDialog, edt1);
}

void ChooseInOpenDialog(HWND openDialog, const std::string& path) {
    SetText(FileNameField(openDialog), path);
    Answer(openDialog, IDOK);
}

BackgroundTask::BackgroundTask(std::function<void()> work) : work_(std::move(work)) {
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

BackgroundTask::~BackgroundTask() {
    Join();
}

void BackgroundTask::Join() {
    if (!thread_)
        return;
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
}

DWORD WINAPI BackgroundTask::Run(void* self) {
    static_cast<BackgroundTask*>(self)->work_();
    return 0;
}

BoxAnswerer::BoxAnswerer(DWORD timeoutMs, const char* caption)
    : task_([this, timeoutMs, caption] {
          MessageBoxView box = WaitForMessageBox(GetCurrentProcessId(), timeoutMs, caption);
          if (!box)
              return;
          seen_.box = box;
          seen_.hasOwner = GetWindow(box.window, GW_OWNER) != nullptr;
          Answer(box.window, IDOK);
      }) {}

SeenBox BoxAnswerer::Wait() {
    task_.Join();
    return seen_;
}

namespace {

// Quoting as the C runtime splits a command line: a backslash run is doubled before a quote.
std::wstring Quote(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos)
        return arg;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

std::string WithoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

void Drain(HANDLE pipe, std::string* text) {
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &read, nullptr) && read > 0)
        text->append(buffer, read);
}

} // namespace

ChildRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                    const std::string& folder, DWORD timeoutMs, bool outputClosed) {
    std::vector<std::wstring> wide;
    for (const std::string& arg : args)
        wide.push_back(ToWide(arg));
    return RunProgram(ToWide(program), wide, ToWide(folder), timeoutMs, outputClosed);
}

ChildRun RunProgram(const std::wstring& program, const std::vector<std::wstring>& args,
                    const std::wstring& folder, DWORD timeoutMs, bool outputClosed) {
    ChildRun run;
    std::wstring commandLine = Quote(program);
    for (const std::wstring& arg : args)
        commandLine += L" " + Quote(arg);

    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE outRead, outWrite, errRead, errWrite;
    if (!CreatePipe(&outRead, &outWrite, &inheritable, 0))
        return run;
    KernelHandle outReader(outRead), outWriter(outWrite);
    if (!CreatePipe(&errRead, &errWrite, &inheritable, 0))
        return run;
    KernelHandle errReader(errRead), errWriter(errWrite);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    KernelHandle input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                   OPEN_EXISTING, 0, nullptr));

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.Get();
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION process = {};
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    // A path is started as named, so that a program without ".exe" (a program of the building
    // machine, which Wine starts too) is not looked for under another name; a bare name is searched.
    const wchar_t* named = program.find(L'\\') != std::wstring::npos ? program.c_str() : nullptr;
    if (!CreateProcessW(named, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
        run.err =
            "CreateProcess failed with " + std::to_string(GetLastError()) + " for " + ToUtf8(commandLine);
        return run;
    }
    KernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
    // Only the child holds the write ends now, so the readers end when it does.
    outWriter.Reset();
    errWriter.Reset();
    if (outputClosed)
        outReader.Reset();
    {
        BackgroundTask outReading([&] {
            if (outReader)
                Drain(outRead, &run.out);
        });
        BackgroundTask errReading([&] { Drain(errRead, &run.err); });
        if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
            run.timedOut = true;
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, 5000);
        }
    }
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    run.rawOut = run.out;
    run.out = WithoutCarriageReturns(run.out);
    run.err = WithoutCarriageReturns(run.err);
    return run;
}

} // namespace driver
