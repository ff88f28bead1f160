// This module's own reads: a batch through the remembered answers, the spare and one child; one
// child of its own for a single request; and the idle round trip.
#include "reader/internal.h"

namespace reader {

std::vector<Answer> ReadHere(const std::vector<std::wstring>& paths, Depth depth) {
    std::vector<Answer> answers;
    answers.reserve(paths.size());
    Child child;
    for (const std::wstring& path : paths) {
        Answer answer{RefusePath(path), LibraryDescription()};
        Target target;
        bool located = SUCCEEDED(answer.result) && Locate(path, target);
        // A registration read holds the file from its digest until the child has answered, so
        // that the answer is remembered for the very bytes the child walked.
        FileHandle held;
        ContentKey key;
        bool keyed = located && depth == Depth::Registration && HoldContent(target, held, key);
        bool recalled =
            SUCCEEDED(answer.result) && located && Recall(target, depth, keyed ? &key : nullptr, answer);
        // An answer recalled by the content's key is remembered again under the file's size and
        // time now, so that a facts read of the unchanged file finds it too (one whose time was
        // moved since, a copy or a touch, would otherwise need a child).
        if (recalled && keyed)
            Remember(target, depth, &key, answer);
        if (FAILED(answer.result) || recalled) {
            answers.push_back(std::move(answer));
            continue;
        }
        // The child is handed the file found here, so that it reads the very file this process
        // would; a path not found goes as given, for the loader's own error.
        std::wstring given = located ? target.file + target.resource : path;
        answer.result = WithChild(child, [&] {
            return child.Ask(RequestOf(depth), given, TimeLimit(located ? FileSize(target) : 0),
                             answer.description);
        });
        if (located)
            Remember(target, depth, keyed ? &key : nullptr, answer);
        answers.push_back(std::move(answer));
    }
    ReplenishSpare();
    return answers;
}

HRESULT ReadLibrary(const std::wstring& path, Depth depth, LibraryDescription& description) {
    Answer answer = std::move(ReadLibraries({path}, depth).front());
    if (SUCCEEDED(answer.result))
        description = std::move(answer.description);
    return answer.result;
}

HRESULT AskOneChild(Request kind, const std::wstring& path, LibraryDescription& description,
                    std::string* content) {
    HRESULT hr = RefusePath(path);
    Target target;
    bool located = SUCCEEDED(hr) && Locate(path, target);
    Child child;
    if (SUCCEEDED(hr))
        hr = child.Start();
    if (FAILED(hr))
        return hr;
    return child.Ask(kind, located ? target.file + target.resource : path,
                     TimeLimit(located ? FileSize(target) : 0), description, content);
}

HRESULT AskIdleChild(Confinement* confinement, std::wstring* token) {
    Child child;
    std::wstring report;
    HRESULT hr = WithChild(child, [&] { return child.AskIdle(TimeLimit(0), report); });
    if (SUCCEEDED(hr) && confinement)
        *confinement = child.Confined();
    if (token)
        *token = report;
    ReplenishSpare();
    return hr;
}

} // namespace reader
