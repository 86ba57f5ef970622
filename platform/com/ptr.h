// Owners for the two kinds of reference that cross component interfaces:
// ComPtr<T> holds one reference of an interface pointer, UniqueBstr owns a
// BSTR. Both are for the C++ code on either side of an interface; they are
// never passed through one.

#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "platform/com/types.h"

namespace mbus::com {

template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes a reference of its own (AddRef); the caller keeps its reference.
    explicit ComPtr(T* p) noexcept : p_(p) {
        if (p_ != nullptr) p_->AddRef();
    }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(const ComPtr& other) noexcept {
        ComPtr(other).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).Swap(*this);
        return *this;
    }

    // Adopts a reference the caller owned (no AddRef), e.g. an out parameter.
    static ComPtr Adopt(T* p) noexcept {
        ComPtr result;
        result.p_ = p;
        return result;
    }
    static ComPtr Adopt(void* p) noexcept { return Adopt(static_cast<T*>(p)); }
    // Gives the reference up to the caller (no Release).
    T* Detach() noexcept { return std::exchange(p_, nullptr); }
    void Reset() noexcept {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    void Swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

    T* Get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // QueryInterface for another interface of the same object.
    template <class Q>
    HRESULT As(REFIID iid, ComPtr<Q>* out) const noexcept {
        if (out == nullptr) return E_POINTER;
        out->Reset();
        if (p_ == nullptr) return E_POINTER;
        void* raw = nullptr;
        const HRESULT hr = p_->QueryInterface(iid, &raw);
        if (SUCCEEDED(hr)) *out = ComPtr<Q>::Adopt(raw);
        return hr;
    }

private:
    T* p_ = nullptr;
};

class UniqueBstr {
public:
    UniqueBstr() noexcept = default;
    // Adopts a BSTR the caller owned.
    explicit UniqueBstr(BSTR text) noexcept : s_(text) {}
    // A new BSTR holding the UTF-8 text (Get() is null when out of memory).
    static UniqueBstr FromUtf8(std::string_view utf8) noexcept { return UniqueBstr(BstrFromUtf8(utf8)); }
    UniqueBstr(UniqueBstr&& other) noexcept : s_(std::exchange(other.s_, nullptr)) {}
    UniqueBstr& operator=(UniqueBstr&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.s_, nullptr));
        return *this;
    }
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;
    ~UniqueBstr() { SysFreeString(s_); }

    BSTR Get() const noexcept { return s_; }
    BSTR Release() noexcept { return std::exchange(s_, nullptr); }
    void Reset(BSTR text = nullptr) noexcept { SysFreeString(std::exchange(s_, text)); }
    // For an out parameter: frees the current string and hands out the slot.
    BSTR* Out() noexcept {
        Reset();
        return &s_;
    }

    UINT Length() const noexcept { return SysStringLen(s_); }
    std::u16string_view View() const noexcept { return BstrView(s_); }
    std::string ToUtf8() const { return BstrToUtf8(s_); }

private:
    BSTR s_ = nullptr;
};

}  // namespace mbus::com
