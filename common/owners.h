// Small move-only owners for Windows handles, registry keys, COM pointers, BSTRs, the
// descriptions type libraries hand out, and SRW locks, so that every way out of a function gives
// back what it acquired. Copying is deleted: two owners of one handle would close it twice.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <utility>
#include <vector>

// Owns a handle of one kind; Traits names the empty value and the function that closes it.
template <class Traits> class UniqueHandle {
  public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Detach()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other)
            Reset(other.Detach());
        return *this;
    }
    ~UniqueHandle() { Reset(); }

    Handle Get() const { return handle_; }
    explicit operator bool() const { return handle_ != Traits::Empty(); }
    Handle Detach() { return std::exchange(handle_, Traits::Empty()); }
    void Reset(Handle handle = Traits::Empty()) {
        Handle old = std::exchange(handle_, handle);
        if (old != Traits::Empty())
            Traits::Close(old);
    }
    // For out-parameters: closes what is held and lets the callee write a new handle.
    Handle* Put() {
        Reset();
        return &handle_;
    }

  private:
    Handle handle_ = Traits::Empty();
};

struct RegKeyTraits {
    using Handle = HKEY;
    static constexpr Handle Empty() { return nullptr; }
    static void Close(Handle h) { RegCloseKey(h); }
};
struct KernelHandleTraits {
    using Handle = HANDLE;
    static constexpr Handle Empty() { return nullptr; }
    static void Close(Handle h) { CloseHandle(h); }
};
// Files and pipe ends: their failure value is INVALID_HANDLE_VALUE, not null.
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { CloseHandle(h); }
};
struct ModuleTraits {
    using Handle = HMODULE;
    static constexpr Handle Empty() { return nullptr; }
    static void Close(Handle h) { FreeLibrary(h); }
};
struct WindowTraits {
    using Handle = HWND;
    static constexpr Handle Empty() { return nullptr; }
    static void Close(Handle h) {
        if (IsWindow(h))
            DestroyWindow(h);
    }
};
template <class T> struct GdiObjectTraits {
    using Handle = T;
    static constexpr Handle Empty() { return nullptr; }
    static void Close(Handle h) { DeleteObject(h); }
};

using RegKey = UniqueHandle<RegKeyTraits>;
using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using Module = UniqueHandle<ModuleTraits>;
using OwnedWindow = UniqueHandle<WindowTraits>;
using Font = UniqueHandle<GdiObjectTraits<HFONT>>;

// Owns one reference to a COM object.
template <class T> class ComPtr {
  public:
    ComPtr() = default;
    // Takes over a reference the caller already holds.
    static ComPtr Attach(T* p) {
        ComPtr result;
        result.p_ = p;
        return result;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p_(other.Detach()) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            p_ = other.Detach();
        }
        return *this;
    }
    ~ComPtr() { Reset(); }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T* Detach() { return std::exchange(p_, nullptr); }
    void Reset() {
        if (T* old = std::exchange(p_, nullptr))
            old->Release();
    }
    // For out-parameters of COM calls.
    T** Put() {
        Reset();
        return &p_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

  private:
    T* p_ = nullptr;
};

// Owns a BSTR.
class Bstr {
  public:
    Bstr() = default;
    explicit Bstr(BSTR s) : s_(s) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& other) noexcept : s_(std::exchange(other.s_, nullptr)) {}
    Bstr& operator=(Bstr&& other) noexcept {
        if (this != &other) {
            SysFreeString(s_);
            s_ = std::exchange(other.s_, nullptr);
        }
        return *this;
    }
    ~Bstr() { SysFreeString(s_); }

    BSTR Get() const { return s_; }
    UINT Length() const { return SysStringLen(s_); }
    BSTR* Put() {
        SysFreeString(s_);
        s_ = nullptr;
        return &s_;
    }

  private:
    BSTR s_ = nullptr;
};

// Owns the BSTRs a call writes into an array (ITypeInfo::GetNames): every element is freed when
// the scope ends, however many the call filled.
class BstrArray {
  public:
    explicit BstrArray(size_t size) : names_(size, nullptr) {}
    BstrArray(const BstrArray&) = delete;
    BstrArray& operator=(const BstrArray&) = delete;
    ~BstrArray() {
        for (BSTR name : names_)
            SysFreeString(name);
    }

    BSTR* Data() { return names_.data(); }
    UINT Size() const { return static_cast<UINT>(names_.size()); }

  private:
    std::vector<BSTR> names_;
};

// Owns a description that a type library or type info hands out (TLIBATTR, TYPEATTR, FUNCDESC,
// VARDESC) and gives it back to its source with Release, that source's own release method.
template <class Source, class Description, void (STDMETHODCALLTYPE Source::*Release)(Description*)>
class SourcedDescription {
  public:
    explicit SourcedDescription(Source* source) : source_(source) {}
    SourcedDescription(const SourcedDescription&) = delete;
    SourcedDescription& operator=(const SourcedDescription&) = delete;
    ~SourcedDescription() { Reset(); }

    const Description* Get() const { return description_; }
    const Description* operator->() const { return description_; }
    explicit operator bool() const { return description_ != nullptr; }
    void Reset() {
        if (Description* old = std::exchange(description_, nullptr))
            (source_->*Release)(old);
    }
    // For the source's out-parameter: gives back what is held first.
    Description** Put() {
        Reset();
        return &description_;
    }

  private:
    Source* source_;
    Description* description_ = nullptr;
};

using LibraryAttributes = SourcedDescription<ITypeLib, TLIBATTR, &ITypeLib::ReleaseTLibAttr>;
using TypeAttributes = SourcedDescription<ITypeInfo, TYPEATTR, &ITypeInfo::ReleaseTypeAttr>;
using FunctionDescription = SourcedDescription<ITypeInfo, FUNCDESC, &ITypeInfo::ReleaseFuncDesc>;
using VariableDescription = SourcedDescription<ITypeInfo, VARDESC, &ITypeInfo::ReleaseVarDesc>;

// Holds an SRW lock for the life of the scope: exclusively, or shared with other readers.
enum class LockMode { Exclusive, Shared };
template <LockMode Mode> class SrwLockGuard {
  public:
    explicit SrwLockGuard(SRWLOCK& lock) : lock_(lock) {
        if (Mode == LockMode::Exclusive)
            AcquireSRWLockExclusive(&lock_);
        else
            AcquireSRWLockShared(&lock_);
    }
    SrwLockGuard(const SrwLockGuard&) = delete;
    SrwLockGuard& operator=(const SrwLockGuard&) = delete;
    ~SrwLockGuard() {
        if (Mode == LockMode::Exclusive)
            ReleaseSRWLockExclusive(&lock_);
        else
            ReleaseSRWLockShared(&lock_);
    }

  private:
    SRWLOCK& lock_;
};
using ExclusiveLock = SrwLockGuard<LockMode::Exclusive>;
using SharedLock = SrwLockGuard<LockMode::Shared>;

// Enters a single-threaded COM apartment for the life of the scope.
class ComApartment {
  public:
    ComApartment() : result_(CoInitialize(nullptr)) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    HRESULT Result() const { return result_; }

  private:
    HRESULT result_;
};
