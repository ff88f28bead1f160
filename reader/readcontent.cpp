// ReadContent: kept apart from the rest of the gate, so that a program that never reads a
// library's content (the window) links none of its decoding.
#include "reader/content.h"
#include "reader/protocol.h"

namespace reader {

HRESULT ReadContent(const std::wstring& path, LibraryDescription& description, LibraryContent& content) {
    std::string bytes;
    LibraryDescription read;
    HRESULT hr = AskOneChild(Request::Content, path, read, &bytes);
    if (SUCCEEDED(hr) && !DecodeContent(bytes.data(), bytes.size(), content))
        hr = kDamaged;
    if (SUCCEEDED(hr))
        description = std::move(read);
    return hr;
}

} // namespace reader
