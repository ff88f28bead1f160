// One reader per process: a module that loaded our component in-process hands its reads, and
// the tests' hooks, to the component's reader; without one, it reads with its own state.
#include "reader/internal.h"
#include "reader/sandbox.h"
#include "reader/sharedreader.h"
#include "reader/testing.h"

namespace reader {

namespace {

// The component's reader that this module's reads go to, holding one reference; null while this
// module reads with its own state. A plain pointer, so that no destructor releases it after COM
// is gone at the end of the process.
SRWLOCK g_sharedLock = SRWLOCK_INIT;
ICorvaneReader* g_shared = nullptr;

ComPtr<ICorvaneReader> Shared() {
    SharedLock lock(g_sharedLock);
    if (g_shared)
        g_shared->AddRef();
    return ComPtr<ICorvaneReader>::Attach(g_shared);
}

// The shared reader's hooks for the tests, asked for only when a test calls one.
ComPtr<ICorvaneReaderTesting> SharedTesting() {
    ComPtr<ICorvaneReaderTesting> testing;
    ComPtr<ICorvaneReader> shared = Shared();
    if (shared && FAILED(shared->QueryInterface(IID_ICorvaneReaderTesting, testing.PutVoid())))
        testing.Reset();
    return testing;
}

// Has the shared reader read the files; false when it could not answer for every one of them.
bool ReadThere(ICorvaneReader* shared, const std::vector<std::wstring>& paths, Depth depth,
               std::vector<Answer>& answers) {
    std::string requests;
    for (const std::wstring& path : paths)
        requests += EncodeRequest(RequestOf(depth), path);
    Bstr sent(SysAllocStringByteLen(requests.data(), static_cast<UINT>(requests.size())));
    Bstr received;
    std::vector<std::string> records;
    if (!sent.Get() || FAILED(shared->ReadLibraries(sent.Get(), received.Put())) || !received.Get() ||
        !SplitRecords(
            std::string(reinterpret_cast<const char*>(received.Get()), SysStringByteLen(received.Get())),
            false, records) ||
        records.size() != paths.size())
        return false;
    answers.assign(records.size(), Answer{E_UNEXPECTED, LibraryDescription()});
    for (size_t i = 0; i < records.size(); ++i)
        if (!DecodeAnswer(records[i], answers[i].result, answers[i].description))
            return false;
    return true;
}

} // namespace

std::vector<Answer> ReadLibraries(const std::vector<std::wstring>& paths, Depth depth) {
    std::vector<Answer> answers;
    ComPtr<ICorvaneReader> shared = Shared();
    if (shared && ReadThere(shared.Get(), paths, depth, answers))
        return answers;
    return ReadHere(paths, depth);
}

unsigned ChildrenStarted() {
    ULONG there = 0;
    if (ComPtr<ICorvaneReaderTesting> testing = SharedTesting())
        testing->ChildrenStarted(&there);
    return ChildrenStartedHere() + there;
}

void ForgetAnswers() {
    ForgetAnswersHere();
    if (ComPtr<ICorvaneReaderTesting> testing = SharedTesting())
        testing->ForgetAnswers();
}

void KeepSpare(bool keep) {
    if (ComPtr<ICorvaneReader> shared = Shared())
        shared->KeepSpare(keep);
    else
        KeepSpareHere(keep);
}

void SetTimeLimitForTests(DWORD milliseconds) {
    SetTimeLimitHere(milliseconds);
    if (ComPtr<ICorvaneReaderTesting> testing = SharedTesting())
        testing->SetTimeLimitForTests(milliseconds);
}

void RefuseJobsForTests(bool refuse) {
    RefuseJobsHere(refuse);
    if (ComPtr<ICorvaneReaderTesting> testing = SharedTesting())
        testing->RefuseJobsForTests(refuse);
}

std::optional<Confinement> LastConfinement() {
    ULONG bits = 0, jobError = 0;
    if (ComPtr<ICorvaneReader> shared = Shared())
        if (shared->LastConfinement(&bits, &jobError) == S_OK)
            return ConfinementOfBits(bits, jobError);
    return LastConfinementHere();
}

bool ShareReaderOf(IUnknown* application) {
    ComPtr<ICorvaneReader> shared;
    if (application && FAILED(application->QueryInterface(IID_ICorvaneReader, shared.PutVoid())))
        shared.Reset();
    bool sharing = static_cast<bool>(shared);
    ComPtr<ICorvaneReader> previous;
    {
        ExclusiveLock lock(g_sharedLock);
        *previous.Put() = std::exchange(g_shared, shared.Detach());
    }
    return sharing;
}

} // namespace reader
