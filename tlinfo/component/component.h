// The parts of our TypeLib Information server that the files of the server share: the
// module's object and lock counts, the objects' creation functions, the class factory and
// the server's own registration.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <new>

#include "tlinfo/tlinfo.h"

namespace tlinfo {

// The module stays loaded while an object lives or a client holds a lock on a class factory.
void ObjectCreated();
void ObjectDestroyed();
void LockModule(bool lock);
bool ModuleInUse();

// Creates one object of a class and asks it for riid. Shaped like
// IClassFactory::CreateInstance without the factory, so one factory serves every class.
using CreateFunction = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);

HRESULT CreateApplication(IUnknown* outer, REFIID riid, void** ppv);

// Has the library in the file at path read through the reader's child, without registering
// anything, and hands back an information object holding what the child read.
HRESULT OpenLibrary(BSTR path, ITlInfoLibrary** library);

// A class factory that makes its objects with create.
HRESULT CreateClassFactory(CreateFunction create, REFIID riid, void** ppv);

// Writes or removes HKCR\CLSID\{application class} for the module at modulePath, leaving
// alone a registration that names another server.
HRESULT RegisterServer(const wchar_t* modulePath);
HRESULT UnregisterServer(const wchar_t* modulePath);

// The IUnknown part that every object of the server shares: IUnknown and one interface, an
// interlocked reference count acted on by the value the decrement returns, and the module's
// object count. Derived names the interface it answers with a static InterfaceId().
template <class Derived, class Interface> class ComObject : public Interface {
  public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, Derived::InterfaceId()))
            return E_NOINTERFACE;
        *ppv = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete static_cast<Derived*>(this);
        return left;
    }

  protected:
    ComObject() { ObjectCreated(); }
    ~ComObject() { ObjectDestroyed(); }

  private:
    LONG references_ = 1;
};

// A slot the program never calls; it exists to keep the following operations at their positions.
#define TLINFO_NOT_IMPLEMENTED(n)                                                                            \
    HRESULT STDMETHODCALLTYPE UnusedSlot##n() override {                                                     \
        return E_NOTIMPL;                                                                                    \
    }

// Runs the body of a COM method: nothing may be thrown across the interface, so anything
// thrown below becomes a failure code.
template <class Body> HRESULT Guarded(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

} // namespace tlinfo
