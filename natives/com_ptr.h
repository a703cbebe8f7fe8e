// RAII for COM: an interface pointer that is released when its owner goes out
// of scope, memory the callee allocated with CoTaskMemAlloc, and the COM
// initialisation of a thread.  Every COM object a native creates or receives
// is held by one of these, so it is released on every path.
//
//   ComPtr<IFileDialog> dialog;
//   if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, dialog.putVoid()))) return nullptr;
//   ComPtr<IFileDialogCustomize> customize;
//   if (SUCCEEDED(dialog.queryInterface(iid_customize, customize))) ...
#pragma once

#include <objbase.h>

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    // Takes over a reference the caller owns (no AddRef).
    explicit ComPtr(T* pointer) : pointer_(pointer) {}
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : pointer_(other.detach()) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            pointer_ = other.detach();
        }
        return *this;
    }

    T* get() const { return pointer_; }
    T* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

    // Releases what is held and hands out the slot for a call that returns a
    // new reference through an out parameter.
    T** put() {
        reset();
        return &pointer_;
    }
    // The same slot typed for CoCreateInstance and QueryInterface.
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    // Gives up ownership without releasing.
    T* detach() {
        T* pointer = pointer_;
        pointer_ = nullptr;
        return pointer;
    }
    void reset() {
        if (pointer_) pointer_->Release();
        pointer_ = nullptr;
    }

    // QueryInterface into `out` (which is emptied first).
    template <typename U>
    HRESULT queryInterface(REFIID iid, ComPtr<U>& out) const {
        if (!pointer_) {
            out.reset();
            return E_POINTER;
        }
        return pointer_->QueryInterface(iid, out.putVoid());
    }

private:
    T* pointer_ = nullptr;
};

// A string or buffer the callee allocated with CoTaskMemAlloc (for example
// IShellItem::GetDisplayName), freed with CoTaskMemFree.
template <typename T>
class CoTaskMemPtr {
public:
    CoTaskMemPtr() = default;
    ~CoTaskMemPtr() { CoTaskMemFree(pointer_); }
    CoTaskMemPtr(const CoTaskMemPtr&) = delete;
    CoTaskMemPtr& operator=(const CoTaskMemPtr&) = delete;

    T* get() const { return pointer_; }
    T** put() {
        CoTaskMemFree(pointer_);
        pointer_ = nullptr;
        return &pointer_;
    }

private:
    T* pointer_ = nullptr;
};

// CoInitialize(nullptr) for the lifetime of the object, with the matching
// CoUninitialize only when the initialisation succeeded (S_OK or S_FALSE).
class ComApartment {
public:
    ComApartment() : result_(CoInitialize(nullptr)) {}
    ~ComApartment() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    bool initialized() const { return SUCCEEDED(result_); }
    HRESULT result() const { return result_; }

private:
    HRESULT result_;
};
