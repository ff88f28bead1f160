// The records the gate and its child exchange over their pipe, and a module that reads through
// another module's reader across their boundary; private to the reader. Each
// record is: a 4-byte magic, its whole length as a 32-bit number, the fields, and a 4-byte end
// marker. A side that reads anything else (a short read, a wrong magic, a length out of range,
// fields that do not fill the record exactly, no end marker) treats the other as broken.
#pragma once

#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

#include "reader/reader.h"

namespace reader {

// Content: the facts, and the library's whole content (reader/content.h) in a content answer.
enum class Request : uint32_t { Nothing = 0, Facts = 1, Registration = 2, Content = 3 };

// The first bytes of every record: magic and whole length.
constexpr uint32_t kRecordHeaderSize = 8;
// Far above any real answer (a name and a documentation string) or request (one path), so that
// a wrong length cannot make the reader allocate without bound.
constexpr uint32_t kMaxRecordSize = 1u << 20;

// The whole length a record header announces, or 0 when the header is not one of kind's
// records (request == true: a request; false: an answer) or the length is out of range.
uint32_t RecordLength(const char* header, bool request);

// Splits bytes, records of one kind one after another, into those records. False when anything
// in bytes is not a whole record of that kind.
bool SplitRecords(const std::string& bytes, bool request, std::vector<std::string>& records);

// limit: the milliseconds the asking side waits for the answer (0: no limit), so that the child
// can end itself when its answer is overdue and its parent, stopped, cannot end it.
// acknowledge: the child sends Acknowledgement() as soon as it has the request, before it does
// the work: asked of a spare, which shows in the same message that it still answers.
std::string EncodeRequest(Request kind, const std::wstring& path, uint32_t limit = 0,
                          bool acknowledge = false);
bool DecodeRequest(const std::string& record, Request& kind, std::wstring& path, uint32_t* limit = nullptr,
                   bool* acknowledge = nullptr);
// The fixed bytes of an acknowledgement.
constexpr uint32_t kAcknowledgementSize = 4;
const char* Acknowledgement();

// With content, a content answer: its own magic, a length of up to kMaxContentSize more, and
// the content's bytes after the facts. Decoding one into a null content is a broken record.
std::string EncodeAnswer(HRESULT result, const LibraryDescription& description,
                         const std::string* content = nullptr);
bool DecodeAnswer(const std::string& record, HRESULT& result, LibraryDescription& description,
                  std::string* content = nullptr);

// The answer to a request that reads nothing: its result and the child's report of its own
// token, for the tests.
std::string EncodeIdleAnswer(HRESULT result, const std::wstring& token);
bool DecodeIdleAnswer(const std::string& record, HRESULT& result, std::wstring& token);

// Has a child of its own answer one request about path, found as ReadLibrary finds it; nothing
// is remembered. content as for DecodeAnswer.
HRESULT AskOneChild(Request kind, const std::wstring& path, LibraryDescription& description,
                    std::string* content);

} // namespace reader
