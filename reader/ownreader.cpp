// The component's side of one reader per process: ICorvaneReader and ICorvaneReaderTesting
// answered from this module's own state, never from a reader it shares.
#include "reader/internal.h"
#include "reader/sandbox.h"
#include "reader/sharedreader.h"

#include <iterator>
#include <new>

namespace reader {

namespace {

// Bit i of a confinement's bits is its i-th limit here.
constexpr bool Confinement::*kLimits[] = {
    &Confinement::job,         &Confinement::killOnClose,     &Confinement::oneProcess,
    &Confinement::uiLimits,    &Confinement::restrictedToken, &Confinement::lowIntegrity,
    &Confinement::inParentsJob};

} // namespace

ULONG ConfinementBits(const Confinement& confinement) {
    ULONG bits = 0;
    for (size_t i = 0; i < std::size(kLimits); ++i)
        bits |= confinement.*kLimits[i] ? 1ul << i : 0ul;
    return bits;
}

Confinement ConfinementOfBits(ULONG bits, ULONG jobError) {
    Confinement confinement;
    for (size_t i = 0; i < std::size(kLimits); ++i)
        confinement.*kLimits[i] = (bits >> i & 1) != 0;
    confinement.jobError = jobError;
    return confinement;
}

HRESULT STDMETHODCALLTYPE OwnReader::ReadLibraries(BSTR requests, BSTR* answers) {
    if (!answers)
        return E_POINTER;
    *answers = nullptr;
    try {
        std::vector<std::string> records;
        if (!SplitRecords(std::string(reinterpret_cast<const char*>(requests), SysStringByteLen(requests)),
                          true, records))
            return E_INVALIDARG;
        std::vector<std::wstring> paths(records.size());
        Request kind = Request::Nothing;
        for (size_t i = 0; i < records.size(); ++i) {
            Request each;
            if (!DecodeRequest(records[i], each, paths[i]) || each == Request::Nothing ||
                each == Request::Content || (i > 0 && each != kind))
                return E_INVALIDARG;
            kind = each;
        }
        std::string bytes;
        for (const Answer& answer :
             ReadHere(paths, kind == Request::Registration ? Depth::Registration : Depth::Facts))
            bytes += EncodeAnswer(answer.result, answer.description);
        *answers = SysAllocStringByteLen(bytes.data(), static_cast<UINT>(bytes.size()));
        return *answers ? S_OK : E_OUTOFMEMORY;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED; // nothing may be thrown across the interface
    }
}

HRESULT STDMETHODCALLTYPE OwnReaderTesting::ChildrenStarted(ULONG* count) {
    if (!count)
        return E_POINTER;
    *count = ChildrenStartedHere();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OwnReaderTesting::ForgetAnswers() {
    ForgetAnswersHere();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OwnReaderTesting::SetTimeLimitForTests(ULONG milliseconds) {
    SetTimeLimitHere(milliseconds);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OwnReaderTesting::RefuseJobsForTests(BOOL refuse) {
    RefuseJobsHere(refuse != FALSE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OwnReader::KeepSpare(BOOL keep) {
    KeepSpareHere(keep != FALSE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OwnReader::LastConfinement(ULONG* bits, ULONG* jobError) {
    if (!bits || !jobError)
        return E_POINTER;
    std::optional<Confinement> last = LastConfinementHere();
    *bits = last ? ConfinementBits(*last) : 0;
    *jobError = last ? last->jobError : 0;
    return last ? S_OK : S_FALSE;
}

} // namespace reader
