// One reader per process (reader::ShareReaderOf): the interfaces through which a module hands its
// reads to our component's reader, and the component's side of them. Private to the reader and
// our component.
#pragma once

#include <windows.h>
#include <oleauto.h>

// Our server's application object also answers QueryInterface for this interface, which no
// other server has and for which no proxy exists, so only our server loaded in-process hands it
// out. Through it the program and the server read every file through one reader: one set of
// remembered answers and one count of children for the process. What crosses the module
// boundary is the reader's own records, the requests and answers its child reads and writes on
// its pipe, one after another in a BSTR used as a byte string: never C++ objects, so that the
// two modules share no heap, no C++ runtime and no class layout. Callers may use it from any
// thread: the reader behind it is thread-safe. A changed interface gets a new id, so that a
// program never calls a slot that an older server's table lacks.
// {3B6D8EAA-9BA9-4B52-B11C-A83BC9BDFA87}
constexpr IID IID_ICorvaneReader = {
    0x3B6D8EAA, 0x9BA9, 0x4B52, {0xB1, 0x1C, 0xA8, 0x3B, 0xC9, 0xBD, 0xFA, 0x87}};

struct ICorvaneReader : public IUnknown {
    // Reads the files the request records name, all of one depth, in order, and gives back one
    // answer record for each in the same order.
    virtual HRESULT STDMETHODCALLTYPE ReadLibraries(BSTR requests, BSTR* answers) = 0;
    // reader::KeepSpare for the reader behind it.
    virtual HRESULT STDMETHODCALLTYPE KeepSpare(BOOL keep) = 0;
};

// For tests and the benchmark, answered by the same object: the reader's count of children,
// forgetting its remembered answers, and its time limit for tests (0 restores the program's).
// An interface of its own, so that the program's interface holds only what the program calls.
// {597E69EE-B406-4E69-813B-67F3A21C09A0}
constexpr IID IID_ICorvaneReaderTesting = {
    0x597E69EE, 0xB406, 0x4E69, {0x81, 0x3B, 0x67, 0xF3, 0xA2, 0x1C, 0x09, 0xA0}};

struct ICorvaneReaderTesting : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE ChildrenStarted(ULONG* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE ForgetAnswers() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetTimeLimitForTests(ULONG milliseconds) = 0;
};

namespace reader {

// The component's side: each interface answered from this module's own state, never from a
// reader it shares. Our server's application object derives from both and adds IUnknown.
class OwnReader : public ICorvaneReader {
  public:
    HRESULT STDMETHODCALLTYPE ReadLibraries(BSTR requests, BSTR* answers) override;
    HRESULT STDMETHODCALLTYPE KeepSpare(BOOL keep) override;
};

class OwnReaderTesting : public ICorvaneReaderTesting {
  public:
    HRESULT STDMETHODCALLTYPE ChildrenStarted(ULONG* count) override;
    HRESULT STDMETHODCALLTYPE ForgetAnswers() override;
    HRESULT STDMETHODCALLTYPE SetTimeLimitForTests(ULONG milliseconds) override;
};

} // namespace reader
