// The file a registration read is about, held and told apart by its content: the identity of the
// file on its volume and a digest of every byte of it, read through the handle that holds it.
#include "reader/internal.h"

#include <cstring>

namespace reader {

namespace {

// FNV-1a over 8-byte words (the tail byte by byte), the size mixed in last. Not a cryptographic
// hash: it tells apart contents that differ by accident or by a rewrite in place, which is what
// a remembered answer must not outlive. Size and last-write time cannot: a file rewritten with
// the same size keeps it, and one SetFileTime call puts its time back.
constexpr uint64_t kOffsetBasis = 0xCBF29CE484222325ull;
constexpr uint64_t kPrime = 0x100000001B3ull;
// Whole words, so that the words fall where they would in one pass over the file.
constexpr DWORD kReadBuffer = 256 * 1024;

uint64_t Mix(uint64_t hash, const unsigned char* bytes, size_t count) {
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        hash = (hash ^ word) * kPrime;
    }
    for (; i < count; ++i)
        hash = (hash ^ bytes[i]) * kPrime;
    return hash;
}

} // namespace

HRESULT Hold(const std::wstring& file, FileHandle& held) {
    held.Reset(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    return held ? S_OK : HRESULT_FROM_WIN32(GetLastError());
}

bool HoldContent(const Target& target, FileHandle& held, ContentKey& key) {
    BY_HANDLE_FILE_INFORMATION information;
    if (FAILED(Hold(target.file, held)) || !GetFileInformationByHandle(held.Get(), &information))
        return false;
    key.volume = information.dwVolumeSerialNumber;
    key.index = static_cast<uint64_t>(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
    key.size = static_cast<uint64_t>(information.nFileSizeHigh) << 32 | information.nFileSizeLow;
    std::vector<unsigned char> buffer(kReadBuffer);
    uint64_t hash = kOffsetBasis, total = 0;
    DWORD got = 0;
    do {
        if (!ReadFile(held.Get(), buffer.data(), kReadBuffer, &got, nullptr))
            return false;
        hash = Mix(hash, buffer.data(), got);
        total += got;
    } while (got == kReadBuffer);
    if (total != key.size)
        return false;
    key.digest = (hash ^ total) * kPrime;
    return true;
}

} // namespace reader
