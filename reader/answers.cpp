// The answers remembered for the run, per file (full path, size, last-write time) and depth, so
// that asking again about an unchanged file starts no child; a registration answer also with the
// key of the content its child walked.
#include "reader/internal.h"

#include <map>

namespace reader {

namespace {

SRWLOCK g_answersLock = SRWLOCK_INIT;

struct Remembered {
    uint64_t size;
    FILETIME written;
    Depth depth;
    std::optional<ContentKey> key; // registration answers read while the file was held
    Answer answer;
};

std::map<std::wstring, Remembered>& Answers() {
    static std::map<std::wstring, Remembered> answers;
    return answers;
}

} // namespace

bool Recall(const Target& target, Depth depth, const ContentKey* key, Answer& answer) {
    SharedLock lock(g_answersLock);
    auto entry = Answers().find(target.file + target.resource);
    if (entry == Answers().end())
        return false;
    const Remembered& remembered = entry->second;
    // A registration read is a facts read and more, so it also answers a facts request.
    bool found = depth == Depth::Registration
                     ? remembered.depth == Depth::Registration && key && remembered.key == *key
                     : remembered.size == FileSize(target) &&
                           CompareFileTime(&remembered.written, &target.data.ftLastWriteTime) == 0;
    if (found)
        answer = remembered.answer;
    return found;
}

void Remember(const Target& target, Depth depth, const ContentKey* key, const Answer& answer) {
    // A time-out may come from a busy moment of the machine, and a missing reader may be put
    // back: neither says anything lasting about the file.
    if (answer.result == kTimedOut || answer.result == kNoReader)
        return;
    ExclusiveLock lock(g_answersLock);
    Answers()[target.file + target.resource] =
        Remembered{FileSize(target), target.data.ftLastWriteTime, depth,
                   key ? std::optional<ContentKey>(*key) : std::nullopt, answer};
}

void ForgetAnswersHere() {
    ExclusiveLock lock(g_answersLock);
    Answers().clear();
}

} // namespace reader
