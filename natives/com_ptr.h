// RAII for COM in the natives: an interface pointer released at scope end,
// and memory that COM or the shell allocated with CoTaskMemAlloc.  Every
// return path of a native that uses a COM object releases it this way.
//
//   ComPtr<IShellLinkW> link;
//   if (FAILED(CoCreateInstance(kShellLinkClass, nullptr, CLSCTX_INPROC_SERVER, kShellLinkW,
//                               link.putVoid()))) return JNI_FALSE;
//   ComPtr<IPersistFile> file;
//   if (FAILED(link.queryInterface(kPersistFile, file))) return JNI_FALSE;
#pragma once

#include <objbase.h>

#include "launcher/win_handles.h"

template <typename Interface>
class ComPtr {
public:
    ComPtr() = default;
    // Takes over a reference the caller owns.
    explicit ComPtr(Interface* pointer) : pointer_(pointer) {}
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : pointer_(other.release()) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    Interface* get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    // Hands the reference on without releasing it.
    Interface* release() {
        Interface* pointer = pointer_;
        pointer_ = nullptr;
        return pointer;
    }
    // Releases the reference held and takes `pointer`.
    void reset(Interface* pointer = nullptr) {
        if (pointer_) pointer_->Release();
        pointer_ = pointer;
    }
    // For calls that return a new reference through an out parameter: the
    // one held is released first.
    Interface** put() {
        reset();
        return &pointer_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    // QueryInterface into `other`, which releases what it held; `other` stays
    // empty when the object lacks the interface.
    template <typename Other>
    HRESULT queryInterface(REFIID iid, ComPtr<Other>& other) const {
        if (!pointer_) return E_POINTER;
        return pointer_->QueryInterface(iid, other.putVoid());
    }

private:
    Interface* pointer_ = nullptr;
};

// Memory from CoTaskMemAlloc (a display name, a PIDL), freed with CoTaskMemFree.
template <typename T>
struct CoTaskMemoryTraits {
    using Handle = T*;
    static Handle invalid() { return nullptr; }
    static void close(Handle memory) { CoTaskMemFree(memory); }
};
template <typename T>
using UniqueCoTaskMemory = UniqueResource<CoTaskMemoryTraits<T>>;
