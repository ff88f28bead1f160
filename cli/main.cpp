// corvane-cli: hands the command line to cli::Run and its output to the console. Arguments
// arrive as UTF-16 (wmain), so any file name can be given. Text goes to a console through
// WriteConsoleW, which shows every character the console's font has, and to a file or a pipe as
// UTF-8; a .reg file's bytes go out unchanged.
#include <windows.h>
#include <exception>

#include "cli/cli.h"
#include "common/files.h"
#include "common/owners.h"
#include "common/text.h"

namespace {

// Lines end in CR LF, as text on Windows does.
std::wstring WithCrLf(const std::wstring& text) {
    std::wstring lines;
    lines.reserve(text.size());
    for (wchar_t c : text) {
        if (c == L'\n')
            lines += L'\r';
        lines += c;
    }
    return lines;
}

// Writes text to a console through WriteConsoleW, or as UTF-8 to a file or a pipe. Fails when
// any of it did not arrive: a full disk, a pipe whose reader has gone, no handle at all.
HRESULT WriteText(HANDLE to, const std::wstring& text) {
    if (text.empty())
        return S_OK;
    std::wstring lines = WithCrLf(text);
    DWORD mode = 0;
    if (!GetConsoleMode(to, &mode)) {
        std::string bytes = ToUtf8(lines);
        return WriteAll(to, bytes.data(), bytes.size());
    }
    // In pieces: older consoles refuse a single write of much more than 32 KB.
    constexpr size_t kPiece = 8192;
    for (size_t at = 0; at < lines.size();) {
        DWORD written = 0;
        if (!WriteConsoleW(to, lines.data() + at, static_cast<DWORD>(std::min(kPiece, lines.size() - at)),
                           &written, nullptr) ||
            written == 0)
            return HRESULT_FROM_WIN32(GetLastError() ? GetLastError() : ERROR_WRITE_FAULT);
        at += written;
    }
    return S_OK;
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
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    HRESULT written = !output.bytes.empty() ? WriteAll(out, output.bytes.data(), output.bytes.size())
                                            : WriteText(out, output.out);
    // Output that did not arrive whole is a failure, whatever the command itself decided.
    if (FAILED(written)) {
        output.exitCode = cli::kExitError;
        output.err += L"corvane-cli: cannot write the output: error " + ResultCodeText(written) + L"\n";
    }
    WriteText(GetStdHandle(STD_ERROR_HANDLE), output.err);
    return output.exitCode;
}
