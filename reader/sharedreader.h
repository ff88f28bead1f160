// One reader per process (reader::ShareReaderOf): the interfaces through which a module hands its
// reads to our component's reader, and the component's side of them. Private to the reader and
// our component.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "reader/reader.h"

// Our server's application object also answers QueryInterface for this interface, which no
// other server has and for which no proxy exists, so only our server loaded in-process hands it
// out. Through it the program and the server read every file through one reader: one set of
// remembered answers and one count of children for the process. What crosses the module
// boundary is the reader's own records, the requests and answers its child reads and writes on
// its pipe, one after another in a BSTR used as a byte string: never C++ objects, so that the
// two modules share no heap, no C++ runtime and no class layout. Callers may use it from any
// thread: the reader behind it is thread-safe. A changed interface gets a new id, so that a
// program never calls a slot that an older server's table lacks.
// {9896B7D2-814F-43C6-8F5A-861B6289C734}
constexpr IID IID_ICorvaneReader = {
    0x9896B7D2, 0x814F, 0x43C6, {0x8F, 0x5A, 0x86, 0x1B, 0x62, 0x89, 0xC7, 0x34}};

struct ICorvaneReader : public IUnknown {
    // Reads the files the request records name, all of one depth, in order, and gives back one
    // answer record for each in the same order.
    virtual HRESULT STDMETHODCALLTYPE ReadLibraries(BSTR requests, BSTR* answers) = 0;
    // reader::KeepSpare for the reader behind it.
    virtual HRESULT STDMETHODCALLTYPE KeepSpare(BOOL keep) = 0;
    // reader::LastConfinement for the reader behind it, as ConfinementBits gives it; S_FALSE
    // before its first child.
    virtual HRESULT STDMETHODCALLTYPE LastConfinement(ULONG* bits, ULONG* jobError) = 0;
};

// For tests and the benchmark, answered by the same object: the reader's count of children,
// forgetting its remembered answers, its time limit for tests (0 restores the program's), and
// its children kept out of their jobs (reader/testing.h).
// An interface of its own, so that the program's interface holds only what the program calls.
// {42D25F8B-313D-4CCF-8C64-65977EDD4183}
constexpr IID IID_ICorvaneReaderTesting = {
    0x42D25F8B, 0x313D, 0x4CCF, {0x8C, 0x64, 0x65, 0x97, 0x7E, 0xDD, 0x41, 0x83}};

struct ICorvaneReaderTesting : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE ChildrenStarted(ULONG* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE ForgetAnswers() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetTimeLimitForTests(ULONG milliseconds) = 0;
    virtual HRESULT STDMETHODCALLTYPE RefuseJobsForTests(BOOL refuse) = 0;
};

namespace reader {

// A confinement across the boundary: one bit per limit, the job's error apart.
ULONG ConfinementBits(const Confinement& confinement);
Confinement ConfinementOfBits(ULONG bits, ULONG jobError);

// The component's side: each interface answered from this module's own state, never from a
// reader it shares. Our server's application object derives from both and adds IUnknown.
class OwnReader : public ICorvaneReader {
  public:
    HRESULT STDMETHODCALLTYPE ReadLibraries(BSTR requests, BSTR* answers) override;
    HRESULT STDMETHODCALLTYPE KeepSpare(BOOL keep) override;
    HRESULT STDMETHODCALLTYPE LastConfinement(ULONG* bits, ULONG* jobError) override;
};

class OwnReaderTesting : public ICorvaneReaderTesting {
  public:
    HRESULT STDMETHODCALLTYPE ChildrenStarted(ULONG* count) override;
    HRESULT STDMETHODCALLTYPE ForgetAnswers() override;
    HRESULT STDMETHODCALLTYPE SetTimeLimitForTests(ULONG milliseconds) override;
    HRESULT STDMETHODCALLTYPE RefuseJobsForTests(BOOL refuse) override;
};

} // namespace reader
