// Owning wrappers for Windows resources.
//
// One move-only template; each resource type is one alias line. The traits
// decide which value means "empty" (NULL or INVALID_HANDLE_VALUE). Closing keeps
// the caller's GetLastError value, so a failure can be reported after the guard
// has run. On failure of an API that fills `put()`, the object stays empty.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <ole2.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <winsvc.h>

#include <cstdint>
#include <utility>

namespace nq {

// MinusOneIsEmpty: the type's "empty" value is INVALID_HANDLE_VALUE rather than NULL
// (NULL is never treated as a live value either).
template <typename T, auto Close, bool MinusOneIsEmpty = false>
class unique_any {
    static T Invalid() noexcept {
        if constexpr (MinusOneIsEmpty) return reinterpret_cast<T>(static_cast<intptr_t>(-1));
        else return T{};
    }

public:
    unique_any() noexcept = default;
    explicit unique_any(T value) noexcept : value_(value) {}
    ~unique_any() { reset(); }

    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    T get() const noexcept { return value_; }
    bool valid() const noexcept { return value_ != Invalid() && value_ != T{}; }
    explicit operator bool() const noexcept { return valid(); }

    // Frees the current value and returns the address for an out-parameter.
    T* put() noexcept {
        reset();
        return &value_;
    }
    [[nodiscard]] T release() noexcept { return std::exchange(value_, Invalid()); }

    void reset(T value = Invalid()) noexcept {
        if (valid()) {
            const DWORD err = ::GetLastError();
            Close(value_);
            ::SetLastError(err);
        }
        value_ = value;
    }

private:
    T value_ = Invalid();
};

namespace detail {
inline void CloseHandleFn(HANDLE h) { ::CloseHandle(h); }
inline void FindCloseFn(HANDLE h) { ::FindClose(h); }
inline void RegCloseKeyFn(HKEY h) { ::RegCloseKey(h); }
inline void FreeLibraryFn(HMODULE h) { ::FreeLibrary(h); }
inline void CloseServiceHandleFn(SC_HANDLE h) { ::CloseServiceHandle(h); }
inline void DeleteObjectFn(HGDIOBJ h) { ::DeleteObject(h); }
inline void DeleteDCFn(HDC h) { ::DeleteDC(h); }
inline void DestroyIconFn(HICON h) { ::DestroyIcon(h); }
inline void DestroyWindowFn(HWND h) { ::DestroyWindow(h); }
inline void DestroyMenuFn(HMENU h) { ::DestroyMenu(h); }
inline void LocalFreeFn(HLOCAL h) { ::LocalFree(h); }
inline void CoTaskMemFreeFn(void* p) { ::CoTaskMemFree(p); }
inline void UnmapViewFn(void* p) { ::UnmapViewOfFile(p); }
inline void RemoveFontMemFn(HANDLE h) { ::RemoveFontMemResourceEx(h); }
}  // namespace detail

// Kernel objects whose "empty" is NULL (processes, threads, events, mutexes, tokens, mappings).
using unique_handle = unique_any<HANDLE, &detail::CloseHandleFn>;
// Kernel objects whose "empty" is INVALID_HANDLE_VALUE (files, snapshots).
using unique_hfile = unique_any<HANDLE, &detail::CloseHandleFn, true>;
using unique_hfind = unique_any<HANDLE, &detail::FindCloseFn, true>;
using unique_hkey = unique_any<HKEY, &detail::RegCloseKeyFn>;
using unique_hmodule = unique_any<HMODULE, &detail::FreeLibraryFn>;
using unique_schandle = unique_any<SC_HANDLE, &detail::CloseServiceHandleFn>;
using unique_hgdiobj = unique_any<HGDIOBJ, &detail::DeleteObjectFn>;
using unique_hbitmap = unique_any<HBITMAP, &detail::DeleteObjectFn>;
using unique_hfont = unique_any<HFONT, &detail::DeleteObjectFn>;
using unique_hbrush = unique_any<HBRUSH, &detail::DeleteObjectFn>;
using unique_hpen = unique_any<HPEN, &detail::DeleteObjectFn>;
using unique_hrgn = unique_any<HRGN, &detail::DeleteObjectFn>;
using unique_hdc = unique_any<HDC, &detail::DeleteDCFn>;
using unique_hicon = unique_any<HICON, &detail::DestroyIconFn>;
using unique_hwnd = unique_any<HWND, &detail::DestroyWindowFn>;
using unique_hmenu = unique_any<HMENU, &detail::DestroyMenuFn>;
using unique_hlocal = unique_any<HLOCAL, &detail::LocalFreeFn>;
using unique_cotaskmem = unique_any<void*, &detail::CoTaskMemFreeFn>;
using unique_mapview = unique_any<void*, &detail::UnmapViewFn>;
// Fonts added from memory with AddFontMemResourceEx.
using unique_fontmem = unique_any<HANDLE, &detail::RemoveFontMemFn>;

// A DC obtained with GetDC: released with ReleaseDC on the same window.
class scoped_getdc {
public:
    explicit scoped_getdc(HWND hwnd) noexcept : hwnd_(hwnd), dc_(::GetDC(hwnd)) {}
    ~scoped_getdc() {
        if (dc_) ::ReleaseDC(hwnd_, dc_);
    }
    scoped_getdc(const scoped_getdc&) = delete;
    scoped_getdc& operator=(const scoped_getdc&) = delete;
    HDC get() const noexcept { return dc_; }

private:
    HWND hwnd_;
    HDC dc_;
};

// Puts the previously selected object back into the DC when the scope ends.
class scoped_select {
public:
    scoped_select(HDC dc, HGDIOBJ obj) noexcept : dc_(dc), old_(obj ? ::SelectObject(dc, obj) : nullptr) {}
    ~scoped_select() {
        if (old_) ::SelectObject(dc_, old_);
    }
    scoped_select(const scoped_select&) = delete;
    scoped_select& operator=(const scoped_select&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// Minimal owning COM pointer.
template <typename T>
class com_ptr {
public:
    com_ptr() noexcept = default;
    ~com_ptr() { reset(); }
    com_ptr(const com_ptr&) = delete;
    com_ptr& operator=(const com_ptr&) = delete;
    com_ptr(com_ptr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    com_ptr& operator=(com_ptr&& o) noexcept {
        if (this != &o) {
            reset();
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    T** put() noexcept {
        reset();
        return &p_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    void reset() noexcept {
        if (p_) {
            p_->Release();
            p_ = nullptr;
        }
    }
    template <typename U>
    HRESULT query(com_ptr<U>& out) const noexcept {
        return p_ ? p_->QueryInterface(__uuidof(U), out.put_void()) : E_POINTER;
    }

private:
    T* p_ = nullptr;
};

// Balances CoInitialize on the current thread.
class scoped_coinit {
public:
    scoped_coinit() noexcept : hr_(::CoInitialize(nullptr)) {}
    ~scoped_coinit() {
        if (SUCCEEDED(hr_)) ::CoUninitialize();
    }
    scoped_coinit(const scoped_coinit&) = delete;
    scoped_coinit& operator=(const scoped_coinit&) = delete;
    HRESULT result() const noexcept { return hr_; }

private:
    HRESULT hr_;
};

// Balances OleInitialize on the current thread.
class scoped_oleinit {
public:
    scoped_oleinit() noexcept : hr_(::OleInitialize(nullptr)) {}
    ~scoped_oleinit() {
        if (SUCCEEDED(hr_)) ::OleUninitialize();
    }
    scoped_oleinit(const scoped_oleinit&) = delete;
    scoped_oleinit& operator=(const scoped_oleinit&) = delete;
    HRESULT result() const noexcept { return hr_; }

private:
    HRESULT hr_;
};

}  // namespace nq
