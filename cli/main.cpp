// corvane-cli: hands the command line to cli::Run and its output to the console. Arguments
// arrive as UTF-16 (wmain), so any file name can be given. Text goes to a console through
// WriteConsoleW, which shows every character the console's font has, and to a file or a pipe as
// UTF-8; a .reg file's bytes go out unchanged.
#include <windows.h>
#include <exception>

#include "cli/cli.h"
#include "common/owners.h"
#include "common/text.h"

namespace {

void WriteBytes(HANDLE to, const std::string& bytes) {
    const char* at = bytes.data();
    size_t left = bytes.size();
    DWORD written = 0;
    while (left > 0 && WriteFile(to, at, static_cast<DWORD>(left), &written, nullptr) && written > 0) {
        at += written;
        left -= written;
    }
}

// Lines end in CR LF, as text on Windows does.
void WriteText(DWORD which, const std::wstring& text) {
    std::wstring lines;
    for (wchar_t c : text) {
        if (c == L'\n')
            lines += L'\r';
        lines += c;
    }
    HANDLE to = GetStdHandle(which);
    DWORD mode = 0;
    if (!GetConsoleMode(to, &mode)) {
        WriteBytes(to, ToUtf8(lines));
        return;
    }
    // In pieces: older consoles refuse a single write of much more than 32 KB.
    constexpr size_t kPiece = 8192;
    for (size_t at = 0; at < lines.size(); at += kPiece) {
        DWORD written = 0;
        WriteConsoleW(to, lines.data() + at, static_cast<DWORD>(std::min(kPiece, lines.size() - at)),
                      &written, nullptr);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    ComApartment apartment;
    std::vector<std::wstring> args(argv + 1, argv + argc);
    cli::Output output;
    try {
        output = cli::Run(args);
    } catch (const std::exception& failure) {
        output.exitCode = cli::kExitError;
        output.err = L"corvane-cli: internal error: " + ToWide(failure.what()) + L"\n";
    }
    if (!output.bytes.empty())
        WriteBytes(GetStdHandle(STD_OUTPUT_HANDLE), output.bytes);
    else
        WriteText(STD_OUTPUT_HANDLE, output.out);
    WriteText(STD_ERROR_HANDLE, output.err);
    return output.exitCode;
}
