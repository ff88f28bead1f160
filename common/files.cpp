#include "common/files.h"

#include "common/owners.h"

namespace {

// One write at a time stays far below what a DWORD counts, and a pipe or a console takes it in
// one piece.
constexpr size_t kPiece = 1 << 20;

// The system's error, or E_FAIL for a failure that set none.
HRESULT LastError() {
    DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

} // namespace

HRESULT WriteAll(HANDLE to, const char* bytes, size_t size) {
    while (size > 0) {
        DWORD written = 0;
        SetLastError(ERROR_SUCCESS);
        if (!WriteFile(to, bytes, static_cast<DWORD>(size < kPiece ? size : kPiece), &written, nullptr))
            return LastError();
        if (written == 0)
            return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
        bytes += written;
        size -= written;
    }
    return S_OK;
}

HRESULT WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    FileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return LastError();
    HRESULT hr = WriteAll(file.Get(), bytes.data(), bytes.size());
    if (SUCCEEDED(hr) && !FlushFileBuffers(file.Get()))
        hr = LastError();
    LARGE_INTEGER size{};
    if (SUCCEEDED(hr) && !GetFileSizeEx(file.Get(), &size))
        hr = LastError();
    if (SUCCEEDED(hr) && static_cast<unsigned long long>(size.QuadPart) != bytes.size())
        hr = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    // Closing is the last moment a delayed write can fail.
    if (SUCCEEDED(hr) && !CloseHandle(file.Detach()))
        hr = LastError();
    if (FAILED(hr)) {
        file.Reset();
        DeleteFileW(path.c_str());
    }
    return hr;
}
