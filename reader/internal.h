// What the files of the gate share, private to the reader: the file a read is about, the
// remembered answers, the wait, the child, the spare and this module's own reads. Each file of
// the gate holds one of these ideas; reader.h remains the one public surface.
#pragma once

#include <windows.h>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/owners.h"
#include "reader/protocol.h"
#include "reader/reader.h"

namespace reader {

// ---- locate.cpp -------------------------------------------------------------------------------

// The file the loader will read, found as the loader finds it (SearchPath, so a bare name is
// looked for where the caller's process would look), with the "\<number>" that names a TYPELIB
// resource of a DLL when the path has one, and its size and last-write time.
struct Target {
    std::wstring file;
    std::wstring resource; // "" or "\<number>"
    WIN32_FILE_ATTRIBUTE_DATA data{};
};

bool Locate(const std::wstring& path, Target& target);
uint64_t FileSize(const Target& target);

// ---- held.cpp: a file held and told apart by its content --------------------------------------

// The file on its volume and a digest of all its bytes: what a child walked at registration
// depth, for which the answer is remembered.
struct ContentKey {
    DWORD volume = 0;
    uint64_t index = 0;
    uint64_t size = 0;
    uint64_t digest = 0;
};
inline bool operator==(const ContentKey& a, const ContentKey& b) {
    return a.volume == b.volume && a.index == b.index && a.size == b.size && a.digest == b.digest;
}

// Opens file for reading, sharing read access only: while held is open nobody can write,
// replace or delete it. The system's error when it cannot be opened so: ERROR_SHARING_VIOLATION
// when another process has it open for writing.
HRESULT Hold(const std::wstring& file, FileHandle& held);
// Holds the target's file and reads the key of its content through that handle. False when the
// file cannot be held or read whole (held may then still be open).
bool HoldContent(const Target& target, FileHandle& held, ContentKey& key);

// ---- answers.cpp: answers remembered for the run --------------------------------------------

// A facts request is answered by any remembered answer for the unchanged file (the same full
// path, size and last-write time: facts are only shown, never loaded in this process). A
// registration request only by a registration answer for the same content (key, which null
// never matches): that answer may let the file be loaded here.
bool Recall(const Target& target, Depth depth, const ContentKey* key, Answer& answer);
void Remember(const Target& target, Depth depth, const ContentKey* key, const Answer& answer);
void ForgetAnswersHere();

// ---- wait.cpp: waiting on a window's thread -------------------------------------------------

// Waits until one of the two handles is signalled or the deadline passes, as
// WaitForMultipleObjects does; on a thread with windows it lets them repaint meanwhile.
DWORD WaitFor(HANDLE (&handles)[2], ULONGLONG deadline);

// ---- child.cpp: the child -------------------------------------------------------------------

// The time limit for one answer about a file of fileSize bytes, or the tests' own limit.
DWORD TimeLimit(uint64_t fileSize);
// 0 restores the program's limit.
void SetTimeLimitHere(DWORD milliseconds);
unsigned ChildrenStartedHere();
// What the most recent child this module started got; none before the first.
std::optional<Confinement> LastConfinementHere();

class Child {
  public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    // Only into a child that is not running: a spare taken over by a read.
    Child(Child&&) = default;
    Child& operator=(Child&&) = default;
    ~Child() { End(false); }

    bool Running() const { return static_cast<bool>(process_); }

    // kNoReader when the program is missing or cannot be started.
    HRESULT Start();

    // Sends one request and waits at most limit milliseconds for its answer. Gives the answer's
    // result, or kDamaged (the child died or answered something incomplete) or kTimedOut; in
    // those two cases the child has been ended. A spare's first request asks the child to
    // acknowledge it at once: one that does not within kSpareCheck gives kSpareLost, ended.
    // With content, a content request's: the content's bytes, not yet decoded.
    HRESULT Ask(Request kind, const std::wstring& path, DWORD limit, LibraryDescription& description,
                std::string* content = nullptr);
    // The same for a request that reads nothing; its answer is the child's report of its token
    // ("" when the child failed).
    HRESULT AskIdle(DWORD limit, std::wstring& token);

    // Closes the pipe, which tells a waiting child that the batch is over, and makes sure the
    // child is gone: at once when force is set (it is hung or broken), else after a grace time.
    void End(bool force);

    const Confinement& Confined() const { return confinement_; }

    // The next request asks for an acknowledgement within milliseconds: this child is a spare
    // that waited, and may have died or stalled meanwhile.
    void AcknowledgeNext(DWORD milliseconds) { acknowledgeWithin_ = milliseconds; }

  private:
    enum class Io { Done, Died, TimedOut, NotTaken };

    // Sends the request and receives one whole answer record.
    Io Exchange(Request kind, const std::wstring& path, DWORD limit, std::string& answer);
    // Ends the child after an exchange that gave no usable answer, and says why.
    HRESULT Failed(Io io);
    // Moves count bytes through the pipe, waiting for the child no later than deadline.
    Io Transfer(bool write, char* buffer, DWORD count, ULONGLONG deadline);
    Io Await(OVERLAPPED& overlapped, ULONGLONG deadline);

    FileHandle pipe_;
    KernelHandle process_;
    KernelHandle job_;
    Confinement confinement_;
    KernelHandle event_;
    DWORD acknowledgeWithin_ = 0;
};

// What Ask and AskIdle give when a spare did not take the request; never leaves the reader.
constexpr HRESULT kSpareLost = HRESULT_FROM_WIN32(ERROR_PIPE_NOT_CONNECTED);

// ---- spare.cpp: the spare child -------------------------------------------------------------

// Has the keeper start a spare, when one is wanted and none is there.
void ReplenishSpare();
// Hands the spare to child (which is not running) when there is one, its next request asking
// for an acknowledgement.
bool TakeSpare(Child& child);
// Runs ask (one request to child): on child when it runs, else on the spare, else on a new
// child; a spare that does not take the request is ended and a new child asked instead.
template <typename Ask> HRESULT WithChild(Child& child, Ask ask) {
    HRESULT hr = child.Running() || TakeSpare(child) ? S_OK : child.Start();
    if (SUCCEEDED(hr))
        hr = ask();
    if (hr == kSpareLost && SUCCEEDED(hr = child.Start()))
        hr = ask();
    return hr;
}
// Called from one thread at a time (the window's, or a test's).
void KeepSpareHere(bool keep);

// ---- read.cpp: this module's own reads ------------------------------------------------------

inline Request RequestOf(Depth depth) {
    return depth == Depth::Registration ? Request::Registration : Request::Facts;
}

std::vector<Answer> ReadHere(const std::vector<std::wstring>& paths, Depth depth);

} // namespace reader
