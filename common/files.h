// Writing what a command produces: a file it was asked to write (a backup, an -o output) or its
// standard output. A write that did not arrive whole is a failure: the system may accept part of
// a write on a full disk and report success with no error set, and a closed pipe refuses the rest
// of a document; in neither case may the caller go on as if the bytes were there.
#pragma once

#include <windows.h>
#include <string>

// Writes every byte of size bytes to the handle, in pieces, checking each write. The system's
// error when a write fails; HRESULT_FROM_WIN32(ERROR_DISK_FULL) when one makes no progress.
HRESULT WriteAll(HANDLE to, const char* bytes, size_t size);

// Writes path anew with exactly bytes: every write checked, the file flushed to disk and its size
// on disk confirmed before S_OK. On any failure the partial file is deleted, so that a cut copy
// is never taken for a whole one (a backup that would put back only part of what it recorded).
HRESULT WriteWholeFile(const std::wstring& path, const std::string& bytes);
